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
// adds the differences in float lanes.
#include "deringing/deringcommand.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/convert_simd.h"
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
    float* out = result.Row(y);
    for (std::int32_t x = 0; x < w; ++x) {
      const float ux = u[x];
      const float lx = l[x];
      for (std::int32_t k = 0; k < 3; ++k) out[4 * x + k] = (src[4 * x + k] - ux) + lx;
      out[4 * x + 3] = src[4 * x + 3];
    }
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

TImageF4 Dering(const PictureSource& picture, const DeringParams& params,
                const EdgeMaskParams* mask, Progress& progress) {
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

TImageF EdgeMaskCommand(const PictureSource& picture, const EdgeMaskParams& mask) {
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
