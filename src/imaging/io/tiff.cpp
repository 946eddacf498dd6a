// TIFF through libtiff, over bytes in memory (or a file, for the writer by rows).
// libtiff reports problems through handlers that return; each handle gets its own,
// which keeps the first error message and prints nothing. No C++ exception ever passes through
// libtiff: the I/O procedures catch their own, and the codec throws only after a libtiff call has
// returned.
//
// Reading takes the first directory. Unsigned 8- and 16-bit samples of grey, RGB
// and palette pictures, with at most one extra sample taken as alpha, are read
// directly from strips or tiles in either planar layout; everything else libtiff
// can turn into RGBA (YCbCr, CMYK, 1/2/4-bit, LogLuv, ...) is read as 8-bit RGBA.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "imaging/io/codecs.h"
#include "imaging/io/rowwrite.h"

namespace tvq::codec {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw FileError(what);
}

// The state behind one libtiff handle: the file's bytes (read), the growing output
// (write) in memory or in a file, the position, and the first error libtiff reported.
struct MemoryFile {
  const std::uint8_t* data = nullptr;        // reading
  std::vector<std::uint8_t>* out = nullptr;  // writing to memory
  TemporaryFile* target = nullptr;           // writing to a file
  std::uint64_t size = 0;
  std::uint64_t position = 0;
  std::string error;
  std::string targetError;  // the first failure of the file, "path: cannot write: ..."
};

int CollectError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  auto* file = static_cast<MemoryFile*>(user);
  if (file->error.empty()) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    file->error = text;
    std::replace(file->error.begin(), file->error.end(), '\n', ' ');
    if (file->error.empty()) file->error = module != nullptr ? module : "unknown error";
  }
  return 1;
}

int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t count) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (count < 0) return -1;
  const std::uint64_t available = file->position < file->size ? file->size - file->position : 0;
  std::uint64_t n = std::min<std::uint64_t>(available, static_cast<std::uint64_t>(count));
  if (n > 0 && file->target != nullptr) {
    try {
      n = file->target->Read(buffer, static_cast<std::size_t>(n),
                             static_cast<std::int64_t>(file->position));
    } catch (const FileError& e) {
      if (file->targetError.empty()) file->targetError = e.what();
      return -1;
    }
  } else if (n > 0) {
    const std::uint8_t* from = file->out != nullptr ? file->out->data() : file->data;
    std::memcpy(buffer, from + file->position, static_cast<std::size_t>(n));
  }
  file->position += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t count) {
  auto* file = static_cast<MemoryFile*>(handle);
  if ((file->out == nullptr && file->target == nullptr) || count < 0) return -1;
  const std::uint64_t end = file->position + static_cast<std::uint64_t>(count);
  if (end > std::numeric_limits<std::uint32_t>::max()) return -1;
  if (file->target != nullptr) {
    try {
      file->target->Write(buffer, static_cast<std::size_t>(count),
                          static_cast<std::int64_t>(file->position));
    } catch (const FileError& e) {
      if (file->targetError.empty()) file->targetError = e.what();
      return -1;
    }
  } else {
    try {
      if (end > file->out->size()) file->out->resize(static_cast<std::size_t>(end));
    } catch (...) {
      return -1;
    }
    if (count > 0)
      std::memcpy(file->out->data() + file->position, buffer, static_cast<std::size_t>(count));
  }
  file->position = end;
  file->size = std::max<std::uint64_t>(file->size, end);
  return count;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR)
    base = file->position;
  else if (whence == SEEK_END)
    base = file->size;
  else if (whence != SEEK_SET)
    return static_cast<toff_t>(-1);
  if (offset > std::numeric_limits<std::uint64_t>::max() - base) return static_cast<toff_t>(-1);
  file->position = base + offset;
  return file->position;
}

int CloseProc(thandle_t) {
  return 0;
}

toff_t SizeProc(thandle_t handle) {
  return static_cast<MemoryFile*>(handle)->size;
}

// Reading only: libtiff then takes strips straight from the bytes.
int MapProc(thandle_t handle, void** base, toff_t* size) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (file->data == nullptr) return 0;
  *base = const_cast<std::uint8_t*>(file->data);
  *size = file->size;
  return 1;
}

void UnmapProc(thandle_t, void*, toff_t) {}

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

