// SIMD row kernels of the solver; see solver_kernels.h for what each computes. Doubles
// fill the vector lanes; floats are promoted to double, combined, and demoted back
// after every addition, as the scalar loops do. Products and sums stay separate
// instructions (the build forbids contraction into fused multiply-adds).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "superres/solver_simd.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include "imaging/simd_exact.h"
#include "superres/solver_kernels.h"

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// kTaps > 0: that many taps, held in registers; 0: `taps` taps read from memory.
template <std::int32_t kTaps>
HWY_INLINE void WeightedSumTaps(float* out, const float* const* sources, const float* weights,
                                std::int32_t taps, std::int64_t n) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::int64_t lanes = static_cast<std::int64_t>(hn::Lanes(dd));
  if constexpr (kTaps > 0) taps = kTaps;
  std::int64_t i = 0;
  // Four vectors per round: each running sum is a chain of promote, add and demote
  // per tap, so four independent chains keep the units busy (whole 1024 x 1024
  // resample on one thread, perf: 11% fewer samples in this kernel than with two).
  for (; i + 4 * lanes <= n; i += 4 * lanes) {
    auto acc0 = hn::Zero(df);
    auto acc1 = hn::Zero(df);
    auto acc2 = hn::Zero(df);
    auto acc3 = hn::Zero(df);
    for (std::int32_t k = 0; k < taps; ++k) {
      const auto weight = hn::Set(dd, static_cast<double>(weights[k]));
      const float* source = sources[k] + i;
      const auto v0 = hn::Mul(hn::PromoteTo(dd, hn::LoadU(df, source)), weight);
      const auto v1 = hn::Mul(hn::PromoteTo(dd, hn::LoadU(df, source + lanes)), weight);
      const auto v2 = hn::Mul(hn::PromoteTo(dd, hn::LoadU(df, source + 2 * lanes)), weight);
      const auto v3 = hn::Mul(hn::PromoteTo(dd, hn::LoadU(df, source + 3 * lanes)), weight);
      acc0 = DemoteExact(df, hn::Add(hn::PromoteTo(dd, acc0), v0));
      acc1 = DemoteExact(df, hn::Add(hn::PromoteTo(dd, acc1), v1));
      acc2 = DemoteExact(df, hn::Add(hn::PromoteTo(dd, acc2), v2));
      acc3 = DemoteExact(df, hn::Add(hn::PromoteTo(dd, acc3), v3));
    }
    hn::StoreU(acc0, df, out + i);
    hn::StoreU(acc1, df, out + i + lanes);
    hn::StoreU(acc2, df, out + i + 2 * lanes);
    hn::StoreU(acc3, df, out + i + 3 * lanes);
  }
  for (; i + lanes <= n; i += lanes) {
    auto acc = hn::Zero(df);
    for (std::int32_t k = 0; k < taps; ++k) {
      const auto v = hn::PromoteTo(dd, hn::LoadU(df, sources[k] + i));
      acc = DemoteExact(df, hn::Add(hn::PromoteTo(dd, acc),
                                    hn::Mul(v, hn::Set(dd, static_cast<double>(weights[k])))));
    }
    hn::StoreU(acc, df, out + i);
  }
  for (; i < n; ++i) {
    float sum = 0.0f;
    for (std::int32_t k = 0; k < taps; ++k)
      sum = static_cast<float>(static_cast<double>(sum) + static_cast<double>(sources[k][i]) *
                                                              static_cast<double>(weights[k]));
    out[i] = sum;
  }
}

void WeightedSumRow(float* out, const float* const* sources, const float* weights,
                    std::int32_t taps, std::int64_t n) {
  // A fixed tap count lets the compiler unroll the taps and keep their addresses and
  // weights in registers (whole resample, one thread, perf: 7% fewer samples here).
  switch (taps) {
    case 3:
      return WeightedSumTaps<3>(out, sources, weights, taps, n);
    case 4:
      return WeightedSumTaps<4>(out, sources, weights, taps, n);
    case 7:
      return WeightedSumTaps<7>(out, sources, weights, taps, n);
    default:
      return WeightedSumTaps<0>(out, sources, weights, taps, n);
  }
}

