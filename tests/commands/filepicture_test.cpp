#include "commands/filepicture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/images.h"
#include "common/pictures.h"
#include "deringing/deringcommand.h"
#include "imaging/progress.h"
#include "interpolation/gradient.h"
#include "superres/resample.h"
#include "utility/utility.h"

namespace tvq {
namespace {

using Bytes = std::vector<std::uint8_t>;

using test::CodeOf;
using test::MakePicture;

// Bytes drawn from a fixed seed; the same (x, y, c) always gives the same byte.
std::function<float(int, int, int)> RandomBytes(unsigned seed) {
  return [seed](int x, int y, int c) {
    std::minstd_rand r(seed + 977u * static_cast<unsigned>(x) + 131u * static_cast<unsigned>(y) +
                       7u * static_cast<unsigned>(c));
    r.discard(3);
    return static_cast<float>(r() % 256);
  };
}

// Samples of one channel of a picture, row by row.
std::vector<float> Channel(const Picture& p, int c) {
  std::vector<float> out;
  for (std::size_t i = static_cast<std::size_t>(c); i < p.samples.size();
       i += static_cast<std::size_t>(p.channels))
    out.push_back(p.samples[i]);
  return out;
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

ResampleParams FewIterations() {
  ResampleParams p;
  p.iterations = 3;
  return p;
}

// The commands a file picture goes through, with the way alpha travels in each.
struct CommandCase {
  const char* name;
  AlphaTravel travel;
  std::function<TImageF4(const PictureSource&)> run;
};

std::vector<CommandCase> Commands() {
  return {
      {"Resample", AlphaTravel::kEnlarged,
       [](const PictureSource& s) {
         NullProgress progress;
         return Resample(s, FewIterations(), nullptr, nullptr, progress);
       }},
      {"Dering", AlphaTravel::kSameSize,
       [](const PictureSource& s) {
         NullProgress progress;
         return Dering(s, DeringParams{}, nullptr, progress);
       }},
      {"Downsample", AlphaTravel::kFourthChannel,
       [](const PictureSource& s) { return std::move(Downsample(s).halved); }},
  };
}

class FilePictureCommandTest : public testing::TestWithParam<CommandCase> {};

// An RGBA picture whose alpha is 255 everywhere gives exactly the colour of the
// same RGB picture, and alpha 255.
TEST_P(FilePictureCommandTest, OpaqueAlphaGivesTheColourOfNoAlpha) {
  const CommandCase& c = GetParam();
  const CommandInput rgb = PrepareInput(MakePicture(9, 7, 3, 8, RandomBytes(1)));
  const CommandInput rgba = PrepareInput(MakePicture(9, 7, 4, 8, [](int x, int y, int ch) {
    return ch == 3 ? 255.0f : RandomBytes(1)(x, y, ch);
  }));
  EXPECT_FALSE(rgba.alpha.HasImage());
  const Picture plain = ResultPicture(c.run(rgb.Source()), rgb, c.travel);
  const Picture withAlpha = ResultPicture(c.run(rgba.Source()), rgba, c.travel);
  ASSERT_EQ(plain.channels, 3);
  ASSERT_EQ(withAlpha.channels, 4);
  for (int ch = 0; ch < 3; ++ch)
    EXPECT_TRUE(SameBits(Channel(plain, ch), Channel(withAlpha, ch))) << "channel " << ch;
  const std::vector<float> alpha = Channel(withAlpha, 3);
  EXPECT_TRUE(std::all_of(alpha.begin(), alpha.end(), [](float a) { return a == 255.0f; }));
}

// Alpha below 255 reaches the result by the command's travel: as read for same-size
// commands, enlarged for enlargers, the carried fourth channel for Downsampling.
TEST_P(FilePictureCommandTest, AlphaTravelsWithTheResult) {
  const CommandCase& c = GetParam();
  const CommandInput input = PrepareInput(MakePicture(10, 8, 4, 8, RandomBytes(2)));
  ASSERT_TRUE(input.alpha.HasImage());
  const TImageF4 result = c.run(input.Source());
  const Picture out = ResultPicture(result, input, c.travel);
  ASSERT_EQ(out.channels, 4);
  std::vector<float> expected;
  if (c.travel == AlphaTravel::kSameSize) {
    expected = Channel(MakePicture(10, 8, 4, 8, RandomBytes(2)), 3);
  } else {
    const TImageF enlarged =
        c.travel == AlphaTravel::kEnlarged ? EnlargeAlpha(input.alpha) : TImageF();
    for (int y = 0; y < result.Height(); ++y)
      for (int x = 0; x < result.Width(); ++x)
        expected.push_back(c.travel == AlphaTravel::kEnlarged
                               ? enlarged.Row(y)[x]
                               : std::clamp(result.Row(y)[4 * x + 3], 0.0f, 255.0f));
  }
  EXPECT_TRUE(SameBits(Channel(out, 3), expected));
}

INSTANTIATE_TEST_SUITE_P(Commands, FilePictureCommandTest, testing::ValuesIn(Commands()),
                         [](const testing::TestParamInfo<CommandCase>& info) {
                           return std::string(info.param.name);
                         });

// A red disc with an anti-aliased edge on a transparent background whose hidden
// colour is black or green.
Picture RedDisc(std::int32_t channels, float hiddenGreen) {
  constexpr int kSide = 24;
  constexpr float kCentre = 0.5f * (kSide - 1);
  constexpr float kRadius = 0.3f * kSide;
  return MakePicture(kSide, kSide, channels, 8, [=](int x, int y, int c) {
    const float d = std::hypot(static_cast<float>(x) - kCentre, static_cast<float>(y) - kCentre);
    const float alpha = std::round(std::clamp((kRadius - d + 0.5f) * 255.0f, 0.0f, 255.0f));
    const float pixel[4] = {alpha > 0.0f ? 255.0f : 0.0f, alpha > 0.0f ? 0.0f : hiddenGreen, 0.0f,
                            alpha};
    return pixel[c];
  });
}

TImageF4 Enlarged(const CommandInput& input) {
  NullProgress progress;
  return Resample(input.Source(), FewIterations(), nullptr, nullptr, progress);
}

// Enlarged, the disc's visible pixels stay red: the colour hidden under alpha 0 never
// reaches them. Enlarging the colour as stored (red inside, the hidden colour outside)
// instead gives a dark or green rim that fails the same bounds. The bounds leave room
// for the enlarger's own overshoot beside a one-pixel edge.
TEST(FilePictureAlphaTest, EnlargedDiscGetsNoDarkRim) {
  const CommandInput disc = PrepareInput(RedDisc(4, 0.0f));
  const Picture out = ResultPicture(Enlarged(disc), disc, AlphaTravel::kEnlarged);
  const CommandInput greenDisc = PrepareInput(RedDisc(4, 255.0f));
  EXPECT_TRUE(SameBits(
      out.samples, ResultPicture(Enlarged(greenDisc), greenDisc, AlphaTravel::kEnlarged).samples));

  const TImageF4 black = Enlarged(PrepareInput(RedDisc(3, 0.0f)));
  const TImageF4 green = Enlarged(PrepareInput(RedDisc(3, 255.0f)));
  float minRed = 255.0f, maxOther = 0.0f, minBlackRed = 255.0f, maxGreen = 0.0f;
  int rim = 0;
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) {
      const float* px = &out.samples[4 * (static_cast<std::size_t>(y) * out.width + x)];
      if (px[3] < 64.0f) continue;
      rim += px[3] < 192.0f;
      minRed = std::min(minRed, px[0]);
      maxOther = std::max({maxOther, std::abs(px[1]), std::abs(px[2])});
      minBlackRed = std::min(minBlackRed, black.Row(y)[4 * x + 2]);
      maxGreen = std::max(maxGreen, green.Row(y)[4 * x + 1]);
    }
  EXPECT_GT(rim, 50);
  EXPECT_GT(minRed, 160.0f);
  EXPECT_LT(maxOther, 60.0f);
  EXPECT_LT(minBlackRed, 160.0f);
  EXPECT_GT(maxGreen, 60.0f);
}

// PrepareInput followed by ResultPicture of the unchanged colour gives the picture
// back: same channels and depth, opaque samples bit for bit, premultiplied ones within
// rounding, colour 0 where alpha is 0.
TEST(FilePictureRoundTripTest, UnchangedColourGivesThePictureBack) {
  for (int channels = 1; channels <= 4; ++channels)
    for (int bits : {8, 16}) {
      SCOPED_TRACE(std::to_string(channels) + " channels, " + std::to_string(bits) + " bits");
      const bool hasAlpha = channels % 2 == 0;
      const auto value = [&](int x, int y, int c) {
        const float v = RandomBytes(3)(x, y, c);
        if (hasAlpha && c == channels - 1)  // column 0 opaque (RGBA), column 1 clear
          return x == 1 ? 0.0f : x == 0 && channels == 4 ? 255.0f : std::min(v, 250.0f);
        return bits == 16 ? v + 0.25f : v;  // values between bytes
      };
      const Picture in = MakePicture(5, 4, channels, bits, value);
      const CommandInput input = PrepareInput(MakePicture(5, 4, channels, bits, value));
      EXPECT_TRUE(input.file.samples.empty());
      const Picture out = ResultPicture(input.colour, input, AlphaTravel::kSameSize);
      ASSERT_EQ(out.channels, channels);
      EXPECT_EQ(out.bitsPerChannel, bits);
      ASSERT_EQ(out.samples.size(), in.samples.size());
      std::size_t bad = 0;  // mismatches; the first one is reported
      for (std::size_t i = 0; i < in.samples.size(); ++i) {
        const float alpha = hasAlpha ? in.samples[i - i % channels + channels - 1] : 255.0f;
        const bool ok = alpha == 255.0f ? out.samples[i] == in.samples[i]
                        : alpha == 0.0f ? out.samples[i] == 0.0f
                                        : std::abs(out.samples[i] - in.samples[i]) <= 1e-3f;
        if (!ok && bad++ == 0)
          ADD_FAILURE() << "sample " << i << ": " << out.samples[i] << " for " << in.samples[i]
                        << " at alpha " << alpha;
      }
      EXPECT_EQ(bad, 0u);
    }
}

// A grey picture stays grey through a command whose channels stay equal, and a grey
// plane result is grey with the input's alpha.
TEST(FilePictureRoundTripTest, GreyResults) {
  const CommandInput grey = PrepareInput(MakePicture(6, 5, 1, 16, RandomBytes(4)));
  EXPECT_EQ(ResultPicture(grey.colour, grey, AlphaTravel::kSameSize).channels, 1);
  NullProgress progress;
  EXPECT_EQ(ResultPicture(Dering(grey.Source(), DeringParams{}, nullptr, progress), grey,
                          AlphaTravel::kSameSize)
                .channels,
            1);
  TImageF4 tinted = grey.colour.Clone();
  tinted.Row(2)[4 * 3 + 1] += 1.0f;
  EXPECT_EQ(ResultPicture(tinted, grey, AlphaTravel::kSameSize).channels, 3);
  const CommandInput rgba = PrepareInput(MakePicture(6, 5, 4, 8, RandomBytes(5)));
  const Picture plane = ResultPicture(Greyscale(rgba.Source()), rgba, AlphaTravel::kSameSize);
  EXPECT_EQ(plane.channels, 2);
  EXPECT_EQ(plane.bitsPerChannel, 8);
  EXPECT_TRUE(SameBits(Channel(plane, 1), Channel(MakePicture(6, 5, 4, 8, RandomBytes(5)), 3)));
}

TEST(FilePictureRoundTripTest, AlphaOfAnotherSizeIsRefused) {
  const CommandInput input = PrepareInput(MakePicture(6, 5, 2, 8, RandomBytes(6)));
  ASSERT_TRUE(input.alpha.HasImage());
  for (AlphaTravel travel : {AlphaTravel::kSameSize, AlphaTravel::kEnlarged}) {
    EXPECT_EQ(CodeOf([&] { ResultPicture(TImageF4(7, 5), input, travel); }), ecBadSize);
  }
}

// The message of a call that throws std::runtime_error; empty when it does not throw.
constexpr auto Refusal = &test::MessageOf<std::runtime_error>;

// NaN, infinity or a runaway value in a colour channel or a grey plane is refused, with
// the caller's remedy when it names one; the fourth channel does not count, values up
// to the runaway limit pass. ResultPicture refuses only values that are not finite, and
// blames the input when it holds them.
TEST(FilePictureFiniteTest, DivergedResultsAreRefused) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::string notFinite = "the result is not finite (it holds NaN or infinity)";
  struct Case {
    int channel;
    float value;
    std::string diverged;  // what the solver check says after "the solver diverged (its result "
  };
  const Case cases[] = {{0, nan, "is not finite)"},
                        {1, inf, "is not finite)"},
                        {2, -inf, "is not finite)"},
                        {3, nan, ""},
                        {2, -kRunawayLimit, ""},
                        {1, 2.5e6f, "runs away to 2.5e+06)"},
                        {2, -3e38f, "runs away to -3e+38)"}};
  const CommandInput input = PrepareInput(MakePicture(3, 2, 3, 8, RandomBytes(7)));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.channel) + ": " + std::to_string(c.value));
    TImageF4 colour = input.colour.Clone();
    colour.Row(1)[4 * 2 + c.channel] = c.value;
    TImageF grey(3, 2);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) grey.Row(y)[x] = y == 1 && x == 2 ? c.value : 1.0f;
    const std::string diverged = "the solver diverged (its result " + c.diverged;
    const bool refused = !c.diverged.empty();
    EXPECT_EQ(Refusal([&] { CheckSolverResult(colour, "lower --step"); }),
              refused ? diverged + "; lower --step" : "");
    if (c.channel != 3) {
      EXPECT_EQ(Refusal([&] { CheckSolverResult(grey); }), refused ? diverged : "");
    }
    EXPECT_EQ(Refusal([&] { ResultPicture(colour, input, AlphaTravel::kSameSize); }),
              std::isfinite(c.value) || c.channel == 3 ? "" : notFinite);
  }
  Picture broken = MakePicture(3, 2, 3, 32, RandomBytes(8));
  broken.samples[4] = inf;
  const CommandInput brokenInput = PrepareInput(std::move(broken));
  EXPECT_EQ(
      Refusal([&] { ResultPicture(brokenInput.colour, brokenInput, AlphaTravel::kSameSize); }),
      "the picture holds values that are not finite (NaN or infinity)");
}

