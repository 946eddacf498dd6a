#include "superres/fractal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "common/images.h"
#include "filters/gauss.h"

namespace tvq {
namespace {

using test::Filled;

class CountingProgress : public Progress {
 public:
  std::vector<std::int32_t> positions;
  std::vector<std::int32_t> maxima;
  void ShowProgress(const std::string& stage, std::int32_t position,
                    std::int32_t maximum) override {
    EXPECT_EQ(stage, "Fractal substitution");
    positions.push_back(position);
    maxima.push_back(maximum);
  }
  bool StopRequested() override { return false; }
};

TEST(AnisotropyMap, ConstantImageHasNoAnisotropy) {
  const TImageF y = Filled(20, 18, 140.0f);
  TImageF a(20, 18);
  AnisotropyMap(y, a);
  for (std::int32_t r = 0; r < 18; ++r)
    for (std::int32_t c = 0; c < 20; ++c) EXPECT_NEAR(a.Row(r)[c], 0.0f, 1e-4f);
}

TEST(AnisotropyMap, StraightEdgeIsStronglyAnisotropic) {
  TImageF y(32, 32);
  for (std::int32_t r = 0; r < 32; ++r)
    for (std::int32_t c = 0; c < 32; ++c) y.Row(r)[c] = c < 16 ? 0.0f : 255.0f;
  TImageF a(32, 32);
  AnisotropyMap(y, a);
  // Far from the top-left border the windows of overlapping blocks sum to 1.
  EXPECT_GT(a.Row(16)[16], 24.0f);
  const TImageF d = SuppressionMap(a);
  EXPECT_FLOAT_EQ(d.Row(32)[32], 1.0f);

  // Where the suppression is complete (1 up to the rounding of the smoothing), no
  // texture is added.
  TImageF texture(64, 64);
  NullProgress progress;
  FractalSubstitution(y, texture, progress);
  std::int32_t suppressed = 0;
  for (std::int32_t r = 0; r < 64; ++r)
    for (std::int32_t c = 0; c < 64; ++c)
      if (std::fabs(d.Row(r)[c] - 1.0f) < 1e-6f) {
        ++suppressed;
        EXPECT_NEAR(texture.Row(r)[c], 0.0f, 1e-3f);
      }
  EXPECT_GT(suppressed, 0);
}

// A checkerboard of amplitude 2 has, besides the excluded zero frequency, one
// coefficient: the highest frequency in both axes, 16 * 16 * 2, moved to the corner
// (0, 0) of the centred spectrum. Its energy in direction a is
// 0.25 * exp(-t^2 / 9) * 0.25 * 512 with t = -8 (sin + cos) of the angle. Far from
// the borders the windows of the overlapping blocks sum to 1.
TEST(AnisotropyMap, CheckerboardGivesTheAnisotropyOfItsSingleCoefficient) {
  constexpr std::int32_t kSide = 64;
  TImageF y(kSide, kSide);
  for (std::int32_t r = 0; r < kSide; ++r)
    for (std::int32_t c = 0; c < kSide; ++c) y.Row(r)[c] = (r + c) % 2 == 0 ? 102.0f : 98.0f;
  TImageF a(kSide, kSide);
  AnisotropyMap(y, a);
  double maximum = 0.0, mean = 0.0;
  for (std::int32_t k = 0; k < 16; ++k) {
    const double theta = k * std::acos(-1.0) / 16.0;
    const double t = -8.0 * (std::sin(theta) + std::cos(theta));
    const double energy = 0.25 * std::exp(-t * t / 9.0) * 0.25 * 512.0;
    maximum = std::max(maximum, energy);
    mean += energy / 16.0;
  }
  const double expected = (maximum - mean) * 0.125;
  EXPECT_GT(expected, 3.0);
  for (std::int32_t r = 24; r < 40; ++r)
    for (std::int32_t c = 24; c < 40; ++c)
      ASSERT_NEAR(a.Row(r)[c], expected, 1e-4 * expected) << c << "," << r;
}

TEST(FractalSubstitution, ConstantImageGivesPracticallyNoTexture) {
  TImageF y = Filled(12, 10, 90.0f);
  TImageF texture(24, 20);
  CountingProgress progress;
  FractalSubstitution(y, texture, progress);
  for (std::int32_t r = 0; r < 20; ++r)
    for (std::int32_t c = 0; c < 24; ++c) EXPECT_NEAR(texture.Row(r)[c], 0.0f, 1e-3f);
  // Y became its smoothed version.
  for (std::int32_t r = 0; r < 10; ++r)
    for (std::int32_t c = 0; c < 12; ++c) EXPECT_NEAR(y.Row(r)[c], 90.0f, 1e-3f);
  // 0 of 100, then one report per block column X0 = 0, 4, ..., 20 of 2w = 24.
  EXPECT_EQ(progress.positions, (std::vector<std::int32_t>{0, 0, 4, 8, 12, 16, 20}));
  EXPECT_EQ(progress.maxima, (std::vector<std::int32_t>{100, 24, 24, 24, 24, 24, 24}));
}

TEST(FractalSubstitution, IsotropicTextureAddsDetail) {
  // Left half: fine checkerboard-like noise (isotropic texture); the stage must
  // add texture somewhere; right half: a flat area.
  TImageF y(24, 24);
  std::uint32_t state = 12345;
  for (std::int32_t r = 0; r < 24; ++r)
    for (std::int32_t c = 0; c < 24; ++c) {
      state = state * 1664525u + 1013904223u;
      y.Row(r)[c] = c < 12 ? 100.0f + static_cast<float>(state >> 26) : 100.0f;
    }
  TImageF texture(48, 48);
  NullProgress progress;
  FractalSubstitution(y, texture, progress);
  double energy = 0.0;
  for (std::int32_t r = 0; r < 48; ++r)
    for (std::int32_t c = 0; c < 48; ++c) {
      ASSERT_TRUE(std::isfinite(texture.Row(r)[c]));
      energy += std::fabs(texture.Row(r)[c]);
    }
  EXPECT_GT(energy, 1.0);
}

// A faint checkerboard: far from the borders its detail has period 2, so every
// even paste offset reads the same value, and its anisotropy is too low for any
// suppression. Block columns start at rows 0, 2, 0, 2, ..., so neighbouring
// columns paste opposite phases and, where they overlap, leave
// win8[r] - win8[r + 4] of the detail (0.6, 0.2, 0.2, 0.6 for x mod 4 = 0 .. 3);
// unstaggered columns would add up to the whole detail.
TEST(FractalSubstitution, StaggeredBlockColumnsPasteOppositePhases) {
  constexpr std::int32_t kSide = 64;
  TImageF y(kSide, kSide);
  for (std::int32_t r = 0; r < kSide; ++r)
    for (std::int32_t c = 0; c < kSide; ++c) y.Row(r)[c] = (r + c) % 2 == 0 ? 102.0f : 98.0f;
  TImageF smooth(kSide, kSide);
  GaussSmooth(y, smooth, 2.0f, 10);
  const double detail = std::fabs(static_cast<double>(y.Row(32)[32]) - smooth.Row(32)[32]);
  ASSERT_NEAR(detail, 2.0, 1e-3);

  TImageF texture(2 * kSide, 2 * kSide);
  NullProgress progress;
  FractalSubstitution(y, texture, progress);
  const double expected[4] = {0.6, 0.2, 0.2, 0.6};
  // Every read of these pixels' blocks stays 10 pixels inside the picture.
  for (std::int32_t r = 36; r <= 80; ++r)
    for (std::int32_t c = 36; c <= 80; ++c)
      ASSERT_NEAR(std::fabs(texture.Row(r)[c]), 1.3 * detail * expected[c % 4], 1e-3)
          << c << "," << r;
}

TEST(FractalSubstitution, RejectsTooSmallAndMismatchedPlanes) {
  NullProgress progress;
  TImageF thin = Filled(1, 8, 1.0f);
  TImageF thinTexture(2, 16);
  EXPECT_THROW(FractalSubstitution(thin, thinTexture, progress), EZorException);
  TImageF y = Filled(4, 4, 1.0f);
  TImageF wrong(8, 7);
  EXPECT_THROW(FractalSubstitution(y, wrong, progress), EZorException);
}

}  // namespace
}  // namespace tvq
