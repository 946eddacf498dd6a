// Writes the fuzzers' seed corpus: small files of every layout each decoder reads,
// and argument lists of the command-line tool. Run it from the source tree to
// refresh the stored corpus after a codec learns a new layout:
//   cmake --build build-fuzz --target fuzz_make_corpus
//   build-fuzz/fuzz/fuzz_make_corpus fuzz/corpus
// The pictures are a few dozen pixels of a fixed pattern, so every run writes the
// same bytes and the whole corpus stays far below a megabyte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include "common/hostile_files.h"
#include "common/jpeg_markers.h"
#include "common/metadata_blocks.h"
#include "common/pictures.h"
#include "common/png_builder.h"
#include "imaging/io/picture.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

fs::path gRoot;

void Save(const std::string& harness, const std::string& name, const Bytes& bytes) {
  const fs::path folder = gRoot / harness;
  fs::create_directories(folder);
  std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + (folder / name).string());
}

// The pattern every picture shows: a diagonal ramp with a bright square and some
// fixed noise, channel c shifted so that the channels differ. 0..255.
std::uint32_t Pattern(std::uint32_t x, std::uint32_t y, int c) {
  std::uint32_t v = (x * 11 + y * 7 + static_cast<std::uint32_t>(c) * 60) % 200;
  if (x >= 3 && x < 8 && y >= 2 && y < 6) v = 250 - static_cast<std::uint32_t>(c) * 20;
  const std::uint32_t noise = (x * 2654435761u ^ y * 40503u ^ static_cast<std::uint32_t>(c)) >> 28;
  return (v + noise) & 255;
}

// Pattern scaled to `bits` bits.
std::uint32_t PatternBits(std::uint32_t x, std::uint32_t y, int c, int bits) {
  const std::uint32_t v = Pattern(x, y, c);
  if (bits == 16) return v * 257 + ((x * 31 + y) & 255);
  return v >> (8 - bits);
}

tvq::Picture PatternPicture(int width, int height, int channels, int bits) {
  return tvq::test::MakePicture(width, height, channels, bits, [&](int x, int y, int c) {
    const bool alpha = (channels == 2 && c == 1) || (channels == 4 && c == 3);
    const std::uint32_t v =
        alpha ? (x < width / 3       ? 0u
                 : x < 2 * width / 3 ? 128u
                                     : 255u)
              : Pattern(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), c);
    return static_cast<float>(v);
  });
}

void Put(Bytes& b, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// ---- BMP -------------------------------------------------------------------

struct BmpLayout {
  std::string name;
  int bits;
  std::uint32_t compression;  // 0 none, 1 RLE8, 2 RLE4, 3 bit fields
  std::uint32_t headerSize;   // 12, 40, 108 or 124
  bool topDown;
  std::vector<std::uint32_t> masks;  // red, green, blue (, alpha) for bit fields
};

// Palette index, 16-bit word or 24/32-bit colour of the pattern at (x, y).
std::uint32_t BmpValue(const BmpLayout& l, std::uint32_t x, std::uint32_t y) {
  if (l.bits <= 8) return Pattern(x, y, 0) >> (8 - l.bits);
  const std::uint32_t r = Pattern(x, y, 0), g = Pattern(x, y, 1), b = Pattern(x, y, 2);
  if (l.bits == 16)
    return l.masks.empty() ? ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)
                           : ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
  return (r << 16) | (g << 8) | b | (l.bits == 32 && !l.masks.empty() ? (x * 40u) << 24 : 0u);
}

