#include "imaging/io/picture.h"

#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <utility>

#include "imaging/io/formats.h"

namespace tvq {

namespace {

// Files larger than this are refused before they are read: room for the largest
// picture stored without compression, plus headers and metadata.
constexpr std::uint64_t kMaxFileBytes = 2 * kMaxPictureBytes;

// "not a picture file of a supported format (BMP, PNG, JPEG, TIFF, WebP, PFM)": the
// formats in the order they are named to a person.
const std::string& UnknownFormat() {
  static const std::string message = [] {
    std::string names;
    for (const FormatEntry* entry : FormatsAsNamed())
      names += (names.empty() ? "" : ", ") + std::string(entry->name);
    return "not a picture file of a supported format (" + names + ")";
  }();
  return message;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The extension of the last path component with its dot, in lower case; empty
// when there is none.
std::string LowerExtension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return Lower(path.substr(dot));
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

// writesBitmap: the format writes a picture's `bitmap` as it is.
void CheckEncodable(const Picture& picture, PictureFormat format, bool writesBitmap) {
  if (writesBitmap && picture.bitmap) {
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
  const FormatEntry* entry = FindFormat(format);
  return entry != nullptr ? entry->name : "unknown";
}

const std::vector<std::string>& PictureExtensions() {
  static const std::vector<std::string> extensions = [] {
    std::vector<std::string> list;
    for (const FormatEntry& entry : FormatTable())
      for (const char* ext : entry.extensions)
        if (ext != nullptr) list.push_back(ext);
    return list;
  }();
  return extensions;
}

std::optional<PictureFormat> FormatFromExtension(const std::string& path) {
  const std::string ext = LowerExtension(path);
  for (const FormatEntry& entry : FormatTable())
    for (const char* name : entry.extensions)
      if (name != nullptr && ext == name) return entry.format;
  return std::nullopt;
}

std::optional<PictureFormat> FormatFromName(const std::string& name) {
  for (const FormatEntry& entry : FormatTable())
    if (Lower(name) == Lower(entry.name)) return entry.format;
  return std::nullopt;
}

std::optional<PictureFormat> SniffFormat(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr) return std::nullopt;
  for (const FormatEntry& entry : FormatTable())
    if (entry.sniff(data, size)) return entry.format;
  return std::nullopt;
}

bool FormatHoldsAlpha(PictureFormat format) {
  const FormatEntry* entry = FindFormat(format);
  return entry != nullptr && entry->alpha;
}

bool FormatHolds16Bits(PictureFormat format) {
  const FormatEntry* entry = FindFormat(format);
  return entry != nullptr && entry->sixteenBits;
}

bool FormatHoldsProfile(PictureFormat format) {
  const FormatEntry* entry = FindFormat(format);
  return entry != nullptr && entry->profile;
}

bool FormatTakesQuality(PictureFormat format) {
  const FormatEntry* entry = FindFormat(format);
  return entry != nullptr && entry->quality;
}

bool FormatTakesCompression(PictureFormat format) {
  const FormatEntry* entry = FindFormat(format);
  return entry != nullptr && entry->compression;
}

std::vector<PictureFileFilter> PictureFileFilters() {
  std::vector<PictureFileFilter> filters;
  for (const FormatEntry* entry : FormatsAsNamed()) {
    PictureFileFilter filter{entry->format, entry->name, {}};
    for (const char* ext : entry->extensions)
      if (ext != nullptr)
        filter.patterns += (filter.patterns.empty() ? "*" : " *") + std::string(ext);
    filters.push_back(std::move(filter));
  }
  return filters;
}

std::string PicturePatterns() {
  std::string patterns;
  for (const std::string& ext : PictureExtensions())
    patterns += (patterns.empty() ? "*" : " *") + ext;
  return patterns;
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
  if (!format) throw FileError(UnknownFormat());
  try {
    PictureHeader header = FindFormat(*format)->header(data, size, limits);
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
  if (!format) throw FileError(UnknownFormat());
  try {
    DecodeLimits ofFormat = limits;
    ofFormat.format = *format;
    Picture picture = FindFormat(*format)->decode(data, size, ofFormat);
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
        if (!SniffFormat(data, size)) throw FileError(UnknownFormat());
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
  const FormatEntry* entry = FindFormat(format);
  CheckEncodable(picture, format, entry != nullptr && entry->bitmap);
  if (options.quality < 1 || options.quality > 100)
    throw FileError("the quality " + std::to_string(options.quality) + " is not in 1..100");
  if (options.compression && (*options.compression < 0 || *options.compression > 9))
    throw FileError("the compression " + std::to_string(*options.compression) + " is not in 0..9");
  try {
    if (entry != nullptr) return entry->encode(picture, options);
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
