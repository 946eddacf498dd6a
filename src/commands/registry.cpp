#include "commands/registry.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include "deringing/deringcommand.h"
#include "filters/canny.h"
#include "imaging/errors.h"
#include "imaging/imagefmt.h"
#include "interpolation/interpolation.h"
#include "interpolation/upscale.h"
#include "utility/utility.h"

namespace tvq {

namespace {

// A field as its descriptor's value: numbers and enumerations converted the way the
// command line converts them (static_cast to the field's type).
template <typename Params, typename Field>
FieldBinding<Params> Bind(const SettingDesc* number, const ChoiceDesc* choice,
                          Field Params::*member) {
  return {number, choice,
          [member](Params& p, double v) {
            if constexpr (std::is_enum_v<Field>)
              p.*member = static_cast<Field>(static_cast<std::int32_t>(v));
            else
              p.*member = static_cast<Field>(v);
          },
          [member](const Params& p) {
            if constexpr (std::is_enum_v<Field>)
              return static_cast<double>(static_cast<std::int32_t>(p.*member));
            else
              return static_cast<double>(p.*member);
          }};
}

template <typename Params, typename Field>
FieldBinding<Params> Bind(const SettingDesc& number, Field Params::*member) {
  return Bind<Params, Field>(&number, nullptr, member);
}

template <typename Params, typename Field>
FieldBinding<Params> Bind(const ChoiceDesc& choice, Field Params::*member) {
  return Bind<Params, Field>(nullptr, &choice, member);
}

const SettingInput* Find(const SettingInputs& in, const std::string& flag) {
  const auto it = in.find(flag);
  return it == in.end() ? nullptr : &it->second;
}

std::string ShownValue(const SettingInput& value) {
  if (const auto* b = std::get_if<bool>(&value)) return *b ? "true" : "false";
  if (const auto* d = std::get_if<double>(&value)) return SettingValueText(*d);
  return std::get<std::string>(value);
}

// A switch: on when given as true.
bool SwitchOn(const SettingInputs& in, const std::string& flag) {
  const SettingInput* value = Find(in, flag);
  if (!value) return false;
  if (const auto* b = std::get_if<bool>(value)) return *b;
  throw SettingError("--" + flag + ": '" + ShownValue(*value) + "' is not on or off");
}

double NumberOf(const SettingInputs& in, const std::string& flag, const SettingDesc& setting,
                double fallback) {
  const SettingInput* value = Find(in, flag);
  if (!value) return fallback;
  const auto* number = std::get_if<double>(value);
  if (!number) throw SettingError("--" + flag + ": '" + ShownValue(*value) + "' is not a number");
  const std::string problem = RangeProblem(setting, *number, SettingValueText(*number));
  if (!problem.empty()) throw SettingError("--" + flag + ": " + problem);
  return *number;
}

// A choice by its command-line name, its caption, or its index.
std::int32_t ChoiceOf(const SettingInput& value, const std::string& flag,
                      const ChoiceDesc& choice) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    for (const auto& list : {choice.names, choice.captions})
      for (std::size_t i = 0; i < list.size(); ++i)
        if (*text == list[i]) return static_cast<std::int32_t>(i);
  }
  // An index, as a number or, for choices without command-line names, as text ("5").
  std::optional<double> number;
  if (const auto* d = std::get_if<double>(&value)) number = *d;
  if (const auto* text = std::get_if<std::string>(&value); text && choice.names.empty()) {
    char* end = nullptr;
    const double parsed = std::strtod(text->c_str(), &end);
    if (!text->empty() && end == text->c_str() + text->size()) number = parsed;
  }
  if (number && *number == std::floor(*number) && *number >= 0 && *number < choice.Count())
    return static_cast<std::int32_t>(*number);
  if (choice.names.empty())
    throw SettingError("--" + flag + ": '" + ShownValue(value) +
                       "' is neither a method number 0.." + std::to_string(choice.Count() - 1) +
                       " nor a method caption");
  std::string list;
  for (const char* name : choice.names) list += (list.empty() ? "" : ", ") + std::string(name);
  throw SettingError("--" + flag + ": '" + ShownValue(value) + "' is not one of " + list);
}

// The struct of a table's settings: each field from its flag (after `prefix`, or by
// `renamed` for one flag), the rest at their defaults; then Validate(), whose refusal
// names the flag as the command line does.
template <typename Params>
Params FillParams(const SettingsTable<Params>& table, const SettingInputs& in,
                  const std::string& prefix,
                  const std::pair<std::string, std::string>& renamed = {}) {
  const auto flagOf = [&](const char* flag) {
    return flag == renamed.first ? renamed.second : prefix + flag;
  };
  Params p;
  for (const FieldBinding<Params>& field : table) {
    const std::string flag = flagOf(field.Flag());
    if (field.number) {
      field.set(p, NumberOf(in, flag, *field.number, field.get(p)));
    } else if (const SettingInput* value = Find(in, flag)) {
      field.set(p, ChoiceOf(*value, flag, *field.choice));
    }
  }
  try {
    p.Validate();
  } catch (const SettingError& e) {
    if (!e.Flag()) throw;
    throw SettingError("--" + flagOf(e.Flag()) + ": " + e.Problem());
  } catch (const std::invalid_argument& e) {
    throw SettingError(e.what());
  }
  return p;
}

