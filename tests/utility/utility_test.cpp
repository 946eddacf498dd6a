#include "utility/utility.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

#include "common/images.h"
#include "common/kernel_modes.h"
#include "common/pictures.h"
#include "filters/gauss.h"
#include "imaging/io/bmp.h"

namespace tvq {
namespace {

// A picture of the given depth with pseudo-random colours.
Bitmap RandomPicture(int w, int h, int bits, unsigned seed) {
  Bitmap bmp(w, h, bits);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int i = 0; i < w * bits / 8; ++i) bmp.ScanLine(y)[i] = static_cast<std::uint8_t>(rng());
  return bmp;
}

using test::Filled;

TEST(DownsampleTest, KeepsEvenPixelsOfTheSmoothedPicture) {
  for (int bits : {24, 32}) {
    const Bitmap picture = RandomPicture(7, 5, bits, 11);
    const DownsampleResult result = Downsample(picture);
    ASSERT_EQ(result.halved.Width(), 3);
    ASSERT_EQ(result.halved.Height(), 2);
    ASSERT_EQ(result.reference.Width(), 7);
    ASSERT_EQ(result.reference.Height(), 5);

    const TImageF grey = Greyscale(picture);
    for (int y = 0; y < 5; ++y) EXPECT_EQ(std::memcmp(grey.Row(y), result.reference.Row(y), 28), 0);
    TImageF4 colour, smoothed(7, 5);
    ImageFromBitmap(picture, ifF4, colour);
    GaussSmooth(colour, smoothed, 1.0f, 4);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x)
        EXPECT_EQ(std::memcmp(result.halved.Pixel(x, y), smoothed.Pixel(2 * x, 2 * y), 16), 0);
  }
}

TEST(DownsampleTest, UniformPictureKeepsItsColour) {
  const DownsampleResult result = Downsample(test::SolidPicture(10, 9, 24, 37, 128, 251));
  Bitmap out;
  ImageToBitmap(result.halved, out);
  ASSERT_EQ(out.Width(), 5);
  ASSERT_EQ(out.Height(), 4);
  EXPECT_EQ(out.BitsPerPixel(), 32);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) {
      const std::uint8_t* p = out.ScanLine(y) + 4 * x;
      EXPECT_EQ(p[0], 37);
      EXPECT_EQ(p[1], 128);
      EXPECT_EQ(p[2], 251);
    }
}

TEST(DownsampleTest, RefusesEightBitPictures) {
  EXPECT_EQ(test::CodeOf([] { Downsample(Bitmap(4, 4, 8)); }), ecFormatMismatch);
}

TEST(DownsampleTest, RefusesPicturesThatWouldLoseEveryPixel) {
  for (const auto& [w, h] : {std::pair{1, 6}, std::pair{6, 1}, std::pair{1, 1}}) {
    try {
      Downsample(Bitmap(w, h, 24));
      ADD_FAILURE() << w << "x" << h;
    } catch (const EZorException& e) {
      EXPECT_EQ(e.Code, ecBadSize);
      EXPECT_NE(std::string(e.what()).find("too small to halve"), std::string::npos);
    }
  }
  EXPECT_EQ(Downsample(Bitmap(2, 3, 24)).halved.Width(), 1);
}

// The half-size test pictures were made by Downsampling; reproduce every one exactly.
TEST(DownsampleTest, ReproducesTheLowResolutionTestPictures) {
  const std::filesystem::path folder =
      std::filesystem::path(TVQ_TEST_DATA) / ".." / ".." / ".." / "shared" / "data" / "images";
  if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << folder << " is absent";
  int compared = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".bmp" || name.ends_with("_lr.bmp")) continue;
    const auto low = entry.path().parent_path() / (entry.path().stem().string() + "_lr.bmp");
    if (!std::filesystem::exists(low)) continue;
    Bitmap result;
    ImageToBitmap(Downsample(ReadBmp(entry.path().string())).halved, result);
    const Bitmap expected = ReadBmp(low.string());
    ASSERT_EQ(result.Width(), expected.Width()) << name;
    ASSERT_EQ(result.Height(), expected.Height()) << name;
    ASSERT_EQ(expected.BitsPerPixel(), 24) << name;
    int differing = 0;
    for (int y = 0; y < result.Height(); ++y)
      for (int x = 0; x < result.Width(); ++x)
        for (int k = 0; k < 3; ++k)
          differing += result.ScanLine(y)[4 * x + k] != expected.ScanLine(y)[3 * x + k];
    EXPECT_EQ(differing, 0) << name;
    ++compared;
  }
  RecordProperty("compared", compared);
  EXPECT_GT(compared, 0);
}

