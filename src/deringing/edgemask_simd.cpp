// Vectorised row kernels of the edge mask, the mask blend and the Deringing glue
// (luma of a picture row, recombination of luma and colour), compiled for every
// instruction set Highway dispatches to. Each lane does exactly the IEEE operations
// of the plain loops in edgemask.cpp, in the same order, so the results are the same
// bits; the lanes only run several outputs of a row side by side.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "deringing/edgemask_simd.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include "imaging/simd_exact.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "deringing/edgemask_kernels.h"
#include "imaging/imagebase.h"

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// out[x] for 1 <= x < w - 1 from the four neighbour differences |c - n|, each in
// double: half their sum (left + right + top + bottom) or their maximum as
// std::max(std::max(left, right), std::max(top, bottom)) picks it.
void VariationRow(const float* HWY_RESTRICT up, const float* HWY_RESTRICT row,
                  const float* HWY_RESTRICT down, float* HWY_RESTRICT out, std::int32_t w,
                  bool maximum) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::int32_t n = static_cast<std::int32_t>(hn::Lanes(dd));
  const auto half = hn::Set(dd, 0.5);
  // std::max(a, b) is (a < b) ? b : a.
  const auto stdMax = [](auto a, auto b) { return hn::IfThenElse(hn::Lt(a, b), b, a); };
  std::int32_t x = 1;
  for (; x + n <= w - 1; x += n) {
    const auto c = hn::PromoteTo(dd, hn::LoadU(df, row + x));
    const auto left = hn::Abs(hn::Sub(c, hn::PromoteTo(dd, hn::LoadU(df, row + x - 1))));
    const auto right = hn::Abs(hn::Sub(c, hn::PromoteTo(dd, hn::LoadU(df, row + x + 1))));
    const auto top = hn::Abs(hn::Sub(c, hn::PromoteTo(dd, hn::LoadU(df, up + x))));
    const auto bottom = hn::Abs(hn::Sub(c, hn::PromoteTo(dd, hn::LoadU(df, down + x))));
    const auto v = maximum ? stdMax(stdMax(left, right), stdMax(top, bottom))
                           : hn::Mul(half, hn::Add(hn::Add(hn::Add(left, right), top), bottom));
    hn::StoreU(DemoteExact(df, v), df, out + x);
  }
  for (; x + 1 < w; ++x) {
    const double c = row[x];
    const double left = std::fabs(c - row[x - 1]);
    const double right = std::fabs(c - row[x + 1]);
    const double top = std::fabs(c - up[x]);
    const double bottom = std::fabs(c - down[x]);
    if (maximum)
      out[x] = static_cast<float>(std::max(std::max(left, right), std::max(top, bottom)));
    else
      out[x] = static_cast<float>(0.5 * (left + right + top + bottom));
  }
}

// out[x] = sqrt(gx^2 + gy^2) in double, for 0 <= x < w.
void GradientNormRow(const float* HWY_RESTRICT gx, const float* HWY_RESTRICT gy,
                     float* HWY_RESTRICT out, std::int32_t w) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::int32_t n = static_cast<std::int32_t>(hn::Lanes(dd));
  std::int32_t x = 0;
  for (; x + n <= w; x += n) {
    const auto a = hn::PromoteTo(dd, hn::LoadU(df, gx + x));
    const auto b = hn::PromoteTo(dd, hn::LoadU(df, gy + x));
    hn::StoreU(DemoteExact(df, hn::Sqrt(hn::Add(hn::Mul(a, a), hn::Mul(b, b)))), df, out + x);
  }
  for (; x < w; ++x) {
    const double a = gx[x];
    const double b = gy[x];
    out[x] = static_cast<float>(std::sqrt(a * a + b * b));
  }
}

// out[i] = noise + multiplier * m[i] in double for 0 <= i < count.
void ComparisonRow(const float* HWY_RESTRICT m, double* HWY_RESTRICT out, std::int32_t count,
                   double noise, double multiplier) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::int32_t n = static_cast<std::int32_t>(hn::Lanes(dd));
  const auto vn = hn::Set(dd, noise);
  const auto vm = hn::Set(dd, multiplier);
  std::int32_t i = 0;
  for (; i + n <= count; i += n)
    hn::StoreU(hn::Add(vn, hn::Mul(vm, hn::PromoteTo(dd, hn::LoadU(df, m + i)))), dd, out + i);
  for (; i < count; ++i) out[i] = noise + multiplier * static_cast<double>(m[i]);
}

