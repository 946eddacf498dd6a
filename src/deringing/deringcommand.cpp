// The Deringing pipelines. The glue around the deringing routine runs rows in
// parallel and pixels in SIMD lanes, each lane doing the plain loop's double
// operations; ReferenceKernels() selects the plain conversions and loops.
//
// The fast Deringing command stores only the luma while the routine runs: the
// untouched luma and the colour differences are functions of the picture's bytes, so
// the last pass forms them again from the picture, row by row, blends the luma and
// adds it back. This saves the four-float difference image's passes and the untouched
// copy (bench_edgemask "DeringGlue" and "MaskedDeringGlue").
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "deringing/deringcommand.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

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

// The channels of n pixels of a 24-bit (channels == 3) or 32-bit picture row as
// double lanes, and the luma float(0.114 B + 0.587 G + 0.299 R) evaluated in double.
template <class DD, class V>
HWY_INLINE hn::Vec<hn::Rebind<float, DD>> LoadPixels(DD dd, const std::uint8_t* HWY_RESTRICT src,
                                                     std::int32_t channels, V& b, V& g, V& r,
                                                     V& a) {
  const hn::Rebind<float, DD> df;
  const hn::Rebind<std::int32_t, DD> di;
  const hn::Rebind<std::uint8_t, DD> du;
  hn::Vec<decltype(du)> b8, g8, r8, a8;
  if (channels == 4) {
    hn::LoadInterleaved4(du, src, b8, g8, r8, a8);
  } else {
    hn::LoadInterleaved3(du, src, b8, g8, r8);
    a8 = hn::Zero(du);
  }
  b = hn::PromoteTo(dd, hn::PromoteTo(di, b8));
  g = hn::PromoteTo(dd, hn::PromoteTo(di, g8));
  r = hn::PromoteTo(dd, hn::PromoteTo(di, r8));
  a = hn::PromoteTo(dd, hn::PromoteTo(di, a8));
  return ToFloat(df,
                 hn::Add(hn::Add(hn::Mul(hn::Set(dd, 0.114), b), hn::Mul(hn::Set(dd, 0.587), g)),
                         hn::Mul(hn::Set(dd, 0.299), r)));
}

// luma[x] = float(0.114 B + 0.587 G + 0.299 R) of one picture row.
void LumaRow(const std::uint8_t* HWY_RESTRICT src, std::int32_t channels, float* HWY_RESTRICT luma,
             std::int32_t w) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::int32_t n = static_cast<std::int32_t>(hn::Lanes(dd));
  std::int32_t x = 0;
  for (; x + n <= w; x += n) {
    hn::Vec<decltype(dd)> b, g, r, a;
    hn::StoreU(LoadPixels(dd, src + channels * x, channels, b, g, r, a), df, luma + x);
  }
  for (; x < w; ++x) {
    const std::uint8_t* p = src + channels * x;
    luma[x] = static_cast<float>(GreyOf(p[0], p[1], p[2]));
  }
}

