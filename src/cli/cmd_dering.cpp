// dering: remove ringing beside edges; mask: the edge mask that masked deringing uses.
#include "cli/cmd_dering.h"

#include <cmath>
#include <cstdint>

#include "cli/command.h"
#include "deringing/deringcommand.h"

namespace tvq::cli {

namespace {

EdgeMaskParams MaskParamsFrom(const ParsedArgs& args) {
  EdgeMaskParams p;
  p.measurement = static_cast<EdgeMeasurement>(args.Choice(kEdgeMeasurementSetting, p.measurement));
  p.gaussRadius = static_cast<float>(args.Setting(kMaskGaussSetting, p.gaussRadius));
  p.filterRadius =
      static_cast<std::int32_t>(args.Setting(kMaskFilterRadiusSetting, p.filterRadius));
  p.multiplier = static_cast<float>(args.Setting(kMaskMultiplierSetting, p.multiplier));
  p.noiseLevel = static_cast<float>(args.Setting(kMaskNoiseLevelSetting, p.noiseLevel));
  p.smoothRadius = static_cast<float>(args.Setting(kMaskSmoothSetting, p.smoothRadius));
  p.dilationRadius =
      static_cast<std::int32_t>(args.Setting(kMaskDilationSetting, p.dilationRadius));
  p.threshold = static_cast<float>(args.Setting(kMaskThresholdSetting, p.threshold));
  ValidateOptions(p);
  return p;
}

bool UsesMaskOptions(const ParsedArgs& args) {
  for (const auto& o : MaskOptions())
    if (args.Has(o.name)) return true;
  return false;
}

// A deringing method given as its index or as its caption.
std::int32_t DeringMethodFrom(const std::string& option, const std::string& text) {
  std::int32_t method = DeringMethodFromCaption(text);
  if (method < 0) {
    const auto number = ParseNumber(text);
    if (number && *number == std::floor(*number) && *number >= 0 &&
        *number < kDeringMethodSetting.Count())
      method = static_cast<std::int32_t>(*number);
  }
  if (method < 0)
    throw UsageError("--" + option + ": '" + text + "' is neither a method number 0.." +
                     std::to_string(kDeringMethodSetting.Count() - 1) + " nor a method caption");
  return method;
}

PictureJob DeringJob(const ParsedArgs& args) {
  const DeringParams params = DeringParamsFrom(args, "");
  const std::optional<EdgeMaskParams> mask = OptionalMaskParams(args);
  return {[params, mask](const CommandInput& input, Progress& progress) {
            const TImageF4 result =
                Dering(input.Source(), params, mask ? &*mask : nullptr, progress);
            return SolverResultPicture(result, input, AlphaTravel::kSameSize, "lower --factor");
          },
          MemoryWork::kDering};
}

PictureJob MaskJob(const ParsedArgs& args) {
  const EdgeMaskParams params = MaskParamsFrom(args);
  return {[params](const CommandInput& input, Progress& progress) {
            return ResultPicture(EdgeMaskCommand(input.Source(), params, progress.SharedStopFlag()),
                                 input, AlphaTravel::kSameSize);
          },
          MemoryWork::kEdgeMask};
}

}  // namespace

std::vector<OptionSpec> MaskOptions() {
  return {
      ChoiceOption(kEdgeMeasurementSetting),   SettingOption(kMaskGaussSetting),
      SettingOption(kMaskFilterRadiusSetting), SettingOption(kMaskMultiplierSetting),
      SettingOption(kMaskNoiseLevelSetting),   SettingOption(kMaskSmoothSetting),
      SettingOption(kMaskDilationSetting),     SettingOption(kMaskThresholdSetting),
  };
}

std::vector<OptionSpec> DeringOptions(const std::string& prefix) {
  const std::string methods = "0.." + std::to_string(kDeringMethodSetting.Count() - 1) + "|CAPTION";
  std::vector<OptionSpec> options;
  if (prefix.empty())
    options.push_back(
        {kDeringMethodSetting.flag, methods,
         std::string(kDeringMethodSetting.help) + " (default " +
             std::to_string(kDeringMethodSetting.defaultIndex) + ", \"" +
             kDeringMethodSetting
                 .captions[static_cast<std::size_t>(kDeringMethodSetting.defaultIndex)] +
             "\")"});
  else
    options.push_back({"dering", methods,
                       "dering the enlarged luminance with this method (default: no deringing)"});
  options.push_back(ChoiceOption(kDeringInitialSetting, prefix));
  options.push_back(SettingOption(kDeringIterationsSetting, prefix));
  options.push_back(SettingOption(kDeringFactorSetting, prefix));
  options.push_back({"mask", "", "restrict deringing to the neighbourhood of edges"});
  return options;
}

DeringParams DeringParamsFrom(const ParsedArgs& args, const std::string& prefix) {
  DeringParams p;
  const std::string methodOption = prefix.empty() ? kDeringMethodSetting.flag : "dering";
  if (const auto text = args.Text(methodOption)) p.method = DeringMethodFrom(methodOption, *text);
  p.initial = args.Choice(kDeringInitialSetting, p.initial, prefix);
  p.iterations =
      static_cast<std::int32_t>(args.Setting(kDeringIterationsSetting, p.iterations, prefix));
  p.factor = static_cast<float>(args.Setting(kDeringFactorSetting, p.factor, prefix));
  ValidateOptions(p, prefix);
  return p;
}

std::optional<EdgeMaskParams> OptionalMaskParams(const ParsedArgs& args) {
  if (UsesMaskOptions(args) && !args.Has("mask")) throw UsageError("mask options need --mask");
  if (!args.Has("mask")) return std::nullopt;
  return MaskParamsFrom(args);
}

Command DeringCommand() {
  return {.name = "dering",
          .synopsis = "IN OUT",
          .summary = "remove ringing beside edges",
          .options = Join(DeringOptions(""), MaskOptions()),
          .positional = 2,
          .picture = DeringJob};
}

Command MaskCommand() {
  return {.name = "mask",
          .synopsis = "IN OUT",
          .summary = "write the edge mask that masked deringing uses (0..255)",
          .options = MaskOptions(),
          .positional = 2,
          .picture = MaskJob};
}

}  // namespace tvq::cli