template <typename Params>
void AddTable(std::vector<CommandSetting>& settings, const SettingsTable<Params>& table,
              const std::string& prefix, const std::string& needs = {}) {
  for (const FieldBinding<Params>& field : table)
    settings.push_back({.flag = prefix + field.Flag(),
                        .number = field.number,
                        .choice = field.choice,
                        .needs = needs});
}

const CommandSetting kMaskSwitch{
    .flag = "mask", .help = "restrict deringing to the neighbourhood of edges", .isSwitch = true};

// The edge mask's settings when the mask is on; mask settings without it are refused.
std::optional<EdgeMaskParams> OptionalMask(const SettingInputs& in) {
  const bool on = SwitchOn(in, "mask");
  if (!on) {
    for (const auto& field : EdgeMaskTable())
      if (Find(in, field.Flag())) throw SettingError("mask options need --mask");
    return std::nullopt;
  }
  return FillParams(EdgeMaskTable(), in, "");
}

MemoryWork UpscaleMemory(UpscaleMethod method) {
  if (method == UpscaleMethod::kGradientColour) return MemoryWork::kUpscaleColour;
  if (method == UpscaleMethod::kDirectional) return MemoryWork::kUpscaleDirectional;
  return MemoryWork::kUpscaleGrey;
}

CommandEntry ResampleEntry() {
  CommandEntry entry{.name = "resample",
                     .summary =
                         "enlarge two times by super-resolution, optionally deringing the "
                         "result",
                     .travel = AlphaTravel::kEnlarged};
  AddTable(entry.settings, ResampleTable(), "");
  entry.settings.push_back(
      {.flag = "fractal", .help = "add fractal substitution texture", .isSwitch = true});
  entry.settings.push_back(
      {.flag = "dering",
       .choice = &kDeringMethodSetting,
       .help = "dering the enlarged luminance with this method (default: no deringing)",
       .isSwitch = true});
  for (const auto& field : DeringTable())
    if (field.choice != &kDeringMethodSetting)
      entry.settings.push_back({.flag = std::string("dering-") + field.Flag(),
                                .number = field.number,
                                .choice = field.choice,
                                .needs = "dering or mask"});
  entry.settings.push_back(kMaskSwitch);
  AddTable(entry.settings, EdgeMaskTable(), "", "mask");
  entry.prepare = [](const SettingInputs& in) {
    ResampleParams p = FillParams(ResampleTable(), in, "");
    p.fractalSubstitution = SwitchOn(in, "fractal");
    // "dering" is a method, or true for the default method; the mask derings too.
    const SettingInput* method = Find(in, "dering");
    const bool deringOn =
        method && !(std::holds_alternative<bool>(*method) && !std::get<bool>(*method));
    const bool dering = deringOn || SwitchOn(in, "mask");
    for (const char* name : {"dering-initial", "dering-iterations", "dering-factor"})
      if (!dering && Find(in, name))
        throw SettingError(std::string("--") + name + " needs --dering or --mask");
    SettingInputs deringIn = in;
    if (method && std::holds_alternative<bool>(*method)) deringIn.erase("dering");
    const std::optional<DeringParams> deringParams =
        dering ? std::optional(FillParams(DeringTable(), deringIn, "dering-", {"method", "dering"}))
               : std::nullopt;
    const std::optional<EdgeMaskParams> mask = OptionalMask(in);
    PreparedCommand prepared;
    prepared.work = [p, deringParams, mask](const CommandInput& input, Progress& progress) {
      const TImageF4 result = Resample(input.Source(), p, deringParams ? &*deringParams : nullptr,
                                       mask ? &*mask : nullptr, progress);
      return SolverResultPicture(result, input, AlphaTravel::kEnlarged,
                                 p.convergence == ConvergenceMode::kConditional
                                     ? "lower --step, --maximum or --btv-base, or raise --factor"
                                     : "lower --step, --maximum or --btv-base");
    };
    prepared.memory = MemoryWork::kResample;
    prepared.features = {
        .dering = dering, .mask = mask.has_value(), .fractal = p.fractalSubstitution};
    prepared.doubles = true;
    return prepared;
  };
  return entry;
}

