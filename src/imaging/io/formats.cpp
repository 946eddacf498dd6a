#include "imaging/io/formats.h"

#include <algorithm>
#include <cstring>

#include "imaging/io/codecs.h"
#include "imaging/io/rowwrite.h"

namespace tvq {

namespace {

bool StartsWith(const std::uint8_t* data, std::size_t size, const char* magic, std::size_t n) {
  return size >= n && std::memcmp(data, magic, n) == 0;
}

bool IsSpace(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

constexpr FormatEntry kFormats[] = {
    {PictureFormat::kBmp,
     "BMP",
     0,
     {".bmp", nullptr},
     [](const std::uint8_t* data, std::size_t size) { return StartsWith(data, size, "BM", 2); },
     false,
     false,
     false,
     true,
     false,
     false,
     "every common variant: 1, 4, 8, 16, 24, 32 bits, RLE, bit fields",
     "32 bits, fourth byte 0",
     codec::BmpHeader,
     codec::DecodeBmpPicture,
     [](const Picture& p, const WriteOptions&) { return codec::EncodeBmpPicture(p); },
     [](const std::string& path, const Picture& facts, const WriteOptions&) {
       return codec::OpenBmpRowWriter(path, facts);
     }},
    {PictureFormat::kPfm,
     "PFM",
     5,
     {".pfm", nullptr},
     [](const std::uint8_t* data, std::size_t size) {
       return size >= 3 && data[0] == 'P' && (data[1] == 'f' || data[1] == 'F') && IsSpace(data[2]);
     },
     false,
     false,
     false,
     false,
     false,
     false,
     "grey or colour floats",
     "the float result before rounding to bytes",
     codec::PfmHeader,
     codec::DecodePfmPicture,
     [](const Picture& p, const WriteOptions&) { return codec::EncodePfmPicture(p); },
     [](const std::string& path, const Picture& facts, const WriteOptions&) {
       return codec::OpenPfmRowWriter(path, facts);
     }},
    {PictureFormat::kPng,
     "PNG",
     1,
     {".png", nullptr},
     [](const std::uint8_t* data, std::size_t size) {
       return StartsWith(data, size, "\x89PNG\r\n\x1a\n", 8);
     },
     true,
     true,
     true,
     false,
     false,
     true,
     "grey, RGB, palette, with alpha; 1 to 16 bits",
     "8 bits, or 16 for inputs deeper than 8 bits; alpha; deflate `--compression C` (default 3)",
     codec::PngHeader,
     codec::DecodePng,
     [](const Picture& p, const WriteOptions& o) {
       return codec::EncodePng(p, o.compression.value_or(codec::kDefaultPngCompression));
     },
     [](const std::string& path, const Picture& facts, const WriteOptions& o) {
       return codec::OpenPngRowWriter(path, facts,
                                      o.compression.value_or(codec::kDefaultPngCompression));
     }},
    {PictureFormat::kJpeg,
     "JPEG",
     2,
     {".jpg", ".jpeg"},
     [](const std::uint8_t* data, std::size_t size) {
       return StartsWith(data, size, "\xFF\xD8\xFF", 3);
     },
     false,
     false,
     true,
     false,
     true,
     false,
     "grey, RGB, CMYK",
     "8 bits, `--quality Q` (default 95), 4:4:4 chroma from 90 up",
     codec::JpegHeader,
     codec::DecodeJpeg,
     [](const Picture& p, const WriteOptions& o) { return codec::EncodeJpeg(p, o.quality); },
     [](const std::string& path, const Picture& facts, const WriteOptions& o) {
       return codec::OpenJpegRowWriter(path, facts, o.quality);
     }},
    {PictureFormat::kTiff,
     "TIFF",
     3,
     {".tif", ".tiff"},
     [](const std::uint8_t* data, std::size_t size) {
       // Classic TIFF (42) and BigTIFF (43), both byte orders.
       return StartsWith(data, size, "II*\0", 4) || StartsWith(data, size, "MM\0*", 4) ||
              StartsWith(data, size, "II+\0", 4) || StartsWith(data, size, "MM\0+", 4);
     },
     true,
     true,
     true,
     false,
     false,
     true,
     "the first page; 8 and 16 bits, one extra sample as alpha, others as RGBA",
     "8 or 16 bits like PNG; alpha; deflate `--compression C` (default 6)",
     codec::TiffHeader,
     codec::DecodeTiff,
     [](const Picture& p, const WriteOptions& o) {
       return codec::EncodeTiff(p, o.compression.value_or(-1));
     },
     [](const std::string& path, const Picture& facts, const WriteOptions& o) {
       return codec::OpenTiffRowWriter(path, facts, o.compression.value_or(-1));
     }},
    {PictureFormat::kWebp,
     "WebP",
     4,
     {".webp", nullptr},
     [](const std::uint8_t* data, std::size_t size) {
       return size >= 12 && StartsWith(data, size, "RIFF", 4) &&
              std::memcmp(data + 8, "WEBP", 4) == 0;
     },
     true,
     false,
     true,
     false,
     true,
     false,
     "still pictures and the first frame of an animation",
     "lossy at `--quality`, lossless at 100; alpha",
     codec::WebpHeader,
     codec::DecodeWebp,
     [](const Picture& p, const WriteOptions& o) { return codec::EncodeWebp(p, o.quality); },
     nullptr},
};

// Entry i describes PictureFormat i, so that a format finds its entry by its value.
constexpr bool InEnumerationOrder() {
  for (std::size_t i = 0; i < std::size(kFormats); ++i)
    if (static_cast<std::size_t>(kFormats[i].format) != i) return false;
  return true;
}
static_assert(InEnumerationOrder());

}  // namespace

std::span<const FormatEntry> FormatTable() {
  return kFormats;
}

const FormatEntry* FindFormat(PictureFormat format) {
  const auto index = static_cast<std::size_t>(format);
  return index < std::size(kFormats) ? &kFormats[index] : nullptr;
}

std::vector<const FormatEntry*> FormatsAsNamed() {
  std::vector<const FormatEntry*> named;
  for (const FormatEntry& entry : kFormats) named.push_back(&entry);
  std::sort(named.begin(), named.end(),
            [](const FormatEntry* a, const FormatEntry* b) { return a->namedAt < b->namedAt; });
  return named;
}

}  // namespace tvq
