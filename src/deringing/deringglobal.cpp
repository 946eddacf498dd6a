#include "deringing/deringglobal.h"

#include <cmath>
#include <string>
#include <vector>

#include "deringing/tvqline.h"

namespace tvq {

namespace {

using Kernel = void (*)(const float*, float*, float, std::int32_t, std::int32_t, float);

// |trunc(p - q)| as an integer held in a double (exact for every float difference
// that matters; no integer conversion, so huge values cannot overflow).
inline double TruncatedStep(float p, float q) {
  return std::fabs(std::trunc(static_cast<double>(p) - q));
}

// The four passes shared by the global routines. `budget(line, n, isRow, index)`
// gives the kernel's bound for the line about to be fitted.
template <typename Budget>
void RunGlobal(TImageF& image, std::int32_t iterations, std::int32_t initial, bool showProgress,
               Kernel kernel, Budget budget, Progress& progress) {
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
  float* const* img = reinterpret_cast<float* const*>(image.Rows());
  float* const* pa = reinterpret_cast<float* const*>(a.Rows());
  float* const* pb = reinterpret_cast<float* const*>(b.Rows());

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
    for (std::int32_t x = 0; x < w; ++x) in[x] = img[y][x];
    fit(w, true, y);
    for (std::int32_t x = 0; x < w; ++x) pa[y][x] = out[x];
  }
  for (std::int32_t x = 0; x < w; ++x) {  // pass 2: columns of A -> B
    if (!before(x, h)) return;
    for (std::int32_t y = 0; y < h; ++y) in[y] = pa[y][x];
    fit(h, false, x);
    for (std::int32_t y = 0; y < h; ++y) pb[y][x] = out[y];
  }
  for (std::int32_t x = 0; x < w; ++x) {  // pass 3: columns of the image -> A
    if (!before(x, w + h)) return;
    for (std::int32_t y = 0; y < h; ++y) in[y] = img[y][x];
    fit(h, false, x);
    for (std::int32_t y = 0; y < h; ++y) pa[y][x] = out[y];
  }
  for (std::int32_t y = 0; y < h; ++y) {  // pass 4: rows of A, mean with B -> image
    if (!before(y, 2 * w + h)) return;
    for (std::int32_t x = 0; x < w; ++x) in[x] = pa[y][x];
    fit(w, true, y);
    for (std::int32_t x = 0; x < w; ++x)
      img[y][x] = static_cast<float>((static_cast<double>(pb[y][x]) + out[x]) * 0.5);
  }
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
    sum = static_cast<float>(static_cast<double>(sum) + term);
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
