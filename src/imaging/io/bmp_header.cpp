// BMP headers: the fields as stored, then the checks of what they declare against
// each other, the limits and the file's size, in a fixed order (the first problem
// found is the one reported).
#include <bit>
#include <cstdio>

#include "imaging/io/bmp_layout.h"

namespace tvq::bmp {

namespace {

std::string HeaderName(std::uint32_t size) {
  switch (size) {
    case 12:
      return "BITMAPCOREHEADER";
    case 40:
      return "BITMAPINFOHEADER";
    case 52:
      return "BITMAPV2INFOHEADER";
    case 56:
      return "BITMAPV3INFOHEADER";
    case 108:
      return "BITMAPV4HEADER";
    case 124:
      return "BITMAPV5HEADER";
    default:
      return {};
  }
}

std::string CompressionName(std::uint32_t compression) {
  switch (compression) {
    case kBiRgb:
      return "BI_RGB";
    case kBiRle8:
      return "BI_RLE8";
    case kBiRle4:
      return "BI_RLE4";
    case kBiBitfields:
      return "BI_BITFIELDS";
    default:
      return {};
  }
}

std::string Hex(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", v);
  return text;
}

// Checks bit-field masks: each one contiguous, all inside the pixel word, not all
// colour masks zero.
void CheckMasks(const std::array<std::uint32_t, 4>& masks, int bits) {
  const char* names[4] = {"red", "green", "blue", "alpha"};
  for (int c = 0; c < 4; ++c) {
    SplitMask(masks[c], names[c]);
    if (bits == 16 && (masks[c] >> 16) != 0)
      Fail(std::string("the ") + names[c] + " bit-field mask " + Hex(masks[c]) +
           " does not fit a 16-bit pixel");
  }
  if ((masks[0] | masks[1] | masks[2]) == 0) Fail("the bit-field masks are all zero");
}

// The fields of the file header and the bitmap header as stored: a 12-byte core header
// or an info header of 40 bytes or more (the masks of V2 headers and larger).
struct Fields {
  std::uint64_t offBits = 0;
  std::uint32_t headerSize = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;  // negative for top-down rows
  std::uint32_t planes = 0;
  std::uint32_t bits = 0;
  std::uint32_t compression = kBiRgb;
  std::uint32_t colorsUsed = 0;
  std::array<std::uint32_t, 4> masks{};
};

Fields ReadFields(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size < kFileHeaderSize + 4)
    Fail("the file is too short for a BMP file (" + std::to_string(size) + " bytes)");
  if (data[0] != 'B' || data[1] != 'M') Fail("not a BMP file (it does not start with \"BM\")");
  Fields f;
  f.offBits = Get32(data + 10);
  f.headerSize = Get32(data + 14);
  if (HeaderName(f.headerSize).empty())
    Fail("unsupported BMP header of " + std::to_string(f.headerSize) + " bytes");
  if (size < kFileHeaderSize + f.headerSize) Fail("the file ends inside the BMP header");
  const std::uint8_t* h = data + kFileHeaderSize;
  if (f.headerSize == kCoreHeaderSize) {
    f.width = Get16(h + 4);
    f.height = Get16(h + 6);
    f.planes = Get16(h + 8);
    f.bits = Get16(h + 10);
    return f;
  }
  f.width = static_cast<std::int32_t>(Get32(h + 4));
  f.height = static_cast<std::int32_t>(Get32(h + 8));
  f.planes = Get16(h + 12);
  f.bits = Get16(h + 14);
  f.compression = Get32(h + 16);
  f.colorsUsed = Get32(h + 32);
  if (f.headerSize >= 52) {
    f.masks[0] = Get32(h + 40);
    f.masks[1] = Get32(h + 44);
    f.masks[2] = Get32(h + 48);
  }
  if (f.headerSize >= 56) f.masks[3] = Get32(h + 52);
  return f;
}

// The picture the fields declare: planes, compression and depth, the sides, the
// size of the pixel data and the limits. Fills the layout's geometry.
void CheckPicture(const Fields& f, const DecodeLimits& limits, Layout& layout) {
  if (f.planes != 1) Fail("the planes field is " + std::to_string(f.planes) + ", not 1");
  const std::uint32_t compression = f.compression;
  const std::uint32_t bits = f.bits;
  if (compression == kBiJpeg) Fail("JPEG-compressed BMP files are not supported");
  if (compression == kBiPng) Fail("PNG-compressed BMP files are not supported");
  if (CompressionName(compression).empty())
    Fail("unsupported BMP compression " + std::to_string(compression));
  std::int64_t width = f.width;
  std::int64_t height = f.height;
  if (width <= 0) Fail("the width " + std::to_string(width) + " is not positive");
  if (height == 0) Fail("the height is zero");
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width > kMaxImageSide || height > kMaxImageSide)
    Fail("a picture of " + std::to_string(width) + " x " + std::to_string(height) +
         " pixels is larger than " + std::to_string(kMaxImageSide) + " pixels a side");

  const bool rle = compression == kBiRle8 || compression == kBiRle4;
  if (compression == kBiRgb && bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 &&
      bits != 32)
    Fail("unsupported bit count " + std::to_string(bits));
  if (compression == kBiRle8 && bits != 8)
    Fail("BI_RLE8 needs 8 bits per pixel, the file has " + std::to_string(bits));
  if (compression == kBiRle4 && bits != 4)
    Fail("BI_RLE4 needs 4 bits per pixel, the file has " + std::to_string(bits));
  if (compression == kBiBitfields && bits != 16 && bits != 32)
    Fail("BI_BITFIELDS needs 16 or 32 bits per pixel, the file has " + std::to_string(bits));
  if (rle && topDown) Fail("RLE-compressed pictures cannot be top-down");