CommandEntry DeringEntry() {
  CommandEntry entry{.name = "dering", .summary = "remove ringing beside edges"};
  AddTable(entry.settings, DeringTable(), "");
  entry.settings.push_back(kMaskSwitch);
  AddTable(entry.settings, EdgeMaskTable(), "", "mask");
  entry.prepare = [](const SettingInputs& in) {
    const DeringParams params = FillParams(DeringTable(), in, "");
    const std::optional<EdgeMaskParams> mask = OptionalMask(in);
    PreparedCommand prepared;
    prepared.work = [params, mask](const CommandInput& input, Progress& progress) {
      const TImageF4 result = Dering(input.Source(), params, mask ? &*mask : nullptr, progress);
      return SolverResultPicture(result, input, AlphaTravel::kSameSize, "lower --factor");
    };
    prepared.memory = MemoryWork::kDering;
    prepared.features = {.dering = true, .mask = mask.has_value()};
    return prepared;
  };
  return entry;
}

CommandEntry MaskEntry() {
  CommandEntry entry{.name = "mask",
                     .summary = "the edge mask that masked deringing uses (0..255)"};
  AddTable(entry.settings, EdgeMaskTable(), "");
  entry.prepare = [](const SettingInputs& in) {
    const EdgeMaskParams params = FillParams(EdgeMaskTable(), in, "");
    PreparedCommand prepared;
    prepared.work = [params](const CommandInput& input, Progress& progress) {
      return ResultPicture(EdgeMaskCommand(input.Source(), params, progress.SharedStopFlag()),
                           input, AlphaTravel::kSameSize);
    };
    prepared.memory = MemoryWork::kEdgeMask;
    return prepared;
  };
  return entry;
}

CommandEntry UpscaleEntry() {
  CommandEntry entry{
      .name = "upscale",
      .summary =
          "enlarge two times with one interpolator (grey; colour for "
          "gradient-color and directional)",
      .settings = {{.flag = kUpscaleMethodSetting.flag, .choice = &kUpscaleMethodSetting}},
      .travel = AlphaTravel::kEnlarged};
  entry.prepare = [](const SettingInputs& in) {
    const SettingInput* value = Find(in, kUpscaleMethodSetting.flag);
    if (!value) throw SettingError("--method is required");
    const auto method = static_cast<UpscaleMethod>(
        ChoiceOf(*value, kUpscaleMethodSetting.flag, kUpscaleMethodSetting));
    PreparedCommand prepared;
    prepared.work = [method](const CommandInput& input, Progress& progress) {
      const Enlargement result = UpscalePicture(input.Source(), method, progress.SharedStopFlag());
      return std::visit(
          [&input](const auto& image) {
            return ResultPicture(image, input, AlphaTravel::kEnlarged);
          },
          result);
    };
    prepared.memory = UpscaleMemory(method);
    prepared.doubles = true;
    return prepared;
  };
  return entry;
}

CommandEntry DownsampleEntry() {
  CommandEntry entry{.name = "downsample",
                     .summary = "halve the picture after an anti-alias blur",
                     .travel = AlphaTravel::kFourthChannel};
  entry.prepare = [](const SettingInputs&) {
    PreparedCommand prepared;
    prepared.work = [](const CommandInput& input, Progress& progress) {
      const DownsampleResult result = Downsample(input.Source(), progress.SharedStopFlag());
      return ResultPicture(result.halved, input, AlphaTravel::kFourthChannel);
    };
    prepared.memory = MemoryWork::kDownsample;
    return prepared;
  };
  return entry;
}

CommandEntry NoiseEntry() {
  CommandEntry entry{.name = "noise",
                     .summary =
                         "add Gaussian noise (deviation 5) to the grey picture; the "
                         "generator starts from the same state on every call"};
  entry.prepare = [](const SettingInputs&) {
    PreparedCommand prepared;
    prepared.work = [](const CommandInput& input, Progress&) {
      NoiseGenerator generator;  // every picture starts the generator from the same state
      return ResultPicture(AddGaussianNoise(input.Source(), generator), input,
                           AlphaTravel::kSameSize);
    };
    prepared.memory = MemoryWork::kNoise;
    return prepared;
  };
  return entry;
}

CommandEntry GreyEntry() {
  CommandEntry entry{.name = "grey", .summary = "convert the picture to grey levels"};
  entry.prepare = [](const SettingInputs&) {
    PreparedCommand prepared;
    prepared.work = [](const CommandInput& input, Progress&) {
      return ResultPicture(Greyscale(input.Source()), input, AlphaTravel::kSameSize);
    };
    prepared.memory = MemoryWork::kGrey;
    return prepared;
  };
  return entry;
}

