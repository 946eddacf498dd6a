#include "app/picture.h"

#include <bit>
#include <cmath>
#include <cstdint>

namespace tvq {

namespace {

// One channel taken through a bit mask and scaled to 0..255.
class MaskChannel {
 public:
  explicit MaskChannel(std::uint32_t mask) {
    if (mask == 0) return;
    shift_ = std::countr_zero(mask);
    max_ = mask >> shift_;
    // Non-contiguous masks are read over their whole span; the scale stays exact.
  }
  int Read(std::uint32_t pixel) const {
    if (max_ == 0) return 0;
    const std::uint32_t v = (pixel >> shift_) & max_;
    return static_cast<int>((static_cast<std::uint64_t>(v) * 255 + max_ / 2) / max_);
  }

 private:
  int shift_ = 0;
  std::uint32_t max_ = 0;
};

QRgb PaletteColor(const Bitmap& bitmap, std::uint32_t index) {
  const auto& palette = bitmap.Palette();
  if (index >= palette.size()) return qRgb(0, 0, 0);
  // Palette entries and QRgb share the byte order: blue lowest, then green, red.
  return 0xFF000000u | (palette[index] & 0x00FFFFFFu);
}

}  // namespace

QImage BitmapToQImage(const Bitmap& bitmap) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  if (bitmap.Empty()) return QImage();
  QImage image(width, height, QImage::Format_RGB32);
  if (image.isNull()) return image;  // too large to allocate for display

  const int bits = bitmap.BitsPerPixel();
  const auto& masks = bitmap.Masks();
  const bool useMasks = (bits == 16 || bits == 32) && (masks[0] | masks[1] | masks[2]) != 0;
  const MaskChannel red(useMasks ? masks[0] : 0x7C00u);
  const MaskChannel green(useMasks ? masks[1] : 0x03E0u);
  const MaskChannel blue(useMasks ? masks[2] : 0x001Fu);

  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = bitmap.ScanLine(y);
    QRgb* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      switch (bits) {
        case 1:
          out[x] = PaletteColor(bitmap, (row[x >> 3] >> (7 - (x & 7))) & 1u);
          break;
        case 4:
          out[x] = PaletteColor(bitmap, (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4));
          break;
        case 8:
          out[x] = PaletteColor(bitmap, row[x]);
          break;
        case 16: {
          const std::uint32_t p = row[2 * x] | (static_cast<std::uint32_t>(row[2 * x + 1]) << 8);
          out[x] = qRgb(red.Read(p), green.Read(p), blue.Read(p));
          break;
        }
        case 24:
          out[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
          break;
        case 32: {
          const std::uint8_t* px = row + 4 * x;
          if (useMasks) {
            const std::uint32_t p = px[0] | (static_cast<std::uint32_t>(px[1]) << 8) |
                                    (static_cast<std::uint32_t>(px[2]) << 16) |
                                    (static_cast<std::uint32_t>(px[3]) << 24);
            out[x] = qRgb(red.Read(p), green.Read(p), blue.Read(p));
          } else {
            out[x] = qRgb(px[2], px[1], px[0]);
          }
          break;
        }
        default:
          out[x] = qRgb(0, 0, 0);
      }
    }
  }
  return image;
}

QImage GreyToQImage(const TImageF& plane) {
  if (!plane.HasImage() || plane.Width() <= 0 || plane.Height() <= 0) return QImage();
  QImage image(plane.Width(), plane.Height(), QImage::Format_Grayscale8);
  if (image.isNull()) return image;
  for (int y = 0; y < plane.Height(); ++y) {
    const float* row = plane.Row(y);
    uchar* out = image.scanLine(y);
    for (int x = 0; x < plane.Width(); ++x) out[x] = ClampToByte(row[x]);
  }
  return image;
}

Bitmap BuiltInPicture() {
  constexpr int kSide = 64;
  Bitmap bitmap(kSide, kSide, 24);
  auto set = [&](int x, int y, std::uint8_t v) {
    if (x < 0 || y < 0 || x >= kSide || y >= kSide) return;
    std::uint8_t* p = bitmap.ScanLine(y) + 3 * x;
    p[0] = p[1] = p[2] = v;
  };
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) set(x, y, 255);
  for (int i = 0; i < kSide; ++i) {
    // A frame two pixels in, a horizontal and a vertical bar, both diagonals.
    for (int t = 0; t < 2; ++t) {
      set(i, 2 + t, 0);
      set(i, kSide - 3 - t, 0);
      set(2 + t, i, 0);
      set(kSide - 3 - t, i, 0);
      set(i, 20 + t, 0);
      set(40 + t, i, 0);
    }
    set(i, i, 0);
    set(i + 1, i, 0);
    set(kSide - 1 - i, i, 0);
  }
  // A ring, three pixels wide, centred in the lower left quarter.
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      const double r = std::hypot(x - 20.5, y - 43.5);
      if (r >= 8.0 && r < 11.0) set(x, y, 0);
    }
  }
  return bitmap;
}

}  // namespace tvq
