#include "cli/failure.h"

#include <gtest/gtest.h>

#include <string>

namespace tvq::cli {
namespace {

// Control characters, C1 controls and bytes that are not UTF-8 are escaped; printable
// ASCII, backslashes and whole UTF-8 characters stay; escaping twice changes nothing.
TEST(PrintableTest, EscapesWhatATerminalWouldObey) {
  const struct {
    std::string text;
    std::string printed;
  } cases[] = {
      {"plain name.png", "plain name.png"},
      {"a\nb\rc\td", "a\\nb\\rc\\td"},
      {"\x1b[31mred\x1b[0m", "\\x1b[31mred\\x1b[0m"},
      {std::string("nul\0bel\a\x7f", 9), "nul\\x00bel\\x07\\x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"csi\xc2\x9b"
       "2J nbsp\xc2\xa0",
       "csi\\u009b2J nbsp\xc2\xa0"},
      {"\xff\xfe", "\\xff\\xfe"},
      {"cut \xe2\x82", "cut \\xe2\\x82"},
      {"overlong \xc0\xaf surrogate \xed\xa0\x80", "overlong \\xc0\\xaf surrogate \\xed\\xa0\\x80"},
      {"lone \x80 after", "lone \\x80 after"},
      {"back\\slash \\n", "back\\slash \\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Printable(c.text), c.printed) << c.printed;
    EXPECT_EQ(Printable(Printable(c.text)), c.printed) << c.printed;
  }
}

}  // namespace
}  // namespace tvq::cli
