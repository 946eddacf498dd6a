// The Deringing pipelines. The glue around the deringing routine runs rows in
// parallel and pixels in SIMD lanes, each lane doing the plain loop's double
// operations; ReferenceKernels() selects the plain conversions and loops.
//
// The fast Deringing command stores only the luma while the routine runs: the
// untouched luma and the colour differences are functions of the picture's bytes, so
// the last pass forms them again from the picture, row by row, blends the luma and
// adds it back. This saves the four-float difference image's passes and the untouched
// copy: bench_edgemask "DeringGlue" (512 x 512, AVX-512, one thread) 0.56 ms of CPU
// against 1.45 ms for the plain glue, of which about a quarter is now the zeroing of
// the new luma and result images. A four-float picture takes the same route: its last
// pass forms the untouched luma of each row again with the conversion's row kernel and
// adds the differences in float lanes. For 1024 x 1024 (AVX-512, one thread, CPU time,
// "Local, simpliest" so that the glue is all the work) that takes 3.3 to 4.0 ms against
// 4.2 to 5.0 ms with the sums in a plain loop and 7.5 to 7.9 ms for the plain glue; the
// four floats' two passes over 16 MB bound it (a bitmap: 2.5 ms).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "deringing/deringcommand.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "deringing/deringcommand.h"
#include "deringing/edgemask_kernels.h"
#include "imaging/convert_simd.h"
#include "imaging/imagebase.h"
#include "imaging/lumasplit.h"
#include "imaging/parallel.h"

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// out = (src - u) + l for blue, green and red of each of w four-float pixels, the
// fourth float copied: float operations, lane by lane.
void ColourRecombineRow(const float* HWY_RESTRICT src, const float* HWY_RESTRICT u,
                        const float* HWY_RESTRICT l, float* HWY_RESTRICT out, std::int32_t w) {
  std::int32_t x = 0;
#if HWY_TARGET != HWY_SCALAR
  const hn::ScalableTag<float> df;
  const std::int32_t n = static_cast<std::int32_t>(hn::Lanes(df));
  for (; x + n <= w; x += n) {
    hn::Vec<decltype(df)> b, g, r, a;
    hn::LoadInterleaved4(df, src + 4 * x, b, g, r, a);
    const auto ux = hn::LoadU(df, u + x);
    const auto lx = hn::LoadU(df, l + x);
    hn::StoreInterleaved4(hn::Add(hn::Sub(b, ux), lx), hn::Add(hn::Sub(g, ux), lx),
                          hn::Add(hn::Sub(r, ux), lx), a, df, out + 4 * x);
  }
#endif
  for (; x < w; ++x) {
    for (std::int32_t k = 0; k < 3; ++k) out[4 * x + k] = (src[4 * x + k] - u[x]) + l[x];
    out[4 * x + 3] = src[4 * x + 3];
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq {

namespace {

HWY_EXPORT(ColourRecombineRow);

constexpr std::int32_t kCommandStages = 15;

// Rows per parallel chunk for the per-pixel glue: about 64K pixels.
std::int64_t GlueGrain(std::int32_t w) {
  return std::max<std::int64_t>(1, (std::int64_t{1} << 16) / std::max(1, w));
}

// Whether the fast glue handles the picture: fast kernels selected, and a four-float
// picture or a 24- or 32-bit bitmap (other bitmaps are refused by ImageFromBitmap on
// the plain path).
bool FastGlue(const PictureSource& picture) {
  if (ReferenceKernels()) return false;
  const Bitmap* bitmap = picture.AsBitmap();
  return bitmap == nullptr ||
         (!bitmap->Empty() && (bitmap->BitsPerPixel() == 24 || bitmap->BitsPerPixel() == 32));
}

// The luma of the picture, as PictureSource::Read into a float plane forms it.
TImageF LumaOf(const PictureSource& picture) {
  TImageF luma;
  const Bitmap* bitmap = picture.AsBitmap();
  if (bitmap == nullptr || !FastGlue(picture)) {
    picture.Read(ifF, luma);
    return luma;
  }
  const std::int32_t w = bitmap->Width();
  const std::int32_t channels = bitmap->BitsPerPixel() / 8;
  luma = TImageF(w, bitmap->Height());
  ParallelFor(bitmap->Height(), GlueGrain(w), [&](std::int64_t begin, std::int64_t end) {
    for (auto y = static_cast<std::int32_t>(begin); y < end; ++y)
      edgemask_kernels::LumaRow(bitmap->ScanLine(y), channels, luma.Row(y), w);
  });
  return luma;
}

// Rows [begin, end) of the Deringing result from a four-float picture, as RecombineRow
// forms them from a bitmap's rows: u = the row's luma (the conversion's kernel, which
// Read used), l = the deringed luma blended with u by the mask unless it is null (in
// place), then float(float(channel - u) + l) for blue, green and red and the fourth
// channel as read. Both sums are float operations: formed in double and rounded, as the
// plain loop does, they give the same bits (see RecombineRow).
void RecombineColourRows(const TImageF4& colour, TImageF& luma, const TImageF* mask,
                         TImageF4& result, std::int32_t begin, std::int32_t end) {
  const std::int32_t w = colour.Width();
  std::vector<float> untouched(static_cast<std::size_t>(w));
  float* const u = untouched.data();
  for (std::int32_t y = begin; y < end; ++y) {
    const float* src = colour.Row(y);
    convertsimd::GreyOfFloats(src, u, static_cast<std::size_t>(w));
    float* const l = luma.Row(y);
    if (mask != nullptr) edgemask_kernels::BlendRow(l, u, mask->Row(y), w);
    HWY_DYNAMIC_DISPATCH(ColourRecombineRow)(src, u, l, result.Row(y), w);
  }
}

// The plain Deringing command: the picture as luma and four floats, the colour
// differences, the untouched copy, the mask blend and the luma added back.
TImageF4 DeringReference(const PictureSource& picture, const DeringParams& params,
                         const EdgeMaskParams* mask, Progress& progress) {
  progress.ShowProgress("Initialization", 0, kCommandStages);
  TImageF luma;
  picture.Read(ifF, luma);
  TImageF4 result;
  picture.Read(ifF4, result);
  progress.ShowProgress("Initialization", 1, kCommandStages);

  progress.ShowProgress("Converting to YUV", 2, kCommandStages);
  SubtractLuma(result, luma);  // result now holds the colour differences

  TImageF untouched;
  TImageF weights;
  if (mask != nullptr) {
    untouched = luma.Clone();
    weights = ComputeEdgeMask(luma, *mask, progress.SharedStopFlag());
  }
  DeringLuma(luma, params, progress);
  if (mask != nullptr) MaskBlend(luma, untouched, weights);

  AddToColour(result, luma);
  return result;
}

}  // namespace

TImageF4 Dering(const PictureSource& picture, const DeringParams& params,
                const EdgeMaskParams* mask, Progress& progress) {
  params.Validate();
  if (mask != nullptr) mask->Validate();
  if (!FastGlue(picture)) return DeringReference(picture, params, mask, progress);

  progress.ShowProgress("Initialization", 0, kCommandStages);
  TImageF luma = LumaOf(picture);
  progress.ShowProgress("Initialization", 1, kCommandStages);
  progress.ShowProgress("Converting to YUV", 2, kCommandStages);

  // A stop while the mask is computed comes before any deringing: nothing to return.
  TImageF weights;
  if (mask != nullptr) weights = ComputeEdgeMask(luma, *mask, progress.SharedStopFlag());
  DeringLuma(luma, params, progress);

  const std::int32_t w = picture.Width();
  TImageF4 result(w, picture.Height());
  const Bitmap* bitmap = picture.AsBitmap();
  if (bitmap == nullptr) {
    ParallelFor(picture.Height(), GlueGrain(w), [&](std::int64_t begin, std::int64_t end) {
      RecombineColourRows(*picture.AsColour(), luma, mask != nullptr ? &weights : nullptr, result,
                          static_cast<std::int32_t>(begin), static_cast<std::int32_t>(end));
    });
    return result;
  }
  const std::int32_t channels = bitmap->BitsPerPixel() / 8;
  ParallelFor(picture.Height(), GlueGrain(w), [&](std::int64_t begin, std::int64_t end) {
    for (auto y = static_cast<std::int32_t>(begin); y < end; ++y)
      edgemask_kernels::RecombineRow(bitmap->ScanLine(y), channels, luma.Row(y),
                                     mask != nullptr ? weights.Row(y) : nullptr, result.Row(y), w);
  });
  return result;
}

TImageF EdgeMaskCommand(const PictureSource& picture, const EdgeMaskParams& mask,
                        const StopFlag* stop) {
  mask.Validate();
  return ComputeEdgeMask(LumaOf(picture), mask, stop);
}

void DeringAfterResample(TImageF& enlarged, const TImageF& lowResLuma, const DeringParams& params,
                         const EdgeMaskParams* mask, Progress& progress) {
  params.Validate();
  if (mask != nullptr) mask->Validate();
  CheckTwiceSize(lowResLuma, enlarged, "DeringAfterResample");

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
