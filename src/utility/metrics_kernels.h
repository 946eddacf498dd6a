// What the plain loops (metrics.cpp) and the fast kernels (metrics_fast.cpp,
// metrics_simd.cpp) of the quality measures share: the SSIM window and constants, the
// per-pixel SSIM terms, and the fast SSIM. Internal to src/utility.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "utility/metrics.h"

namespace tvq::metrics {

inline constexpr std::int32_t kWindow = 11;  // taps of the SSIM window
inline constexpr double kC1 = (0.01 * 255.0) * (0.01 * 255.0);
inline constexpr double kC2 = (0.03 * 255.0) * (0.03 * 255.0);

// The normalised taps exp(-(k - 5)^2 / (2 * 1.5^2)) / their sum, k = 0..10.
inline std::array<double, kWindow> SsimTaps() {
  std::array<double, kWindow> taps{};
  double sum = 0.0;
  for (std::int32_t k = 0; k < kWindow; ++k) {
    const double d = static_cast<double>(k - kWindow / 2);
    taps[static_cast<std::size_t>(k)] = std::exp(-0.5 / (1.5 * 1.5) * (d * d));
    sum += taps[static_cast<std::size_t>(k)];
  }
  for (double& t : taps) t /= sum;
  return taps;
}

// The SSIM index and its contrast-structure term at one pixel from the five filtered
// moments E[a], E[b], E[a^2], E[b^2], E[ab].
struct SsimTerms {
  double ssim;
  double cs;
};

inline SsimTerms SsimAt(double ma, double mb, double maa, double mbb, double mab) {
  const double a1 = 2.0 * ma * mb + kC1;
  const double a2 = 2.0 * (mab - ma * mb) + kC2;
  const double b1 = ma * ma + mb * mb + kC1;
  const double b2 = (maa - ma * ma) + (mbb - mb * mb) + kC2;
  return {(a1 * a2) / (b1 * b2), a2 / b2};
}

// Per output row y of the valid region: the sums (in x order) of the SSIM map and of
// its contrast-structure term.
struct SsimRowSums {
  double* ssim;
  double* cs;
};

// The row sums of the SSIM map of two planes of one size (at least 11 x 11): the plain
// loops and the fast kernels. Both filter every moment along rows (taps in order, from
// 0.0: s = s + w_k * v), then along columns the same way, in double.
void SsimRowsPlain(const LumaPlane& a, const LumaPlane& b, SsimRowSums out);
void SsimRowsFast(const LumaPlane& a, const LumaPlane& b, SsimRowSums out);
// The one of the two that ReferenceKernels() selects (metrics_fast.cpp).
void SsimRows(const LumaPlane& a, const LumaPlane& b, SsimRowSums out);

}  // namespace tvq::metrics

namespace tvq::metricssimd {

// acc[i] = acc[i] + w * src[i] for i < n, in double (a product, then a sum: no fused
// multiply-add), in vector lanes.
void AddScaled(double* acc, const double* src, double w, std::size_t n);

}  // namespace tvq::metricssimd
