#include "superres/colour.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/images.h"
#include "filters/gauss.h"

namespace tvq {
namespace {

using test::Filled;

struct RampCase {
  bool blackStart;
  float minFactor;
  float threshMin;
  float threshMax;
  float curvature;
  float expected;
};
class WeightRampCases : public ::testing::TestWithParam<RampCase> {};

TEST_P(WeightRampCases, GivesTheWeightOfTheRamp) {
  const RampCase& c = GetParam();
  WeightMapParams params;
  params.maximum = 0.05f;
  params.lowWeight = LowWeight(0.05f, c.minFactor, c.blackStart);
  params.threshMin = c.threshMin;
  params.threshMax = c.threshMax;
  TImageF plane = Filled(3, 2, c.curvature);
  WeightRamp(plane, params);
  for (std::int32_t y = 0; y < 2; ++y)
    for (std::int32_t x = 0; x < 3; ++x) {
      EXPECT_TRUE(std::isfinite(plane.Row(y)[x]));
      EXPECT_NEAR(plane.Row(y)[x], c.expected, 1e-8f);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ramp, WeightRampCases,
    ::testing::Values(
        // Black start, MinFactor 0.2: low weight 0.01.
        RampCase{true, 0.2f, 5, 15, 10.0f, 0.03f}, RampCase{true, 0.2f, 5, 15, 4.0f, 0.01f},
        RampCase{true, 0.2f, 5, 15, 16.0f, 0.05f}, RampCase{true, 0.2f, 5, 15, 0.0f, 0.01f},
        // Exactly at the thresholds: through the ramp, m and Maximum.
        RampCase{true, 0.2f, 5, 15, 5.0f, 0.01f}, RampCase{true, 0.2f, 5, 15, 15.0f, 0.05f},
        // Equal thresholds: a value equal to both gets Maximum instead of 0 / 0.
        RampCase{true, 0.2f, 5, 5, 5.0f, 0.05f}, RampCase{true, 0.2f, 5, 5, 4.9f, 0.01f},
        RampCase{true, 0.2f, 5, 5, 5.1f, 0.05f}, RampCase{true, 0.2f, 0, 0, 0.0f, 0.05f},
        // Any other start: the low weight is Maximum, the map is constant.
        RampCase{false, 0.2f, 5, 15, 0.0f, 0.05f}, RampCase{false, 0.2f, 5, 15, 10.0f, 0.05f}));

TEST(WeightMap, ConstantLuminanceGivesTheLowWeightAndKeepsEInTheEstimate) {
  const TImageF y = Filled(6, 5, 77.0f);
  TImageF x(12, 10);
  WeightMapParams params;
  params.lowWeight = LowWeight(0.05f, 0.2f, true);
  const TImageF w = WeightMap(y, x, params);
  ASSERT_EQ(w.Width(), 12);
  ASSERT_EQ(w.Height(), 10);
  for (std::int32_t r = 0; r < 10; ++r)
    for (std::int32_t c = 0; c < 12; ++c) {
      EXPECT_FLOAT_EQ(w.Row(r)[c], params.lowWeight);
      EXPECT_FLOAT_EQ(x.Row(r)[c], 77.0f);  // E of a constant is the constant
    }
}

TEST(WeightMap, RejectsAnEstimatePlaneOfTheWrongSize) {
  const TImageF y = Filled(6, 5, 1.0f);
  TImageF x(12, 9);
  EXPECT_THROW(WeightMap(y, x, WeightMapParams{}), EZorException);
}

TEST(SmoothedCurvature, SpikeGivesSecondDifferencesSpreadByTheBlur) {
  TImageF e = Filled(15, 15, 0.0f);
  e.Row(7)[7] = 1.0f;
  const TImageF c = SmoothedCurvature(e);
  // Raw curvature: 4 at the spike, 1 at its four neighbours, 0 elsewhere; the
  // smoothing keeps the total (away from the borders) and the symmetry.
  double total = 0.0;
  for (std::int32_t y = 0; y < 15; ++y)
    for (std::int32_t x = 0; x < 15; ++x) {
      total += c.Row(y)[x];
      EXPECT_FLOAT_EQ(c.Row(y)[x], c.Row(x)[y]);
      EXPECT_FLOAT_EQ(c.Row(y)[x], c.Row(y)[14 - x]);
    }
  EXPECT_NEAR(total, 8.0, 1e-5);
  EXPECT_GT(c.Row(7)[7], c.Row(7)[9]);

  // The raw curvature written out by hand, smoothed with sigma 2 and radius 3.
  TImageF raw = Filled(15, 15, 0.0f);
  raw.Row(7)[7] = 4.0f;
  raw.Row(7)[6] = raw.Row(7)[8] = raw.Row(6)[7] = raw.Row(8)[7] = 1.0f;
  TImageF expected(15, 15);
  GaussSmooth(raw, expected, 2.0f, 3);
  for (std::int32_t y = 0; y < 15; ++y)
    for (std::int32_t x = 0; x < 15; ++x)
      EXPECT_EQ(c.Row(y)[x], expected.Row(y)[x]) << x << "," << y;
}

TEST(ColourPipeline, GreyPictureGivesZeroColourDifferences) {
  Bitmap picture(5, 4, 24);
  for (std::int32_t y = 0; y < 4; ++y)
    for (std::int32_t x = 0; x < 5; ++x)
      for (int k = 0; k < 3; ++k)
        picture.ScanLine(y)[3 * x + k] = static_cast<std::uint8_t>(20 * x + 7 * y);
  LumaAndColour split = ReadLumaAndColour(picture);
  SubtractLuma(split.colour, split.luma);
  for (std::int32_t y = 0; y < 4; ++y)
    for (std::int32_t x = 0; x < 5; ++x) {
      EXPECT_NEAR(split.luma.Row(y)[x], 20 * x + 7 * y, 1e-4);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(split.colour.Row(y)[4 * x + k], 0.0f, 1e-4f);
    }
  const TImageF4 enlarged = EnlargeColourDifferences(split.colour);
  ASSERT_EQ(enlarged.Width(), 10);
  ASSERT_EQ(enlarged.Height(), 8);
  for (std::int32_t y = 0; y < 8; ++y)
    for (std::int32_t x = 0; x < 10; ++x) EXPECT_EQ(enlarged.Row(y)[4 * x + 3], 0.0f);
}

TEST(ColourPipeline, SubtractThenAddRestoresTheChannelsAndKeepsTheFourth) {
  Bitmap picture(3, 2, 32);
  for (std::int32_t y = 0; y < 2; ++y)
    for (std::int32_t x = 0; x < 3; ++x)
      for (int k = 0; k < 4; ++k)
        picture.ScanLine(y)[4 * x + k] = static_cast<std::uint8_t>(40 * k + 30 * x + 11 * y);
  LumaAndColour split = ReadLumaAndColour(picture);
  SubtractLuma(split.colour, split.luma);
  AddToColour(split.colour, split.luma);
  for (std::int32_t y = 0; y < 2; ++y)
    for (std::int32_t x = 0; x < 3; ++x)
      for (int k = 0; k < 4; ++k)
        EXPECT_NEAR(split.colour.Row(y)[4 * x + k], 40 * k + 30 * x + 11 * y, 1e-4);
}

}  // namespace
}  // namespace tvq
