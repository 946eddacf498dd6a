// resize: bring a picture to any size with one filter, antialiased when reducing.
#include "cli/command.h"
#include "cli/sizeoptions.h"
#include "commands/sizedrun.h"
#include "utility/resize.h"

namespace tvq::cli {

namespace {

PictureJob ResizeJob(const ParsedArgs& args) {
  const OutputSizeParams size = SizeParamsFrom(args, false, true);
  const auto filter = static_cast<ResizeFilter>(
      args.Choice(kResizeFilterSetting, kResizeFilterSetting.defaultIndex));
  const SizedWork work = [filter](const CommandInput& input, const OutputSize& output,
                                  Progress& progress) {
    return ResizeAtSize(input, output, filter, progress);
  };
  const SizedEstimate estimate = [](const MemoryFeatures& features, std::int32_t width,
                                    std::int32_t height, std::uint64_t inputBytes,
                                    const OutputSize& output) {
    return EstimateResizeMemory(features, width, height, inputBytes, output);
  };
  return SizedJob(size, work, estimate, MemoryWork::kGrey);
}

}  // namespace

Command ResizeCommand() {
  return {.name = "resize",
          .synopsis = "IN OUT",
          .summary =
              "resize to --scale S or --size GEOMETRY with one filter (antialiased when "
              "reducing)",
          .options = Join(SizeOptions(false), {ChoiceOption(kResizeFilterSetting)}),
          .positional = 2,
          .picture = ResizeJob};
}

}  // namespace tvq::cli
