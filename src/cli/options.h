// A small command-line parser: positional arguments and --name[=value] options
// declared per command, with strict number parsing.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands/registry.h"
#include "imaging/settingdesc.h"

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
  // The number setting's option (its flag after `prefix`), checked against its range;
  // `fallback` when absent. UsageError naming the option, the value and the range.
  double Setting(const SettingDesc& setting, double fallback, const std::string& prefix = "") const;
  // The choice setting's option as one of its command-line names; `fallback` when absent.
  int Choice(const ChoiceDesc& choice, int fallback, const std::string& prefix = "") const;

 private:
  friend ParsedArgs ParseArgs(const std::vector<std::string>&, const std::vector<OptionSpec>&);
  std::vector<std::string> positional_;
  std::map<std::string, std::string> values_;
};

// Parses args (without the program and command names) against the declared
// options. "--" ends the options; "-o" stands for "--output" when that option is
// declared. Throws UsageError for unknown options and missing values.
ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs);

// Strict number parsing, shared with the registry's settings (commands/registry.h).
using ::tvq::ParseAnyNumber;
using ::tvq::ParseNumber;

// The option of a number setting: help with "(default X, range A to B)".
OptionSpec SettingOption(const SettingDesc& setting, const std::string& prefix = "");
// The option of a choice setting: its names joined by "|", help with "(default NAME)".
OptionSpec ChoiceOption(const ChoiceDesc& choice, const std::string& prefix = "");
// The command-line names of a choice setting, in item order.
std::vector<std::string> ChoiceNames(const ChoiceDesc& choice);

// A refused setting as the command line names it: "--<prefix><flag>: <problem>".
UsageError SettingUsageError(const SettingError& error, const std::string& prefix = "");

}  // namespace tvq::cli
