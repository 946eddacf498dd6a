#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/files.h"
#include "common/pictures.h"
#include "imaging/io/codecs.h"

namespace tvq::codec {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The stored samples of one pixel -> the expected decoded sample of channel c.
using Expect = std::function<float(const std::uint32_t* stored, int c)>;

// How a fixture file is laid out; written with libtiff itself.
struct Layout {
  std::uint16_t photometric = PHOTOMETRIC_RGB;
  std::uint16_t bits = 8;
  std::uint16_t samples = 3;
  bool separate = false;
  bool tiled = false;
  std::vector<std::uint16_t> extra;  // kinds of the extra samples
  std::uint16_t orientation = ORIENTATION_TOPLEFT;
};

Layout L(std::uint16_t photometric, std::uint16_t bits, std::uint16_t samples,
         bool separate = false, bool tiled = false, std::vector<std::uint16_t> extra = {}) {
  return {photometric, bits, samples, separate, tiled, std::move(extra)};
}

std::uint32_t StoredValue(int x, int y, int s, int bits) {
  const std::uint32_t v = static_cast<std::uint32_t>(x * 2654435761u + y * 40503u + s * 977u);
  return bits == 16 ? (v >> 8) & 0xFFFF : bits == 8 ? (v >> 8) & 0xFF : (v >> 3) & 1;
}

// Packs samples of one row (or tile row) at the given depth; 1-bit rows start on a byte.
void Pack(Bytes& out, const std::vector<std::uint32_t>& values, int bits) {
  if (bits == 1) {
    for (std::size_t i = 0; i < values.size(); i += 8) {
      std::uint8_t byte = 0;
      for (std::size_t k = 0; k < 8 && i + k < values.size(); ++k)
        byte |= static_cast<std::uint8_t>(values[i + k] << (7 - k));
      out.push_back(byte);
    }
  } else {
    for (std::uint32_t v : values) {
      if (bits == 8) {
        out.push_back(static_cast<std::uint8_t>(v));
      } else {
        const std::uint16_t word = static_cast<std::uint16_t>(v);
        out.resize(out.size() + 2);
        std::memcpy(out.data() + out.size() - 2, &word, 2);
      }
    }
  }
}

// A width x height file whose samples are StoredValue (0 outside the picture in
// tiles), in 16 x 16 tiles or strips of 5 rows; palettes get colour map `map`.
Bytes WriteFixture(const Layout& l, int width, int height, const std::uint16_t* map = nullptr) {
  const std::string path = test::TempPath("tiff_fixture.tif").string();
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  EXPECT_NE(tif, nullptr);
  if (tif == nullptr) return {};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, l.samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.photometric);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, l.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, l.orientation);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  if (!l.extra.empty())
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, static_cast<std::uint16_t>(l.extra.size()),
                 l.extra.data());
  if (map != nullptr) {
    const std::size_t n = std::size_t{1} << l.bits;
    TIFFSetField(tif, TIFFTAG_COLORMAP, map, map + n, map + 2 * n);
  }
  const int planes = l.separate ? l.samples : 1;
  const int perPixel = l.separate ? 1 : l.samples;
  const int side = l.tiled ? 16 : 5;
  const auto block = [&](int x0, int y0, int w, int h, int plane) {
    Bytes bytes;
    for (int y = y0; y < y0 + h; ++y) {
      std::vector<std::uint32_t> row;
      for (int x = x0; x < x0 + w; ++x)
        for (int s = 0; s < perPixel; ++s)
          row.push_back(x < width && y < height ? StoredValue(x, y, plane + s, l.bits) : 0);
      Pack(bytes, row, l.bits);
    }
    return bytes;
  };
  if (l.tiled) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, side);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, side);
    for (int plane = 0; plane < planes; ++plane)
      for (int y = 0; y < height; y += side)
        for (int x = 0; x < width; x += side) {
          Bytes tile = block(x, y, side, side, plane);
          EXPECT_GT(TIFFWriteTile(tif, tile.data(), x, y, 0, plane), 0);
        }
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, side);
    for (int plane = 0, strip = 0; plane < planes; ++plane)
      for (int y = 0; y < height; y += side, ++strip) {
        Bytes rows = block(0, y, width, std::min(side, height - y), plane);
        EXPECT_GE(TIFFWriteEncodedStrip(tif, strip, rows.data(), rows.size()), 0);
      }
  }
  TIFFClose(tif);
  Bytes bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::filesystem::remove(path);
  return bytes;
}

