// What the commands share around their work: reading a picture file within the limits
// the options set, and for the picture commands the memory check, writing the result,
// and the run on one file (IN OUT) or as a batch (IN... -o OUTDIR).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/options.h"
#include "commands/filepicture.h"
#include "imaging/io/picture.h"

namespace tvq::cli {

// The limits a command's inputs are read with: --max-pixels. UsageError for a value
// that is not a pixel count in range.
DecodeLimits DecodeLimitsFrom(const ParsedArgs& args);

// Reads a picture file; a picture over the pixel limit is refused with a pointer to
// the option that raises it.
Picture ReadInput(const std::string& path, const DecodeLimits& limits);

// A file of any supported format, ready for a command. What the reader got past
// (Picture::warnings) goes to warn, when given, as "tvq: warning: PATH: ...".
CommandInput LoadInput(const std::string& path, const DecodeLimits& limits,
                       const std::function<void(const std::string&)>& warn = {});

// Options of every picture command: the output and the batch form.
const std::vector<OptionSpec>& PictureOptions();

// Runs a picture command on one file (IN OUT) or as a batch (IN... -o OUTDIR).
// Returns the exit status.
int RunPictureCommand(const Command& command, const ParsedArgs& args, Context& ctx);

}  // namespace tvq::cli