// counts[x] for x < w rounded up to whole vectors: the number of window positions
// (dx, dy) with v[x] * g[dx] * g[dy] > rows[dy][x + dx], both offsets in
// -radius..radius. rows[k] points at the comparison row of offset k - radius, whose
// element 0 stands for column -radius; v and the rows are readable that far.
// The product of a float and a float profile value is exact in double, so
// (v * g[dy]) * g[dx] rounds once, as (v * g[dx]) * g[dy] does; the profile is
// symmetric, so one product serves the (up to) four positions (+-dx, +-dy).
// A vector whose v are all at most `quiet` counts nothing: the caller passes a value
// no comparison's right-hand side falls below while every profile value is at most 1,
// so that v * g[dx] * g[dy] <= v <= quiet cannot exceed it (or -infinity).
void CountRow(const float* HWY_RESTRICT v, const double* const* rows, const float* g,
              std::int32_t radius, std::int32_t w, double quiet,
              std::int64_t* HWY_RESTRICT counts) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const hn::RebindToSigned<decltype(dd)> di;
  const std::int32_t n = static_cast<std::int32_t>(hn::Lanes(dd));
  const float* gc = g + radius;  // gc[k] = g[k + radius]
  // A masked increment where the comparison holds: one instruction with AVX-512
  // beside the comparison, instead of a mask-to-vector move and a subtraction that
  // both compete for the comparison's port (bench_edgemask "EdgeMask", one thread:
  // 4.2 ms of CPU against 5.0 ms).
  const auto one = hn::Set(di, 1);
  const auto tally = [&](auto& count, auto lhs, const double* p) {
    const auto m = hn::RebindMask(di, hn::Gt(lhs, hn::LoadU(dd, p)));
    count = hn::IfThenElse(m, hn::Add(count, one), count);
  };
  const auto vquiet = hn::Set(dd, quiet);
  for (std::int32_t x0 = 0; x0 < w; x0 += n) {
    const auto vv = hn::PromoteTo(dd, hn::LoadU(df, v + x0));
    if (hn::AllTrue(dd, hn::Le(vv, vquiet))) {
      hn::StoreU(hn::Zero(di), di, counts + x0);
      continue;
    }
    auto countA = hn::Zero(di);
    auto countB = hn::Zero(di);
    {
      const double* c = rows[radius] + x0 + radius;
      const auto vg = hn::Mul(vv, hn::Set(dd, gc[0]));
      tally(countA, hn::Mul(vg, hn::Set(dd, gc[0])), c);
      for (std::int32_t b = 1; b <= radius; ++b) {
        const auto lhs = hn::Mul(vg, hn::Set(dd, gc[b]));
        tally(countA, lhs, c - b);
        tally(countB, lhs, c + b);
      }
    }
    for (std::int32_t a = 1; a <= radius; ++a) {
      const double* up = rows[radius - a] + x0 + radius;
      const double* down = rows[radius + a] + x0 + radius;
      const auto vg = hn::Mul(vv, hn::Set(dd, gc[a]));
      const auto lhs0 = hn::Mul(vg, hn::Set(dd, gc[0]));
      tally(countA, lhs0, up);
      tally(countB, lhs0, down);
      for (std::int32_t b = 1; b <= radius; ++b) {
        const auto lhs = hn::Mul(vg, hn::Set(dd, gc[b]));
        tally(countA, lhs, up - b);
        tally(countB, lhs, up + b);
        tally(countA, lhs, down - b);
        tally(countB, lhs, down + b);
      }
    }
    hn::StoreU(hn::Add(countA, countB), di, counts + x0);
  }
}

// out[x] for x < w rounded up to whole vectors: the running maximum of the padded
// row p (p[i] stands for column i - radius) over x - radius .. x + radius, starting
// from the centre and taking a value only when it is greater, in the order -radius ..
// radius, as the plain loop does (which decides NaNs and signed zeros).
void DilateRow(const float* HWY_RESTRICT p, float* HWY_RESTRICT out, std::int32_t w,
               std::int32_t radius) {
  const hn::ScalableTag<float> df;
  const std::int32_t n = static_cast<std::int32_t>(hn::Lanes(df));
  for (std::int32_t x0 = 0; x0 < w; x0 += n) {
    const float* c = p + x0 + radius;
    auto m = hn::LoadU(df, c);
    for (std::int32_t k = -radius; k <= radius; ++k) {
      const auto v = hn::LoadU(df, c + k);
      m = hn::IfThenElse(hn::Gt(v, m), v, m);
    }
    hn::StoreU(m, df, out + x0);
  }
}

