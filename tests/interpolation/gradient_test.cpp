#include "interpolation/gradient.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "common/images.h"
#include "imaging/imagebase.h"

namespace tvq {
namespace {

using namespace test;

std::vector<float> Upsampled(const std::vector<float>& src, std::uint32_t w, std::uint32_t h) {
  std::vector<float> dst(4 * src.size());
  HalfSampleUpsample(src.data(), w, h, dst.data(), 2);
  return dst;
}

TEST(HalfSampleUpsample, StepRowUsesLinearFourTapAndCopy) {
  const std::vector<float> row = {0, 0, 0, 8, 8, 8};
  std::vector<float> src = row;
  src.insert(src.end(), row.begin(), row.end());  // two equal rows
  const std::vector<float> dst = Upsampled(src, 6, 2);
  const float expected[12] = {0, 0, 0, -1, 0, 4, 8, 9, 8, 8, 8, 8};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 12; ++c) EXPECT_EQ(dst[r * 12 + c], expected[c]) << r << ", " << c;
}

TEST(HalfSampleUpsample, TwoRowSourceAveragesThenCopies) {
  const std::vector<float> dst = Upsampled({2, 2, 10, 10}, 2, 2);
  const float column[4] = {2, 6, 10, 10};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(dst[r * 4 + c], column[r]) << r << ", " << c;
}

TEST(HalfSampleUpsample, VerticalFourTapMatchesHorizontal) {
  // A column 0, 0, 0, 8, 8, 8 gives the same samples as the row.
  std::vector<float> src(2 * 6);
  for (int i = 0; i < 6; ++i) src[2 * i] = src[2 * i + 1] = i < 3 ? 0.0f : 8.0f;
  const std::vector<float> out = Upsampled(src, 2, 6);
  const float expected[12] = {0, 0, 0, -1, 0, 4, 8, 9, 8, 8, 8, 8};
  for (int r = 0; r < 12; ++r) EXPECT_EQ(out[r * 4 + 1], expected[r]) << r;
}

TEST(GradientUpscale, RejectsSourcesNarrowerThanTwoAndOtherFactors) {
  const std::vector<float> src(8, 1.0f);
  std::vector<float> dst(64);
  for (const auto& [w, h, f] :
       {std::array<std::uint32_t, 3>{1, 8, 2}, {8, 1, 2}, {0, 0, 2}, {2, 4, 3}, {2, 4, 1}}) {
    EXPECT_THROW(HalfSampleUpsample(src.data(), w, h, dst.data(), f), EZorException);
    EXPECT_THROW(GradientUpscalePlane(src.data(), w, h, dst.data(), f), EZorException);
    EXPECT_THROW(GradientUpscalePlanes3(src.data(), src.data(), src.data(), w, h, dst.data(),
                                        dst.data(), dst.data(), f),
                 EZorException);
  }
  const TImageF narrow(1, 5);
  TImageF out(2, 10);
  ASSERT_EQ(test::CodeOf([&] { GradientUpscale(narrow, out); }), ecBadSize)
      << "a one-pixel-wide source";
  const TImageF4 low(7, 1);
  TImageF4 colourOut(14, 2);
  EXPECT_THROW(GradientUpscaleColor(low, colourOut), EZorException);
  const TImageF fine(4, 4);
  TImageF tripled(12, 12);
  EXPECT_THROW(GradientUpscale(fine, tripled, 3), EZorException);
}

TEST(GradientUpscale, FrameHoldsHalfSampleValuesAndLastRowColumnRepeat) {
  const TImageF src = NoiseImage(12, 10, 7);
  TImageF dst(24, 20);
  GradientUpscale(src, dst);
  const std::vector<float> plain(src.Row(0), src.Row(0) + 120);
  const std::vector<float> half = Upsampled(plain, 12, 10);
  std::int32_t refined = 0;
  for (std::int32_t r = 0; r < 20; ++r) {
    for (std::int32_t c = 0; c < 24; ++c) {
      const float h = half[static_cast<std::size_t>(r * 24 + c)];
      if (r < 3 || r > 16 || c < 3 || c > 20)
        ASSERT_EQ(*dst.Pixel(c, r), h) << r << ", " << c;
      else if (*dst.Pixel(c, r) != h)
        ++refined;
    }
    ASSERT_EQ(*dst.Pixel(23, r), *dst.Pixel(22, r));
  }
  for (std::int32_t c = 0; c < 24; ++c) ASSERT_EQ(*dst.Pixel(c, 19), *dst.Pixel(c, 18));
  // Every interior new sample (14 x 18 minus the 7 x 9 source samples) is re-estimated.
  EXPECT_EQ(refined, 14 * 18 - 7 * 9);
}

// Rows constant along x: only the horizontal direction has a small gradient
// sum, so each diagonal sample moves halfway from its half-sample value
// towards the average of its four diagonal neighbours.
TEST(GradientUpscale, HorizontalStructureMovesHalfwayToDiagonalAverage) {
  const TImageF src = MakeImage(10, 10, [](std::int32_t, std::int32_t y) {
    return static_cast<float>(3 * y * y + 10 * (y % 3));
  });
  TImageF dst(20, 20);
  GradientUpscale(src, dst);
  const std::vector<float> half =
      Upsampled(std::vector<float>(src.Row(0), src.Row(0) + 100), 10, 10);
  for (std::int32_t r = 3; r < 17; r += 2) {
    const double h = half[static_cast<std::size_t>(r * 20 + 7)];
    const double average = (static_cast<double>(*dst.Pixel(7, r - 1)) + *dst.Pixel(7, r + 1)) / 2;
    EXPECT_NEAR(*dst.Pixel(7, r), h + 0.5 * (average - h), 1e-3) << r;
    EXPECT_NE(average, h);
  }
}

TEST(GradientUpscale, NonCompactViewsGiveTheSameResult) {
  const TImageF compact = NoiseImage(9, 8, 11);
  TImageF expected(18, 16);
  GradientUpscale(compact, expected);

  // The same pixels seen through rows padded by three floats.
  TImageF wide(12, 8);
  for (std::int32_t y = 0; y < 8; ++y)
    for (std::int32_t x = 0; x < 9; ++x) *wide.Pixel(x, y) = *compact.Pixel(x, y);
  TImageDesc view = wide.GetDesc();
  view.width = 9;
  TImageF padded;
  padded.Attach(view);
  TImageF wideOut(21, 16);
  TImageDesc outView = wideOut.GetDesc();
  outView.width = 18;
  TImageF paddedOut;
  paddedOut.Attach(outView);
  GradientUpscale(padded, paddedOut);
  EXPECT_TRUE(SamePixels(paddedOut, expected));
  for (std::int32_t y = 0; y < 16; ++y)
    for (std::int32_t x = 18; x < 21; ++x) ASSERT_EQ(*wideOut.Pixel(x, y), 0.0f);
}

TEST(GradientUpscaleColor, KeepsSamplesChannelThreeAndWiderFrame) {
  const std::int32_t w = 12, h = 10;
  TImageF4 src(w, h);
  std::uint32_t seed = 21;
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x)
      for (int k = 0; k < 4; ++k) src.Pixel(x, y)[k] = test::NoiseValue(seed);
  TImageF4 dst(2 * w, 2 * h);
  for (std::int32_t y = 0; y < 2 * h; ++y)
    for (std::int32_t x = 0; x < 2 * w; ++x) dst.Pixel(x, y)[3] = -7.0f;
  GradientUpscaleColor(src, dst);
  for (int k = 0; k < 3; ++k) {
    std::vector<float> plane(static_cast<std::size_t>(w * h));
    for (std::int32_t y = 0; y < h; ++y)
      for (std::int32_t x = 0; x < w; ++x)
        plane[static_cast<std::size_t>(y * w + x)] = src.Pixel(x, y)[k];
    const std::vector<float> half = Upsampled(plane, w, h);
    const auto at = [&](std::int32_t c, std::int32_t r) {
      return half[static_cast<std::size_t>(r * 2 * w + c)];
    };
    for (std::int32_t y = 0; y < h; ++y)
      for (std::int32_t x = 0; x < w; ++x)
        ASSERT_EQ(dst.Pixel(2 * x, 2 * y)[k], src.Pixel(x, y)[k]);
    // The diagonal pass leaves a five-pixel frame: (3, 3) keeps its half-sample
    // value, (5, 5) does not; the axis pass still refines (3, 4).
    EXPECT_EQ(dst.Pixel(3, 3)[k], at(3, 3));
    EXPECT_EQ(dst.Pixel(2 * w - 5, 2 * h - 5)[k], at(2 * w - 5, 2 * h - 5));
    EXPECT_NE(dst.Pixel(5, 5)[k], at(5, 5));
    EXPECT_NE(dst.Pixel(4, 3)[k], at(4, 3));
    for (std::int32_t c = 0; c < 2 * w; ++c) EXPECT_EQ(dst.Pixel(c, 1)[k], at(c, 1));
  }
  for (std::int32_t y = 0; y < 2 * h; ++y)
    for (std::int32_t x = 0; x < 2 * w; ++x) ASSERT_EQ(dst.Pixel(x, y)[3], -7.0f);
}

