// upscale: enlarge two times with one of the interpolators.
#include <variant>

#include "cli/command.h"
#include "cli/sizeoptions.h"
#include "commands/sizedrun.h"
#include "interpolation/interpolation.h"
#include "interpolation/upscale.h"

namespace tvq::cli {

namespace {

MemoryWork UpscaleMemory(UpscaleMethod method) {
  if (method == UpscaleMethod::kGradientColour) return MemoryWork::kUpscaleColour;
  if (method == UpscaleMethod::kDirectional) return MemoryWork::kUpscaleDirectional;
  return MemoryWork::kUpscaleGrey;
}

PictureJob UpscaleJob(const ParsedArgs& args) {
  if (!args.Has("method")) throw UsageError("--method is required");
  const auto method = static_cast<UpscaleMethod>(args.Choice(kUpscaleMethodSetting, 0));
  const OutputSizeParams size = SizeParamsFrom(args, true);
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
    return SizedJob(size, sized, estimate, memory);
  }
  // A stop leaves an enlargement with nothing worth writing: the enlargers and the
  // steps between them throw OperationStopped.
  const PictureWork work = [method](const CommandInput& input, Progress& progress) {
    const Enlargement result = UpscalePicture(input.Source(), method, progress.SharedStopFlag());
    return std::visit(
        [&input](const auto& image) { return ResultPicture(image, input, AlphaTravel::kEnlarged); },
        result);
  };
  return {work, UpscaleMemory(method), true};
}

}  // namespace

Command UpscaleCommand() {
  return {.name = "upscale",
          .synopsis = "IN OUT",
          .summary =
              "enlarge two times (or --scale / --size) with one interpolator (grey; colour for "
              "gradient-color and directional)",
          .options = Join({ChoiceOption(kUpscaleMethodSetting)}, SizeOptions(true)),
          .positional = 2,
          .picture = UpscaleJob};
}

}  // namespace tvq::cli