// The same fold down a column: out[x] starts at centre[x] and takes rows[k][x],
// k = 0 .. count - 1, when it is greater.
void DilateColumns(const float* const* rows, std::int32_t count, const float* HWY_RESTRICT centre,
                   float* HWY_RESTRICT out, std::int32_t w) {
  const hn::ScalableTag<float> df;
  const std::int32_t n = static_cast<std::int32_t>(hn::Lanes(df));
  std::int32_t x = 0;
  for (; x + n <= w; x += n) {
    auto m = hn::LoadU(df, centre + x);
    for (std::int32_t k = 0; k < count; ++k) {
      const auto v = hn::LoadU(df, rows[k] + x);
      m = hn::IfThenElse(hn::Gt(v, m), v, m);
    }
    hn::StoreU(m, df, out + x);
  }
  for (; x < w; ++x) {
    float m = centre[x];
    for (std::int32_t k = 0; k < count; ++k)
      if (rows[k][x] > m) m = rows[k][x];
    out[x] = m;
  }
}

// The blend l = (m * l + (255 - m) * u) / 255, whose plain form runs in long double.
float BlendPlain(float m, float l, float u) {
  constexpr long double kInv255 = 1.0L / 255.0L;
  const long double mv = m;
  return static_cast<float>((mv * l + (255.0L - mv) * u) * kInv255);
}

// BlendPlain in double lanes. Each lane evaluates the same expression in double, r =
// (m * l + (255 - m) * u) * (1 / 255), and a bound e on its distance from the long
// double value X. The products m * l are exact in both; the other four roundings (255
// - m, the product with u, the sum, the product with 1 / 255, plus the rounding of 1 /
// 255) move each result by at most 5.01 units of its precision relative to M / 255,
// with M = |m * l| + |(255 - m) * u|. So |r - X| <= 5.01 (2^-53 + 2^-64) M / 255 <
// 2^-58.6 M, and e = 2^-56 M leaves room for the rounding of r - e and r + e and of
// M itself. Rounding to float is monotonic, so when r - e and r + e round to the
// same float (same bits, so a sign of zero counts too) X rounds to it as well.
// Returns false when a lane's two roundings differ (r within about 2^-48 of a float
// rounding boundary, a NaN or an infinity); those lanes need BlendPlain.
template <class DD, class DF>
HWY_INLINE bool BlendLanes(DD dd, DF df, hn::Vec<DD> m, hn::Vec<DD> l, hn::Vec<DD> u,
                           hn::Vec<DF>& out) {
  const hn::RebindToSigned<DF> di;
  const auto p1 = hn::Mul(m, l);
  const auto p2 = hn::Mul(hn::Sub(hn::Set(dd, 255.0), m), u);
  const auto r = hn::Mul(hn::Add(p1, p2), hn::Set(dd, 1.0 / 255.0));
  const auto e = hn::Mul(hn::Add(hn::Abs(p1), hn::Abs(p2)), hn::Set(dd, 0x1p-56));
  const auto lo = DemoteExact(df, hn::Sub(r, e));
  const auto hi = DemoteExact(df, hn::Add(r, e));
  out = lo;
  return hn::AllTrue(di, hn::And(hn::Eq(hn::BitCast(di, lo), hn::BitCast(di, hi)),
                                 hn::RebindMask(di, hn::Eq(lo, lo))));
}

// True when every lane has mask 0 (of either sign), a finite l and a finite, non-zero
// u: BlendPlain then gives u itself. m * l is then a zero, (255 - m) * u = 255 u is
// exact and non-zero, so the sum is 255 u, and the product with 1 / 255 (rounded to
// long double) and its rounding stay within 2^-62 of u relative to it, far less than
// half a float step: the float is u. Away from edges the mask is 0, and such vectors
// skip the double lanes (bench_edgemask "MaskBlend", one thread: 0.114 ms of CPU
// against 0.134 ms).
template <class DF>
HWY_INLINE bool KeepsUntouched(DF df, hn::Vec<DF> m, hn::Vec<DF> l, hn::Vec<DF> u) {
  const auto zero = hn::Zero(df);
  return hn::AllTrue(df, hn::And(hn::And(hn::Eq(m, zero), hn::IsFinite(l)),
                                 hn::And(hn::Ne(u, zero), hn::IsFinite(u))));
}

