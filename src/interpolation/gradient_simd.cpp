#include <cmath>
#include <cstddef>
#include <cstdint>

#include "interpolation/gradient_kernels.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "interpolation/gradient_simd.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include "imaging/simd_exact.h"

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace gradientsimd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using ::tvq::HWY_NAMESPACE::DemoteExact;

// Powers by repeated squaring instead of std::pow.
//
// The weights are float(pow(x, 8)) and float(1 / pow(t, 4)), computed in double and
// rounded to float. Squaring three times gives x^8 with a relative error of at most
// (1 + 2^-53)^7 - 1 < 7.01 * 2^-53; std::pow is accurate to 0.52 ulp, about 1.04 * 2^-53
// (and 1 / y adds one more rounding), so the squared value lies within 16.2 ulp of the
// double std::pow gives (1 ulp of y is at least y * 2^-53). Rounding to float is monotone,
// so the two doubles round to different floats only when a float rounding boundary (the
// midpoint between two neighbouring floats) lies between them. Every such midpoint in the
// float normal range is a double whose 29 low mantissa bits are 1 << 28, and a double
// whose low bits differ from that by more than kMargin is more than kMargin ulp from any
// midpoint (midpoints of other binades are at least 2^27 ulp away). So outside a margin
// of 4096 ulp around a midpoint, and inside the float normal range, the squared value
// rounds to the same float as std::pow; everywhere else (about 1.5e-5 of all values, and
// NaN, infinity, 0 and results below the float normal range) std::pow itself is used.
// The margin is 250 times the error bound: a less accurate std::pow would still be safe.
// Measured on a 512 x 512 source, one thread (bench_interpolation, CPU time): std::pow in
// every lane 68.5 ms grey and 185 ms colour, squaring with this guard 16.8 and 85.2 ms.
constexpr std::int64_t kMargin = 4096;

template <class D>
HWY_INLINE hn::Mask<D> NeedsLibraryPow(D dd, hn::Vec<D> y) {
  const hn::RebindToSigned<D> di;
  const auto inRange = hn::And(y >= hn::Set(dd, 0x1p-126), y <= hn::Set(dd, 0x1p127));
  const auto low = hn::And(hn::BitCast(di, y), hn::Set(di, (std::int64_t{1} << 29) - 1));
  const auto fromMidpoint = hn::Sub(low, hn::Set(di, std::int64_t{1} << 28));
  const auto near =
      hn::And(fromMidpoint > hn::Set(di, -kMargin - 1), fromMidpoint < hn::Set(di, kMargin + 1));
  return hn::Or(hn::Not(inRange), hn::RebindMask(dd, near));
}

constexpr std::size_t kMaxDoubleLanes = HWY_MAX_BYTES / sizeof(double);

// float(pow(x, 8)), as a double.
template <class D>
HWY_INLINE hn::Vec<D> Pow8AsFloat(D dd, hn::Vec<D> x) {
  const auto x2 = hn::Mul(x, x);
  const auto x4 = hn::Mul(x2, x2);
  auto y = hn::Mul(x4, x4);
  if (!hn::AllFalse(dd, NeedsLibraryPow(dd, y))) {
    double lanes[kMaxDoubleLanes];
    hn::StoreU(x, dd, lanes);
    for (std::size_t i = 0; i < hn::Lanes(dd); ++i) lanes[i] = std::pow(lanes[i], 8.0);
    y = hn::LoadU(dd, lanes);
  }
  return hn::PromoteTo(dd, DemoteExact(y));
}

// float(1 / pow(t, 4)), as a double.
template <class D>
HWY_INLINE hn::Vec<D> InversePow4AsFloat(D dd, hn::Vec<D> t) {
  const auto t2 = hn::Mul(t, t);
  auto y = hn::Div(hn::Set(dd, 1.0), hn::Mul(t2, t2));
  if (!hn::AllFalse(dd, NeedsLibraryPow(dd, y))) {
    double lanes[kMaxDoubleLanes];
    hn::StoreU(t, dd, lanes);
    for (std::size_t i = 0; i < hn::Lanes(dd); ++i) lanes[i] = 1.0 / std::pow(lanes[i], 4.0);
    y = hn::LoadU(dd, lanes);
  }
  return hn::PromoteTo(dd, DemoteExact(y));
}

template <class D>
HWY_INLINE hn::Vec<D> LoadSample(D dd, const float* p) {
  const hn::Rebind<float, D> df;
  return hn::PromoteTo(dd, hn::LoadU(df, p));
}

// Rounds through float.
template <class D>
HWY_INLINE hn::Vec<D> AsFloat(D dd, hn::Vec<D> v) {
  return hn::PromoteTo(dd, DemoteExact(v));
}

