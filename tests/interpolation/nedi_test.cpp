#include "interpolation/nedi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "common/images.h"
#include "imaging/imagebase.h"

namespace tvq {
namespace {

using test::Filled;
using test::NoiseImage;

bool SameConfig(const NediPassParams& a, const NediPassParams& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(LoadNediConfig, ChoosesByNeighbourCount) {
  const NediConfig four = NediConfigFor(4);
  EXPECT_EQ(four.pass1.n, 4);
  EXPECT_EQ(four.pass1.m, 16);
  EXPECT_EQ(four.pass1.trainScaleDx[1], 2);
  EXPECT_EQ(four.pass1.trainScaleDy[1], -2);
  EXPECT_EQ(four.pass1.trainDx[4], -3);  // second row of the 4 x 4 window
  EXPECT_EQ(four.pass1.trainDy[4], -1);
  EXPECT_EQ(four.pass1.mask[3], 1);
  EXPECT_EQ(four.pass1.mask[0] + four.pass1.mask[1] + four.pass1.mask[2], 0);
  EXPECT_EQ(four.pass2.mask[1] + four.pass2.mask[2], 2);
  EXPECT_EQ(four.pass2.mask[0] + four.pass2.mask[3], 0);
  EXPECT_FLOAT_EQ(four.pass1.lambda, 0.1f);
  for (const std::int32_t other : {1, 0, 7, -12}) {
    const NediConfig config = NediConfigFor(other);
    EXPECT_TRUE(SameConfig(config.pass1, four.pass1) && SameConfig(config.pass2, four.pass2))
        << other;
  }
  const NediConfig twelve = NediConfigFor(12);
  EXPECT_EQ(twelve.pass1.n, 12);
  EXPECT_EQ(twelve.pass1.predictDx[11], 1);
  EXPECT_EQ(twelve.pass1.predictDy[11], 2);
  EXPECT_EQ(twelve.pass2.n, 4);
  double squares = 0.0;
  for (int k = 0; k < 16; ++k) {
    EXPECT_EQ(four.pass2.trainWeight[k], 1.0f);
    squares += twelve.pass2.trainWeight[k] * twelve.pass2.trainWeight[k];
  }
  EXPECT_DOUBLE_EQ(squares, 6.25);
}

// On a constant image c every training equation reads c, so pass 1 fits
// coefficients 16c^2 / (64c^2 + 0.1) and predicts c * 64c^2 / (64c^2 + 0.1).
TEST(NediUpscale, ConstantImagePredictionIsPulledByTheRidgeTerm) {
  for (const double c : {0.5, 2.0, 100.0}) {
    const TImageF src = Filled(8, 8, static_cast<float>(c));
    TImageF dst(16, 16);
    NediUpscale(src, dst, NediConfigFor(4));
    const double expected = c * 64 * c * c / (64 * c * c + 0.1);
    for (std::int32_t y = 5; y <= 9; y += 2)
      for (std::int32_t x = 5; x <= 9; x += 2)
        EXPECT_NEAR(*dst.Pixel(x, y), expected, 2e-7 * c) << c << " at " << x << ", " << y;
    EXPECT_LT(*dst.Pixel(7, 7), static_cast<float>(c));
    // Pass 2 trains partly on pass-1 values and is pulled once more.
    EXPECT_NEAR(*dst.Pixel(7, 6), c, 2 * (c - expected) + 1e-6 * c);
    EXPECT_LT(*dst.Pixel(7, 6), static_cast<float>(c));
  }
}

TEST(NediUpscale, ZeroTrainingWindowPredictsZero) {
  const TImageF src = Filled(8, 8, 0.0f);
  TImageF dst = NoiseImage(16, 16, 4);
  NediUpscale(src, dst, NediConfigFor(4));
  // Away from the borders (clamped reads of prior content), the normal matrix
  // is 0.1 I, the coefficients are zero and so is every pixel.
  for (std::int32_t y = 3; y < 13; ++y)
    for (std::int32_t x = 3; x < 13; ++x) ASSERT_EQ(*dst.Pixel(x, y), 0.0f) << x << ", " << y;
}

TEST(NediUpscale, SmoothRampIsReproducedClosely) {
  const TImageF src = test::MakeImage(
      12, 12, [](std::int32_t x, std::int32_t y) { return 40.0f + 3.0f * x + 5.0f * y; });
  TImageF dst(24, 24);
  NediUpscale(src, dst, NediConfigFor(4));
  // Near the right and bottom borders the training windows clamp onto the
  // last row and column, which are still zero when read; compare inside.
  for (std::int32_t y = 6; y < 15; ++y)
    for (std::int32_t x = 6; x < 15; ++x)
      EXPECT_NEAR(*dst.Pixel(x, y), 40.0 + 1.5 * x + 2.5 * y, 0.1) << x << ", " << y;
}

// The 12-neighbour configuration refines a complete 4-neighbour result; on a
// constant image its pass-1 prediction is c * 192c^2 / (192c^2 + 0.1) of
// neighbours that are themselves within the 4-neighbour ridge pull of c.
TEST(NediUpscale, TwelveNeighboursRefineAFourNeighbourResult) {
  const double c = 10.0;
  const TImageF src = Filled(10, 10, static_cast<float>(c));
  TImageF dst(20, 20);
  NediUpscale(src, dst, NediConfigFor(4));
  NediUpscale(src, dst, NediConfigFor(12));
  for (std::int32_t y = 7; y <= 11; y += 2)
    for (std::int32_t x = 7; x <= 11; x += 2) {
      EXPECT_NEAR(*dst.Pixel(x, y), c * 192 * c * c / (192 * c * c + 0.1), 2e-4);
      EXPECT_LT(*dst.Pixel(x, y), static_cast<float>(c));
    }
  for (std::int32_t y = 0; y < 20; y += 2)
    for (std::int32_t x = 0; x < 20; x += 2) ASSERT_EQ(*dst.Pixel(x, y), static_cast<float>(c));
}

TEST(NediUpscaleC4, SamplesCarryTheirLuminanceByte) {
  TImageC4 src(6, 5);
  std::uint32_t seed = 8;
  for (std::int32_t y = 0; y < 5; ++y)
    for (std::int32_t x = 0; x < 6; ++x)
      for (int k = 0; k < 4; ++k)
        src.Pixel(x, y)[k] = static_cast<std::uint8_t>(test::NoiseValue(seed));
  const TImageC4 before = src.Clone();
  TImageC4 dst(12, 10);
  NediUpscaleC4(src, dst, NediConfigFor(4));
  for (std::int32_t y = 0; y < 5; ++y)
    for (std::int32_t x = 0; x < 6; ++x) {
      const std::uint8_t* s = src.Pixel(x, y);
      const std::uint8_t* d = dst.Pixel(2 * x, 2 * y);
      for (int k = 0; k < 4; ++k) ASSERT_EQ(s[k], before.Pixel(x, y)[k]);  // source unchanged
      for (int k = 0; k < 3; ++k) ASSERT_EQ(d[k], s[k]);
      const std::uint32_t packed =
          s[0] | s[1] << 8 | s[2] << 16 | static_cast<std::uint32_t>(s[3]) << 24;
      ASSERT_EQ(d[3], ClampToByte(static_cast<float>(ColorToGrey(packed))));
    }
}

TEST(NediUpscaleC4, ConstantColourStaysWithinOneLevel) {
  TImageC4 src(8, 8);
  for (std::int32_t y = 0; y < 8; ++y)
    for (std::int32_t x = 0; x < 8; ++x) {
      std::uint8_t* p = src.Pixel(x, y);
      p[0] = 30, p[1] = 120, p[2] = 220, p[3] = 0;
    }
  TImageC4 dst(16, 16);
  NediUpscaleC4(src, dst, NediConfigFor(4));
  const std::uint8_t grey = ClampToByte(static_cast<float>(0.114 * 30 + 0.587 * 120 + 0.299 * 220));
  const std::uint8_t expected[4] = {30, 120, 220, grey};
  for (std::int32_t y = 2; y < 13; ++y)
    for (std::int32_t x = 2; x < 13; ++x)
      for (int k = 0; k < 4; ++k) ASSERT_NEAR(dst.Pixel(x, y)[k], expected[k], 1) << x << ", " << y;
}

// Counts beyond the 16-entry tables would read past them: rejected before any
// pixel is written.
TEST(NediPass, CountsBeyondTheTablesAreRejected) {
  for (const auto& [n, m] : {std::pair{17, 16}, {4, 17}, {-1, 16}, {4, -3}}) {
    NediPassParams params = NediConfigFor(4).pass1;
    params.n = n;
    params.m = m;
    TImageF image = Filled(8, 8, 3.0f);
    EXPECT_THROW(NediPass(image, image, image, params), std::invalid_argument) << n << ", " << m;
    EXPECT_EQ(*image.Pixel(1, 1), 3.0f);
    TImageC4 bytes(8, 8);
    EXPECT_THROW(NediPassC4(bytes, bytes, bytes, params), std::invalid_argument) << n << ", " << m;
  }
}

TEST(NediUpscaleC4, WrongSizeDestinationIsLeftUntouched) {
  const TImageC4 src(4, 4);
  TImageC4 dst(8, 9);
  for (std::int32_t y = 0; y < 9; ++y)
    for (std::int32_t x = 0; x < 8; ++x) dst.Pixel(x, y)[2] = 77;
  NediUpscaleC4(src, dst, NediConfigFor(4));
  for (std::int32_t y = 0; y < 9; ++y)
    for (std::int32_t x = 0; x < 8; ++x) ASSERT_EQ(dst.Pixel(x, y)[2], 77);
}

}  // namespace
}  // namespace tvq