// One row of MaskBlend: l = BlendPlain(m, l, u).
void BlendRow(float* HWY_RESTRICT l, const float* HWY_RESTRICT u, const float* HWY_RESTRICT m,
              std::int32_t w) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::int32_t n = static_cast<std::int32_t>(hn::Lanes(dd));
  std::int32_t x = 0;
  for (; x + n <= w; x += n) {
    const auto mf = hn::LoadU(df, m + x);
    const auto lf = hn::LoadU(df, l + x);
    const auto uf = hn::LoadU(df, u + x);
    hn::Vec<decltype(df)> out;
    if (KeepsUntouched(df, mf, lf, uf))
      hn::StoreU(uf, df, l + x);
    else if (BlendLanes(dd, df, hn::PromoteTo(dd, mf), hn::PromoteTo(dd, lf), hn::PromoteTo(dd, uf),
                        out))
      hn::StoreU(out, df, l + x);
    else
      for (std::int32_t k = x; k < x + n; ++k) l[k] = BlendPlain(m[k], l[k], u[k]);
  }
  for (; x < w; ++x) l[x] = BlendPlain(m[x], l[x], u[x]);
}

// The blue, green, red and fourth bytes of the pixels at src of a 24-bit
// (channels == 3, the fourth byte 0) or 32-bit picture row.
template <class DU, class VU = hn::Vec<DU>>
HWY_INLINE void LoadChannelBytes(DU du, const std::uint8_t* HWY_RESTRICT src, std::int32_t channels,
                                 VU& b, VU& g, VU& r, VU& a) {
  if (channels == 4) {
    hn::LoadInterleaved4(du, src, b, g, r, a);
  } else {
    hn::LoadInterleaved3(du, src, b, g, r);
    a = hn::Zero(du);
  }
}

// The channels of the n pixels at src of a 24-bit (channels == 3) or 32-bit picture
// row as integer lanes, and their luma float(0.114 B + 0.587 G + 0.299 R), evaluated
// in double.
template <class DD, class VI = hn::Vec<hn::Rebind<std::int32_t, DD>>>
HWY_INLINE hn::Vec<hn::Rebind<float, DD>> LoadPixels(DD dd, const std::uint8_t* HWY_RESTRICT src,
                                                     std::int32_t channels, VI& b, VI& g, VI& r,
                                                     VI& a) {
  const hn::Rebind<float, DD> df;
  const hn::Rebind<std::int32_t, DD> di;
  const hn::Rebind<std::uint8_t, DD> du;
  hn::Vec<decltype(du)> b8, g8, r8, a8;
  LoadChannelBytes(du, src, channels, b8, g8, r8, a8);
  b = hn::PromoteTo(di, b8);
  g = hn::PromoteTo(di, g8);
  r = hn::PromoteTo(di, r8);
  a = hn::PromoteTo(di, a8);
  return DemoteExact(
      df, GreyLanes(dd, hn::PromoteTo(dd, b), hn::PromoteTo(dd, g), hn::PromoteTo(dd, r)));
}

#if HWY_TARGET != HWY_SCALAR
// LoadPixels for a full float vector of pixels (twice the double lanes): the
// channels as float lanes (exact, being bytes) and the luma, formed in double in two
// halves. Fewer, wider interleaving shuffles and conversions than two LoadPixels:
// bench_edgemask "DeringGlue" (AVX-512, one thread) 0.57 ms of CPU against 0.67 ms.
template <class DF, class V = hn::Vec<DF>>
HWY_INLINE V LoadPixelsWide(DF df, const std::uint8_t* HWY_RESTRICT src, std::int32_t channels,
                            V& b, V& g, V& r, V& a) {
  const hn::Rebind<std::uint8_t, DF> du;
  const hn::Rebind<std::int32_t, DF> di;
  const hn::Half<DF> dh;
  const hn::Repartition<double, DF> dd;
  hn::Vec<decltype(du)> b8, g8, r8, a8;
  LoadChannelBytes(du, src, channels, b8, g8, r8, a8);
  b = hn::ConvertTo(df, hn::PromoteTo(di, b8));
  g = hn::ConvertTo(df, hn::PromoteTo(di, g8));
  r = hn::ConvertTo(df, hn::PromoteTo(di, r8));
  a = hn::ConvertTo(df, hn::PromoteTo(di, a8));
  const auto grey = [&](auto bh, auto gh, auto rh) {
    return DemoteExact(
        dh, GreyLanes(dd, hn::PromoteTo(dd, bh), hn::PromoteTo(dd, gh), hn::PromoteTo(dd, rh)));
  };
  return hn::Combine(df, grey(hn::UpperHalf(dh, b), hn::UpperHalf(dh, g), hn::UpperHalf(dh, r)),
                     grey(hn::LowerHalf(dh, b), hn::LowerHalf(dh, g), hn::LowerHalf(dh, r)));
}
#endif

