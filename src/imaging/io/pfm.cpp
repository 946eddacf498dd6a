#include "imaging/io/pfm.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/io/codecs.h"

namespace tvq {

namespace {

// Files larger than this are refused before they are read.
constexpr std::uint64_t kMaxPfmFileBytes = kMaxPictureBytes + (1u << 20);

[[noreturn]] void Fail(const std::string& what) {
  throw FileError(what);
}

bool IsSpace(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

struct ParsedHeader {
  int channels = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool littleEndian = true;
  std::size_t dataOffset = 0;
};

// Reads the next whitespace-separated header token starting at pos.
std::string_view NextToken(const std::uint8_t* bytes, std::size_t size, std::size_t& pos,
                           const char* what) {
  while (pos < size && IsSpace(bytes[pos])) ++pos;
  const std::size_t start = pos;
  while (pos < size && !IsSpace(bytes[pos])) ++pos;
  if (pos == start) Fail(std::string("the PFM header ends before its ") + what);
  return std::string_view(reinterpret_cast<const char*>(bytes) + start, pos - start);
}

std::int32_t ParseSide(std::string_view token, const char* what) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (error == std::errc::result_out_of_range || (error == std::errc() && value > kMaxImageSide))
    Fail(std::string("the ") + what + " " + codec::Excerpt(token) + " is larger than " +
         std::to_string(kMaxImageSide) + " pixels");
  if (error != std::errc() || end != token.data() + token.size())
    Fail(std::string("the PFM ") + what + " \"" + codec::Excerpt(token) + "\" is not a number");
  if (value <= 0)
    Fail(std::string("the ") + what + " " + std::to_string(value) + " is not positive");
  return static_cast<std::int32_t>(value);
}

// limits, when given, are applied before the size of the data is checked.
ParsedHeader ParseHeader(const std::uint8_t* bytes, std::size_t size,
                         const DecodeLimits* limits = nullptr) {
  if (bytes == nullptr || size < 3 || bytes[0] != 'P' || (bytes[1] != 'f' && bytes[1] != 'F') ||
      !IsSpace(bytes[2]))
    Fail("not a PFM file (it does not start with \"PF\" or \"Pf\")");
  ParsedHeader header;
  header.channels = bytes[1] == 'F' ? 3 : 1;
  std::size_t pos = 2;
  header.width = ParseSide(NextToken(bytes, size, pos, "width"), "width");
  header.height = ParseSide(NextToken(bytes, size, pos, "height"), "height");
  const std::string_view scaleText = NextToken(bytes, size, pos, "scale");
  double scale = 0;
  const auto [end, error] =
      std::from_chars(scaleText.data(), scaleText.data() + scaleText.size(), scale);
  if (error != std::errc() || end != scaleText.data() + scaleText.size() || !std::isfinite(scale) ||
      scale == 0)
    Fail("the PFM scale \"" + codec::Excerpt(scaleText) + "\" is not a non-zero number");
  header.littleEndian = scale < 0;
  // Exactly one whitespace character separates the header from the floats.
  if (pos >= size) Fail("the PFM file ends after its header");
  header.dataOffset = pos + 1;

  const std::uint64_t needed = static_cast<std::uint64_t>(header.width) *
                               static_cast<std::uint64_t>(header.height) * header.channels * 4;
  if (needed > kMaxPictureBytes)
    Fail("a picture of " + std::to_string(header.width) + " x " + std::to_string(header.height) +
         " pixels needs " + std::to_string(needed >> 20) + " MiB, more than the " +
         std::to_string(kMaxPictureBytes >> 20) + " MiB allowed");
  if (limits != nullptr) CheckDecodeLimits(header.width, header.height, *limits);
  const std::uint64_t available = size - header.dataOffset;
  if (available < needed)
    Fail("the PFM data is truncated: " + std::to_string(needed) +
         " bytes are needed, the file has " + std::to_string(available));
  return header;
}

// Reads one float of the file's byte order.
float GetFloat(const std::uint8_t* p, bool littleEndian) {
  const std::uint32_t bits =
      littleEndian
          ? (static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
             (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24))
          : (static_cast<std::uint32_t>(p[3]) | (static_cast<std::uint32_t>(p[2]) << 8) |
             (static_cast<std::uint32_t>(p[1]) << 16) | (static_cast<std::uint32_t>(p[0]) << 24));
  return std::bit_cast<float>(bits);
}

void PutFloat(std::uint8_t* p, float v) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

// Header plus room for the floats, which are filled by the caller.
std::vector<std::uint8_t> StartFile(char kind, std::int32_t width, std::int32_t height,
                                    int channels, std::size_t& dataOffset) {
  const std::string header = std::string("P") + kind + "\n" + std::to_string(width) + " " +
                             std::to_string(height) + "\n-1.0\n";
  dataOffset = header.size();
  std::vector<std::uint8_t> bytes(header.size() + static_cast<std::size_t>(width) *
                                                      static_cast<std::size_t>(height) *
                                                      static_cast<std::size_t>(channels) * 4);
  std::memcpy(bytes.data(), header.data(), header.size());
  return bytes;
}

void CheckWritable(const TImageBase& image, const std::string& path) {
  if (!image.HasImage() || image.Width() <= 0 || image.Height() <= 0)
    Fail(path + ": the picture is empty");
}

template <typename Image>
Image ReadPfm(const std::string& path, int channels) {
  const std::vector<std::uint8_t> bytes = ReadWholeFile(path, kMaxPfmFileBytes);
  try {
    const ParsedHeader header = ParseHeader(bytes.data(), bytes.size());
    if (header.channels != channels)
      Fail(channels == 1 ? "the file is a colour PFM (\"PF\"), a grey one (\"Pf\") is needed"
                         : "the file is a grey PFM (\"Pf\"), a colour one (\"PF\") is needed");
    Image image(header.width, header.height);
    const std::uint8_t* p = bytes.data() + header.dataOffset;
    for (std::int32_t y = header.height - 1; y >= 0; --y) {
      auto* row = image.Row(y);
      for (std::int32_t x = 0; x < header.width; ++x) {
        if constexpr (Image::kFormat == ifF) {
          row[x] = GetFloat(p, header.littleEndian);
          p += 4;
        } else {
          for (int c = 2; c >= 0; --c, p += 4) row[4 * x + c] = GetFloat(p, header.littleEndian);
        }
      }
    }
    return image;
  } catch (const FileError& e) {
    throw FileError(path + ": " + e.what());
  } catch (const std::bad_alloc&) {
    throw FileError(path + ": not enough memory for the picture");
  } catch (const EZorException& e) {
    throw FileError(path + ": " + e.what());
  }
}

// The image as a PFM file: rows from the bottom up, each pixel as its grey float or as
// red, green and blue (channels 2, 1 and 0 of a four-float pixel).
template <typename Image>
void WritePfmFile(const Image& image, const std::string& path) {
  CheckWritable(image, path);
  constexpr bool kGrey = Image::kFormat == ifF;
  std::size_t offset = 0;
  std::vector<std::uint8_t> bytes =
      StartFile(kGrey ? 'f' : 'F', image.Width(), image.Height(), kGrey ? 1 : 3, offset);
  std::uint8_t* p = bytes.data() + offset;
  for (std::int32_t y = image.Height() - 1; y >= 0; --y) {
    const float* row = image.Row(y);
    for (std::int32_t x = 0; x < image.Width(); ++x) {
      if constexpr (kGrey) {
        PutFloat(p, row[x]);
        p += 4;
      } else {
        for (int c = 2; c >= 0; --c, p += 4) PutFloat(p, row[4 * x + c]);
      }
    }
  }
  WriteFileAtomically(path, bytes);
}

}  // namespace

void WritePfm(const TImageF& image, const std::string& path) {
  WritePfmFile(image, path);
}

void WritePfm(const TImageF4& image, const std::string& path) {
  WritePfmFile(image, path);
}

TImageF ReadPfmGrey(const std::string& path) {
  return ReadPfm<TImageF>(path, 1);
}

TImageF4 ReadPfmColour(const std::string& path) {
  return ReadPfm<TImageF4>(path, 3);
}

namespace codec {

PictureHeader PfmHeader(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits) {
  const ParsedHeader parsed = ParseHeader(data, size, &limits);
  PictureHeader header;
  header.format = PictureFormat::kPfm;
  header.storedWidth = parsed.width;
  header.storedHeight = parsed.height;
  header.channels = parsed.channels;
  header.bitsPerChannel = 32;
  SetOrientation(header, 1);
  return header;
}

Picture DecodePfmPicture(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits) {
  const ParsedHeader header = ParseHeader(data, size, &limits);
  Picture picture;
  picture.format = PictureFormat::kPfm;
  picture.width = header.width;
  picture.height = header.height;
  picture.channels = header.channels;
  picture.bitsPerChannel = 32;
  const std::size_t rowSamples =
      static_cast<std::size_t>(header.width) * static_cast<std::size_t>(header.channels);
  picture.samples.resize(rowSamples * static_cast<std::size_t>(header.height));
  // The file's rows run from the bottom up; its channels are red, green, blue.
  const std::uint8_t* p = data + header.dataOffset;
  for (std::int32_t y = header.height - 1; y >= 0; --y) {
    float* row = picture.samples.data() + static_cast<std::size_t>(y) * rowSamples;
    for (std::size_t i = 0; i < rowSamples; ++i, p += 4) row[i] = GetFloat(p, header.littleEndian);
  }
  return picture;
}

std::vector<std::uint8_t> EncodePfmPicture(const Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0 || picture.channels < 1 || picture.channels > 4)
    Fail("the picture is empty");
  const bool grey = picture.channels < 3;
  const int written = grey ? 1 : 3;  // alpha is dropped
  std::size_t offset = 0;
  std::vector<std::uint8_t> bytes =
      StartFile(grey ? 'f' : 'F', picture.width, picture.height, written, offset);
  const std::size_t ch = static_cast<std::size_t>(picture.channels);
  const std::size_t rowSamples = static_cast<std::size_t>(picture.width) * ch;
  std::uint8_t* p = bytes.data() + offset;
  for (std::int32_t y = picture.height - 1; y >= 0; --y) {
    const float* row = picture.samples.data() + static_cast<std::size_t>(y) * rowSamples;
    for (std::int32_t x = 0; x < picture.width; ++x, row += ch)
      for (int c = 0; c < written; ++c, p += 4) PutFloat(p, row[c]);
  }
  return bytes;
}

}  // namespace codec

}  // namespace tvq