void SignOfDifferenceRow(const float* a, const float* b, float* out, std::int64_t n) {
  const hn::ScalableTag<float> df;
  const std::int64_t lanes = static_cast<std::int64_t>(hn::Lanes(df));
  const auto one = hn::Set(df, 1.0f);
  const auto minusOne = hn::Set(df, -1.0f);
  std::int64_t i = 0;
  // The difference of two floats widened to double is positive (negative) exactly when
  // the first is greater (less); unordered pairs give 0 either way.
  for (; i + lanes <= n; i += lanes) {
    const auto va = hn::LoadU(df, a + i);
    const auto vb = hn::LoadU(df, b + i);
    hn::StoreU(hn::Add(hn::IfThenElseZero(va > vb, one), hn::IfThenElseZero(va < vb, minusOne)), df,
               out + i);
  }
  for (; i < n; ++i) out[i] = a[i] > b[i] ? 1.0f : (a[i] < b[i] ? -1.0f : 0.0f);
}

void DeinterleaveRow(const float* source, float* even, float* odd, std::int64_t n) {
  const hn::ScalableTag<float> df;
  const std::int64_t lanes = static_cast<std::int64_t>(hn::Lanes(df));
  std::int64_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    hn::Vec<decltype(df)> e, o;
    hn::LoadInterleaved2(df, source + 2 * i, e, o);
    hn::StoreU(e, df, even + i);
    hn::StoreU(o, df, odd + i);
  }
  for (; i < n; ++i) {
    even[i] = source[2 * i];
    odd[i] = source[2 * i + 1];
  }
}

void InterleaveRow(const float* even, const float* odd, float* out, std::int64_t n) {
  const hn::ScalableTag<float> df;
  const std::int64_t lanes = static_cast<std::int64_t>(hn::Lanes(df));
  std::int64_t i = 0;
  for (; i + lanes <= n; i += lanes)
    hn::StoreInterleaved2(hn::LoadU(df, even + i), hn::LoadU(df, odd + i), df, out + 2 * i);
  for (; i < n; ++i) {
    out[2 * i] = even[i];
    out[2 * i + 1] = odd[i];
  }
}

// sign(c - a) + sign(c - b) as exact small whole numbers (+0 for none). Comparing the
// floats gives the signs of their differences widened to double: such a difference is
// never rounded to zero or across zero, and unordered pairs give 0 either way.
template <class DF, class V>
HWY_INLINE V SignPair(DF df, V c, V a, V b) {
  const auto one = hn::Set(df, 1.0f);
  const auto minusOne = hn::Set(df, -1.0f);
  const auto sa = hn::Add(hn::IfThenElseZero(c > a, one), hn::IfThenElseZero(c < a, minusOne));
  const auto sb = hn::Add(hn::IfThenElseZero(c > b, one), hn::IfThenElseZero(c < b, minusOne));
  return hn::Add(sa, sb);
}

inline double SignPairScalar(float c, float a, float b) {
  const double sa = c > a ? 1.0 : (c < a ? -1.0 : 0.0);
  const double sb = c > b ? 1.0 : (c < b ? -1.0 : 0.0);
  return sa + sb;
}

void BtvDescendRow(const rows::BtvRun& run, std::int64_t n) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::int64_t lanes = static_cast<std::int64_t>(hn::Lanes(dd));
  const auto step = hn::Set(dd, run.step);
  // A descent alone (no offsets) has no centre row to read.
  const float* centre = run.offsets > 0 ? run.centre : run.gradient;
  const auto weightAt = [&](std::int64_t at) {
    return run.weight != nullptr ? hn::PromoteTo(dd, hn::LoadU(df, run.weight + at))
                                 : hn::Set(dd, run.constantWeight);
  };
  std::int64_t i = 0;
  // Two vectors per round, as two independent chains of offsets (each offset is a
  // promote, add and demote after the previous one): 1024 x 1024 estimate, radius 1,
  // one thread, BtvGradient 2.40 ms of CPU time with one chain, 2.26 ms with two.
#if HWY_TARGET != HWY_SCALAR
  // The signs of both vectors come from one vector of twice the floats: half the
  // compares and selects (1024 x 1024 estimate, radius 1, one thread: BtvGradient
  // 2.2 ms of CPU time with the signs of each half computed apart, 1.85 ms together).
  const hn::Twice<decltype(df)> dw;