// Sum over the pairs of |a - b| summed over the planes, each pair's contribution
// starting from 0.0, then rounded to float: the order of the plain loop in every lane.
template <int kPlanes, class D>
HWY_INLINE hn::Vec<D> GradientSum(D dd, const float* const* in, std::ptrdiff_t i,
                                  const std::ptrdiff_t* a, const std::ptrdiff_t* b, int count) {
  auto sum = hn::Zero(dd);
  for (int j = 0; j < count; ++j) {
    auto contribution = hn::Zero(dd);
    for (int k = 0; k < kPlanes; ++k)
      contribution = hn::Add(contribution, hn::Abs(hn::Sub(LoadSample(dd, in[k] + i + a[j]),
                                                           LoadSample(dd, in[k] + i + b[j]))));
    sum = hn::Add(sum, contribution);
  }
  return AsFloat(dd, sum);
}

// Moves the target towards the estimate v: float(t + blend * (v - t)).
template <class D>
HWY_INLINE void StoreBlended(D dd, hn::Vec<D> t, hn::Vec<D> v, hn::Vec<D> blend, float* out) {
  (void)dd;
  const hn::Rebind<float, D> df;
  hn::StoreU(DemoteExact(hn::Add(t, hn::Mul(blend, hn::Sub(v, t)))), df, out);
}

// std::max(a, b) of the plain loop: b when a < b, else a.
template <class D>
HWY_INLINE hn::Vec<D> MaxLikeStd(hn::Vec<D> a, hn::Vec<D> b) {
  return hn::IfThenElse(a < b, b, a);
}

template <int kPlanes, class D>
HWY_INLINE void DiagonalGroup(D dd, const float* const* in, std::ptrdiff_t i, float* const* out,
                              std::ptrdiff_t o_i, const DiagonalOffsets& o) {
  using V = hn::Vec<D>;
  const V zero = hn::Zero(dd);
  V w[8];
  for (int d = 0; d < 8; ++d) {
    const V g = GradientSum<kPlanes>(dd, in, i, o.a[d], o.b[d], o.count[d]);
    w[d] = Pow8AsFloat(dd, hn::Div(hn::Set(dd, o.scale[d]), hn::Add(g, hn::Set(dd, 0.01))));
  }
  const V two = hn::Set(dd, 2.0);
  V total = hn::Add(hn::Mul(two, w[0]), hn::Mul(two, w[1]));
  for (int d = 2; d < 8; ++d) total = hn::Add(total, w[d]);
  total = AsFloat(dd, total);
  const V k = hn::IfThenElse(total != zero, hn::Div(hn::Set(dd, 0.5), total), hn::Set(dd, 1.0));
  V largest = zero;
  for (int d = 0; d < 8; ++d) {
    w[d] = AsFloat(dd, hn::Mul(k, w[d]));
    largest = MaxLikeStd<D>(largest, w[d]);
  }
  const V blend = hn::Mul(two, largest);
  const V axisWeight = hn::Add(w[0], w[1]);
  for (int p = 0; p < kPlanes; ++p) {
    const float* s = in[p] + i;
    V sum = zero;
    for (int d = 0; d < 6; ++d)
      sum = hn::Add(sum, hn::Mul(w[2 + d], hn::Add(LoadSample(dd, s + o.interp[d][0]),
                                                   LoadSample(dd, s + o.interp[d][1]))));
    const V corners =
        hn::Add(hn::Add(hn::Add(LoadSample(dd, s + o.corner[0]), LoadSample(dd, s + o.corner[1])),
                        LoadSample(dd, s + o.corner[2])),
                LoadSample(dd, s + o.corner[3]));
    sum = hn::Add(sum, hn::Mul(axisWeight, corners));
    StoreBlended(dd, LoadSample(dd, s), AsFloat(dd, sum), blend, out[p] + o_i);
  }
}

template <int kPlanes, class D>
HWY_INLINE void AxisGroup(D dd, const float* const* in, std::ptrdiff_t i, float* const* out,
                          std::ptrdiff_t o_i, const AxisOffsets& o) {
  using V = hn::Vec<D>;
  const V zero = hn::Zero(dd);
  const V hundredth = hn::Set(dd, 0.01);
  const V wh =
      InversePow4AsFloat(dd, hn::Add(GradientSum<kPlanes>(dd, in, i, o.hA, o.hB, 7), hundredth));
  const V wv =
      InversePow4AsFloat(dd, hn::Add(GradientSum<kPlanes>(dd, in, i, o.vA, o.vB, 7), hundredth));
  const V total = hn::Add(wh, wv);
  const V k = hn::IfThenElse(total != zero, hn::Div(hn::Set(dd, 0.5), total), hn::Set(dd, 1.0));
  const V nh = AsFloat(dd, hn::Mul(k, wh));
  const V nv = AsFloat(dd, hn::Mul(k, wv));
  const V blend = hn::Mul(hn::Set(dd, 2.0), MaxLikeStd<D>(nh, nv));
  for (int p = 0; p < kPlanes; ++p) {
    const float* s = in[p] + i;
    const V horizontal = hn::Add(LoadSample(dd, s + o.left), LoadSample(dd, s + o.right));
    const V vertical = hn::Add(LoadSample(dd, s + o.up), LoadSample(dd, s + o.down));
    const V v = AsFloat(dd, hn::Add(hn::Mul(horizontal, nh), hn::Mul(vertical, nv)));
    StoreBlended(dd, LoadSample(dd, s), v, blend, out[p] + o_i);
  }
}

