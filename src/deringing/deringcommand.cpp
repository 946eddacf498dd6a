#include "deringing/deringcommand.h"

#include "deringing/deringcommand_kernels.h"
#include "imaging/lumasplit.h"

namespace tvq {

// The plain Deringing command: the picture as luma and four floats, the colour
// differences, the untouched copy, the mask blend and the luma added back.
TImageF4 DeringPlain(const PictureSource& picture, const DeringParams& params,
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

TImageF LumaPlain(const PictureSource& picture) {
  TImageF luma;
  picture.Read(ifF, luma);
  return luma;
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
