#include "imaging/settingdesc.h"

#include <charconv>
#include <cmath>

namespace tvq {

SettingError::SettingError(const char* caption, const char* flag, const std::string& problem)
    : std::invalid_argument(CaptionName(caption) + ": " + problem),
      flag_(flag),
      problem_(problem) {}

SettingError::SettingError(const std::string& message)
    : std::invalid_argument(message), problem_(message) {}

std::string CaptionName(const char* caption) {
  std::string name = caption;
  while (!name.empty() && (name.back() == ':' || name.back() == ' ')) name.pop_back();
  return name;
}

std::string SettingValueText(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  // Whole numbers in full (100000, not 1e+05).
  if (std::fabs(value) < 1e15 && std::trunc(value) == value)
    return std::to_string(static_cast<std::int64_t>(value));
  char text[64];
  const float single = static_cast<float>(value);
  const auto end = static_cast<double>(single) == value
                       ? std::to_chars(text, text + sizeof text, single).ptr
                       : std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

std::string RangeText(const SettingDesc& setting) {
  return SettingValueText(setting.minimum) + (setting.exclusiveMinimum ? " (excluded)" : "") +
         " to " + SettingValueText(setting.maximum);
}

std::string RangeProblem(const SettingDesc& setting, double value, std::string_view shown) {
  if (setting.Contains(value)) return {};
  const char* what =
      std::isnan(value)         ? "is not a number"
      : value > setting.maximum ? "is too large"
      : value <= setting.minimum && (value < setting.minimum || setting.exclusiveMinimum)
          ? "is too small"
          : "is not a whole number";
  return std::string(shown) + " " + what + ": the range is " + RangeText(setting);
}

void CheckSettings(std::initializer_list<SettingValue> values) {
  for (const SettingValue& v : values) {
    const std::string problem = RangeProblem(v.setting, v.value, SettingValueText(v.value));
    if (!problem.empty()) throw SettingError(v.setting.caption, v.setting.flag, problem);
  }
}

void CheckChoices(std::initializer_list<ChoiceValue> values) {
  for (const ChoiceValue& v : values)
    if (!v.choice.Contains(v.index))
      throw SettingError(v.choice.caption, v.choice.flag,
                         "item " + std::to_string(v.index) +
                             " does not exist: the items are 0 to " +
                             std::to_string(v.choice.Count() - 1));
}

}  // namespace tvq
