#include "superres/fractal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace tvq {
namespace {

TImageF Plane(std::int32_t w, std::int32_t h, float value) {
  TImageF p(w, h);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) p.Row(y)[x] = value;
  return p;
}

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
  const TImageF y = Plane(20, 18, 140.0f);
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

TEST(FractalSubstitution, ConstantImageGivesPracticallyNoTexture) {
  TImageF y = Plane(12, 10, 90.0f);
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

TEST(FractalSubstitution, RejectsTooSmallAndMismatchedPlanes) {
  NullProgress progress;
  TImageF thin = Plane(1, 8, 1.0f);
  TImageF thinTexture(2, 16);
  EXPECT_THROW(FractalSubstitution(thin, thinTexture, progress), EZorException);
  TImageF y = Plane(4, 4, 1.0f);
  TImageF wrong(8, 7);
  EXPECT_THROW(FractalSubstitution(y, wrong, progress), EZorException);
}

}  // namespace
}  // namespace tvq
