// The resize kernel: what each filter keeps (a constant, a dot's place, a ramp), the
// grid, the four-channel form, and the same floats under every thread count.
#include "utility/resize.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "common/images.h"
#include "common/kernel_modes.h"
#include "imaging/errors.h"

namespace tvq {
namespace {

constexpr ResizeFilter kFilters[] = {ResizeFilter::kLanczos3, ResizeFilter::kMitchell,
                                     ResizeFilter::kBox};

// Source sizes and output sizes: reductions by whole and fractional ratios, enlargements,
// 1 x 1 and odd sizes.
struct Shape {
  std::int32_t width, height, outWidth, outHeight;
};
constexpr Shape kShapes[] = {{12, 9, 4, 3}, {13, 7, 5, 2}, {9, 9, 6, 6}, {5, 3, 15, 9},
                             {7, 5, 10, 8}, {1, 1, 3, 2},  {6, 4, 1, 1}, {31, 17, 7, 13}};

std::string Name(ResizeFilter filter, const Shape& s) {
  return std::string(kResizeFilterNames[static_cast<int>(filter)]) + " " + std::to_string(s.width) +
         "x" + std::to_string(s.height) + " -> " + std::to_string(s.outWidth) + "x" +
         std::to_string(s.outHeight);
}

double ScaleOf(std::int32_t out, std::int32_t in) {
  return static_cast<double>(out) / in;
}

TEST(Resize, KeepsAConstantPictureConstant) {
  for (const ResizeFilter filter : kFilters)
    for (const Shape& s : kShapes) {
      const TImageF result =
          Resize(test::Filled(s.width, s.height, 93.25f), s.outWidth, s.outHeight,
                 ScaleOf(s.outWidth, s.width), ScaleOf(s.outHeight, s.height), filter);
      ASSERT_EQ(result.Width(), s.outWidth) << Name(filter, s);
      ASSERT_EQ(result.Height(), s.outHeight) << Name(filter, s);
      for (std::int32_t y = 0; y < s.outHeight; ++y)
        for (std::int32_t x = 0; x < s.outWidth; ++x)
          EXPECT_NEAR(result.Row(y)[x], 93.25f, 1e-4f)
              << Name(filter, s) << " at " << x << "," << y;
    }
}

// A dot at source pixel (c, c) lands on output (S c, S c): the result is mirror
// symmetric about it in both directions, its largest value is there, and its mass is
// the dot's times S^2 (the weights of each output pixel sum to 1).
TEST(Resize, KeepsACentredDotCentred) {
  for (const ResizeFilter filter : kFilters)
    for (const double scale : {1.0 / 3.0, 0.25, 2.0, 3.0}) {
      const std::int32_t c = 12, size = 25;
      const TImageF dot = test::MakeImage(size, size, [&](std::int32_t x, std::int32_t y) {
        return x == c && y == c ? 900.0f : 0.0f;
      });
      const auto out = static_cast<std::int32_t>(std::lround(scale * size));
      const TImageF result = Resize(dot, out, out, scale, scale, filter);
      const auto centre = static_cast<std::int32_t>(std::lround(scale * c));
      ASSERT_DOUBLE_EQ(scale * c, centre);
      const std::string name =
          std::string(kResizeFilterNames[static_cast<int>(filter)]) + " " + std::to_string(scale);
      double mass = 0.0;
      for (std::int32_t y = 0; y < out; ++y)
        for (std::int32_t x = 0; x < out; ++x) {
          const float v = result.Row(y)[x];
          mass += v;
          EXPECT_LE(v, result.Row(centre)[centre]) << name;
          const std::int32_t mx = 2 * centre - x, my = 2 * centre - y;
          if (mx >= 0 && mx < out && my >= 0 && my < out) {
            EXPECT_NEAR(v, result.Row(y)[mx], 1e-3f) << name << " at " << x << "," << y;
            EXPECT_NEAR(v, result.Row(my)[x], 1e-3f) << name << " at " << x << "," << y;
          }
        }
      EXPECT_NEAR(mass, 900.0 * scale * scale, 900.0 * scale * scale * 0.01) << name;
    }
}

// A ramp along x stays a ramp: away from the borders (where the replicated edge bends
// it) each output pixel holds the value at its place on the source grid, X / S (within
// 2.5 % of a source pixel's step: the windowed filters are not exactly linear between
// pixels), and it rises from pixel to pixel.
TEST(Resize, KeepsARampARamp) {
  for (const ResizeFilter filter : {ResizeFilter::kLanczos3, ResizeFilter::kMitchell})
    for (const double scale : {0.25, 0.6, 1.5, 3.0}) {
      const TImageF ramp =
          test::MakeImage(64, 6, [](std::int32_t x, std::int32_t) { return 10.0f + 2.0f * x; });
      const auto out = static_cast<std::int32_t>(std::lround(scale * 64));
      const TImageF result = Resize(ramp, out, 3, scale, 0.5, filter);
      const double margin = (3.0 / std::min(scale, 1.0) + 1.0) * scale;
      for (std::int32_t y = 0; y < 3; ++y)
        for (std::int32_t x = 1; x < out; ++x) {
          if (x <= margin || x >= out - 1 - margin) continue;  // the edge is replicated
          EXPECT_GT(result.Row(y)[x], result.Row(y)[x - 1]) << scale << " at " << x;
          EXPECT_NEAR(result.Row(y)[x], 10.0 + 2.0 * x / scale, 0.05) << scale << " at " << x;
        }
    }
}

TEST(Resize, FourChannelsAreResizedAsFourPlanes) {
  TImageF4 colour(11, 7);
  TImageF planes[4];
  std::uint32_t seed = 5;
  for (auto& plane : planes) plane = test::NoiseImage(11, 7, seed++);
  for (std::int32_t y = 0; y < 7; ++y)
    for (std::int32_t x = 0; x < 11; ++x)
      for (int c = 0; c < 4; ++c) colour.Row(y)[4 * x + c] = planes[c].Row(y)[x];
  const TImageF4 result = Resize(colour, 4, 9, 4.0 / 11.0, 9.0 / 7.0, ResizeFilter::kLanczos3);
  for (int c = 0; c < 4; ++c) {
    const TImageF plane = Resize(planes[c], 4, 9, 4.0 / 11.0, 9.0 / 7.0, ResizeFilter::kLanczos3);
    for (std::int32_t y = 0; y < 9; ++y)
      for (std::int32_t x = 0; x < 4; ++x)
        EXPECT_EQ(result.Row(y)[4 * x + c], plane.Row(y)[x]) << c << " at " << x << "," << y;
  }
}

TEST(Resize, TheSameFloatsOnEveryThreadCount) {
  const TImageF source = test::NoiseImage(53, 37, 17);
  for (const ResizeFilter filter : kFilters)
    test::CompareWithReference(
        [&] { return Resize(source, 20, 91, 20.0 / 53.0, 91.0 / 37.0, filter); },
        [](const TImageF& expected, const TImageF& actual, const std::string& name) {
          EXPECT_TRUE(test::SameBits(expected, actual)) << name;
        });
}

TEST(Resize, RefusesEmptySizesAndBadScales) {
  const TImageF source = test::Filled(4, 4, 1.0f);
  EXPECT_THROW(Resize(source, 0, 4, 1.0, 1.0, ResizeFilter::kBox), SettingError);
  EXPECT_THROW(Resize(source, 4, 4, 0.0, 1.0, ResizeFilter::kBox), SettingError);
  EXPECT_THROW(Resize(source, 4, 4, 1.0, NAN, ResizeFilter::kBox), SettingError);
  StopFlag stop{true};
  EXPECT_THROW(Resize(source, 4, 4, 1.0, 1.0, ResizeFilter::kBox, &stop), OperationStopped);
}

}  // namespace
}  // namespace tvq
