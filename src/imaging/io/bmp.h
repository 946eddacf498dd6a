// BMP files: reading every common variant into a Bitmap and writing a Bitmap in its
// own depth.
//
// Every file is treated as hostile: a header, size, offset, palette index or RLE
// code that does not fit is refused with a FileError before any memory is
// allocated for it or read beyond the file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/io/fileio.h"

namespace tvq {

// What a BMP file declares, for `tvq info`.
struct BmpInfo {
  std::int32_t width = 0, height = 0, bitsPerPixel = 0;  // height is positive
  std::string headerType;   // "BITMAPCOREHEADER", "BITMAPINFOHEADER", ..., "BITMAPV5HEADER"
  std::string compression;  // "BI_RGB", "BI_RLE8", "BI_RLE4", "BI_BITFIELDS"
  bool topDown = false;
  // Red, green, blue and alpha masks of 16- and 32-bit bit-field files, and 5-5-5 for
  // 16-bit BI_RGB files; zero for the other depths.
  std::array<std::uint32_t, 4> masks{};
};

// Decodes a BMP file held in memory. The picture keeps the file's depth:
// - 1, 4 and 8 bits keep palette and indexes (RLE8/RLE4 decode to plain 8/4-bit rows;
//   pixels the RLE codes never write stay index 0);
// - 16 bits keeps the 16-bit words and sets Masks() (5-5-5 for BI_RGB files);
// - 24 bits and 32 bits keep their bytes (the fourth byte of 32-bit pixels too);
//   32-bit bit-field files with masks other than blue 0xFF, green 0xFF00, red 0xFF0000
//   are converted to plain blue, green, red, alpha bytes (alpha 0 without an alpha mask).
// As common writers produce them: RLE runs crossing a row end are clipped there, and
// bit-field files with a 40-byte header whose pixels leave no room for the masks use
// the default masks of their depth (5-5-5 for 16 bits, 8-8-8 for 32).
// The limits are applied to the header; RLE codes are checked whole before the
// picture is allocated. Throws FileError whose what() names the problem only
// (PixelLimitError over the pixel limit). info, when given, is filled on success.
Bitmap DecodeBmp(const std::uint8_t* data, std::size_t size, BmpInfo* info = nullptr,
                 const DecodeLimits& limits = {});
// The header's facts after every check DecodeBmp makes before it allocates the
// picture (the limits, the size of the pixel data, the RLE codes walked whole); no
// pixel is decoded. Throws as DecodeBmp.
BmpInfo DecodeBmpHeader(const std::uint8_t* data, std::size_t size,
                        const DecodeLimits& limits = {});
// Reads and decodes a BMP file; FileError "path: problem".
Bitmap ReadBmp(const std::string& path, BmpInfo* info = nullptr, const DecodeLimits& limits = {});

// Encodes the bitmap in its own depth with bottom-up rows and a BITMAPINFOHEADER:
// 32 and 24 bits as BI_RGB; 1, 4 and 8 bits with their palette (padded with black
// entries up to the largest index used); 16 bits as BI_RGB for the 5-5-5 layout,
// otherwise BI_BITFIELDS (a BITMAPV4HEADER when there is an alpha mask).
// Throws FileError for an empty picture.
std::vector<std::uint8_t> EncodeBmp(const Bitmap& bitmap);
// Encodes and writes through WriteFileAtomically; FileError "path: problem".
void WriteBmp(const Bitmap& bitmap, const std::string& path);

}  // namespace tvq