TiffHandle Open(MemoryFile& file, const char* mode) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) throw std::bad_alloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, CollectError, &file);
  TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreWarning, &file);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(kMaxPictureBytes));
  TIFF* tif = TIFFClientOpenExt("TIFF", mode, &file, ReadProc, WriteProc, SeekProc, CloseProc,
                                SizeProc, MapProc, UnmapProc, options);
  TIFFOpenOptionsFree(options);
  return TiffHandle(tif);
}

// A failed libtiff call: its own message when it gave one.
[[noreturn]] void FailWith(const MemoryFile& file, const std::string& fallback) {
  Fail(file.error.empty() ? fallback : "TIFF: " + file.error);
}

std::uint16_t Field16(TIFF* tif, ttag_t tag) {
  std::uint16_t value = 0;
  if (TIFFGetFieldDefaulted(tif, tag, &value) != 1) return 0;
  return value;
}

// What the direct reader needs to know of the first directory.
struct Layout {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t bits = 0;
  std::uint16_t samplesPerPixel = 0;
  std::uint16_t photometric = 0;
  bool separate = false;
  std::int32_t colour = 0;  // colour samples in the file: 1 (grey, palette) or 3
  std::int32_t used = 0;    // samples read per pixel: colour, plus 1 with alpha
  bool associated = false;  // the alpha is premultiplied
};

// Copies the visible part of one decoded strip or tile into `raw` (`used` words per
// pixel). The block holds `blockSamples` samples per pixel, of which samples
// [0, count) go to raw samples [first, first + count).
void CopyBlock(const Layout& layout, const std::uint8_t* block, std::size_t rowBytes,
               std::int32_t blockSamples, std::int32_t first, std::int32_t count, std::uint32_t x0,
               std::uint32_t y0, std::uint32_t w, std::uint32_t h,
               std::vector<std::uint16_t>& raw) {
  const std::size_t used = static_cast<std::size_t>(layout.used);
  for (std::uint32_t y = 0; y < h; ++y) {
    const std::uint8_t* row = block + y * rowBytes;
    std::uint16_t* to =
        raw.data() + (static_cast<std::size_t>(y0 + y) * layout.width + x0) * used + first;
    for (std::uint32_t x = 0; x < w; ++x, to += used) {
      const std::size_t at = static_cast<std::size_t>(x) * static_cast<std::size_t>(blockSamples);
      for (std::int32_t s = 0; s < count; ++s) {
        if (layout.bits == 8) {
          to[s] = row[at + s];
        } else {
          std::uint16_t word = 0;
          std::memcpy(&word, row + 2 * (at + s), 2);
          to[s] = word;
        }
      }
    }
  }
}

