// The displayed picture and the bridge between it and library images.
//
// A Bitmap holds rows padded to four bytes and laid out bottom-up in memory,
// like a device-independent bitmap: ScanLine(0) is the top row of the picture
// and lies last in memory, so the distance from row 0 to row 1 is negative.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "imaging/imagebase.h"

namespace tvq {

class Bitmap {
 public:
  Bitmap() = default;
  // A zeroed picture; bitsPerPixel is one of 1, 4, 8, 16, 24, 32. Throws
  // EZorException ecBadSize for sides outside 0..65535 and ecBadFormat for other depths.
  Bitmap(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel);

  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  std::int32_t BitsPerPixel() const { return bitsPerPixel_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }

  // Resizes and reformats; the pixels become zero (the palette and masks stay).
  void SetSize(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel);

  // Bytes per row including padding to a multiple of four.
  std::size_t RowBytes() const { return rowBytes_; }
  // Address of row y, y = 0 the top row.
  std::uint8_t* ScanLine(std::int32_t y) {
    return data_.data() + static_cast<std::size_t>(height_ - 1 - y) * rowBytes_;
  }
  const std::uint8_t* ScanLine(std::int32_t y) const {
    return data_.data() + static_cast<std::size_t>(height_ - 1 - y) * rowBytes_;
  }
  // Signed distance from row y to row y + 1.
  std::ptrdiff_t RowStride() const { return -static_cast<std::ptrdiff_t>(rowBytes_); }

  // Colour table of 1-, 4- and 8-bit pictures, packed with blue in the lowest byte.
  std::vector<std::uint32_t>& Palette() { return palette_; }
  const std::vector<std::uint32_t>& Palette() const { return palette_; }

  // Red, green, blue and alpha bit masks of 16-bit pictures (and of 32-bit
  // pictures read from bit-field files); zero masks mean the plain layout.
  std::array<std::uint32_t, 4>& Masks() { return masks_; }
  const std::array<std::uint32_t, 4>& Masks() const { return masks_; }

  friend bool operator==(const Bitmap&, const Bitmap&) = default;

 private:
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::int32_t bitsPerPixel_ = 32;
  std::size_t rowBytes_ = 0;
  // The pixel bytes come from calloc, and the vector's value-initialisation of new
  // elements writes nothing: a large block is freshly mapped and zero already, so a
  // new picture costs no pass over its bytes (a 2048 x 2048 result's 16 MB were 7 % of
  // a grey command's instructions). Correct only because SetSize builds a new vector
  // each time: a vector of this kind never grows again over bytes it once held.
  template <typename T>
  struct CallocAllocator {
    using value_type = T;
    CallocAllocator() = default;
    template <typename U>
    CallocAllocator(const CallocAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
      void* block = std::calloc(n == 0 ? 1 : n, sizeof(T));
      if (block == nullptr) throw std::bad_alloc();
      return static_cast<T*>(block);
    }
    void deallocate(T* p, std::size_t) noexcept { std::free(p); }
    template <typename U>
    void construct(U*) noexcept {}
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    friend bool operator==(const CallocAllocator&, const CallocAllocator&) { return true; }
  };
  std::vector<std::uint8_t, CallocAllocator<std::uint8_t>> data_;
  std::vector<std::uint32_t> palette_;
  std::array<std::uint32_t, 4> masks_{};
};

// One colour channel of 16- and 32-bit bit-field pixels: the bits of `mask`,
// scaled to 0..255 with rounding. A mask with gaps is read over its whole span, so
// the scale stays exact; a zero mask reads 0.
class BitMaskChannel {
 public:
  explicit BitMaskChannel(std::uint32_t mask);
  std::uint8_t Read(std::uint32_t pixel) const;

 private:
  int shift_ = 0;
  std::uint32_t max_ = 0;
};

// Converts a 1-, 4-, 8- or 16-bit bitmap to 32 bits with the palette or bit fields
// applied (blue, green, red, fourth byte 0; palette indexes past the end are black,
// 16-bit pictures without masks are 5-5-5); 24- and 32-bit bitmaps come back as they
// are. Commands read the converted picture, and the view paints it.
Bitmap ProcessableBitmap(const Bitmap& bitmap);

// Row bytes of a picture, padded to four bytes; 0 on overflow of size_t.
std::size_t BitmapRowBytes(std::int32_t width, std::int32_t bitsPerPixel);

// Describes the bitmap's own rows: 8 bits -> ifByte, 24 -> ifC3, 32 -> ifC4,
// any other depth -> ifNone with pixel size 0. The stride comes from the row
// layout, so one-row pictures are described too.
TImageDesc BitmapToDesc(Bitmap& bitmap);
// Resizes the bitmap to desc (24 bits for ifC3, otherwise 32) and converts
// desc's pixels into it.
void DescToBitmap(const TImageDesc& desc, Bitmap& bitmap);
// Reads the bitmap into an Empty typed image, converted to format.
void ImageFromBitmap(const Bitmap& bitmap, std::int32_t format, TImageBase& image);
// Writes the image into the bitmap, which becomes a 32-bit picture of its size.
void ImageToBitmap(const TImageBase& image, Bitmap& bitmap);

}  // namespace tvq