// A hard alpha edge overshoots in the enlarger; the enlarged alpha is clamped.
TEST(FilePictureAlphaTest, EnlargedAlphaIsClamped) {
  TImageF alpha(8, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) alpha.Row(y)[x] = x < 4 ? 0.0f : 255.0f;
  TImageF raw(16, 12);
  GradientUpscale(alpha, raw, 2);
  const TImageF enlarged = EnlargeAlpha(alpha);
  bool overshoots = false;
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 16; ++x) {
      const float r = raw.Row(y)[x];
      overshoots = overshoots || r < 0.0f || r > 255.0f;
      EXPECT_EQ(enlarged.Row(y)[x], std::clamp(r, 0.0f, 255.0f));
    }
  EXPECT_TRUE(overshoots);
  // A plane one pixel wide repeats its samples.
  TImageF thin(1, 3);
  for (int y = 0; y < 3; ++y) thin.Row(y)[0] = 150.0f * static_cast<float>(y);
  const TImageF thinEnlarged = EnlargeAlpha(thin);
  ASSERT_EQ(thinEnlarged.Width(), 2);
  ASSERT_EQ(thinEnlarged.Height(), 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 2; ++x)
      EXPECT_EQ(thinEnlarged.Row(y)[x], std::min(150.0f * static_cast<float>(y / 2), 255.0f));
}

