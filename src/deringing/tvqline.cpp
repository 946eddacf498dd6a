#include "deringing/tvqline.h"

#include <array>
#include <cmath>
#include <vector>

#include "deringing/runningsum.h"
#include "deringing/tvqline_kernels.h"

namespace tvq {

namespace {

// Lines up to this length keep their residual on the stack.
constexpr std::int32_t kStackLine = 64;

template <bool kRefitOffset>
void TvqLine(const float* f, float* u, float T, std::int32_t n, std::int32_t iterations,
             float start) {
  if (n <= 0) return;
  TvqLineStart(f, u, T, n, start);
  float c = MeanOffset(f, u, n);
  std::array<float, kStackLine> stack;
  std::vector<float> heap;
  float* r = stack.data();
  if (n > kStackLine) {
    heap.resize(static_cast<std::size_t>(n));
    r = heap.data();
  }
  for (; iterations > 0; --iterations) {
    for (std::int32_t j = 0; j < n; ++j)
      r[j] = static_cast<float>(static_cast<double>(u[j]) + c - f[j]);
    std::int32_t k = BestStep(r, T, n);
    float sigma = 1.0f;
    if (k <= 0) {
      sigma = -1.0f;
      k = -k;
    }
    const float step = T * sigma;  // exact: a sign change
    // The step vertex: `step` on samples 0 .. k-1, 0 after.
    auto s = [&](std::int32_t j) { return j < k ? step : 0.0f; };

    double keep = 0.0;
    if (!BlendWeight(f, u, c, n, k, step, keep)) break;
    const double take = 1.0 - keep;
    for (std::int32_t j = 0; j < n; ++j) u[j] = static_cast<float>(keep * u[j] + take * s(j));
    if constexpr (kRefitOffset) c = MeanOffset(f, u, n);
  }
  for (std::int32_t j = 0; j < n; ++j) u[j] = static_cast<float>(static_cast<double>(u[j]) + c);
}

}  // namespace

void TvqLineStart(const float* f, float* u, float T, std::int32_t n, float start) {
  if (start >= 0.0f) {
    for (std::int32_t j = 0; j < n; ++j)
      u[j] = static_cast<float>(static_cast<double>(start) * f[j]);
    return;
  }
  const float variation = LineVariation(u, n);
  if (variation > T) {
    // Sample 0 keeps its value; only the differences need to shrink.
    const double ratio = static_cast<double>(T) / static_cast<double>(variation);
    for (std::int32_t j = 1; j < n; ++j) u[j] = static_cast<float>(u[j] * ratio);
  }
}

float LineSum(const float* v, std::int32_t n) {
  float sum = 0.0f;
  for (std::int32_t i = 0; i < n; ++i) sum = Accumulate(sum, v[i]);
  return sum;
}

float MeanOffset(const float* f, const float* u, std::int32_t n) {
  if (n <= 0) return 0.0f;
  return OffsetFromSums(LineSum(f, n), LineSum(u, n), n);
}

std::int32_t BestStep(const float* r, float T, std::int32_t n) {
  if (n <= 1) return 0;
  const double t = T;
  std::int32_t best = 0;
  float bestValue = 0.0f;
  float value = 0.0f;
  for (std::int32_t k = 1; k < n; ++k) {
    value = Accumulate(value, t * r[k - 1]);
    if (best == 0 || value < bestValue) {
      best = k;
      bestValue = value;
    }
  }
  value = 0.0f;
  for (std::int32_t k = 1; k < n; ++k) {
    value = Accumulate(value, -t * r[k - 1]);
    if (value < bestValue) {
      best = -k;
      bestValue = value;
    }
  }
  return best;
}

float LineVariation(const float* line, std::int32_t n) {
  float sum = 0.0f;
  for (std::int32_t i = 1; i < n; ++i)
    sum = Accumulate(sum, std::fabs(static_cast<double>(line[i]) - line[i - 1]));
  return sum;
}

void TvqLineRefit(const float* f, float* u, float T, std::int32_t n, std::int32_t iterations,
                  float start) {
  TvqLine<true>(f, u, T, n, iterations, start);
}

void TvqLineFixed(const float* f, float* u, float T, std::int32_t n, std::int32_t iterations,
                  float start) {
  TvqLine<false>(f, u, T, n, iterations, start);
}

}  // namespace tvq
