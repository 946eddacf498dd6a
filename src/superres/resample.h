// The Resample command: enlarges a picture to exactly twice its width and height.
// The luminance goes through the super-resolution solver, the colour differences
// through the gradient-directed colour upscaler; deringing of the enlarged
// luminance and fractal texture are optional stages.
#pragma once

#include <cstdint>

#include "imaging/bitmap.h"
#include "imaging/imagefmt.h"
#include "imaging/progress.h"
#include "imaging/source.h"
#include "superres/colour.h"
#include "superres/solver.h"

namespace tvq {

struct DeringParams;
struct EdgeMaskParams;

// The starts of the "Initial approximation" choice, in the order of its items.
enum class InitialApproximation : std::int32_t {
  kBlack = 0,     // "Black image"
  kBilinear = 1,  // "Bilinear"
  kGradient = 2,  // "Gradient"
  kNedi = 3,      // "NEDI 4px"
  kLanczos = 4,   // "Lanczos3 (ringing)"
};
inline constexpr std::int32_t kInitialApproximationCount = 5;
inline constexpr const char* kInitialApproximationCaptions[kInitialApproximationCount] = {
    "Black image", "Bilinear", "Gradient", "NEDI 4px", "Lanczos3 (ringing)"};

// Every value of the Resampling Settings dialog; member defaults are the dialog's.
struct ResampleParams {
  // Upper bound of `iterations` accepted here; the dialog's up-down stops at 200.
  static constexpr std::int32_t kMaxIterations = 100000;
  static constexpr std::int32_t kDialogMaxIterations = 200;

  Stabilizer stabilizer = Stabilizer::kBilateralTv3;               // "Stabilizer"
  InitialApproximation initial = InitialApproximation::kGradient;  // "Initial approximation"
  ConvergenceMode convergence = ConvergenceMode::kExponential;     // "Convergence"
  double initialStep = 5.0;                                        // "Initial step": finite, >= 0
  double factor = 0.875;                                           // "Factor": finite, > 0
  std::int32_t iterations = 40;      // "Iterations": 0..kMaxIterations (0 = no regularization)
  float maximum = 0.05f;             // "Maximum:": finite, >= 0 (useful 0.01 .. 0.5)
  float minFactor = 1.0f;            // "MinFactor:": finite, >= 0; low weight = Maximum * MinFactor
  float threshMin = 5.0f;            // "ThreshMin:": finite
  float threshMax = 15.0f;           // "ThreshMax:": finite
  double btvBase = 0.8;              // "BTV base": finite, >= 0
  double gaussRadius = 1.0;          // "Gauss rad:": finite, >= 0 (0 = no blur)
  double norm = 1.0;                 // "Norm:": finite; replaced by the stabilizer's norm
  bool fractalSubstitution = false;  // "Fractal substitution" / "Enabled"
  bool showIterations = true;        // "Show iterated image"

  // Throws std::invalid_argument naming the first value outside its range.
  void Validate() const;
};

// The weight-map values of the params.
WeightMapParams WeightMapParamsOf(const ResampleParams& params);

// The colour result of size 2W x 2H as four floats (luminance + colour differences
// in channels 0..2, channel 3 zero, before byte conversion). dering and mask null:
// plain "Resampling". dering non-null: the enlarged luminance is deringed with the
// method's guided routine, the low-resolution luminance as the reference; mask
// non-null as well: the result is blended with the luminance as it was before deringing through the
// edge mask of the enlarged luminance. A mask without dering is refused.
//
// Stage captions, at the positions shown with maximum N + 15: "Initialization" 0
// and 1, "Converting to YUV" 2, "UV resampling" 3, "Weight map" 6, 9, 10, "Y
// resampling" 11, "Iterations [k]" k + 15, the deringing routine's own, "Fractal
// substitution" (its own scale), "Idle" 100 of 100. STOP leaves the iterations
// early; the rest of the pipeline still runs. The caller clears its stop flag
// before the run.
//
// All parameter sets are validated before any work: std::invalid_argument for
// invalid params, EZorException(ecBadSize) for a picture less than 2 pixels wide or
// high or whose doubled size exceeds 65535; EZorException(ecFormatMismatch) for
// bitmaps that are not 24 or 32 bits deep.
TImageF4 Resample(const PictureSource& picture, const ResampleParams& params,
                  const DeringParams* dering, const EdgeMaskParams* mask, Progress& progress);

}  // namespace tvq
