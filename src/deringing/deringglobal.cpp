#include "deringing/deringglobal.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "deringing/runningsum.h"
#include "deringing/tvqline.h"
#include "imaging/parallel.h"

namespace tvq {

namespace {

using Kernel = void (*)(const float*, float*, float, std::int32_t, std::int32_t, float);

// |trunc(p - q)| as an integer held in a double (exact for every float difference
// that matters; no integer conversion, so huge values cannot overflow).
inline double TruncatedStep(float p, float q) {
  return std::fabs(std::trunc(static_cast<double>(p) - q));
}

// The four passes shared by the global routines, as plain serial loops; with the
// plain kernels they are the reference. `budget(line, n, isRow, index)` gives the
// kernel's bound for the line about to be fitted.
template <typename Budget>
void RunGlobalSerial(TImageF& image, std::int32_t iterations, std::int32_t initial,
                     bool showProgress, Kernel kernel, Budget budget, Progress& progress) {
  const std::int32_t w = image.Width();
  const std::int32_t h = image.Height();
  TImageF a(w, h);
  TImageF b(w, h);
  const std::size_t lineLength = static_cast<std::size_t>(w) + static_cast<std::size_t>(h);
  // Zero-initialised, so in "Source" mode the first fit starts from the zero line;
  // the output line is never cleared afterwards and carries each fit into the next.
  std::vector<float> in(lineLength);
  std::vector<float> out(lineLength);
  const float start = StartModeOf(initial);
  const std::int32_t maximum = 2 * w + 2 * h;

  // Polls STOP and reports progress before line i of a pass; false to stop.
  auto before = [&](std::int32_t i, std::int32_t offset) {
    if (progress.StopRequested()) return false;
    if (showProgress && i % 10 == 0) progress.ShowProgress("Deringing", offset + i, maximum);
    return true;
  };
  auto fit = [&](std::int32_t n, bool isRow, std::int32_t index) {
    kernel(in.data(), out.data(), budget(in.data(), n, isRow, index), n, iterations, start);
  };

  for (std::int32_t y = 0; y < h; ++y) {  // pass 1: rows of the image -> A
    if (!before(y, 0)) return;
    for (std::int32_t x = 0; x < w; ++x) in[x] = image.Row(y)[x];
    fit(w, true, y);
    for (std::int32_t x = 0; x < w; ++x) a.Row(y)[x] = out[x];
  }
  for (std::int32_t x = 0; x < w; ++x) {  // pass 2: columns of A -> B
    if (!before(x, h)) return;
    for (std::int32_t y = 0; y < h; ++y) in[y] = a.Row(y)[x];
    fit(h, false, x);
    for (std::int32_t y = 0; y < h; ++y) b.Row(y)[x] = out[y];
  }
  for (std::int32_t x = 0; x < w; ++x) {  // pass 3: columns of the image -> A
    if (!before(x, w + h)) return;
    for (std::int32_t y = 0; y < h; ++y) in[y] = image.Row(y)[x];
    fit(h, false, x);
    for (std::int32_t y = 0; y < h; ++y) a.Row(y)[x] = out[y];
  }
  for (std::int32_t y = 0; y < h; ++y) {  // pass 4: rows of A, mean with B -> image
    if (!before(y, 2 * w + h)) return;
    for (std::int32_t x = 0; x < w; ++x) in[x] = a.Row(y)[x];
    fit(w, true, y);
    float* dst = image.Row(y);
    const float* pb = b.Row(y);
    for (std::int32_t x = 0; x < w; ++x)
      dst[x] = static_cast<float>((static_cast<double>(pb[x]) + out[x]) * 0.5);
  }
}

// The same four passes with "Zero init": the lines of a pass are independent, so
// each pass runs in bands of lines on all threads, the lines of a chunk side by side
// in SIMD lanes. Before a band, STOP is polled and progress shown for each of its
// lines as the plain loop does, so a stop leaves exactly the same rows written.
template <typename Budget>
void RunGlobalFast(TImageF& image, std::int32_t iterations, bool showProgress, bool refit,
                   Budget budget, Progress& progress) {
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

// The reference loops, or the fast passes where the lines of a pass are
// independent ("Zero init"); "Source" chains every fit into the next, so it stays
// one serial chain, fitted by the kernel with the shorter dependency chains.
template <typename Budget>
void RunGlobal(TImageF& image, std::int32_t iterations, std::int32_t initial, bool showProgress,
               Kernel kernel, Budget budget, Progress& progress) {
  const bool refit = kernel == TvqLineRefit;
  if (ReferenceKernels())
    RunGlobalSerial(image, iterations, initial, showProgress, kernel, budget, progress);
  else if (StartModeOf(initial) != kStartZero)
    RunGlobalSerial(image, iterations, initial, showProgress,
                    refit ? TvqLineChainedRefit : TvqLineChainedFixed, budget, progress);
  else
    RunGlobalFast(image, iterations, showProgress, refit, budget, progress);
}

void RunPlain(TImageF& image, std::int32_t iterations, std::int32_t initial, bool showProgress,
              float factor, Kernel kernel, Progress& progress, const char* routine) {
  RequirePixels(image, routine, "image");
  auto budget = [factor](const float* line, std::int32_t n, bool, std::int32_t) {
    return static_cast<float>(static_cast<double>(factor) * LineVariation(line, n));
  };
  RunGlobal(image, iterations, initial, showProgress, kernel, budget, progress);
}

void RunGuided(TImageF& image, const TImageF& reference, std::int32_t iterations,
               std::int32_t initial, bool showProgress, float factor, Kernel kernel,
               Progress& progress, const char* routine) {
  RequirePixels(image, routine, "image");
  RequirePixels(reference, routine, "reference");
  auto budget = [factor, &reference](const float*, std::int32_t, bool isRow, std::int32_t index) {
    return static_cast<float>(static_cast<double>(factor) *
                              GuidedLineVariation(reference, index, isRow));
  };
  RunGlobal(image, iterations, initial, showProgress, kernel, budget, progress);
}

}  // namespace

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

void RequirePixels(const TImageF& image, const char* routine, const char* what) {
  if (!image.HasImage())
    throw EZorException(ecNoImage, std::string(routine) + ": the " + what + " holds no pixels");
  if (image.Width() < 1 || image.Height() < 1)
    throw EZorException(ecBadSize,
                        std::string(routine) + ": the " + what + " must be at least 1 x 1 pixels");
}

float GuidedLineVariation(const TImageF& reference, std::int32_t index, bool isRow) {
  RequirePixels(reference, "GuidedLineVariation", "reference");
  const std::int32_t v = index / 2;
  const bool odd = index % 2 != 0;
  // R(j, line) along the line: a row of the reference for image rows, a column
  // for image columns; coordinates are clamped into the reference.
  auto at = [&](std::int32_t j, std::int32_t line) {
    return isRow ? *reference.Pixel(j, line) : *reference.Pixel(line, j);
  };
  const std::int32_t length = isRow ? reference.Width() : reference.Height();
  float sum = 0.0f;
  for (std::int32_t j = 1; j < length; ++j) {
    double term = TruncatedStep(at(j, v), at(j - 1, v));
    if (odd) term = std::floor((term + TruncatedStep(at(j, v + 1), at(j - 1, v + 1))) / 2.0);
    sum = Accumulate(sum, term);
  }
  return sum;
}

void DeringGlobal(TImageF& image, std::int32_t iterations, std::int32_t initial, bool showProgress,
                  float factor, Progress& progress) {
  RunPlain(image, iterations, initial, showProgress, factor, TvqLineRefit, progress,
           "DeringGlobal");
}

void DeringGlobalFixed(TImageF& image, std::int32_t iterations, std::int32_t initial, float factor,
                       Progress& progress) {
  RunPlain(image, iterations, initial, true, factor, TvqLineFixed, progress, "DeringGlobalFixed");
}

void DeringGlobalGuided(TImageF& image, const TImageF& reference, std::int32_t iterations,
                        bool showProgress, std::int32_t initial, float factor, Progress& progress) {
  RunGuided(image, reference, iterations, initial, showProgress, factor, TvqLineRefit, progress,
            "DeringGlobalGuided");
}

void DeringGlobalGuidedFixed(TImageF& image, const TImageF& reference, std::int32_t iterations,
                             std::int32_t initial, float factor, Progress& progress) {
  RunGuided(image, reference, iterations, initial, true, factor, TvqLineFixed, progress,
            "DeringGlobalGuidedFixed");
}

}  // namespace tvq
