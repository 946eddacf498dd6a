// The Resample command: enlarges a picture to exactly twice its width and height.
// The luminance goes through the super-resolution solver, the colour differences
// through the gradient-directed colour upscaler; deringing of the enlarged
// luminance and fractal texture are optional stages.
#pragma once

#include <cstdint>

#include "imaging/bitmap.h"
#include "imaging/imagefmt.h"
#include "imaging/progress.h"
#include "imaging/settingdesc.h"
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

// The command-line names of the choices, in the order of their dialog items.
inline constexpr const char* kStabilizerNames[kStabilizerCount] = {"laplace", "tv", "btv3", "btv5",
                                                                   "btv3-mixed"};
inline constexpr const char* kInitialApproximationNames[kInitialApproximationCount] = {
    "black", "bilinear", "gradient", "nedi", "lanczos"};

// The settings of the Resampling Settings dialog (those of the solver itself, from the
// convergence to the norm, are in solver.h). The ranges keep every value the dialog
// has ever offered by default working and refuse what makes the solver run away; the
// measurements are of the resample command on the sample photographs (128 x 128 to
// 192 x 192, default settings otherwise), reading the range of the result's grey levels.
inline constexpr ChoiceDesc kStabilizerSetting{
    .key = "resample/stabilizer",
    .caption = "Stabilizer",
    .flag = "stabilizer",
    .captions = kStabilizerCaptions,
    .names = kStabilizerNames,
    .defaultIndex = static_cast<std::int32_t>(Stabilizer::kBilateralTv3),
    .help = "regularization"};
inline constexpr ChoiceDesc kInitialApproximationSetting{
    .key = "resample/initial",
    .caption = "Initial approximation",
    .flag = "init",
    .captions = kInitialApproximationCaptions,
    .names = kInitialApproximationNames,
    .defaultIndex = static_cast<std::int32_t>(InitialApproximation::kGradient),
    .help = "initial approximation"};
// 0 to 1: the dialog's hint calls 0.01 .. 0.5 optimal; the default stabilizer runs away
// from 10 (-100 .. 305) and 100 (-2361 .. 2398).
inline constexpr SettingDesc kMaximumSetting{.key = "resample/maximum",
                                             .caption = "Maximum:",
                                             .flag = "maximum",
                                             .valueName = "W",
                                             .minimum = 0.0,
                                             .maximum = 1.0,
                                             .defaultValue = 0.05,
                                             .help = "regularization weight"};
// 0 to 1: the low weight Maximum * MinFactor of a black start lies at or below Maximum.
inline constexpr SettingDesc kMinFactorSetting{.key = "resample/minFactor",
                                               .caption = "MinFactor:",
                                               .flag = "min-factor",
                                               .valueName = "F",
                                               .minimum = 0.0,
                                               .maximum = 1.0,
                                               .defaultValue = 1.0,
                                               .help = "low weight factor"};
// 0 to 1020: the curvature the weight ramp reads is at most 4 * 255 for grey levels
// 0 .. 255. ThreshMin above ThreshMax is harmless: the ramp then has no middle part, and
// equal thresholds take the top of the ramp, not 0 / 0.
inline constexpr SettingDesc kThreshMinSetting{.key = "resample/threshMin",
                                               .caption = "ThreshMin:",
                                               .flag = "thresh-min",
                                               .valueName = "T",
                                               .minimum = 0.0,
                                               .maximum = 1020.0,
                                               .defaultValue = 5.0,
                                               .help = "curvature of the lowest weight"};
inline constexpr SettingDesc kThreshMaxSetting{.key = "resample/threshMax",
                                               .caption = "ThreshMax:",
                                               .flag = "thresh-max",
                                               .valueName = "T",
                                               .minimum = 0.0,
                                               .maximum = 1020.0,
                                               .defaultValue = 15.0,
                                               .help = "curvature of the highest weight"};
// Every value of the Resampling Settings dialog; member defaults are the dialog's.
struct ResampleParams {
  // Upper bound of `iterations` accepted here; the dialog's up-down stops at 200.
  static constexpr auto kMaxIterations = static_cast<std::int32_t>(kIterationsSetting.maximum);
  static constexpr std::int32_t kDialogMaxIterations = 200;

  Stabilizer stabilizer = static_cast<Stabilizer>(kStabilizerSetting.defaultIndex);
  InitialApproximation initial =
      static_cast<InitialApproximation>(kInitialApproximationSetting.defaultIndex);
  ConvergenceMode convergence = static_cast<ConvergenceMode>(kConvergenceSetting.defaultIndex);
  double initialStep = kInitialStepSetting.defaultValue;
  double factor = kFactorSetting.defaultValue;
  std::int32_t iterations = static_cast<std::int32_t>(kIterationsSetting.defaultValue);
  float maximum = static_cast<float>(kMaximumSetting.defaultValue);
  // The low weight of a black start is Maximum * MinFactor.
  float minFactor = static_cast<float>(kMinFactorSetting.defaultValue);
  float threshMin = static_cast<float>(kThreshMinSetting.defaultValue);
  float threshMax = static_cast<float>(kThreshMaxSetting.defaultValue);
  double btvBase = kBtvBaseSetting.defaultValue;
  double gaussRadius = kGaussRadiusSetting.defaultValue;  // 0 = no blur
  double norm = kNormSetting.defaultValue;                // replaced by the stabilizer's norm
  bool fractalSubstitution = false;                       // "Fractal substitution" / "Enabled"
  bool showIterations = true;                             // "Show iterated image"

  // Throws SettingError naming the first value outside its range; in the Exponential
  // mode the factor must be at most 1.
  void Validate() const;
};

// The weight-map values of the params.
WeightMapParams WeightMapParamsOf(const ResampleParams& params);

// The solver settings and the iteration control of the luminance solve that the
// params ask for, with the progress bar's maximum: a start that is not black
// steps a fifth as far. Shared by the 2x solve and the solve at larger factors.
struct LumaSolve {
  SolverSettings settings;
  IterationParams iteration;
};
LumaSolve LumaSolveOf(const ResampleParams& params, bool blackStart, std::int32_t maximum);

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
// All parameter sets are validated before any work: SettingError for
// invalid params, EZorException(ecBadSize) for a picture less than 2 pixels wide or
// high or whose doubled size exceeds 65535; EZorException(ecFormatMismatch) for
// bitmaps that are not 24 or 32 bits deep.
TImageF4 Resample(const PictureSource& picture, const ResampleParams& params,
                  const DeringParams* dering, const EdgeMaskParams* mask, Progress& progress);

}  // namespace tvq
