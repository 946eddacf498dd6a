// The deringing pipelines: the Deringing command (plain or masked), the edge-mask
// debug command, and the deringing stage that follows a two-times enlargement.
//
// A pipeline reads the picture, splits it into the luma Y (0.114 B + 0.587 G +
// 0.299 R) and the colour differences (channel - Y for blue, green and red; the
// fourth channel as read), derings the luma with the method of DeringParams,
// optionally blends it with the luma as it was through the edge mask (255 takes
// the deringed value, 0 the original), and adds it back. STOP ends only the
// deringing routine early: the pipeline still blends and recombines the luma as the
// routine left it.
//
// Speed: the luma, the blend and the recombination are per pixel (no order-dependent
// loops); rows run in parallel and pixels in SIMD lanes, and ReferenceKernels()
// selects the plain conversions and loops.
#pragma once

#include "deringing/dering.h"
#include "deringing/edgemask.h"
#include "imaging/bitmap.h"
#include "imaging/imagefmt.h"
#include "imaging/progress.h"
#include "imaging/source.h"

namespace tvq {

// The Deringing command ("Deringing" with mask == nullptr, "Masked Deringing"
// otherwise). Returns the picture's size as four floats (blue, green, red, fourth),
// ready for ImageToBitmap. Progress: "Initialization" at 0 and 1, "Converting to
// YUV" at 2 (maximum 15), then the routine's own "Deringing" positions. "Local,
// simpliest" leaves the luma unchanged. Validates both parameter sets before
// reading the picture; EZorException for a bitmap that is not 24 or 32 bits. A stop
// seen while the mask is computed throws OperationStopped (see ComputeEdgeMask).
TImageF4 Dering(const PictureSource& picture, const DeringParams& params,
                const EdgeMaskParams* mask, Progress& progress);

// The "Egde Mask" debug command: the mask pipeline on the picture's luma, returned
// as a grey plane of the picture's size (0..255); `stop` as in ComputeEdgeMask.
TImageF EdgeMaskCommand(const PictureSource& picture, const EdgeMaskParams& mask,
                        const StopFlag* stop = nullptr);

// The deringing stage of the Resample command, in place on the enlarged luma
// (exactly 2w x 2h of lowResLuma): with a mask, the mask is built from the enlarged
// luma as it enters; the luma is deringed by the method's guided routine with
// lowResLuma as the reference ("Local, simpliest" clamps it into the
// low-resolution range); with a mask, the result is blended with the entering luma.
// Validates both parameter sets first; EZorException(ecBadSize) for other sizes.
void DeringAfterResample(TImageF& enlarged, const TImageF& lowResLuma, const DeringParams& params,
                         const EdgeMaskParams* mask, Progress& progress);

}  // namespace tvq
