#include "app/picture.h"

#include <cmath>
#include <cstdint>

namespace tvq {

QImage BitmapToQImage(const Bitmap& bitmap) {
  if (bitmap.Empty()) return QImage();
  const int bits = bitmap.BitsPerPixel();
  if (bits != 24 && bits != 32) return BitmapToQImage(ProcessableBitmap(bitmap));
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  QImage image(width, height, QImage::Format_RGB32);
  if (image.isNull()) return image;  // too large to allocate for display

  const auto& masks = bitmap.Masks();
  const bool useMasks = bits == 32 && (masks[0] | masks[1] | masks[2]) != 0;
  const BitMaskChannel red(masks[0]);
  const BitMaskChannel green(masks[1]);
  const BitMaskChannel blue(masks[2]);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = bitmap.ScanLine(y);
    QRgb* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      if (bits == 24) {
        out[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
        continue;
      }
      const std::uint8_t* px = row + 4 * x;
      if (useMasks) {
        const std::uint32_t p = px[0] | (static_cast<std::uint32_t>(px[1]) << 8) |
                                (static_cast<std::uint32_t>(px[2]) << 16) |
                                (static_cast<std::uint32_t>(px[3]) << 24);
        out[x] = qRgb(red.Read(p), green.Read(p), blue.Read(p));
      } else {
        out[x] = qRgb(px[2], px[1], px[0]);
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
