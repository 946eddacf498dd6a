#include "imaging/convert_kernels.h"

#include <cstring>

#include "imaging/imagebase.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/convert_simd.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include "imaging/simd_exact.h"

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace convertsimd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using ::tvq::HWY_NAMESPACE::DemoteExact;
using ::tvq::HWY_NAMESPACE::GreyLanes;

// Float rows of a view need not be aligned to four bytes: the scalar tails copy bytes.
inline float Get(const float* p) {
  float v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void Put(float* p, float v) {
  std::memcpy(p, &v, sizeof v);
}

void BytesToFloatsImpl(const std::uint8_t* HWY_RESTRICT src, float* HWY_RESTRICT dst,
                       std::size_t n) {
  const hn::ScalableTag<float> df;
  const hn::Rebind<std::int32_t, decltype(df)> di;
  const hn::Rebind<std::uint8_t, decltype(df)> du8;
  const std::size_t lanes = hn::Lanes(df);
  std::size_t i = 0;
  for (; i + lanes <= n; i += lanes)
    hn::StoreU(hn::ConvertTo(df, hn::PromoteTo(di, hn::LoadU(du8, src + i))), df, dst + i);
  for (; i < n; ++i) Put(dst + i, static_cast<float>(src[i]));
}

// The grey level of double lanes of blue, green and red, stored as floats.
template <class DD, class V>
HWY_INLINE void StoreGrey(DD dd, V b, V g, V r, float* HWY_RESTRICT out) {
  const hn::Rebind<float, DD> df;
  hn::StoreU(DemoteExact(df, GreyLanes(dd, b, g, r)), df, out);
}

// The grey level of packed four-byte pixels (blue in the low byte) as double lanes.
template <class DD, class VU>
HWY_INLINE hn::Vec<DD> PackedGrey(DD dd, VU v) {
  const hn::Rebind<std::int32_t, DD> di;
  const auto low = hn::Set(hn::DFromV<VU>(), 0xFFu);
  auto channel = [&](VU c) { return hn::PromoteTo(dd, hn::BitCast(di, hn::And(c, low))); };
  return GreyLanes(dd, channel(v), channel(hn::ShiftRight<8>(v)), channel(hn::ShiftRight<16>(v)));
}

void GreyOfPackedImpl(const std::uint8_t* HWY_RESTRICT src, float* HWY_RESTRICT dst,
                      std::size_t n) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const hn::Rebind<std::uint32_t, decltype(dd)> du;
  const std::size_t lanes = hn::Lanes(dd);
  std::size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    const auto v = hn::LoadU(du, reinterpret_cast<const std::uint32_t*>(src + 4 * i));
    hn::StoreU(DemoteExact(df, PackedGrey(dd, v)), df, dst + i);
  }
  for (; i < n; ++i) {
    const std::uint8_t* p = src + 4 * i;
    Put(dst + i, static_cast<float>(GreyOf(p[0], p[1], p[2])));
  }
}

void GreyOfThreeBytesImpl(const std::uint8_t* HWY_RESTRICT src, float* HWY_RESTRICT dst,
                          std::size_t n) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<std::int32_t, decltype(dd)> di;
  const hn::Rebind<std::uint8_t, decltype(dd)> du8;
  const std::size_t lanes = hn::Lanes(dd);
  auto channel = [&](auto bytes) { return hn::PromoteTo(dd, hn::PromoteTo(di, bytes)); };
  std::size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    hn::Vec<decltype(du8)> b, g, r;
    hn::LoadInterleaved3(du8, src + 3 * i, b, g, r);
    StoreGrey(dd, channel(b), channel(g), channel(r), dst + i);
  }
  for (; i < n; ++i) {
    const std::uint8_t* p = src + 3 * i;
    Put(dst + i, static_cast<float>(GreyOf(p[0], p[1], p[2])));
  }
}

void GreyOfFloatsImpl(const float* HWY_RESTRICT src, float* HWY_RESTRICT dst, std::size_t n) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::size_t lanes = hn::Lanes(dd);
  std::size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    hn::Vec<decltype(df)> b, g, r, fourth;
    hn::LoadInterleaved4(df, src + 4 * i, b, g, r, fourth);
    StoreGrey(dd, hn::PromoteTo(dd, b), hn::PromoteTo(dd, g), hn::PromoteTo(dd, r), dst + i);
  }
  for (; i < n; ++i) {
    const float* p = src + 4 * i;
    Put(dst + i, static_cast<float>(GreyOf(Get(p), Get(p + 1), Get(p + 2))));
  }
}

