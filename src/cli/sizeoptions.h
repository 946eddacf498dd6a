// --scale and --size: the output size options of resample, upscale and resize.
#pragma once

#include <functional>
#include <vector>

#include "cli/command.h"
#include "cli/options.h"
#include "commands/sizes.h"

namespace tvq::cli {

// The options; `enlarging` for resample and upscale (scale above 1), resize otherwise.
std::vector<OptionSpec> SizeOptions(bool enlarging);

// The size options as given; UsageError for a malformed or out-of-range value, for
// both at once, and (when `required`) for neither.
OutputSizeParams SizeParamsFrom(const ParsedArgs& args, bool enlarging, bool required = false);

// The work of a command at the asked size, for one file's input and its output size.
using SizedWork = std::function<Picture(const CommandInput&, const OutputSize&, Progress&)>;
// The memory estimate of the work at that size.
using SizedEstimate = std::function<std::uint64_t(const MemoryFeatures&, std::int32_t, std::int32_t,
                                                  std::uint64_t, const OutputSize&)>;

// The picture job of a command at a size: the size is computed from each file's header
// (a size that cannot be made refuses the file before its pixels are decoded).
PictureJob SizedJob(const OutputSizeParams& size, SizedWork work, SizedEstimate estimate,
                    MemoryWork memory);

}  // namespace tvq::cli
