// The global routines on all threads and SIMD lanes, and the entry points that choose
// them or the plain loops (deringglobal.cpp).
#include <algorithm>
#include <vector>

#include "deringing/deringglobal.h"
#include "deringing/deringglobal_kernels.h"
#include "deringing/tvqline_kernels.h"
#include "imaging/dispatch.h"
#include "imaging/parallel.h"

namespace tvq {

namespace {

// The same four passes with "Zero init": the lines of a pass are independent, so
// each pass runs in bands of lines on all threads, the lines of a chunk side by side
// in SIMD lanes. Before a band, STOP is polled and progress shown for each of its
// lines as the plain loop does, so a stop leaves exactly the same rows written.
void RunGlobalBands(TImageF& image, const GlobalRun& run, Progress& progress) {
  const std::int32_t iterations = run.fit.iterations;
  const bool showProgress = run.showProgress;
  const bool refit = run.refit;
  const LineBudget& budget = run.budget;
  const std::int32_t w = image.Width();
  const std::int32_t h = image.Height();
  TImageF a(w, h);
  TImageF b(w, h);
  const std::int32_t maximum = 2 * w + 2 * h;
  const std::int32_t width = TvqLinesBatchWidth();
  // The reference loop's poll and progress report before line i of a pass.
  auto before = [&](std::int32_t i, std::int32_t offset) {
    if (progress.StopRequested()) return false;
    if (showProgress && i % 10 == 0) progress.ShowProgress("Deringing", offset + i, maximum);
    return true;
  };
  // `lines` lines of n samples, read by get(line, index, dst) and written by
  // put(line, index, fit); index is the row or column.
  auto pass = [&](std::int32_t lines, std::int32_t n, bool isRow, std::int32_t offset, auto get,
                  auto put) {
    const std::int64_t band = BandItems(static_cast<std::int64_t>(n) * iterations, width);
    return RunPolledBands(
        lines, band, width,
        [&](std::int64_t i) { return before(static_cast<std::int32_t>(i), offset); },
        [&](std::int64_t first, std::int64_t last) {
          const std::size_t count = static_cast<std::size_t>(last - first);
          const std::size_t samples = static_cast<std::size_t>(n);
          std::vector<float> in(count * samples);
          std::vector<float> out(count * samples);
          std::vector<float> budgets(count);
          std::vector<double> scratch;
          for (std::size_t i = 0; i < count; ++i) {
            const auto index = static_cast<std::int32_t>(first + static_cast<std::int64_t>(i));
            float* line = in.data() + i * samples;
            get(index, line);
            budgets[i] = budget(line, n, isRow, index);
          }
          TvqLinesBatch(in.data(), out.data(), budgets.data(), n, static_cast<std::int64_t>(count),
                        iterations, kStartZero, refit, scratch);
          for (std::size_t i = 0; i < count; ++i)
            put(static_cast<std::int32_t>(first + static_cast<std::int64_t>(i)),
                out.data() + i * samples);
        });
  };
  auto row = [](const TImageF& plane) {
    return [&plane](std::int32_t y, float* dst) {
      std::copy(plane.Row(y), plane.Row(y) + plane.Width(), dst);
    };
  };
  auto column = [](const TImageF& plane) {
    return [&plane](std::int32_t x, float* dst) {
      for (std::int32_t y = 0; y < plane.Height(); ++y) dst[y] = plane.Row(y)[x];
    };
  };
  auto toRow = [](TImageF& plane) {
    return [&plane](std::int32_t y, const float* src) {
      std::copy(src, src + plane.Width(), plane.Row(y));
    };
  };
  auto toColumn = [](TImageF& plane) {
    return [&plane](std::int32_t x, const float* src) {
      for (std::int32_t y = 0; y < plane.Height(); ++y) plane.Row(y)[x] = src[y];
    };
  };
  if (!pass(h, w, true, 0, row(image), toRow(a))) return;
  if (!pass(w, h, false, h, column(a), toColumn(b))) return;
  if (!pass(w, h, false, w + h, column(image), toColumn(a))) return;
  pass(h, w, true, 2 * w + h, row(a), [&](std::int32_t y, const float* src) {
    float* dst = image.Row(y);
    const float* pb = b.Row(y);
    for (std::int32_t x = 0; x < w; ++x)
      dst[x] = static_cast<float>((static_cast<double>(pb[x]) + src[x]) * 0.5);
  });
}

constexpr KernelPair<void(TImageF&, const GlobalRun&, Progress&)> kRunGlobal{RunGlobalPlain,
                                                                             RunGlobalFast};

}  // namespace

void RunGlobalFast(TImageF& image, const GlobalRun& run, Progress& progress) {
  if (StartModeOf(run.fit.initial) != kStartZero)
    RunGlobalSerial(image, run, run.refit ? TvqLineChainedRefit : TvqLineChainedFixed, progress);
  else
    RunGlobalBands(image, run, progress);
}

bool RunPolledBands(std::int64_t count, std::int64_t band, std::int64_t unit,
                    const std::function<bool(std::int64_t)>& poll,
                    const std::function<void(std::int64_t, std::int64_t)>& body,
                    const std::function<void(std::int64_t, std::int64_t)>& after) {
  unit = std::max<std::int64_t>(1, unit);
  band = std::max<std::int64_t>(1, band);
  for (std::int64_t first = 0; first < count; first += band) {
    const std::int64_t end = std::min(count, first + band);
    std::int64_t last = first;
    while (last < end && poll(last)) ++last;
    ParallelFor((last - first + unit - 1) / unit, 1, [&](std::int64_t lo, std::int64_t hi) {
      body(first + lo * unit, std::min(last, first + hi * unit));
    });
    if (after) after(first, last);
    if (last < end) return false;
  }
  return true;
}

void DeringGlobal(TImageF& image, const DeringFit& fit, bool showProgress, Progress& progress) {
  RequirePixels(image, "DeringGlobal", "image");
  kRunGlobal(image, {fit, showProgress, true, {fit.factor, nullptr}}, progress);
}

void DeringGlobalFixed(TImageF& image, const DeringFit& fit, Progress& progress) {
  RequirePixels(image, "DeringGlobalFixed", "image");
  kRunGlobal(image, {fit, true, false, {fit.factor, nullptr}}, progress);
}

void DeringGlobalGuided(TImageF& image, const TImageF& reference, const DeringFit& fit,
                        bool showProgress, Progress& progress) {
  RequirePixels(image, "DeringGlobalGuided", "image");
  RequirePixels(reference, "DeringGlobalGuided", "reference");
  kRunGlobal(image, {fit, showProgress, true, {fit.factor, &reference}}, progress);
}

void DeringGlobalGuidedFixed(TImageF& image, const TImageF& reference, const DeringFit& fit,
                             Progress& progress) {
  RequirePixels(image, "DeringGlobalGuidedFixed", "image");
  RequirePixels(reference, "DeringGlobalGuidedFixed", "reference");
  kRunGlobal(image, {fit, true, false, {fit.factor, &reference}}, progress);
}

}  // namespace tvq
