#include "utility/utility_simd.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "utility/utility_simd.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace utilitysimd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Double to float exactly as static_cast rounds it. The one-lane portable DemoteTo
// saturates infinities and overflowing values to the largest float instead.
template <class DF, class V>
HWY_INLINE hn::Vec<DF> DemoteExact(DF df, V v) {
#if HWY_TARGET == HWY_SCALAR
  return hn::Set(df, static_cast<float>(hn::GetLane(v)));
#else
  return hn::DemoteTo(df, v);
#endif
}

void SquaredDifferencesImpl(const float* HWY_RESTRICT a, const float* HWY_RESTRICT b,
                            double* HWY_RESTRICT out, std::size_t n) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::size_t lanes = hn::Lanes(dd);
  std::size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    const auto difference =
        hn::Sub(hn::PromoteTo(dd, hn::LoadU(df, a + i)), hn::PromoteTo(dd, hn::LoadU(df, b + i)));
    const auto d = hn::PromoteTo(dd, DemoteExact(df, difference));
    hn::StoreU(hn::Mul(d, d), dd, out + i);
  }
  for (; i < n; ++i) {
    const float d = static_cast<float>(static_cast<double>(a[i]) - static_cast<double>(b[i]));
    out[i] = static_cast<double>(d) * static_cast<double>(d);
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace utilitysimd
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq::utilitysimd {

HWY_EXPORT(SquaredDifferencesImpl);

void SquaredDifferences(const float* a, const float* b, double* out, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(SquaredDifferencesImpl)(a, b, out, n);
}

}  // namespace tvq::utilitysimd
#endif