// Run-length data of one row: runs of equal values in encoded mode, other stretches
// of three or more in absolute mode (padded to a word), pixels packed two to a byte
// for RLE4.
void RleRow(Bytes& out, const std::vector<std::uint32_t>& row, bool four) {
  std::size_t x = 0;
  while (x < row.size()) {
    std::size_t run = 1;
    while (x + run < row.size() && run < 255 && row[x + run] == row[x]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<std::uint8_t>(run));
      out.push_back(static_cast<std::uint8_t>(four ? (row[x] << 4) | row[x] : row[x]));
      x += run;
      continue;
    }
    std::size_t n = 1;
    while (x + n < row.size() && n < 255 &&
           (x + n + 1 >= row.size() || row[x + n] != row[x + n + 1]))
      ++n;
    if (n < 3) {
      for (std::size_t i = 0; i < n; ++i) {
        out.push_back(1);
        out.push_back(static_cast<std::uint8_t>(four ? row[x + i] << 4 : row[x + i]));
      }
    } else {
      out.push_back(0);
      out.push_back(static_cast<std::uint8_t>(n));
      std::size_t bytes = 0;
      for (std::size_t i = 0; i < n; i += four ? 2 : 1, ++bytes)
        out.push_back(static_cast<std::uint8_t>(
            four ? (row[x + i] << 4) | (i + 1 < n ? row[x + i + 1] : 0) : row[x + i]));
      if (bytes % 2 != 0) out.push_back(0);
    }
    x += n;
  }
}

Bytes BuildBmp(const BmpLayout& l, std::uint32_t width, std::uint32_t height, bool delta) {
  Bytes pixels;
  const bool rle = l.compression == 1 || l.compression == 2;
  for (std::uint32_t i = 0; i < height; ++i) {
    const std::uint32_t y = l.topDown ? i : height - 1 - i;  // file order
    std::vector<std::uint32_t> row;
    for (std::uint32_t x = 0; x < width; ++x) row.push_back(BmpValue(l, x, y));
    if (rle) {
      // A run of equal pixels for the encoded mode.
      for (std::uint32_t x = 2; x < 6 && x < width; ++x) row[x] = row[1];
      if (delta && i == 1) {
        Put(pixels, 0x0200, 2);  // delta: two right, one down
        pixels.push_back(2);
        pixels.push_back(1);
        pixels.insert(pixels.end(), {0, 0});
        continue;
      }
      RleRow(pixels, row, l.compression == 2);
      if (delta && i + 3 == height) break;  // end of bitmap before the last rows
      pixels.insert(pixels.end(), {0, 0});
      continue;
    }
    const std::size_t start = pixels.size();
    std::uint32_t acc = 0;
    int used = 0;
    for (std::uint32_t v : row) {
      if (l.bits < 8) {
        acc = (acc << l.bits) | v;
        used += l.bits;
        if (used == 8) {
          pixels.push_back(static_cast<std::uint8_t>(acc));
          acc = 0;
          used = 0;
        }
      } else {
        Put(pixels, v, l.bits / 8);
      }
    }
    if (used > 0) pixels.push_back(static_cast<std::uint8_t>(acc << (8 - used)));
    while ((pixels.size() - start) % 4 != 0) pixels.push_back(0);
  }
  if (rle) pixels.insert(pixels.end(), {0, 1});

  Bytes palette;
  if (l.bits <= 8)
    for (std::uint32_t i = 0; i < (1u << l.bits); ++i) {
      const std::uint32_t v = i * 255 / ((1u << l.bits) - 1);
      palette.insert(palette.end(),
                     {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(255 - v),
                      static_cast<std::uint8_t>(v / 2)});
      if (l.headerSize != 12) palette.push_back(0);
    }
  Bytes info;
  Put(info, l.headerSize, 4);
  if (l.headerSize == 12) {
    Put(info, width, 2);
    Put(info, height, 2);
    Put(info, 1, 2);
    Put(info, static_cast<std::uint32_t>(l.bits), 2);
  } else {
    Put(info, width, 4);
    Put(info, l.topDown ? 0u - height : height, 4);
    Put(info, 1, 2);
    Put(info, static_cast<std::uint32_t>(l.bits), 2);
    Put(info, l.compression, 4);
    Put(info, static_cast<std::uint32_t>(pixels.size()), 4);
    Put(info, 2835, 4);
    Put(info, 2835, 4);
    Put(info, 0, 4);
    Put(info, 0, 4);
    if (l.headerSize >= 108) {
      for (std::size_t i = 0; i < 4; ++i) Put(info, i < l.masks.size() ? l.masks[i] : 0, 4);
      Put(info, 0x73524742, 4);  // "sRGB"
      info.resize(l.headerSize, 0);
    } else if (l.compression == 3) {
      for (std::size_t i = 0; i < 3; ++i) Put(info, l.masks[i], 4);
    }
  }
  Bytes file = {'B', 'M'};
  const std::uint32_t offset = static_cast<std::uint32_t>(14 + info.size() + palette.size());
  Put(file, offset + static_cast<std::uint32_t>(pixels.size()), 4);
  Put(file, 0, 4);
  Put(file, offset, 4);
  file.insert(file.end(), info.begin(), info.end());
  file.insert(file.end(), palette.begin(), palette.end());
  file.insert(file.end(), pixels.begin(), pixels.end());
  return file;
}

