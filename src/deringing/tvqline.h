// The one-dimensional total-variation line fit ("TVQ" kernel).
//
// A line f of n samples is replaced by u + c, where c is a constant offset and u
// lies in the convex hull of the step vertices s = (σT, ..., σT, 0, ..., 0)
// (k leading samples, 1 <= k <= n-1, σ = ±1): the lines whose last sample is 0
// and whose total variation is at most T. The fit is a conditional-gradient
// (Frank-Wolfe) iteration with exact line search on the squared error.
//
// Numerics: all sums are float running sums in index order; γ = B / A is
// evaluated in double and stored as a float before it is clamped into [0, 1].
//
// Order: every sum of one fit (the two candidate scans of BestStep, the squared
// error and inner product, the offset's sums, the variation) is a single-precision
// running sum, so each fit is one serial chain and its sums keep index order.
// Different lines are independent: the fast routines fit many lines side by side in
// SIMD lanes (tvqline_kernels.h), each lane doing exactly the scalar sequence of
// operations.
#pragma once

#include <cstdint>

namespace tvq {

// The signature of the one-line kernels: (f, u, T, n, iterations, start).
using LineKernel = void (*)(const float*, float*, float, std::int32_t, std::int32_t, float);

// Start modes of the kernel: a value >= 0 starts from that multiple of f; a
// negative value starts from what u already holds (scaled into the budget).
inline constexpr float kStartZero = 0.0f;
inline constexpr float kStartFromOutput = -1.0f;

// The start mode of an "Initial:" index: 0 -> kStartZero, anything else ->
// kStartFromOutput.
inline float StartModeOf(std::int32_t initial) {
  return initial == 0 ? kStartZero : kStartFromOutput;
}

// Sum of v[0 .. n-1] as a float running sum; 0 for n <= 0.
float LineSum(const float* v, std::int32_t n);

// The offset from the two sums of MeanOffset, rounded to float.
inline float OffsetFromSums(float sumF, float sumU, std::int32_t n) {
  return static_cast<float>((static_cast<double>(sumF) - sumU) / n);
}

// (sum of f[i] - sum of u[i]) / n, both sums accumulated separately; 0 for n <= 0.
float MeanOffset(const float* f, const float* u, std::int32_t n);

// The step vertex with the smallest inner product with the residual r: +k for the
// vertex that is +T on samples 0 .. k-1, -k for -T. Candidates are examined as
// +1 .. +(n-1), then -1 .. -(n-1); a later one wins only when strictly smaller.
// 0 when n <= 1.
std::int32_t BestStep(const float* r, float T, std::int32_t n);

// Sum over i = 1 .. n-1 of |line[i] - line[i-1]|; 0 when n <= 1.
float LineVariation(const float* line, std::int32_t n);

// The start step of a fit: u = start * f for start >= 0; otherwise u keeps its
// first sample and its differences are scaled by T / variation when its variation
// exceeds T.
void TvqLineStart(const float* f, float* u, float T, std::int32_t n, float start);

// Fits f (n samples) with budget T and writes the fit into u[0 .. n-1]; the offset
// is refitted after every step. `start` as described above. f and u must not
// overlap. n <= 0 does nothing; iterations <= 0 only applies the start and offset.
void TvqLineRefit(const float* f, float* u, float T, std::int32_t n, std::int32_t iterations,
                  float start);

// The same with the offset fitted once, before the first step.
void TvqLineFixed(const float* f, float* u, float T, std::int32_t n, std::int32_t iterations,
                  float start);

}  // namespace tvq
