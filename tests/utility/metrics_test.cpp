#include "utility/metrics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "common/images.h"
#include "common/kernel_modes.h"
#include "imaging/errors.h"

namespace tvq {
namespace {

using ColourFn = std::function<double(int x, int y, int c)>;  // c: 0 blue, 1 green, 2 red

TImageF4 Colour(int w, int h, const ColourFn& value) {
  TImageF4 image(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 4; ++c) image.Row(y)[4 * x + c] = c == 3 ? 0.0f : float(value(x, y, c));
  return image;
}

// A picture with texture, smooth shading and sharp edges, channels differing.
double Scene(int x, int y, int c) {
  std::uint32_t state = static_cast<std::uint32_t>(x * 7919 + y * 104729 + c * 31);
  return std::fmod(60.0 + 50.0 * std::sin(x / 5.0 + c) * std::cos(y / 7.0) +
                       (((x / 13 + y / 9) % 2) ? 90.0 : 0.0) + test::NoiseValue(state) * 0.1,
                   256.0);
}

// Y of a change of d on every channel: (65.481 + 128.553 + 24.966) / 255 = 219 / 255.
constexpr double kLumaGain = 219.0 / 255.0;
constexpr double kInf = std::numeric_limits<double>::infinity();

double PsnrOfError(double rms) {
  return 10.0 * std::log10(255.0 * 255.0 / (rms * rms));
}

TEST(MetricsTest, IdenticalPicturesAreInfiniteOrPerfect) {
  for (const auto& [w, h] : {std::pair{200, 170}, {40, 12}, {11, 11}}) {
    const TImageF4 a = Colour(w, h, Scene);
    const Metrics m = CompareMetrics(a, a);
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    EXPECT_EQ(m.rgb.mse, 0.0);
    EXPECT_EQ(m.rgb.psnr, kInf);
    EXPECT_EQ(m.y.psnr, kInf);
    EXPECT_DOUBLE_EQ(m.ssim, 1.0);
    if (w >= 161) {
      EXPECT_DOUBLE_EQ(m.msSsim, 1.0);
    } else {
      EXPECT_TRUE(std::isnan(m.msSsim)) << m.msSsim;
    }
    EXPECT_EQ(m.gmsd, 0.0);
    EXPECT_GT(m.edges.bandPixels, 0);
    EXPECT_EQ(m.edges.psnr, kInf);
    EXPECT_EQ(m.edges.overshoot, 0.0);
  }
}

// Closed forms: a flat picture of level v against v + d. Every window has the same mean
// and no variance, so cs = C2 / C2 = 1 and SSIM is the luminance term alone; MS-SSIM is
// that term to the last scale's weight; the gradients agree (both pictures are flat to
// the border; the zero border of GMSD sees v against v + d, hence only GMSD > 0).
TEST(MetricsTest, FlatOffsetsGiveTheClosedForms) {
  const double c1 = (0.01 * 255) * (0.01 * 255);
  for (const auto& [v, d] : {std::pair{100.0, 5.0}, {30.0, -12.0}, {240.0, 0.5}}) {
    const TImageF4 a = Colour(170, 180, [&](int, int, int) { return v; });
    const TImageF4 b = Colour(170, 180, [&](int, int, int) { return v + d; });
    const Metrics m = CompareMetrics(a, b);
    const double ya = 16.0 + kLumaGain * v, yb = 16.0 + kLumaGain * (v + d);
    const double ssim = (2 * ya * yb + c1) / (ya * ya + yb * yb + c1);
    EXPECT_NEAR(m.rgb.psnr, PsnrOfError(d), 1e-9);
    EXPECT_NEAR(m.y.psnr, PsnrOfError(d * kLumaGain), 1e-9);
    EXPECT_NEAR(m.ssim, ssim, 1e-12);
    EXPECT_NEAR(m.msSsim, std::pow(ssim, kMsSsimWeights[4]), 1e-12);
    EXPECT_GT(m.gmsd, 0.0);
    EXPECT_EQ(m.edges.bandPixels, 0);  // no edges
    EXPECT_TRUE(std::isnan(m.edges.psnr));
  }
}

// A shift of a linear ramp by one pixel changes every pixel by the slope: its PSNR is that
// of an error of the slope; noise of deviation s gives about 20 log10(255 / s).
TEST(MetricsTest, ShiftAndNoiseGiveTheirPsnr) {
  const TImageF4 ramp = Colour(64, 48, [](int x, int, int) { return 3.0 * x + 20; });
  const TImageF4 shifted = Colour(64, 48, [](int x, int, int) { return 3.0 * (x + 1) + 20; });
  EXPECT_NEAR(CompareMetrics(ramp, shifted).rgb.psnr, PsnrOfError(3.0), 1e-9);
  EXPECT_NEAR(CompareMetrics(ramp, shifted).y.psnr, PsnrOfError(3.0 * kLumaGain), 1e-9);
  std::uint32_t state = 5;
  const TImageF4 noisy = Colour(256, 256, [&](int x, int, int) {
    // The sum of 12 uniform draws of [0, 1) less 6 has deviation 1.
    double s = -6.0;
    for (int i = 0; i < 12; ++i) s += test::NoiseValue(state) / 255.0;
    return 3.0 * (x % 64) + 20 + 4.0 * s;
  });
  const TImageF4 clean = Colour(256, 256, [](int x, int, int) { return 3.0 * (x % 64) + 20; });
  EXPECT_NEAR(CompareMetrics(clean, noisy).rgb.psnr, PsnrOfError(4.0), 0.05);
}

// A vertical step 50 | 200 between columns 19 and 20: edge pixels are columns 19 and 20
// (Sobel / 8 = 75), the band columns 13..17 and 22..26. Errors inside the band count,
// those 1 or 10 pixels from the edge do not.
TEST(MetricsTest, EdgeBandOfAStep) {
  auto step = [](int x) { return x < 20 ? 50.0 : 200.0; };
  const TImageF4 a = Colour(40, 24, [&](int x, int, int) { return step(x); });
  const TImageF4 b = Colour(40, 24, [&](int x, int, int) {
    const double error = x == 23 ? 10.0 : x == 15 ? -6.0 : (x == 21 || x == 30) ? 40.0 : 0.0;
    return step(x) + error;
  });
  const Metrics m = CompareMetrics(a, b);
  EXPECT_EQ(m.edges.edgePixels, 2 * 24);
  EXPECT_EQ(m.edges.bandPixels, 10 * 24);
  const double k = kLumaGain;
  EXPECT_NEAR(m.edges.mse, (100.0 + 36.0) * k * k / 10.0, 1e-9);
  // Column 23 lies 10 above its 5 x 5 maximum (200), column 15 6 below its minimum (50).
  EXPECT_NEAR(m.edges.overshoot, 16.0 * k / 10.0, 1e-9);
  // A step too low for the threshold has no band.
  const TImageF4 low = Colour(40, 24, [](int x, int, int) { return x < 20 ? 50.0 : 60.0; });
  EXPECT_EQ(CompareMetrics(low, low).edges.bandPixels, 0);
  MetricsOptions wide;
  wide.edges.threshold = 4.0;
  wide.edges.inner = 1;
  wide.edges.outer = 2;
  EXPECT_EQ(CompareMetrics(low, low, wide).edges.bandPixels, 4 * 24);  // columns 17, 18, 21, 22
}

TEST(MetricsTest, ShaveLeavesTheBorderOut) {
  const TImageF4 a = Colour(30, 20, Scene);
  const TImageF4 b = Colour(30, 20, [](int x, int y, int c) {
    return Scene(x, y, c) + ((x < 2 || y < 2 || x >= 28 || y >= 18) ? 100.0 : 1.0);
  });
  MetricsOptions shave;
  shave.shave = 2;
  const Metrics m = CompareMetrics(a, b, shave);
  EXPECT_EQ(m.width, 26);
  EXPECT_EQ(m.height, 16);
  EXPECT_NEAR(m.rgb.psnr, PsnrOfError(1.0), 1e-6);  // + 1 rounded to float
}

TEST(MetricsTest, RefusesWhatCannotBeMeasured) {
  const TImageF4 a = Colour(20, 10, Scene);
  const TImageF4 other = Colour(20, 11, Scene);
  MetricsOptions all;
  all.shave = 5;
  MetricsOptions band;
  band.edges.inner = 7;
  for (const auto& call : std::vector<std::function<void()>>{
           [&] { CompareMetrics(a, other); }, [&] { CompareMetrics(a, a, all); },
           [&] { CompareMetrics(a, a, band); }, [&] { DifferenceMap(Luma(a), Luma(a), 0.0); }})
    EXPECT_NE(test::MessageOf<SettingError>(call), "");
}

// The colour map's ends and middle lie near the published viridis table.
TEST(MetricsTest, DifferenceMapIsViridisOfTheScaledDifference) {
  const double table[3][4] = {{0.0, 0.267004, 0.004874, 0.329415},
                              {0.5, 0.127568, 0.566949, 0.550556},
                              {1.0, 0.993248, 0.906157, 0.143936}};
  for (const auto& row : table) {
    double rgb[3];
    Viridis(row[0], rgb);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(rgb[c], row[1 + c], 0.015) << row[0];
  }
  const TImageF4 a = Colour(3, 1, [](int, int, int) { return 100.0; });
  const TImageF4 b = Colour(3, 1, [](int x, int, int) { return 100.0 + 16.0 * x / kLumaGain; });
  const TImageF4 map = DifferenceMap(Luma(a), Luma(b), 32.0);
  for (int x = 0; x < 3; ++x) {
    double rgb[3];
    Viridis(std::min(1.0, x / 2.0), rgb);
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(map.Row(0)[4 * x + 2 - c], std::round(255 * rgb[c]), 1e-3) << x;
  }
}

bool SameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The fast kernels against the plain loops, bit for bit, on odd sizes, 1 x 1 and sizes
// of several SSIM bands.
TEST(MetricsTest, FastKernelsMatchTheReferenceBitForBit) {
  for (const auto& [w, h] : {std::pair{1, 1}, {13, 11}, {171, 163}, {90, 150}}) {
    const TImageF4 a = Colour(w, h, Scene);
    const TImageF4 b = Colour(w, h, [](int x, int y, int c) {
      return Scene(x, y, c) * 0.9 + 5.0 * std::sin(x * y * 0.1) + 12;
    });
    Metrics reference;
    {
      test::ScopedKernels plain({true, 1, true});
      reference = CompareMetrics(a, b);
    }
    for (const test::KernelConfig& config : test::FastConfigs()) {
      test::ScopedKernels fast(config);
      const Metrics m = CompareMetrics(a, b);
      SCOPED_TRACE(config.Name() + ", " + std::to_string(w) + "x" + std::to_string(h));
      for (const auto& [x, y] : {std::pair{m.rgb.mse, reference.rgb.mse},
                                 {m.y.mse, reference.y.mse},
                                 {m.ssim, reference.ssim},
                                 {m.msSsim, reference.msSsim},
                                 {m.gmsd, reference.gmsd},
                                 {m.edges.mse, reference.edges.mse},
                                 {m.edges.overshoot, reference.edges.overshoot}})
        EXPECT_TRUE(SameBits(x, y)) << x << " against " << y;
      EXPECT_EQ(m.edges.bandPixels, reference.edges.bandPixels);
    }
  }
}

}  // namespace
}  // namespace tvq
