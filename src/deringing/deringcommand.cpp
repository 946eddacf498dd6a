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
// the new luma and result images.
#include "deringing/deringcommand.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "imaging/imagebase.h"
#include "imaging/parallel.h"

namespace tvq {

namespace {

constexpr std::int32_t kCommandStages = 15;

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
      edgemask_kernels::LumaRow(picture.ScanLine(y), channels, luma.Row(y), w);
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
    for (auto y = static_cast<std::int32_t>(begin); y < end; ++y)
      edgemask_kernels::RecombineRow(picture.ScanLine(y), channels, luma.Row(y),
                                     mask != nullptr ? weights.Row(y) : nullptr, result.Row(y), w);
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