// Reads every strip or tile of the first directory into `raw`; a strip or tile
// that decodes to fewer bytes than its rows need is an error.
void ReadBlocks(TIFF* tif, const MemoryFile& file, const Layout& layout,
                std::vector<std::uint16_t>& raw) {
  const std::size_t bytes = layout.bits / 8u;
  const std::int32_t blockSamples = layout.separate ? 1 : layout.samplesPerPixel;
  const std::int32_t planes = layout.separate ? layout.used : 1;
  std::vector<std::uint8_t> buffer;
  if (TIFFIsTiled(tif)) {
    std::uint32_t tileWidth = 0;
    std::uint32_t tileHeight = 0;
    if (TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth) != 1 ||
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight) != 1 || tileWidth == 0 ||
        tileHeight == 0)
      FailWith(file, "the TIFF tile size is missing");
    const std::uint64_t tileBytes = TIFFTileSize64(tif);
    const std::uint64_t expected = static_cast<std::uint64_t>(tileWidth) * tileHeight *
                                   static_cast<std::uint64_t>(blockSamples) * bytes;
    // Tiles larger than the picture itself or 64 MiB, whichever is larger, would only
    // make a small file allocate much.
    const std::uint64_t cap =
        std::max<std::uint64_t>(std::uint64_t{64} << 20, static_cast<std::uint64_t>(layout.width) *
                                                             layout.height * blockSamples * bytes);
    if (tileBytes != expected || tileBytes > cap)
      FailWith(file, "the TIFF tiles of " + std::to_string(tileWidth) + "x" +
                         std::to_string(tileHeight) + " pixels are not supported");
    buffer.resize(static_cast<std::size_t>(tileBytes));
    const std::size_t rowBytes = static_cast<std::size_t>(tileWidth) * blockSamples * bytes;
    for (std::int32_t plane = 0; plane < planes; ++plane)
      for (std::uint32_t y = 0; y < layout.height; y += std::min(tileHeight, layout.height - y))
        for (std::uint32_t x = 0; x < layout.width; x += std::min(tileWidth, layout.width - x)) {
          const std::uint32_t tile =
              TIFFComputeTile(tif, x, y, 0, static_cast<std::uint16_t>(plane));
          if (TIFFReadEncodedTile(tif, tile, buffer.data(), static_cast<tmsize_t>(tileBytes)) !=
              static_cast<tmsize_t>(tileBytes))
            FailWith(file, "the TIFF data ends early");
          CopyBlock(layout, buffer.data(), rowBytes, blockSamples, layout.separate ? plane : 0,
                    layout.separate ? 1 : layout.used, x, y, std::min(tileWidth, layout.width - x),
                    std::min(tileHeight, layout.height - y), raw);
        }
    return;
  }
  std::uint32_t rowsPerStrip = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  rowsPerStrip = std::clamp<std::uint32_t>(rowsPerStrip, 1, layout.height);
  const std::size_t rowBytes = static_cast<std::size_t>(layout.width) * blockSamples * bytes;
  buffer.resize(rowBytes * rowsPerStrip);
  for (std::int32_t plane = 0; plane < planes; ++plane)
    for (std::uint32_t y = 0; y < layout.height; y += rowsPerStrip) {
      const std::uint32_t rows = std::min(rowsPerStrip, layout.height - y);
      const std::uint32_t strip = TIFFComputeStrip(tif, y, static_cast<std::uint16_t>(plane));
      const tmsize_t want = static_cast<tmsize_t>(rowBytes * rows);
      if (TIFFReadEncodedStrip(tif, strip, buffer.data(), want) != want)
        FailWith(file, "the TIFF data ends early");
      CopyBlock(layout, buffer.data(), rowBytes, blockSamples, layout.separate ? plane : 0,
                layout.separate ? 1 : layout.used, 0, y, layout.width, rows, raw);
    }
}

// The 16-bit colour map as words; maps whose entries all fit in a byte were written
// by old 8-bit writers and are scaled to 16 bits.
void ReadColourMap(TIFF* tif, const MemoryFile& file, const Layout& layout,
                   std::vector<std::uint16_t> (&map)[3]) {
  std::uint16_t* red = nullptr;
  std::uint16_t* green = nullptr;
  std::uint16_t* blue = nullptr;
  if (TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) != 1 || red == nullptr ||
      green == nullptr || blue == nullptr)
    FailWith(file, "the TIFF palette picture has no colour map");
  const std::size_t entries = std::size_t{1} << layout.bits;
  bool bytes = true;
  for (std::size_t i = 0; i < entries; ++i)
    bytes = bytes && red[i] < 256 && green[i] < 256 && blue[i] < 256;
  const std::uint16_t* source[3] = {red, green, blue};
  for (int c = 0; c < 3; ++c) {
    map[c].resize(entries);
    for (std::size_t i = 0; i < entries; ++i)
      map[c][i] = bytes ? static_cast<std::uint16_t>(source[c][i] * 257u) : source[c][i];
  }
}

