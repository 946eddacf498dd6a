// The Deringing pipelines. The glue around the deringing routine (splitting the
// picture into luma and colour differences, adding the luma back) runs rows in
// parallel and pixels in SIMD lanes, each lane doing the plain loop's double
// operations; ReferenceKernels() selects the plain conversions and loops.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "deringing/deringcommand.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "deringing/deringcommand.h"
#include "imaging/imagebase.h"
#include "imaging/parallel.h"

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Double lanes to float lanes as static_cast rounds them (Highway's portable scalar
// target would saturate at the largest float).
template <class DF, class V>
HWY_INLINE hn::Vec<DF> ToFloat(DF df, V v) {
#if HWY_TARGET == HWY_SCALAR
  return hn::Set(df, static_cast<float>(hn::GetLane(v)));
#else
  return hn::DemoteTo(df, v);
#endif
}

// One row of a 24-bit (channels == 3) or 32-bit picture: luma[x] = float(0.114 B +
// 0.587 G + 0.299 R) in double, and colour[4x + k] = float(channel k - luma[x]) for
// blue, green and red, in double, colour[4x + 3] the fourth byte (0 for 24 bits).
void SplitRow(const std::uint8_t* HWY_RESTRICT src, std::int32_t channels, float* HWY_RESTRICT luma,
              float* HWY_RESTRICT colour, std::int32_t w) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const hn::Rebind<std::int32_t, decltype(dd)> di;
  const hn::Rebind<std::uint8_t, decltype(dd)> du;
  const std::int32_t n = static_cast<std::int32_t>(hn::Lanes(dd));
  const auto toDouble = [&](auto bytes) { return hn::PromoteTo(dd, hn::PromoteTo(di, bytes)); };
  const auto cb = hn::Set(dd, 0.114);
  const auto cg = hn::Set(dd, 0.587);
  const auto cr = hn::Set(dd, 0.299);
  std::int32_t x = 0;
  for (; x + n <= w; x += n) {
    hn::Vec<decltype(du)> b, g, r, a;
    if (channels == 4) {
      hn::LoadInterleaved4(du, src + 4 * x, b, g, r, a);
    } else {
      hn::LoadInterleaved3(du, src + 3 * x, b, g, r);
      a = hn::Zero(du);
    }
    const auto bd = toDouble(b);
    const auto gd = toDouble(g);
    const auto rd = toDouble(r);
    const auto y = ToFloat(df, hn::Add(hn::Add(hn::Mul(cb, bd), hn::Mul(cg, gd)), hn::Mul(cr, rd)));
    hn::StoreU(y, df, luma + x);
    const auto v = hn::Neg(hn::PromoteTo(dd, y));
    hn::StoreInterleaved4(ToFloat(df, hn::Add(bd, v)), ToFloat(df, hn::Add(gd, v)),
                          ToFloat(df, hn::Add(rd, v)), ToFloat(df, toDouble(a)), df,
                          colour + 4 * x);
  }
  for (; x < w; ++x) {
    const std::uint8_t* p = src + channels * x;
    const auto y = static_cast<float>(GreyOf(p[0], p[1], p[2]));
    luma[x] = y;
    const double v = -1.0 * static_cast<double>(y);
    float* c = colour + 4 * x;
    for (int k = 0; k < 3; ++k)
      c[k] = static_cast<float>(static_cast<double>(static_cast<float>(p[k])) + v);
    c[3] = channels == 4 ? static_cast<float>(p[3]) : 0.0f;
  }
}