// Low-depth bitmaps become 32 bits with the palette or bit fields applied.
struct LowDepthCase {
  const char* name;
  std::int32_t bits;
  std::vector<std::uint32_t> palette;
  std::array<std::uint32_t, 4> masks;
  Bytes row;                            // the one row of a 3-pixel-wide picture
  std::vector<std::uint32_t> expected;  // blue lowest, fourth byte 0
};

std::vector<LowDepthCase> LowDepthCases() {
  // The byte above red in a palette entry is not part of the colour.
  const std::vector<std::uint32_t> palette = {0xAB102030, 0x405060, 0x708090};
  return {
      {"OneBit", 1, {0x0000FF, 0xFFFFFF}, {}, {0b10100000}, {0xFFFFFF, 0x0000FF, 0xFFFFFF}},
      {"FourBits", 4, palette, {}, {0x21, 0x70}, {0x708090, 0x405060, 0}},
      {"EightBits", 8, palette, {}, {1, 0, 200}, {0x405060, 0x102030, 0}},
      {"EightBitsWithoutPalette", 8, {}, {}, {1, 0, 2}, {0, 0, 0}},
      // 5-5-5 when the masks are zero: red max; green 16 of 31; blue 1 of 31.
      {"SixteenBitsPlain",
       16,
       {},
       {},
       {0x00, 0x7C, 0x00, 0x02, 0x01, 0x00},
       {0xFF0000, 0x008400, 0x000008}},
      // 5-6-5: green 32 of 63 rounds to 130.
      {"SixteenBitsMasks",
       16,
       {},
       {0xF800, 0x07E0, 0x001F, 0},
       {0x00, 0xF8, 0x00, 0x04, 0xFF, 0xFF},
       {0xFF0000, 0x008200, 0xFFFFFF}},
  };
}

