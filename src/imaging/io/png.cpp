// PNG files through libpng's full interface, from memory.
//
// libpng reports errors through a callback that must not return. The callback
// longjmps to a setjmp in a small function whose frame holds only plain C data;
// that function returns an error flag, and its C++ caller throws. No longjmp ever
// crosses a C++ destructor and no exception ever crosses a libpng frame. All memory
// that outlives a libpng call (pixel rows, the output buffer) is owned by the C++
// callers, which allocate it between the libpng calls.
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "imaging/io/codecs.h"

namespace tvq::codec {

namespace {

// Largest ancillary chunk (an ICC profile, EXIF block, text) libpng may allocate.
constexpr png_alloc_size_t kMaxChunkBytes = 32u << 20;
// Most ancillary chunks libpng keeps from one file.
constexpr png_uint_32 kMaxCachedChunks = 1000;

// Chunks that are read and dropped unseen (text, palettes of suggestions, time,
// calibration): nothing of them is kept, so libpng skips them without allocating.
constexpr png_byte kSkippedChunks[] = "tEXt\0zTXt\0iTXt\0sPLT\0tIME\0pCAL\0sCAL\0hIST";
constexpr int kSkippedChunkCount = 8;

// Chunks that libpng holds in memory whole, each refused beyond kMaxChunkBytes
// before libpng reads it. IDAT is streamed, skipped and unknown chunks are dropped.
constexpr const char* kKeptChunks[] = {"IHDR", "PLTE", "IEND", "tRNS", "bKGD", "cHRM", "gAMA",
                                       "iCCP", "oFFs", "pHYs", "sBIT", "sRGB", "eXIf"};

std::uint32_t Big32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

// The CRC-32 of PNG chunks (zlib's, which libpng uses too). A chunk is at most the
// file's size, which the reader caps far below 4 GiB.
std::uint32_t Crc32(const std::uint8_t* p, std::size_t n) {
  return static_cast<std::uint32_t>(crc32(0L, p, static_cast<uInt>(n)));
}

// A chunk type for a message: the four letters, or "a" chunk when they are not letters.
std::string ChunkName(const std::uint8_t* type) {
  for (int i = 0; i < 4; ++i)
    if (!((type[i] >= 'A' && type[i] <= 'Z') || (type[i] >= 'a' && type[i] <= 'z')))
      return "a chunk";
  return "its " + std::string(reinterpret_cast<const char*>(type), 4) + " chunk";
}

// Where the chunks of a PNG file lie, as checked before libpng reads any.
struct ChunkMap {
  // The data of the first whole eXIf chunk with a good CRC; null when there is none.
  const std::uint8_t* exif = nullptr;
  std::size_t exifSize = 0;
};

// Walks the chunks from the signature to IEND: each must lie whole within the
// file, and one that libpng keeps in memory must be within kMaxChunkBytes, so that
// no declared length makes libpng allocate or read beyond the file. Throws
// FileError; the file's own content is not checked here (libpng does that).
ChunkMap WalkChunks(const std::uint8_t* data, std::size_t size) {
  ChunkMap map;
  std::size_t at = 8;
  for (;;) {
    if (size < at || size - at < 12) throw FileError("the PNG data ends early");
    const std::uint32_t length = Big32(data + at);
    const std::uint8_t* type = data + at + 4;
    if (length > size - at - 12)
      throw FileError("the PNG data ends early: " + ChunkName(type) + " declares " +
                      std::to_string(length) + " bytes, " + std::to_string(size - at - 12) +
                      " are left");
    if (length > kMaxChunkBytes)
      for (const char* kept : kKeptChunks)
        if (std::memcmp(type, kept, 4) == 0)
          throw FileError("the PNG data is corrupt: " + ChunkName(type) + " of " +
                          std::to_string(length) + " bytes is larger than the " +
                          std::to_string(kMaxChunkBytes >> 20) + " MiB allowed");
    if (std::memcmp(type, "eXIf", 4) == 0 && map.exif == nullptr &&
        Crc32(type, std::size_t{length} + 4) == Big32(type + 4 + length)) {
      map.exif = type + 4;
      map.exifSize = length;
    }
    if (std::memcmp(type, "IEND", 4) == 0) return map;
    at += 12 + static_cast<std::size_t>(length);
  }
}

// What the callbacks share with the setjmp functions: plain C data only.
struct PngState {
  std::jmp_buf jump;
  char message[200];
  // Reading: the file in memory and how far it has been read.
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position;
  int endedEarly;
  // Writing: a buffer grown with realloc, freed by the caller.
  unsigned char* out;
  std::size_t outSize;
  std::size_t outCapacity;
};

void InitState(PngState& state) {
  std::memset(&state, 0, sizeof state);
}

[[noreturn]] void OnError(png_structp png, png_const_charp message) {
  PngState* state = static_cast<PngState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message ? message : "unknown error");
  std::longjmp(state->jump, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void OnRead(png_structp png, png_bytep out, png_size_t length) {
  PngState* state = static_cast<PngState*>(png_get_io_ptr(png));
  if (length > state->size - state->position) {
    state->endedEarly = 1;
    png_error(png, "the PNG data ends early");
  }
  std::memcpy(out, state->data + state->position, length);
  state->position += length;
}

void OnWrite(png_structp png, png_bytep in, png_size_t length) {
  PngState* state = static_cast<PngState*>(png_get_io_ptr(png));
  if (length > state->outCapacity - state->outSize) {
    std::size_t capacity = state->outCapacity ? state->outCapacity : 4096;
    while (capacity - state->outSize < length) {
      if (capacity > SIZE_MAX / 2) png_error(png, "the PNG file is too large");
      capacity *= 2;
    }
    void* grown = std::realloc(state->out, capacity);
    if (grown == nullptr) png_error(png, "not enough memory for the PNG file");
    state->out = static_cast<unsigned char*>(grown);
    state->outCapacity = capacity;
  }
  std::memcpy(state->out + state->outSize, in, length);
  state->outSize += length;
}

void OnFlush(png_structp) {}

// The header's facts after the reading transforms, and as stored.
struct PngLayout {
  png_uint_32 width;
  png_uint_32 height;
  int channels;
  int bitDepth;
  png_size_t rowBytes;
  png_size_t storedRowBytes;  // a row as the file stores it, before the transforms
  int storedChannels;
  int storedBitDepth;
  int colourType;
  int transparency;  // a tRNS chunk, which becomes alpha
};

// png_read_info and the transforms: palette and low-depth grey to 8 bits, tRNS to
// alpha, 16 bits kept, interlacing undone, no gamma correction. Returns 0 on success.
int ReadHeader(PngState* state, png_structp png, png_infop info, PngLayout* header) {
  if (setjmp(state->jump)) return 1;
  png_set_user_limits(png, 65535, 65535);
  png_set_chunk_cache_max(png, kMaxCachedChunks);
  png_set_chunk_malloc_max(png, kMaxChunkBytes);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkippedChunks, kSkippedChunkCount);
  png_set_read_fn(png, state, OnRead);
  png_read_info(png, info);
  header->storedRowBytes = png_get_rowbytes(png, info);
  const int colourType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  header->colourType = colourType;
  header->storedBitDepth = bitDepth;
  header->storedChannels = png_get_channels(png, info);
  header->transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (header->transparency) png_set_tRNS_to_alpha(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  header->width = png_get_image_width(png, info);
  header->height = png_get_image_height(png, info);
  header->channels = png_get_channels(png, info);
  header->bitDepth = png_get_bit_depth(png, info);
  header->rowBytes = png_get_rowbytes(png, info);
  return 0;
}

// The pixel rows and the chunks after them. Returns 0 on success.
int ReadRows(PngState* state, png_structp png, png_infop info, png_bytepp rows) {
  if (setjmp(state->jump)) return 1;
  png_read_image(png, rows);
  png_read_end(png, info);
  return 0;
}

struct PngWriteSettings {
  png_uint_32 width;
  png_uint_32 height;
  int bitDepth;
  int colourType;
  png_const_bytep icc;
  png_uint_32 iccSize;
  int level;  // zlib level 0..9
};

int WriteAll(PngState* state, png_structp png, png_infop info, const PngWriteSettings* settings,
             png_bytepp rows) {
  if (setjmp(state->jump)) return 1;
  // A profile libpng finds unfit for the picture is dropped with a warning.
  png_set_benign_errors(png, 1);
  png_set_write_fn(png, state, OnWrite, OnFlush);
  png_set_IHDR(png, info, settings->width, settings->height, settings->bitDepth,
               settings->colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, settings->level);
  // Stored rows gain nothing from a filter.
  if (settings->level == 0) png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  if (settings->icc != nullptr)
    png_set_iCCP(png, info, "ICC Profile", PNG_COMPRESSION_TYPE_BASE, settings->icc,
                 settings->iccSize);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  return 0;
}

// Destroys the libpng structures when the C++ caller leaves, however it leaves.
struct ReadGuard {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~ReadGuard() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

struct WriteGuard {
  png_structp png = nullptr;
  png_infop info = nullptr;
  PngState* state = nullptr;
  ~WriteGuard() {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    std::free(state->out);
  }
};

[[noreturn]] void FailRead(const PngState& state) {
  if (state.endedEarly) throw FileError("the PNG data ends early");
  throw FileError(std::string("the PNG data is corrupt: ") + state.message);
}

// A file being read: libpng's structures, the chunk map and the header read up to
// the first IDAT chunk.
struct PngReader {
  PngState state;
  ReadGuard guard;
  ChunkMap chunks;
  PngLayout header{};
};

// Walks the chunks, reads the header and makes every check before the pixels:
// layout, CheckPictureSize, CheckDecodeLimits, and whether the file can hold the
// rows it declares.
void OpenPng(PngReader& reader, const std::uint8_t* data, std::size_t size,
             const DecodeLimits& limits) {
  if (data == nullptr || size < 8) throw FileError("the PNG data ends early");
  reader.chunks = WalkChunks(data, size);
  PngState& state = reader.state;
  InitState(state);
  state.data = data;
  state.size = size;
  ReadGuard& guard = reader.guard;
  guard.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, OnError, OnWarning);
  if (guard.png == nullptr) throw std::bad_alloc();
  guard.info = png_create_info_struct(guard.png);
  if (guard.info == nullptr) throw std::bad_alloc();

  PngLayout& header = reader.header;
  if (ReadHeader(&state, guard.png, guard.info, &header) != 0) FailRead(state);
  const int bytesPerSample = header.bitDepth == 16 ? 2 : 1;
  if (header.channels < 1 || header.channels > 4 || (header.bitDepth != 8 && header.bitDepth != 16))
    throw FileError("the PNG picture has an unsupported layout");
  CheckPictureSize(header.width, header.height, header.channels * bytesPerSample);
  CheckDecodeLimits(header.width, header.height, limits);
  // Deflate shrinks data at most about 1032 times; a file too short to hold the
  // rows it declares is refused before its picture is allocated.
  if ((header.storedRowBytes + 1) * header.height / 1100 > size)
    throw FileError("the PNG data ends early");
  const std::size_t rowSamples =
      std::size_t{header.width} * static_cast<std::size_t>(header.channels);
  if (header.rowBytes != rowSamples * static_cast<std::size_t>(bytesPerSample))
    throw FileError("the PNG picture has an unsupported layout");
}

// The size of the iCCP profile libpng read; 0 when there is none.
std::size_t ProfileSize(const ReadGuard& guard, png_bytep* profile) {
  png_charp name = nullptr;
  int compression = 0;
  png_uint_32 profileSize = 0;
  *profile = nullptr;
  if (png_get_iCCP(guard.png, guard.info, &name, &compression, profile, &profileSize) == 0 ||
      *profile == nullptr)
    return 0;
  return profileSize;
}

}  // namespace

PictureHeader PngHeader(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits) {
  PngReader reader;
  OpenPng(reader, data, size, limits);
  const auto& stored = reader.header;
  PictureHeader header;
  header.format = PictureFormat::kPng;
  header.storedWidth = static_cast<std::int32_t>(stored.width);
  header.storedHeight = static_cast<std::int32_t>(stored.height);
  header.channels = stored.storedChannels;
  header.bitsPerChannel = stored.storedBitDepth;
  header.palette = stored.colourType == PNG_COLOR_TYPE_PALETTE;
  header.alpha = (stored.colourType & PNG_COLOR_MASK_ALPHA) != 0 || stored.transparency != 0;
  png_bytep profile = nullptr;
  header.iccBytes = ProfileSize(reader.guard, &profile);
  // An eXIf chunk before the image data is libpng's already; one after it is read as
  // libpng would read it at the end of the file.
  png_bytep exif = nullptr;
  png_uint_32 exifSize = 0;
  std::int32_t orientation = 1;
  if (png_get_eXIf_1(reader.guard.png, reader.guard.info, &exifSize, &exif) != 0 && exif != nullptr)
    orientation = ExifOrientation(exif, exifSize);
  else if (reader.chunks.exif != nullptr)
    orientation = ExifOrientation(reader.chunks.exif, reader.chunks.exifSize);
  SetOrientation(header, orientation);
  return header;
}

Picture DecodePng(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits) {
  PngReader reader;
  OpenPng(reader, data, size, limits);
  PngState& state = reader.state;
  ReadGuard& guard = reader.guard;
  const PngLayout& header = reader.header;
  const int bytesPerSample = header.bitDepth == 16 ? 2 : 1;
  const std::size_t width = header.width;
  const std::size_t height = header.height;
  const std::size_t rowSamples = width * static_cast<std::size_t>(header.channels);

  std::vector<png_byte> pixels(header.rowBytes * height);
  std::vector<png_bytep> rows(height);
  for (std::size_t y = 0; y < height; ++y) rows[y] = pixels.data() + y * header.rowBytes;
  if (ReadRows(&state, guard.png, guard.info, rows.data()) != 0) FailRead(state);

  Picture picture;
  picture.format = PictureFormat::kPng;
  picture.width = static_cast<std::int32_t>(width);
  picture.height = static_cast<std::int32_t>(height);
  picture.channels = header.channels;
  picture.bitsPerChannel = header.bitDepth;
  picture.samples.resize(rowSamples * height);
  if (bytesPerSample == 1) {
    for (std::size_t i = 0; i < picture.samples.size(); ++i)
      picture.samples[i] = static_cast<float>(pixels[i]);
  } else {
    // 16-bit samples are stored big-endian.
    for (std::size_t i = 0; i < picture.samples.size(); ++i)
      picture.samples[i] =
          WordToSample(static_cast<std::uint16_t>((pixels[2 * i] << 8) | pixels[2 * i + 1]));
  }
  std::vector<png_byte>().swap(pixels);

  png_bytep profile = nullptr;
  const std::size_t profileSize = ProfileSize(guard, &profile);
  if (profileSize > 0) picture.icc.assign(profile, profile + profileSize);

  png_bytep exif = nullptr;
  png_uint_32 exifSize = 0;
  std::int32_t orientation = 1;
  if (png_get_eXIf_1(guard.png, guard.info, &exifSize, &exif) != 0 && exif != nullptr)
    orientation = ExifOrientation(exif, exifSize);
  ApplyOrientation(picture, orientation);
  return picture;
}

std::vector<std::uint8_t> EncodePng(const Picture& picture, std::int32_t level) {
  if (level < 0 || level > 9)
    throw FileError("the PNG compression " + std::to_string(level) + " is not in 0..9");
  static constexpr int kColourTypes[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA,
                                         PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA};
  const bool words = picture.bitsPerChannel == 16;
  const std::size_t width = static_cast<std::size_t>(picture.width);
  const std::size_t height = static_cast<std::size_t>(picture.height);
  const std::size_t rowSamples = width * static_cast<std::size_t>(picture.channels);
  const std::size_t rowBytes = rowSamples * (words ? 2 : 1);
  const std::vector<std::uint8_t>& icc = ProfileToWrite(picture);
  if (icc.size() > kMaxChunkBytes) throw FileError("the ICC profile is too large");

  std::vector<png_byte> pixels(rowBytes * height);
  if (words) {
    for (std::size_t i = 0; i < picture.samples.size(); ++i) {
      const std::uint16_t v = SampleToWord(picture.samples[i]);
      pixels[2 * i] = static_cast<png_byte>(v >> 8);
      pixels[2 * i + 1] = static_cast<png_byte>(v);
    }
  } else {
    for (std::size_t i = 0; i < picture.samples.size(); ++i)
      pixels[i] = SampleToByte(picture.samples[i]);
  }
  std::vector<png_bytep> rows(height);
  for (std::size_t y = 0; y < height; ++y) rows[y] = pixels.data() + y * rowBytes;

  PngState state;
  InitState(state);
  WriteGuard guard;
  guard.state = &state;
  guard.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, OnError, OnWarning);
  if (guard.png == nullptr) throw std::bad_alloc();
  guard.info = png_create_info_struct(guard.png);
  if (guard.info == nullptr) throw std::bad_alloc();

  PngWriteSettings settings{};
  settings.width = static_cast<png_uint_32>(width);
  settings.height = static_cast<png_uint_32>(height);
  settings.bitDepth = words ? 16 : 8;
  settings.colourType = kColourTypes[picture.channels - 1];
  settings.level = level;
  if (!icc.empty()) {
    settings.icc = icc.data();
    settings.iccSize = static_cast<png_uint_32>(icc.size());
  }
  if (WriteAll(&state, guard.png, guard.info, &settings, rows.data()) != 0)
    throw FileError(std::string("cannot encode the PNG picture: ") + state.message);
  return std::vector<std::uint8_t>(state.out, state.out + state.outSize);
}

}  // namespace tvq::codec
