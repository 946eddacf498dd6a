#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <tuple>

#include "common/images.h"
#include "deringing/edgemask.h"
#include "deringing/edgemask_kernels.h"
#include "imaging/imagefmt.h"

namespace tvq {
namespace {

using test::Filled;

// 5 x 5 black with one bright pixel in the middle. With "Maximum Variation" the
// measure is 100 on the plus shape around the centre and 0 elsewhere; with "Local
// Variation" it is 200 in the centre, 50 on the four arms and 0 elsewhere.
TImageF Spot() {
  TImageF img(5, 5);
  img.Row(2)[2] = 100.0f;
  return img;
}

// A large sigma makes every profile weight 1.0f, so the counts below are plain
// neighbour counts over the 3 x 3 window.
constexpr float kFlatProfile = 1.0e6f;

float Fraction(int count) {
  return static_cast<float>(count * 255.0 / 9.0);
}

TEST(EdgeMaskTest, NegativeThresholdKeepsCountedFractionsMaximumVariation) {
  const TImageF src = Spot();
  TImageF mask(5, 5);
  EdgeMask(src, mask, 1, -1.0f, kMaximumVariation, 5.0f, 2.0f, kFlatProfile);
  // Centre (v = 100): the four diagonal zeros qualify (100 > 5 + 2 * 0); the arms
  // and the centre itself do not. An arm, e.g. (1, 2), sees five zeros around it.
  EXPECT_FLOAT_EQ(mask.Row(2)[2], Fraction(4));
  EXPECT_FLOAT_EQ(mask.Row(2)[1], Fraction(5));
  EXPECT_FLOAT_EQ(mask.Row(2)[3], Fraction(5));
  EXPECT_FLOAT_EQ(mask.Row(1)[2], Fraction(5));
  EXPECT_FLOAT_EQ(mask.Row(3)[2], Fraction(5));
  // Everything with a measure of 0 counts nothing.
  EXPECT_EQ(mask.Row(1)[1], 0.0f);
  EXPECT_EQ(mask.Row(0)[2], 0.0f);
  EXPECT_EQ(mask.Row(4)[4], 0.0f);
}

TEST(EdgeMaskTest, NegativeThresholdKeepsCountedFractionsLocalVariation) {
  const TImageF src = Spot();
  TImageF mask(5, 5);
  EdgeMask(src, mask, 1, -5.0f, kLocalVariation, 5.0f, 2.0f, kFlatProfile);
  // Centre (v = 200): all eight neighbours (50 or 0) are below (200 - 5) / 2.
  EXPECT_FLOAT_EQ(mask.Row(2)[2], Fraction(8));
  // Arm (v = 50): only the zeros (< 22.5) qualify, five of them.
  EXPECT_FLOAT_EQ(mask.Row(2)[1], Fraction(5));
  EXPECT_EQ(mask.Row(1)[1], 0.0f);
}

// Threshold t = 2.55 * percent: a pixel is marked when its fraction exceeds t.
class EdgeMaskThresholdTest : public ::testing::TestWithParam<std::tuple<float, bool, bool>> {};

TEST_P(EdgeMaskThresholdTest, MarksFractionsAboveThreshold) {
  const auto [percent, centreMarked, armMarked] = GetParam();
  const TImageF src = Spot();
  TImageF mask(5, 5);
  EdgeMask(src, mask, 1, percent, kMaximumVariation, 5.0f, 2.0f, kFlatProfile);
  EXPECT_EQ(mask.Row(2)[2], centreMarked ? 255.0f : 0.0f);
  EXPECT_EQ(mask.Row(2)[1], armMarked ? 255.0f : 0.0f);
  EXPECT_EQ(mask.Row(3)[2], armMarked ? 255.0f : 0.0f);
  EXPECT_EQ(mask.Row(1)[1], 0.0f);
  for (std::int32_t y = 0; y < 5; ++y)
    for (std::int32_t x = 0; x < 5; ++x)
      EXPECT_TRUE(mask.Row(y)[x] == 0.0f || mask.Row(y)[x] == 255.0f);
}

// Centre fraction 113.3, arm fraction 141.7.
INSTANTIATE_TEST_SUITE_P(Thresholds, EdgeMaskThresholdTest,
                         ::testing::Values(std::make_tuple(0.0f, true, true),
                                           std::make_tuple(30.0f, true, true),
                                           std::make_tuple(50.0f, false, true),
                                           std::make_tuple(56.0f, false, false),
                                           std::make_tuple(100.0f, false, false)));

// Vertical step edge with some ringing beside it, 24 x 16.
TImageF Edge() {
  TImageF img(24, 16);
  for (std::int32_t y = 0; y < 16; ++y)
    for (std::int32_t x = 0; x < 24; ++x) {
      float v = x < 12 ? 40.0f : 200.0f;
      if (x == 10 || x == 14) v += 12.0f;
      if (x == 11 || x == 13) v -= 12.0f;
      img.Row(y)[x] = v;
    }
  return img;
}

class EdgeMaskMeasurementTest : public ::testing::TestWithParam<EdgeMeasurement> {};

TEST_P(EdgeMaskMeasurementTest, MarksTheEdgeAndNothingFarFromIt) {
  const TImageF src = Edge();
  TImageF mask(24, 16);
  EdgeMask(src, mask, 6, 30.0f, GetParam(), 5.0f, 2.0f, 4.0f);
  EXPECT_EQ(mask.Row(8)[12], 255.0f);
  EXPECT_EQ(mask.Row(8)[2], 0.0f);
  EXPECT_EQ(mask.Row(8)[22], 0.0f);

  TImageF none(24, 16);
  EdgeMask(src, none, 6, 100.0f, GetParam(), 5.0f, 2.0f, 4.0f);
  for (std::int32_t y = 0; y < 16; ++y)
    for (std::int32_t x = 0; x < 24; ++x) ASSERT_EQ(none.Row(y)[x], 0.0f) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Measurements, EdgeMaskMeasurementTest,
                         ::testing::Values(kLocalVariation, kMaximumVariation, kGradientNorm));

// The fast EdgeMask against its plain per-comparison definition, bit for bit, on
// odd sizes, 1 x 1 and windows wider than the image.
class EdgeMaskReferenceTest
    : public ::testing::TestWithParam<std::tuple<EdgeMeasurement, std::tuple<int, int>, int>> {};

TEST_P(EdgeMaskReferenceTest, FastEqualsPlainBitForBit) {
  const auto [measurement, size, radius] = GetParam();
  const auto [w, h] = size;
  TImageF src(w, h);
  std::uint32_t state = 777;
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) {
      state = state * 1664525u + 1013904223u;
      const float noise = static_cast<float>(state >> 26);  // 0 .. 63
      src.Row(y)[x] = (x * 3 < w * 2 ? 30.0f : 190.0f) + noise * 0.37f;
    }
  for (const float sigma : {4.0f, 0.0f, 1.3f})
    for (const float noise : {5.0f, -2.5f})
      for (const float threshold : {-1.0f, 30.0f}) {
        TImageF fast(w, h);
        TImageF plain(w, h);
        EdgeMask(src, fast, radius, threshold, measurement, noise, 1.7f, sigma);
        EdgeMaskPlain(src, plain, radius, threshold, measurement, noise, 1.7f, sigma);
        for (std::int32_t y = 0; y < h; ++y)
          for (std::int32_t x = 0; x < w; ++x)
            ASSERT_EQ(fast.Row(y)[x], plain.Row(y)[x])
                << x << "," << y << " sigma " << sigma << " noise " << noise << " threshold "
                << threshold;
      }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, EdgeMaskReferenceTest,
    ::testing::Combine(::testing::Values(kLocalVariation, kMaximumVariation, kGradientNorm),
                       ::testing::Values(std::make_tuple(1, 1), std::make_tuple(7, 5),
                                         std::make_tuple(31, 17), std::make_tuple(3, 40)),
                       ::testing::Values(1, 6, 20)));

TEST(EdgeMaskTest, GaussRadiusZeroUsesTheLimitProfile) {
  // Noise 0 and multiplier 0.5: with the limit profile only the centre offset can
  // qualify (v > 0.5 v whenever v > 0), so every pixel with a measure counts one.
  const TImageF src = Spot();
  TImageF mask(5, 5);
  EdgeMask(src, mask, 1, -1.0f, kMaximumVariation, 0.0f, 0.5f, 0.0f);
  for (std::int32_t y = 0; y < 5; ++y)
    for (std::int32_t x = 0; x < 5; ++x) {
      const bool plus = (x == 2 && y >= 1 && y <= 3) || (y == 2 && x >= 1 && x <= 3);
      ASSERT_FALSE(std::isnan(mask.Row(y)[x]));
      EXPECT_FLOAT_EQ(mask.Row(y)[x], plus ? Fraction(1) : 0.0f) << x << "," << y;
    }
  // A vanishing sigma gives the same weights, so the limit is continuous.
  TImageF tiny(5, 5);
  EdgeMask(src, tiny, 1, -1.0f, kMaximumVariation, 0.0f, 0.5f, 1.0e-20f);
  for (std::int32_t y = 0; y < 5; ++y)
    for (std::int32_t x = 0; x < 5; ++x) EXPECT_EQ(tiny.Row(y)[x], mask.Row(y)[x]);
}

TEST(EdgeMaskTest, SizeMismatchLeavesMaskAlone) {
  const TImageF src = Spot();
  TImageF mask = Filled(4, 5, 7.0f);
  EdgeMask(src, mask, 1, 30.0f, kMaximumVariation, 5.0f, 2.0f, 4.0f);
  for (std::int32_t y = 0; y < 5; ++y)
    for (std::int32_t x = 0; x < 4; ++x) EXPECT_EQ(mask.Row(y)[x], 7.0f);
  EXPECT_THROW(EdgeMask(src, mask, -1, 30.0f, kMaximumVariation, 5.0f, 2.0f, 4.0f),
               std::invalid_argument);
}

// A window of 3001 x 3001 positions: count * 255 passes two billion and the window
// size is no longer a small integer, yet a pixel whose every position qualifies
// still gets exactly 255.
TEST(EdgeMaskTest, HugeWindowCountsWithoutOverflow) {
  const TImageF src(1, 1);
  for (auto mask : {EdgeMask, EdgeMaskPlain}) {
    TImageF out(1, 1);
    mask(src, out, 1500, -1.0f, kMaximumVariation, -1.0f, 1.0f, 4.0f);
    EXPECT_EQ(out.Row(0)[0], 255.0f);
  }
}

TEST(EdgeMaskTest, NarrowImagesHaveNoVariation) {
  TImageF src(2, 6);
  src.Row(3)[0] = 255.0f;
  TImageF mask = Filled(2, 6, 9.0f);
  EdgeMask(src, mask, 2, 0.0f, kLocalVariation, 0.0f, 2.0f, 4.0f);
  for (std::int32_t y = 0; y < 6; ++y)
    for (std::int32_t x = 0; x < 2; ++x) EXPECT_EQ(mask.Row(y)[x], 0.0f);
}

// The running maximum over the square window, written directly.
TImageF WindowMax(const TImageF& src, std::int32_t r) {
  TImageF out(src.Width(), src.Height());
  for (std::int32_t y = 0; y < src.Height(); ++y)
    for (std::int32_t x = 0; x < src.Width(); ++x) {
      float m = *src.Pixel(x, y);
      for (std::int32_t dy = -r; dy <= r; ++dy)
        for (std::int32_t dx = -r; dx <= r; ++dx) m = std::max(m, *src.Pixel(x + dx, y + dy));
      out.Row(y)[x] = m;
    }
  return out;
}

class MaxDilateTest : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(MaxDilateTest, EqualsSquareWindowMaximumAlsoInPlace) {
  const auto [w, h, r] = GetParam();
  TImageF src(w, h);
  std::uint32_t state = 12345;
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) {
      state = state * 1664525u + 1013904223u;
      src.Row(y)[x] = static_cast<float>(state >> 24);
    }
  const TImageF expected = WindowMax(src, r);
  TImageF out(w, h);
  MaxDilate(src, out, r);
  TImageF inPlace = src.Clone();
  MaxDilate(inPlace, inPlace, r);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) {
      ASSERT_EQ(out.Row(y)[x], expected.Row(y)[x]) << x << "," << y;
      ASSERT_EQ(inPlace.Row(y)[x], expected.Row(y)[x]) << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, MaxDilateTest,
                         ::testing::Values(std::make_tuple(1, 1, 3), std::make_tuple(7, 5, 0),
                                           std::make_tuple(7, 5, 1), std::make_tuple(13, 9, 3),
                                           std::make_tuple(3, 17, 20)));

