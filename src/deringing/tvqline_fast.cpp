// The one-line kernel with shorter dependency chains (tvqline_kernels.h), for the
// "Source" chains of the fast routines, which must fit one line after another.
#include <cstdint>

#include "deringing/runningsum.h"
#include "deringing/tvqline_kernels.h"

namespace tvq {

namespace {

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

}  // namespace tvq
