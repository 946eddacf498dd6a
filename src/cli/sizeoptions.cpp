#include "cli/sizeoptions.h"

#include <stdexcept>
#include <utility>

namespace tvq::cli {

std::vector<OptionSpec> SizeOptions(bool enlarging) {
  const std::string scale = enlarging ? "above 1 up to 16" : "above 0 up to 16";
  return {
      {"scale", "S",
       "output size round(S * W) x round(S * H), rounded half away from zero; S " + scale},
      {"size", "GEOMETRY",
       std::string("output size: WxH (fit inside, aspect kept), Wx or xH (one side), WxH! "
                   "(exactly), WxH^ (cover, aspect kept); a trailing < only enlarges") +
           (enlarging ? " (default: twice the input)" : "")},
  };
}

OutputSizeParams SizeParamsFrom(const ParsedArgs& args, bool enlarging, bool required) {
  OutputSizeParams params;
  params.enlarging = enlarging;
  if (args.Has("scale") && args.Has("size"))
    throw UsageError("--scale and --size cannot both be given: choose one");
  if (required && !args.Has("scale") && !args.Has("size"))
    throw UsageError("--scale or --size is required");
  params.scale = args.Setting(enlarging ? kScaleSetting : kResizeScaleSetting, 0.0);
  if (const auto text = args.Text("size")) {
    try {
      params.geometry = ParseGeometry(*text);
    } catch (const std::invalid_argument& e) {
      throw UsageError(e.what());
    }
  }
  return params;
}

PictureJob SizedJob(const OutputSizeParams& size, SizedWork work, SizedEstimate estimate,
                    MemoryWork memory) {
  PictureJob job;
  job.memory = memory;
  job.checkSize = [size](std::int32_t width, std::int32_t height) {
    ComputeOutputSize(size, width, height);
  };
  job.estimate = [size, estimate](const MemoryFeatures& features, std::int32_t width,
                                  std::int32_t height, std::uint64_t inputBytes) {
    OutputSize output;
    try {
      output = ComputeOutputSize(size, width, height);
    } catch (const std::exception&) {
      return std::uint64_t{0};  // refused by checkSize, with the file's name
    }
    return estimate(features, width, height, inputBytes, output);
  };
  job.work = [size, work = std::move(work)](const CommandInput& input, Progress& progress) {
    return work(input, ComputeOutputSize(size, input.Width(), input.Height()), progress);
  };
  return job;
}

}  // namespace tvq::cli