TEST(NoiseTest, GeneratorSequence) {
  NoiseGenerator gen;
  EXPECT_EQ(gen.Uniform(), 1.0 / 4294967296.0);
  EXPECT_EQ(gen.state, 1u);
  EXPECT_EQ(gen.Uniform(), 134775814.0 / 4294967296.0);
  gen.Uniform();
  EXPECT_EQ(gen.state, 3698175007u);

  // Polar method from state 0, first variate only.
  NoiseGenerator normal;
  EXPECT_NEAR(normal.Normal(0.0, 5.0), 1.9921762460720434, 1e-12);
  EXPECT_NEAR(normal.Normal(0.0, 5.0), -5.9873060532744615, 1e-12);
  EXPECT_NEAR(normal.Normal(10.0, 5.0), 10.0 - 2.4306193513670875, 1e-12);
  EXPECT_EQ(normal.state, 694906232u);
}

TEST(NoiseTest, TurnsColourGreyDeterministically) {
  const Bitmap picture = RandomPicture(5, 4, 24, 5);
  NoiseGenerator gen;
  const TImageF noisy = AddGaussianNoise(picture, gen);
  const TImageF grey = Greyscale(picture);
  // Samples are added column by column (x outer, y inner).
  NoiseGenerator replay;
  for (int x = 0; x < 5; ++x)
    for (int y = 0; y < 4; ++y)
      EXPECT_EQ(*noisy.Pixel(x, y), static_cast<float>(static_cast<double>(*grey.Pixel(x, y)) +
                                                       replay.Normal(0.0, 5.0)));
  EXPECT_EQ(gen.state, replay.state);

  Bitmap shown;
  ImageToBitmap(noisy, shown);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) {
      const std::uint8_t* p = shown.ScanLine(y) + 4 * x;
      EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]);
    }

  // A fresh generator repeats the noise; the used one continues its sequence.
  NoiseGenerator again;
  const TImageF repeat = AddGaussianNoise(picture, again);
  const TImageF next = AddGaussianNoise(picture, gen);
  int same = 0;
  for (int y = 0; y < 4; ++y) {
    EXPECT_EQ(std::memcmp(repeat.Row(y), noisy.Row(y), 20), 0);
    for (int x = 0; x < 5; ++x) same += *next.Pixel(x, y) == *noisy.Pixel(x, y);
  }
  EXPECT_LT(same, 20);
}

struct PsnrCase {
  float difference;
  double mse;
  double psnr;
};

class PsnrTest : public ::testing::TestWithParam<PsnrCase> {};

TEST_P(PsnrTest, UniformDifference) {
  const PsnrCase c = GetParam();
  const TImageF a = Filled(10, 7, 100.0f);
  const TImageF b = Filled(10, 7, 100.0f + c.difference);
  const PsnrResult r = ComparePsnr(a, b);
  EXPECT_DOUBLE_EQ(r.mse, c.mse);
  if (std::isinf(c.psnr)) {
    EXPECT_TRUE(std::isinf(r.psnr) && r.psnr > 0);
  } else {
    EXPECT_NEAR(r.psnr, c.psnr, 5e-5);
  }
}

INSTANTIATE_TEST_SUITE_P(Differences, PsnrTest,
                         ::testing::Values(PsnrCase{1.0f, 1.0, 48.1308},
                                           PsnrCase{-5.0f, 25.0, 34.1514},
                                           PsnrCase{0.0f, 0.0, INFINITY}));

TEST(PsnrMisuseTest, SizesMustMatchAndHoldPixels) {
  EXPECT_THROW(ComparePsnr(Filled(10, 10, 1), Filled(10, 11, 1)), std::invalid_argument);
  EXPECT_THROW(ComparePsnr(TImageF(), TImageF()), std::invalid_argument);
  EXPECT_THROW(ComparePsnr(TImageF(0, 3), TImageF(0, 3)), std::invalid_argument);
}