TEST(MaxDilateTest, SinglePixelBecomesClampedSquare) {
  TImageF src(6, 6);
  src.Row(1)[0] = 9.0f;
  MaxDilate(src, src, 2);
  for (std::int32_t y = 0; y < 6; ++y)
    for (std::int32_t x = 0; x < 6; ++x)
      EXPECT_EQ(src.Row(y)[x], (x <= 2 && y <= 3) ? 9.0f : 0.0f) << x << "," << y;
}

// Radii beyond the image size (up to the largest integer) cover whole lines.
TEST(MaxDilateTest, HugeRadiusTakesTheWholePlaneMaximum) {
  TImageF src(4, 3);
  src.Row(2)[3] = 6.0f;
  src.Row(0)[1] = -2.0f;
  for (std::int32_t r : {4, 1000000, std::numeric_limits<std::int32_t>::max()}) {
    TImageF out(4, 3);
    MaxDilate(src, out, r);
    for (std::int32_t y = 0; y < 3; ++y)
      for (std::int32_t x = 0; x < 4; ++x) ASSERT_EQ(out.Row(y)[x], 6.0f) << r;
  }
}

TEST(MaskBlendTest, MaskEndsSelectOneSourceExactly) {
  TImageF luma(4, 3);
  TImageF untouched(4, 3);
  TImageF mask(4, 3);
  for (std::int32_t y = 0; y < 3; ++y)
    for (std::int32_t x = 0; x < 4; ++x) {
      luma.Row(y)[x] = 0.1f + 17.3f * static_cast<float>(x + 4 * y);
      untouched.Row(y)[x] = 250.7f - 9.9f * static_cast<float>(x + 4 * y);
      mask.Row(y)[x] = x < 2 ? 0.0f : 255.0f;
    }
  mask.Row(1)[1] = 127.5f;
  const TImageF deringed = luma.Clone();
  MaskBlend(luma, untouched, mask);
  for (std::int32_t y = 0; y < 3; ++y)
    for (std::int32_t x = 0; x < 4; ++x) {
      if (x == 1 && y == 1) continue;
      EXPECT_EQ(luma.Row(y)[x], x < 2 ? untouched.Row(y)[x] : deringed.Row(y)[x]);
    }
  EXPECT_FLOAT_EQ(luma.Row(1)[1], 0.5f * (deringed.Row(1)[1] + untouched.Row(1)[1]));
}

