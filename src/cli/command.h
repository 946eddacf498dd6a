// The commands of the tool as RunCli sees them. Each command's file builds its Command:
// its name, help and options, and what it runs; RunCli parses the options it declares,
// runs it, and reports failures (failure.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/terminal_progress.h"
#include "commands/filepicture.h"
#include "commands/memoryestimate.h"
#include "imaging/progress.h"

namespace tvq::cli {

struct Context {
  std::ostream& out;
  std::ostream& err;
  TerminalProgress& progress;
};

// What a picture command does to the picture of one file; it returns the picture to
// write.
using PictureWork = std::function<Picture(const CommandInput&, Progress&)>;

// A picture command's work, built once from the options (so that bad options are usage
// errors before any file is read) and run for every file.
struct PictureJob {
  PictureWork work;
  // What the memory estimate counts for the work.
  MemoryWork memory;
  // The result is twice the input's size: a picture too large to double is refused
  // from its file's header, before its pixels are decoded.
  bool doubles = false;
  // Commands whose result size the options set (--scale, --size): refuses from the
  // file's header a width x height picture whose result cannot be made, in place of
  // `doubles`, and estimates the peak memory in place of `memory` (from the features,
  // the size and the bytes the input holds).
  std::function<void(std::int32_t, std::int32_t)> checkSize{};
  std::function<std::uint64_t(const MemoryFeatures&, std::int32_t, std::int32_t, std::uint64_t)>
      estimate{};
};

struct Command {
  std::string name{};
  std::string synopsis{};  // arguments after the command name
  std::string summary{};
  std::vector<OptionSpec> options{};
  std::size_t positional = 0;  // number of required positional arguments
  // Commands that print (info, psnr).
  std::function<void(const ParsedArgs&, Context&)> run{};
  // Picture-in, picture-out commands, which also run as batches.
  std::function<PictureJob(const ParsedArgs&)> picture{};
};

// Every command, in the order of the tool's help (commands.cpp).
const std::vector<Command>& Commands();

// One factory per command, each in its command's file.
Command InfoCommand();        // cmd_info.cpp
Command PsnrCommand();        // cmd_info.cpp
Command CompareCommand();     // cmd_compare.cpp
Command DownsampleCommand();  // cmd_simple.cpp
Command NoiseCommand();       // cmd_simple.cpp
Command GreyCommand();        // cmd_simple.cpp
Command CannyCommand();       // cmd_simple.cpp
Command UpscaleCommand();     // cmd_upscale.cpp
Command ResampleCommand();    // cmd_resample.cpp
Command DeringCommand();      // cmd_dering.cpp
Command MaskCommand();        // cmd_dering.cpp
Command ResizeCommand();      // cmd_resize.cpp

// Options every command takes (commands.cpp).
const std::vector<OptionSpec>& CommonOptions();

// The tool's help, one command's, and the version line (help.cpp).
void PrintToolHelp(std::ostream& out);
void PrintCommandHelp(const Command& command, std::ostream& out);
void PrintVersion(std::ostream& out);

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

// The options of a followed by those of b.
inline std::vector<OptionSpec> Join(std::vector<OptionSpec> a, const std::vector<OptionSpec>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace tvq::cli
