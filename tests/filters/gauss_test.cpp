#include "filters/gauss.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>

#include "common/images.h"
#include "common/kernel_modes.h"
#include "filters/filterbase.h"
#include "imaging/imagefmt.h"

namespace tvq {
namespace {

using test::CodeOf;

TEST(GaussSmoothTest, WeightsOfRadiusOne) {
  // A single bright pixel in a row spreads the horizontal kernel; the vertical pass over
  // one row multiplies by the sum of the weights, which is 1 within float rounding.
  TImageF src(5, 1), out(5, 1);
  src.Row(0)[2] = 1.0f;
  GaussSmooth(src, out, 1.0f, 1);
  EXPECT_NEAR(out.Row(0)[1], 0.21194, 5e-6);
  EXPECT_NEAR(out.Row(0)[2], 0.57612, 5e-6);
  EXPECT_NEAR(out.Row(0)[3], 0.21194, 5e-6);
  EXPECT_EQ(out.Row(0)[0], 0.0f);
  EXPECT_EQ(out.Row(0)[1], out.Row(0)[3]);
}

TEST(GaussSmoothTest, KernelIsBuiltInFloatAndAppliedSeparably) {
  // sigma 1, radius 4 as Downsampling uses it: weights exp(-j*j) stored as floats, summed
  // in float, divided in float; rows first, then columns.
  float g[9];
  float s = 0.0f;
  for (int j = -4; j <= 4; ++j) s += g[j + 4] = static_cast<float>(std::exp(-double(j * j)));
  for (float& v : g) v /= s;
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> value(0.0f, 255.0f);
  TImageF4 src(11, 6), viaPasses(11, 6), tmp(11, 6), out(11, 6);
  for (int y = 0; y < 6; ++y)
    for (int i = 0; i < 44; ++i) src.Row(y)[i] = value(rng);
  {
    test::ScopedKernels reference({true, 1, true});
    HorizontalPass(src, tmp, g, 9, 4);
    VerticalPass(tmp, viaPasses, g, 9, 4);
  }
  GaussSmooth(src, out, 1.0f, 4);
  for (int y = 0; y < 6; ++y) EXPECT_EQ(std::memcmp(out.Row(y), viaPasses.Row(y), 44 * 4), 0);

  // In place gives the same result.
  GaussSmooth(src, src, 1.0f, 4);
  for (int y = 0; y < 6; ++y) EXPECT_EQ(std::memcmp(src.Row(y), out.Row(y), 44 * 4), 0);
}

TEST(GaussSmoothTest, ConstantStaysConstantAtBorders) {
  TImageF4 src(9, 7), out(9, 7);
  const float c[4] = {17.0f, 200.5f, 0.25f, 99.0f};
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) std::memcpy(src.Pixel(x, y), c, sizeof c);
  GaussSmooth(src, out, 1.0f, 4);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x)
      for (int k = 0; k < 4; ++k) EXPECT_NEAR(out.Pixel(x, y)[k], c[k], c[k] * 1e-6f);
}

TEST(GaussSmoothTest, SigmaZeroCopiesEveryFormat) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
  TImageF f(6, 5), fOut(6, 5);
  TImageF4 f4(6, 5), f4Out(6, 5);
  TImageC4 c4(6, 5), c4Out(6, 5);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 6; ++x) f.Row(y)[x] = value(rng);
    for (int i = 0; i < 24; ++i) f4.Row(y)[i] = value(rng);
    for (int i = 0; i < 24; ++i) c4.Row(y)[i] = static_cast<std::uint8_t>(rng());
  }
  for (int radius : {0, 3, 50}) {
    GaussSmooth(f, fOut, 0.0f, radius);
    GaussSmooth(f4, f4Out, 0.0f, radius);
    GaussSmooth(c4, c4Out, 0.0f, radius);
    for (int y = 0; y < 5; ++y) {
      EXPECT_EQ(std::memcmp(fOut.Row(y), f.Row(y), 6 * 4), 0);
      EXPECT_EQ(std::memcmp(f4Out.Row(y), f4.Row(y), 24 * 4), 0);
      EXPECT_EQ(std::memcmp(c4Out.Row(y), c4.Row(y), 24), 0);
    }
  }
}