// ClampToByte of float lanes (promoted to double) as 32-bit integers: 255 above 255, 0
// below 0 and for NaN, otherwise the integer part of v + 0.5 (truncating conversion).
template <class DD, class V>
HWY_INLINE auto ClampToBytes(DD dd, V v) {
  const hn::Rebind<std::int32_t, DD> di;
  const auto inRange = hn::Ge(v, hn::Zero(dd));
  auto x = hn::IfThenElseZero(inRange, hn::Add(v, hn::Set(dd, 0.5)));
  x = hn::IfThenElse(hn::Gt(v, hn::Set(dd, 255.0)), hn::Set(dd, 255.0), x);
  return hn::DemoteTo(di, x);
}

void FloatsToBytesImpl(const float* HWY_RESTRICT src, std::uint8_t* HWY_RESTRICT dst,
                       std::size_t n) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const hn::Rebind<std::uint8_t, decltype(dd)> du8;
  const std::size_t lanes = hn::Lanes(dd);
  std::size_t i = 0;
  for (; i + lanes <= n; i += lanes)
    hn::StoreU(hn::DemoteTo(du8, ClampToBytes(dd, hn::PromoteTo(dd, hn::LoadU(df, src + i)))), du8,
               dst + i);
  for (; i < n; ++i) dst[i] = ClampToByte(Get(src + i));
}

void FloatsToGreyPixelsImpl(const float* HWY_RESTRICT src, std::uint8_t* HWY_RESTRICT dst,
                            std::size_t n) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const hn::Rebind<std::uint32_t, decltype(dd)> du;
  const std::size_t lanes = hn::Lanes(dd);
  const auto spread = hn::Set(du, 0x01010101u);
  std::size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    const auto bytes = hn::BitCast(du, ClampToBytes(dd, hn::PromoteTo(dd, hn::LoadU(df, src + i))));
    hn::StoreU(hn::Mul(bytes, spread), du, reinterpret_cast<std::uint32_t*>(dst + 4 * i));
  }
  for (; i < n; ++i) std::memset(dst + 4 * i, ClampToByte(Get(src + i)), 4);
}

void GreyIntoFourthByteImpl(std::uint8_t* HWY_RESTRICT pixels, std::size_t n) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<std::uint32_t, decltype(dd)> du;
  const hn::Rebind<std::int32_t, decltype(dd)> di;
  const std::size_t lanes = hn::Lanes(dd);
  std::size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    auto* p = reinterpret_cast<std::uint32_t*>(pixels + 4 * i);
    const auto v = hn::LoadU(du, p);
    const auto grey = PackedGrey(dd, v);
    // Truncation of a value in [0.5, 255.5], as the conversion to int does.
    const auto level = hn::BitCast(du, hn::DemoteTo(di, hn::Add(grey, hn::Set(dd, 0.5))));
    hn::StoreU(hn::Or(hn::And(v, hn::Set(du, 0x00FFFFFFu)), hn::ShiftLeft<24>(level)), du, p);
  }
  for (; i < n; ++i) {
    std::uint8_t* p = pixels + 4 * i;
    p[3] = static_cast<std::uint8_t>(ColorToGreyByte(p[0] | (p[1] << 8) | (p[2] << 16)));
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace convertsimd
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq::convertsimd {

HWY_EXPORT(BytesToFloatsImpl);
HWY_EXPORT(GreyOfPackedImpl);
HWY_EXPORT(GreyOfThreeBytesImpl);
HWY_EXPORT(GreyOfFloatsImpl);
HWY_EXPORT(FloatsToBytesImpl);
HWY_EXPORT(FloatsToGreyPixelsImpl);
HWY_EXPORT(GreyIntoFourthByteImpl);

void BytesToFloats(const std::uint8_t* src, float* dst, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(BytesToFloatsImpl)(src, dst, n);
}
void GreyOfPacked(const std::uint8_t* src, float* dst, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(GreyOfPackedImpl)(src, dst, n);
}
void GreyOfThreeBytes(const std::uint8_t* src, float* dst, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(GreyOfThreeBytesImpl)(src, dst, n);
}
void GreyOfFloats(const float* src, float* dst, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(GreyOfFloatsImpl)(src, dst, n);
}
void FloatsToBytes(const float* src, std::uint8_t* dst, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(FloatsToBytesImpl)(src, dst, n);
}
void FloatsToGreyPixels(const float* src, std::uint8_t* dst, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(FloatsToGreyPixelsImpl)(src, dst, n);
}

void GreyIntoFourthByte(std::uint8_t* pixels, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(GreyIntoFourthByteImpl)(pixels, n);
}

}  // namespace tvq::convertsimd
#endif
