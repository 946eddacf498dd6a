// Conversions of SIMD lanes that must round exactly like the plain loops'
// static_cast, on every Highway target, and the grey level of double lanes. Included inside
// HWY_NAMESPACE code after <hwy/highway.h>; re-included once per target (the per-target include
// guard below).
//
// Highway's scalar target (the one "SIMD off" selects) clamps a double beyond the
// float range, and infinity itself, to the largest float when it demotes; the vector
// targets and static_cast give infinity. DemoteExact keeps the static_cast result on
// every target, so "SIMD off" stays bit-identical to the plain loops for overflowing
// values too.
#if defined(TVQ_IMAGING_SIMD_EXACT_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef TVQ_IMAGING_SIMD_EXACT_H_
#undef TVQ_IMAGING_SIMD_EXACT_H_
#else
#define TVQ_IMAGING_SIMD_EXACT_H_
#endif

#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace HWY_NAMESPACE {

// Double lanes to float lanes, rounded to nearest like static_cast<float>.
template <class DF, class VD>
HWY_INLINE hwy::HWY_NAMESPACE::Vec<DF> DemoteExact(DF df, VD v) {
#if HWY_TARGET == HWY_SCALAR
  return hwy::HWY_NAMESPACE::Set(df, static_cast<float>(hwy::HWY_NAMESPACE::GetLane(v)));
#else
  return hwy::HWY_NAMESPACE::DemoteTo(df, v);
#endif
}

// The same, with the float tag formed from the double lanes' own tag.
template <class VD>
HWY_INLINE auto DemoteExact(VD v) {
  return DemoteExact(hwy::HWY_NAMESPACE::Rebind<float, hwy::HWY_NAMESPACE::DFromV<VD>>(), v);
}

// The grey level of double lanes: 0.114 * b + 0.587 * g + 0.299 * r, multiplied and
// added left to right as GreyOf evaluates it.
template <class DD, class VD>
HWY_INLINE VD GreyLanes(DD dd, VD b, VD g, VD r) {
  namespace hn = hwy::HWY_NAMESPACE;
  return hn::Add(hn::Add(hn::Mul(hn::Set(dd, 0.114), b), hn::Mul(hn::Set(dd, 0.587), g)),
                 hn::Mul(hn::Set(dd, 0.299), r));
}

}  // namespace HWY_NAMESPACE
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#endif  // per-target include guard
