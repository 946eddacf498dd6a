// File handling shared by every codec: the error type, size limits, whole-file
// reads with a cap, and atomic writes through a temporary file.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/imagebase.h"

namespace tvq {

// Any failure to read or write a file. what() = "<path>: <what is wrong>" (one line);
// decoders that work on bytes in memory throw it with the problem only, and the
// reader of the file prefixes the path.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Largest picture the readers accept, in bytes of decoded pixels at the file's depth.
inline constexpr std::uint64_t kMaxPictureBytes = 512ull << 20;

// Refuses, with FileError naming the problem, a picture whose sides are not 1..65535
// or whose width x height x bytesPerPixel exceeds kMaxPictureBytes. Decoders call
// it with the header's values before allocating anything.
void CheckPictureSize(std::int64_t width, std::int64_t height, std::int64_t bytesPerPixel);

// Reads a whole file, refusing files larger than maxBytes. Throws FileError
// "path: problem".
std::vector<std::uint8_t> ReadWholeFile(const std::string& path, std::uint64_t maxBytes);

// Writes bytes to a temporary file in the folder of path, then renames it over
// path, so that a failed write never destroys an existing file. Refuses to
// replace a read-only file. Throws FileError "path: problem".
void WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace tvq
