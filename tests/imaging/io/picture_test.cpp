#include "imaging/io/picture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <variant>
#include <vector>

#include "common/files.h"
#include "common/images.h"
#include "common/metadata_blocks.h"
#include "common/pictures.h"
#include "common/png_builder.h"
#include "imaging/bitmap.h"
#include "imaging/imagefmt.h"
#include "imaging/io/codecs.h"
#include "imaging/io/pfm.h"

namespace tvq {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Bytes = std::vector<std::uint8_t>;
using codec::SampleToByte;
using codec::SampleToWord;
using codec::WordToSample;
using F = PictureFormat;
using testblocks::ExifBlock;
using testblocks::IccProfile;

Bytes AsBytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Picture Decode(const Bytes& bytes) {
  return DecodePicture(bytes.data(), bytes.size());
}

// Samples with fractions, values outside 0..255 and both ends of the scale.
Picture MakePicture(std::int32_t width, std::int32_t height, std::int32_t channels,
                    std::int32_t bits = 8) {
  static const float kValues[] = {0.0f,  255.0f, 12.25f, 127.5f,  -3.0f, 300.0f,
                                  64.0f, 200.7f, 1.0f,   254.49f, 33.0f};
  return test::MakePicture(width, height, channels, bits, [&](int x, int y, int c) {
    const auto i = static_cast<std::size_t>((y * width + x) * channels + c);
    return kValues[(i * 7 + i / 3) % std::size(kValues)];
  });
}

TEST(PictureFormatTest, SniffsTheContent) {
  const struct {
    std::string bytes;
    std::optional<F> format;
  } cases[] = {
      {"BM", F::kBmp},
      {"Pf\n1 1", F::kPfm},
      {"PF 2", F::kPfm},
      {"PF2", std::nullopt},
      {"\x89PNG\r\n\x1a\n"s, F::kPng},
      {"\x89PNG\r\n\x1a"s, std::nullopt},
      {"\xFF\xD8\xFF\xE0"s, F::kJpeg},
      {"\xFF\xD8"s, std::nullopt},
      {"II*\0"s, F::kTiff},
      {"MM\0*"s, F::kTiff},
      {"II+\0"s, F::kTiff},
      {"MM\0+"s, F::kTiff},
      {"II*"s, std::nullopt},
      {"RIFF\x10\0\0\0WEBPVP8 "s, F::kWebp},
      {"RIFF\x10\0\0\0WAVE"s, std::nullopt},
      {"GIF89a", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    const Bytes bytes = AsBytes(c.bytes);
    EXPECT_EQ(SniffFormat(bytes.data(), bytes.size()), c.format) << c.bytes;
  }
  const Bytes text = AsBytes("hello, world");
  EXPECT_EQ(test::MessageOf<FileError>([&] { Decode(text); }),
            "not a picture file of a supported format (BMP, PNG, JPEG, TIFF, WebP, PFM)");
}

TEST(PictureFormatTest, ExtensionsNameFormats) {
  const struct {
    const char* path;
    std::optional<F> format;
  } cases[] = {
      {"a.bmp", F::kBmp},
      {"dir.x/A.PNG", F::kPng},
      {"x.jpg", F::kJpeg},
      {"x.JPEG", F::kJpeg},
      {"x.tif", F::kTiff},
      {"x.Tiff", F::kTiff},
      {"x.webp", F::kWebp},
      {"x.pfm", F::kPfm},
      {"x.gif", std::nullopt},
      {"noext", std::nullopt},
      {"dir.png/file", std::nullopt},
      {"x.png.txt", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatFromExtension(c.path), c.format) << c.path;
  for (const std::string& ext : PictureExtensions())
    EXPECT_TRUE(FormatFromExtension("name" + ext).has_value()) << ext;
  EXPECT_EQ(PictureExtensions().size(), 8u);

  const std::string path = test::TempPath("picture_test.gif").string();
  {
    const std::string what =
        test::MessageOf<FileError>([&] { WritePicture(MakePicture(2, 2, 3), path); });
    EXPECT_EQ(what.rfind(path + ": ", 0), 0u) << what;
    EXPECT_NE(what.find(".bmp, .pfm, .png, .jpg, .jpeg, .tif, .tiff, .webp"), std::string::npos)
        << what;
  }
  EXPECT_FALSE(fs::exists(path));
}

// What a picture's samples become through each format, for every channel count
// and depth, on sizes with odd widths.
TEST(PictureRoundTripTest, BmpPfmAndPngKeepWhatTheyHold) {
  for (F format : {F::kBmp, F::kPfm, F::kPng})
    for (int bits : {8, 16})
      for (int channels = 1; channels <= 4; ++channels)
        for (auto [w, h] : {std::pair{1, 1}, {3, 2}, {17, 5}}) {
          SCOPED_TRACE(std::string(PictureFormatName(format)) + " " + std::to_string(bits) +
                       " bits, " + std::to_string(channels) + " channels, " + std::to_string(w) +
                       "x" + std::to_string(h));
          const Picture in = MakePicture(w, h, channels, bits);
          const Picture out = Decode(EncodePicture(in, format));
          EXPECT_EQ(out.format, format);
          ASSERT_EQ(out.width, w);
          ASSERT_EQ(out.height, h);
          const std::size_t pixels = static_cast<std::size_t>(w) * h;
          const std::size_t ch = static_cast<std::size_t>(channels);
          if (format == F::kBmp) {
            // 32-bit blue, green, red by ClampToByte, grey repeated, the fourth byte 0.
            ASSERT_TRUE(out.bitmap.has_value());
            ASSERT_EQ(out.bitmap->BitsPerPixel(), 32);
            for (std::size_t p = 0; p < pixels; ++p) {
              const std::uint8_t* px =
                  out.bitmap->ScanLine(static_cast<std::int32_t>(p / w)) + 4 * (p % w);
              const float* s = in.samples.data() + p * ch;
              const bool grey = channels < 3;
              const std::uint8_t expected[4] = {SampleToByte(s[grey ? 0 : 2]),
                                                SampleToByte(s[grey ? 0 : 1]), SampleToByte(s[0]),
                                                0};
              ASSERT_EQ(std::memcmp(px, expected, 4), 0) << "pixel " << p;
            }
            continue;
          }
          std::vector<float> expected;
          if (format == F::kPfm) {
            // Floats as they are; grey stays grey, alpha is dropped.
            EXPECT_EQ(out.bitsPerChannel, 32);
            EXPECT_EQ(out.channels, channels < 3 ? 1 : 3);
            for (std::size_t p = 0; p < pixels; ++p)
              for (int c = 0; c < out.channels; ++c) expected.push_back(in.samples[p * ch + c]);
          } else {
            EXPECT_EQ(out.bitsPerChannel, bits);
            EXPECT_EQ(out.channels, channels);
            for (float v : in.samples)
              expected.push_back(bits == 16 ? WordToSample(SampleToWord(v))
                                            : static_cast<float>(SampleToByte(v)));
          }
          EXPECT_EQ(out.samples, expected);
        }
}

TEST(PictureRoundTripTest, EverySixteenBitWordSurvivesPng) {
  Picture in = MakePicture(256, 256, 1, 16);
  for (std::size_t i = 0; i < in.samples.size(); ++i)
    in.samples[i] = WordToSample(static_cast<std::uint16_t>(i));
  const Picture out = Decode(EncodePicture(in, F::kPng));
  ASSERT_EQ(out.samples.size(), in.samples.size());
  for (std::size_t i = 0; i < in.samples.size(); ++i) {
    ASSERT_EQ(SampleToWord(out.samples[i]), i);
    ASSERT_EQ(out.samples[i], in.samples[i]);
  }
  const struct {
    float v;
    std::uint16_t word;
  } cases[] = {{-1.0f, 0},      {std::nanf(""), 0}, {0.0f, 0},         {1.0f, 257},
               {255.0f, 65535}, {300.0f, 65535},    {0.6f / 257, 1},   {0.49f / 257, 0},
               {127.5f, 32768}, {100.0f, 25700},    {254.999f, 65535}, {254.998f, 65534}};
  for (const auto& c : cases) EXPECT_EQ(SampleToWord(c.v), c.word) << c.v;
}

// Every deflate level of PNG and TIFF gives the same decoded samples (8 and 16 bits,
// grey to colour with alpha); no level is larger than the stored rows of level 0; the
// unset level is PNG's default and TIFF's library level 6; levels outside 0..9 are
// refused.
TEST(PictureCompressionTest, LevelsChangeOnlyTheSize) {
  for (F format : {F::kPng, F::kTiff})
    for (int bits : {8, 16})
      for (int channels : {1, 3, 4}) {
        SCOPED_TRACE(std::string(PictureFormatName(format)) + " " + std::to_string(bits) +
                     " bits, " + std::to_string(channels) + " channels");
        Picture in = MakePicture(64, 48, channels, bits);
        for (std::size_t i = 0; i < in.samples.size(); ++i)
          in.samples[i] = static_cast<float>((i / 7) % 256);
        const Bytes unset = EncodePicture(in, format);
        const std::vector<float> expected = Decode(unset).samples;
        std::size_t previous = 0;
        for (std::int32_t level = 0; level <= 9; ++level) {
          WriteOptions options;
          options.compression = level;
          const Bytes bytes = EncodePicture(in, format, options);
          EXPECT_EQ(Decode(bytes).samples, expected) << "level " << level;
          if (level == 0) previous = bytes.size();
          EXPECT_LE(bytes.size(), previous) << "level " << level;
          if (level == (format == F::kPng ? codec::kDefaultPngCompression : 6)) {
            EXPECT_EQ(bytes, unset) << "level " << level;
          }
        }
        for (std::int32_t level : {-1, 10}) {
          WriteOptions options;
          options.compression = level;
          EXPECT_THROW(EncodePicture(in, format, options), FileError) << "level " << level;
        }
      }
}

// A result written as .bmp gives the bytes that the command line has always written:
// ImageToBitmap, then the fourth byte set to 0.
TEST(PictureBmpTest, SamplesGiveTheBytesOfTheResultWriter) {
  const Picture colour = MakePicture(7, 3, 4);
  TImageF4 image(7, 3);
  for (std::int32_t y = 0; y < 3; ++y)
    for (std::int32_t x = 0; x < 7; ++x) {
      const float* s = colour.samples.data() + (static_cast<std::size_t>(y) * 7 + x) * 4;
      float* d = image.Row(y) + 4 * x;
      d[0] = s[2];
      d[1] = s[1];
      d[2] = s[0];
      d[3] = s[3];
    }
  const Picture grey = MakePicture(5, 4, 1);
  TImageF greyImage(5, 4);
  for (std::int32_t y = 0; y < 4; ++y)
    for (std::int32_t x = 0; x < 5; ++x) greyImage.Row(y)[x] = grey.samples[y * 5 + x];
  const auto oldWriter = [](const TImageBase& source) {
    Bitmap bitmap;
    ImageToBitmap(source, bitmap);
    for (std::int32_t y = 0; y < bitmap.Height(); ++y)
      for (std::int32_t x = 0; x < bitmap.Width(); ++x) bitmap.ScanLine(y)[4 * x + 3] = 0;
    return EncodeBmp(bitmap);
  };
  EXPECT_EQ(EncodePicture(colour, F::kBmp), oldWriter(image));
  EXPECT_EQ(EncodePicture(grey, F::kBmp), oldWriter(greyImage));

  // A picture read from a BMP file is written in its own depth, byte for byte.
  Bitmap palette(5, 3, 8);
  palette.Palette() = {0x000000, 0x102030, 0xFFFFFF};
  for (std::int32_t y = 0; y < 3; ++y)
    for (std::int32_t x = 0; x < 5; ++x) palette.ScanLine(y)[x] = (x + y) % 3;
  const Bytes file = EncodeBmp(palette);
  const Picture read = Decode(file);
  EXPECT_EQ(read.channels, 3);
  EXPECT_TRUE(read.samples.empty());
  ASSERT_TRUE(std::holds_alternative<BmpInfo>(read.details));
  EXPECT_EQ(std::get<BmpInfo>(read.details).bitsPerPixel, 8);
  EXPECT_EQ(EncodePicture(read, F::kBmp), file);
}

TEST(PicturePfmTest, EncodingGivesTheBytesOfWritePfm) {
  const fs::path folder = test::TempPath("picture_test_pfm");
  fs::create_directories(folder);
  const auto fileBytes = [](const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  };
  const Picture colour = MakePicture(5, 3, 4);
  TImageF4 image(5, 3);
  const Picture grey = MakePicture(4, 2, 2);
  TImageF greyImage(4, 2);
  for (std::int32_t y = 0; y < 3; ++y)
    for (std::int32_t x = 0; x < 5; ++x)
      for (int c = 0; c < 3; ++c)
        image.Row(y)[4 * x + 2 - c] = colour.samples[(static_cast<std::size_t>(y) * 5 + x) * 4 + c];
  for (std::int32_t y = 0; y < 2; ++y)
    for (std::int32_t x = 0; x < 4; ++x) greyImage.Row(y)[x] = grey.samples[(y * 4 + x) * 2];
  WritePfm(image, (folder / "colour.pfm").string());
  WritePfm(greyImage, (folder / "grey.pfm").string());
  EXPECT_EQ(EncodePicture(colour, F::kPfm), fileBytes(folder / "colour.pfm"));
  EXPECT_EQ(EncodePicture(grey, F::kPfm), fileBytes(folder / "grey.pfm"));
  fs::remove_all(folder);
}

// Stored PNG layouts that the decoder turns into 8 or 16 bits per channel: low-depth
// grey scaled up, palettes applied, tRNS turned into alpha, interlacing undone.
TEST(PicturePngTest, DecodesEveryStoredLayout) {
  using pngtest::Chunk;
  Bytes plte;
  for (int i = 0; i < 256; ++i)
    plte.insert(plte.end(), {static_cast<std::uint8_t>(i * 16), static_cast<std::uint8_t>(255 - i),
                             static_cast<std::uint8_t>(i * 3)});
  const Bytes trnsPalette = {0, 128, 255};
  const auto stored = [](int depth) {
    return [depth](std::uint32_t x, std::uint32_t y, int c) -> std::uint32_t {
      if (depth == 16) return (x * 4099 + y * 771 + c * 1000) % 65536;
      return (x * 3 + y * 5 + c * 7) % (1u << depth);
    };
  };
  const auto paletteColour = [&](std::uint32_t i, int c) -> float {
    return c < 3 ? plte[3 * i + c] : (i < trnsPalette.size() ? trnsPalette[i] : 255);
  };
  const struct Case {
    const char* name;
    int depth, colourType, storedChannels;
    bool interlaced;
    std::uint32_t width, height;
    std::vector<Chunk> extra;
    int channels, bits;
    std::function<float(std::uint32_t, std::uint32_t, int)> expected;
  } cases[] = {
      {"grey 1 bit",
       1,
       0,
       1,
       false,
       17,
       5,
       {},
       1,
       8,
       [&](auto x, auto y, int) { return 255.0f * stored(1)(x, y, 0); }},
      {"grey 2 bits",
       2,
       0,
       1,
       false,
       17,
       5,
       {},
       1,
       8,
       [&](auto x, auto y, int) { return 85.0f * stored(2)(x, y, 0); }},
      {"grey 4 bits, interlaced",
       4,
       0,
       1,
       true,
       17,
       5,
       {},
       1,
       8,
       [&](auto x, auto y, int) { return 17.0f * stored(4)(x, y, 0); }},
      {"grey 8 bits, tRNS",
       8,
       0,
       1,
       false,
       9,
       4,
       {{"tRNS", {0, 5}}},
       2,
       8,
       [&](auto x, auto y, int c) -> float {
         const std::uint32_t v = stored(8)(x, y, 0);
         return c == 0 ? v : (v == 5 ? 0 : 255);
       }},
      {"palette 4 bits, tRNS",
       4,
       3,
       1,
       false,
       17,
       5,
       {{"PLTE", Bytes(plte.begin(), plte.begin() + 48)}, {"tRNS", trnsPalette}},
       4,
       8,
       [&](auto x, auto y, int c) { return paletteColour(stored(4)(x, y, 0), c); }},
      {"palette 8 bits, interlaced",
       8,
       3,
       1,
       true,
       17,
       5,
       {{"PLTE", plte}},
       3,
       8,
       [&](auto x, auto y, int c) { return paletteColour(stored(8)(x, y, 0), c); }},
      {"RGB 16 bits, tRNS",
       16,
       2,
       3,
       false,
       5,
       3,
       {{"tRNS", {0x10, 0x03, 0x13, 0xEB, 0x17, 0xD3}}},
       4,
       16,
       [&](auto x, auto y, int c) {
         // The tRNS colour is the stored colour of pixel (1, 0).
         if (c < 3) return WordToSample(static_cast<std::uint16_t>(stored(16)(x, y, c)));
         return x == 1 && y == 0 ? 0.0f : 255.0f;
       }},
      {"RGBA 8 bits, interlaced",
       8,
       6,
       4,
       true,
       17,
       5,
       {},
       4,
       8,
       [&](auto x, auto y, int c) { return static_cast<float>(stored(8)(x, y, c)); }},
      {"grey and alpha 16 bits, interlaced 1x1",
       16,
       4,
       2,
       true,
       1,
       1,
       {},
       2,
       16,
       [&](auto x, auto y, int c) {
         return WordToSample(static_cast<std::uint16_t>(stored(16)(x, y, c)));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Picture out =
        Decode(pngtest::BuildPng(c.width, c.height, c.depth, c.colourType, c.storedChannels,
                                 c.interlaced, stored(c.depth), c.extra));
    ASSERT_EQ(out.width, static_cast<std::int32_t>(c.width));
    ASSERT_EQ(out.height, static_cast<std::int32_t>(c.height));
    ASSERT_EQ(out.channels, c.channels);
    EXPECT_EQ(out.bitsPerChannel, c.bits);
    std::vector<float> expected;
    for (std::uint32_t y = 0; y < c.height; ++y)
      for (std::uint32_t x = 0; x < c.width; ++x)
        for (int ch = 0; ch < c.channels; ++ch) expected.push_back(c.expected(x, y, ch));
    EXPECT_EQ(out.samples, expected);
  }
}

// The profile travels with the picture; one that does not fit the picture's colour
// type is dropped instead of failing the write.
TEST(PicturePngTest, IccProfileRoundTrip) {
  const struct {
    int channels;
    const char* space;
    bool kept;
  } cases[] = {{3, "RGB ", true}, {4, "RGB ", true},  {1, "GRAY", true},
               {2, "GRAY", true}, {1, "RGB ", false}, {3, "GRAY", false}};
  for (const auto& c : cases) {
    Picture in = MakePicture(5, 3, c.channels);
    in.icc = IccProfile(c.space);
    const Picture out = Decode(EncodePicture(in, F::kPng));
    EXPECT_EQ(out.icc, c.kept ? in.icc : Bytes{}) << c.channels << " channels, " << c.space;
  }
  EXPECT_TRUE(Decode(EncodePicture(MakePicture(5, 3, 3), F::kPng)).icc.empty());
}

// A grey picture carries no profile of another colour space in any format; a grey
// profile stays on it, and colour keeps its own.
TEST(PictureProfileTest, GreyPicturesTakeOnlyGreyProfiles) {
  const struct {
    int channels;
    const char* space;
    bool kept;
  } cases[] = {{1, "RGB ", false}, {2, "RGB ", false}, {1, "CMYK", false},
               {1, "GRAY", true},  {2, "GRAY", true},  {3, "RGB ", true}};
  for (const auto& c : cases) {
    Picture in = MakePicture(5, 3, c.channels);
    in.icc = IccProfile(c.space);
    EXPECT_EQ(ProfileSuitsPicture(in), c.kept) << c.channels << " channels, " << c.space;
    for (const F format : {F::kPng, F::kJpeg, F::kTiff, F::kWebp})
      EXPECT_EQ(Decode(EncodePicture(in, format)).icc, c.kept ? in.icc : Bytes{})
          << PictureFormatName(format) << ", " << c.channels << " channels, " << c.space;
  }
  EXPECT_EQ(ProfileColourSpace(IccProfile("RGB ")), "RGB");
  // Bytes without a profile's header name no colour space and are written as they are.
  EXPECT_EQ(ProfileColourSpace(Bytes(200, 'x')), "");
}

TEST(PictureOrientationTest, ExifBlocksInBothByteOrders) {
  const auto orientation = [](const Bytes& b) {
    return codec::ExifOrientation(b.data(), b.size());
  };
  Bytes prefixed = AsBytes("Exif\0\0"s);
  const Bytes inner = ExifBlock(false, 3, 1, 7);
  prefixed.insert(prefixed.end(), inner.begin(), inner.end());
  Bytes badMagic = ExifBlock(true, 3, 1, 6);
  badMagic[1] = 'M';
  Bytes bad42 = ExifBlock(true, 3, 1, 6);
  bad42[2] = 43;
  Bytes farIfd = ExifBlock(true, 3, 1, 6);
  farIfd[4] = 0xF0;
  Bytes manyEntries = ExifBlock(false, 3, 1, 6, 0);
  manyEntries[8] = 0x10;
  manyEntries[11] = 0x04;  // the orientation entry is no longer the first
  const struct {
    const char* name;
    Bytes block;
    std::int32_t expected;
  } cases[] = {
      {"II short", ExifBlock(true, 3, 1, 6), 6},
      {"MM short", ExifBlock(false, 3, 1, 8), 8},
      {"II long", ExifBlock(true, 4, 1, 3), 3},
      {"MM long", ExifBlock(false, 4, 1, 5, 3), 5},
      {"MM short, first entry", ExifBlock(false, 3, 1, 2, 0), 2},
      {"Exif prefix", prefixed, 7},
      {"value 0", ExifBlock(true, 3, 1, 0), 1},
      {"value 9", ExifBlock(false, 3, 1, 9), 1},
      {"two values", ExifBlock(true, 3, 2, 6), 1},
      {"byte type", ExifBlock(true, 1, 1, 6), 1},
      {"bad byte order", badMagic, 1},
      {"not 42", bad42, 1},
      {"IFD past the end", farIfd, 1},
      {"entries past the end", manyEntries, 1},
      {"empty", {}, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(orientation(c.block), c.expected) << c.name;

  // Every truncation finds the orientation only while its whole entry is there.
  const Bytes full = ExifBlock(true, 3, 1, 6, 2);
  const std::size_t entryEnd = 8 + 2 + 3 * 12;
  for (std::size_t n = 0; n <= full.size(); ++n)
    EXPECT_EQ(orientation(Bytes(full.begin(), full.begin() + n)), n >= entryEnd ? 6 : 1) << n;
}

TEST(PictureOrientationTest, AllEightTurnAThreeByTwoPicture) {
  // Stored:  1 2 3
  //          4 5 6
  const struct {
    std::int32_t orientation, width, height;
    std::vector<float> samples;
  } cases[] = {
      {1, 3, 2, {1, 2, 3, 4, 5, 6}}, {2, 3, 2, {3, 2, 1, 6, 5, 4}}, {3, 3, 2, {6, 5, 4, 3, 2, 1}},
      {4, 3, 2, {4, 5, 6, 1, 2, 3}}, {5, 2, 3, {1, 4, 2, 5, 3, 6}}, {6, 2, 3, {4, 1, 5, 2, 6, 3}},
      {7, 2, 3, {6, 3, 5, 2, 4, 1}}, {8, 2, 3, {3, 6, 2, 5, 1, 4}}, {0, 3, 2, {1, 2, 3, 4, 5, 6}},
      {9, 3, 2, {1, 2, 3, 4, 5, 6}},
  };
  for (const auto& c : cases) {
    for (int channels : {1, 3}) {
      Picture picture = MakePicture(3, 2, channels);
      for (std::size_t i = 0; i < picture.samples.size(); ++i)
        picture.samples[i] = static_cast<float>(1 + i / channels) + 0.25f * (i % channels);
      codec::ApplyOrientation(picture, c.orientation);
      std::vector<float> expected;
      for (float v : c.samples)
        for (int ch = 0; ch < channels; ++ch) expected.push_back(v + 0.25f * ch);
      EXPECT_EQ(picture.width, c.width) << c.orientation;
      EXPECT_EQ(picture.height, c.height) << c.orientation;
      EXPECT_EQ(picture.samples, expected) << c.orientation << ", " << channels << " channels";
      EXPECT_EQ(picture.orientation, c.orientation >= 1 && c.orientation <= 8 ? c.orientation : 1);
    }
  }
}

TEST(PictureOrientationTest, PngExifChunkIsAppliedOnReading) {
  const Picture stored = MakePicture(3, 2, 3);
  const Bytes png = EncodePicture(stored, F::kPng);
  for (std::int32_t orientation = 1; orientation <= 8; ++orientation) {
    const Picture out = Decode(pngtest::InsertBeforeImageData(
        png, {"eXIf", ExifBlock(orientation % 2 == 0, 3, 1, orientation)}));
    Picture expected = Decode(png);
    codec::ApplyOrientation(expected, orientation);
    EXPECT_EQ(out.orientation, orientation);
    EXPECT_EQ(out.width, expected.width) << orientation;
    EXPECT_EQ(out.samples, expected.samples) << orientation;
  }
}

}  // namespace
}  // namespace tvq