TEST(GradientUpscaleColor, ConstantPlanesStayConstantAndWrongSizeIsUntouched) {
  TImageF4 src(8, 8);
  for (std::int32_t y = 0; y < 8; ++y)
    for (std::int32_t x = 0; x < 8; ++x) {
      float* p = src.Pixel(x, y);
      p[0] = 12.5f, p[1] = -40.0f, p[2] = 200.0f, p[3] = 1.0f;
    }
  TImageF4 dst(16, 16);
  GradientUpscaleColor(src, dst);
  for (std::int32_t y = 0; y < 16; ++y)
    for (std::int32_t x = 0; x < 16; ++x) {
      ASSERT_NEAR(dst.Pixel(x, y)[0], 12.5f, 1e-5);
      ASSERT_NEAR(dst.Pixel(x, y)[1], -40.0f, 4e-5);
      ASSERT_NEAR(dst.Pixel(x, y)[2], 200.0f, 2e-4);
    }
  TImageF4 wrong(16, 15);
  GradientUpscaleColor(src, wrong);
  for (std::int32_t y = 0; y < 15; ++y)
    for (std::int32_t x = 0; x < 16; ++x)
      for (int k = 0; k < 4; ++k) ASSERT_EQ(wrong.Pixel(x, y)[k], 0.0f);
}

}  // namespace
}  // namespace tvq
