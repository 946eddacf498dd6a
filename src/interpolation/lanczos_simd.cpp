#include <cstddef>

#include "interpolation/lanczos_kernels.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "interpolation/lanczos_simd.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include "imaging/simd_exact.h"

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace lanczossimd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using ::tvq::HWY_NAMESPACE::DemoteExact;

void SixTapRowImpl(const float* const* rows, const float* taps, float* out, std::size_t n) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::size_t lanes = hn::Lanes(dd);
  std::size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    auto sum = hn::Zero(dd);
    for (int t = 0; t < 6; ++t)
      sum = hn::Add(sum, hn::Mul(hn::Set(dd, static_cast<double>(taps[t])),
                                 hn::PromoteTo(dd, hn::LoadU(df, rows[t] + i))));
    hn::StoreU(DemoteExact(sum), df, out + i);
  }
  for (; i < n; ++i) {
    double sum = 0.0;
    for (int t = 0; t < 6; ++t)
      sum = sum + static_cast<double>(taps[t]) * static_cast<double>(rows[t][i]);
    out[i] = static_cast<float>(sum);
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace lanczossimd
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq::lanczossimd {

HWY_EXPORT(SixTapRowImpl);

void SixTapRow(const float* const* rows, const float* taps, float* out, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(SixTapRowImpl)(rows, taps, out, n);
}

}  // namespace tvq::lanczossimd
#endif
