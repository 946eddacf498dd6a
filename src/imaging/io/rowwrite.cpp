#include "imaging/io/rowwrite.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "imaging/errors.h"
#include "imaging/io/codecs.h"
#include "imaging/io/formats.h"

namespace tvq {

codec::TemporaryFile::TemporaryFile(const std::string& path) : path_(path) {
  const std::filesystem::path target(path);
  std::string name = target.filename().string();
  if (name.empty()) throw FileError(path + ": is a folder, not a file");
  // Within the longest name a folder holds, with the dot, the suffix and the X's.
  if (name.size() > 200) name.resize(200);
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  temporary_ = (folder / ("." + name + ".XXXXXX.tmp")).string();
  fd_ = ::mkstemps(temporary_.data(), 4);
  if (fd_ < 0) Fail(errno);
}

codec::TemporaryFile::~TemporaryFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!done_) ::unlink(temporary_.c_str());
}

void codec::TemporaryFile::Write(const void* data, std::size_t size, std::int64_t offset) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = offset < 0 ? ::write(fd_, p, size) : ::pwrite(fd_, p, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail(n < 0 ? errno : ENOSPC);
    p += n;
    size -= static_cast<std::size_t>(n);
    if (offset >= 0) offset += n;
  }
}

std::size_t codec::TemporaryFile::Read(void* data, std::size_t size, std::int64_t offset) const {
  auto* p = static_cast<std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd_, p + done, size - done, offset + static_cast<std::int64_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(errno);
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

void codec::TemporaryFile::Commit() {
  // A new file takes the mode a created file gets, as the whole-picture writer's.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd_, 0666 & ~mask) != 0 || ::close(fd_) != 0) {
    fd_ = -1;
    Fail(errno);
  }
  fd_ = -1;
  if (std::rename(temporary_.c_str(), path_.c_str()) != 0) Fail(errno);
  done_ = true;
}

void codec::TemporaryFile::Fail(int error) const {
  throw FileError(path_ + ": cannot write: " + std::strerror(error));
}

void codec::CheckRowFacts(const std::string& path, const Picture& facts) {
  if (facts.channels < 1 || facts.channels > 4 || facts.width <= 0 || facts.height <= 0)
    throw FileError(path + ": the picture is empty");
  if (facts.width > kMaxImageSide || facts.height > kMaxImageSide)
    throw FileError(path + ": a picture of " + std::to_string(facts.width) + "x" +
                    std::to_string(facts.height) + " pixels is larger than 65535 pixels a side");
}

namespace {

using codec::TemporaryFile;

// libpng's calls, each behind its own setjmp: an error comes back as a message.
struct PngWrite {
  std::jmp_buf jump;
  char message[200];
  TemporaryFile* file;
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngWrite*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message ? message : "unknown error");
  std::longjmp(state->jump, 1);
}
void OnPngWarning(png_structp, png_const_charp) {}
void OnPngFlush(png_structp) {}

void OnPngWrite(png_structp png, png_bytep data, png_size_t size) {
  auto* state = static_cast<PngWrite*>(png_get_io_ptr(png));
  try {
    state->file->Write(data, size);
  } catch (const FileError&) {
    png_error(png, "the file cannot be written");
  }
}

// The header as the whole-picture encoder writes it: the same IHDR, the profile as
// "ICC Profile", benign errors allowed (a profile libpng finds unfit is dropped).
int PngStart(PngWrite* state, png_structp png, png_infop info, png_uint_32 width,
             png_uint_32 height, int depth, int colourType, png_const_bytep icc,
             png_uint_32 iccSize, int level) {
  if (setjmp(state->jump)) return 1;
  png_set_benign_errors(png, 1);
  png_set_write_fn(png, state, OnPngWrite, OnPngFlush);
  png_set_IHDR(png, info, width, height, depth, colourType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, level);
  // Stored rows gain nothing from a filter.
  if (level == 0) png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  if (icc != nullptr)
    png_set_iCCP(png, info, "ICC Profile", PNG_COMPRESSION_TYPE_BASE, icc, iccSize);
  png_write_info(png, info);
  return 0;
}

int PngRow(PngWrite* state, png_structp png, png_const_bytep row) {
  if (setjmp(state->jump)) return 1;
  png_write_row(png, row);
  return 0;
}

int PngEnd(PngWrite* state, png_structp png, png_infop info) {
  if (setjmp(state->jump)) return 1;
  png_write_end(png, info);
  return 0;
}

