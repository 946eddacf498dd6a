#include "cli/options.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace tvq::cli {

std::optional<double> ParseNumber(const std::string& text) {
  double value = 0.0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  const auto result = std::from_chars(first, last, value);
  if (text.empty() || result.ec != std::errc() || result.ptr != last || !std::isfinite(value))
    return std::nullopt;
  return value;
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
  if (!value || *value != std::floor(*value) || *value < std::numeric_limits<int>::min() ||
      *value > std::numeric_limits<int>::max())
    throw UsageError("--" + name + ": '" + *text + "' is not a whole number");
  return static_cast<int>(*value);
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
