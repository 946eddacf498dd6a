#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/hostile_files.h"
#include "common/images.h"
#include "common/jpeg_markers.h"
#include "common/metadata_blocks.h"
#include "common/pictures.h"
#include "imaging/io/codecs.h"

namespace tvq::codec {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Smooth ramps (JPEG keeps them well) with a different slope per channel.
Picture Ramps(int width, int height, int channels) {
  return test::MakePicture(width, height, channels, 8, [](int x, int y, int c) {
    return static_cast<float>((x * (3 + c) + y * (5 - c) + 40 * c) % 256);
  });
}

// The colours of Quadrants: red, green / blue, white.
constexpr float kColours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};

// Four flat quadrants of kColours.
Picture Quadrants(int width, int height) {
  return test::MakePicture(width, height, 3, 8, [&](int x, int y, int c) {
    return kColours[(y >= height / 2) * 2 + (x >= width / 2)][c];
  });
}

// Deterministic noise, which makes the file size follow the quality.
Picture Noise(int width, int height) {
  Picture p = Ramps(width, height, 3);
  std::uint32_t state = 7;
  for (float& v : p.samples) {
    state = state * 1664525u + 1013904223u;
    v = static_cast<float>(state >> 24);
  }
  return p;
}

// Where a marker's segment starts (its 0xFF), or 0 when it is missing.
std::size_t FindMarker(const Bytes& file, int marker) {
  for (std::size_t at = 2; at + 4 <= file.size() && file[at] == 0xFF;) {
    if (file[at + 1] == marker) return at;
    at += 2 + (file[at + 2] << 8 | file[at + 3]);
  }
  return 0;
}

// The sampling factors (h << 4 | v) of each component in the frame header.
std::vector<int> SamplingFactors(const Bytes& file) {
  std::size_t sof = FindMarker(file, 0xC0);
  if (sof == 0) sof = FindMarker(file, 0xC2);
  std::vector<int> factors;
  for (int i = 0; sof != 0 && i < file[sof + 9]; ++i) factors.push_back(file[sof + 11 + 3 * i]);
  return factors;
}

float MaxError(const Picture& a, const Picture& b, int channels) {
  float worst = 0;
  for (std::size_t i = 0; i < static_cast<std::size_t>(a.width) * a.height; ++i)
    for (int c = 0; c < channels; ++c)
      worst =
          std::max(worst, std::abs(a.samples[i * a.channels + c] - b.samples[i * b.channels + c]));
  return worst;
}

struct RoundTripCase {
  int width, height, channels;
  int decodedChannels;  // alpha is dropped
};

Picture Decode(const Bytes& file) {
  return DecodeJpeg(file.data(), file.size());
}

class JpegRoundTripTest : public testing::TestWithParam<RoundTripCase> {};

TEST_P(JpegRoundTripTest, QualityHundredStaysClose) {
  const RoundTripCase& t = GetParam();
  const Picture in = Ramps(t.width, t.height, t.channels);
  const Picture out = Decode(EncodeJpeg(in, 100));
  EXPECT_EQ(out.format, PictureFormat::kJpeg);
  ASSERT_EQ(out.width, t.width);
  ASSERT_EQ(out.height, t.height);
  ASSERT_EQ(out.channels, t.decodedChannels);
  EXPECT_EQ(out.bitsPerChannel, 8);
  EXPECT_EQ(out.orientation, 1);
  EXPECT_TRUE(out.icc.empty());
  ASSERT_EQ(out.samples.size(), static_cast<std::size_t>(t.width) * t.height * out.channels);
  EXPECT_LE(MaxError(in, out, out.channels), 3.0f);
}

INSTANTIATE_TEST_SUITE_P(Shapes, JpegRoundTripTest,
                         testing::Values(RoundTripCase{1, 1, 1, 1}, RoundTripCase{17, 5, 1, 1},
                                         RoundTripCase{9, 11, 2, 1}, RoundTripCase{1, 1, 3, 3},
                                         RoundTripCase{33, 7, 3, 3}, RoundTripCase{16, 24, 4, 3}));

TEST(JpegEncodeTest, HigherQualityGivesLargerFiles) {
  const Picture noise = Noise(64, 48);
  std::size_t previous = 0;
  for (int quality : {1, 10, 50, 89, 90, 100}) {
    const std::size_t size = EncodeJpeg(noise, quality).size();
    EXPECT_GT(size, previous) << "quality " << quality;
    previous = size;
  }
}

struct SamplingCase {
  int quality, channels;
  std::vector<int> factors;  // h << 4 | v of each component
};

class JpegSamplingTest : public testing::TestWithParam<SamplingCase> {};

TEST_P(JpegSamplingTest, FullChromaFromNinety) {
  const SamplingCase& t = GetParam();
  EXPECT_EQ(SamplingFactors(EncodeJpeg(Ramps(20, 20, t.channels), t.quality)), t.factors);
}

