#include <cstddef>

#include "interpolation/upscale_kernels.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "interpolation/upscale_simd.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include "imaging/simd_exact.h"

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace upscalesimd {
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
}  // namespace upscalesimd
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq::upscalesimd {

HWY_EXPORT(SixTapRowImpl);
HWY_EXPORT(BilinearRowsImpl);

void SixTapRow(const float* const* rows, const float* taps, float* out, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(SixTapRowImpl)(rows, taps, out, n);
}

void BilinearRows(const float* s0, const float* s1, float* d0, float* d1, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(BilinearRowsImpl)(s0, s1, d0, d1, n);
}

}  // namespace tvq::upscalesimd
#endif
