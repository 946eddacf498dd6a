#include "imaging/io/fileio.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <random>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

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

namespace {

// "35 pixels", "100 megapixels", "100.5 megapixels".
std::string PixelCountText(std::uint64_t pixels) {
  if (pixels < 1'000'000) return std::to_string(pixels) + " pixels";
  const std::uint64_t tenths = (pixels + 50'000) / 100'000;
  std::string text = std::to_string(tenths / 10);
  if (tenths % 10 != 0) text += "." + std::to_string(tenths % 10);
  return text + " megapixels";
}

// Closes a file however the reader leaves.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

void CheckDecodeLimits(std::int64_t width, std::int64_t height, const DecodeLimits& limits) {
  if (width > 0 && height > 0) {
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (pixels > limits.maxPixels) {
      std::string have = PixelCountText(pixels);
      std::string limit = PixelCountText(limits.maxPixels);
      // Rounded to the same text, the numbers would not say which one is larger.
      if (have == limit) {
        have = std::to_string(pixels) + " pixels";
        limit = std::to_string(limits.maxPixels) + " pixels";
      }
      throw PixelLimitError(std::to_string(width) + "x" + std::to_string(height) + " is " + have +
                            "; the limit is " + limit);
    }
  }
  if (limits.checkSize)
    limits.checkSize(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
  if (limits.checkHeader)
    limits.checkHeader(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                       limits.format);
}

std::vector<std::uint8_t> ReadWholeFile(
    const std::string& path, std::uint64_t maxBytes,
    const std::function<void(const std::uint8_t* data, std::size_t size)>& checkStart) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) Fail(path + ": is a folder, not a file");
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) Fail(path + ": cannot open: " + ErrorText(errno));
  // A regular file says its size, which is checked before anything is read. Pipes
  // and devices (a FIFO, /dev/zero) may never end: the cap is counted as they are
  // read, and reading stops as soon as it is passed.
  struct stat info {};
  const bool regular = ::fstat(::fileno(file.get()), &info) == 0 && S_ISREG(info.st_mode);
  const std::string tooLarge =
      regular ? path + ": the file is larger than " + std::to_string(maxBytes >> 20) + " MiB"
              : path + ": the input goes on beyond " + std::to_string(maxBytes >> 20) +
                    " MiB, more than a picture file may hold; reading stopped there";
  if (regular && static_cast<std::uint64_t>(info.st_size) > maxBytes) Fail(tooLarge);
  constexpr std::size_t kStartBytes = std::size_t{1} << 16;
  std::vector<std::uint8_t> bytes;
  bool started = !checkStart;
  try {
    if (regular) bytes.reserve(static_cast<std::size_t>(info.st_size));
    std::uint8_t chunk[kStartBytes];
    for (;;) {
      const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
      if (got > 0) {
        if (bytes.size() + got > maxBytes) Fail(tooLarge);
        bytes.insert(bytes.end(), chunk, chunk + got);
      }
      if (!started && (bytes.size() >= kStartBytes || got < sizeof chunk)) {
        started = true;
        try {
          checkStart(bytes.data(), bytes.size());
        } catch (const FileError& e) {
          Fail(path + ": " + e.what());
        }
      }
      if (got < sizeof chunk) break;
    }
  } catch (const std::bad_alloc&) {
    Fail(path + ": not enough memory to read the file");
  }
  if (std::ferror(file.get()) != 0) Fail(path + ": cannot read: " + ErrorText(errno));
  return bytes;
}

namespace {

// The temporary files being written, where a signal handler can read them: fixed
// slots (no allocation, no lock), each claimed through a lock-free atomic. A slot
// holds a path only between the creation of its file and its rename or removal.
constexpr int kPendingSlots = 64;
struct PendingSlot {
  std::atomic<int> state{0};  // kFree, kClaimed (being filled) or kHeld
  char path[PATH_MAX];
};
constexpr int kFree = 0, kClaimed = 1, kHeld = 2;
PendingSlot gPending[kPendingSlots];
std::atomic<void (*)(const char*)> gTemporaryFileHook{nullptr};

// One temporary file in the registry for the lifetime of the object. Without a free
// slot (more than 64 saves at once) or with a path too long for one, the file is
// written unregistered.
class PendingTemporary {
 public:
  explicit PendingTemporary(const std::string& path) {
    if (path.size() >= sizeof(PendingSlot::path)) return;
    for (int i = 0; i < kPendingSlots && slot_ == nullptr; ++i) {
      int expected = kFree;
      if (gPending[i].state.compare_exchange_strong(expected, kClaimed)) slot_ = &gPending[i];
    }
    if (slot_ != nullptr) std::memcpy(slot_->path, path.c_str(), path.size() + 1);
  }
  ~PendingTemporary() {
    if (slot_ != nullptr) slot_->state.store(kFree);
  }
  PendingTemporary(const PendingTemporary&) = delete;
  PendingTemporary& operator=(const PendingTemporary&) = delete;
  // The file exists from now on.
  void Created() {
    if (slot_ != nullptr) slot_->state.store(kHeld);
  }

 private:
  PendingSlot* slot_ = nullptr;
};

// The longest file name the folder holds (NAME_MAX when it cannot be asked).
std::size_t LongestName(const std::filesystem::path& folder) {
  const long limit = pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  return limit > 0 ? static_cast<std::size_t>(limit) : static_cast<std::size_t>(NAME_MAX);
}

}  // namespace

void RemovePendingTemporaryFiles() noexcept {
  for (PendingSlot& slot : gPending)
    if (slot.state.load() == kHeld) unlink(slot.path);
}

void SetTemporaryFileHookForTesting(void (*hook)(const char* temporary)) {
  gTemporaryFileHook = hook;
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
  // ".NAME" plus the 13 bytes of ".XXXXXXXX.tmp" must fit in a name; a long NAME is
  // cut (O_EXCL and the random part keep the names apart).
  constexpr std::size_t kAdded = 14;
  std::string name = target.filename().string();
  const std::size_t longest = LongestName(folder);
  if (name.size() + kAdded > longest && longest > kAdded) name.resize(longest - kAdded);
  std::random_device seed;
  std::mt19937 random(seed());
  fs::path temporary;
  std::FILE* file = nullptr;
  int error = 0;
  std::unique_ptr<PendingTemporary> pending;
  for (int attempt = 0; attempt < 16 && file == nullptr; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
    temporary = folder / ("." + name + suffix);
    // Registered before it exists, so that a signal handler sees it from its creation.
    pending = std::make_unique<PendingTemporary>(temporary.string());
    file = std::fopen(temporary.c_str(), "wbx");  // fails if the name exists
    error = errno;
    if (file != nullptr) pending->Created();
    if (file == nullptr && error != EEXIST) break;
  }
  if (file == nullptr) Fail(path + ": cannot write: " + ErrorText(error));
  if (const auto hook = gTemporaryFileHook.load()) hook(temporary.c_str());

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
