#include "filters/canny_kernels.h"

#include <cmath>
#include <cstring>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "filters/canny_simd.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include "imaging/simd_exact.h"

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace cannysimd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using ::tvq::HWY_NAMESPACE::DemoteExact;

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
}  // namespace cannysimd
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq::cannysimd {

HWY_EXPORT(MagnitudeImpl);
HWY_EXPORT(RidgeBitsImpl);

void RidgeBits(const float* before, const float* m, const float* after, std::size_t n,
               std::uint64_t* bits) {
  HWY_DYNAMIC_DISPATCH(RidgeBitsImpl)(before, m, after, n, bits);
}

void Magnitude(float* a, const float* b, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(MagnitudeImpl)(a, b, n);
}

}  // namespace tvq::cannysimd
#endif
