// File handling shared by every codec: size limits, whole-file reads with a cap,
// and atomic writes through a temporary file. The error types are in imaging/errors.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "imaging/errors.h"
#include "imaging/imagebase.h"

namespace tvq {

enum class PictureFormat : std::int32_t;  // imaging/io/picture.h

// Largest picture the readers accept, in bytes of decoded pixels at the file's depth.
inline constexpr std::uint64_t kMaxPictureBytes = 512ull << 20;

// Refuses, with FileError naming the problem, a picture whose sides are not 1..65535
// or whose width x height x bytesPerPixel exceeds kMaxPictureBytes. Decoders call
// it with the header's values before allocating anything.
void CheckPictureSize(std::int64_t width, std::int64_t height, std::int64_t bytesPerPixel);

// The most pixels a file's picture may have unless the caller allows more: a
// small file may declare a huge picture (a run-length coded BMP of a thousand
// bytes can claim 23000 x 23000 pixels), and that costs memory and time only once
// its pixels are decoded.
inline constexpr std::uint64_t kDefaultMaxPixels = 100'000'000;

// What a reader checks in a file's header before it decodes any pixel or allocates
// any pixel memory.
struct DecodeLimits {
  // Pictures of more pixels (width x height as stored) are refused.
  std::uint64_t maxPixels = kDefaultMaxPixels;
  // When set, called with the stored width and height (before an EXIF orientation
  // turns them) after the reader's own checks; it throws FileError with the problem
  // to refuse the picture, for instance because a command cannot process its size.
  std::function<void(std::int32_t width, std::int32_t height)> checkSize;
  // When set, called after checkSize with the same width and height and `format`, for
  // checks that depend on how the picture will be held once decoded (a command's
  // memory estimate); it throws FileError to refuse the picture, and may block (to wait
  // for memory) but must then watch for a stop itself.
  std::function<void(std::int32_t width, std::int32_t height, std::optional<PictureFormat> format)>
      checkHeader;
  // The format of the file being decoded: DecodePicture sets it before calling the
  // codec; std::nullopt when a codec is called directly.
  std::optional<PictureFormat> format;
};

// Applies the limits to a header's width and height: PixelLimitError
// "23000x23000 is 529 megapixels; the limit is 100 megapixels", then checkSize and
// checkHeader.
// Decoders call it once their own size checks have passed, before allocating.
void CheckDecodeLimits(std::int64_t width, std::int64_t height, const DecodeLimits& limits);

// Reads a whole file, refusing files larger than maxBytes. Throws FileError
// "path: problem". Pipes and devices, whose size is unknown, are read with the cap
// counted as they are read: reading stops as soon as it is passed. checkStart, when
// given, sees the first bytes (up to 64 KiB, or the whole file when shorter) as soon
// as they are read and may throw FileError with the problem to stop reading there.
std::vector<std::uint8_t> ReadWholeFile(
    const std::string& path, std::uint64_t maxBytes,
    const std::function<void(const std::uint8_t* data, std::size_t size)>& checkStart = {});

// Writes bytes to a temporary file in the folder of path, then renames it over
// path, so that a failed write never destroys an existing file. Refuses to
// replace a read-only file. Throws FileError "path: problem". The temporary file
// is ".NAME.XXXXXXXX.tmp", with NAME cut short where that would pass the longest
// name a folder holds, so that every legal name can be written.
void WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Removes the temporary files of the WriteFileAtomically calls under way. It makes
// only async-signal-safe calls, for a signal handler that ends the process.
void RemovePendingTemporaryFiles() noexcept;

// For tests: called with the temporary file's path once it is created, before any
// byte is written; none by default.
void SetTemporaryFileHookForTesting(void (*hook)(const char* temporary));

}  // namespace tvq
