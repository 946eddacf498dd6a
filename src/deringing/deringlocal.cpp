#include "deringing/deringlocal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "deringing/deringglobal.h"
#include "deringing/runningsum.h"
#include "deringing/tvqline.h"
#include "imaging/errors.h"
#include "imaging/parallel.h"

namespace tvq {

namespace {

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

// image(x, y) = pixel(x) with pixel = row(y), for every pixel (rows on all threads
// unless the reference loops are selected; every pixel is computed on its own).
template <typename Row>
void WritePixels(TImageF& image, Row row) {
  auto rows = [&](std::int64_t first, std::int64_t last) {
    for (auto y = static_cast<std::int32_t>(first); y < last; ++y) {
      float* dst = image.Row(y);
      const auto pixel = row(y);
      for (std::int32_t x = 0; x < image.Width(); ++x) dst[x] = pixel(x);
    }
  };
  if (ReferenceKernels())
    rows(0, image.Height());
  else
    ParallelFor(image.Height(), 16, rows);
}

// image(x, y) = acc(x, y) * 0.5 for every pixel.
void WriteHalf(TImageF& image, const TImageF& acc) {
  WritePixels(image, [&](std::int32_t y) {
    return [src = acc.Row(y)](std::int32_t x) {
      return static_cast<float>(static_cast<double>(src[x]) * 0.5);
    };
  });
}

// The tent-weighted sums of the deringed blocks: a block at (x0, y0) adds
// sample(a, b) * wa * wb into num and wa * wb into den at pixel (x0 + a, y0 + b)
// (coordinates clamped into the image), and the image becomes num / den.
class BlockSums {
 public:
  BlockSums(std::int32_t w, std::int32_t h, std::int32_t side)
      : num_(w, h), den_(w, h), weight_(TentWeights(side)) {}

  template <typename Sample>
  void Add(std::int32_t x0, std::int32_t y0, Sample sample) {
    const auto side = static_cast<std::int32_t>(weight_.size());
    for (std::int32_t a = 0; a < side; ++a) {
      for (std::int32_t b = 0; b < side; ++b) {
        const double wa = weight_[a];
        const double wb = weight_[b];
        float* n = num_.Pixel(x0 + a, y0 + b);
        float* d = den_.Pixel(x0 + a, y0 + b);
        *n = Accumulate(*n, static_cast<double>(sample(a, b)) * wa * wb);
        *d = Accumulate(*d, wa * wb);
      }
    }
  }

  void WriteQuotient(TImageF& image) const {
    WritePixels(image, [&](std::int32_t y) {
      return [pn = num_.Row(y), pd = den_.Row(y)](std::int32_t x) {
        return static_cast<float>(static_cast<double>(pn[x]) / pd[x]);
      };
    });
  }