// Full vectors; a last partial vector is recomputed overlapping the one before it
// (every estimate depends on the input planes only, so rewriting one gives the same
// value); spans shorter than a vector go one sample at a time.
template <int kPlanes, bool kDiagonal, class Offsets>
void Span(const float* const* in, std::ptrdiff_t inStart, float* const* out,
          std::ptrdiff_t outStart, std::ptrdiff_t count, const Offsets& offsets) {
  const hn::ScalableTag<double> dd;
  const std::ptrdiff_t lanes = static_cast<std::ptrdiff_t>(hn::Lanes(dd));
  const auto group = [&](auto d, std::ptrdiff_t j) HWY_ATTR {
    if constexpr (kDiagonal)
      DiagonalGroup<kPlanes>(d, in, inStart + j, out, outStart + j, offsets);
    else
      AxisGroup<kPlanes>(d, in, inStart + j, out, outStart + j, offsets);
  };
  if (count >= lanes) {
    std::ptrdiff_t j = 0;
    for (; j + lanes <= count; j += lanes) group(dd, j);
    if (j < count) group(dd, count - lanes);
  } else {
    const hn::CappedTag<double, 1> d1;
    for (std::ptrdiff_t j = 0; j < count; ++j) group(d1, j);
  }
}

void DiagonalSpanImpl(int planes, const float* const* in, std::ptrdiff_t inStart, float* const* out,
                      std::ptrdiff_t outStart, std::ptrdiff_t count,
                      const DiagonalOffsets& offsets) {
  if (planes == 3)
    Span<3, true>(in, inStart, out, outStart, count, offsets);
  else
    Span<1, true>(in, inStart, out, outStart, count, offsets);
}

void AxisSpanImpl(int planes, const float* const* in, std::ptrdiff_t inStart, float* const* out,
                  std::ptrdiff_t outStart, std::ptrdiff_t count, const AxisOffsets& offsets) {
  if (planes == 3)
    Span<3, false>(in, inStart, out, outStart, count, offsets);
  else
    Span<1, false>(in, inStart, out, outStart, count, offsets);
}

template <bool kPow8>
void PowArray(const double* x, float* out, std::size_t n) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const hn::CappedTag<double, 1> d1;
  const hn::Rebind<float, decltype(d1)> df1;
  std::size_t i = 0;
  for (; i + hn::Lanes(dd) <= n; i += hn::Lanes(dd)) {
    const auto v = hn::LoadU(dd, x + i);
    hn::StoreU(DemoteExact(kPow8 ? Pow8AsFloat(dd, v) : InversePow4AsFloat(dd, v)), df, out + i);
  }
  for (; i < n; ++i) {
    const auto v = hn::LoadU(d1, x + i);
    hn::StoreU(DemoteExact(kPow8 ? Pow8AsFloat(d1, v) : InversePow4AsFloat(d1, v)), df1, out + i);
  }
}

void FloatPow8Impl(const double* x, float* out, std::size_t n) {
  PowArray<true>(x, out, n);
}

void FloatInversePow4Impl(const double* t, float* out, std::size_t n) {
  PowArray<false>(t, out, n);
}

}  // namespace HWY_NAMESPACE
}  // namespace gradientsimd
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq::gradientsimd {

HWY_EXPORT(DiagonalSpanImpl);
HWY_EXPORT(AxisSpanImpl);
HWY_EXPORT(FloatPow8Impl);
HWY_EXPORT(FloatInversePow4Impl);

void DiagonalSpan(int planes, const float* const* in, std::ptrdiff_t inStart, float* const* out,
                  std::ptrdiff_t outStart, std::ptrdiff_t count, const DiagonalOffsets& offsets) {
  HWY_DYNAMIC_DISPATCH(DiagonalSpanImpl)(planes, in, inStart, out, outStart, count, offsets);
}

void AxisSpan(int planes, const float* const* in, std::ptrdiff_t inStart, float* const* out,
              std::ptrdiff_t outStart, std::ptrdiff_t count, const AxisOffsets& offsets) {
  HWY_DYNAMIC_DISPATCH(AxisSpanImpl)(planes, in, inStart, out, outStart, count, offsets);
}

void FloatPow8(const double* x, float* out, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(FloatPow8Impl)(x, out, n);
}

void FloatInversePow4(const double* t, float* out, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(FloatInversePow4Impl)(t, out, n);
}

}  // namespace tvq::gradientsimd
#endif
