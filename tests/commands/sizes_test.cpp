// Output sizes: the geometry forms, the size they give a picture, and what is refused.
#include "commands/sizes.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "imaging/errors.h"

namespace tvq {
namespace {

struct SizeCase {
  const char* ask;  // "s:1.5" for a scale, otherwise a geometry
  std::int32_t width, height;
  std::int32_t outWidth, outHeight;  // 0 x 0: refused
  bool enlarging = true;
};

OutputSizeParams ParamsOf(const SizeCase& c) {
  OutputSizeParams params;
  params.enlarging = c.enlarging;
  const std::string ask = c.ask;
  if (ask.rfind("s:", 0) == 0)
    params.scale = std::stod(ask.substr(2));
  else
    params.geometry = ParseGeometry(ask);
  return params;
}

TEST(OutputSize, EachFormGivesTheSizeAnImageToolGives) {
  const SizeCase cases[] = {
      // Scales: round(S * side), half away from zero.
      {"s:1.5", 3, 5, 5, 8},
      {"s:3", 7, 1, 21, 3},
      {"s:2", 1, 1, 2, 2},
      {"s:1.25", 2, 6, 3, 8},   // 2.5 -> 3, 7.5 -> 8
      {"s:16", 4096, 1, 0, 0},  // 65536 wide: refused
      {"s:0.5", 5, 3, 3, 2, false},
      {"s:0.1", 4, 40, 0, 0, false},  // 0.4 rounds to 0: refused
      // Fit inside, aspect kept; the tighter side decides.
      {"1000x1000", 200, 100, 1000, 500},
      {"1000x1000", 100, 300, 333, 1000},
      {"999x1000", 2, 3, 667, 1000},  // 666.67 -> 667
      {"11x", 2, 3, 11, 17},          // 16.5 -> 17
      {"x9", 3, 2, 14, 9},            // 13.5 -> 14
      {"4x4", 1, 1, 4, 4},
      {"3x7!", 2, 2, 3, 7},
      {"100x100^", 200, 100, 200, 100},  // already covers: unchanged
      {"400x300^", 200, 100, 600, 300},
      {"400x300^", 100, 200, 400, 800},
      // Only enlarge: a picture not smaller than the box keeps its size.
      {"2000x2000<", 3000, 1000, 3000, 1000},
      {"2000x2000<", 1000, 500, 2000, 1000},
      {"2000x<", 2000, 10, 2000, 10},
      {"x50<", 10, 20, 25, 50},
      // An enlarging command refuses a smaller result; resize takes it.
      {"100x", 200, 100, 0, 0},
      {"100x", 200, 100, 100, 50, false},
      {"1x1!", 5, 5, 1, 1, false},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(std::string(c.ask) + " on " + std::to_string(c.width) + "x" +
                 std::to_string(c.height));
    const OutputSizeParams params = ParamsOf(c);
    if (c.outWidth == 0) {
      EXPECT_THROW(ComputeOutputSize(params, c.width, c.height), FileError);
      continue;
    }
    const OutputSize size = ComputeOutputSize(params, c.width, c.height);
    EXPECT_EQ(size.width, c.outWidth);
    EXPECT_EQ(size.height, c.outHeight);
    EXPECT_EQ(size.unchanged, c.width == c.outWidth && c.height == c.outHeight);
  }
}

TEST(OutputSize, TheGridFollowsTheScaleOrTheDecidingSide) {
  OutputSizeParams params;
  params.scale = 1.5;
  OutputSize size = ComputeOutputSize(params, 3, 5);
  EXPECT_EQ(size.scaleX, 1.5);  // not 5 / 3: input pixel x lands on 1.5 x
  EXPECT_EQ(size.scaleY, 1.5);
  params = {};
  params.geometry = ParseGeometry("999x1000");
  size = ComputeOutputSize(params, 2, 3);
  EXPECT_DOUBLE_EQ(size.scaleX, 1000.0 / 3.0);
  EXPECT_DOUBLE_EQ(size.scaleY, 1000.0 / 3.0);
  params.geometry = ParseGeometry("3x7!");
  size = ComputeOutputSize(params, 2, 2);
  EXPECT_EQ(size.scaleX, 1.5);
  EXPECT_EQ(size.scaleY, 3.5);
  // Without either option: twice, as the enlarging commands have always done.
  size = ComputeOutputSize({}, 7, 3);
  EXPECT_EQ(size.width, 14);
  EXPECT_EQ(size.height, 6);
  EXPECT_EQ(size.scaleX, 2.0);
}

TEST(OutputSize, GeometryTextIsReadBackAndMistakesAreNamed) {
  for (const char* text : {"1920x1080", "1920x", "x1080", "5x7!", "5x7^", "5x7<", "5x7^<", "1x1!<"})
    EXPECT_EQ(GeometryText(ParseGeometry(text)), text);
  EXPECT_EQ(GeometryText(ParseGeometry("5X7")), "5x7");
  for (const char* bad : {"", "x", "1920", "0x5", "5x0", "65536x1", "-5x5", "5x5!!", "5x5!^", "5x!",
                          "5x5>", "5x5 ", "1.5x2", "5xx5", "99999999999999999999x1"})
    EXPECT_THROW(ParseGeometry(bad), std::invalid_argument) << bad;
  try {
    ParseGeometry("12y5");
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("'12y5'"), std::string::npos) << e.what();
  }
}

TEST(OutputSize, ScaleRangesAndOneOptionAtATime) {
  OutputSizeParams params;
  for (const double scale : {1.0, 0.5, 16.5, -2.0}) {
    params.scale = scale;
    EXPECT_THROW(params.Validate(), SettingError) << scale;
  }
  params.enlarging = false;
  params.scale = 0.5;
  EXPECT_NO_THROW(params.Validate());
  params.scale = 16.0;
  EXPECT_NO_THROW(params.Validate());
  params.geometry = ParseGeometry("5x5");
  EXPECT_THROW(params.Validate(), SettingError);
}

TEST(OutputSize, PassesReachAtLeastTheAskedSize) {
  const struct {
    std::int32_t width, height, outWidth, outHeight, passes;
  } cases[] = {{10, 10, 15, 15, 1}, {10, 10, 20, 20, 1}, {10, 10, 21, 21, 2},
               {10, 10, 40, 40, 2}, {10, 10, 30, 41, 3}, {1, 1, 16, 16, 4}};
  for (const auto& c : cases) {
    OutputSize size;
    size.width = c.outWidth;
    size.height = c.outHeight;
    EXPECT_EQ(PassCount(size, c.width, c.height), c.passes) << c.outWidth << "x" << c.outHeight;
  }
  OutputSize same;
  same.unchanged = true;
  EXPECT_EQ(PassCount(same, 10, 10), 0);
}

}  // namespace
}  // namespace tvq