// One row of the result: for blue, green and red the colour difference
// float(channel - untouched) and then float(difference + luma), both in double; the
// fourth channel is the fourth byte (0 for 24 bits). untouched is the luma of the
// picture's row as LumaRow forms it.
void RecombineRow(const std::uint8_t* HWY_RESTRICT src, std::int32_t channels,
                  const float* HWY_RESTRICT untouched, const float* HWY_RESTRICT luma,
                  float* HWY_RESTRICT colour, std::int32_t w) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::int32_t n = static_cast<std::int32_t>(hn::Lanes(dd));
  std::int32_t x = 0;
  for (; x + n <= w; x += n) {
    hn::Vec<decltype(dd)> b, g, r, a;
    LoadPixels(dd, src + channels * x, channels, b, g, r, a);
    const auto v = hn::Neg(hn::PromoteTo(dd, hn::LoadU(df, untouched + x)));
    const auto l = hn::PromoteTo(dd, hn::LoadU(df, luma + x));
    const auto channel = [&](auto c) {
      return ToFloat(df, hn::Add(hn::PromoteTo(dd, ToFloat(df, hn::Add(c, v))), l));
    };
    hn::StoreInterleaved4(channel(b), channel(g), channel(r), ToFloat(df, a), df, colour + 4 * x);
  }
  for (; x < w; ++x) {
    const std::uint8_t* p = src + channels * x;
    const double v = -1.0 * static_cast<double>(untouched[x]);
    const double l = static_cast<double>(luma[x]);
    float* c = colour + 4 * x;
    for (int k = 0; k < 3; ++k) {
      const auto difference = static_cast<float>(static_cast<double>(static_cast<float>(p[k])) + v);
      c[k] = static_cast<float>(static_cast<double>(difference) + l);
    }
    c[3] = channels == 4 ? static_cast<float>(p[3]) : 0.0f;
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq {

namespace {

constexpr std::int32_t kCommandStages = 15;

HWY_EXPORT(LumaRow);
HWY_EXPORT(RecombineRow);

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

// Whether the fast glue handles the picture: fast kernels selected and a 24- or 32-bit
// picture (others are refused by ImageFromBitmap on the plain path).
bool FastGlue(const Bitmap& picture) {
  return !ReferenceKernels() && !picture.Empty() &&
         (picture.BitsPerPixel() == 24 || picture.BitsPerPixel() == 32);
}

// The luma of the picture, as ImageFromBitmap into a float plane forms it.
TImageF LumaOf(const Bitmap& picture) {
  TImageF luma;
  if (!FastGlue(picture)) {
    ImageFromBitmap(picture, ifF, luma);
    return luma;
  }
  const std::int32_t w = picture.Width();
  const std::int32_t channels = picture.BitsPerPixel() / 8;
  luma = TImageF(w, picture.Height());
  ParallelFor(picture.Height(), GlueGrain(w), [&](std::int64_t begin, std::int64_t end) {
    for (auto y = static_cast<std::int32_t>(begin); y < end; ++y)
      HWY_DYNAMIC_DISPATCH(LumaRow)(picture.ScanLine(y), channels, luma.Row(y), w);
  });
  return luma;
}

// The plain Deringing command: the picture as luma and four floats, the colour
// differences, the untouched copy, the mask blend and the luma added back.
TImageF4 DeringReference(const Bitmap& picture, const DeringParams& params,
                         const EdgeMaskParams* mask, Progress& progress) {
  progress.ShowProgress("Initialization", 0, kCommandStages);
  TImageF luma;
  ImageFromBitmap(picture, ifF, luma);
  TImageF4 result;
  ImageFromBitmap(picture, ifF4, result);
  progress.ShowProgress("Initialization", 1, kCommandStages);

  progress.ShowProgress("Converting to YUV", 2, kCommandStages);
  AddLumaReference(result, luma, -1.0);  // result now holds the colour differences

  TImageF untouched;
  TImageF weights;
  if (mask != nullptr) {
    untouched = luma.Clone();
    weights = ComputeEdgeMask(luma, *mask);
  }
  DeringLuma(luma, params, progress);
  if (mask != nullptr) MaskBlend(luma, untouched, weights);

  AddLumaReference(result, luma, 1.0);
  return result;
}

}  // namespace

TImageF4 Dering(const Bitmap& picture, const DeringParams& params, const EdgeMaskParams* mask,
                Progress& progress) {
  params.Validate();
  if (mask != nullptr) mask->Validate();
  if (!FastGlue(picture)) return DeringReference(picture, params, mask, progress);

  progress.ShowProgress("Initialization", 0, kCommandStages);
  TImageF luma = LumaOf(picture);
  progress.ShowProgress("Initialization", 1, kCommandStages);
  progress.ShowProgress("Converting to YUV", 2, kCommandStages);

  TImageF weights;
  if (mask != nullptr) weights = ComputeEdgeMask(luma, *mask);
  DeringLuma(luma, params, progress);

  const std::int32_t w = picture.Width();
  const std::int32_t channels = picture.BitsPerPixel() / 8;
  TImageF4 result(w, picture.Height());
  ParallelFor(picture.Height(), GlueGrain(w), [&](std::int64_t begin, std::int64_t end) {
    std::vector<float> untouched(static_cast<std::size_t>(w));
    for (auto y = static_cast<std::int32_t>(begin); y < end; ++y) {
      const std::uint8_t* src = picture.ScanLine(y);
      HWY_DYNAMIC_DISPATCH(LumaRow)(src, channels, untouched.data(), w);
      if (mask != nullptr)
        edgemask_kernels::BlendRow(luma.Row(y), untouched.data(), weights.Row(y), w);
      HWY_DYNAMIC_DISPATCH(RecombineRow)
      (src, channels, untouched.data(), luma.Row(y), result.Row(y), w);
    }
  });
  return result;
}

TImageF EdgeMaskCommand(const Bitmap& picture, const EdgeMaskParams& mask) {
  mask.Validate();
  return ComputeEdgeMask(LumaOf(picture), mask);
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
