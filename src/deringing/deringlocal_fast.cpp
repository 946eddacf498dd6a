// The local routines on all threads and SIMD lanes, and the entry points that choose
// them or the plain loops (deringlocal.cpp).
#include <algorithm>
#include <cstdint>
#include <vector>

#include "deringing/deringglobal.h"
#include "deringing/deringglobal_kernels.h"
#include "deringing/deringlocal.h"
#include "deringing/deringlocal_kernels.h"
#include "deringing/tvqline_kernels.h"
#include "imaging/dispatch.h"
#include "imaging/parallel.h"

namespace tvq {

namespace {

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
void PixelWindowsBands(TImageF& image, const DeringShape& shape, const DeringFit& fit,
                       Progress& progress) {
  const std::int32_t window = shape.size;
  const std::int32_t iterations = fit.iterations;
  const std::int32_t w = image.Width();
  const std::int32_t h = image.Height();
  const std::int32_t d = (window - 1) / 2;
  const double scale = fit.factor;
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

using Windows = void(TImageF&, const DeringShape&, const DeringFit&, Progress&);
using GuidedWindows = void(TImageF&, const TImageF&, const DeringShape&, const DeringFit&,
                           Progress&);
constexpr KernelPair<Windows> kPixelWindows{PixelWindowsPlain, PixelWindowsFast};
constexpr KernelPair<GuidedWindows> kPixelWindowsGuided{PixelWindowsGuidedPlain,
                                                        PixelWindowsGuidedFast};
constexpr KernelPair<Windows> kBlocks{BlocksPlain, BlocksFast};
constexpr KernelPair<GuidedWindows> kBlocksGuided{BlocksGuidedPlain, BlocksGuidedFast};

}  // namespace

// "Source" chains every fit into the next: one serial chain, the plain loop with the
// kernel of shorter dependency chains.
void PixelWindowsFast(TImageF& image, const DeringShape& shape, const DeringFit& fit,
                      Progress& progress) {
  if (StartModeOf(fit.initial) == kStartZero) return PixelWindowsBands(image, shape, fit, progress);
  PixelWindowsSerial(image, shape, fit, TvqLineChainedRefit, progress);
}

// Guided per-pixel windows on all threads: bands of reference columns, each
// column's eight fits per reference pixel side by side in SIMD lanes.
void PixelWindowsGuidedFast(TImageF& image, const TImageF& reference, const DeringShape& shape,
                            const DeringFit& fit, Progress& progress) {
  const std::int32_t window = shape.size;
  const std::int32_t iterations = fit.iterations;
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

void BlocksFast(TImageF& image, const DeringShape& shape, const DeringFit& fit,
                Progress& progress) {
  RunBlocksFast(
      image,
      {shape.size, shape.step, fit.iterations, StartModeOf(fit.initial), fit.factor, nullptr},
      progress);
}

void BlocksGuidedFast(TImageF& image, const TImageF& reference, const DeringShape& shape,
                      const DeringFit& fit, Progress& progress) {
  RunBlocksFast(
      image,
      {shape.size, shape.step, fit.iterations, StartModeOf(fit.initial), fit.factor, &reference},
      progress);
}

void DeringPixelWindows(TImageF& image, const DeringShape& shape, const DeringFit& fit,
                        Progress& progress) {
  RequirePixels(image, "DeringPixelWindows", "image");
  RequireWindow(shape.size, "DeringPixelWindows");
  kPixelWindows(image, shape, fit, progress);
}

void DeringPixelWindowsGuided(TImageF& image, const TImageF& reference, const DeringShape& shape,
                              const DeringFit& fit, Progress& progress) {
  RequirePixels(image, "DeringPixelWindowsGuided", "image");
  RequirePixels(reference, "DeringPixelWindowsGuided", "reference");
  RequireWindow(shape.size, "DeringPixelWindowsGuided");
  CheckTwiceSize(reference, image, "DeringPixelWindowsGuided");
  kPixelWindowsGuided(image, reference, shape, fit, progress);
}

void DeringBlocks(TImageF& image, const DeringShape& shape, const DeringFit& fit,
                  Progress& progress) {
  RequirePixels(image, "DeringBlocks", "image");
  RequireBlock(shape.size, shape.step, "DeringBlocks");
  kBlocks(image, shape, fit, progress);
}

void DeringBlocksGuided(TImageF& image, const TImageF& reference, const DeringShape& shape,
                        const DeringFit& fit, Progress& progress) {
  RequirePixels(image, "DeringBlocksGuided", "image");
  RequirePixels(reference, "DeringBlocksGuided", "reference");
  RequireBlock(shape.size, shape.step, "DeringBlocksGuided");
  kBlocksGuided(image, reference, shape, fit, progress);
}

}  // namespace tvq
