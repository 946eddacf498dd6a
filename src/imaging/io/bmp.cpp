// BMP files: the entry points of bmp.h and the encoder. Reading is split in two:
// bmp_header.cpp reads and checks the headers, bmp_decode.cpp decodes the pixels.
#include "imaging/io/bmp.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "imaging/io/bmp_layout.h"

namespace tvq {

using namespace bmp;

namespace {

// Files larger than this are refused before they are read: the largest picture
// plus generous room for headers, palettes and RLE overhead.
constexpr std::uint64_t kMaxFileBytes = 2 * kMaxPictureBytes;

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

std::vector<std::uint8_t> bmp::FileHeader(std::int32_t width, std::int32_t height,
                                          std::uint32_t bits, std::uint64_t rowBytes,
                                          std::uint32_t compression, std::uint32_t headerSize,
                                          const std::array<std::uint32_t, 4>& masks,
                                          const std::vector<std::uint32_t>& palette) {
  const std::uint32_t maskBytes =
      compression == kBiBitfields && headerSize == kInfoHeaderSize ? 12 : 0;
  const std::uint64_t imageBytes = rowBytes * static_cast<std::uint64_t>(height);
  const std::uint64_t offBits = kFileHeaderSize + headerSize + maskBytes + 4 * palette.size();
  const std::uint64_t fileBytes = offBits + imageBytes;
  if (fileBytes > 0xFFFFFFFFull) Fail("the picture is too large for a BMP file");

  std::vector<std::uint8_t> out(offBits, 0);
  std::uint8_t* p = out.data();
  p[0] = 'B';
  p[1] = 'M';
  Put32(p + 2, static_cast<std::uint32_t>(fileBytes));
  Put32(p + 10, static_cast<std::uint32_t>(offBits));
  std::uint8_t* h = p + kFileHeaderSize;
  Put32(h, headerSize);
  Put32(h + 4, static_cast<std::uint32_t>(width));
  Put32(h + 8, static_cast<std::uint32_t>(height));  // positive: bottom-up rows
  Put16(h + 12, 1);
  Put16(h + 14, bits);
  Put32(h + 16, compression);
  Put32(h + 20, static_cast<std::uint32_t>(imageBytes));
  Put32(h + 24, 2835);  // 72 dots per inch
  Put32(h + 28, 2835);
  if (bits <= 8 && palette.size() < (std::size_t{1} << bits))
    Put32(h + 32, static_cast<std::uint32_t>(palette.size()));
  if (headerSize == kV4HeaderSize) {
    for (int c = 0; c < 4; ++c) Put32(h + 40 + 4 * c, masks[c]);
    Put32(h + 56, 0x73524742);  // colour space 'sRGB'
  }
  std::uint8_t* tables = h + headerSize;
  if (maskBytes > 0) {
    for (int c = 0; c < 3; ++c) Put32(tables + 4 * c, masks[c]);
    tables += maskBytes;
  }
  for (std::size_t i = 0; i < palette.size(); ++i) Put32(tables + 4 * i, palette[i]);
  return out;
}

Bitmap DecodeBmp(const std::uint8_t* data, std::size_t size, BmpInfo* info,
                 const DecodeLimits& limits) {
  try {
    const Layout layout = ReadLayout(data, size, limits);
    Bitmap bitmap = DecodePixels(data, size, layout);
    if (info != nullptr) *info = InfoOf(layout);
    return bitmap;
  } catch (const std::bad_alloc&) {
    Fail("not enough memory for the picture");
  } catch (const EZorException& e) {
    Fail(e.what());
  }
}

BmpInfo DecodeBmpHeader(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits) {
  return InfoOf(ReadLayout(data, size, limits));
}

Bitmap ReadBmp(const std::string& path, BmpInfo* info, const DecodeLimits& limits) {
  const std::vector<std::uint8_t> bytes = ReadWholeFile(path, kMaxFileBytes);
  try {
    return DecodeBmp(bytes.data(), bytes.size(), info, limits);
  } catch (const PixelLimitError& e) {
    throw PixelLimitError(path + ": " + e.what());
  } catch (const FileError& e) {
    throw FileError(path + ": " + e.what());
  }
}

std::vector<std::uint8_t> EncodeBmp(const Bitmap& bitmap) {
  if (bitmap.Empty()) Fail("the picture is empty");
  const std::int32_t width = bitmap.Width();
  const std::int32_t height = bitmap.Height();
  const std::uint32_t bits = static_cast<std::uint32_t>(bitmap.BitsPerPixel());

  std::uint32_t headerSize = kInfoHeaderSize;
  std::uint32_t compression = kBiRgb;
  const std::array<std::uint32_t, 4> masks = bitmap.Masks();
  if (bits == 16 && masks != std::array<std::uint32_t, 4>{} && masks != kMasks555) {
    compression = kBiBitfields;
    // The alpha mask needs a header that holds it; the others follow a plain header.
    if (masks[3] != 0) headerSize = kV4HeaderSize;
  }

  // Palette: the bitmap's own entries, extended with black up to the largest
  // index used so that the file is always readable.
  std::vector<std::uint32_t> palette;
  if (bits <= 8) {
    palette = bitmap.Palette();
    const std::size_t maxColours = std::size_t{1} << bits;
    if (palette.size() > maxColours) palette.resize(maxColours);
    if (palette.size() < maxColours) {
      unsigned largest = 0;
      const int perByte = 8 / static_cast<int>(bits);
      const unsigned mask = (1u << bits) - 1;
      for (std::int32_t y = 0; y < height; ++y) {
        const std::uint8_t* row = bitmap.ScanLine(y);
        for (std::int32_t x = 0; x < width; ++x) {
          const int shift = 8 - static_cast<int>(bits) * (x % perByte + 1);
          largest = std::max(largest, (row[x / perByte] >> shift) & mask);
        }
      }
      if (palette.size() <= largest) palette.resize(largest + 1, 0);
    }
  }

  std::vector<std::uint8_t> out =
      FileHeader(width, height, bits, bitmap.RowBytes(), compression, headerSize, masks, palette);
  const std::size_t offBits = out.size();
  const std::size_t imageBytes = bitmap.RowBytes() * static_cast<std::size_t>(height);
  out.resize(offBits + imageBytes);
  std::uint8_t* p = out.data();
  // The bitmap keeps its rows bottom-up in one block, exactly the file's order.
  if (imageBytes > 0) std::memcpy(p + offBits, bitmap.ScanLine(height - 1), imageBytes);
  return out;
}

void WriteBmp(const Bitmap& bitmap, const std::string& path) {
  std::vector<std::uint8_t> bytes;
  try {
    bytes = EncodeBmp(bitmap);
  } catch (const FileError& e) {
    throw FileError(path + ": " + e.what());
  } catch (const std::bad_alloc&) {
    throw FileError(path + ": not enough memory to encode the picture");
  }
  WriteFileAtomically(path, bytes);
}

}  // namespace tvq
