// The codecs behind ReadPicture and WritePicture, one source file each, and the
// helpers they share; the table of formats (formats.h) points at them. Internal to
// the codec layer: callers use imaging/io/picture.h.
//
// Decoders take the whole file in memory and throw FileError with the problem
// only; they check the header's size with CheckPictureSize and then
// CheckDecodeLimits before decoding a pixel or allocating pixel memory, fill
// Picture::samples completely or throw, and apply the EXIF orientation. Encoders
// take a picture whose samples are on the 0..255 scale (see Picture) and return
// the file's bytes.
//
// Each codec also reads a header alone (XxxHeader): the checks and limits its
// decoder applies before decoding, from the same code, and the header's facts; it
// allocates no pixel memory and decodes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/io/picture.h"
#include "imaging/io/rowwrite.h"

namespace tvq::codec {

PictureHeader BmpHeader(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits);
PictureHeader PfmHeader(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits);
PictureHeader PngHeader(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits);
PictureHeader JpegHeader(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits);
PictureHeader TiffHeader(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits);
PictureHeader WebpHeader(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits);

Picture DecodeBmpPicture(const std::uint8_t* data, std::size_t size,
                         const DecodeLimits& limits = {});
std::vector<std::uint8_t> EncodeBmpPicture(const Picture& picture);

Picture DecodePfmPicture(const std::uint8_t* data, std::size_t size,
                         const DecodeLimits& limits = {});
std::vector<std::uint8_t> EncodePfmPicture(const Picture& picture);

Picture DecodePng(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits = {});
// PNG and TIFF deflate at zlib level 0..9 (TIFF: -1 for the library's default, 6).
inline constexpr std::int32_t kDefaultPngCompression = 3;
std::vector<std::uint8_t> EncodePng(const Picture& picture,
                                    std::int32_t level = kDefaultPngCompression);

Picture DecodeJpeg(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits = {});
std::vector<std::uint8_t> EncodeJpeg(const Picture& picture, std::int32_t quality);

Picture DecodeTiff(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits = {});
std::vector<std::uint8_t> EncodeTiff(const Picture& picture, std::int32_t level = -1);

Picture DecodeWebp(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits = {});
std::vector<std::uint8_t> EncodeWebp(const Picture& picture, std::int32_t quality);

// Writers by rows (imaging/io/rowwrite.h) of the formats that have one: PNG at a
// deflate level 0..9, PFM, BMP (nullptr for facts whose `bitmap` is set: the encoder
// writes that bitmap, not the samples), JPEG at a quality (clamped to 1..100 as
// EncodeJpeg does), TIFF at a deflate level (-1 for the library's). Each throws
// FileError "path: problem" when the facts cannot be written or the file not created.
std::unique_ptr<RowWriter> OpenPngRowWriter(const std::string& path, const Picture& facts,
                                            std::int32_t level);
std::unique_ptr<RowWriter> OpenPfmRowWriter(const std::string& path, const Picture& facts);
std::unique_ptr<RowWriter> OpenBmpRowWriter(const std::string& path, const Picture& facts);
std::unique_ptr<RowWriter> OpenJpegRowWriter(const std::string& path, const Picture& facts,
                                             std::int32_t quality);
std::unique_ptr<RowWriter> OpenTiffRowWriter(const std::string& path, const Picture& facts,
                                             std::int32_t level);

// Refuses, with FileError "path: problem", facts a row writer cannot write: no pixels,
// sides over 65535, channels outside 1..4.
void CheckRowFacts(const std::string& path, const Picture& facts);

// The file a row writer fills: a temporary file beside the target, ".NAME.XXXXXX.tmp",
// renamed over the target by Commit and removed when destroyed uncommitted. Errors are
// FileError "path: cannot write: reason".
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& path);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Writes bytes at `offset`, or after the last write when offset is negative.
  void Write(const void* data, std::size_t size, std::int64_t offset = -1);
  // Reads up to `size` bytes at `offset` back; the count read (short at the end).
  std::size_t Read(void* data, std::size_t size, std::int64_t offset) const;
  void Commit();

 private:
  [[noreturn]] void Fail(int error) const;

  std::string path_;
  std::string temporary_;
  int fd_ = -1;
  bool done_ = false;
};

// A row writer of a file stored bottom-up at a size known from the start (BMP, PFM): the
// header, then each row put at its place from the end as it comes, so that the memory is
// one row. A codec gives the header and how a row of samples is stored.
class BottomUpRowWriter : public RowWriter {
 public:
  void WriteRows(const float* samples, std::int32_t rows) override;
  void Finish() override;

 protected:
  // Checks the facts (CheckRowFacts) and opens the temporary file.
  BottomUpRowWriter(const std::string& path, const Picture& facts);
  // Writes the header; every stored row is `rowBytes` long.
  void Begin(const std::vector<std::uint8_t>& header, std::size_t rowBytes);
  // One row of the picture's samples (width * channels) as it is stored.
  virtual void StoreRow(const float* samples, std::uint8_t* row) const = 0;
  const Picture& Facts() const { return facts_; }

 private:
  std::string path_;
  TemporaryFile file_;
  Picture facts_;
  std::int64_t dataOffset_ = 0;
  std::int32_t next_ = 0;
  std::vector<std::uint8_t> row_;
};

// A sample as a byte: ClampToByte.
std::uint8_t SampleToByte(float v);
// A sample as a 16-bit word: round(clamp(v, 0, 255) * 257).
std::uint16_t SampleToWord(float v);
// A 16-bit word on the 0..255 scale: float(v / 257.0).
float WordToSample(std::uint16_t v);

// The profile an encoder writes: picture.icc when ProfileSuitsPicture, else none.
const std::vector<std::uint8_t>& ProfileToWrite(const Picture& picture);

// Text taken from a file for a message, cut to its first 40 bytes (at a character
// boundary) and "..." when longer, so that a message stays one short line.
std::string Excerpt(std::string_view text);

// Sets the header's orientation (1 for values outside 1..8) and its upright sides
// from the stored ones.
void SetOrientation(PictureHeader& header, std::int32_t orientation);

// The orientation (1..8) in an EXIF block that starts at its TIFF header ("II*\0"
// or "MM\0*"); 1 when the block holds none or is malformed. Reads nothing outside
// [data, data + size).
std::int32_t ExifOrientation(const std::uint8_t* data, std::size_t size);
// Turns the picture's samples upright for an EXIF orientation 2..8 (1 and unknown
// values leave them as they are); swaps width and height for 5..8. Sets
// picture.orientation.
void ApplyOrientation(Picture& picture, std::int32_t orientation);

}  // namespace tvq::codec