void WriteBmpCorpus() {
  const std::vector<std::uint32_t> m565 = {0xF800, 0x07E0, 0x001F};
  const std::vector<std::uint32_t> m8888 = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  const std::vector<std::uint32_t> m1010 = {0x3FF00000, 0x000FFC00, 0x000003FF};
  const std::vector<BmpLayout> layouts = {
      {"1bit", 1, 0, 40, false, {}},
      {"4bit", 4, 0, 40, false, {}},
      {"8bit", 8, 0, 40, false, {}},
      {"8bit_core", 8, 0, 12, false, {}},
      {"16bit_555", 16, 0, 40, false, {}},
      {"16bit_565", 16, 3, 40, false, m565},
      {"24bit", 24, 0, 40, false, {}},
      {"24bit_topdown", 24, 0, 40, true, {}},
      {"24bit_v4", 24, 0, 108, false, {}},
      {"32bit", 32, 0, 40, false, {}},
      {"32bit_v5_alpha", 32, 3, 124, false, m8888},
      {"32bit_101010", 32, 3, 40, false, m1010},
      {"rle8", 8, 1, 40, false, {}},
      {"rle4", 4, 2, 40, false, {}},
  };
  for (const BmpLayout& l : layouts) Save("bmp", l.name + ".bmp", BuildBmp(l, 13, 11, false));
  Save("bmp", "rle8_delta.bmp", BuildBmp(layouts[12], 13, 11, true));
  Save("bmp", "rle4_delta.bmp", BuildBmp(layouts[13], 13, 11, true));
  // The library's own writer: a command's 32-bit result.
  Save("bmp", "result.bmp",
       tvq::EncodePicture(PatternPicture(9, 7, 3, 8), tvq::PictureFormat::kBmp));
}

// ---- PFM -------------------------------------------------------------------

Bytes BuildPfm(int width, int height, bool colour, bool bigEndian, bool special) {
  const std::string header = std::string(colour ? "PF" : "Pf") + "\n" + std::to_string(width) +
                             " " + std::to_string(height) + "\n" + (bigEndian ? "1.0" : "-1.0") +
                             "\n";
  Bytes file(header.begin(), header.end());
  const int channels = colour ? 3 : 1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) {
        float v = static_cast<float>(
                      Pattern(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), c)) +
                  0.25f;
        if (special && x == 0) {
          const float values[] = {-3.5f, 1e30f, -0.0f, 300.0f, 1e-40f};
          v = values[y % 5];
        }
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        for (int i = 0; i < 4; ++i)
          file.push_back(static_cast<std::uint8_t>(bits >> (8 * (bigEndian ? 3 - i : i))));
      }
  return file;
}

void WritePfmCorpus() {
  Save("pfm", "grey_le.pfm", BuildPfm(13, 11, false, false, false));
  Save("pfm", "grey_be.pfm", BuildPfm(13, 11, false, true, false));
  Save("pfm", "colour_le.pfm", BuildPfm(9, 7, true, false, false));
  Save("pfm", "colour_be.pfm", BuildPfm(9, 7, true, true, true));
  Save("pfm", "grey_special.pfm", BuildPfm(5, 5, false, false, true));
  Save("pfm", "result.pfm",
       tvq::EncodePicture(PatternPicture(6, 5, 3, 8), tvq::PictureFormat::kPfm));
}

