#include <cmath>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "interpolation/directional_kernels.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "interpolation/directional_simd.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include "imaging/simd_exact.h"

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace directionalsimd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using ::tvq::HWY_NAMESPACE::GreyLanes;

using DD = hn::ScalableTag<double>;
using DU = hn::RebindToUnsigned<DD>;  // one pixel pair per 64-bit lane
using DI = hn::RebindToSigned<DD>;
using VD = hn::Vec<DD>;
using VU = hn::Vec<DU>;

HWY_INLINE VU Pairs(const std::uint8_t* row, std::size_t pair) {
  return hn::LoadU(DU(), reinterpret_cast<const std::uint64_t*>(row + 8 * pair));
}
HWY_INLINE VU Low(VU pairs) {
  return hn::And(pairs, hn::Set(DU(), 0xFFFFFFFFull));
}
HWY_INLINE VU High(VU pairs) {
  return hn::ShiftRight<32>(pairs);
}
// Byte k of pixels held in the low 32 bits, as doubles.
template <int kShift>
HWY_INLINE VD Byte(VU pixels) {
  return hn::ConvertTo(
      DD(), hn::BitCast(DI(), hn::And(hn::ShiftRight<kShift>(pixels), hn::Set(DU(), 0xFFull))));
}
// ClampToByte(float(v)): rounded to float, clamped into [0, 255], plus 0.5, truncated.
HWY_INLINE VU ClampToByte(VD v) {
  const DD dd;
  const hn::Rebind<float, DD> df;
  const hn::Rebind<std::int32_t, DD> di32;
#if HWY_TARGET == HWY_SCALAR
  const VD f = hn::Set(dd, static_cast<double>(static_cast<float>(hn::GetLane(v))));
  (void)df;
#else
  const VD f = hn::PromoteTo(dd, hn::DemoteTo(df, v));
#endif
  const VD top = hn::Set(dd, 255.0);
  const VD clamped =
      hn::IfThenElse(hn::Gt(f, top), top, hn::IfThenElse(hn::Ge(f, hn::Zero(dd)), f, hn::Zero(dd)));
  const auto bytes = hn::DemoteTo(di32, hn::Add(clamped, hn::Set(dd, 0.5)));
  return hn::BitCast(DU(), hn::PromoteTo(DI(), bytes));
}

std::size_t PlaceRowImpl(const std::uint8_t* src, std::uint8_t* dst, std::size_t n) {
  const DD dd;
  const DU du;
  const hn::Rebind<std::uint32_t, DD> du32;
  const std::size_t lanes = hn::Lanes(dd);
  std::size_t x = 0;
  for (; x + lanes <= n; x += lanes) {
    const VU pixel =
        hn::PromoteTo(du, hn::LoadU(du32, reinterpret_cast<const std::uint32_t*>(src + 4 * x)));
    const VD grey = GreyLanes(dd, Byte<0>(pixel), Byte<8>(pixel), Byte<16>(pixel));
    const VU placed =
        hn::Or(hn::And(pixel, hn::Set(du, 0x00FFFFFFull)), hn::ShiftLeft<24>(ClampToByte(grey)));
    const VU pairs = Pairs(dst, x);
    hn::StoreU(hn::Or(hn::And(pairs, hn::Set(du, 0xFFFFFFFF00000000ull)), placed), du,
               reinterpret_cast<std::uint64_t*>(dst + 8 * x));
  }
  return x;
}

// Luminance byte (byte 3) of pixels held in the low 32 bits, as signed integers.
HWY_INLINE hn::Vec<DI> Luminance(VU pixels) {
  return hn::BitCast(DI(), hn::ShiftRight<24>(pixels));
}

