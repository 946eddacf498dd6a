// The picture commands without settings of their own or with one: downsample, noise,
// grey and canny.
#include <cstdint>

#include "cli/command.h"
#include "filters/canny.h"
#include "imaging/imagefmt.h"
#include "utility/utility.h"

namespace tvq::cli {

namespace {

PictureJob DownsampleJob(const ParsedArgs&) {
  return {[](const CommandInput& input, Progress& progress) {
            const DownsampleResult result = Downsample(input.Source(), progress.SharedStopFlag());
            return ResultPicture(result.halved, input, AlphaTravel::kFourthChannel);
          },
          MemoryWork::kDownsample};
}

PictureJob NoiseJob(const ParsedArgs&) {
  return {[](const CommandInput& input, Progress&) {
            // Every file starts the generator from the same state.
            NoiseGenerator generator;
            return ResultPicture(AddGaussianNoise(input.Source(), generator), input,
                                 AlphaTravel::kSameSize);
          },
          MemoryWork::kNoise};
}

PictureJob GreyJob(const ParsedArgs&) {
  return {[](const CommandInput& input, Progress&) {
            return ResultPicture(Greyscale(input.Source()), input, AlphaTravel::kSameSize);
          },
          MemoryWork::kGrey};
}

PictureJob CannyJob(const ParsedArgs& args) {
  const double sigma = args.Setting(kCannySigmaSetting, kCannySigmaSetting.defaultValue);
  return {[sigma](const CommandInput& input, Progress& progress) {
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
          },
          MemoryWork::kCanny};
}

}  // namespace

Command DownsampleCommand() {
  return {.name = "downsample",
          .synopsis = "IN OUT",
          .summary = "halve the picture after an anti-alias blur",
          .positional = 2,
          .picture = DownsampleJob};
}

Command NoiseCommand() {
  return {.name = "noise",
          .synopsis = "IN OUT",
          .summary =
              "add Gaussian noise (deviation 5) to the grey picture; the generator starts "
              "from the same state on every run and for every file",
          .positional = 2,
          .picture = NoiseJob};
}

Command GreyCommand() {
  return {.name = "grey",
          .synopsis = "IN OUT",
          .summary = "convert the picture to grey levels",
          .positional = 2,
          .picture = GreyJob};
}

Command CannyCommand() {
  return {.name = "canny",
          .synopsis = "IN OUT",
          .summary = "mark edges (255) with a Canny-style detector",
          .options = {SettingOption(kCannySigmaSetting)},
          .positional = 2,
          .picture = CannyJob};
}

}  // namespace tvq::cli
