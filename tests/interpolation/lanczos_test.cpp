#include "interpolation/lanczos.h"

#include <gtest/gtest.h>

#include "common/images.h"

namespace tvq {
namespace {

using test::MakeImage;

constexpr double kStepSamples[5] = {0.124, -0.111, 0.5, 1.111, 0.876};

TEST(LanczosUpscale, StepEdgeRingsOnBothSides) {
  const TImageF src =
      MakeImage(6, 3, [](std::int32_t x, std::int32_t) { return x < 3 ? 0.0f : 1.0f; });
  TImageF dst(12, 6);
  LanczosUpscale(src, dst);
  for (std::int32_t y = 0; y < 6; ++y) {
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(*dst.Pixel(2 * i + 1, y), kStepSamples[i], 1e-6);
    EXPECT_NEAR(*dst.Pixel(11, y), 1.0, 1e-6);  // beyond the last column: replicated
  }
}

TEST(LanczosUpscale, VerticalStepMatchesHorizontal) {
  const TImageF src =
      MakeImage(3, 6, [](std::int32_t, std::int32_t y) { return y < 3 ? 0.0f : 1.0f; });
  TImageF dst(6, 12);
  LanczosUpscale(src, dst);
  for (std::int32_t x = 0; x < 6; ++x)
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(*dst.Pixel(x, 2 * i + 1), kStepSamples[i], 1e-6);
}

TEST(LanczosUpscale, BottomRowsReplicateTheLastSourceRow) {
  // Rows 0..4 hold 0, the last row 1; the odd rows near the bottom see the
  // last row replicated, exactly as the rightmost columns see the last column.
  const TImageF rows =
      MakeImage(2, 6, [](std::int32_t, std::int32_t y) { return y == 5 ? 1.0f : 0.0f; });
  const TImageF cols =
      MakeImage(6, 2, [](std::int32_t x, std::int32_t) { return x == 5 ? 1.0f : 0.0f; });
  TImageF down(4, 12), across(12, 4);
  LanczosUpscale(rows, down);
  LanczosUpscale(cols, across);
  for (std::int32_t k = 0; k < 12; ++k) EXPECT_EQ(*down.Pixel(0, k), *across.Pixel(k, 0)) << k;
  EXPECT_NEAR(*down.Pixel(0, 7), -0.235 + 0.124, 1e-6);  // e(6) clamps to row 5
  EXPECT_NEAR(*down.Pixel(0, 11), 0.611 + 0.611 - 0.235 + 0.124, 1e-6);
}

}  // namespace
}  // namespace tvq
