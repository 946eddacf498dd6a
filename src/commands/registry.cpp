#include "commands/registry.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include "commands/sizedrun.h"
#include "deringing/deringcommand.h"
#include "filters/canny.h"
#include "imaging/errors.h"
#include "imaging/imagefmt.h"
#include "interpolation/interpolation.h"
#include "interpolation/upscale.h"
#include "utility/resize.h"
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

// The settings a command is given, and how they are spelled.
struct Given {
  const SettingInputs& in;
  Spelling spelling;

  bool Typed() const { return spelling == Spelling::kCommandLine; }
};

const SettingInput* Find(const SettingInputs& in, const std::string& flag) {
  const auto it = in.find(flag);
  return it == in.end() ? nullptr : &it->second;
}

const SettingInput* Find(const Given& given, const std::string& flag) {
  return Find(given.in, flag);
}

std::string ShownValue(const SettingInput& value) {
  if (const auto* b = std::get_if<bool>(&value)) return *b ? "true" : "false";
  if (const auto* d = std::get_if<double>(&value)) return SettingValueText(*d);
  return std::get<std::string>(value);
}

// A switch: on when given as true.
bool SwitchOn(const Given& given, const std::string& flag) {
  const SettingInput* value = Find(given, flag);
  if (!value) return false;
  if (const auto* b = std::get_if<bool>(value)) return *b;
  throw SettingError("--" + flag + ": '" + ShownValue(*value) + "' is not on or off");
}

double NumberOf(const Given& given, const std::string& flag, const SettingDesc& setting,
                double fallback) {
  const SettingInput* value = Find(given, flag);
  if (!value) return fallback;
  std::optional<double> number;
  std::string shown;
  if (const auto* text = std::get_if<std::string>(value); text && given.Typed()) {
    number = ParseAnyNumber(*text);
    shown = *text;  // as typed: "1e9 is too large"
  } else if (const auto* d = std::get_if<double>(value)) {
    number = *d;
    shown = SettingValueText(*d);
  }
  if (!number) throw SettingError("--" + flag + ": '" + ShownValue(*value) + "' is not a number");
  const std::string problem = RangeProblem(setting, *number, shown);
  if (!problem.empty()) throw SettingError("--" + flag + ": " + problem);
  return *number;
}