// The direct reader; OpenTiff has checked the layout and the size.
Picture ReadDirect(TIFF* tif, const MemoryFile& file, const Layout& layout) {
  const std::size_t pixels = static_cast<std::size_t>(layout.width) * layout.height;
  std::vector<std::uint16_t> raw(pixels * static_cast<std::size_t>(layout.used));
  ReadBlocks(tif, file, layout, raw);
  const bool alpha = layout.used > layout.colour;
  const bool palette = layout.photometric == PHOTOMETRIC_PALETTE;

  // The depth of the result: the file's, or for palette pictures the colour map's
  // (entries that are all multiples of 257 are bytes), at least that of the alpha.
  std::int32_t bits = layout.bits;
  std::vector<std::uint16_t> map[3];
  if (palette) {
    ReadColourMap(tif, file, layout, map);
    bool byteMap = true;
    for (const auto& m : map)
      for (std::uint16_t v : m) byteMap = byteMap && v % 257 == 0;
    bits = byteMap && !(alpha && layout.bits == 16) ? 8 : 16;
  }
  const std::uint32_t top = bits == 8 ? 255u : 65535u;
  const std::uint32_t alphaScale = bits == 16 && layout.bits == 8 ? 257u : 1u;
  const std::uint32_t mapScale = bits == 8 ? 257u : 1u;

  Picture picture;
  picture.format = PictureFormat::kTiff;
  picture.width = static_cast<std::int32_t>(layout.width);
  picture.height = static_cast<std::int32_t>(layout.height);
  picture.bitsPerChannel = bits;
  const std::int32_t colour = palette ? 3 : layout.colour;
  picture.channels = colour + (alpha ? 1 : 0);
  picture.samples.resize(pixels * static_cast<std::size_t>(picture.channels));

  const auto sample = [&](std::uint32_t v) {
    return bits == 16 ? WordToSample(static_cast<std::uint16_t>(v)) : static_cast<float>(v);
  };
  const std::size_t used = static_cast<std::size_t>(layout.used);
  float* out = picture.samples.data();
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint16_t* in = raw.data() + i * used;
    std::uint32_t c[3] = {in[0], 0, 0};
    if (palette) {
      for (int k = 0; k < 3; ++k) c[k] = map[k][in[0]] / mapScale;
    } else {
      for (std::int32_t k = 1; k < layout.colour; ++k) c[k] = in[k];
      if (layout.photometric == PHOTOMETRIC_MINISWHITE) c[0] = top - c[0];
    }
    const std::uint32_t a = alpha ? in[layout.colour] * alphaScale : top;
    if (alpha && layout.associated)
      for (std::int32_t k = 0; k < colour; ++k)
        c[k] = a == 0 ? 0 : std::min(top, (c[k] * top + a / 2) / a);
    for (std::int32_t k = 0; k < colour; ++k) *out++ = sample(c[k]);
    if (alpha) *out++ = sample(a);
  }
  return picture;
}

// Anything libtiff can turn into RGBA, as 8-bit grey or RGB, with alpha when libtiff
// finds it, in the stored row order; the caller applies the orientation. OpenTiff has
// checked that libtiff can convert it and the size.
Picture ReadThroughRgba(TIFF* tif, const MemoryFile& file, const Layout& layout,
                        std::uint16_t orientation) {
  char message[1024] = {};
  const std::size_t pixels = static_cast<std::size_t>(layout.width) * layout.height;
  std::vector<std::uint32_t> raster(pixels);
  TIFFRGBAImage image;
  if (TIFFRGBAImageBegin(&image, tif, 1, message) != 1)
    Fail(std::string("unsupported TIFF picture: ") + message);
  // Asking for the file's own orientation makes libtiff flip nothing (it would
  // not transpose 5..8 anyway).
  image.req_orientation = orientation >= 1 && orientation <= 8 ? orientation : ORIENTATION_TOPLEFT;
  const bool ok = TIFFRGBAImageGet(&image, raster.data(), layout.width, layout.height) == 1;
  // libtiff hands out premultiplied colour whenever it finds alpha.
  const bool alpha = image.alpha != 0;
  TIFFRGBAImageEnd(&image);
  if (!ok || !file.error.empty()) FailWith(file, "the TIFF data ends early");

  Picture picture;
  picture.format = PictureFormat::kTiff;
  picture.width = static_cast<std::int32_t>(layout.width);
  picture.height = static_cast<std::int32_t>(layout.height);
  picture.bitsPerChannel = 8;
  // Grey stays grey: libtiff gives it as three equal channels.
  const bool grey =
      layout.photometric == PHOTOMETRIC_MINISBLACK || layout.photometric == PHOTOMETRIC_MINISWHITE;
  const std::int32_t colour = grey ? 1 : 3;
  picture.channels = colour + (alpha ? 1 : 0);
  picture.samples.resize(pixels * static_cast<std::size_t>(picture.channels));
  float* out = picture.samples.data();
  for (std::uint32_t p : raster) {
    const std::uint32_t c[3] = {TIFFGetR(p), TIFFGetG(p), TIFFGetB(p)};
    const std::uint32_t a = TIFFGetA(p);
    for (std::int32_t k = 0; k < colour; ++k)
      *out++ = static_cast<float>(
          !alpha ? c[k] : (a == 0 ? 0 : std::min<std::uint32_t>(255, (c[k] * 255 + a / 2) / a)));
    if (alpha) *out++ = static_cast<float>(a);
  }
  return picture;
}

