// resample: enlarge two times by super-resolution, optionally deringing the result.
#include <optional>
#include <string>
#include <vector>

#include "cli/cmd_dering.h"
#include "cli/command.h"
#include "cli/sizeoptions.h"
#include "commands/sizedrun.h"
#include "superres/resample.h"

namespace tvq::cli {

namespace {

std::vector<OptionSpec> ResampleOptions() {
  return {
      ChoiceOption(kStabilizerSetting),  ChoiceOption(kInitialApproximationSetting),
      ChoiceOption(kConvergenceSetting), SettingOption(kInitialStepSetting),
      SettingOption(kFactorSetting),     SettingOption(kIterationsSetting),
      SettingOption(kMaximumSetting),    SettingOption(kMinFactorSetting),
      SettingOption(kThreshMinSetting),  SettingOption(kThreshMaxSetting),
      SettingOption(kBtvBaseSetting),    SettingOption(kGaussRadiusSetting),
      SettingOption(kNormSetting),       {"fractal", "", "add fractal substitution texture"},
  };
}

PictureJob ResampleJob(const ParsedArgs& args) {
  ResampleParams p;
  p.stabilizer =
      static_cast<Stabilizer>(args.Choice(kStabilizerSetting, static_cast<int>(p.stabilizer)));
  p.initial = static_cast<InitialApproximation>(
      args.Choice(kInitialApproximationSetting, static_cast<int>(p.initial)));
  p.convergence = static_cast<ConvergenceMode>(
      args.Choice(kConvergenceSetting, static_cast<int>(p.convergence)));
  p.initialStep = args.Setting(kInitialStepSetting, p.initialStep);
  p.factor = args.Setting(kFactorSetting, p.factor);
  p.iterations = static_cast<std::int32_t>(args.Setting(kIterationsSetting, p.iterations));
  p.maximum = static_cast<float>(args.Setting(kMaximumSetting, p.maximum));
  p.minFactor = static_cast<float>(args.Setting(kMinFactorSetting, p.minFactor));
  p.threshMin = static_cast<float>(args.Setting(kThreshMinSetting, p.threshMin));
  p.threshMax = static_cast<float>(args.Setting(kThreshMaxSetting, p.threshMax));
  p.btvBase = args.Setting(kBtvBaseSetting, p.btvBase);
  p.gaussRadius = args.Setting(kGaussRadiusSetting, p.gaussRadius);
  // Taken and checked like the dialog's field, though the chosen stabilizer sets the
  // norm the solver uses.
  p.norm = args.Setting(kNormSetting, p.norm);
  p.fractalSubstitution = args.Has("fractal");
  ValidateOptions(p);

  // Masking always goes with deringing; --mask alone derings with the default method.
  const bool dering = args.Has("dering") || args.Has("mask");
  for (const char* name : {"dering-initial", "dering-iterations", "dering-factor"})
    if (!dering && args.Has(name))
      throw UsageError(std::string("--") + name + " needs --dering or --mask");
  const std::optional<DeringParams> deringParams =
      dering ? std::optional(DeringParamsFrom(args, "dering-")) : std::nullopt;
  const std::optional<EdgeMaskParams> mask = OptionalMaskParams(args);

  // The Conditional mode grows the step by 1 / factor: there a larger factor helps.
  const std::string remedy = p.convergence == ConvergenceMode::kConditional
                                 ? "lower --step, --maximum or --btv-base, or raise --factor"
                                 : "lower --step, --maximum or --btv-base";
  const OutputSizeParams size = SizeParamsFrom(args, true);
  const auto route =
      static_cast<SizeRoute>(args.Choice(kSizeRouteSetting, kSizeRouteSetting.defaultIndex));
  if (args.Has("size-method") && !size.Given())
    throw UsageError("--size-method needs --scale or --size");
  if (size.Given()) {
    const SizedWork sized = [p, deringParams, mask, remedy, route](const CommandInput& input,
                                                                   const OutputSize& output,
                                                                   Progress& progress) {
      return ResampleAtSize(input, output, p, deringParams ? &*deringParams : nullptr,
                            mask ? &*mask : nullptr, remedy, progress, route);
    };
    const SizedEstimate estimate = [route](const MemoryFeatures& features, std::int32_t width,
                                           std::int32_t height, std::uint64_t inputBytes,
                                           const OutputSize& output) {
      return EstimateMemoryAtSize(MemoryWork::kResample, features, width, height, inputBytes,
                                  output, route);
    };
    return SizedJob(size, sized, estimate, MemoryWork::kResample);
  }

  const PictureWork work = [p, deringParams, mask, remedy](const CommandInput& input,
                                                           Progress& progress) {
    const TImageF4 result = Resample(input.Source(), p, deringParams ? &*deringParams : nullptr,
                                     mask ? &*mask : nullptr, progress);
    return SolverResultPicture(result, input, AlphaTravel::kEnlarged, remedy);
  };
  return {work, MemoryWork::kResample, true};
}

}  // namespace

Command ResampleCommand() {
  return {.name = "resample",
          .synopsis = "IN OUT",
          .summary =
              "enlarge by super-resolution (two times, or --scale / --size), optionally "
              "deringing the result",
          .options = Join(Join(Join(ResampleOptions(),
                                    Join(SizeOptions(true), {ChoiceOption(kSizeRouteSetting)})),
                               DeringOptions("dering-")),
                          MaskOptions()),
          .positional = 2,
          .picture = ResampleJob};
}

}  // namespace tvq::cli