#endif
  for (; i + 2 * lanes <= n; i += 2 * lanes) {
#if HWY_TARGET != HWY_SCALAR
    const auto c = hn::LoadU(dw, centre + i);
#else
    const auto c0 = hn::LoadU(df, centre + i);
    const auto c1 = hn::LoadU(df, centre + i + lanes);
#endif
    const auto w0 = weightAt(i);
    const auto w1 = weightAt(i + lanes);
    auto g0 = hn::LoadU(df, run.gradient + i);
    auto g1 = hn::LoadU(df, run.gradient + i + lanes);
    for (std::int32_t o = 0; o < run.offsets; ++o) {
      const float* above = run.above[o] + i;
      const float* below = run.below[o] + i;
      const auto weight = hn::Set(dd, run.offsetWeights[o]);
#if HWY_TARGET != HWY_SCALAR
      const auto s = SignPair(dw, c, hn::LoadU(dw, above), hn::LoadU(dw, below));
      const auto s0 = hn::PromoteTo(dd, hn::LowerHalf(df, s));
      const auto s1 = hn::PromoteTo(dd, hn::UpperHalf(df, s));
#else
      const auto s0 =
          hn::PromoteTo(dd, SignPair(df, c0, hn::LoadU(df, above), hn::LoadU(df, below)));
      const auto s1 = hn::PromoteTo(
          dd, SignPair(df, c1, hn::LoadU(df, above + lanes), hn::LoadU(df, below + lanes)));
#endif
      g0 = DemoteExact(df, hn::Add(hn::PromoteTo(dd, g0), hn::Mul(hn::Mul(s0, weight), w0)));
      g1 = DemoteExact(df, hn::Add(hn::PromoteTo(dd, g1), hn::Mul(hn::Mul(s1, weight), w1)));
    }
    if (run.estimate != nullptr) {
      const auto x0 = hn::PromoteTo(dd, hn::LoadU(df, run.estimate + i));
      const auto x1 = hn::PromoteTo(dd, hn::LoadU(df, run.estimate + i + lanes));
      g0 = DemoteExact(df, hn::Sub(x0, hn::Mul(step, hn::PromoteTo(dd, g0))));
      g1 = DemoteExact(df, hn::Sub(x1, hn::Mul(step, hn::PromoteTo(dd, g1))));
    }
    hn::StoreU(g0, df, run.out + i);
    hn::StoreU(g1, df, run.out + i + lanes);
  }
  for (; i + lanes <= n; i += lanes) {
    const auto c = hn::LoadU(df, centre + i);
    const auto w = weightAt(i);
    auto g = hn::LoadU(df, run.gradient + i);
    for (std::int32_t o = 0; o < run.offsets; ++o) {
      const auto s = hn::PromoteTo(
          dd, SignPair(df, c, hn::LoadU(df, run.above[o] + i), hn::LoadU(df, run.below[o] + i)));
      const auto term = hn::Mul(hn::Mul(s, hn::Set(dd, run.offsetWeights[o])), w);
      g = DemoteExact(df, hn::Add(hn::PromoteTo(dd, g), term));
    }
    if (run.estimate != nullptr) {
      const auto x = hn::PromoteTo(dd, hn::LoadU(df, run.estimate + i));
      g = DemoteExact(df, hn::Sub(x, hn::Mul(step, hn::PromoteTo(dd, g))));
    }
    hn::StoreU(g, df, run.out + i);
  }
  for (; i < n; ++i) {
    const double w =
        run.weight != nullptr ? static_cast<double>(run.weight[i]) : run.constantWeight;
    float g = run.gradient[i];
    for (std::int32_t o = 0; o < run.offsets; ++o) {
      const double s = SignPairScalar(run.centre[i], run.above[o][i], run.below[o][i]);
      g = static_cast<float>(static_cast<double>(g) + s * run.offsetWeights[o] * w);
    }
    if (run.estimate != nullptr)
      g = static_cast<float>(static_cast<double>(run.estimate[i]) -
                             run.step * static_cast<double>(g));
    run.out[i] = g;
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq {
HWY_EXPORT(WeightedSumRow);
HWY_EXPORT(BtvDescendRow);
HWY_EXPORT(SignOfDifferenceRow);
HWY_EXPORT(DeinterleaveRow);
HWY_EXPORT(InterleaveRow);

namespace rows {

void WeightedSum(float* out, const float* const* sources, const float* weights, std::int32_t taps,
                 std::int64_t n) {
  HWY_DYNAMIC_DISPATCH(WeightedSumRow)(out, sources, weights, taps, n);
}

void SignOfDifference(const float* a, const float* b, float* out, std::int64_t n) {
  HWY_DYNAMIC_DISPATCH(SignOfDifferenceRow)(a, b, out, n);
}

void Deinterleave(const float* source, float* even, float* odd, std::int64_t n) {
  HWY_DYNAMIC_DISPATCH(DeinterleaveRow)(source, even, odd, n);
}

void Interleave(const float* even, const float* odd, float* out, std::int64_t n) {
  HWY_DYNAMIC_DISPATCH(InterleaveRow)(even, odd, out, n);
}

void BtvDescend(const BtvRun& run, std::int64_t n) {
  HWY_DYNAMIC_DISPATCH(BtvDescendRow)(run, n);
}

}  // namespace rows
}  // namespace tvq
#endif
