#include "imaging/io/fileio.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <set>
#include <system_error>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
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

// A file descriptor, closed however the writer leaves.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now; the error of close, 0 when none.
  int Close() {
    const int fd = std::exchange(fd_, -1);
    return fd >= 0 && ::close(fd) != 0 ? errno : 0;
  }

 private:
  int fd_;
};

// "a FIFO", "a character device", ... for messages.
std::string KindOf(mode_t mode) {
  if (S_ISREG(mode)) return "a file";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "a special file";
}

bool ReadOnly(const struct stat& info) {
  return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// The moment this program started, near enough: files of our naming pattern older
// than it were left by an earlier run.
const timespec gProcessStart = [] {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return now;
}();

bool OlderThanProcess(const struct stat& info) {
  return info.st_mtim.tv_sec < gProcessStart.tv_sec ||
         (info.st_mtim.tv_sec == gProcessStart.tv_sec &&
          info.st_mtim.tv_nsec < gProcessStart.tv_nsec);
}

constexpr std::size_t kSuffixLength = 13;  // ".XXXXXXXX.tmp"

// NAME of a temporary file ".NAME.XXXXXXXX.tmp" (eight lower-case hex digits), or
// an empty string for any other name.
std::string TemporaryBase(const std::string& entry) {
  const std::size_t size = entry.size();
  if (size < 2 + kSuffixLength || entry[0] != '.' || entry[size - kSuffixLength] != '.' ||
      entry.compare(size - 4, 4, ".tmp") != 0)
    return {};
  for (std::size_t i = size - 12; i < size - 4; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(entry[i])) ||
        std::isupper(static_cast<unsigned char>(entry[i])))
      return {};
  return entry.substr(1, size - 1 - kSuffixLength);
}

// NAME of the temporary files of `name` in the open folder: ".NAME" plus the 13
// bytes of ".XXXXXXXX.tmp" must fit in a name, so a long name is cut (O_EXCL and
// the random part keep the names apart).
std::string TemporaryBaseFor(int folder, const std::string& name) {
  const long limit = ::fpathconf(folder, _PC_NAME_MAX);
  const std::size_t longest =
      limit > 0 ? static_cast<std::size_t>(limit) : static_cast<std::size_t>(NAME_MAX);
  std::string base = name;
  if (base.size() + 1 + kSuffixLength > longest && longest > 1 + kSuffixLength)
    base.resize(longest - 1 - kSuffixLength);
  return base;
}

// Removes the temporary files of the names `bases` (as TemporaryBaseFor gives them)
// that earlier runs left in the open folder: regular files of the pattern older than
// this process. Listing a folder costs about 4 ms per 10000 entries. Errors are
// ignored: the leftovers only take space.
void RemoveLeftovers(int folder, const std::set<std::string>& bases) {
  const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
  if (dir == nullptr) {
    if (listing >= 0) ::close(listing);
    return;
  }
  std::vector<std::string> leftovers;
  while (const dirent* entry = ::readdir(dir)) {
    struct stat file {};
    if (bases.count(TemporaryBase(entry->d_name)) != 0 &&
        ::fstatat(folder, entry->d_name, &file, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(file.st_mode) && OlderThanProcess(file))
      leftovers.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  for (const std::string& leftover : leftovers) ::unlinkat(folder, leftover.c_str(), 0);
}

// Writes all bytes to fd; 0 or the error.
int WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return wrote < 0 ? errno : EIO;
    done += static_cast<std::size_t>(wrote);
  }
  return 0;
}

// Opens a folder for the *at calls of a write; FileError "shown: cannot write: ...".
Descriptor OpenFolder(const fs::path& folder, const std::string& shown) {
  const fs::path path = folder.empty() ? fs::path(".") : folder;
  const int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT)
      Fail(shown + ": cannot write: the folder " + path.string() + " does not exist");
    if (error == ENOTDIR) Fail(shown + ": cannot write: " + path.string() + " is not a folder");
    Fail(shown + ": cannot write: " + path.string() + ": " + ErrorText(error));
  }
  return Descriptor(fd);
}