 private:
  TImageF num_;
  TImageF den_;
  std::vector<float> weight_;
};

// Blocks of a step over the image: the count (64-bit: a step of 1 on the largest
// planes would overflow 32 bits; the catalogue's steps of 2 and more cannot) and the
// count shown by the progress bar.
std::int64_t BlockCount(std::int32_t w, std::int32_t h, std::int32_t step) {
  return static_cast<std::int64_t>((w + step - 1) / step) * ((h + step - 1) / step);
}

std::int32_t ShownCount(std::int64_t count) {
  return static_cast<std::int32_t>(std::min<std::int64_t>(count, INT32_MAX));
}

// Block deringing shared by the plain and guided forms, as plain serial loops (the
// reference); `deringBlock(block, x0, y0)` derings the copied block in place.
template <typename DeringBlock>
void RunBlocksReference(TImageF& image, std::int32_t side, std::int32_t step, Progress& progress,
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

// The block side, placement and budgets of a block routine. Without a reference the
// budgets are factor times each line's own variation (DeringGlobal); with one, they
// come from the reference square under the block (DeringGlobalGuided).
struct BlockSetup {
  std::int32_t side = 0;
  std::int32_t step = 0;
  std::int32_t iterations = 0;
  float start = kStartZero;
  float factor = 0.0f;
  const TImageF* reference = nullptr;
};

// Derings the blocks [first, last) (index = column of blocks * rows of blocks + row)
// into result (side * side floats per block, rows of the block one after another),
// exactly as DeringGlobal or DeringGlobalGuided derings each copied block. The
// blocks run side by side: every step of the four passes fits one line of each
// block in one batched call, so a "Source" chain stays within its block.
void DeringBlockRange(const TImageF& image, const BlockSetup& setup, std::int64_t first,
                      std::int64_t last, float* result) {
  const std::int32_t side = setup.side;
  const std::size_t S = static_cast<std::size_t>(side);
  const std::size_t area = S * S;
  const std::size_t count = static_cast<std::size_t>(last - first);
  const std::int64_t rows = (image.Height() + setup.step - 1) / setup.step;
  std::vector<float> pixels(count * area), a(count * area), b(count * area);
  // Guided budgets of each block: rows 0 .. side-1, then columns.
  std::vector<float> guided(setup.reference ? count * 2 * S : 0);
  const std::int32_t half = (side + 1) / 2;
  TImageF refBlock(setup.reference ? half : 0, setup.reference ? half : 0);
  for (std::size_t k = 0; k < count; ++k) {
    const std::int64_t index = first + static_cast<std::int64_t>(k);
    const auto x0 = static_cast<std::int32_t>(index / rows * setup.step);
    const auto y0 = static_cast<std::int32_t>(index % rows * setup.step);
    for (std::int32_t y = 0; y < side; ++y)
      CopyRowSegment(image, x0, y0 + y, side, &pixels[k * area + static_cast<std::size_t>(y) * S]);
    if (!setup.reference) continue;
    for (std::int32_t y = 0; y < half; ++y)
      CopyRowSegment(*setup.reference, x0 / 2, y0 / 2 + y, half, refBlock.Row(y));
    for (std::int32_t i = 0; i < side; ++i) {
      guided[k * 2 * S + static_cast<std::size_t>(i)] = static_cast<float>(
          static_cast<double>(setup.factor) * GuidedLineVariation(refBlock, i, true));
      guided[k * 2 * S + S + static_cast<std::size_t>(i)] = static_cast<float>(
          static_cast<double>(setup.factor) * GuidedLineVariation(refBlock, i, false));
    }
  }
  // Line `index` of every block (a row when isRow) from the plane `from` is fitted, and
  // the fit of block k handed to put(k, fit). The fits of a block carry over from one
  // call to the next.
  std::vector<float> in(count * S), out(count * S, 0.0f), budgets(count);
  std::vector<double> scratch;
  // Sample j of line `index` of block k in a plane: along the row or down the column.
  auto sample = [&](std::vector<float>& plane, std::size_t k, std::int32_t index, bool isRow,
                    std::int32_t j) -> float& {
    const auto i = static_cast<std::size_t>(index);
    const auto n = static_cast<std::size_t>(j);
    return plane[k * area + (isRow ? i * S + n : n * S + i)];
  };
  auto fit = [&](std::vector<float>& from, std::int32_t index, bool isRow, auto put) {
    for (std::size_t k = 0; k < count; ++k) {
      float* line = in.data() + k * S;
      for (std::int32_t j = 0; j < side; ++j) line[j] = sample(from, k, index, isRow, j);
      budgets[k] =
          setup.reference
              ? guided[k * 2 * S + (isRow ? 0 : S) + static_cast<std::size_t>(index)]
              : static_cast<float>(static_cast<double>(setup.factor) * LineVariation(line, side));
    }
    TvqLinesBatch(in.data(), out.data(), budgets.data(), side, static_cast<std::int64_t>(count),
                  setup.iterations, setup.start, true, scratch);
    for (std::size_t k = 0; k < count; ++k) put(k, out.data() + k * S);
  };
  // Every line of `from` (rows when isRow) fitted into the same line of `to`.
  auto pass = [&](std::vector<float>& from, bool isRow, std::vector<float>& to) {
    for (std::int32_t index = 0; index < side; ++index)
      fit(from, index, isRow, [&](std::size_t k, const float* u) {
        for (std::int32_t j = 0; j < side; ++j) sample(to, k, index, isRow, j) = u[j];
      });
  };
  pass(pixels, true, a);                   // pass 1: rows of the block -> a
  pass(a, false, b);                       // pass 2: columns of a -> b
  pass(pixels, false, a);                  // pass 3: columns of the block -> a
  for (std::int32_t y = 0; y < side; ++y)  // pass 4: rows of a, mean with b -> result
    fit(a, y, true, [&](std::size_t k, const float* u) {
      float* dst = result + k * area + static_cast<std::size_t>(y) * S;
      for (std::int32_t x = 0; x < side; ++x)
        dst[x] = static_cast<float>((static_cast<double>(sample(b, k, y, true, x)) + u[x]) * 0.5);
    });
}

// The blocks on all threads: bands of blocks in the plain loop's order (x0 outer,
// y0 inner) are deringed in parallel, then added into num and den in exactly that
// order on the calling thread, so every pixel sums its terms as the plain loop
// does. Before a band, STOP is polled and progress shown for each block as the
// plain loop does (once for the block, then before each of its 4 * side lines).
void RunBlocksFast(TImageF& image, const BlockSetup& setup, Progress& progress) {
  const std::int32_t w = image.Width();
  const std::int32_t h = image.Height();
  const std::int32_t side = setup.side;
  const std::int32_t step = setup.step;
  const std::size_t area = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
  BlockSums sums(w, h, side);
  const std::int64_t rows = (h + step - 1) / step;
  const std::int64_t total = BlockCount(w, h, step);
  const std::int32_t shown = ShownCount(total);
  const std::int64_t width = TvqLinesBatchWidth();
  const std::int64_t band =
      BandItems(4 * static_cast<std::int64_t>(area) * setup.iterations, width);
  std::vector<float> results(static_cast<std::size_t>(std::min(band, total)) * area);
  auto poll = [&](std::int64_t index) {
    if (progress.StopRequested()) return false;
    progress.ShowProgress("Deringing", ShownCount(index), shown);
    for (std::int32_t line = 0; line < 4 * side; ++line)
      if (progress.StopRequested()) {
        // The plain loop cuts the block short and stops at the next block's poll.
        if (index + 1 < total) progress.StopRequested();
        return false;
      }
    return true;
  };
  auto body = [&](std::int64_t first, std::int64_t last) {
    const std::int64_t offset = first % band;
    DeringBlockRange(image, setup, first, last,
                     results.data() + static_cast<std::size_t>(offset) * area);
  };
  auto add = [&](std::int64_t first, std::int64_t last) {
    for (std::int64_t index = first; index < last; ++index) {
      const auto x0 = static_cast<std::int32_t>(index / rows * step);
      const auto y0 = static_cast<std::int32_t>(index % rows * step);
      const float* block = results.data() + static_cast<std::size_t>(index - first) * area;
      sums.Add(x0, y0, [&](std::int32_t a, std::int32_t b) { return block[b * side + a]; });
    }
  };
  if (RunPolledBands(total, band, width, poll, body, add)) sums.WriteQuotient(image);
}

// Fits the lines in[i * n ..] with budgets T[i] (refitting kernel, zero start) and
// returns fit sample `centre` of each line in centres[i].
void FitCentres(const std::vector<float>& in, const std::vector<float>& budgets, std::int32_t n,
                std::int32_t iterations, std::int32_t centre, std::vector<float>& out,
                std::vector<double>& scratch) {
  out.resize(in.size());
  TvqLinesBatch(in.data(), out.data(), budgets.data(), n, static_cast<std::int64_t>(budgets.size()),
                iterations, kStartZero, true, scratch);
  for (std::size_t i = 0; i < budgets.size(); ++i)
    out[i] = out[i * static_cast<std::size_t>(n) + static_cast<std::size_t>(centre)];
  out.resize(budgets.size());
}

// Per-pixel windows with "Zero init" on all threads: every pixel's two fits are
// independent, so bands of pixel columns run in parallel with each chunk's windows
// side by side in SIMD lanes; the accumulator is written as the plain loop writes it.
// STOP is polled and progress shown before a band for each of its columns.
void PixelWindowsFast(TImageF& image, std::int32_t iterations, std::int32_t window, float factor,
                      Progress& progress) {
  const std::int32_t w = image.Width();
  const std::int32_t h = image.Height();
  const std::int32_t d = (window - 1) / 2;
  const double scale = factor;
  TImageF acc(w, h);
  const std::int64_t band = BandItems(2 * static_cast<std::int64_t>(h) * window * iterations, 1);
  auto poll = [&](std::int64_t x) {
    if (progress.StopRequested()) return false;
    progress.ShowProgress("Deringing", static_cast<std::int32_t>(x), w);
    return true;
  };
  auto body = [&](std::int64_t first, std::int64_t last) {
    const std::size_t n = static_cast<std::size_t>(window);
    std::vector<float> in, budgets, centres;
    std::vector<double> scratch;
    for (auto x = static_cast<std::int32_t>(first); x < last; ++x)
      for (std::int32_t y = 0; y < h; ++y) {
        in.resize(in.size() + 2 * n);
        float* row = in.data() + in.size() - 2 * n;
        CopyRowSegment(image, x - d, y, window, row);
        budgets.push_back(static_cast<float>(scale * LineVariation(row, window)));
        CopyColumnSegment(image, x, y - d, window, row + n);
        budgets.push_back(static_cast<float>(scale * LineVariation(row + n, window)));
      }
    FitCentres(in, budgets, window, iterations, d, centres, scratch);
    std::size_t i = 0;
    for (auto x = static_cast<std::int32_t>(first); x < last; ++x)
      for (std::int32_t y = 0; y < h; ++y, i += 2)
        acc.Row(y)[x] = Accumulate(centres[i], centres[i + 1]);
  };
  if (RunPolledBands(w, band, 1, poll, body)) WriteHalf(image, acc);
}

// The budgets of the four image pixels of reference pixel (i, j) of the guided windows:
// the reference windows' variations at (i, j) for the even pixel, interpolated with the
// right, lower and diagonal neighbours for the odd ones. Calls fit(x, y, th, tv) for
// (2i, 2j), (2i, 2j + 1), (2i + 1, 2j), (2i + 1, 2j + 1) in that order.
template <typename RowVariation, typename ColumnVariation, typename Fit>
void GuidedPixelBudgets(std::int32_t i, std::int32_t j, RowVariation rv, ColumnVariation cv,
                        Fit fit) {
  const double r00 = rv(i, j), r10 = rv(i + 1, j), r01 = rv(i, j + 1), r11 = rv(i + 1, j + 1);
  const double c00 = cv(i, j), c10 = cv(i + 1, j), c01 = cv(i, j + 1), c11 = cv(i + 1, j + 1);
  fit(2 * i, 2 * j, static_cast<float>(r00), static_cast<float>(c00));
  fit(2 * i, 2 * j + 1, static_cast<float>(0.5 * (r00 + r01)),
      static_cast<float>(0.5 * (c00 + c01)));
  fit(2 * i + 1, 2 * j, static_cast<float>(0.5 * (r00 + r10)),
      static_cast<float>(0.5 * (c00 + c10)));
  fit(2 * i + 1, 2 * j + 1, static_cast<float>(0.25 * (r00 + r10 + r01 + r11)),
      static_cast<float>(0.25 * (c00 + c10 + c01 + c11)));
}

// Guided per-pixel windows on all threads: bands of reference columns, each
// column's eight fits per reference pixel side by side in SIMD lanes.
void PixelWindowsGuidedFast(TImageF& image, const TImageF& reference, std::int32_t iterations,
                            std::int32_t window, Progress& progress) {
  const std::int32_t rw = reference.Width();
  const std::int32_t rh = reference.Height();
  const std::int32_t d = (window - 1) / 2;
  const std::int32_t c = (window + 1) / 2;  // reference window length
  const std::int32_t e = (c - 1) / 2;       // reference half window
  TImageF acc(image.Width(), image.Height());
  auto rv = [&](std::int32_t a, std::int32_t b) -> double {
    return RowSegmentVariation(reference, a - e, b, c);
  };
  auto cv = [&](std::int32_t a, std::int32_t b) -> double {
    return ColumnSegmentVariation(reference, a, b - e, c);
  };
  const std::int64_t band = BandItems(8 * static_cast<std::int64_t>(rh) * window * iterations, 1);
  auto poll = [&](std::int64_t i) {
    if (progress.StopRequested()) return false;
    if (i % 2 == 0) progress.ShowProgress("Deringing", static_cast<std::int32_t>(i), rw);
    return true;
  };
  auto body = [&](std::int64_t first, std::int64_t last) {
    const std::size_t n = static_cast<std::size_t>(window);
    std::vector<float> in, budgets, centres;
    std::vector<double> scratch;
    auto add = [&](std::int32_t x, std::int32_t y, float th, float tv) {
      in.resize(in.size() + 2 * n);
      float* row = in.data() + in.size() - 2 * n;
      CopyRowSegment(image, x - d, y, window, row);
      CopyColumnSegment(image, x, y - d, window, row + n);
      budgets.push_back(th);
      budgets.push_back(tv);
    };
    for (auto i = static_cast<std::int32_t>(first); i < last; ++i)
      for (std::int32_t j = 0; j < rh; ++j) GuidedPixelBudgets(i, j, rv, cv, add);
    FitCentres(in, budgets, window, iterations, d, centres, scratch);
    std::size_t k = 0;
    for (auto i = static_cast<std::int32_t>(first); i < last; ++i)
      for (std::int32_t j = 0; j < rh; ++j)
        for (std::int32_t p = 0; p < 4; ++p, k += 2)
          acc.Row(2 * j + p % 2)[2 * i + p / 2] = Accumulate(centres[k], centres[k + 1]);
  };
  if (RunPolledBands(rw, band, 1, poll, body)) WriteHalf(image, acc);
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
  // "Source" chains every fit into the next: one serial chain, the plain loop with
  // the kernel of shorter dependency chains unless the reference is selected.
  if (!ReferenceKernels() && StartModeOf(initial) == kStartZero)
    return PixelWindowsFast(image, iterations, window, factor, progress);
  const auto fit = ReferenceKernels() ? TvqLineRefit : TvqLineChainedRefit;
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

// initial and factor stay unused: these budgets come from the reference as they are and
// every fit starts from the zero line, yet the routine takes every guided routine's settings.
void DeringPixelWindowsGuided(TImageF& image, const TImageF& reference, std::int32_t iterations,
                              std::int32_t /*initial*/, std::int32_t window, float /*factor*/,
                              Progress& progress) {
  RequirePixels(image, "DeringPixelWindowsGuided", "image");
  RequirePixels(reference, "DeringPixelWindowsGuided", "reference");
  RequireWindow(window, "DeringPixelWindowsGuided");
  CheckTwiceSize(reference, image, "DeringPixelWindowsGuided");
  const std::int32_t rw = reference.Width();
  const std::int32_t rh = reference.Height();
  if (!ReferenceKernels())
    return PixelWindowsGuidedFast(image, reference, iterations, window, progress);
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

void DeringBlocks(TImageF& image, std::int32_t iterations, std::int32_t side, std::int32_t initial,
                  std::int32_t step, float factor, Progress& progress) {
  RequirePixels(image, "DeringBlocks", "image");
  RequireBlock(side, step, "DeringBlocks");
  if (!ReferenceKernels())
    return RunBlocksFast(image, {side, step, iterations, StartModeOf(initial), factor, nullptr},
                         progress);
  RunBlocksReference(image, side, step, progress, [&](TImageF& block, std::int32_t, std::int32_t) {
    DeringGlobal(block, iterations, initial, false, factor, progress);
  });
}

void DeringBlocksGuided(TImageF& image, const TImageF& reference, std::int32_t iterations,
                        std::int32_t initial, std::int32_t step, std::int32_t side, float factor,
                        Progress& progress) {
  RequirePixels(image, "DeringBlocksGuided", "image");
  RequirePixels(reference, "DeringBlocksGuided", "reference");
  RequireBlock(side, step, "DeringBlocksGuided");
  if (!ReferenceKernels())
    return RunBlocksFast(image, {side, step, iterations, StartModeOf(initial), factor, &reference},
                         progress);
  const std::int32_t half = (side + 1) / 2;
  TImageF refBlock(half, half);
  RunBlocksReference(
      image, side, step, progress, [&](TImageF& block, std::int32_t x0, std::int32_t y0) {
        for (std::int32_t b = 0; b < half; ++b)
          CopyRowSegment(reference, x0 / 2, y0 / 2 + b, half, refBlock.Row(b));
        DeringGlobalGuided(block, refBlock, iterations, false, initial, factor, progress);
      });
}

}  // namespace tvq