std::size_t DiagonalRowImpl(const std::uint8_t* const* rows, std::uint8_t* row, std::size_t begin,
                            std::size_t end) {
  const DD dd;
  const DU du;
  const std::size_t lanes = hn::Lanes(dd);
  // Weights of TL, TR, BL, BR by the direction of the largest luminance difference.
  constexpr double kWeights[6][4] = {{0.05, 0.45, 0.45, 0.05}, {0.45, 0.05, 0.05, 0.45},
                                     {0.15, 0.35, 0.35, 0.15}, {0.35, 0.15, 0.15, 0.35},
                                     {0.15, 0.35, 0.35, 0.15}, {0.35, 0.15, 0.15, 0.35}};
  const VD inverseSqrt2 = hn::Set(dd, 1.0 / std::sqrt(2.0));
  const VD inverseSqrt10 = hn::Set(dd, 1.0 / std::sqrt(10.0));
  std::size_t j = begin;
  for (; j + lanes <= end; j += lanes) {
    // Even pixels (low halves) of pairs j - 2 .. j + 1 of rows y - 1 and y + 1, and
    // j - 1, j of rows y - 3 and y + 3: the pixels x - 3, x - 1, x + 1, x + 3.
    const VU upMinus3 = Low(Pairs(rows[2], j - 2)), upLeft = Low(Pairs(rows[2], j - 1)),
             upRight = Low(Pairs(rows[2], j)), upPlus3 = Low(Pairs(rows[2], j + 1));
    const VU downMinus3 = Low(Pairs(rows[4], j - 2)), downLeft = Low(Pairs(rows[4], j - 1)),
             downRight = Low(Pairs(rows[4], j)), downPlus3 = Low(Pairs(rows[4], j + 1));
    const VU top3Left = Low(Pairs(rows[0], j - 1)), top3Right = Low(Pairs(rows[0], j));
    const VU bottom3Left = Low(Pairs(rows[6], j - 1)), bottom3Right = Low(Pairs(rows[6], j));
    const auto difference = [&](VU a, VU b, VD scale) HWY_ATTR {
      return hn::Abs(hn::Mul(hn::ConvertTo(dd, hn::Sub(Luminance(a), Luminance(b))), scale));
    };
    const VD differences[6] = {difference(upLeft, downRight, inverseSqrt2),
                               difference(downLeft, upRight, inverseSqrt2),
                               difference(top3Left, bottom3Right, inverseSqrt10),
                               difference(top3Right, bottom3Left, inverseSqrt10),
                               difference(upMinus3, downPlus3, inverseSqrt10),
                               difference(upPlus3, downMinus3, inverseSqrt10)};
    VD largest = hn::Set(dd, -1.0);
    VD w[4];
    for (int k = 0; k < 4; ++k) w[k] = hn::Set(dd, kWeights[0][k]);
    for (int d = 0; d < 6; ++d) {
      const auto larger = hn::Gt(differences[d], largest);
      largest = hn::IfThenElse(larger, differences[d], largest);
      for (int k = 0; k < 4; ++k) w[k] = hn::IfThenElse(larger, hn::Set(dd, kWeights[d][k]), w[k]);
    }
    const auto channel = [&](auto shift) HWY_ATTR {
      constexpr int kShift = decltype(shift)::value;
      return ClampToByte(hn::Add(hn::Add(hn::Add(hn::Mul(Byte<kShift>(upLeft), w[0]),
                                                 hn::Mul(Byte<kShift>(upRight), w[1])),
                                         hn::Mul(Byte<kShift>(downLeft), w[2])),
                                 hn::Mul(Byte<kShift>(downRight), w[3])));
    };
    const VU estimate =
        hn::Or(hn::Or(channel(std::integral_constant<int, 0>()),
                      hn::ShiftLeft<8>(channel(std::integral_constant<int, 8>()))),
               hn::Or(hn::ShiftLeft<16>(channel(std::integral_constant<int, 16>())),
                      hn::ShiftLeft<24>(channel(std::integral_constant<int, 24>()))));
    // Pixel x = 2j - 1 is the odd pixel (high half) of pair j - 1.
    const VU pairs = Pairs(row, j - 1);
    hn::StoreU(hn::Or(Low(pairs), hn::ShiftLeft<32>(estimate)), du,
               reinterpret_cast<std::uint64_t*>(row + 8 * (j - 1)));
  }
  return j;
}

// Truncating average of every byte: (a & b) + ((a ^ b) >> 1), per byte.
HWY_INLINE VU Average(VU a, VU b) {
  return hn::Add(hn::And(a, b),
                 hn::And(hn::ShiftRight<1>(hn::Xor(a, b)), hn::Set(DU(), 0x7F7F7F7Full)));
}

HWY_INLINE hn::Vec<DI> AbsoluteDifference(hn::Vec<DI> a, hn::Vec<DI> b) {
  return hn::IfThenElse(hn::Gt(a, b), hn::Sub(a, b), hn::Sub(b, a));
}

std::size_t AxisRowImpl(const std::uint8_t* up, std::uint8_t* row, const std::uint8_t* down,
                        bool oddPixels, std::size_t begin, std::size_t end) {
  const DU du;
  const std::size_t lanes = hn::Lanes(du);
  std::size_t p = begin;
  for (; p + lanes <= end; p += lanes) {
    // Even row: pixel 2p + 1 (high half of pair p) between the even pixels of pairs p
    // and p + 1; odd row: pixel 2p (low half) between the odd pixels of pairs p - 1, p.
    const VU pairs = Pairs(row, p);
    VU left, right, above, below;
    if (oddPixels) {
      left = Low(pairs);
      right = Low(Pairs(row, p + 1));
      above = High(Pairs(up, p));
      below = High(Pairs(down, p));
    } else {
      left = High(Pairs(row, p - 1));
      right = High(pairs);
      above = Low(Pairs(up, p));
      below = Low(Pairs(down, p));
    }
    const auto dh = AbsoluteDifference(Luminance(left), Luminance(right));
    const auto dv = AbsoluteDifference(Luminance(above), Luminance(below));
    const VU estimate = hn::IfThenElse(hn::RebindMask(du, hn::Gt(dv, dh)), Average(right, left),
                                       Average(below, above));
    const VU merged = oddPixels
                          ? hn::Or(Low(pairs), hn::ShiftLeft<32>(estimate))
                          : hn::Or(hn::And(pairs, hn::Set(du, 0xFFFFFFFF00000000ull)), estimate);
    hn::StoreU(merged, du, reinterpret_cast<std::uint64_t*>(row + 8 * p));
  }
  return p;
}

}  // namespace HWY_NAMESPACE
}  // namespace directionalsimd
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq::directionalsimd {

HWY_EXPORT(PlaceRowImpl);
HWY_EXPORT(DiagonalRowImpl);
HWY_EXPORT(AxisRowImpl);

std::size_t PlaceRow(const std::uint8_t* src, std::uint8_t* dst, std::size_t n) {
  return HWY_DYNAMIC_DISPATCH(PlaceRowImpl)(src, dst, n);
}

std::size_t DiagonalRow(const std::uint8_t* const* rows, std::uint8_t* row, std::size_t begin,
                        std::size_t end) {
  return HWY_DYNAMIC_DISPATCH(DiagonalRowImpl)(rows, row, begin, end);
}

std::size_t AxisRow(const std::uint8_t* up, std::uint8_t* row, const std::uint8_t* down,
                    bool oddPixels, std::size_t begin, std::size_t end) {
  return HWY_DYNAMIC_DISPATCH(AxisRowImpl)(up, row, down, oddPixels, begin, end);
}

}  // namespace tvq::directionalsimd
#endif