// ---- PNG -------------------------------------------------------------------

void WritePngCorpus() {
  using tvq::pngtest::BuildPng;
  using tvq::pngtest::Chunk;
  struct Layout {
    std::string name;
    int depth, colourType, channels;
    bool interlaced;
  };
  const std::vector<Layout> layouts = {
      {"grey1", 1, 0, 1, false},     {"grey2", 2, 0, 1, false},    {"grey4", 4, 0, 1, true},
      {"grey8", 8, 0, 1, false},     {"grey16", 16, 0, 1, false},  {"rgb8", 8, 2, 3, false},
      {"rgb8_adam7", 8, 2, 3, true}, {"rgb16", 16, 2, 3, false},   {"greya8", 8, 4, 2, false},
      {"greya16", 16, 4, 2, true},   {"rgba8", 8, 6, 4, false},    {"rgba16", 16, 6, 4, false},
      {"palette1", 1, 3, 1, false},  {"palette4", 4, 3, 1, false}, {"palette8", 8, 3, 1, true},
  };
  for (const Layout& l : layouts) {
    std::vector<Chunk> extra;
    if (l.colourType == 3) {
      Bytes plte;
      for (int i = 0; i < (1 << l.depth); ++i)
        plte.insert(plte.end(),
                    {static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(255 - i),
                     static_cast<std::uint8_t>(i * 3)});
      extra.push_back({"PLTE", plte});
      if (l.depth == 8) extra.push_back({"tRNS", {0, 64, 128}});
    }
    if (l.name == "grey8") extra.push_back({"tRNS", {0, 100}});
    if (l.name == "rgb8") extra.push_back({"eXIf", tvq::testblocks::ExifBlock(false, 3, 1, 6)});
    const auto sample = [&](std::uint32_t x, std::uint32_t y, int c) {
      if (l.colourType == 3) return Pattern(x, y, 0) >> (8 - l.depth);
      return PatternBits(x, y, c, l.depth);
    };
    Save("png", l.name + ".png",
         BuildPng(13, 11, l.depth, l.colourType, l.channels, l.interlaced, sample, extra));
  }
  // Compressed files from the library's writer, one with a colour profile.
  tvq::Picture rgb = PatternPicture(12, 9, 3, 8);
  rgb.icc = tvq::testblocks::IccProfile("RGB ");
  Save("png", "written_rgb_icc.png", tvq::EncodePicture(rgb, tvq::PictureFormat::kPng));
  Save("png", "written_rgba16.png",
       tvq::EncodePicture(PatternPicture(12, 9, 4, 16), tvq::PictureFormat::kPng));
}

// ---- JPEG ------------------------------------------------------------------

// A JPEG file from libjpeg directly, for what the library's writer never makes.
Bytes LibJpeg(int width, int height, J_COLOR_SPACE space, int components, bool progressive,
              bool arithmetic, int restart) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 85, TRUE);
  if (progressive) jpeg_simple_progression(&cinfo);
  cinfo.arith_code = arithmetic ? TRUE : FALSE;
  cinfo.restart_interval = static_cast<unsigned>(restart);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(width * components));
  while (cinfo.next_scanline < cinfo.image_height) {
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < components; ++c)
        row[static_cast<std::size_t>(x * components + c)] =
            static_cast<JSAMPLE>(Pattern(static_cast<std::uint32_t>(x), cinfo.next_scanline, c));
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes file(buffer, buffer + size);
  std::free(buffer);
  return file;
}