// A choice by its command-line name, its caption, or its index; typed on the command
// line, by its command-line name only (a choice without names: its caption or index).
std::int32_t ChoiceOf(const SettingInput& value, const std::string& flag, const ChoiceDesc& choice,
                      Spelling spelling) {
  const bool typed = spelling == Spelling::kCommandLine;
  if (const auto* text = std::get_if<std::string>(&value)) {
    for (const auto& list : {choice.names, choice.captions}) {
      for (std::size_t i = 0; i < list.size(); ++i)
        if (*text == list[i]) return static_cast<std::int32_t>(i);
      if (typed && !choice.names.empty()) break;
    }
  }
  // An index, as a number or, for choices without command-line names, as text ("5").
  std::optional<double> number;
  if (const auto* d = std::get_if<double>(&value)) number = *d;
  if (const auto* text = std::get_if<std::string>(&value); text && choice.names.empty())
    number = ParseNumber(*text);
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
Params FillParams(const SettingsTable<Params>& table, const Given& in, const std::string& prefix,
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
      field.set(p, ChoiceOf(*value, flag, *field.choice, in.spelling));
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

// The value of a deringing method in the help: "0..14|CAPTION".
std::string DeringMethodValues() {
  return "0.." + std::to_string(kDeringMethodSetting.Count() - 1) + "|CAPTION";
}

const CommandSetting kMaskSwitch{
    .flag = "mask", .help = "restrict deringing to the neighbourhood of edges", .isSwitch = true};

// The edge mask's settings when the mask is on; mask settings without it are refused.
std::optional<EdgeMaskParams> OptionalMask(const Given& in) {
  const bool on = SwitchOn(in, "mask");
  if (!on) {
    for (const auto& field : EdgeMaskTable())
      if (Find(in, field.Flag())) throw SettingError("mask options need --mask");
    return std::nullopt;
  }
  return FillParams(EdgeMaskTable(), in, "");
}

// The size settings: `enlarging` for resample and upscale (scale above 1), resize
// otherwise.
void AddSizeSettings(std::vector<CommandSetting>& settings, bool enlarging) {
  const std::string scale = enlarging ? "above 1 up to 16" : "above 0 up to 16";
  settings.push_back(
      {.flag = "scale",
       .number = enlarging ? &kScaleSetting : &kResizeScaleSetting,
       .help = "output size round(S * W) x round(S * H), rounded half away from zero; S " + scale,
       .valueName = "S"});
  settings.push_back(
      {.flag = "size",
       .help = std::string("output size: WxH (fit inside, aspect kept), Wx or xH (one side), WxH! "
                           "(exactly), WxH^ (cover, aspect kept); a trailing < only enlarges") +
               (enlarging ? " (default: twice the input)" : ""),
       .valueName = "GEOMETRY",
       .isText = true});
}

// The size settings as given; SettingError for a malformed or out-of-range value, for
// both at once, and (when `required`) for neither.
OutputSizeParams SizeFrom(const Given& in, bool enlarging, bool required = false) {
  OutputSizeParams params;
  params.enlarging = enlarging;
  const SettingInput* size = Find(in, "size");
  if (Find(in, "scale") && size)
    throw SettingError("--scale and --size cannot both be given: choose one");
  if (required && !Find(in, "scale") && !size) throw SettingError("--scale or --size is required");
  params.scale = NumberOf(in, "scale", enlarging ? kScaleSetting : kResizeScaleSetting, 0.0);
  if (size) {
    const auto* text = std::get_if<std::string>(size);
    if (!text) throw SettingError("--size: '" + ShownValue(*size) + "' is not a geometry");
    try {
      params.geometry = ParseGeometry(*text);
    } catch (const std::invalid_argument& e) {
      throw SettingError(e.what());
    }
  }
  return params;
}

// The work of a command at the asked size, for one input and its output size.
using SizedWork = std::function<Picture(const CommandInput&, const OutputSize&, Progress&)>;
// The memory estimate of the work at that size.
using SizedEstimate = std::function<std::uint64_t(const MemoryFeatures&, std::int32_t, std::int32_t,
                                                  std::uint64_t, const OutputSize&)>;

// A command at a size: the size is computed from each input's size, so that a size that
// cannot be made refuses a file from its header, before its pixels are decoded.
PreparedCommand SizedCommand(const OutputSizeParams& size, SizedWork work, SizedEstimate estimate,
                             MemoryWork memory, const MemoryFeatures& features = {}) {
  PreparedCommand prepared;
  prepared.memory = memory;
  prepared.features = features;
  prepared.checkSize = [size](std::int32_t width, std::int32_t height) {
    ComputeOutputSize(size, width, height);
  };
  prepared.estimate = [size, estimate = std::move(estimate)](
                          const MemoryFeatures& f, std::int32_t width, std::int32_t height,
                          std::uint64_t inputBytes) {
    OutputSize output;
    try {
      output = ComputeOutputSize(size, width, height);
    } catch (const std::exception&) {
      return std::uint64_t{0};  // refused by checkSize
    }
    return estimate(f, width, height, inputBytes, output);
  };
  prepared.work = [size, work = std::move(work)](const CommandInput& input, Progress& progress) {
    return work(input, ComputeOutputSize(size, input.Width(), input.Height()), progress);
  };
  return prepared;
}

MemoryWork UpscaleMemory(UpscaleMethod method) {
  if (method == UpscaleMethod::kGradientColour) return MemoryWork::kUpscaleColour;
  if (method == UpscaleMethod::kDirectional) return MemoryWork::kUpscaleDirectional;
  return MemoryWork::kUpscaleGrey;
}

CommandEntry ResampleEntry() {
  CommandEntry entry{.name = "resample",
                     .summary =
                         "enlarge by super-resolution (two times, or --scale / --size), "
                         "optionally deringing the result",
                     .travel = AlphaTravel::kEnlarged};
  AddTable(entry.settings, ResampleTable(), "");
  entry.settings.push_back(
      {.flag = "fractal", .help = "add fractal substitution texture", .isSwitch = true});
  AddSizeSettings(entry.settings, true);
  entry.settings.push_back({.flag = kSizeRouteSetting.flag, .choice = &kSizeRouteSetting});
  entry.settings.push_back(
      {.flag = "dering",
       .choice = &kDeringMethodSetting,
       .help = "dering the enlarged luminance with this method (default: no deringing)",
       .valueName = DeringMethodValues(),
       .isSwitch = true});
  for (const auto& field : DeringTable())
    if (field.choice != &kDeringMethodSetting)
      entry.settings.push_back({.flag = std::string("dering-") + field.Flag(),
                                .number = field.number,
                                .choice = field.choice,
                                .needs = "dering or mask"});
  entry.settings.push_back(kMaskSwitch);
  AddTable(entry.settings, EdgeMaskTable(), "", "mask");
  entry.prepare = [](const SettingInputs& inputs, Spelling spelling) {
    const Given in{inputs, spelling};
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
    SettingInputs deringIn = inputs;
    if (method && std::holds_alternative<bool>(*method)) deringIn.erase("dering");
    const std::optional<DeringParams> deringParams =
        dering ? std::optional(FillParams(DeringTable(), Given{deringIn, spelling}, "dering-",
                                          {"method", "dering"}))
               : std::nullopt;
    const std::optional<EdgeMaskParams> mask = OptionalMask(in);
    const OutputSizeParams size = SizeFrom(in, true);
    const SettingInput* routeValue = Find(in, kSizeRouteSetting.flag);
    const auto route = static_cast<SizeRoute>(
        routeValue ? ChoiceOf(*routeValue, kSizeRouteSetting.flag, kSizeRouteSetting, spelling)
                   : kSizeRouteSetting.defaultIndex);
    if (routeValue && !size.Given()) throw SettingError("--size-method needs --scale or --size");
    return PrepareResample(p, deringParams, mask, size, route, SettingNames::kFlags);
  };
  return entry;
}

CommandEntry DeringEntry() {
  CommandEntry entry{.name = "dering", .summary = "remove ringing beside edges"};
  AddTable(entry.settings, DeringTable(), "");
  // The method: an index or a caption.
  const ChoiceDesc& method = kDeringMethodSetting;
  entry.settings.front().valueName = DeringMethodValues();
  entry.settings.front().help =
      std::string(method.help) + " (default " + std::to_string(method.defaultIndex) + ", \"" +
      method.captions[static_cast<std::size_t>(method.defaultIndex)] + "\")";
  entry.settings.push_back(kMaskSwitch);
  AddTable(entry.settings, EdgeMaskTable(), "", "mask");
  entry.prepare = [](const SettingInputs& inputs, Spelling spelling) {
    const Given in{inputs, spelling};
    return PrepareDering(FillParams(DeringTable(), in, ""), OptionalMask(in), SettingNames::kFlags);
  };
  return entry;
}

CommandEntry MaskEntry() {
  CommandEntry entry{.name = "mask",
                     .summary = "write the edge mask that masked deringing uses (0..255)"};
  AddTable(entry.settings, EdgeMaskTable(), "");
  entry.prepare = [](const SettingInputs& inputs, Spelling spelling) {
    return PrepareEdgeMask(FillParams(EdgeMaskTable(), Given{inputs, spelling}, ""));
  };
  return entry;
}

CommandEntry UpscaleEntry() {
  CommandEntry entry{
      .name = "upscale",
      .summary =
          "enlarge two times (or --scale / --size) with one interpolator (grey; colour for "
          "gradient-color and directional)",
      .settings = {{.flag = kUpscaleMethodSetting.flag, .choice = &kUpscaleMethodSetting}},
      .travel = AlphaTravel::kEnlarged};
  AddSizeSettings(entry.settings, true);
  entry.prepare = [](const SettingInputs& inputs, Spelling spelling) {
    const Given in{inputs, spelling};
    const SettingInput* value = Find(in, kUpscaleMethodSetting.flag);
    if (!value) throw SettingError("--method is required");
    const auto method = static_cast<UpscaleMethod>(
        ChoiceOf(*value, kUpscaleMethodSetting.flag, kUpscaleMethodSetting, spelling));
    const OutputSizeParams size = SizeFrom(in, true);
    if (size.Given()) {
      const SizedWork sized = [method](const CommandInput& input, const OutputSize& output,
                                       Progress& progress) {
        return UpscaleAtSize(input, output, method, progress);
      };
      const MemoryWork memory = UpscaleMemory(method);
      const SizedEstimate estimate = [memory](const MemoryFeatures& features, std::int32_t width,
                                              std::int32_t height, std::uint64_t inputBytes,
                                              const OutputSize& output) {
        return EstimateMemoryAtSize(memory, features, width, height, inputBytes, output);
      };
      return SizedCommand(size, sized, estimate, memory);
    }
    // A stop leaves an enlargement with nothing worth writing: the enlargers and the
    // steps between them throw OperationStopped.
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

CommandEntry ResizeEntry() {
  CommandEntry entry{.name = "resize",
                     .summary =
                         "resize to --scale S or --size GEOMETRY with one filter (antialiased "
                         "when reducing)",
                     .travel = AlphaTravel::kSameSize};
  AddSizeSettings(entry.settings, false);
  entry.settings.push_back({.flag = kResizeFilterSetting.flag, .choice = &kResizeFilterSetting});
  entry.prepare = [](const SettingInputs& inputs, Spelling spelling) {
    const Given in{inputs, spelling};
    const OutputSizeParams size = SizeFrom(in, false, true);
    const SettingInput* value = Find(in, kResizeFilterSetting.flag);
    return PrepareResize(
        size, static_cast<ResizeFilter>(value ? ChoiceOf(*value, kResizeFilterSetting.flag,
                                                         kResizeFilterSetting, spelling)
                                              : kResizeFilterSetting.defaultIndex));
  };
  return entry;
}

CommandEntry DownsampleEntry() {
  CommandEntry entry{.name = "downsample",
                     .summary = "halve the picture after an anti-alias blur",
                     .travel = AlphaTravel::kFourthChannel};
  entry.prepare = [](const SettingInputs&, Spelling) {
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
                         "generator starts from the same state on every run and for every "
                         "file"};
  entry.prepare = [](const SettingInputs&, Spelling) {
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
  entry.prepare = [](const SettingInputs&, Spelling) {
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
  entry.prepare = [](const SettingInputs& in, Spelling spelling) {
    const double sigma = NumberOf(Given{in, spelling}, kCannySigmaSetting.flag, kCannySigmaSetting,
                                  kCannySigmaSetting.defaultValue);
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
  entry.prepare = [prepare = std::move(entry.prepare), settings = entry.settings](
                      const SettingInputs& in, Spelling spelling) {
    for (const auto& given : in) {
      bool known = false;
      for (const CommandSetting& s : settings) known = known || s.flag == given.first;
      if (!known) throw SettingError("unknown option --" + given.first);
    }
    return prepare(in, spelling);
  };
  return entry;
}

// "lower --step, --maximum or --btv-base" or "lower \"Initial step\", \"Maximum\" or
// \"BTV base\"": the settings a message suggests changing, named as `names` says.
std::string SettingList(std::initializer_list<const SettingDesc*> settings, SettingNames names) {
  std::string text;
  std::size_t i = 0;
  for (const SettingDesc* setting : settings) {
    if (i > 0) text += i + 1 == settings.size() ? " or " : ", ";
    text += names == SettingNames::kFlags ? "--" + std::string(setting->flag)
                                          : "\"" + CaptionName(setting->caption) + "\"";
    ++i;
  }
  return text;
}

}  // namespace

std::string SolverRemedy(ConvergenceMode convergence, SettingNames names) {
  std::string remedy =
      "lower " + SettingList({&kInitialStepSetting, &kMaximumSetting, &kBtvBaseSetting}, names);
  // The Conditional mode grows the step by 1 / factor: there a larger factor helps.
  if (convergence == ConvergenceMode::kConditional)
    remedy += ", or raise " + SettingList({&kFactorSetting}, names);
  return remedy;
}

std::string DeringRemedy(SettingNames names) {
  return "lower " + SettingList({&kDeringFactorSetting}, names);
}

// Why work with these settings cannot run in tiles; empty when it can.
std::string UntiledReason(const std::optional<DeringParams>& dering, ConvergenceMode convergence) {
  if (dering) {
    const DeringFamily family = kDeringMethods[static_cast<std::size_t>(dering->method)].family;
    if (family == DeringFamily::kGlobal || family == DeringFamily::kGlobalFixed)
      return "the global deringing methods (0 and 1) work on whole lines and cannot run in "
             "tiles; use a local method or --tile 0";
  }
  if (convergence == ConvergenceMode::kConditional)
    return "the conditional schedule changes the step whenever the whole picture's residual "
           "has risen twice, all through the run, and cannot run in tiles; use --convergence "
           "exponential or fixed, or --tile 0";
  return {};
}

PreparedCommand PrepareResample(const ResampleParams& p, const std::optional<DeringParams>& dering,
                                const std::optional<EdgeMaskParams>& mask,
                                const OutputSizeParams& size, SizeRoute route, SettingNames names) {
  const std::string remedy = SolverRemedy(p.convergence, names);
  const MemoryFeatures features{
      .dering = dering.has_value(), .mask = mask.has_value(), .fractal = p.fractalSubstitution};
  const std::int32_t deringMethod = dering ? dering->method : -1;
  if (size.Given()) {
    const SizedWork sized = [p, dering, mask, remedy, route](const CommandInput& input,
                                                             const OutputSize& output,
                                                             Progress& progress) {
      return ResampleAtSize(input, output, p, dering ? &*dering : nullptr, mask ? &*mask : nullptr,
                            remedy, progress, route);
    };
    const SizedEstimate estimate = [route](const MemoryFeatures& f, std::int32_t width,
                                           std::int32_t height, std::uint64_t inputBytes,
                                           const OutputSize& output) {
      return EstimateMemoryAtSize(MemoryWork::kResample, f, width, height, inputBytes, output,
                                  route);
    };
    PreparedCommand prepared = SizedCommand(size, sized, estimate, MemoryWork::kResample, features);
    prepared.deringMethod = deringMethod;
    prepared.untiled = UntiledReason(dering, p.convergence);
    return prepared;
  }
  PreparedCommand prepared;
  prepared.deringMethod = deringMethod;
  prepared.untiled = UntiledReason(dering, p.convergence);
  prepared.work = [p, dering, mask, remedy](const CommandInput& input, Progress& progress) {
    const TImageF4 result =
        Resample(input.Source(), p, dering ? &*dering : nullptr, mask ? &*mask : nullptr, progress);
    return SolverResultPicture(result, input, AlphaTravel::kEnlarged, remedy);
  };
  prepared.memory = MemoryWork::kResample;
  prepared.features = features;
  prepared.doubles = true;
  return prepared;
}

PreparedCommand PrepareDering(const DeringParams& params, const std::optional<EdgeMaskParams>& mask,
                              SettingNames names) {
  PreparedCommand prepared;
  prepared.work = [params, mask, remedy = DeringRemedy(names)](const CommandInput& input,
                                                               Progress& progress) {
    const TImageF4 result = Dering(input.Source(), params, mask ? &*mask : nullptr, progress);
    return SolverResultPicture(result, input, AlphaTravel::kSameSize, remedy);
  };
  prepared.memory = MemoryWork::kDering;
  prepared.features = {.dering = true, .mask = mask.has_value()};
  prepared.deringMethod = params.method;
  prepared.untiled = UntiledReason(params, ConvergenceMode::kExponential);
  return prepared;
}

PreparedCommand PrepareEdgeMask(const EdgeMaskParams& params) {
  PreparedCommand prepared;
  prepared.work = [params](const CommandInput& input, Progress& progress) {
    return ResultPicture(EdgeMaskCommand(input.Source(), params, progress.SharedStopFlag()), input,
                         AlphaTravel::kSameSize);
  };
  prepared.memory = MemoryWork::kEdgeMask;
  return prepared;
}

PreparedCommand PrepareResize(const OutputSizeParams& size, ResizeFilter filter) {
  const SizedWork work = [filter](const CommandInput& input, const OutputSize& output,
                                  Progress& progress) {
    return ResizeAtSize(input, output, filter, progress);
  };
  const SizedEstimate estimate = [](const MemoryFeatures& features, std::int32_t width,
                                    std::int32_t height, std::uint64_t inputBytes,
                                    const OutputSize& output) {
    return EstimateResizeMemory(features, width, height, inputBytes, output);
  };
  return SizedCommand(size, work, estimate, MemoryWork::kGrey);
}

std::optional<double> ParseNumber(const std::string& text) {
  double value = 0.0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  const auto result = std::from_chars(first, last, value);
  if (text.empty() || result.ec != std::errc() || result.ptr != last || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<double> ParseAnyNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  double value = 0.0;
  const char* first = text.data() + (text[0] == '+' ? 1 : 0);
  const char* last = text.data() + text.size();
  const auto result = std::from_chars(first, last, value);
  if (result.ptr != last) return std::nullopt;
  if (result.ec == std::errc()) return std::isnan(value) ? std::nullopt : std::optional(value);
  // A number beyond double's range, which from_chars reads whole and reports.
  if (result.ec != std::errc::result_out_of_range) return std::nullopt;
  return std::strtod(text.c_str(), nullptr);  // +-HUGE_VAL, or the nearest small value
}

void PreparedCommand::CheckSize(std::int32_t width, std::int32_t height) const {
  if (checkSize)
    checkSize(width, height);
  else if (doubles)
    CheckDoubling(width, height);
}

std::uint64_t PreparedCommand::Estimate(const MemoryFeatures& f, std::int32_t width,
                                        std::int32_t height, std::uint64_t inputBytes) const {
  return estimate ? estimate(f, width, height, inputBytes)
                  : EstimateMemory(memory, f, width, height, inputBytes);
}

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
      Checked(CannyEntry()),      Checked(UpscaleEntry()), Checked(ResizeEntry()),
      Checked(ResampleEntry()),   Checked(DeringEntry()),  Checked(MaskEntry()),
  };
  return entries;
}

const CommandEntry* FindCommand(std::string_view name) {
  for (const CommandEntry& entry : CommandRegistry())
    if (entry.name == name) return &entry;
  return nullptr;
}

namespace {

// A view of the top-left part of image of at most width x height pixels.
TImageF4 TopLeft(const TImageF4& image, std::int32_t width, std::int32_t height) {
  TImageDesc part = image.GetDesc();
  part.width = std::min(part.width, width);
  part.height = std::min(part.height, height);
  TImageF4 view;
  view.Attach(part);
  return view;
}

}  // namespace

ComparedPictures ComparePictures(const TImageF4& colourA, const TImageF4& colourB,
                                 std::int32_t shave, bool crop, const std::string& nameA,
                                 const std::string& nameB) {
  ComparedPictures c;
  c.cropped = crop;
  c.options.shave = shave;
  c.widthA = colourA.Width();
  c.heightA = colourA.Height();
  c.widthB = colourB.Width();
  c.heightB = colourB.Height();
  const std::int32_t w = std::min(c.widthA, c.widthB);
  const std::int32_t h = std::min(c.heightA, c.heightB);
  if (!crop && (c.widthA != c.widthB || c.heightA != c.heightB))
    throw FileError(nameA + " and " + nameB + ": the sizes differ (" + std::to_string(c.widthA) +
                    "x" + std::to_string(c.heightA) + " against " + std::to_string(c.widthB) + "x" +
                    std::to_string(c.heightB) + "); --crop compares the top-left " +
                    std::to_string(w) + "x" + std::to_string(h) + " they share");
  c.partA = TopLeft(colourA, w, h);
  c.partB = TopLeft(colourB, w, h);
  if (2 * static_cast<std::int64_t>(shave) >= std::min(w, h))
    throw FileError(nameA + " and " + nameB + ": --shave " + std::to_string(shave) +
                    " leaves nothing of the " + std::to_string(w) + "x" + std::to_string(h) +
                    " pictures");
  c.metrics = CompareMetrics(c.partA, c.partB, c.options);
  return c;
}

void CheckDoubling(std::int64_t width, std::int64_t height) {
  if (width * 2 <= kMaxImageSide && height * 2 <= kMaxImageSide) return;
  throw FileError("a " + std::to_string(width) + "x" + std::to_string(height) +
                  " picture cannot be enlarged beyond 65535 pixels a side");
}

}  // namespace tvq
