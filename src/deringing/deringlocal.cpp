#include "deringing/deringlocal.h"

#include <cmath>
#include <cstdint>
#include <string>

#include "deringing/deringglobal_kernels.h"
#include "deringing/deringlocal_kernels.h"
#include "deringing/runningsum.h"
#include "deringing/tvqline.h"
#include "imaging/errors.h"

namespace tvq {

namespace {

// Block deringing shared by the plain and guided forms, as plain serial loops (the
// reference); `deringBlock(block, x0, y0)` derings the copied block in place.
template <typename DeringBlock>
void RunBlocksPlain(TImageF& image, std::int32_t side, std::int32_t step, Progress& progress,
                    DeringBlock deringBlock) {
  const std::int32_t w = image.Width();
  const std::int32_t h = image.Height();
  BlockSums sums(w, h, side);
  TImageF block(side, side);
  const std::int32_t shown = ShownCount(BlockCount(w, h, step));
  std::int64_t counter = 0;
  for (std::int32_t x0 = 0; x0 < w; x0 += step) {
    for (std::int32_t y0 = 0; y0 < h; y0 += step) {
      if (progress.StopRequested()) return;
      progress.ShowProgress("Deringing", ShownCount(counter), shown);
      ++counter;
      for (std::int32_t b = 0; b < side; ++b) CopyRowSegment(image, x0, y0 + b, side, block.Row(b));
      deringBlock(block, x0, y0);
      sums.Add(x0, y0, [&](std::int32_t a, std::int32_t b) { return *block.Pixel(a, b); });
    }
  }
  sums.WriteQuotient(image);
}

}  // namespace

void RequireWindow(std::int32_t window, const char* routine) {
  if (window < 1)
    throw SettingError(std::string(routine) + ": the window length must be at least 1, got " +
                       std::to_string(window));
}

void RequireBlock(std::int32_t side, std::int32_t step, const char* routine) {
  if (side < 1)
    throw SettingError(std::string(routine) + ": the block side must be at least 1, got " +
                       std::to_string(side));
  if (step < 1 || step > side)
    throw SettingError(std::string(routine) + ": the block step must be 1 .. " +
                       std::to_string(side) + " (the block side), got " + std::to_string(step));
}

// image(x, y) = acc(x, y) * 0.5 for every pixel.
void WriteHalf(TImageF& image, const TImageF& acc) {
  WritePixels(image, [&](std::int32_t y) {
    return [src = acc.Row(y)](std::int32_t x) {
      return static_cast<float>(static_cast<double>(src[x]) * 0.5);
    };
  });
}

void CopyRowSegment(const TImageF& image, std::int32_t x0, std::int32_t y, std::int32_t n,
                    float* dst) {
  for (std::int32_t k = 0; k < n; ++k) dst[k] = *image.Pixel(x0 + k, y);
}

void CopyColumnSegment(const TImageF& image, std::int32_t x, std::int32_t y0, std::int32_t n,
                       float* dst) {
  for (std::int32_t k = 0; k < n; ++k) dst[k] = *image.Pixel(x, y0 + k);
}

float RowSegmentVariation(const TImageF& image, std::int32_t x0, std::int32_t y, std::int32_t n) {
  float sum = 0.0f;
  for (std::int32_t k = 1; k < n; ++k)
    sum = Accumulate(
        sum, std::fabs(static_cast<double>(*image.Pixel(x0 + k, y)) - *image.Pixel(x0 + k - 1, y)));
  return sum;
}

float ColumnSegmentVariation(const TImageF& image, std::int32_t x, std::int32_t y0,
                             std::int32_t n) {
  float sum = 0.0f;
  for (std::int32_t k = 1; k < n; ++k)
    sum = Accumulate(
        sum, std::fabs(static_cast<double>(*image.Pixel(x, y0 + k)) - *image.Pixel(x, y0 + k - 1)));
  return sum;
}

std::vector<float> TentWeights(std::int32_t side) {
  if (side < 1) return {};
  const std::int32_t half = (side + 1) / 2;
  std::vector<float> w(static_cast<std::size_t>(side));
  for (std::int32_t k = 0; k < half; ++k)
    w[k] = static_cast<float>(static_cast<double>(k + 1) / half);
  for (std::int32_t k = half; k < side; ++k) w[k] = w[side - 1 - k];
  return w;
}

void PixelWindowsSerial(TImageF& image, const DeringShape& shape, const DeringFit& settings,
                        LineKernel fit, Progress& progress) {
  const std::int32_t w = image.Width();
  const std::int32_t h = image.Height();
  const std::int32_t window = shape.size;
  const std::int32_t iterations = settings.iterations;
  const std::int32_t d = (window - 1) / 2;
  const float start = StartModeOf(settings.initial);
  const double scale = settings.factor;
  TImageF acc(w, h);
  const std::size_t length = static_cast<std::size_t>(w) + h + window;
  // Zero-initialised: in "Source" mode the first fit starts from the zero line.
  std::vector<float> in(length);
  std::vector<float> out(length);
  for (std::int32_t x = 0; x < w; ++x) {
    if (progress.StopRequested()) return;
    progress.ShowProgress("Deringing", x, w);
    for (std::int32_t y = 0; y < h; ++y) {
      float* a = acc.Row(y) + x;
      CopyRowSegment(image, x - d, y, window, in.data());
      float T = static_cast<float>(scale * RowSegmentVariation(image, x - d, y, window));
      fit(in.data(), out.data(), T, window, iterations, start);
      *a = out[d];
      CopyColumnSegment(image, x, y - d, window, in.data());
      T = static_cast<float>(scale * ColumnSegmentVariation(image, x, y - d, window));
      fit(in.data(), out.data(), T, window, iterations, start);
      *a = Accumulate(*a, out[d]);
    }
  }
  WriteHalf(image, acc);
}

void PixelWindowsPlain(TImageF& image, const DeringShape& shape, const DeringFit& fit,
                       Progress& progress) {
  PixelWindowsSerial(image, shape, fit, TvqLineRefit, progress);
}

void PixelWindowsGuidedPlain(TImageF& image, const TImageF& reference, const DeringShape& shape,
                             const DeringFit& fit, Progress& progress) {
  const std::int32_t rw = reference.Width();
  const std::int32_t rh = reference.Height();
  const std::int32_t window = shape.size;
  const std::int32_t iterations = fit.iterations;
  const std::int32_t d = (window - 1) / 2;
  const std::int32_t c = (window + 1) / 2;  // reference window length
  const std::int32_t e = (c - 1) / 2;       // reference half window
  TImageF acc(image.Width(), image.Height());
  const std::size_t length = static_cast<std::size_t>(image.Width()) + image.Height() + window;
  std::vector<float> in(length);
  std::vector<float> out(length);

  auto rv = [&](std::int32_t a, std::int32_t b) -> double {
    return RowSegmentVariation(reference, a - e, b, c);
  };
  auto cv = [&](std::int32_t a, std::int32_t b) -> double {
    return ColumnSegmentVariation(reference, a, b - e, c);
  };
  auto fitPixel = [&](std::int32_t x, std::int32_t y, float th, float tv) {
    float* a = acc.Row(y) + x;
    CopyRowSegment(image, x - d, y, window, in.data());
    TvqLineRefit(in.data(), out.data(), th, window, iterations, kStartZero);
    *a = out[d];
    CopyColumnSegment(image, x, y - d, window, in.data());
    TvqLineRefit(in.data(), out.data(), tv, window, iterations, kStartZero);
    *a = Accumulate(*a, out[d]);
  };

  for (std::int32_t i = 0; i < rw; ++i) {
    if (progress.StopRequested()) return;
    if (i % 2 == 0) progress.ShowProgress("Deringing", i, rw);
    for (std::int32_t j = 0; j < rh; ++j) GuidedPixelBudgets(i, j, rv, cv, fitPixel);
  }
  WriteHalf(image, acc);
}

void BlocksPlain(TImageF& image, const DeringShape& shape, const DeringFit& fit,
                 Progress& progress) {
  const GlobalRun run{fit, false, true, {fit.factor, nullptr}};
  RunBlocksPlain(
      image, shape.size, shape.step, progress,
      [&](TImageF& block, std::int32_t, std::int32_t) { RunGlobalPlain(block, run, progress); });
}

void BlocksGuidedPlain(TImageF& image, const TImageF& reference, const DeringShape& shape,
                       const DeringFit& fit, Progress& progress) {
  const std::int32_t side = shape.size;
  const std::int32_t half = (side + 1) / 2;
  TImageF refBlock(half, half);
  const GlobalRun run{fit, false, true, {fit.factor, &refBlock}};
  RunBlocksPlain(image, side, shape.step, progress,
                 [&](TImageF& block, std::int32_t x0, std::int32_t y0) {
                   for (std::int32_t b = 0; b < half; ++b)
                     CopyRowSegment(reference, x0 / 2, y0 / 2 + b, half, refBlock.Row(b));
                   RunGlobalPlain(block, run, progress);
                 });
}

}  // namespace tvq