void WriteJpegCorpus() {
  using tvq::PictureFormat;
  Save("jpeg", "grey.jpg",
       tvq::EncodePicture(PatternPicture(19, 13, 1, 8), PictureFormat::kJpeg, {90}));
  Save("jpeg", "rgb444.jpg",
       tvq::EncodePicture(PatternPicture(19, 13, 3, 8), PictureFormat::kJpeg, {95}));
  Save("jpeg", "rgb420.jpg",
       tvq::EncodePicture(PatternPicture(19, 13, 3, 8), PictureFormat::kJpeg, {50}));
  tvq::Picture icc = PatternPicture(9, 8, 3, 8);
  icc.icc = tvq::testblocks::IccProfile("RGB ");
  Save("jpeg", "rgb_icc.jpg", tvq::EncodePicture(icc, PictureFormat::kJpeg, {80}));
  Save("jpeg", "rgb_exif6.jpg",
       tvq::jpegtest::WithExif(
           tvq::EncodePicture(PatternPicture(11, 7, 3, 8), PictureFormat::kJpeg, {80}),
           tvq::testblocks::ExifBlock(true, 3, 1, 6)));
  Save("jpeg", "progressive.jpg", LibJpeg(19, 13, JCS_RGB, 3, true, false, 0));
  Save("jpeg", "progressive_grey.jpg", LibJpeg(17, 9, JCS_GRAYSCALE, 1, true, false, 0));
  Save("jpeg", "cmyk.jpg", LibJpeg(13, 11, JCS_CMYK, 4, false, false, 0));
  Save("jpeg", "restart.jpg", LibJpeg(24, 16, JCS_RGB, 3, false, false, 1));
  Save("jpeg", "arithmetic.jpg", LibJpeg(13, 11, JCS_RGB, 3, false, true, 0));
}

// ---- TIFF ------------------------------------------------------------------

struct TiffLayout {
  std::string name;
  int bits, samples;
  std::uint16_t photometric, compression;
  bool separate, tiled;
  std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
  std::uint16_t orientation = ORIENTATION_TOPLEFT;
};

void PackRow(Bytes& out, const std::vector<std::uint32_t>& values, int bits) {
  std::uint32_t acc = 0;
  int used = 0;
  for (std::uint32_t v : values) {
    if (bits == 16) {
      Put(out, v, 2);  // host order, as libtiff expects
      continue;
    }
    if (bits == 32) {
      const float f = static_cast<float>(v) / 255.0f;
      std::uint32_t w;
      std::memcpy(&w, &f, 4);
      Put(out, w, 4);
      continue;
    }
    acc = (acc << bits) | v;
    used += bits;
    if (used == 8) {
      out.push_back(static_cast<std::uint8_t>(acc));
      acc = 0;
      used = 0;
    }
  }
  if (used > 0) out.push_back(static_cast<std::uint8_t>(acc << (8 - used)));
}

