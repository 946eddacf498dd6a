// WebP through libwebp, over bytes in memory.
//
// Reading: still pictures are decoded into a buffer of our own; of an animation
// the first frame is taken, as its canvas shows it. The ICC profile comes from the
// ICCP chunk and the orientation from the EXIF chunk.
//
// Writing: lossy at the given quality, except that quality 100 asks for a lossless
// file (which keeps every sample exactly, also the colour under full transparency).
// Grey is written as three equal channels; alpha is kept. The ICC profile is added
// as an ICCP chunk.
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "imaging/io/codecs.h"

namespace tvq::codec {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw FileError(what);
}

std::string StatusText(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_NOT_ENOUGH_DATA:
      return "the WebP data ends early";
    case VP8_STATUS_OUT_OF_MEMORY:
      throw std::bad_alloc();
    case VP8_STATUS_UNSUPPORTED_FEATURE:
      return "the WebP file uses a feature libwebp does not support";
    default:
      return "the WebP data is corrupt";
  }
}

struct DemuxDeleter {
  void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};
struct AnimDecoderDeleter {
  void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};
struct MuxDeleter {
  void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};

// Bytes that libwebp allocated for us.
struct OwnedData {
  WebPData data;
  OwnedData() { WebPDataInit(&data); }
  ~OwnedData() { WebPDataClear(&data); }
  OwnedData(const OwnedData&) = delete;
  OwnedData& operator=(const OwnedData&) = delete;
};

// The payload of the first chunk with this four-character name; empty if none.
std::vector<std::uint8_t> Chunk(const WebPDemuxer* demux, const char* name) {
  struct Iterator {
    WebPChunkIterator it;
    bool found = false;
    ~Iterator() {
      if (found) WebPDemuxReleaseChunkIterator(&it);
    }
  } chunk;
  chunk.found = WebPDemuxGetChunk(demux, name, 1, &chunk.it) != 0;
  if (!chunk.found) return {};
  return std::vector<std::uint8_t>(chunk.it.chunk.bytes,
                                   chunk.it.chunk.bytes + chunk.it.chunk.size);
}

// The first frame of an animation, composed on its canvas, as RGBA bytes. `valid`
// says that the demuxer accepted the file: the animation decoder then fails to start
// only for want of memory for its canvases.
void DecodeFirstFrame(const WebPData& data, bool valid, std::int32_t width, std::int32_t height,
                      std::vector<std::uint8_t>& rgba) {
  WebPAnimDecoderOptions options;
  if (WebPAnimDecoderOptionsInit(&options) == 0) Fail("libwebp cannot start a decoder");
  options.color_mode = MODE_RGBA;
  options.use_threads = 0;
  const std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> decoder(
      WebPAnimDecoderNew(&data, &options));
  if (!decoder && valid) throw std::bad_alloc();
  if (!decoder) Fail("the animated WebP data is corrupt or ends early");
  WebPAnimInfo info;
  if (WebPAnimDecoderGetInfo(decoder.get(), &info) == 0 ||
      info.canvas_width != static_cast<std::uint32_t>(width) ||
      info.canvas_height != static_cast<std::uint32_t>(height))
    Fail("the animated WebP data is corrupt");
  std::uint8_t* frame = nullptr;
  int timestamp = 0;
  if (WebPAnimDecoderGetNext(decoder.get(), &frame, &timestamp) == 0 || frame == nullptr)
    Fail("the animated WebP data is corrupt or ends early");
  rgba.assign(frame, frame + rgba.size());
}

// Owns what an encoding allocates inside libwebp.
struct Encoding {
  WebPPicture picture;
  WebPMemoryWriter writer;
  Encoding() {
    WebPPictureInit(&picture);
    WebPMemoryWriterInit(&writer);
  }
  ~Encoding() {
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&writer);
  }
  Encoding(const Encoding&) = delete;
  Encoding& operator=(const Encoding&) = delete;
};

