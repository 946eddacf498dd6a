// Row kernels of the fast solver paths (solver_rows.cpp, dispatched to the best SIMD
// target of the processor). Each performs, per output element, exactly the IEEE
// operations of the plain per-pixel loops in solver.cpp, in the same order, so their
// results equal those loops bit for bit on every target (including Highway's scalar
// one, which runs when SIMD is switched off).
#pragma once

#include <cstdint>

namespace tvq::rows {

// out[i] = s, where s starts at +0.0f and, for k = 0 .. taps - 1 in increasing order,
// s = float(double(s) + double(sources[k][i]) * double(weights[k])): the running sum of
// the separable passes, for n elements. With no taps every element is +0.
void WeightedSum(float* out, const float* const* sources, const float* weights, std::int32_t taps,
                 std::int64_t n);

// out[i] = float(sign(double(a[i]) - double(b[i]))): 1, -1, or +0 (equal or unordered).
void SignOfDifference(const float* a, const float* b, float* out, std::int64_t n);

// even[i] = source[2i], odd[i] = source[2i + 1] for i < n.
void Deinterleave(const float* source, float* even, float* odd, std::int64_t n);
// out[2i] = even[i], out[2i + 1] = odd[i] for i < n.
void Interleave(const float* even, const float* odd, float* out, std::int64_t n);

// One run of n pixels of the bilateral TV term and, optionally, the descent step.
// For pixel i, g = gradient[i]; then for every offset o in order
//   g = float(double(g) + (s * offsetWeights[o]) * w),
// with s = sign(c - a) + sign(c - b), c = centre[i], a = above[o][i], b = below[o][i]
// and w = double(weight[i]) (or `constantWeight` when weight is null). When estimate
// is non-null, out[i] = float(double(estimate[i]) - step * double(g)), otherwise out[i] = g.
// out may alias gradient or estimate.
struct BtvRun {
  const float* centre = nullptr;
  const float* const* above = nullptr;  // per offset: the samples at +(l, m)
  const float* const* below = nullptr;  // per offset: the samples at -(l, m)
  const double* offsetWeights = nullptr;
  std::int32_t offsets = 0;
  const float* weight = nullptr;
  double constantWeight = 0.0;
  const float* gradient = nullptr;
  const float* estimate = nullptr;
  double step = 0.0;
  float* out = nullptr;
};
void BtvDescend(const BtvRun& run, std::int64_t n);

}  // namespace tvq::rows
