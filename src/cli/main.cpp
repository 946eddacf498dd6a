#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "imaging/imagebase.h"

int main(int argc, char** argv) {
  tvq::UseLargeBlockMemorySettings();
  std::vector<std::string> args(argv + 1, argv + argc);
  return tvq::cli::RunCli(args, std::cout, std::cerr);
}