// What the first directory says, and how its pixels are read.
struct TiffFacts {
  Layout layout;
  bool direct = false;  // read by ReadDirect, otherwise by ReadThroughRgba
  std::uint16_t orientation = 0;
};

// Reads the first directory and makes every check before the pixels: the size
// (CheckPictureSize, CheckDecodeLimits), the codec, and whether libtiff can convert
// what is not read directly.
TiffFacts OpenTiff(TIFF* tif, MemoryFile& file, const DecodeLimits& limits) {
  if (tif == nullptr) FailWith(file, "not a readable TIFF file");
  // Problems libtiff got past while reading the directory do not refuse the file;
  // any error from here on does.
  file.error.clear();
  TiffFacts facts;
  Layout& layout = facts.layout;
  if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &layout.width) != 1 ||
      TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &layout.height) != 1)
    FailWith(file, "the TIFF file has no picture size");
  CheckPictureSize(layout.width, layout.height, 1);
  CheckDecodeLimits(layout.width, layout.height, limits);
  layout.bits = Field16(tif, TIFFTAG_BITSPERSAMPLE);
  layout.samplesPerPixel = Field16(tif, TIFFTAG_SAMPLESPERPIXEL);
  layout.separate = Field16(tif, TIFFTAG_PLANARCONFIG) == PLANARCONFIG_SEPARATE;
  const std::uint16_t format = Field16(tif, TIFFTAG_SAMPLEFORMAT);
  const std::uint16_t compression = Field16(tif, TIFFTAG_COMPRESSION);
  std::uint16_t photometric = 0;
  const bool hasPhotometric = TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) == 1;
  layout.photometric = photometric;
  layout.colour = photometric == PHOTOMETRIC_RGB ? 3 : 1;
  std::uint16_t extraCount = 0;
  std::uint16_t* extraKinds = nullptr;
  TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds);
  // A sample after the colour ones is alpha whatever kind it declares; more are ignored.
  layout.used = std::min<std::int32_t>(layout.samplesPerPixel, layout.colour + 1);
  layout.associated =
      extraCount > 0 && extraKinds != nullptr && extraKinds[0] == EXTRASAMPLE_ASSOCALPHA;
  const std::uint16_t orientation = Field16(tif, TIFFTAG_ORIENTATION);

  const bool direct =
      hasPhotometric && (layout.bits == 8 || layout.bits == 16) && format == SAMPLEFORMAT_UINT &&
      layout.samplesPerPixel >= layout.colour && compression != COMPRESSION_OJPEG &&
      (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE ||
       photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_PALETTE);
  if (direct && TIFFIsCODECConfigured(compression) != 1)
    Fail("the TIFF compression " + std::to_string(compression) + " is not supported");
  if (direct) {
    CheckPictureSize(layout.width, layout.height,
                     static_cast<std::int64_t>(layout.samplesPerPixel) * (layout.bits / 8));
  } else {
    char message[1024] = {};
    if (TIFFRGBAImageOK(tif, message) != 1)
      Fail(std::string("unsupported TIFF picture: ") +
           (message[0] != '\0' ? message : "libtiff cannot convert it"));
    CheckPictureSize(layout.width, layout.height, 4);
  }
  facts.direct = direct;
  facts.orientation = orientation;
  return facts;
}

// The ICC profile of the first directory; null when there is none.
const std::uint8_t* Profile(TIFF* tif, std::uint32_t* size) {
  void* icc = nullptr;
  if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, size, &icc) != 1 || icc == nullptr) return nullptr;
  return static_cast<const std::uint8_t*>(icc);
}