TEST(EdgeMaskParamsTest, DefaultsAreValidAndRangesAreChecked) {
  EXPECT_NO_THROW(EdgeMaskParams{}.Validate());
  const auto invalid = [](auto change) {
    EdgeMaskParams p;
    change(p);
    EXPECT_THROW(p.Validate(), std::invalid_argument);
  };
  invalid([](EdgeMaskParams& p) { p.filterRadius = 0; });
  invalid([](EdgeMaskParams& p) { p.filterRadius = 21; });
  invalid([](EdgeMaskParams& p) { p.dilationRadius = -1; });
  invalid([](EdgeMaskParams& p) { p.dilationRadius = 21; });
  invalid([](EdgeMaskParams& p) { p.minimumBlockSize = 10001; });
  invalid([](EdgeMaskParams& p) { p.measurement = static_cast<EdgeMeasurement>(3); });
  invalid([](EdgeMaskParams& p) { p.threshold = std::numeric_limits<float>::quiet_NaN(); });
  invalid([](EdgeMaskParams& p) { p.gaussRadius = std::numeric_limits<float>::infinity(); });
  EdgeMaskParams edges;
  edges.filterRadius = 20;
  edges.dilationRadius = 0;
  edges.gaussRadius = 0.0f;
  edges.threshold = 0.0f;
  EXPECT_NO_THROW(edges.Validate());
  invalid([](EdgeMaskParams& p) { p.threshold = -1.0f; });
}

