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
// name a folder holds, so that every legal name can be written. Such files of the
// same NAME that an earlier run left behind (older than this process) are removed.
//
// A symbolic link at path is written through: the file it leads to is replaced. A
// FIFO or character device (or a link to one, or a path such as /dev/stdout that
// names an open file through /proc) is written in place, streamed, and never
// replaced; a folder, block device or socket is refused.
void WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Checks before any work what WriteFileAtomically would refuse at path, writing
// nothing: a missing folder, a folder that cannot be written, a read-only file, a
// folder, block device or socket in the way. Throws FileError "path: problem".
void CheckWritable(const std::string& path);

// Writes bytes to `relative` below the folder `root` like WriteFileAtomically
// (without looking for leftovers: see RemoveLeftoversBelow), but never leaves root
// through a link: the folders on the way are created as needed and none may be a
// symbolic link; a link at the file's own place is replaced as a link, never
// followed. A folder, FIFO or device there is refused. root itself may
// be a link; it is created when missing. `relative` may not hold "..". Messages
// name root/relative.
void WriteFileBelow(const std::string& root, const std::string& relative,
                    const std::vector<std::uint8_t>& bytes);

// Removes the temporary files that earlier runs (older than this process) left for
// the files `relatives` below root, listing each of their folders once: a batch
// calls it before its writes, so that it lists a folder of many results once, not
// at each write. Folders that are missing, or reached through a link, are passed
// over.
void RemoveLeftoversBelow(const std::string& root, const std::vector<std::string>& relatives);

// Looks at `relative` below `root` as WriteFileBelow would, creating nothing, and
// says whether a file or link is there already (a write replaces it). Throws
// FileError "root/relative: problem" for what a write would refuse: a link or
// file among the folders on the way, a folder, FIFO or device at the place and,
// when forWriting, a read-only file or a folder that cannot be written.
bool InspectBelow(const std::string& root, const std::string& relative, bool forWriting);

// Removes the temporary files of the WriteFileAtomically calls under way. It makes
// only async-signal-safe calls, for a signal handler that ends the process.
void RemovePendingTemporaryFiles() noexcept;

// For tests: called with the temporary file's path once it is created, before any
// byte is written; none by default.
void SetTemporaryFileHookForTesting(void (*hook)(const char* temporary));

}  // namespace tvq
