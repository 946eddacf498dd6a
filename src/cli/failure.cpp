#include "cli/failure.h"

#include <cstdio>
#include <exception>
#include <new>

#include "cli/options.h"
#include "imaging/progress.h"

namespace tvq::cli {

namespace {

std::string HexEscape(const char* form, unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, form, value);
  return text;
}

// The length of the UTF-8 sequence that starts text[at], 0 when none does (a stray
// continuation byte, a sequence cut short, an overlong form, a surrogate, beyond
// U+10FFFF).
std::size_t Utf8Length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(at);
  const std::size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 0;
  if (length == 0 || lead > 0xf4 || at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i)
    if ((byte(at + i) & 0xc0) != 0x80) return 0;
  const unsigned second = byte(at + 1);
  if ((lead == 0xc0 || lead == 0xc1) || (lead == 0xe0 && second < 0xa0) ||
      (lead == 0xed && second >= 0xa0) || (lead == 0xf0 && second < 0x90) ||
      (lead == 0xf4 && second >= 0x90))
    return 0;
  return length;
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7f) {
      out += text[i++];
    } else if (c == '\n' || c == '\r' || c == '\t') {
      out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
      ++i;
    } else if (c < 0x80) {
      out += HexEscape("\\x%02x", c);
      ++i;
    } else if (const std::size_t length = Utf8Length(text, i); length == 0) {
      out += HexEscape("\\x%02x", c);
      ++i;
    } else if (c == 0xc2 && static_cast<unsigned char>(text[i + 1]) < 0xa0) {
      out += HexEscape("\\u%04x", static_cast<unsigned char>(text[i + 1]));
      i += 2;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

std::string Failure::About(const std::string& input) const {
  return input + ": " + (outOfMemory ? "not enough memory for this picture" : what);
}

Failure CurrentFailure() {
  try {
    throw;
  } catch (const OperationStopped& e) {
    return {kExitStopped, false, e.what()};
  } catch (const UsageError& e) {
    return {kExitUsage, false, e.what()};
  } catch (const std::bad_alloc&) {
    return {kExitFailure, true, "not enough memory"};
  } catch (const std::exception& e) {
    return {kExitFailure, false, e.what()};
  }
}

}  // namespace tvq::cli