class ProcessableBitmapTest : public testing::TestWithParam<LowDepthCase> {};

TEST_P(ProcessableBitmapTest, ConvertsToThirtyTwoBits) {
  const LowDepthCase& c = GetParam();
  Bitmap bitmap(3, 1, c.bits);
  bitmap.Palette() = c.palette;
  bitmap.Masks() = c.masks;
  std::copy(c.row.begin(), c.row.end(), bitmap.ScanLine(0));
  const Bitmap converted = ProcessableBitmap(bitmap);
  ASSERT_EQ(converted.BitsPerPixel(), 32);
  for (int x = 0; x < 3; ++x) {
    const std::uint8_t* px = converted.ScanLine(0) + 4 * x;
    const std::uint32_t packed = px[0] | (px[1] << 8) | (static_cast<std::uint32_t>(px[2]) << 16) |
                                 (static_cast<std::uint32_t>(px[3]) << 24);
    EXPECT_EQ(packed, c.expected[x]) << "pixel " << x;
  }
  // A BMP file's picture is read through the converted bitmap.
  Picture picture;
  picture.format = PictureFormat::kBmp;
  picture.width = 3;
  picture.height = 1;
  picture.channels = 3;
  picture.bitmap = bitmap;
  const CommandInput input = PrepareInput(std::move(picture));
  EXPECT_TRUE(input.FromBitmap());
  EXPECT_EQ(input.bitmap, converted);
  EXPECT_EQ(input.Source().AsBitmap(), &input.bitmap);
}

INSTANTIATE_TEST_SUITE_P(Depths, ProcessableBitmapTest, testing::ValuesIn(LowDepthCases()),
                         [](const testing::TestParamInfo<LowDepthCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(ProcessableBitmapTest, DeepBitmapsStayAsTheyAre) {
  for (int bits : {24, 32}) {
    Bitmap bitmap(3, 2, bits);
    for (std::size_t i = 0; i < bitmap.RowBytes(); ++i)
      bitmap.ScanLine(1)[i] = static_cast<std::uint8_t>(i + 1);
    EXPECT_EQ(ProcessableBitmap(bitmap), bitmap);
  }
}

}  // namespace
}  // namespace tvq
