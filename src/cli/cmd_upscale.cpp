// upscale: enlarge two times with one of the interpolators.
#include <variant>

#include "cli/command.h"
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
              "enlarge two times with one interpolator (grey; colour for gradient-color "
              "and directional)",
          .options = {ChoiceOption(kUpscaleMethodSetting)},
          .positional = 2,
          .picture = UpscaleJob};
}

}  // namespace tvq::cli