Bytes BuildTiff(const TiffLayout& l, int width, int height) {
  const fs::path path = gRoot / "tiff-scratch.tif";
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) throw std::runtime_error("libtiff cannot write " + path.string());
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, l.samples);
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, l.sampleFormat);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.photometric);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, l.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, l.orientation);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, l.compression);
  if (l.compression == COMPRESSION_LZW || l.compression == COMPRESSION_ADOBE_DEFLATE)
    TIFFSetField(tif, TIFFTAG_PREDICTOR, l.bits == 8 ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE);
  const bool alpha = (l.photometric == PHOTOMETRIC_RGB && l.samples == 4) ||
                     (l.photometric == PHOTOMETRIC_MINISBLACK && l.samples == 2);
  if (alpha) {
    const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  std::vector<std::uint16_t> map;
  if (l.photometric == PHOTOMETRIC_PALETTE) {
    const std::size_t n = std::size_t{1} << l.bits;
    for (std::size_t i = 0; i < 3 * n; ++i) map.push_back(static_cast<std::uint16_t>(i * 997));
    TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
  }
  const int planes = l.separate ? l.samples : 1;
  const int perPixel = l.separate ? 1 : l.samples;
  const auto block = [&](int x0, int y0, int w, int h, int plane) {
    Bytes bytes;
    for (int y = y0; y < y0 + h; ++y) {
      std::vector<std::uint32_t> row;
      for (int x = x0; x < x0 + w; ++x)
        for (int s = 0; s < perPixel; ++s)
          row.push_back(x < width && y < height ? PatternBits(static_cast<std::uint32_t>(x),
                                                              static_cast<std::uint32_t>(y),
                                                              plane + s, l.bits == 32 ? 8 : l.bits)
                                                : 0);
      PackRow(bytes, row, l.bits);
    }
    return bytes;
  };
  bool ok = true;
  if (l.tiled) {
    const int side = 16;
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, side);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, side);
    for (int plane = 0; plane < planes; ++plane)
      for (int y = 0; y < height; y += side)
        for (int x = 0; x < width; x += side) {
          Bytes tile = block(x, y, side, side, plane);
          ok = ok && TIFFWriteTile(tif, tile.data(), static_cast<std::uint32_t>(x),
                                   static_cast<std::uint32_t>(y), 0,
                                   static_cast<std::uint16_t>(plane)) > 0;
        }
  } else {
    const int rowsPerStrip = l.compression == COMPRESSION_JPEG ? 8 : 5;
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    for (int plane = 0, strip = 0; plane < planes; ++plane)
      for (int y = 0; y < height; y += rowsPerStrip, ++strip) {
        Bytes rows = block(0, y, width, std::min(rowsPerStrip, height - y), plane);
        ok = ok && TIFFWriteEncodedStrip(tif, static_cast<std::uint32_t>(strip), rows.data(),
                                         static_cast<tmsize_t>(rows.size())) >= 0;
      }
  }
  TIFFClose(tif);
  std::ifstream in(path, std::ios::binary);
  Bytes file{std::istreambuf_iterator<char>(in), {}};
  in.close();
  fs::remove(path);
  if (!ok) throw std::runtime_error("libtiff cannot write the layout " + l.name);
  return file;
}

void WriteTiffCorpus() {
  const std::vector<TiffLayout> layouts = {
      {"rgb8_strips", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_NONE, false, false},
      {"rgb8_lzw", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW, false, false},
      {"rgb8_tiles", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_NONE, false, true},
      {"rgb8_planar", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_NONE, true, false},
      {"rgb8_planar_tiles", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE, true, true},
      {"rgb16", 16, 3, PHOTOMETRIC_RGB, COMPRESSION_NONE, false, false},
      {"rgb16_tiles", 16, 3, PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE, false, true},
      {"rgba8", 8, 4, PHOTOMETRIC_RGB, COMPRESSION_PACKBITS, false, false},
      {"rgba16_planar", 16, 4, PHOTOMETRIC_RGB, COMPRESSION_NONE, true, false},
      {"grey1_white", 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_NONE, false, false},
      {"grey4", 4, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, false, false},
      {"grey8_deflate", 8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_ADOBE_DEFLATE, false, false},
      {"grey16", 16, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, false, false},
      {"greya8", 8, 2, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, false, false},
      {"palette4", 4, 1, PHOTOMETRIC_PALETTE, COMPRESSION_NONE, false, false},
      {"palette8", 8, 1, PHOTOMETRIC_PALETTE, COMPRESSION_LZW, false, false},
      {"rgb8_jpeg", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_JPEG, false, false},
      {"float32", 32, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, false, false,
       SAMPLEFORMAT_IEEEFP},
      {"rgb8_bottomright", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_NONE, false, false, SAMPLEFORMAT_UINT,
       ORIENTATION_BOTRIGHT},
  };
  for (const TiffLayout& l : layouts) Save("tiff", l.name + ".tif", BuildTiff(l, 20, 18));
  tvq::Picture icc = PatternPicture(10, 6, 3, 8);
  icc.icc = tvq::testblocks::IccProfile("RGB ");
  Save("tiff", "written_rgb_icc.tif", tvq::EncodePicture(icc, tvq::PictureFormat::kTiff));
}

// ---- WebP ------------------------------------------------------------------

