#include "deringing/deringlocal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "deringing/deringglobal.h"
#include "deringing/tvqline.h"

namespace tvq {

namespace {

void RequireWindow(std::int32_t window, const char* routine) {
  if (window < 1)
    throw std::invalid_argument(std::string(routine) +
                                ": the window length must be at least 1, got " +
                                std::to_string(window));
}

void RequireBlock(std::int32_t side, std::int32_t step, const char* routine) {
  if (side < 1)
    throw std::invalid_argument(std::string(routine) + ": the block side must be at least 1, got " +
                                std::to_string(side));
  if (step < 1 || step > side)
    throw std::invalid_argument(std::string(routine) + ": the block step must be 1 .. " +
                                std::to_string(side) + " (the block side), got " +
                                std::to_string(step));
}

inline float Accumulate(float sum, double term) {
  return static_cast<float>(static_cast<double>(sum) + term);
}

// image(x, y) = acc(x, y) * 0.5 for every pixel.
void WriteHalf(TImageF& image, const TImageF& acc) {
  for (std::int32_t y = 0; y < image.Height(); ++y) {
    float* dst = image.Row(y);
    const float* src = acc.Row(y);
    for (std::int32_t x = 0; x < image.Width(); ++x)
      dst[x] = static_cast<float>(static_cast<double>(src[x]) * 0.5);
  }
}

// Block deringing shared by the plain and guided forms; `deringBlock(block, x0,
// y0)` derings the copied block in place.
template <typename DeringBlock>
void RunBlocks(TImageF& image, std::int32_t side, std::int32_t step, Progress& progress,
               DeringBlock deringBlock) {
  const std::int32_t w = image.Width();
  const std::int32_t h = image.Height();
  TImageF num(w, h);
  TImageF den(w, h);
  TImageF block(side, side);
  const std::vector<float> weight = TentWeights(side);
  // 64-bit: a step of 1 on the largest planes would overflow 32 bits (the
  // catalogue's steps of 2 and more cannot).
  const std::int64_t total =
      static_cast<std::int64_t>((w + step - 1) / step) * ((h + step - 1) / step);
  const std::int64_t shown = std::min<std::int64_t>(total, INT32_MAX);
  std::int64_t counter = 0;
  for (std::int32_t x0 = 0; x0 < w; x0 += step) {
    for (std::int32_t y0 = 0; y0 < h; y0 += step) {
      if (progress.StopRequested()) return;
      progress.ShowProgress("Deringing", static_cast<std::int32_t>(std::min(counter, shown)),
                            static_cast<std::int32_t>(shown));
      ++counter;
      for (std::int32_t b = 0; b < side; ++b) {
        float* row = block.Row(b);
        for (std::int32_t a = 0; a < side; ++a) row[a] = *image.Pixel(x0 + a, y0 + b);
      }
      deringBlock(block, x0, y0);
      for (std::int32_t a = 0; a < side; ++a) {
        for (std::int32_t b = 0; b < side; ++b) {
          const double wa = weight[a];
          const double wb = weight[b];
          float* n = num.Pixel(x0 + a, y0 + b);
          float* d = den.Pixel(x0 + a, y0 + b);
          *n = Accumulate(*n, static_cast<double>(*block.Pixel(a, b)) * wa * wb);
          *d = Accumulate(*d, wa * wb);
        }
      }
    }
  }
  for (std::int32_t y = 0; y < h; ++y) {
    float* dst = image.Row(y);
    const float* pn = num.Row(y);
    const float* pd = den.Row(y);
    for (std::int32_t x = 0; x < w; ++x)
      dst[x] = static_cast<float>(static_cast<double>(pn[x]) / pd[x]);
  }
}

}  // namespace

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

void DeringPixelWindows(TImageF& image, std::int32_t iterations, std::int32_t window,
                        std::int32_t initial, float factor, Progress& progress) {
  RequirePixels(image, "DeringPixelWindows", "image");
  RequireWindow(window, "DeringPixelWindows");
  const std::int32_t w = image.Width();
  const std::int32_t h = image.Height();
  const std::int32_t d = (window - 1) / 2;
  const float start = StartModeOf(initial);
  const double scale = factor;
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
      TvqLineRefit(in.data(), out.data(), T, window, iterations, start);
      *a = out[d];
      CopyColumnSegment(image, x, y - d, window, in.data());
      T = static_cast<float>(scale * ColumnSegmentVariation(image, x, y - d, window));
      TvqLineRefit(in.data(), out.data(), T, window, iterations, start);
      *a = Accumulate(*a, out[d]);
    }
  }
  WriteHalf(image, acc);
}