INSTANTIATE_TEST_SUITE_P(Qualities, JpegSamplingTest,
                         testing::Values(SamplingCase{100, 3, {0x11, 0x11, 0x11}},
                                         SamplingCase{90, 4, {0x11, 0x11, 0x11}},
                                         SamplingCase{89, 3, {0x22, 0x11, 0x11}},
                                         SamplingCase{1, 3, {0x22, 0x11, 0x11}},
                                         SamplingCase{50, 1, {0x11}}));

// Profiles of one byte, exactly one APP2 segment, one byte more, and several segments.
class JpegIccTest : public testing::TestWithParam<std::size_t> {};

TEST_P(JpegIccTest, ProfileRoundTrips) {
  for (int channels : {1, 3}) {
    Picture in = Ramps(8, 8, channels);
    for (std::size_t i = 0; i < GetParam(); ++i)
      in.icc.push_back(static_cast<std::uint8_t>(i * 7 % 251));
    EXPECT_EQ(Decode(EncodeJpeg(in, 80)).icc, in.icc) << channels << " channels";
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, JpegIccTest, testing::Values(1, 65519, 65520, 150000));

// Damaged ICC markers lose the profile, with one warning, and nothing of the picture;
// the header reader says the same.
TEST(JpegDecodeTest, DamagedIccMarkersDropTheProfileOnly) {
  Picture in = Ramps(16, 8, 3);
  in.icc.assign(150000, 7);  // three APP2 markers
  const Bytes file = EncodeJpeg(in, 90);
  const Picture clean = Decode(file);
  ASSERT_EQ(clean.icc.size(), 150000u);
  const std::pair<const char*, std::function<void(int, std::uint8_t&, std::uint8_t&)>> damage[] = {
      {"duplicate", [](int i, std::uint8_t& seq, std::uint8_t&) { seq = i == 2 ? 1 : seq; }},
      {"missing", [](int, std::uint8_t&, std::uint8_t& count) { count = 4; }},
      {"zero count", [](int, std::uint8_t&, std::uint8_t& count) { count = 0; }},
      {"inconsistent count", [](int i, std::uint8_t&, std::uint8_t& count) { count = 3 - i % 2; }},
      {"sequence zero", [](int i, std::uint8_t& seq, std::uint8_t&) { seq = i == 0 ? 0 : seq; }},
  };
  for (const auto& [name, change] : damage) {
    SCOPED_TRACE(name);
    const Bytes damaged = test::WithIccMarkers(file, change);
    const Picture out = Decode(damaged);
    EXPECT_TRUE(out.icc.empty());
    EXPECT_TRUE(out.samples == clean.samples);
    ASSERT_EQ(out.warnings.size(), 1u);
    EXPECT_EQ(out.warnings[0],
              "the ICC profile's APP2 markers are damaged (duplicate, missing or inconsistent "
              "sequence numbers); the profile was dropped");
    EXPECT_EQ(JpegHeader(damaged.data(), damaged.size(), {}).warnings, out.warnings);
  }
  EXPECT_TRUE(clean.warnings.empty());
}

TEST(JpegEncodeTest, RefusesWhatJpegCannotHold) {
  Picture big = Ramps(2, 2, 3);
  big.icc.assign(255 * 65519 + 1, 1);
  EXPECT_THROW(EncodeJpeg(big, 90), FileError);
  Picture wide = Ramps(1, 1, 1);
  wide.width = 65501;
  wide.samples.resize(65501);
  EXPECT_THROW(EncodeJpeg(wide, 90), FileError);
  Picture mismatched = Ramps(3, 3, 3);
  mismatched.samples.pop_back();
  EXPECT_THROW(EncodeJpeg(mismatched, 90), FileError);
}

struct OrientationCase {
  int orientation;
  int topLeft, topRight;  // the stored quadrants (0 top left, 1 top right, 2, 3) seen there
};

class JpegOrientationTest : public testing::TestWithParam<OrientationCase> {};

TEST_P(JpegOrientationTest, ExifOrientationGivesTheUprightPicture) {
  const OrientationCase& t = GetParam();
  const Bytes plain = EncodeJpeg(Quadrants(32, 16), 100);
  const Bytes exif = testblocks::ExifBlock(t.orientation % 2 == 0, 3, 1, t.orientation);
  const Picture out = Decode(jpegtest::WithExif(plain, exif));
  const bool turned = t.orientation >= 5;
  ASSERT_EQ(out.width, turned ? 16 : 32);
  ASSERT_EQ(out.height, turned ? 32 : 16);
  EXPECT_EQ(out.orientation, t.orientation);
  for (const auto& [x, quadrant] :
       {std::pair{out.width / 4, t.topLeft}, std::pair{out.width * 3 / 4, t.topRight}}) {
    const float* pixel = &out.samples[(out.height / 4 * out.width + x) * 3];
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(pixel[c], kColours[quadrant][c], 4) << x;
  }
  Picture expected = Decode(plain);
  ApplyOrientation(expected, t.orientation);
  EXPECT_EQ(out.samples, expected.samples);
}

INSTANTIATE_TEST_SUITE_P(AllEight, JpegOrientationTest,
                         testing::Values(OrientationCase{1, 0, 1}, OrientationCase{2, 1, 0},
                                         OrientationCase{3, 3, 2}, OrientationCase{4, 2, 3},
                                         OrientationCase{5, 0, 2}, OrientationCase{6, 2, 0},
                                         OrientationCase{7, 3, 1}, OrientationCase{8, 1, 3}));

Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}
// Adobe files of 16 x 8 pixels that store inverted CMYK, directly and as YCCK: the
// left half cyan ink, the right half half magenta ink and a quarter black ink.
const Bytes kAdobeCmyk = FromHex(
    "ffd8ffee000e41646f626500640000000000ffdb004300010101010101010101010101010101010101010101"
    "01010101010101010101010101010101010101010101010101010101010101010101010101010101010101ff"
    "c000140800080010044311004d11005911004b1100ffc4001600010101000000000000000000000000000a0b"
    "00ffc40014100100000000000000000000000000000000ffda000e0443004d0059004b00003f009ff9fc1fc1"
    "fc2ff09ffb0ffbffd9");
