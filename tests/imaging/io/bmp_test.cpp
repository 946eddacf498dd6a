#include "imaging/io/bmp.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <array>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/bmp_builder.h"
#include "common/files.h"
#include "common/images.h"

namespace tvq {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

using bmptest::BmpBuilder;
using bmptest::Put16;
using bmptest::Put32;

Bitmap Decode(const Bytes& bytes, BmpInfo* info = nullptr) {
  return DecodeBmp(bytes.data(), bytes.size(), info);
}

// The FileError message of decoding bytes, or "" when they decode.
std::string DecodeError(const Bytes& bytes) {
  return test::MessageOf<FileError>([&] { Decode(bytes); });
}

Bytes RowOf(std::initializer_list<int> values) {
  Bytes row;
  for (int v : values) row.push_back(static_cast<std::uint8_t>(v));
  return row;
}

// A 3 x 2 24-bit picture with distinct bytes; the same pixels under every header.
BmpBuilder TwentyFourBit(std::uint32_t headerSize) {
  BmpBuilder b;
  b.headerSize = headerSize;
  b.width = 3;
  b.height = 2;
  b.rows = {RowOf({1, 2, 3, 4, 5, 6, 7, 8, 9}), RowOf({11, 12, 13, 14, 15, 16, 17, 18, 19})};
  return b;
}

void ExpectRow(const Bitmap& bmp, int y, const Bytes& expected) {
  const Bytes actual(bmp.ScanLine(y), bmp.ScanLine(y) + expected.size());
  EXPECT_EQ(actual, expected) << "row " << y;
}

struct HeaderCase {
  std::uint32_t size;
  const char* name;
};

class BmpHeaderTest : public testing::TestWithParam<HeaderCase> {};

TEST_P(BmpHeaderTest, DecodesTwentyFourBitsBothRowOrders) {
  for (bool topDown : {false, true}) {
    BmpBuilder b = TwentyFourBit(GetParam().size);
    if (topDown && GetParam().size == 12) continue;  // core headers have unsigned heights
    if (topDown) b.height = -b.height;
    BmpInfo info;
    const Bitmap bmp = Decode(b.Build(), &info);
    ASSERT_EQ(bmp.Width(), 3);
    ASSERT_EQ(bmp.Height(), 2);
    EXPECT_EQ(bmp.BitsPerPixel(), 24);
    ExpectRow(bmp, 0, b.rows[0]);
    ExpectRow(bmp, 1, b.rows[1]);
    EXPECT_EQ(info.width, 3);
    EXPECT_EQ(info.height, 2);
    EXPECT_EQ(info.bitsPerPixel, 24);
    EXPECT_EQ(info.headerType, GetParam().name);
    EXPECT_EQ(info.compression, "BI_RGB");
    EXPECT_EQ(info.topDown, topDown);
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllHeaders, BmpHeaderTest,
    testing::Values(HeaderCase{12, "BITMAPCOREHEADER"}, HeaderCase{40, "BITMAPINFOHEADER"},
                    HeaderCase{52, "BITMAPV2INFOHEADER"}, HeaderCase{56, "BITMAPV3INFOHEADER"},
                    HeaderCase{108, "BITMAPV4HEADER"}, HeaderCase{124, "BITMAPV5HEADER"}));

TEST(BmpDecodeTest, PalettedDepthsKeepIndexesAndPalette) {
  // 1 bit, 10 pixels: two bytes per row; bits beyond the last pixel are cleared.
  BmpBuilder one;
  one.width = 10;
  one.height = 2;
  one.bits = 1;
  one.palette = {0x000000, 0xFFFFFF};
  one.rows = {RowOf({0xA5, 0xFF}), RowOf({0x0F, 0x40})};
  Bitmap bmp = Decode(one.Build());
  EXPECT_EQ(bmp.BitsPerPixel(), 1);
  EXPECT_EQ(bmp.Palette(), one.palette);
  ExpectRow(bmp, 0, RowOf({0xA5, 0xC0, 0, 0}));
  ExpectRow(bmp, 1, RowOf({0x0F, 0x40, 0, 0}));

  BmpBuilder four;
  four.width = 5;
  four.height = 1;
  four.bits = 4;
  four.colorsUsed = 5;
  four.palette = {1, 2, 3, 4, 5};
  four.rows = {RowOf({0x01, 0x23, 0x4F})};
  bmp = Decode(four.Build());
  EXPECT_EQ(bmp.BitsPerPixel(), 4);
  EXPECT_EQ(bmp.Palette().size(), 5u);
  ExpectRow(bmp, 0, RowOf({0x01, 0x23, 0x40}));

  BmpBuilder eight;
  eight.width = 3;
  eight.height = 2;
  eight.bits = 8;
  eight.colorsUsed = 3;
  eight.palette = {0x102030, 0x405060, 0x708090};
  eight.rows = {RowOf({0, 1, 2}), RowOf({2, 2, 0})};
  BmpInfo info;
  bmp = Decode(eight.Build(), &info);
  EXPECT_EQ(bmp.Palette(), eight.palette);
  ExpectRow(bmp, 0, eight.rows[0]);
  ExpectRow(bmp, 1, eight.rows[1]);
  EXPECT_EQ(info.bitsPerPixel, 8);
}

TEST(BmpDecodeTest, CorePaletteHasThreeByteEntries) {
  BmpBuilder b;
  b.headerSize = 12;
  b.width = 4;
  b.height = 1;
  b.bits = 1;
  b.palette = {0x0000FF, 0x00FF00};
  b.rows = {RowOf({0x50})};
  const Bitmap bmp = Decode(b.Build());
  EXPECT_EQ(bmp.Palette(), b.palette);
  ExpectRow(bmp, 0, RowOf({0x50}));
}

TEST(BmpDecodeTest, PaletteLimitedByPixelOffset) {
  // No biClrUsed, but only two entries fit before the pixels: index 1 is fine,
  // index 2 names no colour.
  BmpBuilder b;
  b.width = 2;
  b.height = 1;
  b.bits = 8;
  b.palette = {7, 9};
  b.rows = {RowOf({1, 0})};
  EXPECT_EQ(Decode(b.Build()).Palette().size(), 2u);
  b.rows = {RowOf({1, 2})};
  EXPECT_NE(DecodeError(b.Build()).find("palette index 2 at pixel (1, 0)"), std::string::npos);
  // biClrUsed larger than 2^bits is capped.
  b.rows = {RowOf({1, 0})};
  b.bits = 1;
  b.colorsUsed = 300;
  b.rows = {RowOf({0x40})};
  EXPECT_EQ(Decode(b.Build()).Palette().size(), 2u);
}

TEST(BmpDecodeTest, SixteenAndThirtyTwoBitsKeepTheirWords) {
  BmpBuilder b;
  b.width = 2;
  b.height = 1;
  b.bits = 16;
  b.rows = {RowOf({0x1F, 0x7C, 0xE0, 0x03})};
  Bitmap bmp = Decode(b.Build());
  EXPECT_EQ(bmp.BitsPerPixel(), 16);
  EXPECT_EQ(bmp.Masks(), (std::array<std::uint32_t, 4>{0x7C00, 0x03E0, 0x001F, 0}));
  ExpectRow(bmp, 0, b.rows[0]);

  // 5-6-5 masks after a 40-byte header, and with alpha in a V3 header.
  b.compression = 3;
  b.masks = {0xF800, 0x07E0, 0x001F};
  BmpInfo info;
  bmp = Decode(b.Build(), &info);
  EXPECT_EQ(bmp.Masks(), (std::array<std::uint32_t, 4>{0xF800, 0x07E0, 0x001F, 0}));
  ExpectRow(bmp, 0, b.rows[0]);
  EXPECT_EQ(info.compression, "BI_BITFIELDS");
  b.headerSize = 56;
  b.masks = {0x0F00, 0x00F0, 0x000F, 0xF000};
  EXPECT_EQ(Decode(b.Build()).Masks(),
            (std::array<std::uint32_t, 4>{0x0F00, 0x00F0, 0x000F, 0xF000}));

  // 32 bits: the fourth byte is kept, with plain or standard bit-field masks.
  BmpBuilder c;
  c.width = 2;
  c.height = 1;
  c.bits = 32;
  c.rows = {RowOf({1, 2, 3, 200, 4, 5, 6, 77})};
  for (int variant = 0; variant < 3; ++variant) {
    if (variant > 0) c.compression = 3;
    if (variant == 1) c.masks = {0xFF0000, 0xFF00, 0xFF};
    if (variant == 2) {
      c.headerSize = 124;
      c.masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    }
    bmp = Decode(c.Build());
    EXPECT_EQ(bmp.BitsPerPixel(), 32);
    EXPECT_EQ(bmp.Masks(), (std::array<std::uint32_t, 4>{}));
    ExpectRow(bmp, 0, c.rows[0]);
  }
}

TEST(BmpDecodeTest, OtherThirtyTwoBitMasksBecomePlainBgra) {
  BmpBuilder b;
  b.headerSize = 108;
  b.width = 1;
  b.height = 2;
  b.bits = 32;
  b.compression = 3;
  // Bytes red, green, blue, alpha.
  b.masks = {0xFF, 0xFF00, 0xFF0000, 0xFF000000};
  b.rows = {RowOf({10, 20, 30, 40}), RowOf({1, 2, 3, 4})};
  Bitmap bmp = Decode(b.Build());
  ExpectRow(bmp, 0, RowOf({30, 20, 10, 40}));
  ExpectRow(bmp, 1, RowOf({3, 2, 1, 4}));

  // 10 bits a channel, no alpha: scaled to 0..255 with rounding, fourth byte 0.
  b.headerSize = 40;
  b.height = 1;
  b.masks = {0x3FF00000, 0x000FFC00, 0x000003FF};
  const std::uint32_t px = (1023u << 20) | (512u << 10) | 1u;
  b.rows = {RowOf({static_cast<int>(px & 0xFF), static_cast<int>((px >> 8) & 0xFF),
                   static_cast<int>((px >> 16) & 0xFF), static_cast<int>(px >> 24)})};
  bmp = Decode(b.Build());
  ExpectRow(bmp, 0, RowOf({0, 128, 255, 0}));
}

// RLE8: encoded run, end of line, delta, absolute run with padding, end of bitmap.
Bytes Rle8Codes() {
  return RowOf({3, 5, 0, 0,        // bottom row: 5 5 5 then end of line
                0, 2, 1, 0,        // delta: one right, same row (row 1 from the bottom)
                0, 3, 7, 8, 9, 0,  // absolute run of three, padded
                0, 0, 0, 2, 2, 1,  // end of line, delta right 2 up 1 (row 3)
                2, 4, 0, 1});      // two 4s, end of bitmap
}

// An RLE file (BI_RLE8, or BI_RLE4 at four bits) of width x height holding `codes`.
BmpBuilder RleFile(std::int32_t width, std::int32_t height, bool rle8, Bytes codes,
                   std::vector<std::uint32_t> palette = std::vector<std::uint32_t>(16, 0)) {
  BmpBuilder b;
  b.width = width;
  b.height = height;
  b.bits = rle8 ? 8 : 4;
  b.compression = rle8 ? 1 : 2;
  b.palette = std::move(palette);
  b.raw = std::move(codes);
  return b;
}

TEST(BmpDecodeTest, Rle8WithEscapes) {
  const BmpBuilder b = RleFile(4, 4, true, Rle8Codes(), std::vector<std::uint32_t>(10, 0x123456));
  BmpInfo info;
  const Bitmap bmp = Decode(b.Build(), &info);
  EXPECT_EQ(bmp.BitsPerPixel(), 8);
  EXPECT_EQ(info.compression, "BI_RLE8");
  ExpectRow(bmp, 3, RowOf({5, 5, 5, 0}));
  ExpectRow(bmp, 2, RowOf({0, 7, 8, 9}));
  ExpectRow(bmp, 1, RowOf({0, 0, 0, 0}));
  ExpectRow(bmp, 0, RowOf({0, 0, 4, 4}));
}

TEST(BmpDecodeTest, Rle4WithOddRuns) {
  // 1 2 1 2 1, end of line; absolute A B C (two bytes), end of bitmap.
  const BmpBuilder b = RleFile(5, 2, false, RowOf({5, 0x12, 0, 0, 0, 3, 0xAB, 0xC0, 0, 1}));
  const Bitmap bmp = Decode(b.Build());
  EXPECT_EQ(bmp.BitsPerPixel(), 4);
  ExpectRow(bmp, 1, RowOf({0x12, 0x12, 0x10}));
  ExpectRow(bmp, 0, RowOf({0xAB, 0xC0, 0x00}));
}

// Files that common writers produce although they break the format's rules: decoded
// all the same. Rows are expected top row first.
struct LenientCase {
  const char* name;
  BmpBuilder builder;
  std::vector<Bytes> rows;
  std::array<std::uint32_t, 4> masks;
};

std::vector<LenientCase> LenientFiles() {
  auto rle = [](std::int32_t width, bool rle8, Bytes codes) {
    return RleFile(width, 2, rle8, std::move(codes));
  };
  auto noMasks = [](std::uint32_t bits, Bytes row) {
    BmpBuilder b;
    b.width = 2;
    b.height = 1;
    b.bits = bits;
    b.compression = 3;
    b.rows = {std::move(row)};
    return b;
  };
  const std::array<std::uint32_t, 4> none{};
  // Runs crossing the row end are clipped; the codes after them are read from the
  // right place (absolute runs keep their padding).
  return {
      {"Rle8RunPastRow",
       rle(4, true, RowOf({5, 1, 0, 1})),
       {RowOf({0, 0, 0, 0}), RowOf({1, 1, 1, 1})},
       none},
      {"Rle8RunPastRowThenNextRow",
       rle(4, true, RowOf({6, 2, 0, 0, 2, 3, 0, 1})),
       {RowOf({3, 3, 0, 0}), RowOf({2, 2, 2, 2})},
       none},
      {"Rle8AbsolutePastRow",
       rle(4, true, RowOf({2, 1, 0, 3, 1, 1, 1, 0, 0, 1})),
       {RowOf({0, 0, 0, 0}), RowOf({1, 1, 1, 1})},
       none},
      {"Rle8AbsolutePastRowThenNextRow",
       rle(4, true, RowOf({0, 5, 1, 2, 3, 4, 5, 0, 0, 0, 2, 7, 0, 1})),
       {RowOf({7, 7, 0, 0}), RowOf({1, 2, 3, 4})},
       none},
      {"Rle4RunPastRow",
       rle(3, false, RowOf({5, 0x12, 0, 0, 1, 0x30, 0, 1})),
       {RowOf({0x30, 0x00}), RowOf({0x12, 0x10})},
       none},
      {"Rle4AbsolutePastRow",
       rle(4, false, RowOf({0, 5, 0x11, 0x11, 0x10, 0, 0, 1})),
       {RowOf({0x00, 0x00}), RowOf({0x11, 0x11})},
       none},
      {"Rle4AbsolutePastRowThenNextRow",
       rle(3, false, RowOf({0, 5, 0x12, 0x34, 0x50, 0, 0, 0, 2, 0x67, 0, 1})),
       {RowOf({0x67, 0x00}), RowOf({0x12, 0x30})},
       none},
      // Bit fields whose pixels start right after the header: default masks.
      {"SixteenBitsWithoutMasks",
       noMasks(16, RowOf({0x00, 0x7C, 0xE0, 0x03})),
       {RowOf({0x00, 0x7C, 0xE0, 0x03})},
       {0x7C00, 0x03E0, 0x001F, 0}},
      {"ThirtyTwoBitsWithoutMasks",
       noMasks(32, RowOf({1, 2, 3, 4, 5, 6, 7, 8})),
       {RowOf({1, 2, 3, 4, 5, 6, 7, 8})},
       none},
  };
}

void PrintTo(const LenientCase& c, std::ostream* out) {
  *out << c.name;
}

class BmpLenientTest : public testing::TestWithParam<LenientCase> {};

TEST_P(BmpLenientTest, Decodes) {
  const LenientCase& c = GetParam();
  const Bitmap bmp = Decode(c.builder.Build());
  ASSERT_EQ(bmp.Height(), static_cast<std::int32_t>(c.rows.size()));
  EXPECT_EQ(bmp.BitsPerPixel(), static_cast<std::int32_t>(c.builder.bits));
  for (std::size_t y = 0; y < c.rows.size(); ++y) ExpectRow(bmp, static_cast<int>(y), c.rows[y]);
  EXPECT_EQ(bmp.Masks(), c.masks);
}

INSTANTIATE_TEST_SUITE_P(Written, BmpLenientTest, testing::ValuesIn(LenientFiles()),
                         [](const testing::TestParamInfo<LenientCase>& info) {
                           return std::string(info.param.name);
                         });

struct BadCase {
  const char* name;
  Bytes bytes;
  const char* message;  // part of the expected FileError text
};

std::vector<BadCase> BadFiles() {
  std::vector<BadCase> cases;
  auto add = [&](const char* name, const BmpBuilder& b, const char* message) {
    cases.push_back({name, b.Build(), message});
  };
  auto modify = [&](const char* name, const char* message, auto change) {
    BmpBuilder b = TwentyFourBit(40);
    change(b);
    add(name, b, message);
  };
  cases.push_back({"Empty", {}, "too short"});
  cases.push_back({"OnlySignature", RowOf({'B', 'M'}), "too short"});
  {
    Bytes b = TwentyFourBit(40).Build();
    cases.push_back(
        {"TruncatedHeader", Bytes(b.begin(), b.begin() + 30), "ends inside the BMP header"});
    cases.push_back({"TruncatedPixels", Bytes(b.begin(), b.end() - 4), "pixel data is truncated"});
    b[0] = 'P';
    cases.push_back({"Signature", b, "not a BMP file"});
  }
  modify("HeaderSize", "header of 64 bytes", [](BmpBuilder& b) { b.headerSize = 64; });
  modify("Planes", "planes field is 2", [](BmpBuilder& b) { b.planes = 2; });
  modify("ZeroWidth", "width 0 is not positive", [](BmpBuilder& b) { b.width = 0; });
  modify("NegativeWidth", "width -3 is not positive", [](BmpBuilder& b) { b.width = -3; });
  modify("ZeroHeight", "height is zero", [](BmpBuilder& b) { b.height = 0; });
  modify("WideSide", "larger than 65535", [](BmpBuilder& b) { b.width = 65536; });
  modify("MinHeight", "larger than 65535", [](BmpBuilder& b) { b.height = INT32_MIN; });
  modify("TooManyBytes", "MiB allowed", [](BmpBuilder& b) {
    b.width = b.height = 40000;
    b.bits = 32;
  });
  modify("OffsetBeyondFile", "beyond the end", [](BmpBuilder& b) { b.offBitsDelta = 1000; });
  modify("OffsetInsideHeader", "inside the headers", [](BmpBuilder& b) { b.offBitsDelta = -20; });
  modify("Jpeg", "JPEG", [](BmpBuilder& b) {
    b.compression = 4;
    b.bits = 0;
  });
  modify("Png", "PNG", [](BmpBuilder& b) {
    b.compression = 5;
    b.bits = 0;
  });
  modify("UnknownCompression", "compression 9", [](BmpBuilder& b) { b.compression = 9; });
  modify("TwoBits", "bit count 2", [](BmpBuilder& b) { b.bits = 2; });
  modify("SixtyFourBits", "bit count 64", [](BmpBuilder& b) { b.bits = 64; });
  modify("Rle8AtFourBits", "BI_RLE8 needs 8", [](BmpBuilder& b) {
    b.compression = 1;
    b.bits = 4;
  });
  modify("Rle4AtEightBits", "BI_RLE4 needs 4", [](BmpBuilder& b) {
    b.compression = 2;
    b.bits = 8;
  });
  modify("BitfieldsAt24", "16 or 32", [](BmpBuilder& b) {
    b.compression = 3;
    b.masks = {1, 2, 4};
  });
  auto bitfields = [](std::vector<std::uint32_t> masks) {
    return [masks](BmpBuilder& b) {
      b.compression = 3;
      b.bits = 32;
      b.width = 1;
      b.rows = {Bytes(4, 1), Bytes(4, 1)};
      b.masks = masks;
    };
  };
  modify("MasksNotContiguous", "not one run of bits", bitfields({0xF0F000, 0xFF00, 0xFF}));
  modify("MasksAllZero", "all zero", bitfields({0, 0, 0}));
  {
    BmpBuilder b = TwentyFourBit(40);
    b.compression = 3;
    b.bits = 16;
    b.masks = {0x1F0000, 0x7E0, 0x1F};
    add("MaskBeyondSixteenBits", b, "does not fit a 16-bit pixel");
    b.masks.clear();
    b.offBitsDelta = 12;  // room for masks that the file does not hold
    Bytes bytes = b.Build();
    bytes.resize(14 + 40 + 6);
    cases.push_back({"TruncatedMasks", bytes, "inside the bit-field masks"});
  }
  {
    BmpBuilder b;
    b.width = 3;
    b.height = 1;
    b.bits = 4;
    b.palette = {1, 2};
    b.rows = {RowOf({0x10, 0x30})};
    add("IndexBeyondPalette", b, "palette index 3 at pixel (2, 0)");
  }
  auto rle = [&](const char* name, Bytes codes, const char* message) {
    add(name, RleFile(4, 2, true, std::move(codes)), message);
  };
  rle("RleRunAbovePicture", RowOf({0, 0, 0, 0, 1, 1, 0, 1}), "above the last row");
  rle("RleEndOfLineAbovePicture", RowOf({0, 0, 0, 0, 0, 0, 0, 1}), "above the last row");
  rle("RleDeltaOutside", RowOf({0, 2, 5, 0, 0, 1}), "delta code moves outside");
  rle("RleDeltaTruncated", RowOf({0, 2, 1}), "ends inside a delta");
  rle("RleAbsoluteTruncated", RowOf({0, 4, 1, 1}), "ends inside an absolute run");
  rle("RleNoEnd", RowOf({4, 1, 0, 0}), "before its end-of-bitmap");
  rle("RleIndexBeyondPalette", RowOf({1, 20, 0, 1}), "palette index 20");
  add("RleTopDown", RleFile(4, -2, true, RowOf({0, 1}), {0}), "cannot be top-down");
  return cases;
}

void PrintTo(const BadCase& c, std::ostream* out) {
  *out << c.name;
}

class BmpBadFileTest : public testing::TestWithParam<BadCase> {};

TEST_P(BmpBadFileTest, RefusedWithClearMessage) {
  const std::string message = DecodeError(GetParam().bytes);
  EXPECT_NE(message.find(GetParam().message), std::string::npos)
      << "message: \"" << message << "\"";
}

INSTANTIATE_TEST_SUITE_P(Malformed, BmpBadFileTest, testing::ValuesIn(BadFiles()),
                         [](const testing::TestParamInfo<BadCase>& info) {
                           return std::string(info.param.name);
                         });

// Fills a bitmap with a pattern that uses every palette entry it has.
Bitmap Pattern(std::int32_t width, std::int32_t height, std::int32_t bits, unsigned colours) {
  Bitmap bmp(width, height, bits);
  for (unsigned i = 0; i < colours; ++i) bmp.Palette().push_back(0x010203u * i + (i << 24));
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* row = bmp.ScanLine(y);
    if (bits <= 8) {
      const int perByte = 8 / bits;
      for (std::int32_t x = 0; x < width; ++x) {
        const unsigned index = (7u * x + 3u * y) % colours;
        row[x / perByte] |= static_cast<std::uint8_t>(index << (8 - bits * (x % perByte + 1)));
      }
    } else {
      const std::size_t used = static_cast<std::size_t>(width) * bits / 8;
      for (std::size_t i = 0; i < used; ++i) row[i] = static_cast<std::uint8_t>(31 * i + 17 * y);
    }
  }
  return bmp;
}

struct DepthCase {
  std::int32_t bits;
  unsigned colours;
  std::array<std::uint32_t, 4> masks;
  const char* compression;
};

class BmpRoundTripTest : public testing::TestWithParam<DepthCase> {};

TEST_P(BmpRoundTripTest, EncodeThenDecodeKeepsEverything) {
  const DepthCase& c = GetParam();
  for (std::int32_t width : {1, 3, 7, 33}) {
    Bitmap bmp = Pattern(width, 5, c.bits, c.colours);
    bmp.Masks() = c.masks;
    BmpInfo info;
    const Bytes bytes = EncodeBmp(bmp);
    const Bitmap back = Decode(bytes, &info);
    EXPECT_EQ(back, bmp) << "width " << width;
    EXPECT_EQ(info.compression, c.compression);
    EXPECT_FALSE(info.topDown);
    // Saving what was read gives the same file.
    EXPECT_EQ(EncodeBmp(back), bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryDepth, BmpRoundTripTest,
    testing::Values(DepthCase{1, 2, {}, "BI_RGB"}, DepthCase{4, 16, {}, "BI_RGB"},
                    DepthCase{4, 5, {}, "BI_RGB"}, DepthCase{8, 256, {}, "BI_RGB"},
                    DepthCase{8, 3, {}, "BI_RGB"},
                    DepthCase{16, 0, {0x7C00, 0x03E0, 0x001F, 0}, "BI_RGB"},
                    DepthCase{16, 0, {0xF800, 0x07E0, 0x001F, 0}, "BI_BITFIELDS"},
                    DepthCase{16, 0, {0x0F00, 0x00F0, 0x000F, 0xF000}, "BI_BITFIELDS"},
                    DepthCase{24, 0, {}, "BI_RGB"}, DepthCase{32, 0, {}, "BI_RGB"}));

TEST(BmpEncodeTest, RleAndTopDownFilesSaveAsPlainBottomUp) {
  BmpBuilder b = RleFile(4, 4, true, Rle8Codes(), std::vector<std::uint32_t>(10, 0x123456));
  const Bitmap rle = Decode(b.Build());
  BmpInfo info;
  EXPECT_EQ(Decode(EncodeBmp(rle), &info), rle);
  EXPECT_EQ(info.compression, "BI_RGB");

  BmpBuilder t = TwentyFourBit(124);
  t.height = -2;
  const Bitmap topDown = Decode(t.Build());
  EXPECT_EQ(Decode(EncodeBmp(topDown), &info), topDown);
  EXPECT_FALSE(info.topDown);
  EXPECT_EQ(info.headerType, "BITMAPINFOHEADER");
}

TEST(BmpEncodeTest, PaletteGrowsToCoverIndexesAndEmptyPictureIsRefused) {
  Bitmap bmp(3, 1, 8);
  bmp.ScanLine(0)[1] = 4;
  const Bitmap back = Decode(EncodeBmp(bmp));
  EXPECT_EQ(back.Palette(), std::vector<std::uint32_t>(5, 0));
  EXPECT_EQ(back.ScanLine(0)[1], 4);
  EXPECT_THROW(EncodeBmp(Bitmap()), FileError);
}

// A fresh, empty folder under the system's temporary folder.
class TempFolder {
 public:
  explicit TempFolder(const std::string& name) : path_(test::TempPath("codecs_" + name)) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, ec);
    fs::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  std::size_t Count() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(path_), {}));
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

Bytes FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

constexpr auto ErrorOf = &test::MessageOf<FileError>;

TEST(BmpFileTest, WriteAndReadBack) {
  TempFolder folder("write");
  const std::string path = folder / "picture.bmp";
  const Bitmap bmp = Pattern(6, 4, 24, 0);
  WriteBmp(bmp, path);
  EXPECT_EQ(FileBytes(path), EncodeBmp(bmp));
  BmpInfo info;
  EXPECT_EQ(ReadBmp(path, &info), bmp);
  EXPECT_EQ(info.headerType, "BITMAPINFOHEADER");
  EXPECT_EQ(folder.Count(), 1u);  // no temporary file left behind

  std::ofstream(folder / "broken.bmp", std::ios::binary) << "BMxx";
  EXPECT_EQ(ErrorOf([&] { ReadBmp(folder / "broken.bmp"); }).rfind(folder / "broken.bmp: ", 0), 0u);
  EXPECT_NE(ErrorOf([&] { ReadBmp(folder / "missing.bmp"); }).find("missing.bmp: cannot open"),
            std::string::npos);
  EXPECT_NE(ErrorOf([&] { ReadBmp(folder.Path().string()); }).find("is a folder"),
            std::string::npos);
}

TEST(BmpFileTest, FailedWritesKeepTheOldFile) {
  TempFolder folder("atomic");
  const std::string path = folder / "keep.bmp";
  const Bitmap old = Pattern(4, 4, 32, 0);
  WriteBmp(old, path);
  const Bytes before = FileBytes(path);

  // Missing folder.
  const std::string nowhere = folder / "no/such/folder/x.bmp";
  EXPECT_EQ(ErrorOf([&] { WriteBmp(old, nowhere); }).rfind(nowhere + ": cannot write", 0), 0u);
  // Nothing to write.
  EXPECT_EQ(ErrorOf([&] { WriteBmp(Bitmap(), path); }), path + ": the picture is empty");
  EXPECT_EQ(FileBytes(path), before);

  // The write itself fails part way (file size limit): the old file stays whole.
  const Bitmap large = Pattern(200, 200, 32, 0);
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string message = ErrorOf([&] { WriteBmp(large, path); });
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(message.rfind(path + ": cannot write", 0), 0u) << message;
  EXPECT_EQ(FileBytes(path), before);
  EXPECT_EQ(folder.Count(), 1u);

  // A read-only file is not replaced.
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(ErrorOf([&] { WriteBmp(large, path); }), path + ": the file is read-only");
  EXPECT_EQ(FileBytes(path), before);

  // A read-only folder, where the system enforces it (not for the superuser).
  fs::permissions(folder.Path(), fs::perms::owner_read | fs::perms::owner_exec);
  const bool enforced = !std::ofstream(folder / "probe");
  if (enforced) {
    EXPECT_NE(ErrorOf([&] { WriteBmp(old, folder / "new.bmp"); }).find("cannot write"),
              std::string::npos);
  }
  fs::permissions(folder.Path(), fs::perms::owner_all);
}

TEST(BmpFileTest, ReplacingKeepsTheFileMode) {
  TempFolder folder("mode");
  const std::string path = folder / "mode.bmp";
  WriteBmp(Pattern(2, 2, 24, 0), path);
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  WriteBmp(Pattern(3, 2, 24, 0), path);
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(ReadBmp(path).Width(), 3);
}

// Truncations, single-byte changes and deterministic random changes of valid files
// of every kind: each must decode to a sound picture or fail with FileError.
TEST(BmpRobustnessTest, MutatedFilesDecodeOrFailCleanly) {
  std::vector<Bytes> seeds;
  seeds.push_back(TwentyFourBit(40).Build());
  seeds.push_back(TwentyFourBit(12).Build());
  seeds.push_back(EncodeBmp(Pattern(5, 3, 8, 7)));
  seeds.push_back(EncodeBmp(Pattern(9, 2, 1, 2)));
  seeds.push_back(EncodeBmp(Pattern(3, 3, 16, 0)));
  {
    BmpBuilder b = RleFile(4, 4, true, Rle8Codes(), std::vector<std::uint32_t>(10, 1));
    seeds.push_back(b.Build());
    b.bits = 4;
    b.compression = 2;
    b.raw = RowOf({3, 0x12, 0, 0, 0, 3, 0x45, 0x60, 0, 2, 1, 1, 2, 0x77, 0, 1});
    seeds.push_back(b.Build());
    b = TwentyFourBit(108);
    b.compression = 3;
    b.bits = 32;
    b.masks = {0xFF, 0xFF00, 0xFF0000, 0xFF000000};
    b.rows = {Bytes(8, 3), Bytes(8, 9)};
    seeds.push_back(b.Build());
    b = TwentyFourBit(40);  // bit fields without their masks
    b.compression = 3;
    b.bits = 16;
    seeds.push_back(b.Build());
  }

  std::uint32_t state = 12345;
  auto next = [&] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  int decoded = 0;
  int refused = 0;
  auto check = [&](const Bytes& bytes) {
    try {
      const Bitmap bmp = Decode(bytes);
      ASSERT_GT(bmp.Width(), 0);
      ASSERT_GT(bmp.Height(), 0);
      // Whatever decodes can be saved and read back unchanged.
      ASSERT_EQ(Decode(EncodeBmp(bmp)), bmp);
      ++decoded;
    } catch (const FileError&) {
      ++refused;
    }
  };
  for (const Bytes& seed : seeds) {
    for (std::size_t n = 0; n < seed.size(); ++n) check(Bytes(seed.begin(), seed.begin() + n));
    for (std::size_t i = 0; i < seed.size(); ++i)
      for (int v : {0x00, 0xFF, 0x80, seed[i] ^ 1, seed[i] + 1, seed[i] - 1}) {
        Bytes m = seed;
        m[i] = static_cast<std::uint8_t>(v);
        check(m);
      }
    for (int k = 0; k < 150; ++k) {
      Bytes m = seed;
      const int changes = 1 + static_cast<int>(next() % 4);
      for (int j = 0; j < changes; ++j) m[next() % m.size()] = static_cast<std::uint8_t>(next());
      if (next() % 4 == 0) m.resize(next() % (m.size() + 1));
      check(m);
    }
  }
  EXPECT_GT(decoded, 100);
  EXPECT_GT(refused, 1000);
}

}  // namespace
}  // namespace tvq
