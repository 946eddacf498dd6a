#include "app/parsefloat.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <system_error>

namespace tvq {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsBlank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

double ParseFloat(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;

  // Normalise to the form std::from_chars reads: no leading '+', '.' as separator.
  std::string number;
  std::size_t i = begin;
  if (i < end && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') number += '-';
    ++i;
  }
  int digits = 0;
  bool separator = false;
  for (; i < end; ++i) {
    const char c = text[i];
    if (IsDigit(c)) {
      ++digits;
      number += c;
    } else if (c == '.' || c == ',') {
      if (separator) throw ParseFloatError("'" + text + "' has more than one decimal separator");
      separator = true;
      number += '.';
    } else {
      break;
    }
  }
  if (digits == 0) throw ParseFloatError("'" + text + "' is not a number");
  if (i < end && (text[i] == 'e' || text[i] == 'E')) {
    number += 'e';
    ++i;
    if (i < end && (text[i] == '+' || text[i] == '-')) number += text[i++];
    int exponentDigits = 0;
    for (; i < end && IsDigit(text[i]); ++i, ++exponentDigits) number += text[i];
    if (exponentDigits == 0) throw ParseFloatError("'" + text + "' has an incomplete exponent");
  }
  if (i != end) throw ParseFloatError("'" + text + "' is not a number");

  double value = 0.0;
  const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec != std::errc() || ptr != number.data() + number.size() || !std::isfinite(value))
    throw ParseFloatError("'" + text + "' is out of range");
  return value;
}

}  // namespace tvq
