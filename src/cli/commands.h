// The tvq command-line tool: `tvq COMMAND [options] ...`.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tvq::cli {

// Runs one command line (without the program name). Writes results to out and
// messages to err. Returns 0 on success, 1 on a processing or input error and
// 2 on a usage error.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tvq::cli
