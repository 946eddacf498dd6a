// The enlarging commands at any output size, and the resize command.
//
// Resample and the interpolators enlarge two times. Resample reaches factors from 2.5
// to 8 by a direct solve at the next whole factor (superres/factorsolve.h) and the
// reduction. Otherwise a larger or non-power-of-two size runs passes of the two-times enlargement
// until the picture is at least as large as asked, then one antialiased reduction (Lanczos 3 lobes
// widened by the reduction ratio) of the float result to the exact size, before anything is
// rounded. Input pixel (x, y) lands on output pixel (scaleX * x, scaleY * y) throughout.
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

// How Resample reaches a factor above two. Measured with bench/quality.sh on the six
// photographs (Y-PSNR above aligned Lanczos, average): passes +0.96 dB at 2.5x, +0.79 at
// 3x, +0.40 at 4x, +0.33 at 6x; direct +1.43, +1.14, +0.82, +0.65, and ahead on every
// picture but one at 4x (0.02 dB behind). So the direct solve is the default; the passes
// serve factors up to 2, beyond 8, and deringing, the edge mask and the fractal
// texture, which work on a two-times enlargement.
enum class SizeRoute : std::int32_t {
  kPasses = 0,  // passes of the two-times Resample, then the reduction
  kDirect = 1,  // the solver at the next whole factor (3 to 8), then the reduction
};
inline constexpr std::int32_t kSizeRouteCount = 2;
inline constexpr const char* kSizeRouteNames[kSizeRouteCount] = {"passes", "direct"};
inline constexpr const char* kSizeRouteCaptions[kSizeRouteCount] = {"Two-times passes",
                                                                    "Direct solve"};
inline constexpr ChoiceDesc kSizeRouteSetting{.key = "size/route",
                                              .caption = "Method",
                                              .flag = "size-method",
                                              .captions = kSizeRouteCaptions,
                                              .names = kSizeRouteNames,
                                              .defaultIndex = 1,
                                              .help =
                                                  "how factors above 2 are reached: direct (a "
                                                  "solve at the next whole factor, 3 to 8) or "
                                                  "passes (two-times passes)"};

// The whole factor the direct route solves at for `size`, or 0 when it takes the passes
// (factors up to 2, beyond 8, or a picture that the factor would take beyond 65535).
std::int32_t DirectFactor(const OutputSize& size, std::int32_t width, std::int32_t height);

struct DeringParams;
struct EdgeMaskParams;

// The estimated peak of a whole run that enlarges a width x height picture to `size`:
// the largest of its stages, each with what it holds (the input, the previous pass's
// result, the result before and after the reduction). The direct solve counts as a
// two-times Resample of the same result size. For two times exactly it is
// EstimateMemory.
std::uint64_t EstimateMemoryAtSize(MemoryWork work, const MemoryFeatures& features,
                                   std::int32_t width, std::int32_t height,
                                   std::uint64_t inputBytes, const OutputSize& size,
                                   SizeRoute route = SizeRoute::kDirect);
// The same for resize: the float picture, both passes of the filter and the result.
std::uint64_t EstimateResizeMemory(const MemoryFeatures& features, std::int32_t width,
                                   std::int32_t height, std::uint64_t inputBytes,
                                   const OutputSize& size);

// Resample at `size` (ComputeOutputSize of the input's size) by `route`; the direct
// route where DirectFactor gives a factor and no deringing or fractal texture is asked
// for, the passes otherwise. Deringing, the edge mask and the fractal texture apply to
// the last pass. `remedy` is the advice of a
// diverged solver (CheckSolverResult). The size of exactly two times gives what
// Resample gives, byte for byte.
Picture ResampleAtSize(const CommandInput& input, const OutputSize& size,
                       const ResampleParams& params, const DeringParams* dering,
                       const EdgeMaskParams* mask, const std::string& remedy, Progress& progress,
                       SizeRoute route = SizeRoute::kDirect);

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
