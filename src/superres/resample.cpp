#include "superres/resample.h"

#include <cmath>
#include <string>
#include <utility>

#include "deringing/deringcommand.h"
#include "imaging/dispatch.h"
#include "imaging/errors.h"
#include "imaging/parallel.h"
#include "interpolation/upscale.h"
#include "superres/fractal.h"

namespace tvq {

namespace {

// The enlarger behind each start but the black one.
UpscaleMethod StartMethod(InitialApproximation initial) {
  switch (initial) {
    case InitialApproximation::kBilinear:
      return UpscaleMethod::kBilinear;
    case InitialApproximation::kGradient:
      return UpscaleMethod::kGradient;
    case InitialApproximation::kNedi:
      return UpscaleMethod::kNedi;
    case InitialApproximation::kLanczos:
      return UpscaleMethod::kLanczos;
    case InitialApproximation::kBlack:
      break;
  }
  throw SettingError("unknown initial approximation");
}

// Fills x with the chosen start. x holds E = GradientUpscale(y) on entry; the NEDI
// passes read that content where their clamped reads reach pixels not yet computed.
void InitialEstimate(InitialApproximation initial, const TImageF& y, TImageF& x,
                     const StopFlag* stop) {
  if (initial == InitialApproximation::kBlack)
    x.Clear();
  else
    UpscaleGrey(StartMethod(initial), y, x, stop);
}

}  // namespace

void ResampleParams::Validate() const {
  CheckChoices({{kStabilizerSetting, static_cast<std::int32_t>(stabilizer)},
                {kInitialApproximationSetting, static_cast<std::int32_t>(initial)},
                {kConvergenceSetting, static_cast<std::int32_t>(convergence)}});
  CheckSettings({{kInitialStepSetting, initialStep},
                 {kFactorSetting, factor},
                 {kIterationsSetting, static_cast<double>(iterations)},
                 {kMaximumSetting, maximum},
                 {kMinFactorSetting, minFactor},
                 {kThreshMinSetting, threshMin},
                 {kThreshMaxSetting, threshMax},
                 {kBtvBaseSetting, btvBase},
                 {kGaussRadiusSetting, gaussRadius},
                 {kNormSetting, norm}});
  // A factor above 1 makes the exponential schedule grow the step every iteration.
  if (convergence == ConvergenceMode::kExponential && factor > 1.0)
    throw SettingError(kFactorSetting.caption, kFactorSetting.flag,
                       SettingValueText(factor) +
                           " is too large for the Exponential convergence (a factor above 1 "
                           "grows the step every iteration): the range there is " +
                           SettingValueText(kFactorSetting.minimum) + " (excluded) to 1");
}

LumaSolve LumaSolveOf(const ResampleParams& params, bool blackStart, std::int32_t maximum) {
  LumaSolve solve;
  solve.settings.gaussRadius = params.gaussRadius;
  solve.settings.btvBase = params.btvBase;
  solve.settings.norm = params.norm;
  ConfigureStabilizer(params.stabilizer, solve.settings);
  if (!blackStart) solve.settings.stepBase *= 0.2;
  solve.iteration.iterations = params.iterations;
  solve.iteration.initialStep = params.initialStep;
  solve.iteration.factor = params.factor;
  solve.iteration.mode = params.convergence;
  solve.iteration.blackStart = blackStart;
  solve.iteration.showIterations = params.showIterations;
  solve.iteration.progressMaximum = maximum;
  solve.iteration.progressOffset = 15;
  return solve;
}

WeightMapParams WeightMapParamsOf(const ResampleParams& params) {
  WeightMapParams weights;
  weights.maximum = params.maximum;
  weights.lowWeight =
      LowWeight(params.maximum, params.minFactor, params.initial == InitialApproximation::kBlack);
  weights.threshMin = params.threshMin;
  weights.threshMax = params.threshMax;
  return weights;
}

TImageF4 Resample(const PictureSource& picture, const ResampleParams& params,
                  const DeringParams* dering, const EdgeMaskParams* mask, Progress& progress) {
  params.Validate();
  const std::int32_t w = picture.Width();
  const std::int32_t h = picture.Height();
  const std::string size = std::to_string(w) + "x" + std::to_string(h);
  if (w < 2 || h < 2)
    throw EZorException(ecBadSize, "a picture of " + size +
                                       " pixels cannot be resampled: it must be at least 2 "
                                       "pixels wide and 2 pixels high");
  if (2 * static_cast<std::int64_t>(w) > kMaxImageSide ||
      2 * static_cast<std::int64_t>(h) > kMaxImageSide)
    throw EZorException(ecBadSize, "a picture of " + size +
                                       " pixels cannot be resampled: twice its width and height "
                                       "must not exceed 65535");
  if (mask != nullptr && dering == nullptr)
    throw SettingError("edge mask settings apply only together with deringing settings");
  if (dering != nullptr) dering->Validate();
  if (mask != nullptr) mask->Validate();

  const std::int32_t maximum = params.iterations + 15;
  const bool blackStart = params.initial == InitialApproximation::kBlack;

  // The fast kernels take the colour differences as three compact planes, which
  // lowers the peak of the colour stage by the four-float copies (1024 x 1024 input:
  // peak heap 255 MB through four-float images, 171 MB through the planes, measured
  // with heaptrack); the plain route goes through four-float images. The later stages
  // of the fast route also skip work whose result they do not read.
  const bool fast = !ReferenceKernels();
  // Until the iterations start there is no result to give: a stop throws
  // OperationStopped from the enlargers and between the stages.
  const StopFlag* stop = progress.SharedStopFlag();
  progress.ShowProgress("Initialization", 0, maximum);
  TImageF luma;
  TImageF4 result;
  RunKernels(
      [&] {
        LumaAndColour split = ReadLumaAndColour(picture);
        luma = std::move(split.luma);
        progress.ShowProgress("Initialization", 1, maximum);
        progress.ShowProgress("Converting to YUV", 2, maximum);
        SubtractLuma(split.colour, luma);
        progress.ShowProgress("UV resampling", 3, maximum);
        result = EnlargeColourDifferences(split.colour, stop);
      },
      [&] {
        picture.Read(ifF, luma);
        ThrowIfStopped(stop);
        progress.ShowProgress("Initialization", 1, maximum);
        progress.ShowProgress("Converting to YUV", 2, maximum);
        ColourPlanes differences = ColourDifferencePlanes(picture, luma);
        ThrowIfStopped(stop);
        progress.ShowProgress("UV resampling", 3, maximum);
        result = EnlargeColourPlanes(std::move(differences), stop);
      });

  // The weight map; the estimate keeps E = GradientUpscale(Y) afterwards. When every
  // weight is the same number the fast kernels take that number instead of a plane,
  // and E is computed only where a start needs it: the gradient start is E itself
  // (GradientUpscale writes every sample, whatever the plane held), NEDI reads it.
  // The estimate is allocated only now, after the colour stage's peak.
  TImageF estimate(2 * w, 2 * h);
  const WeightMapParams weightParams = WeightMapParamsOf(params);
  const bool constantWeight = fast && WeightsAreConstant(weightParams);
  const bool needsE = !constantWeight || params.initial == InitialApproximation::kGradient ||
                      params.initial == InitialApproximation::kNedi;
  progress.ShowProgress("Weight map", 6, maximum);
  if (needsE) UpscaleGrey(UpscaleMethod::kGradient, luma, estimate, stop);
  progress.ShowProgress("Weight map", 9, maximum);
  TImageF weights;
  if (!constantWeight) weights = SmoothedCurvature(estimate);
  ThrowIfStopped(stop);
  progress.ShowProgress("Weight map", 10, maximum);
  if (!constantWeight) WeightRamp(weights, weightParams);

  progress.ShowProgress("Y resampling", 11, maximum);
  if (!(fast && params.initial == InitialApproximation::kGradient))
    InitialEstimate(params.initial, luma, estimate, stop);
  ThrowIfStopped(stop);

  const auto [settings, iteration] = LumaSolveOf(params, blackStart, maximum);
  if (constantWeight)
    RunIterations(estimate, luma, weightParams.maximum, params.stabilizer, settings, iteration,
                  progress);
  else
    RunIterations(estimate, luma, weights, params.stabilizer, settings, iteration, progress);
  weights = TImageF();

  // Deringing of the result luminance, guided by the low-resolution luminance; with
  // a mask only where the mask of the result is high. After STOP the guided
  // routines return at their first poll and leave the luminance as it is.
  if (dering != nullptr) DeringAfterResample(estimate, luma, *dering, mask, progress);

  AddToColour(result, estimate);
  // The texture search takes several seconds on large pictures, so a stop leaves
  // the texture out (the result is then the enlargement so far) instead of waiting
  // for it.
  if (params.fractalSubstitution && !progress.StopRequested()) {
    TImageF texture(2 * w, 2 * h);
    try {
      FractalSubstitution(luma, texture, progress, stop);
      AddToColour(result, texture);
    } catch (const OperationStopped&) {
      progress.StopRequested();  // seen: the result is the one without texture
    }
  }
  progress.ShowProgress("Idle", 100, 100);
  return result;
}

}  // namespace tvq