class PngRowWriter : public RowWriter {
 public:
  PngRowWriter(const std::string& path, const Picture& facts, int level)
      : path_(path), file_(path), facts_(facts) {
    if (level < 0 || level > 9)
      throw FileError(path + ": the PNG compression " + std::to_string(level) + " is not in 0..9");
    static constexpr int kColourTypes[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA,
                                           PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA};
    codec::CheckRowFacts(path, facts);
    words_ = facts.bitsPerChannel == 16;
    const std::vector<std::uint8_t>& icc = codec::ProfileToWrite(facts);
    // As the whole-picture encoder's limit on a chunk.
    if (icc.size() > (32u << 20)) throw FileError(path + ": the ICC profile is too large");
    state_.file = &file_;
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state_, OnPngError, OnPngWarning);
    if (png_ == nullptr) throw std::bad_alloc();
    info_ = png_create_info_struct(png_);
    if (info_ == nullptr) throw std::bad_alloc();
    row_.resize(static_cast<std::size_t>(facts.width) * facts.channels * (words_ ? 2 : 1));
    Check(PngStart(&state_, png_, info_, static_cast<png_uint_32>(facts.width),
                   static_cast<png_uint_32>(facts.height), words_ ? 16 : 8,
                   kColourTypes[facts.channels - 1], icc.empty() ? nullptr : icc.data(),
                   static_cast<png_uint_32>(icc.size()), level));
  }
  ~PngRowWriter() override { png_destroy_write_struct(&png_, info_ ? &info_ : nullptr); }

  void WriteRows(const float* samples, std::int32_t rows) override {
    const std::size_t count = static_cast<std::size_t>(facts_.width) * facts_.channels;
    for (std::int32_t r = 0; r < rows; ++r, samples += count) {
      for (std::size_t i = 0; i < count; ++i) {
        if (words_) {
          const std::uint16_t v = codec::SampleToWord(samples[i]);
          row_[2 * i] = static_cast<png_byte>(v >> 8);
          row_[2 * i + 1] = static_cast<png_byte>(v);
        } else {
          row_[i] = codec::SampleToByte(samples[i]);
        }
      }
      if (next_ >= facts_.height) throw FileError(path_ + ": more rows than the picture has");
      Check(PngRow(&state_, png_, row_.data()));
      ++next_;
    }
  }

  void Finish() override {
    if (next_ != facts_.height) throw FileError(path_ + ": the picture's rows are incomplete");
    Check(PngEnd(&state_, png_, info_));
    file_.Commit();
  }

 private:
  void Check(int failed) const {
    if (failed != 0) throw FileError(path_ + ": cannot encode the PNG picture: " + state_.message);
  }

  std::string path_;
  TemporaryFile file_;
  Picture facts_;
  bool words_ = false;
  std::int32_t next_ = 0;
  PngWrite state_{};
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
  std::vector<png_byte> row_;
};

// PFM: the header, then the rows from the bottom, little-endian floats; alpha is
// dropped.
class PfmRowWriter : public codec::BottomUpRowWriter {
 public:
  PfmRowWriter(const std::string& path, const Picture& facts) : BottomUpRowWriter(path, facts) {
    written_ = facts.channels < 3 ? 1 : 3;
    const std::string header = std::string("P") + (written_ == 1 ? 'f' : 'F') + "\n" +
                               std::to_string(facts.width) + " " + std::to_string(facts.height) +
                               "\n-1.0\n";
    Begin(std::vector<std::uint8_t>(header.begin(), header.end()),
          static_cast<std::size_t>(facts.width) * written_ * 4);
  }

 private:
  void StoreRow(const float* samples, std::uint8_t* p) const override {
    const Picture& facts = Facts();
    for (std::int32_t x = 0; x < facts.width; ++x)
      for (int c = 0; c < written_; ++c, p += 4) {
        const auto bits =
            std::bit_cast<std::uint32_t>(samples[static_cast<std::size_t>(x) * facts.channels + c]);
        for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(bits >> (8 * i));
      }
  }

  int written_ = 3;
};

}  // namespace

codec::BottomUpRowWriter::BottomUpRowWriter(const std::string& path, const Picture& facts)
    : path_(path), file_(path), facts_(facts) {
  CheckRowFacts(path, facts);
}

void codec::BottomUpRowWriter::Begin(const std::vector<std::uint8_t>& header,
                                     std::size_t rowBytes) {
  file_.Write(header.data(), header.size(), 0);
  dataOffset_ = static_cast<std::int64_t>(header.size());
  row_.resize(rowBytes);
}

void codec::BottomUpRowWriter::WriteRows(const float* samples, std::int32_t rows) {
  const std::size_t count = static_cast<std::size_t>(facts_.width) * facts_.channels;
  for (std::int32_t r = 0; r < rows; ++r, samples += count, ++next_) {
    if (next_ >= facts_.height) throw FileError(path_ + ": more rows than the picture has");
    StoreRow(samples, row_.data());
    const std::int64_t place = dataOffset_ + static_cast<std::int64_t>(facts_.height - 1 - next_) *
                                                 static_cast<std::int64_t>(row_.size());
    file_.Write(row_.data(), row_.size(), place);
  }
}

void codec::BottomUpRowWriter::Finish() {
  if (next_ != facts_.height) throw FileError(path_ + ": the picture's rows are incomplete");
  file_.Commit();
}

std::unique_ptr<RowWriter> codec::OpenPngRowWriter(const std::string& path, const Picture& facts,
                                                   std::int32_t level) {
  return std::make_unique<PngRowWriter>(path, facts, level);
}

std::unique_ptr<RowWriter> codec::OpenPfmRowWriter(const std::string& path, const Picture& facts) {
  return std::make_unique<PfmRowWriter>(path, facts);
}

std::uint64_t RowWriterHeldBytes(PictureFormat format, std::int64_t width, std::int64_t height,
                                 std::int32_t channels) {
  if (format != PictureFormat::kJpeg || width <= 0 || height <= 0 || channels <= 0) return 0;
  return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) *
         static_cast<std::uint64_t>(channels) * 2;
}

bool FormatWritesByRows(PictureFormat format) {
  const FormatEntry* entry = FindFormat(format);
  return entry != nullptr && entry->openRows != nullptr;
}

std::unique_ptr<RowWriter> OpenRowWriter(const std::string& path, PictureFormat format,
                                         const Picture& facts, const WriteOptions& options) {
  const FormatEntry* entry = FindFormat(format);
  if (entry == nullptr || entry->openRows == nullptr) return nullptr;
  // The options EncodePicture refuses.
  if (options.quality < 1 || options.quality > 100)
    throw FileError(path + ": the quality " + std::to_string(options.quality) +
                    " is not in 1..100");
  if (options.compression && (*options.compression < 0 || *options.compression > 9))
    throw FileError(path + ": the compression " + std::to_string(*options.compression) +
                    " is not in 0..9");
  return entry->openRows(path, facts, options);
}

}  // namespace tvq