// A file being written: the tags, then strips of RowsPerStrip() rows (the last one
// shorter), then the directory. The whole picture's encoder and the writer by rows
// share it, so their files are the same. Throws FileError with the problem only.
class TiffWriter {
 public:
  TiffWriter(MemoryFile& file, const Picture& facts, std::int32_t level) : file_(file) {
    if (level < -1 || level > 9)
      throw FileError("the TIFF compression " + std::to_string(level) + " is not in 0..9");
    words_ = facts.bitsPerChannel == 16;
    width_ = static_cast<std::uint32_t>(facts.width);
    height_ = static_cast<std::uint32_t>(facts.height);
    const std::uint16_t channels = static_cast<std::uint16_t>(facts.channels);
    rowSamples_ = static_cast<std::size_t>(width_) * channels;
    rowBytes_ = rowSamples_ * (words_ ? 2 : 1);
    // One strip per about 64 KiB of samples.
    rowsPerStrip_ =
        static_cast<std::uint32_t>(std::clamp<std::size_t>((64u << 10) / rowBytes_, 1, height_));

    tif_ = Open(file, "w");
    if (!tif_) FailWith(file, "libtiff cannot start a file");
    TIFF* t = tif_.get();
    bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width_) == 1 &&
              TIFFSetField(t, TIFFTAG_IMAGELENGTH, height_) == 1 &&
              TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, words_ ? 16 : 8) == 1 &&
              TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, channels) == 1 &&
              TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT) == 1 &&
              TIFFSetField(t, TIFFTAG_PHOTOMETRIC,
                           channels >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK) == 1 &&
              TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
              TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1 &&
              TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) == 1 &&
              TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) == 1 &&
              TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip_) == 1;
    if (ok && level >= 0) ok = TIFFSetField(t, TIFFTAG_ZIPQUALITY, level) == 1;
    if (ok && facts.HasAlpha()) {
      const std::uint16_t kind = EXTRASAMPLE_UNASSALPHA;
      ok = TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &kind) == 1;
    }
    const std::vector<std::uint8_t>& icc = ProfileToWrite(facts);
    if (ok && !icc.empty())
      ok = TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(icc.size()),
                        icc.data()) == 1;
    if (!ok) FailWith(file, "libtiff refused the picture's tags");
    strip_.resize(rowBytes_ * rowsPerStrip_);
  }

  std::uint32_t Height() const { return height_; }
  std::uint32_t RowsPerStrip() const { return rowsPerStrip_; }
  std::size_t RowSamples() const { return rowSamples_; }

  // Puts `rows` rows of samples into the strip from its row `at`.
  void ConvertRows(const float* in, std::uint32_t at, std::uint32_t rows) {
    const std::size_t count = rowSamples_ * rows;
    if (words_) {
      std::uint8_t* out = strip_.data() + rowBytes_ * at;
      for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t word = SampleToWord(in[i]);
        std::memcpy(out + 2 * i, &word, 2);
      }
    } else {
      std::uint8_t* out = strip_.data() + rowBytes_ * at;
      for (std::size_t i = 0; i < count; ++i) out[i] = SampleToByte(in[i]);
    }
  }

  // Encodes the strip's first `rows` rows as the next strip.
  void WriteStrip(std::uint32_t rows) {
    if (TIFFWriteEncodedStrip(tif_.get(), index_, strip_.data(),
                              static_cast<tmsize_t>(rowBytes_ * rows)) < 0)
      FailWith(file_, "libtiff could not write the picture");
    ++index_;
  }

  // After the last strip: the directory; the file is complete once the writer is
  // destroyed and file.error stays empty.
  void WriteDirectory() {
    if (TIFFWriteDirectory(tif_.get()) != 1 || !file_.error.empty())
      FailWith(file_, "libtiff could not write the picture");
  }

 private:
  MemoryFile& file_;
  TiffHandle tif_;
  bool words_ = false;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::size_t rowSamples_ = 0;
  std::size_t rowBytes_ = 0;
  std::uint32_t rowsPerStrip_ = 1;
  std::uint32_t index_ = 0;
  std::vector<std::uint8_t> strip_;
};

// The file of a picture given row by row: rows gather in one strip of the whole
// picture's encoder's size (about 64 KiB), which is encoded when full. libtiff writes
// strips where they end up, so the file is written and read back in place.
class TiffRowWriter : public RowWriter {
 public:
  TiffRowWriter(const std::string& path, const Picture& facts, std::int32_t level)
      : path_(path), file_(path), facts_(facts) {
    CheckRowFacts(path, facts);
    memory_.target = &file_;
    try {
      writer_.emplace(memory_, facts, level);
    } catch (const FileError& e) {
      throw FileError(path + ": " + e.what());
    }
  }

  void WriteRows(const float* samples, std::int32_t rows) override {
    const std::size_t count = writer_->RowSamples();
    for (std::int32_t r = 0; r < rows; ++r, samples += count) {
      if (next_ >= facts_.height) throw FileError(path_ + ": more rows than the picture has");
      writer_->ConvertRows(samples, filled_, 1);
      ++filled_;
      ++next_;
      if (filled_ == writer_->RowsPerStrip() || next_ == facts_.height) {
        Named([&] { writer_->WriteStrip(filled_); });
        filled_ = 0;
      }
    }
  }