// Refuses a folder that this process cannot create files in.
void CheckFolderWritable(int folder, const fs::path& folderPath, const std::string& shown) {
  if (::faccessat(folder, ".", W_OK | X_OK, 0) != 0) {
    const int error = errno;
    const fs::path path = folderPath.empty() ? fs::path(".") : folderPath;
    Fail(shown + ": cannot write in the folder " + path.string() + ": " + ErrorText(error));
  }
}

// Writes bytes to a fresh temporary file in the open folder, then renames it over
// `name`. `folderPath` is the folder's path, for the signal handler's registry;
// `shown` names the result in messages; `keepMode`, when set, is the mode of the
// file replaced.
void WriteThroughTemporary(int folder, const fs::path& folderPath, const std::string& name,
                           const std::string& shown, const std::vector<std::uint8_t>& bytes,
                           const mode_t* keepMode) {
  const std::string base = TemporaryBaseFor(folder, name);

  std::random_device seed;
  std::mt19937 random(seed());
  std::string temporary;
  fs::path temporaryPath;
  Descriptor file;
  int error = 0;
  std::unique_ptr<PendingTemporary> pending;
  for (int attempt = 0; attempt < 16 && !file.valid(); ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
    temporary = "." + base + suffix;
    temporaryPath = folderPath / temporary;
    // Registered before it exists, so that a signal handler sees it from its creation.
    pending = std::make_unique<PendingTemporary>(temporaryPath.string());
    file = Descriptor(::openat(folder, temporary.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    error = errno;
    if (file.valid()) pending->Created();
    if (!file.valid() && error != EEXIST) break;
  }
  if (!file.valid()) Fail(shown + ": cannot write: " + ErrorText(error));
  if (const auto hook = gTemporaryFileHook.load()) hook(temporaryPath.c_str());

  error = WriteAll(file.get(), bytes);
  if (error == 0 && keepMode != nullptr) ::fchmod(file.get(), *keepMode & 07777);
  const int closeError = file.Close();
  if (error == 0) error = closeError;
  if (error == 0 && ::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlinkat(folder, temporary.c_str(), 0);
    Fail(shown + ": cannot write: " + ErrorText(error));
  }
}

// Whether path lies in /proc, where a link such as /proc/self/fd/1 names an open
// file rather than a place in a folder.
bool InProc(const fs::path& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec).lexically_normal();
  auto part = absolute.begin();
  return !ec && part != absolute.end() && ++part != absolute.end() && *part == "proc";
}

// Whether a failed look at a path found nothing there (what is missing may be a
// folder on the way: opening the folder says which).
bool Missing(int error) {
  return error == ENOENT || error == ENOTDIR;
}

// Where a single-file write goes and how.
struct Target {
  fs::path path;         // the end of path's links; a link that leads nowhere itself
  bool inPlace = false;  // written into the existing file, not replaced
  bool exists = false;
  struct stat info {};  // when it exists (links followed)
};

// Follows the links at path's end, checks what is there and refuses what is never
// written: a folder, a block device, a socket, a read-only file.
Target ResolveTarget(const std::string& path) {
  if (path.empty()) Fail("cannot write a file without a name");
  Target target{fs::path(path)};
  for (int hop = 0; hop < 40; ++hop) {
    struct stat link {};
    if (::lstat(target.path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) break;
    // /dev/stdout leads to /proc/self/fd/1, which names whatever the descriptor
    // holds (a pipe, a terminal, a file): it is opened and written as it is.
    if (InProc(target.path)) {
      target.inPlace = true;
      break;
    }
    std::error_code ec;
    const fs::path to = fs::read_symlink(target.path, ec);
    if (ec) break;
    const fs::path next = to.is_absolute() ? to : target.path.parent_path() / to;
    struct stat nextInfo {};
    if (::lstat(next.c_str(), &nextInfo) != 0) {
      const int error = errno;
      if (Missing(error)) break;  // leads nowhere: the link itself is replaced
      Fail(path + ": cannot write: " + next.string() + ": " + ErrorText(error));
    }
    target.path = next;
  }
  target.exists = ::stat(target.path.c_str(), &target.info) == 0;
  const int error = target.exists ? 0 : errno;
  if (!target.exists && !Missing(error)) Fail(path + ": cannot write: " + ErrorText(error));
  if (!target.exists) return target;
  const mode_t mode = target.info.st_mode;
  if (S_ISDIR(mode)) Fail(path + ": is a folder, not a file");
  if (S_ISFIFO(mode) || S_ISCHR(mode)) target.inPlace = true;
  if (!S_ISREG(mode) && !target.inPlace)
    Fail(path + ": is " + KindOf(mode) + "; only files, FIFOs and character devices are written");
  if (S_ISREG(mode) && !target.inPlace && ReadOnly(target.info))
    Fail(path + ": the file is read-only");
  return target;
}

// What is at `name` in the open folder, its link not followed, refusing what a
// batch never replaces; false when nothing is there.
bool CheckPlaceBelow(int folder, const std::string& name, const std::string& shown, bool forWriting,
                     struct stat* info) {
  if (::fstatat(folder, name.c_str(), info, AT_SYMLINK_NOFOLLOW) != 0) {
    const int error = errno;
    if (error == ENOENT) return false;
    Fail(shown + ": cannot write: " + ErrorText(error));
  }
  const mode_t mode = info->st_mode;
  if (S_ISDIR(mode)) Fail(shown + ": is a folder, not a file");
  if (!S_ISREG(mode) && !S_ISLNK(mode))
    Fail(shown + ": is " + KindOf(mode) + ", not a file; a batch replaces only files and links");
  if (forWriting && S_ISREG(mode) && ReadOnly(*info)) Fail(shown + ": the file is read-only");
  return true;
}

// `relative` split into the names of its folders and its own name; FileError for a
// path that could leave root.
std::pair<std::vector<std::string>, std::string> SplitBelow(const std::string& relative,
                                                            const std::string& shown) {
  std::vector<std::string> parts;
  for (const auto& part : fs::path(relative)) {
    const std::string name = part.string();
    if (name == ".." || part.is_absolute() || name == "/")
      Fail(shown + ": cannot write: the path leaves the output folder");
    if (!name.empty() && name != ".") parts.push_back(name);
  }
  if (parts.empty()) Fail(shown + ": cannot write a file without a name");
  std::string name = std::move(parts.back());
  parts.pop_back();
  return {std::move(parts), std::move(name)};
}

// Opens the folder `folders` below root without passing through a link, creating
// the missing ones when `create`; an invalid descriptor when one is missing and not
// created. `reached` is set to the folder's path.
Descriptor OpenBelow(const std::string& root, const std::vector<std::string>& folders, bool create,
                     const std::string& shown, fs::path& reached) {
  reached = fs::path(root);
  Descriptor folder(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid() && errno == ENOENT) {
    if (!create) return folder;
    std::error_code ec;
    fs::create_directories(reached, ec);
    if (ec)
      Fail(shown + ": cannot write: the folder " + root + " cannot be created (" + ec.message() +
           ")");
    folder = Descriptor(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  }
  if (!folder.valid()) {
    const int error = errno;
    Fail(shown + ": cannot write: " + root + ": " + ErrorText(error));
  }
  for (const std::string& name : folders) {
    reached /= name;
    struct stat info {};
    if (::fstatat(folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      int error = errno;
      if (error != ENOENT)
        Fail(shown + ": cannot write: " + reached.string() + ": " + ErrorText(error));
      if (!create) return Descriptor();
      error = ::mkdirat(folder.get(), name.c_str(), 0777) == 0 ? 0 : errno;
      if (error != 0 && error != EEXIST)
        Fail(shown + ": cannot write: the folder " + reached.string() + " cannot be created (" +
             ErrorText(error) + ")");
      if (::fstatat(folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        error = errno;
        Fail(shown + ": cannot write: " + reached.string() + ": " + ErrorText(error));
      }
    }
    if (S_ISLNK(info.st_mode))
      Fail(shown + ": cannot write: " + reached.string() +
           " is a symbolic link; results are not written through links");
    if (!S_ISDIR(info.st_mode))
      Fail(shown + ": cannot write: " + reached.string() + " is " + KindOf(info.st_mode) +
           ", not a folder");
    // O_NOFOLLOW: a link put in its place since the look is refused, not followed.
    Descriptor next(
        ::openat(folder.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.valid()) {
      const int error = errno;
      Fail(
          shown + ": cannot write: " + reached.string() + ": " +
          (error == ENOTDIR || error == ELOOP ? std::string("is not a folder") : ErrorText(error)));
    }
    folder = std::move(next);
  }
  return folder;
}

}  // namespace

void RemovePendingTemporaryFiles() noexcept {
  for (PendingSlot& slot : gPending)
    if (slot.state.load() == kHeld) unlink(slot.path);
}

void SetTemporaryFileHookForTesting(void (*hook)(const char* temporary)) {
  gTemporaryFileHook = hook;
}

void CheckWritable(const std::string& path) {
  const Target target = ResolveTarget(path);
  if (target.inPlace) return;
  const Descriptor folder = OpenFolder(target.path.parent_path(), path);
  CheckFolderWritable(folder.get(), target.path.parent_path(), path);
}

void WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  const Target target = ResolveTarget(path);
  if (target.inPlace) {
    // A pipe or device takes the bytes as they come; a file named through /proc is
    // rewritten from its start.
    const int flags =
        O_WRONLY | O_NOCTTY | O_CLOEXEC | (S_ISREG(target.info.st_mode) ? O_TRUNC : 0);
    Descriptor file(::open(target.path.c_str(), flags));
    int error = file.valid() ? 0 : errno;
    if (error != 0) Fail(path + ": cannot write: " + ErrorText(error));
    error = WriteAll(file.get(), bytes);
    const int closeError = file.Close();
    if (error == 0) error = closeError;
    if (error != 0) Fail(path + ": cannot write: " + ErrorText(error));
    return;
  }
  const std::string name = target.path.filename().string();
  if (name.empty() || name == "." || name == "..") Fail(path + ": is a folder, not a file");
  const Descriptor folder = OpenFolder(target.path.parent_path(), path);
  RemoveLeftovers(folder.get(), {TemporaryBaseFor(folder.get(), name)});
  const bool keep = target.exists && S_ISREG(target.info.st_mode);
  WriteThroughTemporary(folder.get(), target.path.parent_path(), name, path, bytes,
                        keep ? &target.info.st_mode : nullptr);
}

bool InspectBelow(const std::string& root, const std::string& relative, bool forWriting) {
  const std::string shown = (fs::path(root) / relative).lexically_normal().string();
  const auto [folders, name] = SplitBelow(relative, shown);
  fs::path folderPath;
  const Descriptor folder = OpenBelow(root, folders, false, shown, folderPath);
  if (!folder.valid()) return false;
  struct stat info {};
  const bool exists = CheckPlaceBelow(folder.get(), name, shown, forWriting, &info);
  if (forWriting) CheckFolderWritable(folder.get(), folderPath, shown);
  return exists;
}

void RemoveLeftoversBelow(const std::string& root, const std::vector<std::string>& relatives) {
  std::map<std::vector<std::string>, std::set<std::string>> names;  // folder -> file names
  for (const std::string& relative : relatives) {
    try {
      auto [folders, name] = SplitBelow(relative, relative);
      names[std::move(folders)].insert(std::move(name));
    } catch (const FileError&) {
      // Not below root: the write will say so.
    }
  }
  for (const auto& [folders, files] : names) {
    try {
      fs::path folderPath;
      const Descriptor folder = OpenBelow(root, folders, false, root, folderPath);
      if (!folder.valid()) continue;
      std::set<std::string> bases;
      for (const std::string& name : files) bases.insert(TemporaryBaseFor(folder.get(), name));
      RemoveLeftovers(folder.get(), bases);
    } catch (const FileError&) {
      // A link or a file among the folders: the write will say so.
    }
  }
}

void WriteFileBelow(const std::string& root, const std::string& relative,
                    const std::vector<std::uint8_t>& bytes) {
  const std::string shown = (fs::path(root) / relative).lexically_normal().string();
  const auto [folders, name] = SplitBelow(relative, shown);
  fs::path folderPath;
  const Descriptor folder = OpenBelow(root, folders, true, shown, folderPath);
  struct stat info {};
  const bool exists = CheckPlaceBelow(folder.get(), name, shown, true, &info);
  // A link is replaced by the rename as a link; only a file's mode is kept.
  const bool keep = exists && S_ISREG(info.st_mode);
  WriteThroughTemporary(folder.get(), folderPath, name, shown, bytes,
                        keep ? &info.st_mode : nullptr);
}

}  // namespace tvq
