#include "deringing/deringglobal.h"

#include <cmath>
#include <string>
#include <vector>

#include "deringing/deringglobal_kernels.h"
#include "deringing/runningsum.h"
#include "deringing/tvqline.h"

namespace tvq {

namespace {

// |trunc(p - q)| as an integer held in a double (exact for every float difference
// that matters; no integer conversion, so huge values cannot overflow).
inline double TruncatedStep(float p, float q) {
  return std::fabs(std::trunc(static_cast<double>(p) - q));
}

}  // namespace

void RequirePixels(const TImageF& image, const char* routine, const char* what) {
  if (!image.HasImage())
    throw EZorException(ecNoImage, std::string(routine) + ": the " + what + " holds no pixels");
  if (image.Width() < 1 || image.Height() < 1)
    throw EZorException(ecBadSize,
                        std::string(routine) + ": the " + what + " must be at least 1 x 1 pixels");
}

void RequireDoubleSize(const TImageF& enlarged, const TImageF& reference, const char* routine) {
  RequirePixels(enlarged, routine, "enlarged image");
  RequirePixels(reference, routine, "reference");
  CheckTwiceSize(reference, enlarged, routine);
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

void RunGlobalSerial(TImageF& image, const GlobalRun& run, LineKernel kernel, Progress& progress) {
  const std::int32_t w = image.Width();
  const std::int32_t h = image.Height();
  TImageF a(w, h);
  TImageF b(w, h);
  const std::size_t lineLength = static_cast<std::size_t>(w) + static_cast<std::size_t>(h);
  // Zero-initialised, so in "Source" mode the first fit starts from the zero line;
  // the output line is never cleared afterwards and carries each fit into the next.
  std::vector<float> in(lineLength);
  std::vector<float> out(lineLength);
  const float start = StartModeOf(run.fit.initial);
  const std::int32_t iterations = run.fit.iterations;
  const bool showProgress = run.showProgress;
  const LineBudget& budget = run.budget;
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

void RunGlobalPlain(TImageF& image, const GlobalRun& run, Progress& progress) {
  RunGlobalSerial(image, run, run.refit ? TvqLineRefit : TvqLineFixed, progress);
}

}  // namespace tvq