  void Finish() override {
    if (next_ != facts_.height) throw FileError(path_ + ": the picture's rows are incomplete");
    Named([&] {
      writer_->WriteDirectory();
      writer_.reset();
      if (!memory_.error.empty()) FailWith(memory_, "libtiff could not write the picture");
    });
    file_.Commit();
  }

 private:
  template <typename Step>
  void Named(const Step& step) {
    try {
      step();
    } catch (const FileError& e) {
      // A failed write of the file says why, naming the path.
      if (!memory_.targetError.empty()) throw FileError(memory_.targetError);
      throw FileError(path_ + ": " + e.what());
    }
  }

  std::string path_;
  TemporaryFile file_;
  Picture facts_;
  MemoryFile memory_;
  std::optional<TiffWriter> writer_;
  std::int32_t next_ = 0;
  std::uint32_t filled_ = 0;
};

}  // namespace

PictureHeader TiffHeader(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits) {
  MemoryFile file;
  file.data = data;
  file.size = size;
  const TiffHandle tif = Open(file, "r");
  const TiffFacts facts = OpenTiff(tif.get(), file, limits);
  const Layout& layout = facts.layout;
  PictureHeader header;
  header.format = PictureFormat::kTiff;
  header.storedWidth = static_cast<std::int32_t>(layout.width);
  header.storedHeight = static_cast<std::int32_t>(layout.height);
  header.channels = layout.samplesPerPixel;
  header.bitsPerChannel = layout.bits;
  header.palette = layout.photometric == PHOTOMETRIC_PALETTE;
  header.cmyk = layout.photometric == PHOTOMETRIC_SEPARATED &&
                Field16(tif.get(), TIFFTAG_INKSET) == INKSET_CMYK && layout.samplesPerPixel >= 4;
  if (facts.direct) {
    header.alpha = layout.used > layout.colour;
  } else {
    // Whether libtiff finds alpha is known once its conversion is set up.
    char message[1024] = {};
    TIFFRGBAImage image;
    if (TIFFRGBAImageBegin(&image, tif.get(), 1, message) != 1)
      Fail(std::string("unsupported TIFF picture: ") + message);
    header.alpha = image.alpha != 0;
    TIFFRGBAImageEnd(&image);
  }
  std::uint32_t iccSize = 0;
  if (Profile(tif.get(), &iccSize) != nullptr) header.iccBytes = iccSize;
  SetOrientation(header, facts.orientation);
  return header;
}

Picture DecodeTiff(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits) {
  MemoryFile file;
  file.data = data;
  file.size = size;
  const TiffHandle tif = Open(file, "r");
  const TiffFacts facts = OpenTiff(tif.get(), file, limits);
  const Layout& layout = facts.layout;
  const std::uint16_t orientation = facts.orientation;
  Picture picture = facts.direct ? ReadDirect(tif.get(), file, layout)
                                 : ReadThroughRgba(tif.get(), file, layout, orientation);
  if (!file.error.empty()) FailWith(file, "the TIFF data is corrupt");

  std::uint32_t iccSize = 0;
  if (const std::uint8_t* icc = Profile(tif.get(), &iccSize))
    picture.icc.assign(icc, icc + iccSize);
  ApplyOrientation(picture, orientation);
  return picture;
}

std::vector<std::uint8_t> EncodeTiff(const Picture& picture, std::int32_t level) {
  std::vector<std::uint8_t> bytes;
  MemoryFile file;
  file.out = &bytes;
  {
    TiffWriter writer(file, picture, level);
    const float* in = picture.samples.data();
    for (std::uint32_t y = 0; y < writer.Height(); y += writer.RowsPerStrip()) {
      const std::uint32_t rows = std::min(writer.RowsPerStrip(), writer.Height() - y);
      writer.ConvertRows(in, 0, rows);
      in += writer.RowSamples() * rows;
      writer.WriteStrip(rows);
    }
    writer.WriteDirectory();
  }
  if (!file.error.empty()) FailWith(file, "libtiff could not write the picture");
  return bytes;
}

std::unique_ptr<RowWriter> OpenTiffRowWriter(const std::string& path, const Picture& facts,
                                             std::int32_t level) {
  return std::make_unique<TiffRowWriter>(path, facts, level);
}

}  // namespace tvq::codec
