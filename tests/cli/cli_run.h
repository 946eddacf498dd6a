// Running the tvq command line from the tests: in this process through RunCli, or as
// the built program in a shell where a real process is needed (a resource limit, the
// environment it starts with), every argument quoted.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace tvq::test {

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The words of `text` split at spaces; double quotes keep a word with spaces together
// ("" is an empty word).
inline std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (c == ' ' && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

// Runs the command line `options` (split into words) followed by `arguments` as they
// are, in this process.
inline RunResult RunTvq(const std::string& options,
                        const std::vector<std::string>& arguments = {}) {
  std::vector<std::string> args = Words(options);
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::ostringstream out, err;
  const int status = cli::RunCli(args, out, err);
  return {status, out.str(), err.str()};
}

// `text` in single quotes for the shell.
inline std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs the built program `binary` with `arguments` in a shell after `prefix` (e.g.
// "ulimit -v 102400;"); its output goes through files in `folder`.
inline RunResult RunProgram(const std::string& binary, const std::string& prefix,
                            const std::vector<std::string>& arguments,
                            const std::filesystem::path& folder) {
  std::string command = prefix + " " + Quoted(binary);
  for (const std::string& a : arguments) command += " " + Quoted(a);
  const std::string out = (folder / "stdout.txt").string(), err = (folder / "stderr.txt").string();
  command += " >" + Quoted(out) + " 2>" + Quoted(err);
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(out), ReadText(err)};
}

}  // namespace tvq::test
