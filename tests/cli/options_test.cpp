#include "cli/options.h"

#include <gtest/gtest.h>

#include <limits>
#include <utility>

namespace tvq::cli {
namespace {

const std::vector<OptionSpec> kSpecs = {
    {"step", "S", ""}, {"fractal", "", ""}, {"method", "M", ""}};

TEST(OptionsTest, ParsesValuesFlagsAndPositionals) {
  const ParsedArgs a =
      ParseArgs({"in.bmp", "--step", "2.5", "--fractal", "--method=nedi", "out.bmp"}, kSpecs);
  EXPECT_EQ(a.Positional(), (std::vector<std::string>{"in.bmp", "out.bmp"}));
  EXPECT_DOUBLE_EQ(a.Number("step", 5.0), 2.5);
  EXPECT_TRUE(a.Has("fractal"));
  EXPECT_EQ(a.Choice("method", {"gradient", "nedi"}, 0), 1);
  EXPECT_DOUBLE_EQ(a.Number("missing", 7.0), 7.0);
  // "-o" stands for --output where that option exists.
  const std::vector<OptionSpec> withOutput = {{"output", "DIR", ""}};
  EXPECT_EQ(ParseArgs({"a", "-o", "dir"}, withOutput).Text("output"), "dir");
  EXPECT_THROW(ParseArgs({"a", "-o", "dir"}, kSpecs), UsageError);
  EXPECT_EQ(ParseArgs({"--", "-o"}, withOutput).Positional()[0], "-o");
  // "--" ends the options, so a file may start with dashes.
  EXPECT_EQ(ParseArgs({"--", "--odd.bmp"}, kSpecs).Positional()[0], "--odd.bmp");
}

TEST(OptionsTest, RejectsMistakes) {
  EXPECT_THROW(ParseArgs({"--unknown"}, kSpecs), UsageError);
  EXPECT_THROW(ParseArgs({"--step"}, kSpecs), UsageError);
  EXPECT_THROW(ParseArgs({"--fractal=1"}, kSpecs), UsageError);
  EXPECT_THROW(ParseArgs({"--step", "5x"}, kSpecs).Number("step", 0), UsageError);
  EXPECT_THROW(ParseArgs({"--step", "2.5"}, kSpecs).Integer("step", 0), UsageError);
  EXPECT_THROW(ParseArgs({"--method", "cubic"}, kSpecs).Choice("method", {"nedi"}, 0), UsageError);
  // A single dash and a letter is an unknown option, not a third file.
  try {
    ParseArgs({"a.bmp", "b.bmp", "-x"}, kSpecs);
    ADD_FAILURE() << "-x taken";
  } catch (const UsageError& e) {
    EXPECT_STREQ(e.what(), "unknown option -x");
  }
  // Negative numbers are values and arguments; a lone "-" is an argument.
  const ParsedArgs negative = ParseArgs({"--step", "-1", "-", "-2e3"}, kSpecs);
  EXPECT_EQ(negative.Text("step"), "-1");
  EXPECT_EQ(negative.Positional(), (std::vector<std::string>{"-", "-2e3"}));
}

TEST(OptionsTest, NumbersAreStrict) {
  EXPECT_EQ(ParseNumber("0.875"), 0.875);
  EXPECT_EQ(ParseNumber("+3"), 3.0);
  EXPECT_EQ(ParseNumber("-1e2"), -100.0);
  for (const char* bad : {"", " 1", "1 ", "1.2.3", "nan", "inf", "0,5", "1e999"})
    EXPECT_FALSE(ParseNumber(bad).has_value()) << bad;
  // For ranges: numbers beyond double's range are infinities, "nan" no number.
  const double inf = std::numeric_limits<double>::infinity();
  for (const auto& [text, value] : {std::pair{"1e999", inf}, std::pair{"-1e999", -inf},
                                    std::pair{"inf", inf}, std::pair{"+3", 3.0}})
    EXPECT_EQ(ParseAnyNumber(text), value) << text;
  for (const char* bad : {"nan", "", "x", "1e999x"})
    EXPECT_FALSE(ParseAnyNumber(bad).has_value()) << bad;
}

}  // namespace
}  // namespace tvq::cli
