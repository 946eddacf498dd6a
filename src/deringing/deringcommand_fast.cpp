// The Deringing pipelines on all threads and SIMD lanes, and the entry points that
// choose them or the plain glue (deringcommand.cpp). The glue around the deringing
// routine runs rows in parallel and pixels in SIMD lanes, each lane doing the plain
// loop's double operations.
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
#include <algorithm>
#include <cstdint>
#include <vector>

#include "deringing/deringcommand.h"
#include "deringing/deringcommand_kernels.h"
#include "deringing/edgemask_kernels.h"
#include "imaging/convert_kernels.h"
#include "imaging/dispatch.h"
#include "imaging/imagebase.h"
#include "imaging/parallel.h"

namespace tvq {

namespace {

// Rows per parallel chunk for the per-pixel glue: about 64K pixels.
std::int64_t GlueGrain(std::int32_t w) {
  return std::max<std::int64_t>(1, (std::int64_t{1} << 16) / std::max(1, w));
}

// Whether the fast glue handles the picture: a four-float picture or a 24- or 32-bit
// bitmap (other bitmaps are refused by ImageFromBitmap on the plain path).
bool FastGlue(const PictureSource& picture) {
  const Bitmap* bitmap = picture.AsBitmap();
  return bitmap == nullptr ||
         (!bitmap->Empty() && (bitmap->BitsPerPixel() == 24 || bitmap->BitsPerPixel() == 32));
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
    ColourRecombineRow(src, u, l, result.Row(y), w);
  }
}

constexpr KernelPair<TImageF4(const PictureSource&, const DeringParams&, const EdgeMaskParams*,
                              Progress&)>
    kDering{DeringPlain, DeringFast};
constexpr KernelPair<TImageF(const PictureSource&)> kLuma{LumaPlain, LumaFast};

}  // namespace

TImageF LumaFast(const PictureSource& picture) {
  const Bitmap* bitmap = picture.AsBitmap();
  if (bitmap == nullptr || !FastGlue(picture)) return LumaPlain(picture);
  const std::int32_t w = bitmap->Width();
  const std::int32_t channels = bitmap->BitsPerPixel() / 8;
  TImageF luma(w, bitmap->Height());
  ParallelFor(bitmap->Height(), GlueGrain(w), [&](std::int64_t begin, std::int64_t end) {
    for (auto y = static_cast<std::int32_t>(begin); y < end; ++y)
      edgemask_kernels::LumaRow(bitmap->ScanLine(y), channels, luma.Row(y), w);
  });
  return luma;
}

TImageF4 DeringFast(const PictureSource& picture, const DeringParams& params,
                    const EdgeMaskParams* mask, Progress& progress) {
  if (!FastGlue(picture)) return DeringPlain(picture, params, mask, progress);

  progress.ShowProgress("Initialization", 0, kCommandStages);
  TImageF luma = LumaFast(picture);
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

TImageF4 Dering(const PictureSource& picture, const DeringParams& params,
                const EdgeMaskParams* mask, Progress& progress) {
  params.Validate();
  if (mask != nullptr) mask->Validate();
  return kDering(picture, params, mask, progress);
}

TImageF EdgeMaskCommand(const PictureSource& picture, const EdgeMaskParams& mask,
                        const StopFlag* stop) {
  mask.Validate();
  return ComputeEdgeMask(kLuma(picture), mask, stop);
}

}  // namespace tvq