// colour[4x + k] = float(colour[4x + k] + luma[x]) in double for k = 0, 1, 2; the
// fourth channel keeps its bits.
void AddLumaRow(float* HWY_RESTRICT colour, const float* HWY_RESTRICT luma, std::int32_t w) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::int32_t n = static_cast<std::int32_t>(hn::Lanes(dd));
  std::int32_t x = 0;
  for (; x + n <= w; x += n) {
    hn::Vec<decltype(df)> b, g, r, a;
    hn::LoadInterleaved4(df, colour + 4 * x, b, g, r, a);
    const auto v = hn::PromoteTo(dd, hn::LoadU(df, luma + x));
    const auto add = [&](auto c) { return ToFloat(df, hn::Add(hn::PromoteTo(dd, c), v)); };
    hn::StoreInterleaved4(add(b), add(g), add(r), a, df, colour + 4 * x);
  }
  for (; x < w; ++x) {
    const double v = static_cast<double>(luma[x]);
    float* c = colour + 4 * x;
    for (int k = 0; k < 3; ++k) c[k] = static_cast<float>(static_cast<double>(c[k]) + v);
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq {

namespace {

constexpr std::int32_t kCommandStages = 15;

HWY_EXPORT(SplitRow);
HWY_EXPORT(AddLumaRow);

// Rows per parallel chunk for the per-pixel glue: about 64K pixels.
std::int64_t GlueGrain(std::int32_t w) {
  return std::max<std::int64_t>(1, (std::int64_t{1} << 16) / std::max(1, w));
}

// channel = channel + sign * luma for the blue, green and red channels of every pixel.
void AddLumaReference(TImageF4& colour, const TImageF& luma, double sign) {
  for (std::int32_t y = 0; y < colour.Height(); ++y) {
    float* c = colour.Row(y);
    const float* l = luma.Row(y);
    for (std::int32_t x = 0; x < colour.Width(); ++x, c += 4) {
      const double v = sign * static_cast<double>(l[x]);
      for (int k = 0; k < 3; ++k) c[k] = static_cast<float>(static_cast<double>(c[k]) + v);
    }
  }
}

// Luma and colour differences of a 24- or 32-bit picture, as ImageFromBitmap into a
// luma and a four-float image followed by AddLumaReference(colour, luma, -1) make them.
void SplitLuma(const Bitmap& picture, TImageF& luma, TImageF4& colour) {
  const bool fast = !ReferenceKernels() && !picture.Empty() &&
                    (picture.BitsPerPixel() == 24 || picture.BitsPerPixel() == 32);
  if (!fast) {
    ImageFromBitmap(picture, ifF, luma);
    ImageFromBitmap(picture, ifF4, colour);
    AddLumaReference(colour, luma, -1.0);
    return;
  }
  const std::int32_t w = picture.Width();
  const std::int32_t h = picture.Height();
  const std::int32_t channels = picture.BitsPerPixel() / 8;
  luma = TImageF(w, h);
  colour = TImageF4(w, h);
  ParallelFor(h, GlueGrain(w), [&](std::int64_t begin, std::int64_t end) {
    for (auto y = static_cast<std::int32_t>(begin); y < end; ++y)
      HWY_DYNAMIC_DISPATCH(SplitRow)(picture.ScanLine(y), channels, luma.Row(y), colour.Row(y), w);
  });
}

// colour + luma for blue, green and red: AddLumaReference(colour, luma, 1) in parallel
// rows and SIMD lanes.
void AddLuma(TImageF4& colour, const TImageF& luma) {
  if (ReferenceKernels()) {
    AddLumaReference(colour, luma, 1.0);
    return;
  }
  const std::int32_t w = colour.Width();
  ParallelFor(colour.Height(), GlueGrain(w), [&](std::int64_t begin, std::int64_t end) {
    for (auto y = static_cast<std::int32_t>(begin); y < end; ++y)
      HWY_DYNAMIC_DISPATCH(AddLumaRow)(colour.Row(y), luma.Row(y), w);
  });
}

}  // namespace

TImageF4 Dering(const Bitmap& picture, const DeringParams& params, const EdgeMaskParams* mask,
                Progress& progress) {
  params.Validate();
  if (mask != nullptr) mask->Validate();

  progress.ShowProgress("Initialization", 0, kCommandStages);
  TImageF luma;
  TImageF4 result;  // the colour differences until the luma is added back
  SplitLuma(picture, luma, result);
  progress.ShowProgress("Initialization", 1, kCommandStages);
  progress.ShowProgress("Converting to YUV", 2, kCommandStages);

  TImageF untouched;
  TImageF weights;
  if (mask != nullptr) {
    untouched = luma.Clone();
    weights = ComputeEdgeMask(luma, *mask);
  }
  DeringLuma(luma, params, progress);
  if (mask != nullptr) MaskBlend(luma, untouched, weights);

  AddLuma(result, luma);
  return result;
}

TImageF EdgeMaskCommand(const Bitmap& picture, const EdgeMaskParams& mask) {
  mask.Validate();
  TImageF luma;
  ImageFromBitmap(picture, ifF, luma);
  return ComputeEdgeMask(luma, mask);
}

void DeringAfterResample(TImageF& enlarged, const TImageF& lowResLuma, const DeringParams& params,
                         const EdgeMaskParams* mask, Progress& progress) {
  params.Validate();
  if (mask != nullptr) mask->Validate();
  if (enlarged.Width() != 2 * lowResLuma.Width() || enlarged.Height() != 2 * lowResLuma.Height())
    throw EZorException(ecBadSize, "the enlarged luma is " + std::to_string(enlarged.Width()) +
                                       "x" + std::to_string(enlarged.Height()) +
                                       ", not twice the " + std::to_string(lowResLuma.Width()) +
                                       "x" + std::to_string(lowResLuma.Height()) + " reference");

  TImageF untouched;
  TImageF weights;
  if (mask != nullptr) {
    untouched = enlarged.Clone();
    weights = ComputeEdgeMask(enlarged, *mask);
  }
  DeringEnlargedLuma(enlarged, lowResLuma, params, progress);
  if (mask != nullptr) MaskBlend(enlarged, untouched, weights);
}

}  // namespace tvq
#endif  // HWY_ONCE