TEST(ComputeEdgeMaskTest, PipelineStaysWithinRangeAndFlatGivesZero) {
  const TImageF edge = Edge();
  const TImageF mask = ComputeEdgeMask(edge, EdgeMaskParams{});
  ASSERT_EQ(mask.Width(), 24);
  ASSERT_EQ(mask.Height(), 16);
  for (std::int32_t y = 0; y < 16; ++y)
    for (std::int32_t x = 0; x < 24; ++x) {
      EXPECT_GE(mask.Row(y)[x], 0.0f);
      EXPECT_LE(mask.Row(y)[x], 255.0f);
    }
  EXPECT_GT(mask.Row(8)[12], 200.0f);
  EXPECT_LT(mask.Row(8)[0], mask.Row(8)[12]);

  EdgeMaskParams all;
  all.threshold = 100.0f;
  const TImageF none = ComputeEdgeMask(edge, all);
  const TImageF flatMask = ComputeEdgeMask(Filled(24, 16, 77.0f), EdgeMaskParams{});
  for (std::int32_t y = 0; y < 16; ++y)
    for (std::int32_t x = 0; x < 24; ++x) {
      EXPECT_EQ(none.Row(y)[x], 0.0f);
      EXPECT_EQ(flatMask.Row(y)[x], 0.0f);
    }

  EdgeMaskParams bad;
  bad.filterRadius = 0;
  EXPECT_THROW(ComputeEdgeMask(edge, bad), std::invalid_argument);
}

}  // namespace
}  // namespace tvq
