// The enlarging commands at any output size, and the resize command.
//
// Resample and the interpolators enlarge two times. A larger or non-power-of-two size
// runs passes of the two-times enlargement until the picture is at least as large as
// asked, then one antialiased reduction (Lanczos 3 lobes widened by the reduction
// ratio) of the float result to the exact size, before anything is rounded. Input pixel
// (x, y) lands on output pixel (scaleX * x, scaleY * y) throughout.
//
// Alpha follows the picture: the colour is premultiplied as for two times, the alpha
// plane goes through the same number of two-times enlargements (EnlargeAlpha) and the
// same reduction, clamped to 0..255.
//
// Progress: the stages of each pass are shown as "Pass 2 of 3: <stage>", then
// "Reduction". Stop: nothing is returned (OperationStopped) unless the last pass's
// solver iterations were running; their result so far is then brought to the asked size.
#pragma once

#include <cstdint>
#include <string>

#include "commands/filepicture.h"
#include "commands/memoryestimate.h"
#include "commands/sizes.h"
#include "imaging/io/picture.h"
#include "imaging/progress.h"
#include "interpolation/upscale.h"
#include "superres/resample.h"
#include "utility/resize.h"

namespace tvq {

struct DeringParams;
struct EdgeMaskParams;

// The estimated peak of a whole run that enlarges (or, for resize, resizes) a width x
// height picture to `size`: the largest of its stages, each with what it holds (the
// input, the previous pass's result, the result before and after the reduction).
// For two times exactly it is EstimateMemory.
std::uint64_t EstimateMemoryAtSize(MemoryWork work, const MemoryFeatures& features,
                                   std::int32_t width, std::int32_t height,
                                   std::uint64_t inputBytes, const OutputSize& size);
// The same for resize: the float picture, both passes of the filter and the result.
std::uint64_t EstimateResizeMemory(const MemoryFeatures& features, std::int32_t width,
                                   std::int32_t height, std::uint64_t inputBytes,
                                   const OutputSize& size);

// Resample at `size` (ComputeOutputSize of the input's size). Deringing, the edge
// mask and the fractal texture apply to the last pass. `remedy` is the advice of a
// diverged solver (CheckSolverResult). The size of exactly two times gives what
// Resample gives, byte for byte.
Picture ResampleAtSize(const CommandInput& input, const OutputSize& size,
                       const ResampleParams& params, const DeringParams* dering,
                       const EdgeMaskParams* mask, const std::string& remedy, Progress& progress);

// One interpolator at `size`: passes of the two-times enlarger and the reduction.
Picture UpscaleAtSize(const CommandInput& input, const OutputSize& size, UpscaleMethod method,
                      Progress& progress);

// The resize command: the filter in both directions (antialiased when reducing).
Picture ResizeAtSize(const CommandInput& input, const OutputSize& size, ResizeFilter filter,
                     Progress& progress);

// The float result of an enlargement by 2^passes brought to `size` (the reduction
// alone), for callers that hold such a result.
TImageF4 ReduceToSize(const TImageF4& enlarged, std::int32_t passes, const OutputSize& size,
                      const StopFlag* stop);

}  // namespace tvq
