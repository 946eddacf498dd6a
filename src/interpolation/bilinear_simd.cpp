#include <cstddef>

#include "interpolation/bilinear_kernels.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "interpolation/bilinear_simd.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include "imaging/simd_exact.h"

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace bilinearsimd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using ::tvq::HWY_NAMESPACE::DemoteExact;

void BilinearRowsImpl(const float* s0, const float* s1, float* d0, float* d1, std::size_t n) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::size_t lanes = hn::Lanes(dd);
  const auto half = hn::Set(dd, 0.5);
  const auto quarter = hn::Set(dd, 0.25);
  std::size_t x = 0;
  for (; x + lanes <= n; x += lanes) {
    const auto f00 = hn::LoadU(df, s0 + x);
    const auto p00 = hn::PromoteTo(dd, f00);
    const auto p10 = hn::PromoteTo(dd, hn::LoadU(df, s0 + x + 1));
    const auto p01 = hn::PromoteTo(dd, hn::LoadU(df, s1 + x));
    const auto p11 = hn::PromoteTo(dd, hn::LoadU(df, s1 + x + 1));
    const auto top = hn::Add(p10, p00);
    hn::StoreInterleaved2(f00, DemoteExact(hn::Mul(top, half)), df, d0 + 2 * x);
    hn::StoreInterleaved2(DemoteExact(hn::Mul(hn::Add(p01, p00), half)),
                          DemoteExact(hn::Mul(hn::Add(p11, hn::Add(p01, top)), quarter)), df,
                          d1 + 2 * x);
  }
  for (; x < n; ++x) {
    const double p00 = s0[x], p10 = s0[x + 1], p01 = s1[x], p11 = s1[x + 1];
    d0[2 * x] = s0[x];
    d0[2 * x + 1] = static_cast<float>((p10 + p00) * 0.5);
    d1[2 * x] = static_cast<float>((p01 + p00) * 0.5);
    d1[2 * x + 1] = static_cast<float>((p11 + (p01 + (p10 + p00))) * 0.25);
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace bilinearsimd
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq::bilinearsimd {

HWY_EXPORT(BilinearRowsImpl);

void BilinearRows(const float* s0, const float* s1, float* d0, float* d1, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(BilinearRowsImpl)(s0, s1, d0, d1, n);
}

}  // namespace tvq::bilinearsimd
#endif
