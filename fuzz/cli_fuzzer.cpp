// Fuzzes the command-line tool's option parsing and checks: the input is a list of
// arguments separated by NUL bytes, given to RunCli as a command line. It runs in an
// empty temporary folder, and arguments holding ".." or '/' are dropped, so that no
// argument can name a file outside it (except the shard form K/N, digits only, which
// --shard needs and which names no file). Input files therefore never exist, and every
// run ends in a usage error, help text or a failed read. Whatever a run leaves in the
// folder is removed before the next. Since it changes the working folder, the
// fuzzer must be given its corpus and artifact folders as absolute paths.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace {

namespace fs = std::filesystem;

// Longer lists only repeat what shorter ones reach, more slowly.
constexpr std::size_t kMaxArguments = 64;

fs::path gFolder;

bool IsShard(const std::string& token) {
  const std::size_t start = token.rfind("--shard=", 0) == 0 ? 8 : 0;
  const std::size_t slash = token.find('/', start);
  if (slash == start || slash + 1 >= token.size()) return false;
  for (std::size_t i = start; i < token.size(); ++i)
    if (i != slash && (token[i] < '0' || token[i] > '9')) return false;
  return true;
}

// Whether an argument cannot reach outside the working folder.
bool StaysInside(const std::string& token) {
  return token.find("..") == std::string::npos &&
         (token.find('/') == std::string::npos || IsShard(token));
}

void RemoveFolder() {
  std::error_code error;
  if (!gFolder.empty()) fs::remove_all(gFolder, error);
}

// Creates the temporary folder once and makes it the working folder.
void EnterFolder() {
  if (!gFolder.empty()) return;
  std::string pattern = (fs::temp_directory_path() / "tvq-fuzz-cli-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) std::abort();
  gFolder = pattern;
  std::atexit(RemoveFolder);
}

void EmptyFolder() {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(gFolder, error)) fs::remove_all(entry, error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  EnterFolder();
  std::vector<std::string> args;
  std::string token;
  for (std::size_t i = 0; i <= size && args.size() < kMaxArguments; ++i) {
    if (i < size && data[i] != 0) {
      token.push_back(static_cast<char>(data[i]));
      continue;
    }
    if (StaysInside(token)) args.push_back(token);
    token.clear();
  }
  std::ostringstream out;
  std::ostringstream err;
  tvq::cli::RunCli(args, out, err);
  EmptyFolder();
  return 0;
}
