#include "utility/utility_kernels.h"

#include <cmath>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "utility/utility_simd.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include "imaging/simd_exact.h"

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace utilitysimd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using ::tvq::HWY_NAMESPACE::DemoteExact;

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

constexpr std::uint32_t kMultiplier = 134775813u;
constexpr std::uint32_t kIncrement = 1u;

inline std::uint32_t Step(std::uint32_t state) {
  return state * kMultiplier + kIncrement;
}

// 2 * (state / 2^32) - 1 for 32-bit states: the state converts exactly (as a signed
// value plus 2^31) and the division by a power of two is an exact multiplication.
template <class DD, class VU>
HWY_INLINE hn::Vec<DD> Centered(DD dd, VU state) {
  const hn::Rebind<std::int32_t, DD> di;
  const hn::Rebind<std::uint32_t, DD> du;
  const auto signedState = hn::BitCast(di, hn::Xor(state, hn::Set(du, 0x80000000u)));
  const auto value = hn::Add(hn::PromoteTo(dd, signedState), hn::Set(dd, 2147483648.0));
  const auto draw = hn::Mul(value, hn::Set(dd, 1.0 / 4294967296.0));
  return hn::Sub(hn::Mul(hn::Set(dd, 2.0), draw), hn::Set(dd, 1.0));
}

// One attempt of the polar method in scalar code, from its first draw: keeps u1 and s
// when the pair lies inside the unit circle. Returns the attempt's second draw.
inline std::uint32_t ScalarAttempt(std::uint32_t draw1, double* HWY_RESTRICT u1Out,
                                   double* HWY_RESTRICT sOut, std::size_t& kept) {
  const std::uint32_t draw2 = Step(draw1);
  const double u1 = 2.0 * (static_cast<double>(draw1) / 4294967296.0) - 1.0;
  const double u2 = 2.0 * (static_cast<double>(draw2) / 4294967296.0) - 1.0;
  const double s = u1 * u1 + u2 * u2;
  if (!(s >= 1.0 || s == 0.0)) {
    u1Out[kept] = u1;
    sOut[kept++] = s;
  }
  return draw2;
}

std::size_t AcceptedAttemptsImpl(std::uint32_t state, std::size_t count, double* HWY_RESTRICT u1Out,
                                 double* HWY_RESTRICT sOut) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<std::uint32_t, decltype(dd)> du;
  const std::size_t lanes = hn::Lanes(dd);
  std::size_t kept = 0;
  std::size_t j = 0;
  if (count >= lanes && lanes <= 64) {
    // Lane l runs attempts l, l + lanes, ...: its states move on by 2 * lanes draws, one
    // affine map (multiplier, increment) per vector step.
    // At most 8 double lanes on the targets built; room for 64.
    HWY_ALIGN std::uint32_t first[64];
    HWY_ALIGN std::uint32_t second[64];
    std::uint32_t x = state;
    std::uint32_t jumpA = 1, jumpC = 0;
    for (std::size_t l = 0; l < lanes; ++l) {
      first[l] = x = Step(x);
      second[l] = x = Step(x);
      jumpA *= kMultiplier;
      jumpC = jumpC * kMultiplier + kIncrement;
      jumpA *= kMultiplier;
      jumpC = jumpC * kMultiplier + kIncrement;
    }
    auto s1 = hn::Load(du, first);
    auto s2 = hn::Load(du, second);
    const auto a = hn::Set(du, jumpA);
    const auto c = hn::Set(du, jumpC);
    const auto one = hn::Set(dd, 1.0);
    const auto zero = hn::Zero(dd);
    for (; j + lanes <= count; j += lanes) {
      const auto u1 = Centered(dd, s1);
      const auto u2 = Centered(dd, s2);
      const auto s = hn::Add(hn::Mul(u1, u1), hn::Mul(u2, u2));
      const auto accepted = hn::And(hn::Lt(s, one), hn::Ne(s, zero));
      hn::CompressStore(u1, accepted, dd, u1Out + kept);
      kept += hn::CompressStore(s, accepted, dd, sOut + kept);
      s1 = hn::Add(hn::Mul(s1, a), c);
      s2 = hn::Add(hn::Mul(s2, a), c);
    }
    // The first draw of attempt j is lane 0's; the state before it is unknown, so the
    // tail below starts from that draw.
    for (state = hn::GetLane(s1); j < count; ++j)
      state = Step(ScalarAttempt(state, u1Out, sOut, kept));
    return kept;
  }
  for (; j < count; ++j) state = ScalarAttempt(Step(state), u1Out, sOut, kept);
  return kept;
}

void PolarVariatesImpl(const double* HWY_RESTRICT u1, const double* HWY_RESTRICT s,
                       const double* HWY_RESTRICT logS, std::size_t n, double mean,
                       double deviation, double* HWY_RESTRICT out) {
  const hn::ScalableTag<double> dd;
  const std::size_t lanes = hn::Lanes(dd);
  const auto m = hn::Set(dd, mean);
  const auto dev = hn::Set(dd, deviation);
  const auto minusTwo = hn::Set(dd, -2.0);
  std::size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    // mean + ((deviation * u1) * sqrt((-2 * log s) / s)): division and square root are
    // correctly rounded, like the scalar ones.
    const auto root =
        hn::Sqrt(hn::Div(hn::Mul(minusTwo, hn::LoadU(dd, logS + i)), hn::LoadU(dd, s + i)));
    hn::StoreU(hn::Add(m, hn::Mul(hn::Mul(dev, hn::LoadU(dd, u1 + i)), root)), dd, out + i);
  }
  for (; i < n; ++i) out[i] = mean + deviation * u1[i] * std::sqrt(-2.0 * logS[i] / s[i]);
}

}  // namespace HWY_NAMESPACE
}  // namespace utilitysimd
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq::utilitysimd {

HWY_EXPORT(SquaredDifferencesImpl);
HWY_EXPORT(AcceptedAttemptsImpl);
HWY_EXPORT(PolarVariatesImpl);

std::size_t AcceptedAttempts(std::uint32_t state, std::size_t count, double* u1, double* s) {
  return HWY_DYNAMIC_DISPATCH(AcceptedAttemptsImpl)(state, count, u1, s);
}

void PolarVariates(const double* u1, const double* s, const double* logS, std::size_t n,
                   double mean, double deviation, double* out) {
  HWY_DYNAMIC_DISPATCH(PolarVariatesImpl)(u1, s, logS, n, mean, deviation, out);
}

void SquaredDifferences(const float* a, const float* b, double* out, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(SquaredDifferencesImpl)(a, b, out, n);
}

}  // namespace tvq::utilitysimd
#endif