// luma[x] = float(0.114 B + 0.587 G + 0.299 R) of one picture row.
void LumaRow(const std::uint8_t* HWY_RESTRICT src, std::int32_t channels, float* HWY_RESTRICT luma,
             std::int32_t w) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::int32_t n = static_cast<std::int32_t>(hn::Lanes(dd));
  std::int32_t x = 0;
#if HWY_TARGET != HWY_SCALAR
  const hn::ScalableTag<float> dw;
  const std::int32_t nw = static_cast<std::int32_t>(hn::Lanes(dw));
  for (; x + nw <= w; x += nw) {
    hn::Vec<decltype(dw)> b, g, r, a;
    hn::StoreU(LoadPixelsWide(dw, src + channels * x, channels, b, g, r, a), dw, luma + x);
  }
#endif
  for (; x + n <= w; x += n) {
    hn::Vec<hn::Rebind<std::int32_t, decltype(dd)>> b, g, r, a;
    hn::StoreU(LoadPixels(dd, src + channels * x, channels, b, g, r, a), df, luma + x);
  }
  for (; x < w; ++x) {
    const std::uint8_t* p = src + channels * x;
    luma[x] = static_cast<float>(GreyOf(p[0], p[1], p[2]));
  }
}

// One pixel of RecombineRow.
void RecombinePixel(const std::uint8_t* p, std::int32_t channels, float l, const float* mask,
                    float* c) {
  const auto u = static_cast<float>(GreyOf(p[0], p[1], p[2]));
  if (mask != nullptr) l = BlendPlain(*mask, l, u);
  const double v = -1.0 * static_cast<double>(u);
  for (int k = 0; k < 3; ++k) {
    const auto difference = static_cast<float>(static_cast<double>(static_cast<float>(p[k])) + v);
    c[k] = static_cast<float>(static_cast<double>(difference) + static_cast<double>(l));
  }
  c[3] = channels == 4 ? static_cast<float>(p[3]) : 0.0f;
}

// One row of the Deringing result: u = the luma of the picture row (as LumaRow forms
// it), l = luma, blended with u by the mask when there is one; for blue, green and
// red the colour difference float(channel - u) and then float(difference + l), both
// in double; the fourth channel is the fourth byte (0 for 24 bits).
//
// Both sums are formed in float lanes, which gives the same bits and saves the
// conversions to double and back that bounded this kernel (bench_edgemask
// "DeringGlue", AVX-512, one thread: 0.85 ms of CPU before, most of it in the
// conversions). The sum or difference of two floats formed in double and then rounded
// to float equals the float operation itself: double has at least 2 * 24 + 2
// significant bits, which makes the double rounding innocuous for addition (and the
// channel, an integer below 256, is a float exactly).
void RecombineRow(const std::uint8_t* HWY_RESTRICT src, std::int32_t channels,
                  const float* HWY_RESTRICT luma, const float* HWY_RESTRICT mask,
                  float* HWY_RESTRICT colour, std::int32_t w) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::int32_t n = static_cast<std::int32_t>(hn::Lanes(dd));
  std::int32_t x = 0;
#if HWY_TARGET != HWY_SCALAR
  const hn::ScalableTag<float> dw;
  const hn::Half<decltype(dw)> dh;
  const std::int32_t nw = static_cast<std::int32_t>(hn::Lanes(dw));
  for (; x + nw <= w; x += nw) {
    hn::Vec<decltype(dw)> b, g, r, a;
    const auto u = LoadPixelsWide(dw, src + channels * x, channels, b, g, r, a);
    auto l = hn::LoadU(dw, luma + x);
    if (mask != nullptr) {
      const auto m = hn::LoadU(dw, mask + x);
      if (KeepsUntouched(dw, m, l, u)) {
        l = u;
      } else {
        hn::Vec<decltype(dh)> low, high;
        const auto lower = [&](auto v) { return hn::PromoteTo(dd, hn::LowerHalf(dh, v)); };
        const auto upper = [&](auto v) { return hn::PromoteTo(dd, hn::UpperHalf(dh, v)); };
        if (!BlendLanes(dd, dh, lower(m), lower(l), lower(u), low) ||
            !BlendLanes(dd, dh, upper(m), upper(l), upper(u), high)) {
          for (std::int32_t k = x; k < x + nw; ++k)
            RecombinePixel(src + channels * k, channels, luma[k], mask + k, colour + 4 * k);
          continue;
        }
        l = hn::Combine(dw, high, low);
      }
    }
    hn::StoreInterleaved4(hn::Add(hn::Sub(b, u), l), hn::Add(hn::Sub(g, u), l),
                          hn::Add(hn::Sub(r, u), l), a, dw, colour + 4 * x);
  }