Bytes AnimatedWebp(int width, int height) {
  WebPAnimEncoderOptions options;
  if (!WebPAnimEncoderOptionsInit(&options)) throw std::runtime_error("libwebp version mismatch");
  WebPAnimEncoder* encoder = WebPAnimEncoderNew(width, height, &options);
  WebPConfig config;
  WebPConfigInit(&config);
  for (int frame = 0; frame < 2; ++frame) {
    config.lossless = frame == 0 ? 1 : 0;
    Bytes rgba;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < 4; ++c)
          rgba.push_back(
              static_cast<std::uint8_t>(c == 3 ? 255
                                               : Pattern(static_cast<std::uint32_t>(x + frame),
                                                         static_cast<std::uint32_t>(y), c)));
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.use_argb = 1;
    picture.width = width;
    picture.height = height;
    WebPPictureImportRGBA(&picture, rgba.data(), width * 4);
    WebPAnimEncoderAdd(encoder, &picture, frame * 100, &config);
    WebPPictureFree(&picture);
  }
  WebPAnimEncoderAdd(encoder, nullptr, 200, nullptr);
  WebPData data;
  WebPDataInit(&data);
  const bool ok = WebPAnimEncoderAssemble(encoder, &data);
  WebPAnimEncoderDelete(encoder);
  Bytes file(data.bytes, data.bytes + data.size);
  WebPDataClear(&data);
  if (!ok) throw std::runtime_error("libwebp cannot assemble an animation");
  return file;
}

void WriteWebpCorpus() {
  using tvq::PictureFormat;
  Save("webp", "lossy.webp",
       tvq::EncodePicture(PatternPicture(13, 11, 3, 8), PictureFormat::kWebp, {80}));
  Save("webp", "lossless.webp",
       tvq::EncodePicture(PatternPicture(13, 11, 3, 8), PictureFormat::kWebp, {100}));
  Save("webp", "lossy_alpha.webp",
       tvq::EncodePicture(PatternPicture(13, 11, 4, 8), PictureFormat::kWebp, {70}));
  tvq::Picture icc = PatternPicture(9, 7, 4, 8);
  icc.icc = tvq::testblocks::IccProfile("RGB ");
  Save("webp", "lossless_alpha_icc.webp", tvq::EncodePicture(icc, PictureFormat::kWebp, {100}));
  Save("webp", "animated.webp", AnimatedWebp(9, 7));
}

// ---- Crafted hostile files -------------------------------------------------

// Files that cost much or nothing at all depending on how a reader meets them:
// chunks declaring more bytes than the file has, an animation canvas far beyond its
// frame, damaged ICC markers, an overlong header field, an EXIF chunk after the
// image data.
void WriteCraftedCorpus() {
  using tvq::PictureFormat;
  const Bytes png = tvq::pngtest::BuildPng(
      3, 2, 8, 2, 3, false,
      [](std::uint32_t x, std::uint32_t y, int c) { return Pattern(x, y, c); });
  for (const char* type : {"tEXt", "zTXt", "iTXt", "sPLT"}) {
    Bytes file(png.begin(), png.begin() + 33);  // signature and header
    tvq::pngtest::PutBig32(file, 0x7FFFFFFF);
    file.insert(file.end(), type, type + 4);
    file.resize(56, 'k');
    Save("png", std::string("declares_2g_") + type + ".png", file);
  }
  Bytes late = png;
  const Bytes end(late.end() - 12, late.end());  // IEND
  late.resize(late.size() - 12);
  tvq::pngtest::AppendChunk(late, {"eXIf", tvq::testblocks::ExifBlock(true, 3, 1, 8)});
  late.insert(late.end(), end.begin(), end.end());
  Save("png", "exif_after_data.png", late);

  const Bytes still = tvq::EncodePicture(PatternPicture(2, 2, 3, 8), PictureFormat::kWebp, {100});
  Save("webp", "canvas_10000.webp", tvq::test::AnimationWithCanvas(still, 10000, 10000));

  tvq::Picture icc = PatternPicture(9, 7, 3, 8);
  icc.icc.assign(70000, 5);  // two APP2 markers
  const Bytes jpeg = tvq::EncodePicture(icc, PictureFormat::kJpeg, {80});
  Save("jpeg", "icc_zero_count.jpg",
       tvq::test::WithIccMarkers(jpeg, [](int, std::uint8_t&, std::uint8_t& count) { count = 0; }));
  Save("jpeg", "icc_duplicate.jpg",
       tvq::test::WithIccMarkers(jpeg, [](int, std::uint8_t& seq, std::uint8_t&) { seq = 1; }));

  const std::string pfm = "Pf\n" + std::string(1000, '9') + " 1\n-1\n";
  Save("pfm", "long_width.pfm", Bytes(pfm.begin(), pfm.end()));
}

