#include "cli/options.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace tvq::cli {

namespace {

// A number for help texts: six significant digits, so that float settings read as typed.
std::string HelpNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

std::string JoinNames(const std::vector<std::string>& names, const char* separator) {
  std::string list;
  for (const auto& n : names) list += (list.empty() ? "" : separator) + n;
  return list;
}

}  // namespace

OptionSpec SettingOption(const SettingDesc& setting, const std::string& prefix) {
  return {prefix + setting.flag, setting.valueName,
          std::string(setting.help) + " (default " + HelpNumber(setting.defaultValue) + ", range " +
              RangeText(setting) + ")"};
}

std::vector<std::string> ChoiceNames(const ChoiceDesc& choice) {
  const auto& names = choice.names.empty() ? choice.captions : choice.names;
  return {names.begin(), names.end()};
}

OptionSpec ChoiceOption(const ChoiceDesc& choice, const std::string& prefix) {
  const std::vector<std::string> names = ChoiceNames(choice);
  std::string help = choice.help;
  if (choice.Contains(choice.defaultIndex))
    help += " (default " + names[static_cast<std::size_t>(choice.defaultIndex)] + ")";
  return {prefix + choice.flag, JoinNames(names, "|"), help};
}

UsageError SettingUsageError(const SettingError& error, const std::string& prefix) {
  if (!error.Flag()) return UsageError(error.what());
  return UsageError("--" + prefix + error.Flag() + ": " + error.Problem());
}

std::optional<std::string> ParsedArgs::Text(const std::string& name) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

double ParsedArgs::Number(const std::string& name, double fallback) const {
  const auto text = Text(name);
  if (!text) return fallback;
  const auto value = ParseNumber(*text);
  if (!value) throw UsageError("--" + name + ": '" + *text + "' is not a number");
  return *value;
}

int ParsedArgs::Integer(const std::string& name, int fallback) const {
  const auto text = Text(name);
  if (!text) return fallback;
  const auto value = ParseNumber(*text);
  if (!value || *value != std::floor(*value))
    throw UsageError("--" + name + ": '" + *text + "' is not a whole number");
  if (*value < std::numeric_limits<int>::min() || *value > std::numeric_limits<int>::max())
    throw UsageError("--" + name + ": " + *text + " is too " + (*value < 0 ? "small" : "large") +
                     ": the range is " + std::to_string(std::numeric_limits<int>::min()) + " to " +
                     std::to_string(std::numeric_limits<int>::max()));
  return static_cast<int>(*value);
}

double ParsedArgs::Setting(const SettingDesc& setting, double fallback,
                           const std::string& prefix) const {
  const std::string name = prefix + setting.flag;
  const auto text = Text(name);
  if (!text) return fallback;
  const auto value = ParseAnyNumber(*text);
  if (!value) throw UsageError("--" + name + ": '" + *text + "' is not a number");
  const std::string problem = RangeProblem(setting, *value, *text);
  if (!problem.empty()) throw UsageError("--" + name + ": " + problem);
  return *value;
}

int ParsedArgs::Choice(const ChoiceDesc& choice, int fallback, const std::string& prefix) const {
  return Choice(prefix + choice.flag, ChoiceNames(choice), fallback);
}

int ParsedArgs::Choice(const std::string& name, const std::vector<std::string>& choices,
                       int fallback) const {
  const auto text = Text(name);
  if (!text) return fallback;
  for (std::size_t i = 0; i < choices.size(); ++i)
    if (choices[i] == *text) return static_cast<int>(i);
  std::string list;
  for (const auto& c : choices) list += (list.empty() ? "" : ", ") + c;
  throw UsageError("--" + name + ": '" + *text + "' is not one of " + list);
}

ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs) {
  ParsedArgs parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    // "-o" is the one short option: --output, for commands that declare it.
    if (!optionsEnded && arg == "-o") {
      for (const auto& s : specs)
        if (s.name == "output") arg = "--output";
      if (arg == "-o") throw UsageError("unknown option -o");
    }
    // A lone "-" and negative numbers are arguments; any other "-x" is an option.
    if (!optionsEnded && arg.size() >= 2 && arg[0] == '-' && arg[1] != '-' && !ParseAnyNumber(arg))
      throw UsageError("unknown option " + arg);
    if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      parsed.positional_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg.substr(2);
    std::optional<std::string> inlineValue;
    if (const auto eq = name.find('='); eq != std::string::npos) {
      inlineValue = name.substr(eq + 1);
      name.resize(eq);
    }
    const OptionSpec* spec = nullptr;
    for (const auto& s : specs)
      if (s.name == name) spec = &s;
    if (!spec) throw UsageError("unknown option --" + name);
    if (spec->valueName.empty()) {
      if (inlineValue) throw UsageError("--" + name + " takes no value");
      parsed.values_[name] = "";
    } else if (inlineValue) {
      parsed.values_[name] = *inlineValue;
    } else {
      if (i + 1 >= args.size()) throw UsageError("--" + name + " needs a value");
      parsed.values_[name] = args[++i];
    }
  }
  return parsed;
}

}  // namespace tvq::cli
