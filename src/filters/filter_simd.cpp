#include "filters/filter_simd.h"

#include <cmath>
#include <cstring>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "filters/filter_simd.cpp"
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

void MagnitudeImpl(float* HWY_RESTRICT a, const float* HWY_RESTRICT b, std::size_t n) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::size_t lanes = hn::Lanes(dd);
  std::size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    const auto x = hn::PromoteTo(dd, hn::LoadU(df, a + i));
    const auto y = hn::PromoteTo(dd, hn::LoadU(df, b + i));
    // Square root is correctly rounded in IEEE arithmetic, so the vector root equals
    // std::sqrt.
    hn::StoreU(DemoteExact(df, hn::Sqrt(hn::Add(hn::Mul(x, x), hn::Mul(y, y)))), df, a + i);
  }
  for (; i < n; ++i)
    a[i] = static_cast<float>(
        std::sqrt(static_cast<double>(a[i]) * a[i] + static_cast<double>(b[i]) * b[i]));
}

void RidgeBitsImpl(const float* HWY_RESTRICT before, const float* HWY_RESTRICT m,
                   const float* HWY_RESTRICT after, std::size_t n,
                   std::uint64_t* HWY_RESTRICT bits) {
  const hn::ScalableTag<float> df;
  const std::size_t lanes = hn::Lanes(df);
  const auto eight = hn::Set(df, 8.0f);
  std::memset(bits, 0, (n + 63) / 64 * sizeof(std::uint64_t));
  std::size_t i = 0;
  // Whole vectors only while their bits stay inside one word (lanes divides 64).
  if (64 % lanes == 0)
    for (; i + lanes <= n; i += lanes) {
      const auto v = hn::LoadU(df, m + i);
      const auto ridge = hn::And(
          hn::And(hn::Ge(v, hn::LoadU(df, before + i)), hn::Ge(v, hn::LoadU(df, after + i))),
          hn::Gt(hn::Abs(v), eight));
      std::uint8_t packed[8] = {};
      hn::StoreMaskBits(df, ridge, packed);
      std::uint64_t word = 0;
      std::memcpy(&word, packed, (lanes + 7) / 8);
      if (lanes < 64) word &= (std::uint64_t{1} << lanes) - 1;
      bits[i / 64] |= word << (i % 64);
    }
  for (; i < n; ++i)
    if ((m[i] >= before[i]) & (m[i] >= after[i]) & (std::fabs(m[i]) > 8.0f))
      bits[i / 64] |= std::uint64_t{1} << (i % 64);
}

}  // namespace HWY_NAMESPACE
}  // namespace filtersimd
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq::filtersimd {

HWY_EXPORT(TapRunImpl);
HWY_EXPORT(PromoteImpl);
HWY_EXPORT(MagnitudeImpl);
HWY_EXPORT(RidgeBitsImpl);

void RidgeBits(const float* before, const float* m, const float* after, std::size_t n,
               std::uint64_t* bits) {
  HWY_DYNAMIC_DISPATCH(RidgeBitsImpl)(before, m, after, n, bits);
}

void TapRun(float* acc, const double* src, std::size_t n, float weight) {
  HWY_DYNAMIC_DISPATCH(TapRunImpl)(acc, src, n, weight);
}

void Promote(const float* src, double* dst, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(PromoteImpl)(src, dst, n);
}

void Magnitude(float* a, const float* b, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(MagnitudeImpl)(a, b, n);
}

}  // namespace tvq::filtersimd
#endif