#endif
  for (; x + n <= w; x += n) {
    hn::Vec<hn::Rebind<std::int32_t, decltype(dd)>> b, g, r, a;
    const auto u = LoadPixels(dd, src + channels * x, channels, b, g, r, a);
    auto l = hn::LoadU(df, luma + x);
    const auto m = mask != nullptr ? hn::LoadU(df, mask + x) : hn::Zero(df);
    if (mask != nullptr && KeepsUntouched(df, m, l, u)) {
      l = u;
    } else if (mask != nullptr && !BlendLanes(dd, df, hn::PromoteTo(dd, m), hn::PromoteTo(dd, l),
                                              hn::PromoteTo(dd, u), l)) {
      for (std::int32_t k = x; k < x + n; ++k)
        RecombinePixel(src + channels * k, channels, luma[k], mask + k, colour + 4 * k);
      continue;
    }
    const auto db = hn::Sub(hn::ConvertTo(df, b), u);
    const auto dg = hn::Sub(hn::ConvertTo(df, g), u);
    const auto dr = hn::Sub(hn::ConvertTo(df, r), u);
    hn::StoreInterleaved4(hn::Add(db, l), hn::Add(dg, l), hn::Add(dr, l), hn::ConvertTo(df, a), df,
                          colour + 4 * x);
  }
  for (; x < w; ++x)
    RecombinePixel(src + channels * x, channels, luma[x], mask != nullptr ? mask + x : nullptr,
                   colour + 4 * x);
}

}  // namespace HWY_NAMESPACE
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq {
namespace edgemask_kernels {

HWY_EXPORT(VariationRow);
HWY_EXPORT(GradientNormRow);
HWY_EXPORT(ComparisonRow);
HWY_EXPORT(CountRow);
HWY_EXPORT(DilateRow);
HWY_EXPORT(DilateColumns);
HWY_EXPORT(BlendRow);
HWY_EXPORT(LumaRow);
HWY_EXPORT(RecombineRow);

void VariationRow(const float* up, const float* row, const float* down, float* out, std::int32_t w,
                  bool maximum) {
  HWY_DYNAMIC_DISPATCH(VariationRow)(up, row, down, out, w, maximum);
}
void GradientNormRow(const float* gx, const float* gy, float* out, std::int32_t w) {
  HWY_DYNAMIC_DISPATCH(GradientNormRow)(gx, gy, out, w);
}
void ComparisonRow(const float* m, double* out, std::int32_t count, double noise,
                   double multiplier) {
  HWY_DYNAMIC_DISPATCH(ComparisonRow)(m, out, count, noise, multiplier);
}
void CountRow(const float* v, const double* const* rows, const float* g, std::int32_t radius,
              std::int32_t w, double quiet, std::int64_t* counts) {
  HWY_DYNAMIC_DISPATCH(CountRow)(v, rows, g, radius, w, quiet, counts);
}
void DilateRow(const float* p, float* out, std::int32_t w, std::int32_t radius) {
  HWY_DYNAMIC_DISPATCH(DilateRow)(p, out, w, radius);
}
void DilateColumns(const float* const* rows, std::int32_t count, const float* centre, float* out,
                   std::int32_t w) {
  HWY_DYNAMIC_DISPATCH(DilateColumns)(rows, count, centre, out, w);
}
void BlendRow(float* l, const float* u, const float* m, std::int32_t w) {
  HWY_DYNAMIC_DISPATCH(BlendRow)(l, u, m, w);
}
void LumaRow(const std::uint8_t* src, std::int32_t channels, float* luma, std::int32_t w) {
  HWY_DYNAMIC_DISPATCH(LumaRow)(src, channels, luma, w);
}
void RecombineRow(const std::uint8_t* src, std::int32_t channels, const float* luma,
                  const float* mask, float* colour, std::int32_t w) {
  HWY_DYNAMIC_DISPATCH(RecombineRow)(src, channels, luma, mask, colour, w);
}

}  // namespace edgemask_kernels
}  // namespace tvq
#endif  // HWY_ONCE
