// Descriptors of the commands' settings: one per setting, holding its name, its dialog
// caption, its command-line option, its range, its default and its help line. The
// parameter structs' Validate(), the command-line options and their help, the settings
// dialogs and the tests all read them, so each of these exists once.
//
// A number setting is refused with one message format, "<name>: <value> is too large:
// the range is 0 to 1000", where the name is the dialog caption in the library and the
// option in the command-line tool.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "imaging/errors.h"

namespace tvq {

// A number setting.
struct SettingDesc {
  const char* key;        // stable name, "group/name"
  const char* caption;    // the dialog's label, exactly as shown ("Gauss rad:")
  const char* flag;       // the command-line option without dashes; nullptr for none
  const char* valueName;  // the value's placeholder in the command-line help
  double minimum;
  double maximum;
  bool exclusiveMinimum = false;  // the minimum itself is refused (a setting that must be > 0)
  bool whole = false;             // whole numbers only
  double defaultValue;
  const char* help;  // one line for the command-line help, without default and range

  constexpr bool Contains(double value) const {
    if (!(value <= maximum)) return false;  // also NaN
    if (exclusiveMinimum ? !(value > minimum) : !(value >= minimum)) return false;
    return !whole || static_cast<double>(static_cast<std::int64_t>(value)) == value;
  }
};

// A choice among numbered items (index 0 .. Count() - 1).
struct ChoiceDesc {
  const char* key;
  const char* caption;                    // the dialog's group or label caption
  const char* flag;                       // the command-line option without dashes
  std::span<const char* const> captions;  // the dialog's items; empty when there is no dialog
  std::span<const char* const> names;     // the command-line names; empty: index or caption
  std::int32_t defaultIndex;              // -1: no default (the option is required)
  const char* help;

  constexpr std::int32_t Count() const {
    return static_cast<std::int32_t>(captions.empty() ? names.size() : captions.size());
  }
  constexpr bool Contains(std::int32_t index) const { return index >= 0 && index < Count(); }
};

// A caption without its trailing colon, as a message names it ("Gauss rad").
std::string CaptionName(const char* caption);

// A number as messages and help texts show it: the shortest text that reads back as the
// value (as a float when the value is one: 0.05, not 0.05000000074505806).
std::string SettingValueText(double value);

// "0 to 1000", or "0 (excluded) to 1" for an exclusive minimum.
std::string RangeText(const SettingDesc& setting);

// Why `value` is refused, with `shown` as its text ("1e308 is too large: the range is 0
// to 1000"), or an empty text when it is accepted.
std::string RangeProblem(const SettingDesc& setting, double value, std::string_view shown);

// A number setting and the value it holds.
struct SettingValue {
  const SettingDesc& setting;
  double value;
};
// A choice setting and the item it holds.
struct ChoiceValue {
  const ChoiceDesc& choice;
  std::int32_t index;
};

// Throws SettingError for the first value outside its setting's range.
void CheckSettings(std::initializer_list<SettingValue> values);
void CheckChoices(std::initializer_list<ChoiceValue> values);

}  // namespace tvq