std::string EncodingErrorText(WebPEncodingError error) {
  switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY:
      throw std::bad_alloc();
    case VP8_ENC_ERROR_BAD_DIMENSION:
      return "a WebP file holds at most 16383 pixels a side";
    case VP8_ENC_ERROR_FILE_TOO_BIG:
      return "the picture is too large for a WebP file";
    default:
      return "libwebp could not encode the picture (error " + std::to_string(error) + ")";
  }
}

// Decodes a still picture into bytes of our own, RGB or RGBA; the status of
// WebPDecode tells data that ends early or is corrupt from memory that ran out.
void DecodeStill(const std::uint8_t* data, std::size_t size, std::int32_t width,
                 std::int32_t channels, std::vector<std::uint8_t>& bytes) {
  WebPDecoderConfig config;
  if (WebPInitDecoderConfig(&config) == 0) Fail("libwebp cannot start a decoder");
  config.output.colorspace = channels == 4 ? MODE_RGBA : MODE_RGB;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = bytes.data();
  config.output.u.RGBA.stride = width * channels;
  config.output.u.RGBA.size = bytes.size();
  const VP8StatusCode status = WebPDecode(data, size, &config);
  WebPFreeDecBuffer(&config.output);
  if (status == VP8_STATUS_OK) return;
  if (status == VP8_STATUS_NOT_ENOUGH_DATA || status == VP8_STATUS_BITSTREAM_ERROR)
    Fail("the WebP data is corrupt or ends early");
  Fail(StatusText(status));
}

// The header's facts and the checks before decoding: CheckPictureSize with the
// channels decoded, CheckDecodeLimits with the canvas of an animation.
WebPBitstreamFeatures OpenWebp(const std::uint8_t* data, std::size_t size,
                               const DecodeLimits& limits) {
  WebPBitstreamFeatures features;
  const VP8StatusCode status = WebPGetFeatures(data, size, &features);
  if (status != VP8_STATUS_OK) Fail(StatusText(status));
  CheckPictureSize(features.width, features.height, features.has_alpha != 0 ? 4 : 3);
  CheckDecodeLimits(features.width, features.height, limits);
  return features;
}

}  // namespace

PictureHeader WebpHeader(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits) {
  const WebPBitstreamFeatures features = OpenWebp(data, size, limits);
  PictureHeader header;
  header.format = PictureFormat::kWebp;
  header.storedWidth = features.width;
  header.storedHeight = features.height;
  header.alpha = features.has_alpha != 0;
  header.channels = header.alpha ? 4 : 3;
  header.bitsPerChannel = 8;
  std::int32_t orientation = 1;
  const WebPData whole = {data, size};
  const std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&whole));
  if (demux) {
    header.iccBytes = Chunk(demux.get(), "ICCP").size();
    const std::vector<std::uint8_t> exif = Chunk(demux.get(), "EXIF");
    if (!exif.empty()) orientation = ExifOrientation(exif.data(), exif.size());
  }
  SetOrientation(header, orientation);
  return header;
}

Picture DecodeWebp(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits) {
  const WebPBitstreamFeatures features = OpenWebp(data, size, limits);
  const std::int32_t channels = features.has_alpha != 0 ? 4 : 3;

  Picture picture;
  picture.format = PictureFormat::kWebp;
  picture.width = features.width;
  picture.height = features.height;
  picture.channels = channels;
  picture.bitsPerChannel = 8;
  const std::size_t pixels = static_cast<std::size_t>(features.width) * features.height;
  std::vector<std::uint8_t> bytes(pixels * static_cast<std::size_t>(channels));
  const WebPData whole = {data, size};
  const std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&whole));
  if (features.has_animation != 0) {
    std::vector<std::uint8_t> rgba(pixels * 4);
    DecodeFirstFrame(whole, demux != nullptr, features.width, features.height, rgba);
    for (std::size_t i = 0; i < pixels; ++i)
      std::memcpy(bytes.data() + i * channels, rgba.data() + i * 4,
                  static_cast<std::size_t>(channels));
  } else {
    DecodeStill(data, size, features.width, channels, bytes);
  }
  picture.samples.assign(bytes.begin(), bytes.end());

  std::int32_t orientation = 1;
  if (demux) {
    picture.icc = Chunk(demux.get(), "ICCP");
    const std::vector<std::uint8_t> exif = Chunk(demux.get(), "EXIF");
    // ExifOrientation also steps over an "Exif\0\0" prefix that some writers put
    // before the TIFF header.
    if (!exif.empty()) orientation = ExifOrientation(exif.data(), exif.size());
  }
  ApplyOrientation(picture, orientation);
  return picture;
}

