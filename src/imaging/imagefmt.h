// Typed images: views narrowed to their pixel formats, with Pixel(x, y) clamped
// into the image. Edge replication through Pixel is the border rule of every
// algorithm; inner loops use Row(y) where the border rule allows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "imaging/imagebase.h"

namespace tvq {

template <typename T, std::int32_t MainFormat, std::int32_t AltFormat>
class TTypedImage : public TImageBase {
 public:
  using Element = T;
  static constexpr std::int32_t kFormat = MainFormat;

  TTypedImage() = default;
  // A blank (zero) image of the main format.
  TTypedImage(std::int32_t width, std::int32_t height) { AdoptBlank(width, height, MainFormat); }

  bool AcceptsFormat(std::int32_t format) const override {
    return format == MainFormat || format == AltFormat;
  }

  // Address of pixel (x, y), each coordinate clamped into the image. Only for
  // views holding at least one row and one column.
  T* Pixel(std::int32_t x, std::int32_t y) const {
    return reinterpret_cast<T*>(ClampedPixel(x, y));
  }

  // First element of row y (no clamping).
  T* Row(std::int32_t y) const { return reinterpret_cast<T*>(GetDesc().Row(y)); }

  // A compact top-down copy of this image in the same format.
  TTypedImage Clone() const {
    TTypedImage copy;
    copy.AdoptCopy(GetDesc());
    return copy;
  }

  // Replaces whatever this view holds by a copy of another view's pixels in its
  // own format (the source format must be accepted, ecBadFormat otherwise). The copy
  // is made before the old buffer is freed, so the source may be this image itself or
  // a view of its pixels, and a failure leaves this image as it was.
  void CopyFrom(const TImageBase& source) {
    const TImageDesc desc = source.GetDesc();
    if (!AcceptsFormat(desc.format))
      throw EZorException(ecBadFormat,
                          "format " + std::to_string(desc.format) + " refused by this image type");
    auto copy = std::make_unique<TImageContainer>(desc, true);
    if (OwnsBuffer()) Release();
    Adopt(std::move(copy));
  }
};

// Four bytes: blue, green, red, fourth (one 32-bit word with blue lowest).
using TImageC4 = TTypedImage<std::uint8_t, ifC4, ifC4Alt>;
// Four floats in the channel order of ifC4.
using TImageF4 = TTypedImage<float, ifF4, ifF4Alt>;
// One float: a grey level or any scalar plane.
using TImageF = TTypedImage<float, ifF, ifFAlt>;
// One byte read as zero / non-zero.
using TImageB = TTypedImage<std::uint8_t, ifMask, ifMask>;

}  // namespace tvq