void DeringPixelWindowsGuided(TImageF& image, const TImageF& reference, std::int32_t iterations,
                              std::int32_t /*initial*/, std::int32_t window, float /*factor*/,
                              Progress& progress) {
  RequirePixels(image, "DeringPixelWindowsGuided", "image");
  RequirePixels(reference, "DeringPixelWindowsGuided", "reference");
  RequireWindow(window, "DeringPixelWindowsGuided");
  const std::int32_t rw = reference.Width();
  const std::int32_t rh = reference.Height();
  if (image.Width() != 2 * rw || image.Height() != 2 * rh)
    throw EZorException(ecBadSize,
                        "DeringPixelWindowsGuided: the image must measure exactly "
                        "twice the reference (" +
                            std::to_string(2 * rw) + " x " + std::to_string(2 * rh) + "), it is " +
                            std::to_string(image.Width()) + " x " + std::to_string(image.Height()));
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
    for (std::int32_t j = 0; j < rh; ++j) {
      const double r00 = rv(i, j), r10 = rv(i + 1, j), r01 = rv(i, j + 1), r11 = rv(i + 1, j + 1);
      const double c00 = cv(i, j), c10 = cv(i + 1, j), c01 = cv(i, j + 1), c11 = cv(i + 1, j + 1);
      fitPixel(2 * i, 2 * j, static_cast<float>(r00), static_cast<float>(c00));
      fitPixel(2 * i, 2 * j + 1, static_cast<float>(0.5 * (r00 + r01)),
               static_cast<float>(0.5 * (c00 + c01)));
      fitPixel(2 * i + 1, 2 * j, static_cast<float>(0.5 * (r00 + r10)),
               static_cast<float>(0.5 * (c00 + c10)));
      fitPixel(2 * i + 1, 2 * j + 1, static_cast<float>(0.25 * (r00 + r10 + r01 + r11)),
               static_cast<float>(0.25 * (c00 + c10 + c01 + c11)));
    }
  }
  WriteHalf(image, acc);
}

void DeringBlocks(TImageF& image, std::int32_t iterations, std::int32_t side, std::int32_t initial,
                  std::int32_t step, float factor, Progress& progress) {
  RequirePixels(image, "DeringBlocks", "image");
  RequireBlock(side, step, "DeringBlocks");
  RunBlocks(image, side, step, progress, [&](TImageF& block, std::int32_t, std::int32_t) {
    DeringGlobal(block, iterations, initial, false, factor, progress);
  });
}

void DeringBlocksGuided(TImageF& image, const TImageF& reference, std::int32_t iterations,
                        std::int32_t initial, std::int32_t step, std::int32_t side, float factor,
                        Progress& progress) {
  RequirePixels(image, "DeringBlocksGuided", "image");
  RequirePixels(reference, "DeringBlocksGuided", "reference");
  RequireBlock(side, step, "DeringBlocksGuided");
  const std::int32_t half = (side + 1) / 2;
  TImageF refBlock(half, half);
  RunBlocks(image, side, step, progress, [&](TImageF& block, std::int32_t x0, std::int32_t y0) {
    for (std::int32_t b = 0; b < half; ++b) {
      float* row = refBlock.Row(b);
      for (std::int32_t a = 0; a < half; ++a) row[a] = *reference.Pixel(x0 / 2 + a, y0 / 2 + b);
    }
    DeringGlobalGuided(block, refBlock, iterations, false, initial, factor, progress);
  });
}

}  // namespace tvq
