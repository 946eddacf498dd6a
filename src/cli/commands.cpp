#include "cli/commands.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>

#include "cli/command.h"
#include "cli/failure.h"
#include "cli/options.h"
#include "cli/picturecommand.h"
#include "cli/terminal_progress.h"
#include "imaging/parallel.h"

namespace tvq::cli {

namespace {

// The most threads --threads accepts; far beyond any core count, so a typing slip
// cannot ask the arena for a million threads.
constexpr int kMaxThreads = 1024;

// Applies --threads (at most UsefulThreads(): more only slow the work down) and
// --no-simd to the whole process before the command runs.
void ApplyKernelOptions(const ParsedArgs& args) {
  std::int32_t threads = 0;  // all cores
  if (const auto text = args.Text("threads")) {
    const auto value = ParseNumber(*text);
    if (!value || *value != std::floor(*value) || *value < 1 || *value > kMaxThreads)
      throw UsageError("--threads: '" + *text + "' is not a whole number from 1 to " +
                       std::to_string(kMaxThreads));
    threads = std::min(static_cast<std::int32_t>(*value), UsefulThreads());
  }
  SetThreadCount(threads);
  SetSimdEnabled(!args.Has("no-simd"));
}

// Parses the command's options and runs it; returns the exit status.
int RunCommand(const Command& command, const std::vector<std::string>& args, std::ostream& out,
               std::ostream& err) {
  std::vector<OptionSpec> specs = command.options;
  if (command.picture) specs.insert(specs.end(), PictureOptions().begin(), PictureOptions().end());
  specs.insert(specs.end(), CommonOptions().begin(), CommonOptions().end());
  const ParsedArgs parsed = ParseArgs({args.begin() + 1, args.end()}, specs);
  if (parsed.Has("help")) {
    PrintCommandHelp(command, out);
    return 0;
  }
  if (!command.picture && parsed.Positional().size() != command.positional)
    throw UsageError("expected " + command.synopsis + ", got " +
                     std::to_string(parsed.Positional().size()) + " argument(s)");
  ApplyKernelOptions(parsed);
  TerminalProgress progress(parsed.Has("quiet"));
  Context ctx{out, err, progress};
  int status = 0;
  try {
    if (command.picture)
      status = RunPictureCommand(command, parsed, ctx);
    else
      command.run(parsed, ctx);
  } catch (...) {
    progress.Finish();
    throw;
  }
  progress.Finish();
  // A batch reports its own stop. A single picture whose work returned early on the
  // stop (resample's iterations, deringing) keeps the result so far; work that had
  // finished before the signal was seen wrote its whole result: exit 0.
  if (status == 0 && progress.StopHonoured()) {
    err << "tvq: stopped early; the result so far was written\n";
    return kExitStopped;
  }
  return status;
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      InfoCommand(),
      PictureCommand("downsample"),
      PictureCommand("noise"),
      PictureCommand("grey"),
      PsnrCommand(),
      PictureCommand("canny"),
      PictureCommand("upscale"),
      PictureCommand("resize"),
      PictureCommand("resample"),
      PictureCommand("dering"),
      PictureCommand("mask"),
      CompareCommand(),
  };
  return commands;
}

const std::vector<OptionSpec>& CommonOptions() {
  static const std::vector<OptionSpec> options = {
      {"threads", "N",
       "number of threads (default: all " + std::to_string(HardwareThreads()) +
           (HardwareThreads() == 1 ? " core" : " cores") + "; at most 4 per core, " +
           std::to_string(UsefulThreads()) + ", are used)"},
      {"max-pixels", "N",
       "refuse pictures of more than N pixels, as their files' headers declare them, before "
       "decoding them (K, M or G: thousand, million, billion; default 100M)"},
      {"no-simd", "", "no SIMD instructions (for measurements)"},
      {"quiet", "", "do not draw the progress bar"},
      {"help", "", "show this help"},
  };
  return options;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintToolHelp(args.empty() ? err : out);
    return args.empty() ? kExitUsage : 0;
  }
  if (args[0] == "--version") {
    PrintVersion(out);
    return 0;
  }
  const Command* command = nullptr;
  for (const auto& c : Commands())
    if (c.name == args[0]) command = &c;
  if (!command) {
    err << "tvq: unknown command '" << Printable(args[0]) << "'\nRun 'tvq --help' for the list.\n";
    return kExitUsage;
  }
  try {
    return RunCommand(*command, args, out, err);
  } catch (...) {
    const Failure failure = CurrentFailure();
    if (failure.status == kExitStopped)
      err << "tvq: stopped; nothing was written\n";
    else if (failure.status == kExitUsage)
      err << "tvq " << command->name << ": " << Printable(failure.what) << "\nRun 'tvq "
          << command->name << " --help' for usage.\n";
    else
      err << "tvq: error: " << Printable(failure.what) << "\n";
    return failure.status;
  }
}

}  // namespace tvq::cli