// ---- Command lines ---------------------------------------------------------

void WriteCliCorpus() {
  const std::vector<std::vector<std::string>> lines = {
      {"--help"},
      {"info", "a.png"},
      {"info", "--help"},
      {"downsample", "in.bmp", "out.bmp", "--quality", "90"},
      {"noise", "in.png", "out.jpg", "--quiet"},
      {"grey", "in.tif", "out.webp", "--threads", "2"},
      {"psnr", "a.bmp", "b.png", "--crop"},
      {"canny", "in.bmp", "out.bmp", "--sigma", "1.5"},
      {"upscale", "in.bmp", "out.png", "--method", "nedi"},
      {"upscale", "in.bmp", "out.png", "--method", "gradient-color", "--no-simd"},
      {"resample", "in.bmp", "out.pfm", "--step", "5", "--factor", "0.875", "--iterations", "3"},
      {"resample", "in.bmp",         "out.png",     "--stabilizer", "tv",   "--init",
       "lanczos",  "--convergence",  "conditional", "--maximum",    "0.05", "--min-factor",
       "1",        "--thresh-min",   "5",           "--thresh-max", "15",   "--btv-base",
       "0.8",      "--gauss-radius", "1",           "--norm",       "1",    "--fractal"},
      {"resample", "in.bmp", "out.bmp", "--dering", "3", "--dering-initial", "source",
       "--dering-iterations", "50", "--dering-factor", "1", "--mask", "--measure", "local"},
      {"dering", "in.bmp", "out.tiff", "--method", "10", "--initial", "zero", "--iterations", "200",
       "--factor", "1"},
      {"dering", "in.png", "out.png", "--mask", "--mask-gauss", "4", "--filter-radius", "6",
       "--multiplier", "2", "--noise-level", "5", "--smooth", "3", "--dilation", "3", "--threshold",
       "30"},
      {"mask", "in.bmp", "out.bmp", "--measure=gradient", "--threshold=50"},
      {"resample", "a.bmp", "b.bmp", "-o", "out", "--format", "png", "--jobs", "2",
       "--skip-existing", "--shard", "1/2"},
      {"grey", ".", "-o", "results", "--format=jpg", "--quality=75"},
      {"resample", "a.bmp", "b.bmp", "--", "-x"},
      {"resample", "--step", "1e308", "a.bmp", "b.bmp"},
      {"dering", "a.bmp", "b.bmp", "--iterations", "2147483648"},
      {"canny", "a.bmp", "b.bmp", "--sigma", "1e-300"},
  };
  int n = 0;
  for (const auto& line : lines) {
    Bytes bytes;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (i > 0) bytes.push_back(0);
      bytes.insert(bytes.end(), line[i].begin(), line[i].end());
    }
    char name[32];
    std::snprintf(name, sizeof name, "args%02d", n++);
    Save("cli", name, bytes);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
    return 2;
  }
  gRoot = argv[1];
  try {
    WriteBmpCorpus();
    WritePfmCorpus();
    WritePngCorpus();
    WriteJpegCorpus();
    WriteTiffCorpus();
    WriteWebpCorpus();
    WriteCraftedCorpus();
    WriteCliCorpus();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fuzz_make_corpus: %s\n", e.what());
    return 1;
  }
  return 0;
}
