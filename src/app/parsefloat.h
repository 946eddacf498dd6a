// Reading numbers typed into the settings dialogs.
#pragma once

#include <stdexcept>
#include <string>

namespace tvq {

// A text that is not a number.
class ParseFloatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The message and caption every command shows when a dialog value does not parse.
inline constexpr const char* kParseErrorText = "Error parsing float number";
inline constexpr const char* kParseErrorCaption = "Error";

// Reads a decimal number in which "." and "," both act as the decimal separator.
// Accepted: optional surrounding blanks, an optional sign, digits with at most one
// separator (at least one digit in all), and an optional exponent ("1,5e-3").
// Anything else (two separators, an empty text, "inf", a value beyond double's
// range) throws ParseFloatError.
double ParseFloat(const std::string& text);

}  // namespace tvq
