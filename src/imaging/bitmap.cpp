#include "imaging/bitmap.h"

#include <bit>
#include <limits>
#include <memory>
#include <string>

namespace tvq {

namespace {

bool ValidDepth(std::int32_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Stores a colour packed with blue in the lowest byte as blue, green, red, 0.
void PutPacked(std::uint8_t* out, std::uint32_t packed) {
  out[0] = static_cast<std::uint8_t>(packed);
  out[1] = static_cast<std::uint8_t>(packed >> 8);
  out[2] = static_cast<std::uint8_t>(packed >> 16);
  out[3] = 0;
}

}  // namespace

BitMaskChannel::BitMaskChannel(std::uint32_t mask) {
  if (mask == 0) return;
  shift_ = std::countr_zero(mask);
  max_ = mask >> shift_;
}

std::uint8_t BitMaskChannel::Read(std::uint32_t pixel) const {
  if (max_ == 0) return 0;
  const std::uint64_t v = (pixel >> shift_) & max_;
  return static_cast<std::uint8_t>((v * 255 + max_ / 2) / max_);
}

std::size_t BitmapRowBytes(std::int32_t width, std::int32_t bitsPerPixel) {
  if (width < 0 || bitsPerPixel <= 0) return 0;
  const std::size_t bits = static_cast<std::size_t>(width) * static_cast<std::size_t>(bitsPerPixel);
  return ((bits + 31) / 32) * 4;
}

Bitmap::Bitmap(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel) {
  SetSize(width, height, bitsPerPixel);
}

void Bitmap::SetSize(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel) {
  if (width < 0 || width > kMaxImageSide || height < 0 || height > kMaxImageSide)
    throw EZorException(ecBadSize, "picture of " + std::to_string(width) + "x" +
                                       std::to_string(height) + " pixels");
  if (!ValidDepth(bitsPerPixel))
    throw EZorException(ecBadFormat, std::to_string(bitsPerPixel) + " bits per pixel");
  const std::size_t rowBytes = BitmapRowBytes(width, bitsPerPixel);
  decltype(data_) data(rowBytes * static_cast<std::size_t>(height));
  data_.swap(data);
  width_ = width;
  height_ = height;
  bitsPerPixel_ = bitsPerPixel;
  rowBytes_ = rowBytes;
}

TImageDesc BitmapToDesc(Bitmap& bitmap) {
  TImageDesc desc;
  desc.width = bitmap.Width();
  desc.height = bitmap.Height();
  desc.origin = bitmap.Height() > 0 ? bitmap.ScanLine(0) : nullptr;
  desc.stride = bitmap.RowStride();
  switch (bitmap.BitsPerPixel()) {
    case 8:
      desc.pixelSize = 1;
      desc.format = ifByte;
      break;
    case 24:
      desc.pixelSize = 3;
      desc.format = ifC3;
      break;
    case 32:
      desc.pixelSize = 4;
      desc.format = ifC4;
      break;
    default:
      desc.pixelSize = 0;
      desc.format = ifNone;
  }
  return desc;
}

void DescToBitmap(const TImageDesc& desc, Bitmap& bitmap) {
  bitmap.SetSize(desc.width, desc.height, desc.format == ifC3 ? 24 : 32);
  ConvertPixels(desc, BitmapToDesc(bitmap));
}

void ImageFromBitmap(const Bitmap& bitmap, std::int32_t format, TImageBase& image) {
  // The conversion only reads the bitmap's rows.
  const TImageDesc source = BitmapToDesc(const_cast<Bitmap&>(bitmap));
  if (source.format == ifNone)
    throw EZorException(ecFormatMismatch, std::to_string(bitmap.BitsPerPixel()) +
                                              "-bit pictures cannot be processed; open a 24-bit "
                                              "or 32-bit picture");
  if (source.format == ifByte && format != ifMask)
    throw EZorException(ecFormatMismatch,
                        "8-bit pictures cannot be processed; open a 24-bit or 32-bit picture");
  image.Adopt(std::make_unique<TImageContainer>(source, format, true));
}

void ImageToBitmap(const TImageBase& image, Bitmap& bitmap) {
  // Convert into a fresh bitmap first so that a failure leaves the picture intact.
  Bitmap result;
  DescToBitmap(image.GetDesc(), result);
  bitmap = std::move(result);
}

Bitmap ProcessableBitmap(const Bitmap& bitmap) {
  const std::int32_t bits = bitmap.BitsPerPixel();
  if (bits == 24 || bits == 32 || bitmap.Empty()) return bitmap;
  const std::int32_t width = bitmap.Width();
  const std::int32_t height = bitmap.Height();
  Bitmap result(width, height, 32);
  const auto& palette = bitmap.Palette();
  const auto& masks = bitmap.Masks();
  const bool useMasks = (masks[0] | masks[1] | masks[2]) != 0;
  const BitMaskChannel red(useMasks ? masks[0] : 0x7C00u);
  const BitMaskChannel green(useMasks ? masks[1] : 0x03E0u);
  const BitMaskChannel blue(useMasks ? masks[2] : 0x001Fu);
  // Indexes past the palette are black.
  auto entry = [&](std::uint32_t index) { return index < palette.size() ? palette[index] : 0u; };
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* row = bitmap.ScanLine(y);
    std::uint8_t* out = result.ScanLine(y);
    for (std::int32_t x = 0; x < width; ++x, out += 4) {
      switch (bits) {
        case 1:
          PutPacked(out, entry((row[x >> 3] >> (7 - (x & 7))) & 1u));
          break;
        case 4:
          PutPacked(out, entry((x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4)));
          break;
        case 8:
          PutPacked(out, entry(row[x]));
          break;
        default: {  // 16
          const std::uint32_t p = row[2 * x] | (static_cast<std::uint32_t>(row[2 * x + 1]) << 8);
          out[0] = blue.Read(p);
          out[1] = green.Read(p);
          out[2] = red.Read(p);
          out[3] = 0;
          break;
        }
      }
    }
  }
  return result;
}

}  // namespace tvq
