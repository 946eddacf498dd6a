// The inside of the BMP codec, shared by its three parts: bmp_header.cpp reads and
// checks the headers (the layout of a file), bmp_decode.cpp decodes the pixels of a
// checked layout, bmp.cpp holds the entry points of bmp.h and the encoder.
// Internal to the codec layer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/io/bmp.h"
#include "imaging/io/fileio.h"

namespace tvq::bmp {

inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiRle8 = 1;
inline constexpr std::uint32_t kBiRle4 = 2;
inline constexpr std::uint32_t kBiBitfields = 3;
inline constexpr std::uint32_t kBiJpeg = 4;
inline constexpr std::uint32_t kBiPng = 5;

inline constexpr std::size_t kFileHeaderSize = 14;
inline constexpr std::uint32_t kCoreHeaderSize = 12;
inline constexpr std::uint32_t kInfoHeaderSize = 40;
inline constexpr std::uint32_t kV4HeaderSize = 108;

// The 16-bit layout of BI_RGB files: red 5 bits, green 5 bits, blue 5 bits.
inline constexpr std::array<std::uint32_t, 4> kMasks555 = {0x7C00, 0x03E0, 0x001F, 0};

[[noreturn]] inline void Fail(const std::string& what) {
  throw FileError(what);
}

inline std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// What a BMP file's headers declare, checked against the file and the limits.
struct Layout {
  std::int64_t width = 0;
  std::int64_t height = 0;  // positive
  std::uint32_t bits = 0;
  std::uint32_t compression = kBiRgb;
  std::uint32_t colorsUsed = 0;
  bool core = false;
  bool topDown = false;
  bool rle = false;
  std::uint64_t rowBytes = 0;   // a stored row with its padding
  std::uint64_t usedBytes = 0;  // the bytes of a stored row's pixels
  std::uint64_t offBits = 0;
  std::uint64_t tablesStart = 0;  // where the colour table starts
  std::array<std::uint32_t, 4> masks{};
  std::string headerName;
};

// bmp.cpp: the bytes of a file before its pixels, as EncodeBmp writes them: the file
// header, a BITMAPINFOHEADER (or BITMAPV4HEADER when headerSize says so, with the
// masks), the three masks after a plain header of a BI_BITFIELDS file, the palette.
// Rows are rowBytes long with their padding; the header's sizes count height of them.
// FileError when the file would pass 4 GiB.
std::vector<std::uint8_t> FileHeader(std::int32_t width, std::int32_t height, std::uint32_t bits,
                                     std::uint64_t rowBytes, std::uint32_t compression,
                                     std::uint32_t headerSize,
                                     const std::array<std::uint32_t, 4>& masks,
                                     const std::vector<std::uint32_t>& palette);

// bmp_header.cpp: reads the headers and makes every check that needs no picture
// memory, the limits included; for RLE files the codes are walked whole
// (DecodeRle without a bitmap). Throws FileError (PixelLimitError over the limit).
Layout ReadLayout(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits);
// The facts for `tvq info` and the caller.
BmpInfo InfoOf(const Layout& layout);

// A channel mask split into its lowest bit and its width in bits.
struct MaskField {
  int shift = 0;
  int bits = 0;
};
// Splits a mask; FileError when its bits are not one run (channel names it).
MaskField SplitMask(std::uint32_t mask, const char* channel);

// bmp_decode.cpp: decodes BI_RLE8 / BI_RLE4 codes from [p, end) into the zeroed
// bitmap of width x height pixels; without a bitmap it only walks the codes and
// refuses them exactly as decoding would. The walk costs a few operations per two
// bytes of codes and no memory, so it runs before the picture is allocated: codes that
// end early or leave the picture are refused before a small file can make a large
// allocation.
void DecodeRle(const std::uint8_t* p, const std::uint8_t* end, std::int64_t width,
               std::int64_t height, bool rle8, Bitmap* bitmap);
// The picture of a layout that ReadLayout returned for these bytes: its palette, its
// pixels in the file's depth, the palette indexes checked.
Bitmap DecodePixels(const std::uint8_t* data, std::size_t size, const Layout& layout);

}  // namespace tvq::bmp
