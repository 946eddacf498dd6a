#include "deringing/deringcommand.h"

#include <string>

#include "imaging/imagebase.h"

namespace tvq {

namespace {

constexpr std::int32_t kCommandStages = 15;

// channel = channel + sign * luma for the blue, green and red channels of every pixel.
void AddLuma(TImageF4& colour, const TImageF& luma, double sign) {
  for (std::int32_t y = 0; y < colour.Height(); ++y) {
    float* c = colour.Row(y);
    const float* l = luma.Row(y);
    for (std::int32_t x = 0; x < colour.Width(); ++x, c += 4) {
      const double v = sign * static_cast<double>(l[x]);
      for (int k = 0; k < 3; ++k) c[k] = static_cast<float>(static_cast<double>(c[k]) + v);
    }
  }
}

}  // namespace

TImageF4 Dering(const Bitmap& picture, const DeringParams& params, const EdgeMaskParams* mask,
                Progress& progress) {
  params.Validate();
  if (mask != nullptr) mask->Validate();

  progress.ShowProgress("Initialization", 0, kCommandStages);
  TImageF luma;
  ImageFromBitmap(picture, ifF, luma);
  TImageF4 result;
  ImageFromBitmap(picture, ifF4, result);
  progress.ShowProgress("Initialization", 1, kCommandStages);

  progress.ShowProgress("Converting to YUV", 2, kCommandStages);
  AddLuma(result, luma, -1.0);  // result now holds the colour differences

  TImageF untouched;
  TImageF weights;
  if (mask != nullptr) {
    untouched = luma.Clone();
    weights = ComputeEdgeMask(luma, *mask);
  }
  DeringLuma(luma, params, progress);
  if (mask != nullptr) MaskBlend(luma, untouched, weights);

  AddLuma(result, luma, 1.0);
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
