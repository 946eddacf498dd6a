#include "imaging/imagebase.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "imaging/imagebase_kernels.h"

namespace tvq {

namespace {

const char* CodeText(std::int32_t code) {
  switch (code) {
    case ecFormatMismatch:
      return "pixel formats do not match";
    case ecNoImage:
      return "the image holds no pixels";
    case ecBufferState:
      return "the image buffer is in the wrong state for this operation";
    case ecBadSize:
      return "image sizes are out of range or do not match";
    case ecBadFormat:
      return "unsupported pixel format";
    default:
      return "image library failure";
  }
}

std::string FormatMessage(std::int32_t code, const std::string& detail) {
  std::string text = CodeText(code);
  if (!detail.empty()) text += " (" + detail + ")";
  return text;
}

// One conversion kernel: reads a row of `width` pixels and writes a row.
template <typename Kernel>
void ForEachRow(const TImageDesc& s, const TImageDesc& t, Kernel kernel) {
  for (std::int32_t i = 0; i < s.height; ++i) kernel(s.Row(i), t.Row(i), s.width);
}

float LoadFloat(const std::uint8_t* p) {
  float v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void StoreFloat(std::uint8_t* p, float v) {
  std::memcpy(p, &v, sizeof v);
}

// The plain conversion loops: runs the kernel for the format pair; false when the pair
// has none.
bool RunKernelPlain(const TImageDesc& s, const TImageDesc& t) {
  const std::int32_t from = s.format;
  const std::int32_t to = t.format;
  if (from == ifC4 && to == ifF4) {
    ForEachRow(s, t, [](const std::uint8_t* src, std::uint8_t* dst, std::int32_t w) {
      for (std::int32_t x = 0; x < w; ++x, src += 4, dst += 16)
        for (int k = 0; k < 4; ++k) StoreFloat(dst + 4 * k, static_cast<float>(src[k]));
    });
  } else if ((from == ifC4 || from == ifC3) && to == ifF) {
    const int step = from == ifC4 ? 4 : 3;
    ForEachRow(s, t, [step](const std::uint8_t* src, std::uint8_t* dst, std::int32_t w) {
      for (std::int32_t x = 0; x < w; ++x, src += step, dst += 4)
        StoreFloat(dst, static_cast<float>(GreyOf(src[0], src[1], src[2])));
    });
  } else if (from == ifF4 && to == ifC4) {
    ForEachRow(s, t, [](const std::uint8_t* src, std::uint8_t* dst, std::int32_t w) {
      for (std::int32_t x = 0; x < w; ++x, src += 16, dst += 4)
        for (int k = 0; k < 4; ++k) dst[k] = ClampToByte(LoadFloat(src + 4 * k));
    });
  } else if (from == ifF4 && to == ifF) {
    ForEachRow(s, t, [](const std::uint8_t* src, std::uint8_t* dst, std::int32_t w) {
      for (std::int32_t x = 0; x < w; ++x, src += 16, dst += 4)
        StoreFloat(dst, static_cast<float>(
                            GreyOf(LoadFloat(src), LoadFloat(src + 4), LoadFloat(src + 8))));
    });
  } else if (from == ifF && to == ifC4) {
    ForEachRow(s, t, [](const std::uint8_t* src, std::uint8_t* dst, std::int32_t w) {
      for (std::int32_t x = 0; x < w; ++x, src += 4, dst += 4)
        std::memset(dst, ClampToByte(LoadFloat(src)), 4);
    });
  } else if (from == ifMask && to == ifC4) {
    ForEachRow(s, t, convert::MaskRowToPixels);
  } else if (from == ifC3 && to == ifF4) {
    ForEachRow(s, t, [](const std::uint8_t* src, std::uint8_t* dst, std::int32_t w) {
      for (std::int32_t x = 0; x < w; ++x, src += 3, dst += 16) {
        for (int k = 0; k < 3; ++k) StoreFloat(dst + 4 * k, static_cast<float>(src[k]));
        StoreFloat(dst + 12, 0.0f);
      }
    });
  } else {
    return false;
  }
  return true;
}

}  // namespace

EZorException::EZorException(std::int32_t code, std::string detail)
    : Code(code), message_(FormatMessage(code, detail)) {}

std::int32_t FormatPixelSize(std::int32_t format) {
  switch (format) {
    case ifC4:
    case ifF:
    case ifReserved5:
    case ifC4Alt:
    case ifFAlt:
      return 4;
    case ifF4:
    case ifF4Alt:
      return 16;
    case ifByte:
    case ifMask:
    case ifReserved11:
      return 1;
    case ifC3:
      return 3;
    default:
      return 0;
  }
}

double ColorToGrey(std::uint32_t packed) {
  return GreyOf(packed & 0xFF, (packed >> 8) & 0xFF, (packed >> 16) & 0xFF);
}

std::int32_t ColorToGreyByte(std::uint32_t packed) {
  return static_cast<std::int32_t>(ColorToGrey(packed) + 0.5);
}

std::uint32_t GreyToColor(float v) {
  return 0x01010101u * ClampToByte(v);
}

// Large blocks (planes, pictures, whole-plane scratch) are mapped from the system and
// given back as soon as they are freed; the rest stays in the heap, which keeps 32 MB
// before it trims. By default the C library raises its mapping threshold to the size
// of each mapped block freed (up to 32 MB), after which planes come from the heap
// and freed ones stay resident between the stages: a 1024 x 1024 resample peaked at
// 167 MB resident with 122 MB of live heap, 127 MB with these settings, for the
// same CPU time (/usr/bin/time). calloc of a freshly mapped block also skips zeroing.
// The programs call it; the library leaves a host process's allocator as it is.
void UseLargeBlockMemorySettings() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  mallopt(M_TRIM_THRESHOLD, 32 << 20);
#endif
}

void TImageContainer::Free::operator()(std::uint8_t* p) const noexcept {
  std::free(p);
}

TImageContainer::TImageContainer(std::int32_t width, std::int32_t height, std::int32_t format) {
  if (width < 0 || width > kMaxImageSide)
    throw EZorException(ecBadSize, "width " + std::to_string(width) + " outside 0..65535");
  if (height < 0 || height > kMaxImageSide)
    throw EZorException(ecBadSize, "height " + std::to_string(height) + " outside 0..65535");
  const std::int32_t pixelSize = FormatPixelSize(format);
  if (pixelSize == 0)
    throw EZorException(ecBadFormat, "format " + std::to_string(format) + " has no pixel size");
  Allocate(width, height, pixelSize, format);
}

TImageContainer::TImageContainer(const TImageDesc& desc, bool copyPixels) {
  Allocate(desc.width, desc.height, desc.pixelSize, desc.format);
  if (copyPixels) ConvertPixels(desc, desc_);
}

TImageContainer::TImageContainer(const TImageDesc& desc, std::int32_t newFormat, bool copyPixels) {
  const std::int32_t pixelSize = FormatPixelSize(newFormat);
  if (pixelSize == 0)
    throw EZorException(ecBadFormat, "format " + std::to_string(newFormat) + " has no pixel size");
  Allocate(desc.width, desc.height, pixelSize, newFormat);
  if (copyPixels) ConvertPixels(desc, desc_);
}

void TImageContainer::Allocate(std::int32_t width, std::int32_t height, std::int32_t pixelSize,
                               std::int32_t format) {
  if (width < 0 || height < 0 || pixelSize < 0)
    throw EZorException(ecBadSize, "negative image geometry");
  const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                            static_cast<std::size_t>(pixelSize);
  void* block = std::calloc(bytes == 0 ? 1 : bytes, 1);
  if (block == nullptr) throw std::bad_alloc();
  data_.reset(static_cast<std::uint8_t*>(block));
  desc_.width = width;
  desc_.height = height;
  desc_.origin = data_.get();
  desc_.stride = static_cast<std::ptrdiff_t>(width) * pixelSize;
  desc_.pixelSize = pixelSize;
  desc_.format = format;
}

TImageBase::TImageBase(TImageBase&& other) noexcept
    : desc_(other.desc_),
      buffer_(std::move(other.buffer_)),
      hasImage_(std::exchange(other.hasImage_, false)),
      ownsBuffer_(std::exchange(other.ownsBuffer_, false)),
      rows_(std::move(other.rows_)) {
  other.desc_ = TImageDesc{};
  other.rows_.clear();
}

TImageBase& TImageBase::operator=(TImageBase&& other) noexcept {
  if (this != &other) {
    desc_ = std::exchange(other.desc_, TImageDesc{});
    buffer_ = std::move(other.buffer_);
    hasImage_ = std::exchange(other.hasImage_, false);
    ownsBuffer_ = std::exchange(other.ownsBuffer_, false);
    rows_ = std::move(other.rows_);
    other.rows_.clear();
  }
  return *this;
}

void TImageBase::Attach(const TImageDesc& desc) {
  if (ownsBuffer_) throw EZorException(ecBufferState, "attach while owning a buffer");
  if (!AcceptsFormat(desc.format))
    throw EZorException(ecBadFormat,
                        "format " + std::to_string(desc.format) + " refused by this image type");
  // The row table is built here, not on first use: concurrent readers of one image
  // then share nothing mutable.
  std::vector<std::uint8_t*> rows(static_cast<std::size_t>(desc.height > 0 ? desc.height : 0));
  for (std::int32_t i = 0; i < desc.height; ++i) rows[static_cast<std::size_t>(i)] = desc.Row(i);
  desc_ = desc;
  hasImage_ = true;
  rows_ = std::move(rows);
}

void TImageBase::Adopt(std::unique_ptr<TImageContainer> container) {
  if (ownsBuffer_) throw EZorException(ecBufferState, "adopt while owning a buffer");
  Attach(container->GetDesc());
  buffer_ = std::move(container);
  ownsBuffer_ = true;
}

void TImageBase::Release() {
  if (!ownsBuffer_) throw EZorException(ecBufferState, "release without an owned buffer");
  hasImage_ = false;
  ownsBuffer_ = false;
  buffer_.reset();
  rows_.clear();
  rows_.shrink_to_fit();
}

std::uint8_t* const* TImageBase::Rows() const {
  if (!hasImage_) throw EZorException(ecNoImage, "row table of an empty view");
  return rows_.data();
}

void TImageBase::Clear() {
  if (!hasImage_) return;
  // Row by row, so that views of padded or bottom-up rows clear only their pixels.
  const std::size_t bytes =
      static_cast<std::size_t>(desc_.width) * static_cast<std::size_t>(desc_.pixelSize);
  if (bytes == 0) return;
  for (std::int32_t i = 0; i < desc_.height; ++i) std::memset(desc_.Row(i), 0, bytes);
}

void TImageBase::CheckCompatible(const TImageBase& a, const TImageBase& b, bool checkFormat) {
  if (a.Width() != b.Width() || a.Height() != b.Height())
    throw EZorException(ecBadSize, std::to_string(a.Width()) + "x" + std::to_string(a.Height()) +
                                       " against " + std::to_string(b.Width()) + "x" +
                                       std::to_string(b.Height()));
  if (checkFormat && a.Format() != b.Format())
    throw EZorException(ecFormatMismatch, "format " + std::to_string(a.Format()) + " against " +
                                              std::to_string(b.Format()));
}

void TImageBase::AdoptBlank(std::int32_t width, std::int32_t height, std::int32_t format) {
  Adopt(std::make_unique<TImageContainer>(width, height, format));
}

void TImageBase::AdoptCopy(const TImageDesc& source) {
  Adopt(std::make_unique<TImageContainer>(source, true));
}

std::string SizeText(const TImageBase& image) {
  return std::to_string(image.Width()) + "x" + std::to_string(image.Height());
}

bool IsTwiceSize(const TImageBase& small, const TImageBase& large) {
  return static_cast<std::int64_t>(large.Width()) == 2 * static_cast<std::int64_t>(small.Width()) &&
         static_cast<std::int64_t>(large.Height()) == 2 * static_cast<std::int64_t>(small.Height());
}

void CheckSameSize(const TImageBase& a, const TImageBase& b, const char* what) {
  if (a.Width() != b.Width() || a.Height() != b.Height())
    throw EZorException(ecBadSize, std::string(what) + ": " + SizeText(a) + " and " + SizeText(b) +
                                       " pixels differ in size");
}

void CheckTwiceSize(const TImageBase& small, const TImageBase& large, const char* what) {
  if (!IsTwiceSize(small, large))
    throw EZorException(ecBadSize, std::string(what) + ": " + SizeText(large) +
                                       " pixels is not twice " + SizeText(small));
}

namespace convert {

// A mask row as grey pixels: all four bytes 255 where the mask byte is set, else 0.
// Bound by its stores, it serves the plain and the fast conversion alike.
void MaskRowToPixels(const std::uint8_t* src, std::uint8_t* dst, std::int32_t w) {
  for (std::int32_t x = 0; x < w; ++x, ++src, dst += 4) std::memset(dst, *src ? 255 : 0, 4);
}

void CheckSamePixelSize(const TImageDesc& source, const TImageDesc& target) {
  if (source.pixelSize != target.pixelSize)
    throw EZorException(ecFormatMismatch, "no conversion from format " +
                                              std::to_string(source.format) + " to format " +
                                              std::to_string(target.format));
}

void ConvertPixelsPlain(const TImageDesc& source, const TImageDesc& target) {
  if (RunKernelPlain(source, target)) return;
  CheckSamePixelSize(source, target);
  const std::size_t bytes =
      static_cast<std::size_t>(source.width) * static_cast<std::size_t>(source.pixelSize);
  if (bytes == 0) return;
  for (std::int32_t i = 0; i < source.height; ++i) std::memcpy(target.Row(i), source.Row(i), bytes);
}

}  // namespace convert

}  // namespace tvq
