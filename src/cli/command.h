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
#include "commands/registry.h"
#include "imaging/progress.h"

namespace tvq::cli {

struct Context {
  std::ostream& out;
  std::ostream& err;
  TerminalProgress& progress;
};

struct Command {
  std::string name{};
  std::string synopsis{};  // arguments after the command name
  std::string summary{};
  std::vector<OptionSpec> options{};
  std::size_t positional = 0;  // number of required positional arguments
  // Commands that print (info, psnr).
  std::function<void(const ParsedArgs&, Context&)> run{};
  // Picture-in, picture-out commands, which also run as batches: the registry's entry,
  // whose settings are the command's options and whose work runs on every file.
  const CommandEntry* picture = nullptr;
};

// The options of a followed by those of b.
inline std::vector<OptionSpec> Join(std::vector<OptionSpec> a, const std::vector<OptionSpec>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Every command, in the order of the tool's help (commands.cpp).
const std::vector<Command>& Commands();

// One factory per command, each in its command's file.
Command InfoCommand();     // cmd_info.cpp
Command PsnrCommand();     // cmd_info.cpp
Command CompareCommand();  // cmd_compare.cpp
// The picture command of the registry's entry of that name (picturecommand.cpp).
Command PictureCommand(std::string_view name);

// Options every command takes (commands.cpp).
const std::vector<OptionSpec>& CommonOptions();

// The tool's help, one command's, and the version line (help.cpp).
void PrintToolHelp(std::ostream& out);
void PrintCommandHelp(const Command& command, std::ostream& out);
void PrintVersion(std::ostream& out);

}  // namespace tvq::cli