  // Both sides are at most 65535 here, so none of these products overflows 64 bits.
  const std::uint64_t rowBytes = ((static_cast<std::uint64_t>(width) * bits + 31) / 32) * 4;
  const std::uint64_t pictureBytes = rowBytes * static_cast<std::uint64_t>(height);
  if (pictureBytes > kMaxPictureBytes)
    Fail("a picture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels at " +
         std::to_string(bits) + " bits needs " + std::to_string(pictureBytes >> 20) +
         " MiB, more than the " + std::to_string(kMaxPictureBytes >> 20) + " MiB allowed");
  CheckDecodeLimits(width, height, limits);

  layout.width = width;
  layout.height = height;
  layout.bits = bits;
  layout.compression = compression;
  layout.colorsUsed = f.colorsUsed;
  layout.core = f.headerSize == kCoreHeaderSize;
  layout.topDown = topDown;
  layout.rle = rle;
  layout.rowBytes = rowBytes;
  layout.usedBytes = (static_cast<std::uint64_t>(width) * bits + 7) / 8;
  layout.headerName = HeaderName(f.headerSize);
}

// Where the tables and the pixels lie: the bit-field masks (in the header, after a
// 40-byte header, or left out), then the pixel data offset, which must lie after the
// headers and inside the file.
void LocateTables(const std::uint8_t* data, std::size_t size, const Fields& f, Layout& layout) {
  const std::uint64_t offBits = f.offBits;
  std::array<std::uint32_t, 4> masks = f.masks;
  std::uint64_t tablesStart = kFileHeaderSize + f.headerSize;
  const bool bitfields = layout.compression == kBiBitfields;
  if (bitfields && f.headerSize == kInfoHeaderSize && offBits >= tablesStart &&
      offBits < tablesStart + 12) {
    // Some writers leave out the masks and start the pixels right after the header:
    // such files are read with the default masks of their depth.
    masks = layout.bits == 16 ? kMasks555 : std::array<std::uint32_t, 4>{0xFF0000, 0xFF00, 0xFF, 0};
  } else if (bitfields && f.headerSize == kInfoHeaderSize) {
    if (size < tablesStart + 12) Fail("the file ends inside the bit-field masks");
    masks[0] = Get32(data + tablesStart);
    masks[1] = Get32(data + tablesStart + 4);
    masks[2] = Get32(data + tablesStart + 8);
    masks[3] = 0;
    tablesStart += 12;
  }
  if (bitfields) CheckMasks(masks, static_cast<int>(layout.bits));
  if (offBits < tablesStart)
    Fail("the pixel data offset " + std::to_string(offBits) + " lies inside the headers");
  if (offBits > size)
    Fail("the pixel data offset " + std::to_string(offBits) + " lies beyond the end of the file (" +
         std::to_string(size) + " bytes)");
  layout.offBits = offBits;
  layout.tablesStart = tablesStart;
  layout.masks = masks;
}

// The pixel data is all there: every row but the last complete (the last may lack its
// padding); RLE codes walked whole.
void CheckPixelData(const std::uint8_t* data, std::size_t size, const Layout& layout) {
  if (layout.rle) {
    DecodeRle(data + layout.offBits, data + size, layout.width, layout.height,
              layout.compression == kBiRle8, nullptr);
    return;
  }
  const std::uint64_t needed =
      layout.rowBytes * static_cast<std::uint64_t>(layout.height - 1) + layout.usedBytes;
  if (size - layout.offBits < needed)
    Fail("the pixel data is truncated: " + std::to_string(needed) +
         " bytes are needed after offset " + std::to_string(layout.offBits) + ", the file has " +
         std::to_string(size - layout.offBits));
}

}  // namespace

MaskField SplitMask(std::uint32_t mask, const char* channel) {
  MaskField f;
  if (mask == 0) return f;
  f.shift = std::countr_zero(mask);
  f.bits = std::popcount(mask);
  if (std::countr_one(mask >> f.shift) != f.bits)
    Fail(std::string("the ") + channel + " bit-field mask " + Hex(mask) +
         " is not one run of bits");
  return f;
}

Layout ReadLayout(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits) {
  const Fields fields = ReadFields(data, size);
  Layout layout;
  CheckPicture(fields, limits, layout);
  LocateTables(data, size, fields, layout);
  CheckPixelData(data, size, layout);
  return layout;
}

BmpInfo InfoOf(const Layout& layout) {
  BmpInfo info;
  info.width = static_cast<std::int32_t>(layout.width);
  info.height = static_cast<std::int32_t>(layout.height);
  info.bitsPerPixel = static_cast<std::int32_t>(layout.bits);
  info.headerType = layout.headerName;
  info.compression = CompressionName(layout.compression);
  info.topDown = layout.topDown;
  if (layout.compression == kBiBitfields) {
    info.masks = layout.masks;
  } else if (layout.bits == 16) {
    info.masks = kMasks555;
  } else {
    info.masks = {};
  }
  return info;
}

}  // namespace tvq::bmp