float Word(std::uint32_t v) {
  return WordToSample(static_cast<std::uint16_t>(v));
}
float Byte(std::uint32_t v) {
  return static_cast<float>(v);
}
float Unpremultiply(std::uint32_t c, std::uint32_t a) {
  return a == 0 ? 0.0f : static_cast<float>(std::min(255u, (c * 255 + a / 2) / a));
}
std::uint16_t PaletteEntry(std::size_t i, int c) {
  return static_cast<std::uint16_t>(((i * (c + 3) + 17 * c) & 0xFF) * 257);
}

struct DecodeCase {
  const char* name;
  Layout layout;
  std::int32_t channels;
  std::int32_t bits;
  Expect expect;
};

TEST(TiffDecode, LayoutsAndPhotometrics) {
  std::vector<std::uint16_t> palette(3 * 256);
  for (std::size_t i = 0; i < 256; ++i)
    for (int c = 0; c < 3; ++c) palette[c * 256 + i] = PaletteEntry(i, c);
  const std::uint16_t un = EXTRASAMPLE_UNASSALPHA;
  const std::uint16_t as = EXTRASAMPLE_ASSOCALPHA;
  const std::uint16_t kindless = EXTRASAMPLE_UNSPECIFIED;
  const Expect same8 = [](const std::uint32_t* s, int c) { return Byte(s[c]); };
  const Expect same16 = [](const std::uint32_t* s, int c) { return Word(s[c]); };
  const DecodeCase cases[] = {
      {"separate RGB strips", L(PHOTOMETRIC_RGB, 8, 3, true), 3, 8, same8},
      {"tiled RGBA 16", L(PHOTOMETRIC_RGB, 16, 4, false, true, {un}), 4, 16, same16},
      {"tiled separate grey alpha", L(PHOTOMETRIC_MINISBLACK, 8, 2, true, true, {un}), 2, 8, same8},
      {"grey 16", L(PHOTOMETRIC_MINISBLACK, 16, 1), 1, 16, same16},
      {"min-is-white 16", L(PHOTOMETRIC_MINISWHITE, 16, 1), 1, 16,
       [](const std::uint32_t* s, int) { return Word(65535 - s[0]); }},
      {"min-is-white 8", L(PHOTOMETRIC_MINISWHITE, 8, 1), 1, 8,
       [](const std::uint32_t* s, int) { return Byte(255 - s[0]); }},
      {"palette", L(PHOTOMETRIC_PALETTE, 8, 1), 3, 8,
       [](const std::uint32_t* s, int c) { return Byte(PaletteEntry(s[0], c) / 257); }},
      {"associated alpha", L(PHOTOMETRIC_RGB, 8, 4, false, false, {as}), 4, 8,
       [](const std::uint32_t* s, int c) {
         return c == 3 ? Byte(s[3]) : Unpremultiply(s[c], s[3]);
       }},
      {"extra samples past alpha", L(PHOTOMETRIC_RGB, 8, 5, true, false, {kindless, un}), 4, 8,
       same8},
      {"1-bit through RGBA", L(PHOTOMETRIC_MINISBLACK, 1, 1), 1, 8,
       [](const std::uint32_t* s, int) { return Byte(s[0] * 255); }},
      {"CMYK through RGBA", L(PHOTOMETRIC_SEPARATED, 8, 4), 3, 8,
       [](const std::uint32_t* s, int c) { return Byte((255 - s[3]) * (255 - s[c]) / 255); }},
  };
  const int width = 37;
  const int height = 21;
  for (const DecodeCase& t : cases) {
    SCOPED_TRACE(t.name);
    const Bytes file =
        WriteFixture(t.layout, width, height,
                     t.layout.photometric == PHOTOMETRIC_PALETTE ? palette.data() : nullptr);
    const Picture p = DecodeTiff(file.data(), file.size());
    ASSERT_EQ(p.width, width);
    ASSERT_EQ(p.height, height);
    ASSERT_EQ(p.channels, t.channels);
    EXPECT_EQ(p.bitsPerChannel, t.bits);
    ASSERT_EQ(p.samples.size(), static_cast<std::size_t>(width) * height * t.channels);
    int wrong = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        std::uint32_t stored[8];
        for (int s = 0; s < t.layout.samples; ++s) stored[s] = StoredValue(x, y, s, t.layout.bits);
        for (int c = 0; c < t.channels; ++c)
          wrong += p.samples[(static_cast<std::size_t>(y) * width + x) * t.channels + c] !=
                   t.expect(stored, c);
      }
    EXPECT_EQ(wrong, 0);
  }
}

