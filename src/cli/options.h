// A small command-line parser: positional arguments and --name[=value] options
// declared per command, with strict number parsing.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tvq::cli {

// A mistake in how the tool was called; the tool prints it and exits with 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OptionSpec {
  std::string name;       // without the leading dashes
  std::string valueName;  // empty for a flag
  std::string help;       // one line, including the default
};

class ParsedArgs {
 public:
  const std::vector<std::string>& Positional() const { return positional_; }
  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  // The option's text, or std::nullopt when it was not given.
  std::optional<std::string> Text(const std::string& name) const;
  // The option as a number; `fallback` when absent; UsageError when malformed.
  double Number(const std::string& name, double fallback) const;
  int Integer(const std::string& name, int fallback) const;
  // The option as one of `choices` (its index); `fallback` when absent.
  int Choice(const std::string& name, const std::vector<std::string>& choices, int fallback) const;

 private:
  friend ParsedArgs ParseArgs(const std::vector<std::string>&, const std::vector<OptionSpec>&);
  std::vector<std::string> positional_;
  std::map<std::string, std::string> values_;
};

// Parses args (without the program and command names) against the declared
// options. "--" ends the options; "-o" stands for "--output" when that option is
// declared. Throws UsageError for unknown options and missing values.
ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs);

// Strict number parsing of a whole text; std::nullopt when it is not a number.
std::optional<double> ParseNumber(const std::string& text);

}  // namespace tvq::cli
