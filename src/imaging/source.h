// What a command reads its picture from: the displayed bitmap, or four floats
// decoded from a file of any depth. Both convert by the rules of ConvertPixels, so
// a 24- or 32-bit bitmap and the four-float picture of the same bytes give the same
// floats to every command.
#pragma once

#include <cstdint>

#include "imaging/bitmap.h"
#include "imaging/imagefmt.h"

namespace tvq {

class PictureSource {
 public:
  // A bitmap: read by ImageFromBitmap, so pictures that are not 24 or 32 bits deep
  // are refused with EZorException ecFormatMismatch as before.
  PictureSource(const Bitmap& bitmap) : bitmap_(&bitmap) {}  // NOLINT: implicit by design
  // Blue, green, red and a fourth channel as floats on the 0..255 scale.
  PictureSource(const TImageF4& colour) : colour_(&colour) {}  // NOLINT: implicit by design

  std::int32_t Width() const;
  std::int32_t Height() const;
  // Reads the picture into an Empty typed image converted to format (ifF: the grey
  // level; ifF4: the four channels; ifC4: bytes by ClampToByte).
  void Read(std::int32_t format, TImageBase& image) const;
  // The bitmap, or nullptr for a four-float source (fast paths that read bitmap rows).
  const Bitmap* AsBitmap() const { return bitmap_; }
  // The four floats, or nullptr for a bitmap source (paths that read them in place).
  const TImageF4* AsColour() const { return colour_; }

 private:
  const Bitmap* bitmap_ = nullptr;
  const TImageF4* colour_ = nullptr;
};

}  // namespace tvq
