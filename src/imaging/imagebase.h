// The image model: pixel formats, the layout record, conversion between formats,
// owning pixel blocks and polymorphic views.
//
// Rules shared by every routine of the image library:
// - Coordinates are (x, y): x is the column, y the row; row 0 is the top row.
// - A row i of a described rectangle starts at origin + i * stride; stride may be
//   negative (bottom-up bitmap rows). Addresses are computed in std::ptrdiff_t.
// - The grey level of a colour is 0.114 * blue + 0.587 * green + 0.299 * red,
//   evaluated in double from left to right and stored as a float.
// - Every float-to-byte store goes through ClampToByte.
// - Failures are EZorException, thrown by value and caught by reference; errors.h
//   says what else the library throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace tvq {

// Pixel format codes. Codes 5 and 8..11 exist only through their sizes.
enum TImageFormat : std::int32_t {
  ifNone = 0,
  ifC4 = 1,    // bytes blue, green, red, fourth
  ifF4 = 2,    // four floats, channel order of ifC4
  ifByte = 3,  // one byte (rows of an 8-bit bitmap)
  ifF = 4,     // one float
  ifReserved5 = 5,
  ifMask = 6,  // one byte read as zero / non-zero
  ifC3 = 7,    // bytes blue, green, red (rows of a 24-bit bitmap)
  ifC4Alt = 8,
  ifF4Alt = 9,
  ifFAlt = 10,
  ifReserved11 = 11,
};

// Largest width or height of an image buffer.
inline constexpr std::int32_t kMaxImageSide = 65535;

// Geometry and format of a rectangle of pixels; owns nothing.
struct TImageDesc {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint8_t* origin = nullptr;  // first byte of row 0
  std::ptrdiff_t stride = 0;       // bytes from row i to row i + 1, may be negative
  std::int32_t pixelSize = 0;
  std::int32_t format = ifNone;

  std::uint8_t* Row(std::int32_t i) const {
    return origin + static_cast<std::ptrdiff_t>(i) * stride;
  }
};

enum EZorCode : std::int32_t {
  ecFormatMismatch = 2,
  ecNoImage = 3,
  ecBufferState = 4,
  ecBadSize = 5,
  ecBadFormat = 6,
};

// The image library's failure type. `Code` is one of EZorCode; what() says in
// words what went wrong.
class EZorException : public std::exception {
 public:
  explicit EZorException(std::int32_t code, std::string detail = {});
  const char* what() const noexcept override { return message_.c_str(); }
  std::int32_t Code;

 private:
  std::string message_;
};

// Bytes per pixel of a format code; 0 for ifNone and unknown codes.
std::int32_t FormatPixelSize(std::int32_t format);

// The one float-to-byte rule: below 0 (and NaN) gives 0, above 255 gives 255,
// otherwise the integer part of v + 0.5.
inline std::uint8_t ClampToByte(float v) {
  if (v > 255.0f) return 255;
  if (!(v >= 0.0f)) return 0;
  return static_cast<std::uint8_t>(static_cast<double>(v) + 0.5);
}

// Colours packed with blue in the lowest byte.
double ColorToGrey(std::uint32_t packed);
std::int32_t ColorToGreyByte(std::uint32_t packed);
std::uint32_t GreyToColor(float v);

// Grey level of blue, green, red channel values, in double.
inline double GreyOf(double b, double g, double r) {
  return 0.114 * b + 0.587 * g + 0.299 * r;
}

// Fills target from source (equal width and height), converting per pixel where
// a kernel exists for the format pair, copying raw rows when the pixel sizes are
// equal, and throwing ecFormatMismatch otherwise. Size mismatch: ecBadSize.
void ConvertPixels(TImageDesc source, TImageDesc target);

// Sets the process's allocator so that picture-sized blocks go back to the system as
// soon as they are freed (peak memory follows the live planes). For programs: call it
// once at start-up, before any picture is allocated.
void UseLargeBlockMemorySettings();