TEST(TiffDecode, OrientationTagIsAppliedOnce) {
  for (int bits : {8, 1})  // read directly, and through libtiff's RGBA reader
    for (std::uint16_t o = 1; o <= 8; ++o) {
      SCOPED_TRACE("bits " + std::to_string(bits) + ", orientation " + std::to_string(o));
      Layout l = L(PHOTOMETRIC_MINISBLACK, static_cast<std::uint16_t>(bits), 1);
      const Bytes stored = WriteFixture(l, 5, 3);
      l.orientation = o;
      const Bytes file = WriteFixture(l, 5, 3);
      Picture expected = DecodeTiff(stored.data(), stored.size());
      ApplyOrientation(expected, o);
      const Picture p = DecodeTiff(file.data(), file.size());
      EXPECT_EQ(p.orientation, o);
      EXPECT_EQ(p.width, expected.width);
      EXPECT_EQ(p.height, expected.height);
      EXPECT_TRUE(p.samples == expected.samples);
    }
}

Picture RandomPicture(int width, int height, int channels, int bits, unsigned seed) {
  std::mt19937 random(seed);
  return test::MakePicture(width, height, channels, bits, [&](int, int, int) {
    return bits == 16 ? Word(random() & 0xFFFF) : Byte(random() & 0xFF);
  });
}

TEST(TiffRoundTrip, EveryDepthAndChannelCountIsExactWithItsProfile) {
  for (int bits : {8, 16})
    for (int channels = 1; channels <= 4; ++channels) {
      SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(channels) + " channels");
      // Wide enough for several strips of about 64 KiB.
      Picture in = RandomPicture(301, 97, channels, bits, static_cast<unsigned>(bits * channels));
      in.icc = {'i', 'c', 'c', 0, 1, 2, 255, static_cast<std::uint8_t>(channels)};
      const Bytes file = EncodeTiff(in);
      const Picture out = DecodeTiff(file.data(), file.size());
      EXPECT_EQ(out.width, in.width);
      EXPECT_EQ(out.height, in.height);
      EXPECT_EQ(out.channels, in.channels);
      EXPECT_EQ(out.bitsPerChannel, bits);
      EXPECT_EQ(out.orientation, 1);
      EXPECT_EQ(out.icc, in.icc);
      EXPECT_TRUE(out.samples == in.samples);
    }
}

TEST(TiffDecode, TruncatedFilesAreRefused) {
  const Bytes file = EncodeTiff(RandomPicture(64, 48, 4, 8, 5));
  for (std::size_t size : {std::size_t{0}, std::size_t{7}, std::size_t{8}, file.size() / 3,
                           file.size() / 2, file.size() - 200, file.size() - 1}) {
    SCOPED_TRACE(size);
    EXPECT_THROW(DecodeTiff(file.data(), size), FileError);
  }
}

}  // namespace
}  // namespace tvq::codec
