#include "imaging/io/fileio.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <random>
#include <system_error>

namespace tvq {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const std::string& what) {
  throw FileError(what);
}

std::string ErrorText(int error) {
  return std::strerror(error);
}

}  // namespace

void CheckPictureSize(std::int64_t width, std::int64_t height, std::int64_t bytesPerPixel) {
  if (width <= 0 || height <= 0)
    Fail("the picture declares " + std::to_string(width) + "x" + std::to_string(height) +
         " pixels");
  if (width > kMaxImageSide || height > kMaxImageSide)
    Fail("a picture of " + std::to_string(width) + "x" + std::to_string(height) +
         " pixels is larger than 65535 pixels a side");
  const std::uint64_t bytes = static_cast<std::uint64_t>(width) *
                              static_cast<std::uint64_t>(height) *
                              static_cast<std::uint64_t>(bytesPerPixel);
  if (bytes > kMaxPictureBytes)
    Fail("the picture needs " + std::to_string(bytes >> 20) + " MiB, more than the " +
         std::to_string(kMaxPictureBytes >> 20) + " MiB allowed");
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path, std::uint64_t maxBytes) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) Fail(path + ": is a folder, not a file");
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) Fail(path + ": cannot open: " + ErrorText(errno));
  std::vector<std::uint8_t> bytes;
  const std::uintmax_t expected = fs::file_size(path, ec);
  if (!ec && expected > maxBytes) {
    std::fclose(file);
    Fail(path + ": the file is larger than " + std::to_string(maxBytes >> 20) + " MiB");
  }
  try {
    if (!ec) bytes.reserve(static_cast<std::size_t>(expected));
    std::uint8_t chunk[1 << 16];
    for (;;) {
      const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
      if (got > 0) {
        if (bytes.size() + got > maxBytes) {
          std::fclose(file);
          Fail(path + ": the file is larger than " + std::to_string(maxBytes >> 20) + " MiB");
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
      }
      if (got < sizeof chunk) break;
    }
  } catch (const std::bad_alloc&) {
    std::fclose(file);
    Fail(path + ": not enough memory to read the file");
  }
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed) Fail(path + ": cannot read: " + ErrorText(error));
  return bytes;
}

void WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  if (path.empty()) Fail("cannot write a file without a name");
  std::error_code ec;
  fs::path target(path);
  // Write through a symbolic link instead of replacing the link itself.
  if (fs::is_symlink(target, ec)) {
    const fs::path resolved = fs::canonical(target, ec);
    if (!ec) target = resolved;
  }
  const fs::file_status status = fs::status(target, ec);
  const bool exists = !ec && fs::exists(status);
  if (exists) {
    if (fs::is_directory(status)) Fail(path + ": is a folder, not a file");
    constexpr fs::perms writable =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    if ((status.permissions() & writable) == fs::perms::none)
      Fail(path + ": the file is read-only");
  }

  // A fresh name in the same folder, so that the rename cannot cross file systems.
  fs::path folder = target.parent_path();
  const std::string name = target.filename().string();
  std::random_device seed;
  std::mt19937 random(seed());
  fs::path temporary;
  std::FILE* file = nullptr;
  int error = 0;
  for (int attempt = 0; attempt < 16 && file == nullptr; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
    temporary = folder / ("." + name + suffix);
    file = std::fopen(temporary.c_str(), "wbx");  // fails if the name exists
    error = errno;
    if (file == nullptr && error != EEXIST) break;
  }
  if (file == nullptr) Fail(path + ": cannot write: " + ErrorText(error));

  const std::size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
  error = errno;
  const bool writeFailed = written != bytes.size() || std::fflush(file) != 0;
  if (!writeFailed) error = 0;
  if (std::fclose(file) != 0 && error == 0) error = errno ? errno : EIO;
  if (writeFailed || error != 0) {
    fs::remove(temporary, ec);
    Fail(path + ": cannot write: " + ErrorText(error ? error : EIO));
  }
  if (exists) fs::permissions(temporary, status.permissions(), ec);  // keep the file's mode
  fs::rename(temporary, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    Fail(path + ": cannot write: " + ec.message());
  }
}

}  // namespace tvq
