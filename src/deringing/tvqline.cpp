#include "deringing/tvqline.h"

#include <array>
#include <cmath>
#include <vector>

#include "deringing/runningsum.h"

namespace tvq {

namespace {

// Lines up to this length keep their residual on the stack.
constexpr std::int32_t kStackLine = 64;

// The weight gamma of the current line u against the step vertex (`step` on samples
// 0 .. k-1, 0 after): b / a of the running sums a = |u - s|^2 and b = (f - s - c).(u - s),
// clamped into [0, 1]. False when a is 0, which ends the fit.
inline bool BlendWeight(const float* f, const float* u, float c, std::int32_t n, std::int32_t k,
                        float step, double& keep) {
  float a = 0.0f;
  float b = 0.0f;
  for (std::int32_t j = 0; j < n; ++j) {
    const double s = j < k ? step : 0.0f;
    const double us = static_cast<double>(u[j]) - s;
    a = Accumulate(a, us * us);
    b = Accumulate(b, (static_cast<double>(f[j]) - s - c) * us);
  }
  if (a == 0.0f) return false;
  float gamma = static_cast<float>(static_cast<double>(b) / static_cast<double>(a));
  if (gamma > 1.0f) gamma = 1.0f;
  if (gamma < 0.0f) gamma = 0.0f;
  keep = gamma;
  return true;
}

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

// The one-line kernel with shorter dependency chains and the same bits: both
// candidate scans run in one loop (the second scan's first strict minimum, taken
// when below the first scan's best, is the vertex the scalar scan picks), the sum of
// f is taken once (it never changes), and the sum of u adds floats in float (a
// double sum of two floats rounded to float is the float sum: 53 >= 2 * 24 + 2).
// BM_DeringMethod "Global, modified" with "Source", 256 x 256: 757 ms CPU with the
// plain kernel, 490 ms with this one.
template <bool kRefitOffset>
void TvqLineChained(const float* f, float* u, float T, std::int32_t n, std::int32_t iterations,
                    float start) {
  if (n <= 0) return;
  TvqLineStart(f, u, T, n, start);
  const float sumF = LineSum(f, n);
  float c = OffsetFromSums(sumF, LineSum(u, n), n);
  const double t = T;
  for (; iterations > 0; --iterations) {
    std::int32_t best = 0;
    std::int32_t best2 = 0;
    float bestValue = 0.0f;
    float min2 = 0.0f;
    float value1 = 0.0f;
    float value2 = 0.0f;
    for (std::int32_t k = 1; k < n; ++k) {
      const float r = static_cast<float>(static_cast<double>(u[k - 1]) + c - f[k - 1]);
      value1 = Accumulate(value1, t * r);
      value2 = Accumulate(value2, -t * r);
      if (k == 1 || value1 < bestValue) {
        best = k;
        bestValue = value1;
      }
      if (k == 1 || value2 < min2) {
        best2 = k;
        min2 = value2;
      }
    }
    std::int32_t k = n > 1 && min2 < bestValue ? -best2 : best;
    float sigma = 1.0f;
    if (k <= 0) {
      sigma = -1.0f;
      k = -k;
    }
    const float step = T * sigma;
    auto s = [&](std::int32_t j) { return j < k ? step : 0.0f; };
    double keep = 0.0;
    if (!BlendWeight(f, u, c, n, k, step, keep)) break;
    const double take = 1.0 - keep;
    float sumU = 0.0f;
    for (std::int32_t j = 0; j < n; ++j) {
      u[j] = static_cast<float>(keep * u[j] + take * s(j));
      sumU += u[j];
    }
    if constexpr (kRefitOffset) c = OffsetFromSums(sumF, sumU, n);
  }
  for (std::int32_t j = 0; j < n; ++j) u[j] = static_cast<float>(static_cast<double>(u[j]) + c);
}

}  // namespace

void TvqLineChainedRefit(const float* f, float* u, float T, std::int32_t n, std::int32_t iterations,
                         float start) {
  TvqLineChained<true>(f, u, T, n, iterations, start);
}

void TvqLineChainedFixed(const float* f, float* u, float T, std::int32_t n, std::int32_t iterations,
                         float start) {
  TvqLineChained<false>(f, u, T, n, iterations, start);
}

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
