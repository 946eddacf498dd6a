#include "cli/commands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iomanip>
#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "cli/batch.h"
#include "cli/options.h"
#include "cli/terminal_progress.h"
#include "commands/filepicture.h"
#include "commands/memoryestimate.h"
#include "deringing/dering.h"
#include "deringing/deringcommand.h"
#include "deringing/edgemask.h"
#include "filters/canny.h"
#include "imaging/bitmap.h"
#include "imaging/imagefmt.h"
#include "imaging/io/picture.h"
#include "imaging/parallel.h"
#include "interpolation/bilinear.h"
#include "interpolation/directional.h"
#include "interpolation/gradient.h"
#include "interpolation/interpolation.h"
#include "interpolation/lanczos.h"
#include "interpolation/nedi.h"
#include "superres/resample.h"
#include "utility/utility.h"

namespace tvq::cli {

namespace {

// A failure while processing a named file; printed as "tvq: error: <what>".
class ProcessingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Context {
  std::ostream& out;
  std::ostream& err;
  TerminalProgress& progress;
};

// What a picture command does to the picture of one file, built once from the
// options (so that bad options are usage errors before any file is read) and run
// for every file; it returns the picture to write.
using PictureWork = std::function<Picture(const CommandInput&, Progress&)>;

struct Command {
  std::string name;
  std::string synopsis;  // arguments after the command name
  std::string summary;
  std::vector<OptionSpec> options;
  std::size_t positional;  // number of required positional arguments
  // Commands that print (info, psnr).
  std::function<void(const ParsedArgs&, Context&)> run;
  // Picture-in, picture-out commands, which also run as batches.
  std::function<PictureWork(const ParsedArgs&)> picture;
};

std::string ExtensionList() {
  std::string list;
  for (const auto& e : PictureExtensions()) list += (list.empty() ? "" : " ") + e;
  return list;
}

void CheckOutputName(const std::string& path) {
  if (!FormatFromExtension(path))
    throw UsageError("output '" + path + "' must end in one of " + ExtensionList());
}

// Runs `work`, turning library failures into one message naming the input.
template <typename Work>
auto Process(const std::string& input, Work work) {
  try {
    return work();
  } catch (const FileError&) {
    throw;
  } catch (const ProcessingError&) {
    throw;
  } catch (const OperationStopped&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw ProcessingError(input + ": not enough memory for this picture");
  } catch (const std::exception& e) {
    throw ProcessingError(input + ": " + e.what());
  }
}

// The largest --max-pixels: no reader accepts a picture larger than 65535 a side.
constexpr std::uint64_t kMaxPixelLimit =
    static_cast<std::uint64_t>(kMaxImageSide) * static_cast<std::uint64_t>(kMaxImageSide);

// A pixel count as typed: digits with an optional K, M or G (thousand, million,
// billion; k, m, g too), e.g. "200M"; counts beyond kMaxPixelLimit come back as one
// more than it. std::nullopt for any other text.
std::optional<std::uint64_t> ParsePixelCount(const std::string& text) {
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits)
    value =
        std::min(value * 10 + static_cast<std::uint64_t>(text[digits] - '0'), kMaxPixelLimit + 1);
  if (digits == 0 || text.size() - digits > 1) return std::nullopt;
  if (digits < text.size()) {
    const char suffix = static_cast<char>(text.back() | 0x20);  // lower case
    const std::uint64_t scale = suffix == 'k'   ? 1'000
                                : suffix == 'm' ? 1'000'000
                                : suffix == 'g' ? 1'000'000'000
                                                : 0;
    if (scale == 0) return std::nullopt;
    value = std::min(value, kMaxPixelLimit + 1) * scale;  // at most about 2^62
  }
  return std::min(value, kMaxPixelLimit + 1);
}

// The limits a command's inputs are read with: --max-pixels.
DecodeLimits DecodeLimitsFrom(const ParsedArgs& args) {
  DecodeLimits limits;
  if (const auto text = args.Text("max-pixels")) {
    const auto value = ParsePixelCount(*text);
    if (!value)
      throw UsageError("--max-pixels: '" + *text +
                       "' is not a whole number of pixels, such as 50000000 or 50M");
    if (*value < 1 || *value > kMaxPixelLimit)
      throw UsageError("--max-pixels: " + *text + " is out of range: it must lie in 1.." +
                       std::to_string(kMaxPixelLimit) + " (65535 x 65535 pixels)");
    limits.maxPixels = *value;
  }
  return limits;
}

// What stands in the way of doubling a picture of width x height pixels; empty when
// nothing does.
std::string DoublingProblem(std::int64_t width, std::int64_t height) {
  if (width * 2 <= kMaxImageSide && height * 2 <= kMaxImageSide) return {};
  return "a " + std::to_string(width) + "x" + std::to_string(height) +
         " picture cannot be enlarged beyond 65535 pixels a side";
}

// The limits of a command's inputs: --max-pixels, and for the commands that double
// the picture a size they can double, so that a picture they must refuse is refused
// from its header, before its pixels are decoded.
DecodeLimits InputLimitsFor(const Command& command, const ParsedArgs& args) {
  DecodeLimits limits = DecodeLimitsFrom(args);
  if (command.name == "upscale" || command.name == "resample")
    limits.checkSize = [](std::int32_t width, std::int32_t height) {
      const std::string problem = DoublingProblem(width, height);
      if (!problem.empty()) throw FileError(problem);
    };
  return limits;
}

// Reads a picture file; a picture over the pixel limit is refused with a pointer to
// the option that raises it.
Picture ReadInput(const std::string& path, const DecodeLimits& limits) {
  try {
    return ReadPicture(path, limits);
  } catch (const PixelLimitError& e) {
    throw FileError(std::string(e.what()) + " (--max-pixels)");
  }
}

// A file of any supported format, ready for a command.
CommandInput LoadInput(const std::string& path, const DecodeLimits& limits) {
  Picture picture = ReadInput(path, limits);
  return Process(path, [&] { return PrepareInput(std::move(picture)); });
}

// Writes a command's result in the format of path's extension; warns once when the
// input's transparency cannot go into that format.
void WriteOutput(const Picture& result, const CommandInput& input, const std::string& path,
                 const WriteOptions& options, const std::function<void(const std::string&)>& warn) {
  WritePicture(result, path, options);
  const PictureFormat format = *FormatFromExtension(path);
  if (input.alpha.HasImage() && !FormatHoldsAlpha(format))
    warn("tvq: warning: " + path + ": " + PictureFormatName(format) +
         " holds no alpha; the picture's transparency was dropped");
}

std::string FormatNumber(double value) {
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

const char* OrientationText(std::int32_t orientation) {
  return orientation == 1 ? " (upright)" : " (turned upright on reading)";
}

void RunInfo(const ParsedArgs& args, Context& ctx) {
  const std::string& path = args.Positional()[0];
  const Picture picture = ReadInput(path, DecodeLimitsFrom(args));
  ctx.out << "file: " << path << "\n"
          << "format: " << PictureFormatName(picture.format) << "\n"
          << "width: " << picture.width << "\n"
          << "height: " << picture.height << "\n"
          << "channels: " << picture.channels << "\n"
          << "bits per channel: " << picture.bitsPerChannel << "\n"
          << "alpha: " << (picture.HasAlpha() ? "yes" : "no") << "\n"
          << "ICC profile: "
          << (picture.icc.empty() ? "no" : "yes (" + std::to_string(picture.icc.size()) + " bytes)")
          << "\n"
          << "orientation: " << picture.orientation << OrientationText(picture.orientation) << "\n";
  bool converted = false;
  if (picture.bitmap) {
    const BmpInfo& info = picture.bmpInfo;
    converted = info.bitsPerPixel != 24 && info.bitsPerPixel != 32;
    ctx.out << "bits per pixel: " << info.bitsPerPixel << "\n"
            << "header: " << info.headerType << "\n"
            << "compression: " << info.compression << "\n"
            << "rows: " << (info.topDown ? "top-down" : "bottom-up") << "\n";
  }
  ctx.out << "processable: "
          << (converted ? "yes (converted to 32 bits with its palette or bit fields first)" : "yes")
          << "\n";
}

PictureWork DownsampleWork(const ParsedArgs&) {
  return [](const CommandInput& input, Progress& progress) {
    const DownsampleResult result = Downsample(input.Source(), progress.SharedStopFlag());
    return ResultPicture(result.halved, input, AlphaTravel::kFourthChannel);
  };
}

PictureWork NoiseWork(const ParsedArgs&) {
  return [](const CommandInput& input, Progress&) {
    // Every file starts the generator from the same state.
    NoiseGenerator generator;
    return ResultPicture(AddGaussianNoise(input.Source(), generator), input,
                         AlphaTravel::kSameSize);
  };
}

PictureWork GreyWork(const ParsedArgs&) {
  return [](const CommandInput& input, Progress&) {
    return ResultPicture(Greyscale(input.Source()), input, AlphaTravel::kSameSize);
  };
}

// The top-left part of image of at most width x height pixels.
TImageF CropTopLeft(const TImageF& image, std::int32_t width, std::int32_t height) {
  TImageDesc part = image.GetDesc();
  part.width = std::min(part.width, width);
  part.height = std::min(part.height, height);
  TImageF view;
  view.Attach(part);
  return view.Clone();
}

void RunPsnr(const ParsedArgs& args, Context& ctx) {
  const std::string& pathA = args.Positional()[0];
  const std::string& pathB = args.Positional()[1];
  const DecodeLimits limits = DecodeLimitsFrom(args);
  const CommandInput a = LoadInput(pathA, limits);
  const CommandInput b = LoadInput(pathB, limits);
  TImageF greyA = Process(pathA, [&] { return GreyOf(a.Source()); });
  TImageF greyB = Process(pathB, [&] { return GreyOf(b.Source()); });
  if (args.Has("crop")) {
    greyA = CropTopLeft(greyA, greyB.Width(), greyB.Height());
    greyB = CropTopLeft(greyB, greyA.Width(), greyA.Height());
  }
  if (greyA.Width() != greyB.Width() || greyA.Height() != greyB.Height())
    throw ProcessingError(pathA + " and " + pathB + ": dimensions must be equal (" +
                          std::to_string(greyA.Width()) + "x" + std::to_string(greyA.Height()) +
                          " against " + std::to_string(greyB.Width()) + "x" +
                          std::to_string(greyB.Height()) + ")");
  const PsnrResult result = ComparePsnr(greyA, greyB);
  ctx.out << "MSE = " << FormatNumber(result.mse) << "\n"
          << "PSNR = " << FormatNumber(result.psnr) << "\n";
}

PictureWork CannyWork(const ParsedArgs& args) {
  const double sigma = args.Setting(kCannySigmaSetting, kCannySigmaSetting.defaultValue);
  return [sigma](const CommandInput& input, Progress& progress) {
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
}

// Doubled size of a picture; a clear error when it would exceed the image limits.
void CheckDoubledSize(const CommandInput& picture) {
  const std::string problem = DoublingProblem(picture.Width(), picture.Height());
  if (!problem.empty()) throw std::runtime_error(problem);
}

// Runs params.Validate(), reporting a bad value as a usage error that names its option
// (after `prefix`).
template <typename Params>
void ValidateOptions(const Params& params, const std::string& prefix = "") {
  try {
    params.Validate();
  } catch (const SettingError& e) {
    throw SettingUsageError(e, prefix);
  } catch (const std::invalid_argument& e) {
    throw UsageError(e.what());
  }
}

const std::vector<std::string> kUpscaleMethods = ChoiceNames(kUpscaleMethodSetting);

PictureWork UpscaleWork(const ParsedArgs& args) {
  if (!args.Has("method")) throw UsageError("--method is required");
  const std::string method = kUpscaleMethods[args.Choice("method", kUpscaleMethods, 0)];
  // A stop leaves an enlargement with nothing worth writing: the enlargers and the
  // steps between them throw OperationStopped.
  return [method](const CommandInput& input, Progress& progress) {
    const StopFlag* stop = progress.SharedStopFlag();
    CheckDoubledSize(input);
    if (method == "gradient-color" || method == "directional") {
      TImageF4 colour;
      input.Source().Read(ifF4, colour);
      ThrowIfStopped(stop);
      TImageF4 result;
      if (method == "gradient-color") {
        result = TImageF4(2 * colour.Width(), 2 * colour.Height());
        GradientUpscaleColor(colour, result, 2, stop);
      } else {
        TImageC4 bytes(colour.Width(), colour.Height());
        ConvertPixels(colour.GetDesc(), bytes.GetDesc());
        ThrowIfStopped(stop);
        TImageC4 enlarged(2 * colour.Width(), 2 * colour.Height());
        DirectionalUpscaleC4(bytes, enlarged, stop);
        ThrowIfStopped(stop);
        result = TImageF4(enlarged.Width(), enlarged.Height());
        ConvertPixels(enlarged.GetDesc(), result.GetDesc());
      }
      ThrowIfStopped(stop);
      return ResultPicture(result, input, AlphaTravel::kEnlarged);
    }
    TImageF grey;
    input.Source().Read(ifF, grey);
    ThrowIfStopped(stop);
    TImageF result(2 * grey.Width(), 2 * grey.Height());
    if (method == "gradient") {
      GradientUpscale(grey, result, 2, stop);
    } else if (method == "nedi") {
      NediUpscale(grey, result, NediConfigFor(4), stop);
    } else if (method == "lanczos") {
      LanczosUpscale(grey, result, stop);
    } else {
      BilinearUpscale(grey, result, stop);
    }
    ThrowIfStopped(stop);
    return ResultPicture(result, input, AlphaTravel::kEnlarged);
  };
}

// Options of the edge mask, shared by dering, resample and mask.
std::vector<OptionSpec> MaskOptions() {
  return {
      ChoiceOption(kEdgeMeasurementSetting),   SettingOption(kMaskGaussSetting),
      SettingOption(kMaskFilterRadiusSetting), SettingOption(kMaskMultiplierSetting),
      SettingOption(kMaskNoiseLevelSetting),   SettingOption(kMaskSmoothSetting),
      SettingOption(kMaskDilationSetting),     SettingOption(kMaskThresholdSetting),
  };
}

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

// Deringing options; `prefix` is "" for dering and "dering-" for resample.
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

std::vector<OptionSpec> Join(std::vector<OptionSpec> a, const std::vector<OptionSpec>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::optional<EdgeMaskParams> OptionalMaskParams(const ParsedArgs& args) {
  if (UsesMaskOptions(args) && !args.Has("mask")) throw UsageError("mask options need --mask");
  if (!args.Has("mask")) return std::nullopt;
  return MaskParamsFrom(args);
}

PictureWork DeringWork(const ParsedArgs& args) {
  const DeringParams params = DeringParamsFrom(args, "");
  const std::optional<EdgeMaskParams> mask = OptionalMaskParams(args);
  return [params, mask](const CommandInput& input, Progress& progress) {
    const TImageF4 result = Dering(input.Source(), params, mask ? &*mask : nullptr, progress);
    CheckSolverResult(result, "lower --factor");
    return ResultPicture(result, input, AlphaTravel::kSameSize);
  };
}

PictureWork MaskWork(const ParsedArgs& args) {
  const EdgeMaskParams params = MaskParamsFrom(args);
  return [params](const CommandInput& input, Progress& progress) {
    return ResultPicture(EdgeMaskCommand(input.Source(), params, progress.SharedStopFlag()), input,
                         AlphaTravel::kSameSize);
  };
}

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

PictureWork ResampleWork(const ParsedArgs& args) {
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

  return [p, deringParams, mask](const CommandInput& input, Progress& progress) {
    CheckDoubledSize(input);
    const TImageF4 result = Resample(input.Source(), p, deringParams ? &*deringParams : nullptr,
                                     mask ? &*mask : nullptr, progress);
    // The Conditional mode grows the step by 1 / factor: there a larger factor helps.
    CheckSolverResult(result, p.convergence == ConvergenceMode::kConditional
                                  ? "lower --step, --maximum or --btv-base, or raise --factor"
                                  : "lower --step, --maximum or --btv-base");
    return ResultPicture(result, input, AlphaTravel::kEnlarged);
  };
}

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"info",
       "IN",
       "print the format, size, channels, depth, alpha, colour profile and orientation of a "
       "picture file (and the header, compression and row order of a BMP file)",
       {},
       1,
       RunInfo,
       {}},
      {"downsample",
       "IN OUT",
       "halve the picture after an anti-alias blur",
       {},
       2,
       {},
       DownsampleWork},
      {"noise",
       "IN OUT",
       "add Gaussian noise (deviation 5) to the grey picture; the generator starts from the same "
       "state on every run and for every file",
       {},
       2,
       {},
       NoiseWork},
      {"grey", "IN OUT", "convert the picture to grey levels", {}, 2, {}, GreyWork},
      {"psnr",
       "A B",
       "print the MSE and PSNR between the grey levels of two pictures",
       {{"crop", "", "compare only the top-left part both pictures share"}},
       2,
       RunPsnr,
       {}},
      {"canny",
       "IN OUT",
       "mark edges (255) with a Canny-style detector",
       {SettingOption(kCannySigmaSetting)},
       2,
       {},
       CannyWork},
      {"upscale",
       "IN OUT",
       "enlarge two times with one interpolator (grey; colour for gradient-color and directional)",
       {ChoiceOption(kUpscaleMethodSetting)},
       2,
       {},
       UpscaleWork},
      {"resample",
       "IN OUT",
       "enlarge two times by super-resolution, optionally deringing the result",
       Join(Join(ResampleOptions(), DeringOptions("dering-")), MaskOptions()),
       2,
       {},
       ResampleWork},
      {"dering",
       "IN OUT",
       "remove ringing beside edges",
       Join(DeringOptions(""), MaskOptions()),
       2,
       {},
       DeringWork},
      {"mask",
       "IN OUT",
       "write the edge mask that masked deringing uses (0..255)",
       MaskOptions(),
       2,
       {},
       MaskWork},
  };
  return commands;
}

// The most files --jobs processes at once.
constexpr int kMaxJobs = 1024;

// Options of every picture command: the output and the batch form.
const std::vector<OptionSpec>& PictureOptions() {
  static const std::vector<OptionSpec> options = {
      {"quality", "Q", "JPEG and WebP quality 1..100 (default 95)"},
      {"max-memory", "SIZE",
       "refuse a picture whose command would need more memory than SIZE (bytes, or K, M or "
       "G for 1024, 1024^2 or 1024^3 bytes; default: the memory the system has available)"},
      {"output", "OUTDIR",
       "batch: write the results of IN... (files and folders) below OUTDIR; also -o OUTDIR"},
      {"format", "EXT", "batch: extension of the results, such as png (default: the input's own)"},
      {"jobs", "N", "batch: files processed at once (default 1)"},
      {"skip-existing", "", "batch: skip inputs whose output exists"},
      {"shard", "K/N",
       "batch: only the files whose position in the sorted list of inputs is K modulo N"},
  };
  return options;
}

WriteOptions WriteOptionsFrom(const ParsedArgs& args) {
  WriteOptions options;
  if (const auto text = args.Text("quality")) {
    const auto value = ParseNumber(*text);
    if (!value || *value != std::floor(*value) || *value < 1 || *value > 100)
      throw UsageError("--quality: '" + *text + "' is not a whole number from 1 to 100");
    options.quality = static_cast<std::int32_t>(*value);
  }
  return options;
}

BatchOptions BatchOptionsFrom(const ParsedArgs& args) {
  BatchOptions options;
  options.outDir = *args.Text("output");
  if (options.outDir.empty()) throw UsageError("-o needs a folder");
  if (const auto text = args.Text("format")) options.extension = ParseExtension(*text);
  if (const auto text = args.Text("jobs")) {
    const auto value = ParseNumber(*text);
    if (!value || *value != std::floor(*value) || *value < 1 || *value > kMaxJobs)
      throw UsageError("--jobs: '" + *text + "' is not a whole number from 1 to " +
                       std::to_string(kMaxJobs));
    options.jobs = static_cast<std::int32_t>(*value);
  }
  options.skipExisting = args.Has("skip-existing");
  if (const auto text = args.Text("shard"))
    std::tie(options.shard, options.shards) = ParseShard(*text);
  return options;
}

// What a picture command's memory depends on: the command and the options that add
// planes to it.
struct MemoryUse {
  MemoryWork work;
  MemoryFeatures features;
};

MemoryUse MemoryUseOf(const Command& command, const ParsedArgs& args) {
  MemoryFeatures features;
  features.mask = args.Has("mask");
  features.dering = args.Has("dering") || features.mask;
  features.fractal = args.Has("fractal");
  const std::string& name = command.name;
  if (name == "downsample") return {MemoryWork::kDownsample, features};
  if (name == "noise") return {MemoryWork::kNoise, features};
  if (name == "grey") return {MemoryWork::kGrey, features};
  if (name == "canny") return {MemoryWork::kCanny, features};
  if (name == "mask") return {MemoryWork::kEdgeMask, features};
  if (name == "dering") return {MemoryWork::kDering, features};
  if (name == "resample") return {MemoryWork::kResample, features};
  const std::string method = args.Text("method").value_or("");
  if (method == "gradient-color") return {MemoryWork::kUpscaleColour, features};
  if (method == "directional") return {MemoryWork::kUpscaleDirectional, features};
  return {MemoryWork::kUpscaleGrey, features};
}

// --max-memory, or std::nullopt for the memory the system has.
std::optional<std::uint64_t> MaxMemoryFrom(const ParsedArgs& args) {
  const auto text = args.Text("max-memory");
  if (!text) return std::nullopt;
  const auto bytes = ParseByteCount(*text);
  if (!bytes)
    throw UsageError("--max-memory: '" + *text +
                     "' is not a number of bytes from 1 to 2^62, optionally with K, M or G");
  return bytes;
}

// Refuses, before any work, a picture whose command would need more memory than
// --max-memory or, without it, than the system has now.
void CheckMemoryFor(const std::string& path, const Command& command, const MemoryUse& use,
                    const std::optional<std::uint64_t>& maxMemory, const CommandInput& input) {
  MemoryFeatures features = use.features;
  features.alpha = input.alpha.HasImage();
  const std::uint64_t need =
      EstimateMemory(use.work, features, input.Width(), input.Height(), InputBytes(input));
  const MemoryLimit limit =
      maxMemory ? MemoryLimit{*maxMemory, "--max-memory"} : SystemMemoryLimit();
  Process(path, [&] { CheckMemory(command.name, need, limit); });
}

// Runs a picture command on one file (IN OUT) or as a batch (IN... -o OUTDIR).
// Returns the exit status.
int RunPictureCommand(const Command& command, const ParsedArgs& args, Context& ctx) {
  const PictureWork work = command.picture(args);
  const WriteOptions writeOptions = WriteOptionsFrom(args);
  const MemoryUse memory = MemoryUseOf(command, args);
  const DecodeLimits limits = InputLimitsFor(command, args);
  const std::optional<std::uint64_t> maxMemory = MaxMemoryFrom(args);
  const auto& positional = args.Positional();
  if (args.Has("output")) {
    const BatchOptions options = BatchOptionsFrom(args);
    if (positional.empty()) throw UsageError("expected IN... -o OUTDIR, got no input");
    const std::vector<BatchItem> items = CollectBatch(positional, options);
    const BatchRunner runner = [&](const BatchItem& item, Progress& progress,
                                   const std::function<void(const std::string&)>& warn) {
      const CommandInput input = LoadInput(item.input, limits);
      CheckMemoryFor(item.input, command, memory, maxMemory, input);
      const Picture result = Process(item.input, [&] { return work(input, progress); });
      // A stopped file's result is incomplete: it is not written.
      if (progress.StopRequested()) return false;
      EnsureFolderOf(item.output);
      WriteOutput(result, input, item.output, writeOptions, warn);
      return true;
    };
    return RunBatch(items, options, runner, ctx.progress, ctx.err);
  }
  for (const auto& o : PictureOptions())
    if (o.name != "quality" && o.name != "max-memory" && args.Has(o.name))
      throw UsageError("--" + o.name + " needs -o OUTDIR");
  if (positional.size() != 2)
    throw UsageError("expected IN OUT or IN... -o OUTDIR, got " +
                     std::to_string(positional.size()) + " argument(s)");
  const std::string& in = positional[0];
  const std::string& outPath = positional[1];
  CheckOutputName(outPath);
  const CommandInput input = LoadInput(in, limits);
  CheckMemoryFor(in, command, memory, maxMemory, input);
  const Picture result = Process(in, [&] { return work(input, ctx.progress); });
  WriteOutput(result, input, outPath, writeOptions, [&ctx](const std::string& line) {
    ctx.progress.Finish();
    ctx.err << line << "\n";
  });
  return 0;
}

// The most threads --threads accepts; far beyond any core count, so a typing slip
// cannot ask the arena for a million threads.
constexpr int kMaxThreads = 1024;

// Options every command takes.
const std::vector<OptionSpec>& CommonOptions() {
  static const std::vector<OptionSpec> options = {
      {"threads", "N",
       "number of threads (default: all " + std::to_string(HardwareThreads()) +
           (HardwareThreads() == 1 ? " core)" : " cores)")},
      {"max-pixels", "N",
       "refuse pictures of more than N pixels, as their files' headers declare them, before "
       "decoding them (K, M or G: thousand, million, billion; default 100M)"},
      {"no-simd", "", "no SIMD instructions (for measurements)"},
      {"quiet", "", "do not draw the progress bar"},
      {"help", "", "show this help"},
  };
  return options;
}

// Applies --threads and --no-simd to the whole process before the command runs.
void ApplyKernelOptions(const ParsedArgs& args) {
  std::int32_t threads = 0;  // all cores
  if (const auto text = args.Text("threads")) {
    const auto value = ParseNumber(*text);
    if (!value || *value != std::floor(*value) || *value < 1 || *value > kMaxThreads)
      throw UsageError("--threads: '" + *text + "' is not a whole number from 1 to " +
                       std::to_string(kMaxThreads));
    threads = static_cast<std::int32_t>(*value);
  }
  SetThreadCount(threads);
  SetSimdEnabled(!args.Has("no-simd"));
}

const char kEnvironmentHelp[] =
    "Environment:\n"
    "  TVQ_KERNELS=reference  run the plain single-thread loops instead of the fast\n"
    "                         kernels, whatever --threads says; the output is the\n"
    "                         same, only slower (for tests and measurements)\n";

// Writes `text` whose first line starts at `column` (already reached), breaking it
// between words so that no line is longer than 80 characters where a word allows;
// later lines are indented to `column`.
void PrintWrapped(std::ostream& out, const std::string& text, std::size_t column) {
  constexpr std::size_t kWidth = 80;
  std::size_t at = column;
  std::size_t begin = 0;
  bool first = true;
  while (begin < text.size()) {
    std::size_t end = text.find(' ', begin);
    if (end == std::string::npos) end = text.size();
    const std::size_t length = end - begin;
    if (!first && at + 1 + length > kWidth) {
      out << "\n" << std::string(column, ' ');
      at = column;
      first = true;
    }
    if (!first) {
      out << ' ';
      ++at;
    }
    out << text.substr(begin, length);
    at += length;
    first = false;
    begin = end + 1;
  }
  out << "\n";
}

void PrintToolHelp(std::ostream& out) {
  out << "Usage: tvq COMMAND [options] ARGS...\n\n"
         "Enlarges pictures two times by super-resolution and removes ringing beside edges.\n"
         "IN may be a BMP, PNG, JPEG, TIFF, WebP or PFM file. OUT's extension picks the\n"
         "format: .bmp (32 bits), .png, .jpg or .jpeg, .tif or .tiff, .webp, or .pfm (the\n"
         "float result before rounding). Alpha is kept by PNG, TIFF and WebP.\n"
         "Picture commands also take IN... -o OUTDIR: files and folders in, a mirrored\n"
         "tree of results out.\n\nCommands:\n";
  for (const auto& c : Commands()) {
    out << "  " << std::left << std::setw(12) << c.name;
    PrintWrapped(out, c.summary, 14);
  }
  out << "\nOptions of every command:\n";
  for (const auto& o : CommonOptions()) {
    const std::string left = "--" + o.name + (o.valueName.empty() ? "" : " " + o.valueName);
    out << "  " << std::left << std::setw(12) << left;
    // A name too long for its column puts the help on the next line.
    if (left.size() >= 12) out << "\n" << std::string(14, ' ');
    PrintWrapped(out, o.help, 14);
  }
  out << "\n" << kEnvironmentHelp;
  out << "\nRun 'tvq COMMAND --help' for the options of a command.\n";
}

void PrintCommandHelp(const Command& c, std::ostream& out) {
  out << "Usage: tvq " << c.name << " [options] " << c.synopsis << "\n";
  if (c.picture) out << "       tvq " << c.name << " [options] IN... -o OUTDIR\n";
  out << "\n" << c.summary << "\n\n";
  out << "Options:\n";
  auto print = [&out](const OptionSpec& o) {
    const std::string left = "--" + o.name + (o.valueName.empty() ? "" : " " + o.valueName);
    constexpr std::size_t kColumn = 26;
    out << "  " << left;
    if (left.size() + 1 > kColumn)
      out << "\n  " << std::string(kColumn, ' ');
    else
      out << std::string(kColumn - left.size(), ' ');
    PrintWrapped(out, o.help, kColumn + 2);
  };
  for (const auto& o : c.options) print(o);
  if (c.picture)
    for (const auto& o : PictureOptions()) print(o);
  for (const auto& o : CommonOptions()) print(o);
  out << "\n" << kEnvironmentHelp;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintToolHelp(args.empty() ? err : out);
    return args.empty() ? 2 : 0;
  }
  const Command* command = nullptr;
  for (const auto& c : Commands())
    if (c.name == args[0]) command = &c;
  if (!command) {
    err << "tvq: unknown command '" << args[0] << "'\nRun 'tvq --help' for the list.\n";
    return 2;
  }
  try {
    std::vector<OptionSpec> specs = command->options;
    if (command->picture)
      specs.insert(specs.end(), PictureOptions().begin(), PictureOptions().end());
    specs.insert(specs.end(), CommonOptions().begin(), CommonOptions().end());
    const ParsedArgs parsed = ParseArgs({args.begin() + 1, args.end()}, specs);
    if (parsed.Has("help")) {
      PrintCommandHelp(*command, out);
      return 0;
    }
    if (!command->picture && parsed.Positional().size() != command->positional)
      throw UsageError("expected " + command->synopsis + ", got " +
                       std::to_string(parsed.Positional().size()) + " argument(s)");
    ApplyKernelOptions(parsed);
    TerminalProgress progress(parsed.Has("quiet"));
    Context ctx{out, err, progress};
    int status = 0;
    try {
      if (command->picture)
        status = RunPictureCommand(*command, parsed, ctx);
      else
        command->run(parsed, ctx);
    } catch (...) {
      progress.Finish();
      throw;
    }
    progress.Finish();
    // A batch reports its own stop. A single picture whose work returned early on
    // the stop (resample's iterations, deringing) keeps the result so far; work
    // that had finished before the signal was seen wrote its whole result: exit 0.
    if (status == 0 && progress.StopHonoured()) {
      err << "tvq: stopped early; the result so far was written\n";
      return 130;
    }
    return status;
  } catch (const OperationStopped&) {
    err << "tvq: stopped; nothing was written\n";
    return 130;
  } catch (const UsageError& e) {
    err << "tvq " << command->name << ": " << e.what() << "\nRun 'tvq " << command->name
        << " --help' for usage.\n";
    return 2;
  } catch (const FileError& e) {
    err << "tvq: error: " << e.what() << "\n";
    return 1;
  } catch (const ProcessingError& e) {
    err << "tvq: error: " << e.what() << "\n";
    return 1;
  } catch (const std::bad_alloc&) {
    err << "tvq: error: not enough memory\n";
    return 1;
  } catch (const std::exception& e) {
    err << "tvq: error: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace tvq::cli