TEST(GaussSmoothTest, MismatchedFormatsAndSizes) {
  // ifF4 -> ifF: the temporary is ifF4 and the vertical pass has no ifF4 -> ifF case.
  TImageF4 f4(4, 4);
  f4.Pixel(1, 1)[0] = 100.0f;
  TImageF f(4, 4);
  *f.Pixel(2, 2) = 5.0f;
  EXPECT_NO_THROW(GaussSmooth(f4, f, 1.0f, 2));
  EXPECT_EQ(*f.Pixel(2, 2), 5.0f);
  EXPECT_EQ(*f.Pixel(1, 1), 0.0f);
  TImageF g(4, 5);
  EXPECT_EQ(CodeOf([&] { GaussSmooth(f, g, 1.0f, 2); }), ecBadSize);
  EXPECT_THROW(GaussSmooth(f, f, 1.0f, -1), std::invalid_argument);
}

// value = x (or y when transposed), sigma 1, radius 3.
TImageF Ramp(int w, int h, bool alongY) {
  TImageF img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) *img.Pixel(x, y) = static_cast<float>(alongY ? y : x);
  return img;
}

TEST(GaussDerivTest, RampGivesNegativeConstantInside) {
  const int w = 12, h = 5;
  // -(2 / sigma) * sum j^2 g[j] with the normalised weights.
  double num = 0, den = 0;
  for (int j = -3; j <= 3; ++j) {
    num += j * j * std::exp(-double(j * j));
    den += std::exp(-double(j * j));
  }
  const double expected = -2.0 * num / den;

  TImageF ramp = Ramp(w, h, false), dx(w, h), dy(w, h);
  GaussDerivX(ramp, dx, 1.0f, 3);
  GaussDerivY(ramp, dy, 1.0f, 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 3; x < w - 3; ++x) EXPECT_NEAR(*dx.Pixel(x, y), expected, 1e-4) << x;
    for (int x : {0, 1, 2, w - 3, w - 2, w - 1}) {
      EXPECT_LT(*dx.Pixel(x, y), 0.0f);
      EXPECT_LT(std::fabs(*dx.Pixel(x, y)), std::fabs(expected) - 1e-4) << x;
    }
    // Zero up to the rounding of the float sums.
    for (int x = 0; x < w; ++x) EXPECT_NEAR(*dy.Pixel(x, y), 0.0f, 1e-6);
  }

  // The same ramp along y through GaussDerivY.
  TImageF rampY = Ramp(h, w, true), dyY(h, w), dxY(h, w);
  GaussDerivY(rampY, dyY, 1.0f, 3);
  GaussDerivX(rampY, dxY, 1.0f, 3);
  for (int y = 3; y < w - 3; ++y)
    for (int x = 0; x < h; ++x) {
      EXPECT_NEAR(*dyY.Pixel(x, y), expected, 1e-4);
      EXPECT_NEAR(*dxY.Pixel(x, y), 0.0f, 1e-6);
    }
}

TEST(GaussDerivTest, RejectsBadArguments) {
  TImageF a(5, 5), b(5, 5), c(5, 6);
  *b.Pixel(2, 2) = 9.0f;
  for (auto deriv : {&GaussDerivX, &GaussDerivY}) {
    EXPECT_EQ(CodeOf([&] { deriv(a, c, 1.0f, 3); }), ecBadSize);
    EXPECT_THROW(deriv(a, b, 0.0f, 3), std::invalid_argument);
    EXPECT_THROW(deriv(a, b, std::nanf(""), 3), std::invalid_argument);
    EXPECT_THROW(deriv(a, b, 1.0f, -2), std::invalid_argument);
    EXPECT_EQ(*b.Pixel(2, 2), 9.0f);
  }
}

TEST(GaussCompareTest, FastEqualsReference) {
  using Filter = void (*)(const TImageBase&, TImageBase&, float, std::int32_t);
  const std::pair<const char*, Filter> filters[] = {
      {"smooth", &GaussSmooth}, {"derivative x", &GaussDerivX}, {"derivative y", &GaussDerivY}};
  for (auto [w, h] : test::ComparisonSizes())
    for (bool ties : {false, true}) {
      std::vector<float> storage;
      const TImageF plane = test::RandomPlane(w, h, static_cast<std::uint32_t>(w + 7 * h), ties);
      const TImageF view = test::BottomUpView(plane, storage);
      for (auto [name, filter] : filters)
        test::CompareWithReference(
            [&] {
              TImageF out(w, h);
              filter(view, out, 1.5f, 4);
              return out;
            },
            [&](const TImageF& expected, const TImageF& actual, const std::string& config) {
              EXPECT_TRUE(test::SameBits(expected, actual))
                  << name << ", " << config << ", " << w << "x" << h << (ties ? " ties" : "");
            });
    }
}

}  // namespace
}  // namespace tvq
