#include "interpolation/directional.h"

#include <gtest/gtest.h>

#include "imaging/imagebase.h"

namespace tvq {
namespace {

TEST(DirectionalHelpers, AverageTruncatesAndWeightedSumRoundsHalfUp) {
  const std::uint8_t p[4] = {3, 255, 0, 100};
  const std::uint8_t q[4] = {4, 255, 1, 51};
  EXPECT_EQ(AverageC4(p, q), (PixelC4{3, 255, 0, 75}));
  const std::uint8_t one[4] = {1, 10, 255, 200};
  const std::uint8_t zero[4] = {0, 0, 0, 0};
  // 0.5 rounds up; 10 * 0.5 + 10 * 0.05 = 5.5 -> 6; 255 * 1.1 saturates.
  EXPECT_EQ(WeightedSumC4(one, 0.5, zero, 0.45, zero, 0.45, zero, 0.05)[0], 1);
  EXPECT_EQ(WeightedSumC4(one, 0.5, one, 0.05, zero, 0.45, zero, 0.0)[1], 6);
  EXPECT_EQ(WeightedSumC4(one, 0.65, one, 0.45, zero, 0.0, zero, 0.0)[2], 255);
  EXPECT_EQ(WeightedSumC4(one, 0.05, one, 0.45, one, 0.45, one, 0.05)[3], 200);
}

TImageC4 Uniform(std::int32_t w, std::int32_t h, const PixelC4& value) {
  TImageC4 image(w, h);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x)
      for (int k = 0; k < 4; ++k) image.Pixel(x, y)[k] = value[k];
  return image;
}

TEST(DirectionalUpscaleC4, UniformImageStaysUniformAwayFromTheLastRowAndColumn) {
  const TImageC4 src = Uniform(7, 6, {40, 90, 160, 0});
  TImageC4 dst(14, 12);
  DirectionalUpscaleC4(src, dst);
  const std::uint8_t grey = ClampToByte(static_cast<float>(0.114 * 40 + 0.587 * 90 + 0.299 * 160));
  for (std::int32_t y = 0; y < 11; ++y)
    for (std::int32_t x = 0; x < 13; ++x) {
      const std::uint8_t* p = dst.Pixel(x, y);
      ASSERT_EQ(p[0], 40);
      ASSERT_EQ(p[1], 90);
      ASSERT_EQ(p[2], 160);
      ASSERT_EQ(p[3], grey) << x << ", " << y;
    }
  // Diagonal positions of the last column and row keep the prior content.
  EXPECT_EQ(dst.Pixel(13, 1)[0], 0);
  EXPECT_EQ(dst.Pixel(1, 11)[0], 0);
  EXPECT_EQ(src.Pixel(3, 3)[3], 0);  // the source is not changed
}

// A horizontal edge: the new pixels between the two rows on either side of it
// are interpolated along the edge, not across it.
TEST(DirectionalUpscaleC4, HorizontalEdgeIsFilledAlongTheEdge) {
  TImageC4 src(6, 6);
  for (std::int32_t y = 0; y < 6; ++y)
    for (std::int32_t x = 0; x < 6; ++x)
      for (int k = 0; k < 3; ++k) src.Pixel(x, y)[k] = y < 3 ? 0 : 200;
  TImageC4 dst(12, 12);
  DirectionalUpscaleC4(src, dst);
  for (std::int32_t x = 1; x < 10; ++x) {
    EXPECT_EQ(dst.Pixel(x, 5)[1], 100) << x;  // between source rows 2 and 3
    EXPECT_EQ(dst.Pixel(x, 3)[1], 0) << x;
    EXPECT_EQ(dst.Pixel(x, 7)[1], 200) << x;
  }
}

TEST(DirectionalUpscaleC4, WrongSizeDestinationIsLeftUntouched) {
  const TImageC4 src = Uniform(4, 4, {1, 2, 3, 4});
  TImageC4 dst = Uniform(8, 7, {9, 9, 9, 9});
  DirectionalUpscaleC4(src, dst);
  for (std::int32_t y = 0; y < 7; ++y)
    for (std::int32_t x = 0; x < 8; ++x) ASSERT_EQ(dst.Pixel(x, y)[0], 9);
}

}  // namespace
}  // namespace tvq
