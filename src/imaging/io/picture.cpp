#include "imaging/io/picture.h"

#include <cstring>
#include <iterator>
#include <new>
#include <string>

#include "imaging/io/codecs.h"

namespace tvq {

namespace {

// Files larger than this are refused before they are read: room for the largest
// picture stored without compression, plus headers and metadata.
constexpr std::uint64_t kMaxFileBytes = 2 * kMaxPictureBytes;

constexpr char kUnknownFormat[] =
    "not a picture file of a supported format (BMP, PNG, JPEG, TIFF, WebP, PFM)";

// What the layer knows of each format, in PictureFormat order: its name, the
// extensions that name it (the first one when a file is written), whether its files
// hold alpha, 16-bit samples and an ICC profile, and its codec. Only the lossy
// encoders use quality.
struct FormatEntry {
  const char* name;
  const char* extensions[2];
  bool alpha;
  bool sixteenBits;
  bool profile;
  PictureHeader (*header)(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits);
  Picture (*decode)(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits);
  std::vector<std::uint8_t> (*encode)(const Picture& picture, const WriteOptions& options);
};

constexpr FormatEntry kFormats[] = {
    {"BMP",
     {".bmp"},
     false,
     false,
     false,
     codec::BmpHeader,
     codec::DecodeBmpPicture,
     [](const Picture& p, const WriteOptions&) { return codec::EncodeBmpPicture(p); }},
    {"PFM",
     {".pfm"},
     false,
     false,
     false,
     codec::PfmHeader,
     codec::DecodePfmPicture,
     [](const Picture& p, const WriteOptions&) { return codec::EncodePfmPicture(p); }},
    {"PNG",
     {".png"},
     true,
     true,
     true,
     codec::PngHeader,
     codec::DecodePng,
     [](const Picture& p, const WriteOptions& o) {
       return codec::EncodePng(p, o.compression.value_or(codec::kDefaultPngCompression));
     }},
    {"JPEG",
     {".jpg", ".jpeg"},
     false,
     false,
     true,
     codec::JpegHeader,
     codec::DecodeJpeg,
     [](const Picture& p, const WriteOptions& o) { return codec::EncodeJpeg(p, o.quality); }},
    {"TIFF",
     {".tif", ".tiff"},
     true,
     true,
     true,
     codec::TiffHeader,
     codec::DecodeTiff,
     [](const Picture& p, const WriteOptions& o) {
       return codec::EncodeTiff(p, o.compression.value_or(-1));
     }},
    {"WebP",
     {".webp"},
     true,
     false,
     true,
     codec::WebpHeader,
     codec::DecodeWebp,
     [](const Picture& p, const WriteOptions& o) { return codec::EncodeWebp(p, o.quality); }},
};

// The entry of a format; nullptr for a value outside the enumeration.
const FormatEntry* EntryOf(PictureFormat format) {
  const auto index = static_cast<std::size_t>(format);
  return index < std::size(kFormats) ? &kFormats[index] : nullptr;
}

bool StartsWith(const std::uint8_t* data, std::size_t size, const char* magic, std::size_t n) {
  return size >= n && std::memcmp(data, magic, n) == 0;
}

bool IsSpace(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The extension of the last path component with its dot, in lower case; empty
// when there is none.
std::string LowerExtension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

std::string ExtensionList() {
  std::string list;
  for (const std::string& ext : PictureExtensions()) list += (list.empty() ? "" : ", ") + ext;
  return list;
}

// A decoder's promise, checked once for all of them.
void CheckDecoded(const Picture& picture) {
  if (picture.bitmap) return;
  const std::uint64_t expected = static_cast<std::uint64_t>(picture.width) *
                                 static_cast<std::uint64_t>(picture.height) *
                                 static_cast<std::uint64_t>(picture.channels);
  if (picture.width <= 0 || picture.height <= 0 || picture.channels < 1 || picture.channels > 4 ||
      picture.samples.size() != expected)
    throw FileError(std::string("the ") + PictureFormatName(picture.format) +
                    " decoder returned an incomplete picture");
}

void CheckEncodable(const Picture& picture, PictureFormat format) {
  if (format == PictureFormat::kBmp && picture.bitmap) {
    if (picture.bitmap->Empty()) throw FileError("the picture is empty");
    return;
  }
  if (picture.width <= 0 || picture.height <= 0) throw FileError("the picture is empty");
  if (picture.bitmap && picture.samples.empty())
    throw FileError(std::string("a picture read from a BMP file holds no samples to write as ") +
                    PictureFormatName(format));
  if (picture.width > kMaxImageSide || picture.height > kMaxImageSide)
    throw FileError("a picture of " + std::to_string(picture.width) + "x" +
                    std::to_string(picture.height) + " pixels is larger than 65535 pixels a side");
  if (picture.channels < 1 || picture.channels > 4)
    throw FileError("a picture of " + std::to_string(picture.channels) +
                    " channels cannot be written");
  const std::uint64_t expected = static_cast<std::uint64_t>(picture.width) *
                                 static_cast<std::uint64_t>(picture.height) *
                                 static_cast<std::uint64_t>(picture.channels);
  if (picture.samples.size() != expected)
    throw FileError(std::string("the picture holds ") + std::to_string(picture.samples.size()) +
                    " samples instead of " + std::to_string(expected));
}

}  // namespace

const char* PictureFormatName(PictureFormat format) {
  const FormatEntry* entry = EntryOf(format);
  return entry != nullptr ? entry->name : "unknown";
}

const std::vector<std::string>& PictureExtensions() {
  static const std::vector<std::string> extensions = [] {
    std::vector<std::string> list;
    for (const FormatEntry& entry : kFormats)
      for (const char* ext : entry.extensions)
        if (ext != nullptr) list.push_back(ext);
    return list;
  }();
  return extensions;
}

std::optional<PictureFormat> FormatFromExtension(const std::string& path) {
  const std::string ext = LowerExtension(path);
  for (std::size_t i = 0; i < std::size(kFormats); ++i)
    for (const char* name : kFormats[i].extensions)
      if (name != nullptr && ext == name) return static_cast<PictureFormat>(i);
  return std::nullopt;
}

std::optional<PictureFormat> SniffFormat(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr) return std::nullopt;
  if (StartsWith(data, size, "\x89PNG\r\n\x1a\n", 8)) return PictureFormat::kPng;
  if (StartsWith(data, size, "\xFF\xD8\xFF", 3)) return PictureFormat::kJpeg;
  // Classic TIFF (42) and BigTIFF (43), both byte orders.
  if (StartsWith(data, size, "II*\0", 4) || StartsWith(data, size, "MM\0*", 4) ||
      StartsWith(data, size, "II+\0", 4) || StartsWith(data, size, "MM\0+", 4))
    return PictureFormat::kTiff;
  if (size >= 12 && StartsWith(data, size, "RIFF", 4) && std::memcmp(data + 8, "WEBP", 4) == 0)
    return PictureFormat::kWebp;
  if (size >= 3 && data[0] == 'P' && (data[1] == 'f' || data[1] == 'F') && IsSpace(data[2]))
    return PictureFormat::kPfm;
  if (StartsWith(data, size, "BM", 2)) return PictureFormat::kBmp;
  return std::nullopt;
}

bool FormatHoldsAlpha(PictureFormat format) {
  const FormatEntry* entry = EntryOf(format);
  return entry != nullptr && entry->alpha;
}

bool FormatHolds16Bits(PictureFormat format) {
  const FormatEntry* entry = EntryOf(format);
  return entry != nullptr && entry->sixteenBits;
}

bool FormatHoldsProfile(PictureFormat format) {
  const FormatEntry* entry = EntryOf(format);
  return entry != nullptr && entry->profile;
}

std::string ProfileColourSpace(const std::vector<std::uint8_t>& icc) {
  // A profile's header is 128 bytes: the data colour space at 16, "acsp" at 36.
  if (icc.size() < 128 || std::memcmp(icc.data() + 36, "acsp", 4) != 0) return {};
  std::string space(icc.begin() + 16, icc.begin() + 20);
  for (char c : space)
    if (c < ' ' || c > '~') return {};
  while (!space.empty() && space.back() == ' ') space.pop_back();
  return space;
}

bool ProfileSuitsPicture(const Picture& picture) {
  if (picture.icc.empty() || picture.channels > 2) return true;
  const std::string space = ProfileColourSpace(picture.icc);
  return space.empty() || space == "GRAY";
}

PictureHeader DecodePictureHeader(const std::uint8_t* data, std::size_t size,
                                  const DecodeLimits& limits) {
  const std::optional<PictureFormat> format = SniffFormat(data, size);
  if (!format) throw FileError(kUnknownFormat);
  try {
    PictureHeader header = EntryOf(*format)->header(data, size, limits);
    header.format = *format;
    return header;
  } catch (const std::bad_alloc&) {
    throw FileError("not enough memory to read the header");
  } catch (const EZorException& e) {
    throw FileError(e.what());
  }
}

Picture DecodePicture(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits) {
  const std::optional<PictureFormat> format = SniffFormat(data, size);
  if (!format) throw FileError(kUnknownFormat);
  try {
    DecodeLimits ofFormat = limits;
    ofFormat.format = *format;
    Picture picture = EntryOf(*format)->decode(data, size, ofFormat);
    picture.format = *format;
    CheckDecoded(picture);
    return picture;
  } catch (const std::bad_alloc&) {
    throw FileError("not enough memory for the picture");
  } catch (const EZorException& e) {
    throw FileError(e.what());
  }
}

namespace {

// Reads a picture file whole and hands its bytes to decode; errors name the path.
template <typename Decode>
auto ReadAndDecode(const std::string& path, const Decode& decode) {
  const std::vector<std::uint8_t> bytes =
      ReadWholeFile(path, kMaxFileBytes, [](const std::uint8_t* data, std::size_t size) {
        if (!SniffFormat(data, size)) throw FileError(kUnknownFormat);
      });
  try {
    return decode(bytes);
  } catch (const PixelLimitError& e) {
    throw PixelLimitError(path + ": " + e.what());
  } catch (const FileError& e) {
    throw FileError(path + ": " + e.what());
  }
}

}  // namespace

Picture ReadPicture(const std::string& path, const DecodeLimits& limits) {
  return ReadAndDecode(path, [&](const std::vector<std::uint8_t>& bytes) {
    return DecodePicture(bytes.data(), bytes.size(), limits);
  });
}

PictureHeader ReadPictureHeader(const std::string& path, const DecodeLimits& limits) {
  return ReadAndDecode(path, [&](const std::vector<std::uint8_t>& bytes) {
    return DecodePictureHeader(bytes.data(), bytes.size(), limits);
  });
}

std::vector<std::uint8_t> EncodePicture(const Picture& picture, PictureFormat format,
                                        const WriteOptions& options) {
  CheckEncodable(picture, format);
  if (options.quality < 1 || options.quality > 100)
    throw FileError("the quality " + std::to_string(options.quality) + " is not in 1..100");
  if (options.compression && (*options.compression < 0 || *options.compression > 9))
    throw FileError("the compression " + std::to_string(*options.compression) + " is not in 0..9");
  try {
    if (const FormatEntry* entry = EntryOf(format)) return entry->encode(picture, options);
  } catch (const std::bad_alloc&) {
    throw FileError("not enough memory to encode the picture");
  } catch (const EZorException& e) {
    throw FileError(e.what());
  }
  throw FileError("unknown picture format");
}

void WritePicture(const Picture& picture, const std::string& path, const WriteOptions& options) {
  const std::optional<PictureFormat> format = FormatFromExtension(path);
  if (!format) {
    const std::string ext = LowerExtension(path);
    throw FileError(path + ": " +
                    (ext.empty() ? std::string("the name has no extension")
                                 : "the extension \"" + ext + "\" names no picture format") +
                    "; the extension must be one of " + ExtensionList());
  }
  std::vector<std::uint8_t> bytes;
  try {
    bytes = EncodePicture(picture, *format, options);
  } catch (const FileError& e) {
    throw FileError(path + ": " + e.what());
  }
  WriteFileAtomically(path, bytes);
}

}  // namespace tvq