CommandEntry CannyEntry() {
  CommandEntry entry{
      .name = "canny",
      .summary = "mark edges (255) with a Canny-style detector",
      .settings = {{.flag = kCannySigmaSetting.flag, .number = &kCannySigmaSetting}}};
  entry.prepare = [](const SettingInputs& in) {
    const double sigma =
        NumberOf(in, kCannySigmaSetting.flag, kCannySigmaSetting, kCannySigmaSetting.defaultValue);
    PreparedCommand prepared;
    prepared.work = [sigma](const CommandInput& input, Progress& progress) {
      // Read as four floats so that every picture works, then to bytes.
      const StopFlag* stop = progress.SharedStopFlag();
      TImageF4 colour;
      input.Source().Read(ifF4, colour);
      ThrowIfStopped(stop);
      TImageC4 bytes(colour.Width(), colour.Height());
      ConvertPixels(colour.GetDesc(), bytes.GetDesc());
      TImageB mask(colour.Width(), colour.Height());
      CannyEdgeMap(bytes, mask, sigma, stop);
      TImageF grey(mask.Width(), mask.Height());
      for (std::int32_t y = 0; y < mask.Height(); ++y)
        for (std::int32_t x = 0; x < mask.Width(); ++x)
          grey.Row(y)[x] = mask.Row(y)[x] ? 255.0f : 0.0f;
      return ResultPicture(grey, input, AlphaTravel::kSameSize);
    };
    prepared.memory = MemoryWork::kCanny;
    return prepared;
  };
  return entry;
}

// The entry with a prepare that refuses settings the command does not have first.
CommandEntry Checked(CommandEntry entry) {
  entry.prepare = [prepare = std::move(entry.prepare),
                   settings = entry.settings](const SettingInputs& in) {
    for (const auto& given : in) {
      bool known = false;
      for (const CommandSetting& s : settings) known = known || s.flag == given.first;
      if (!known) throw SettingError("unknown option --" + given.first);
    }
    return prepare(in);
  };
  return entry;
}

}  // namespace

const SettingsTable<ResampleParams>& ResampleTable() {
  using P = ResampleParams;
  static const SettingsTable<P> table = {
      Bind(kStabilizerSetting, &P::stabilizer),
      Bind(kInitialApproximationSetting, &P::initial),
      Bind(kConvergenceSetting, &P::convergence),
      Bind(kInitialStepSetting, &P::initialStep),
      Bind(kFactorSetting, &P::factor),
      Bind(kIterationsSetting, &P::iterations),
      Bind(kMaximumSetting, &P::maximum),
      Bind(kMinFactorSetting, &P::minFactor),
      Bind(kThreshMinSetting, &P::threshMin),
      Bind(kThreshMaxSetting, &P::threshMax),
      Bind(kBtvBaseSetting, &P::btvBase),
      Bind(kGaussRadiusSetting, &P::gaussRadius),
      Bind(kNormSetting, &P::norm),
  };
  return table;
}

const SettingsTable<DeringParams>& DeringTable() {
  using P = DeringParams;
  static const SettingsTable<P> table = {
      Bind(kDeringMethodSetting, &P::method),
      Bind(kDeringInitialSetting, &P::initial),
      Bind(kDeringIterationsSetting, &P::iterations),
      Bind(kDeringFactorSetting, &P::factor),
  };
  return table;
}

const SettingsTable<EdgeMaskParams>& EdgeMaskTable() {
  using P = EdgeMaskParams;
  static const SettingsTable<P> table = {
      Bind(kEdgeMeasurementSetting, &P::measurement),
      Bind(kMaskGaussSetting, &P::gaussRadius),
      Bind(kMaskFilterRadiusSetting, &P::filterRadius),
      Bind(kMaskMultiplierSetting, &P::multiplier),
      Bind(kMaskNoiseLevelSetting, &P::noiseLevel),
      Bind(kMaskSmoothSetting, &P::smoothRadius),
      Bind(kMaskDilationSetting, &P::dilationRadius),
      Bind(kMaskThresholdSetting, &P::threshold),
  };
  return table;
}

const std::vector<CommandEntry>& CommandRegistry() {
  static const std::vector<CommandEntry> entries = {
      Checked(DownsampleEntry()), Checked(NoiseEntry()),   Checked(GreyEntry()),
      Checked(CannyEntry()),      Checked(UpscaleEntry()), Checked(ResampleEntry()),
      Checked(DeringEntry()),     Checked(MaskEntry()),
  };
  return entries;
}

const CommandEntry* FindCommand(std::string_view name) {
  for (const CommandEntry& entry : CommandRegistry())
    if (entry.name == name) return &entry;
  return nullptr;
}

void CheckDoubling(std::int64_t width, std::int64_t height) {
  if (width * 2 <= kMaxImageSide && height * 2 <= kMaxImageSide) return;
  throw FileError("a " + std::to_string(width) + "x" + std::to_string(height) +
                  " picture cannot be enlarged beyond 65535 pixels a side");
}

}  // namespace tvq
