// Properties every grey two-times enlarger shares, checked for each method.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "common/images.h"
#include "interpolation/interpolation.h"

namespace tvq {
namespace {

using namespace test;

struct Method {
  std::string name;
  void (*upscale)(const TImageF&, TImageF&);
  double constantTolerance;  // relative, on a constant image
};

void Gradient(const TImageF& s, TImageF& d) {
  GradientUpscale(s, d);
}
void Nedi4(const TImageF& s, TImageF& d) {
  NediUpscale(s, d, NediConfigFor(4));
}

class GreyUpscaler : public ::testing::TestWithParam<Method> {};

TEST_P(GreyUpscaler, SourceSamplesLandUnchangedAtEvenPositions) {
  const TImageF src = NoiseImage(11, 9, 17);
  TImageF dst(22, 18);
  GetParam().upscale(src, dst);
  for (std::int32_t y = 0; y < src.Height(); ++y)
    for (std::int32_t x = 0; x < src.Width(); ++x)
      ASSERT_EQ(*dst.Pixel(2 * x, 2 * y), *src.Pixel(x, y)) << x << ", " << y;
}

// NEDI is left out: its ridge term pulls every prediction slightly below the
// data (nedi_test.cpp checks by how much).
class ConstantKeepingUpscaler : public ::testing::TestWithParam<Method> {};

TEST_P(ConstantKeepingUpscaler, ConstantImageStaysConstant) {
  for (const float c : {1.0f, 100.0f, 254.75f}) {
    const TImageF src = Filled(10, 8, c);
    TImageF dst(20, 16);
    GetParam().upscale(src, dst);
    for (std::int32_t y = 0; y < dst.Height(); ++y)
      for (std::int32_t x = 0; x < dst.Width(); ++x)
        ASSERT_NEAR(*dst.Pixel(x, y), c, c * GetParam().constantTolerance) << x << ", " << y;
  }
}

TEST_P(GreyUpscaler, WrongSizeDestinationIsLeftUntouched) {
  const TImageF src = NoiseImage(6, 5, 3);
  for (const auto& [w, h] : {std::pair{13, 10}, std::pair{12, 11}, std::pair{6, 5}, {11, 9}}) {
    TImageF dst = NoiseImage(w, h, 99);
    const TImageF before = dst.Clone();
    GetParam().upscale(src, dst);
    EXPECT_TRUE(SamePixels(dst, before)) << w << " x " << h;
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, GreyUpscaler,
                         ::testing::Values(Method{"Gradient", Gradient, 1e-6},
                                           Method{"Bilinear", BilinearUpscale, 0.0},
                                           Method{"Lanczos", LanczosUpscale, 1e-7},
                                           Method{"Nedi4", Nedi4, 0.0}),
                         [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(Methods, ConstantKeepingUpscaler,
                         ::testing::Values(Method{"Gradient", Gradient, 1e-6},
                                           Method{"Bilinear", BilinearUpscale, 0.0},
                                           Method{"Lanczos", LanczosUpscale, 1e-7}),
                         [](const auto& info) { return info.param.name; });

// Lanczos and bilinear read through clamped coordinates and are defined on
// one-pixel-wide or -high sources: every new pixel is its nearest source pixel.
class ReplicatingUpscaler : public ::testing::TestWithParam<Method> {};

TEST_P(ReplicatingUpscaler, OnePixelSourceReplicatesNearestSample) {
  for (const auto& [w, h] : {std::pair{1, 5}, std::pair{4, 1}, std::pair{1, 1}}) {
    const TImageF src = NoiseImage(w, h, 5);
    TImageF dst(2 * w, 2 * h);
    GetParam().upscale(src, dst);
    for (std::int32_t y = 0; y < 2 * h; ++y) {
      for (std::int32_t x = 0; x < 2 * w; ++x) {
        // Along the one-pixel direction every new pixel repeats its source
        // sample; along the other it is interpolated, so compare only where
        // that other coordinate is even.
        if ((w == 1 || x % 2 == 0) && (h == 1 || y % 2 == 0)) {
          ASSERT_NEAR(*dst.Pixel(x, y), *src.Pixel(x / 2, y / 2), 2e-5f) << x << ", " << y;
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, ReplicatingUpscaler,
                         ::testing::Values(Method{"Bilinear", BilinearUpscale, 0.0},
                                           Method{"Lanczos", LanczosUpscale, 0.0}),
                         [](const auto& info) { return info.param.name; });

TEST(BilinearUpscale, WorkedExample) {
  TImageF src(2, 2);
  *src.Pixel(0, 0) = 0.0f;
  *src.Pixel(1, 0) = 4.0f;
  *src.Pixel(0, 1) = 8.0f;
  *src.Pixel(1, 1) = 16.0f;
  TImageF dst(4, 4);
  BilinearUpscale(src, dst);
  const float expected[4][4] = {{0, 2, 4, 4}, {4, 7, 10, 10}, {8, 12, 16, 16}, {8, 12, 16, 16}};
  for (std::int32_t y = 0; y < 4; ++y)
    for (std::int32_t x = 0; x < 4; ++x)
      EXPECT_EQ(*dst.Pixel(x, y), expected[y][x]) << x << ", " << y;
}

}  // namespace
}  // namespace tvq