std::vector<std::uint8_t> EncodeWebp(const Picture& picture, std::int32_t quality) {
  if (picture.width > WEBP_MAX_DIMENSION || picture.height > WEBP_MAX_DIMENSION)
    Fail("a WebP file holds at most " + std::to_string(WEBP_MAX_DIMENSION) + " pixels a side");
  const bool lossless = quality >= 100;
  WebPConfig config;
  if (WebPConfigInit(&config) == 0) Fail("libwebp cannot start an encoder");
  config.method = 4;
  if (lossless) {
    config.lossless = 1;
    config.exact = 1;
    config.quality = 75;  // effort, not fidelity, for lossless files
  } else {
    config.quality = static_cast<float>(quality);
  }
  if (WebPValidateConfig(&config) == 0) Fail("libwebp refused the settings");

  // Grey becomes three equal channels; alpha stays the fourth.
  const bool alpha = picture.HasAlpha();
  const std::size_t out = alpha ? 4 : 3;
  const std::size_t in = static_cast<std::size_t>(picture.channels);
  const std::size_t pixels = static_cast<std::size_t>(picture.width) * picture.height;
  std::vector<std::uint8_t> bytes(pixels * out);
  for (std::size_t i = 0; i < pixels; ++i) {
    const float* s = picture.samples.data() + i * in;
    std::uint8_t* d = bytes.data() + i * out;
    for (std::size_t c = 0; c < 3; ++c) d[c] = SampleToByte(s[in >= 3 ? c : 0]);
    if (alpha) d[3] = SampleToByte(s[in - 1]);
  }

  Encoding encoding;
  encoding.picture.use_argb = lossless ? 1 : 0;
  encoding.picture.width = picture.width;
  encoding.picture.height = picture.height;
  const int stride = picture.width * static_cast<int>(out);
  const int imported = alpha ? WebPPictureImportRGBA(&encoding.picture, bytes.data(), stride)
                             : WebPPictureImportRGB(&encoding.picture, bytes.data(), stride);
  if (imported == 0) Fail(EncodingErrorText(encoding.picture.error_code));
  encoding.picture.writer = WebPMemoryWrite;
  encoding.picture.custom_ptr = &encoding.writer;
  if (WebPEncode(&config, &encoding.picture) == 0)
    Fail(EncodingErrorText(encoding.picture.error_code));
  std::vector<std::uint8_t> file(encoding.writer.mem, encoding.writer.mem + encoding.writer.size);
  const std::vector<std::uint8_t>& profile = ProfileToWrite(picture);
  if (profile.empty()) return file;

  const WebPData image = {file.data(), file.size()};
  const std::unique_ptr<WebPMux, MuxDeleter> mux(WebPMuxCreate(&image, 0));
  if (!mux) Fail("libwebp could not read back the encoded picture");
  const WebPData icc = {profile.data(), profile.size()};
  OwnedData assembled;
  if (WebPMuxSetChunk(mux.get(), "ICCP", &icc, 1) != WEBP_MUX_OK ||
      WebPMuxAssemble(mux.get(), &assembled.data) != WEBP_MUX_OK)
    Fail("libwebp could not add the ICC profile");
  return std::vector<std::uint8_t>(assembled.data.bytes,
                                   assembled.data.bytes + assembled.data.size);
}

}  // namespace tvq::codec