// An owning, zero-initialised, compact top-down pixel block. The block comes from
// calloc: with UseLargeBlockMemorySettings a large block is mapped fresh from the
// system, whose pages are zero already, so zeroing costs no pass over it.
class TImageContainer {
 public:
  // Blank image; throws ecBadSize for a side outside 0..65535 and ecBadFormat
  // for a format of size 0.
  TImageContainer(std::int32_t width, std::int32_t height, std::int32_t format);
  // Shaped like desc; copies desc's pixels when copyPixels.
  TImageContainer(const TImageDesc& desc, bool copyPixels);
  // Shaped like desc in another format; converts desc's pixels when copyPixels.
  TImageContainer(const TImageDesc& desc, std::int32_t newFormat, bool copyPixels);
  TImageContainer(const TImageContainer&) = delete;
  TImageContainer& operator=(const TImageContainer&) = delete;

  TImageDesc GetDesc() const { return desc_; }

 private:
  void Allocate(std::int32_t width, std::int32_t height, std::int32_t pixelSize,
                std::int32_t format);
  struct Free {
    void operator()(std::uint8_t* p) const noexcept;
  };
  std::unique_ptr<std::uint8_t[], Free> data_;
  TImageDesc desc_;
};

// A view of pixels: attached to memory it does not own, or owning one adopted
// container. Keeps a table of row addresses, built when the view is attached, so
// that any number of threads may read one image at once.
class TImageBase {
 public:
  TImageBase() = default;
  virtual ~TImageBase() = default;
  TImageBase(const TImageBase&) = delete;
  TImageBase& operator=(const TImageBase&) = delete;
  // Moving hands the view (and an owned container) over; the source becomes Empty.
  TImageBase(TImageBase&& other) noexcept;
  TImageBase& operator=(TImageBase&& other) noexcept;

  virtual bool AcceptsFormat(std::int32_t /*format*/) const { return true; }

  // View desc without owning it. ecBufferState while owning, ecBadFormat for a
  // refused format.
  void Attach(const TImageDesc& desc);
  // Take ownership of a container. On failure the container is freed.
  void Adopt(std::unique_ptr<TImageContainer> container);
  // Free the adopted container; ecBufferState when nothing is owned.
  void Release();

  // Row addresses; ecNoImage when nothing is viewed.
  std::uint8_t* const* Rows() const;

  std::int32_t Width() const { return desc_.width; }
  std::int32_t Height() const { return desc_.height; }
  std::int32_t Format() const { return desc_.format; }
  std::int32_t PixelSize() const { return desc_.pixelSize; }
  TImageDesc GetDesc() const { return desc_; }
  bool HasImage() const { return hasImage_; }
  bool OwnsBuffer() const { return ownsBuffer_; }

  // Zeroes every pixel byte of the view.
  void Clear();

  // ecBadSize when width or height differ; ecFormatMismatch when checkFormat
  // and the formats differ.
  static void CheckCompatible(const TImageBase& a, const TImageBase& b, bool checkFormat);

 protected:
  // Adopts a blank container of the given size and format.
  void AdoptBlank(std::int32_t width, std::int32_t height, std::int32_t format);
  // Adopts a clone (same format, compact top-down) of the source rectangle.
  void AdoptCopy(const TImageDesc& source);
  // Pixel address with both coordinates clamped into the image.
  std::uint8_t* ClampedPixel(std::int32_t x, std::int32_t y) const {
    if (x < 0) x = 0;
    if (x >= desc_.width) x = desc_.width - 1;
    if (y < 0) y = 0;
    if (y >= desc_.height) y = desc_.height - 1;
    return desc_.Row(y) + static_cast<std::ptrdiff_t>(x) * desc_.pixelSize;
  }

 private:
  TImageDesc desc_;
  std::unique_ptr<TImageContainer> buffer_;
  bool hasImage_ = false;
  bool ownsBuffer_ = false;
  std::vector<std::uint8_t*> rows_;
};

// "13x7": an image's size as messages show it.
std::string SizeText(const TImageBase& image);

// True when `large` measures exactly twice `small` in both directions.
bool IsTwiceSize(const TImageBase& small, const TImageBase& large);

// EZorException 5 naming `what` when a and b differ in width or height.
void CheckSameSize(const TImageBase& a, const TImageBase& b, const char* what);

// EZorException 5 naming `what` unless `large` measures exactly twice `small`.
void CheckTwiceSize(const TImageBase& small, const TImageBase& large, const char* what);

}  // namespace tvq
