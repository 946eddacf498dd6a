#include "imaging/bitmap.h"

#include <limits>
#include <memory>
#include <string>

namespace tvq {

namespace {

bool ValidDepth(std::int32_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

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
  std::vector<std::uint8_t> data(rowBytes * static_cast<std::size_t>(height));
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

}  // namespace tvq
