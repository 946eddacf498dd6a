#include "filters/filterbase_kernels.h"

#include <cmath>
#include <cstring>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "filters/filterbase_simd.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include "imaging/simd_exact.h"

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace filtersimd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using ::tvq::HWY_NAMESPACE::DemoteExact;

// The accumulator's float lanes are promoted to double, the product and the sum are
// formed there (two roundings, never a fused multiply-add; the product of two floats is
// exact in double anyway) and the sum is demoted back: the steps of the scalar expression.
void TapRunImpl(float* HWY_RESTRICT acc, const double* HWY_RESTRICT src, std::size_t n,
                float weight) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::size_t lanes = hn::Lanes(dd);
  const auto w = hn::Set(dd, static_cast<double>(weight));
  std::size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    const auto a = hn::PromoteTo(dd, hn::LoadU(df, acc + i));
    hn::StoreU(DemoteExact(df, hn::Add(a, hn::Mul(hn::LoadU(dd, src + i), w))), df, acc + i);
  }
  const double wd = weight;
  for (; i < n; ++i) acc[i] = static_cast<float>(static_cast<double>(acc[i]) + src[i] * wd);
}

void PromoteImpl(const float* HWY_RESTRICT src, double* HWY_RESTRICT dst, std::size_t n) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::size_t lanes = hn::Lanes(dd);
  std::size_t i = 0;
  for (; i + lanes <= n; i += lanes)
    hn::StoreU(hn::PromoteTo(dd, hn::LoadU(df, src + i)), dd, dst + i);
  for (; i < n; ++i) dst[i] = static_cast<double>(src[i]);
}

}  // namespace HWY_NAMESPACE
}  // namespace filtersimd
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq::filtersimd {

HWY_EXPORT(TapRunImpl);
HWY_EXPORT(PromoteImpl);

void TapRun(float* acc, const double* src, std::size_t n, float weight) {
  HWY_DYNAMIC_DISPATCH(TapRunImpl)(acc, src, n, weight);
}

void Promote(const float* src, double* dst, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(PromoteImpl)(src, dst, n);
}

}  // namespace tvq::filtersimd
#endif