TEST(RmseTest, DistanceFromTheReference) {
  const Bitmap before = test::SolidPicture(6, 4, 24, 50, 50, 50);
  const DownsampleResult down = Downsample(before);
  EXPECT_EQ(RmseToReference(nullptr, before), 0.0);
  EXPECT_EQ(RmseToReference(&down.reference, before), 0.0);
  EXPECT_EQ(RmseToReference(&down.reference, test::SolidPicture(6, 5, 24, 52, 52, 52)), 0.0);
  EXPECT_NEAR(RmseToReference(&down.reference, test::SolidPicture(6, 4, 24, 52, 52, 52)), 2.0,
              1e-5);
  const TImageF empty;
  EXPECT_EQ(RmseToReference(&empty, before), 0.0);
}

// Sizes for the comparisons of the utility commands: the common ones, and pictures of
// several bands of columns and several chunks of generator attempts.
std::vector<std::pair<int, int>> UtilitySizes() {
  auto sizes = test::ComparisonSizes();
  sizes.insert(sizes.end(), {{600, 501}, {5, 60000}});
  return sizes;
}

// A picture whose bytes are random, or (ties) one of four levels.
Bitmap PictureWithTies(int w, int h, int bits, bool ties) {
  Bitmap bmp = RandomPicture(w, h, bits, static_cast<unsigned>(w * 17 + h));
  if (ties)
    for (int y = 0; y < h; ++y)
      for (std::size_t i = 0; i < bmp.RowBytes(); ++i) bmp.ScanLine(y)[i] &= 0xC0;
  return bmp;
}

TEST(UtilityCompareTest, CommandsEqualTheReference) {
  for (auto [w, h] : UtilitySizes())
    for (bool ties : {false, true})
      for (int bits : {24, 32}) {
        const Bitmap picture = PictureWithTies(w, h, bits, ties);
        const std::string what = std::to_string(w) + "x" + std::to_string(h) + ", " +
                                 std::to_string(bits) + " bits" + (ties ? ", ties" : "");
        auto same = [&](const char* command) {
          return [&, command](const auto& expected, const auto& actual, const std::string& name) {
            EXPECT_TRUE(expected == actual) << command << ", " << name << ", " << what;
          };
        };
        // Plane bits and the generator state after two pictures of noise.
        auto planeBits = [](const TImageF& plane) {
          std::vector<float> values;
          for (int y = 0; y < plane.Height(); ++y)
            values.insert(values.end(), plane.Row(y), plane.Row(y) + plane.Width());
          std::vector<std::uint32_t> bits(values.size());
          std::memcpy(bits.data(), values.data(), 4 * values.size());
          return bits;
        };
        test::CompareWithReference(
            [&] {
              NoiseGenerator generator{};
              generator.state = 12345u;
              auto first = planeBits(AddGaussianNoise(picture, generator));
              const auto second = planeBits(AddGaussianNoise(picture, generator));
              first.insert(first.end(), second.begin(), second.end());
              first.push_back(generator.state);
              return first;
            },
            same("noise"));
        test::CompareWithReference([&] { return planeBits(Greyscale(picture)); },
                                   same("greyscale"));
        if (w >= 2 && h >= 2 && w * h < 100000)
          test::CompareWithReference(
              [&] {
                const DownsampleResult result = Downsample(picture);
                auto bits = planeBits(result.reference);
                for (int y = 0; y < result.halved.Height(); ++y)
                  for (int x = 0; x < 4 * result.halved.Width(); ++x) {
                    std::uint32_t b;
                    std::memcpy(&b, result.halved.Row(y) + x, 4);
                    bits.push_back(b);
                  }
                return bits;
              },
              same("downsample"));
        if (bits == 24) {
          const TImageF a = test::RandomPlane(w, h, 3, ties);
          std::vector<float> storage;
          const TImageF b = test::BottomUpView(test::RandomPlane(w, h, 4, ties), storage);
          test::CompareWithReference(
              [&] {
                const PsnrResult r = ComparePsnr(a, b);
                return std::vector<double>{r.mse, r.psnr, RmseToReference(&a, picture)};
              },
              same("mse"));
        }
      }
}

}  // namespace
}  // namespace tvq