const Bytes kAdobeYcck = FromHex(
    "ffd8ffee000e41646f626500640000000002ffdb004300010101010101010101010101010101010101010101"
    "01010101010101010101010101010101010101010101010101010101010101010101010101010101010101ff"
    "c00014080008001004011100021100031100041100ffc4001600010101000000000000000000000000000a04"
    "09ffc40014100100000000000000000000000000000000ffc400170100030100000000000000000000000000"
    "04090a0bffc40014110100000000000000000000000000000000ffda000e040100021103110400003f00c5f2"
    "a75fc1fc2710c95c7fdfffd9");

TEST(JpegDecodeTest, InkFilesBecomeRgb) {
  for (const Bytes* file : {&kAdobeCmyk, &kAdobeYcck}) {
    const Picture out = Decode(*file);
    ASSERT_EQ(out.channels, 3);
    ASSERT_EQ(out.width, 16);
    ASSERT_EQ(out.height, 8);
    const float expected[2][3] = {{0, 255, 255}, {191, 95, 191}};
    for (int x : {0, 7, 8, 15})
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(out.samples[(4 * 16 + x) * 3 + c], expected[x / 8][c], 2) << x << " " << c;
  }
}

// Stray bytes between two segments leave the picture whole: accepted.
TEST(JpegDecodeTest, StrayBytesBetweenSegmentsDecode) {
  Bytes file = EncodeJpeg(Ramps(16, 8, 3), 100);
  const Picture clean = Decode(file);
  file.insert(file.begin() + FindMarker(file, 0xDA), {0x12, 0x34, 0x56});
  EXPECT_EQ(Decode(file).samples, clean.samples);
}

struct DamageCase {
  const char* name;
  std::function<void(Bytes&)> damage;
  const char* message;  // part of the error
};

class JpegDamageTest : public testing::TestWithParam<DamageCase> {};

TEST_P(JpegDamageTest, Refused) {
  Bytes file = EncodeJpeg(Noise(64, 48), 90);
  ASSERT_NE(FindMarker(file, 0xDA), 0u);
  GetParam().damage(file);
  const std::string message = test::MessageOf<FileError>([&] { Decode(file); });
  EXPECT_NE(message.find(GetParam().message), std::string::npos) << message;
}

void SetSides(Bytes& file, int width, int height) {
  const std::size_t sof = FindMarker(file, 0xC0);
  file[sof + 5] = static_cast<std::uint8_t>(height >> 8), file[sof + 6] = height & 0xFF;
  file[sof + 7] = static_cast<std::uint8_t>(width >> 8), file[sof + 8] = width & 0xFF;
}

INSTANTIATE_TEST_SUITE_P(
    Files, JpegDamageTest,
    testing::Values(DamageCase{"Empty", [](Bytes& f) { f.clear(); }, "ends early"},
                    DamageCase{"OnlyStart", [](Bytes& f) { f.resize(2); }, "ends early"},
                    DamageCase{"CutInHeader", [](Bytes& f) { f.resize(FindMarker(f, 0xDA) - 5); },
                               "ends early"},
                    DamageCase{"CutInScan", [](Bytes& f) { f.resize(f.size() / 2); }, "ends early"},
                    DamageCase{"NoEndMarker", [](Bytes& f) { f.pop_back(), f.pop_back(); },
                               "ends early"},
                    DamageCase{"EndMarkerInScan",
                               [](Bytes& f) { f[f.size() / 2] = 0xFF, f[f.size() / 2 + 1] = 0xD9; },
                               "bad JPEG data"},
                    DamageCase{"ZeroWidth", [](Bytes& f) { SetSides(f, 0, 48); }, "bad JPEG data"},
                    DamageCase{"HugeSides", [](Bytes& f) { SetSides(f, 65500, 65500); }, "MiB"}),
    [](const testing::TestParamInfo<DamageCase>& info) { return info.param.name; });

}  // namespace
}  // namespace tvq::codec
