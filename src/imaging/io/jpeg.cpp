// The JPEG codec, on libjpeg working from memory; its writer by rows hands libjpeg's
// output to a file as it comes.
//
// libjpeg reports errors through a callback that must not return. The callback here
// formats the message into a plain C struct and longjmps back to a setjmp in a small
// function whose frame holds only C data; that function returns failure and its C++
// caller throws FileError. No longjmp ever crosses a C++ frame, and no exception ever
// crosses a library frame.
//
// Warnings of corrupt or truncated data are errors here: libjpeg would otherwise fill
// what is missing with grey and carry on, and a half-decoded picture must never come out.
// Damaged ICC profile markers are the exception: the profile is dropped with a warning
// and the picture decoded, since the pixels do not depend on them.

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>
// After jpeglib.h: the message codes depend on the library's configuration, which
// jpeglib.h brings (JWRN_BOGUS_ICC follows codes that exist only with arithmetic
// coding).
#include <jerror.h>

#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "imaging/io/codecs.h"
#include "imaging/io/rowwrite.h"

namespace tvq::codec {
namespace {

// Memory that libjpeg may use for one picture beyond the output rows: progressive
// files keep every coefficient of the picture, two bytes a sample.
constexpr long kMaxLibraryMemory = static_cast<long>(3 * kMaxPictureBytes);
// Progressive files with more scans than this are refused: each scan rereads the
// whole coefficient buffer, so a small file of many tiny scans takes very long.
constexpr int kMaxScans = 500;
// jpeg_write_icc_profile splits a profile into at most 255 APP2 markers of this size.
constexpr std::size_t kIccBytesPerMarker = 65519;
constexpr std::size_t kMaxIccBytes = 255 * kIccBytesPerMarker;

// Error manager: libjpeg's own first, so that cinfo->err points at the whole struct.
struct ErrorState {
  jpeg_error_mgr manager;
  jpeg_progress_mgr progress;
  std::jmp_buf jump;
  bool endedEarly;
  bool badIcc;  // the ICC profile's markers were damaged
  char message[JMSG_LENGTH_MAX];
};

ErrorState* StateOf(j_common_ptr cinfo) {
  return reinterpret_cast<ErrorState*>(cinfo->err);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  ErrorState* state = StateOf(cinfo);
  state->endedEarly = cinfo->err->msg_code == JWRN_JPEG_EOF;
  (*cinfo->err->format_message)(cinfo, state->message);
  std::longjmp(state->jump, 1);
}

// Level -1 is a warning, higher levels are trace messages (ignored). Warnings of
// damaged data stop decoding; three harmless ones do not: an unknown JFIF revision,
// an unknown Adobe transform code (the colour space is then guessed as usual), and
// stray bytes between segments, which some writers leave before the end marker and
// which leave the picture complete. Damaged ICC markers (duplicate, missing or
// inconsistent sequence numbers, which only the profile reader reports) are noted:
// the profile is dropped.
void EmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  const int code = cinfo->err->msg_code;
  if (code == JWRN_JFIF_MAJOR || code == JWRN_ADOBE_XFORM || code == JWRN_EXTRANEOUS_DATA) return;
  if (code == JWRN_BOGUS_ICC) {
    StateOf(cinfo)->badIcc = true;
    return;
  }
  ErrorExit(cinfo);
}

void ProgressMonitor(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  const auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (dinfo->input_scan_number <= kMaxScans) return;
  ErrorState* state = StateOf(cinfo);
  std::snprintf(state->message, sizeof state->message, "more than %d progressive scans", kMaxScans);
  std::longjmp(state->jump, 1);
}

void InstallErrorState(ErrorState& state, j_common_ptr cinfo) {
  cinfo->err = jpeg_std_error(&state.manager);
  state.manager.error_exit = ErrorExit;
  state.manager.emit_message = EmitMessage;
  state.endedEarly = false;
  state.badIcc = false;
  state.message[0] = '\0';
  state.progress = {};
  state.progress.progress_monitor = ProgressMonitor;
}

[[noreturn]] void ThrowFor(const ErrorState& state) {
  if (state.endedEarly) throw FileError("the JPEG data ends early");
  throw FileError(std::string("bad JPEG data: ") + state.message);
}

// ---- Decoding ----

// Owns the decompressor; destroyed on every path by the C++ caller's frame.
struct Decompressor {
  jpeg_decompress_struct info{};
  ErrorState state{};
  bool created = false;
  ~Decompressor() {
    if (created) jpeg_destroy_decompress(&info);
  }
};

// Phase 1: create, attach the bytes, keep the APP1 and APP2 markers, read the header
// and choose the output colour space. Returns false on a library error.
bool ReadHeader(jpeg_decompress_struct* info, ErrorState* state, bool* created,
                const std::uint8_t* data, std::size_t size) {
  InstallErrorState(*state, reinterpret_cast<j_common_ptr>(info));
  if (setjmp(state->jump)) return false;
  jpeg_create_decompress(info);
  *created = true;
  info->progress = &state->progress;
  info->mem->max_memory_to_use = kMaxLibraryMemory;
  jpeg_mem_src(info, data, static_cast<unsigned long>(size));
  jpeg_save_markers(info, JPEG_APP0 + 1, 0xFFFF);
  jpeg_save_markers(info, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(info, TRUE);
  return true;
}

// Reads the ICC profile from the APP2 markers (malloc'd into *icc, or null when
// there is none or its markers are damaged, which sets state->badIcc). Returns false
// on a library error.
bool ReadIcc(jpeg_decompress_struct* info, ErrorState* state, JOCTET** icc, unsigned int* iccSize) {
  if (setjmp(state->jump)) return false;
  if (!jpeg_read_icc_profile(info, icc, iccSize)) {
    *icc = nullptr;
    *iccSize = 0;
  }
  return true;
}

// Phase 2: decodes every row into pixels, rows of the header's width x components
// bytes. Returns false on a library error, or when the library would write rows of
// another layout; the pixels are then partly written and must be discarded.
bool ReadRows(jpeg_decompress_struct* info, ErrorState* state, std::uint8_t* pixels,
              int components) {
  if (setjmp(state->jump)) return false;
  jpeg_start_decompress(info);
  if (info->output_width != info->image_width || info->output_height != info->image_height ||
      info->output_components != components) {
    std::snprintf(state->message, sizeof state->message, "unexpected output layout");
    return false;
  }
  const std::size_t rowBytes = static_cast<std::size_t>(info->image_width) * components;
  while (info->output_scanline < info->output_height) {
    JSAMPROW row = pixels + info->output_scanline * rowBytes;
    jpeg_read_scanlines(info, &row, 1);
  }
  jpeg_finish_decompress(info);
  return true;
}

// The EXIF orientation of the first APP1 marker that holds an EXIF block; 1 if none.
std::int32_t MarkerOrientation(const jpeg_decompress_struct& info) {
  for (jpeg_saved_marker_ptr m = info.marker_list; m != nullptr; m = m->next) {
    if (m->marker != JPEG_APP0 + 1 || m->data_length < 6) continue;
    if (std::memcmp(m->data, "Exif\0\0", 6) != 0) continue;
    return ExifOrientation(m->data + 6, m->data_length - 6);
  }
  return 1;
}

// ---- Encoding ----

// Size of the buffer libjpeg fills before it hands bytes to a file.
constexpr std::size_t kFileBufferBytes = 64u << 10;

struct Compressor {
  jpeg_compress_struct info{};
  ErrorState state{};
  bool created = false;
  unsigned char* output = nullptr;  // malloc'd by the library's memory destination
  unsigned long outputSize = 0;
  // Writing to a file instead: libjpeg fills `buffer`, the destination hands it on;
  // a failed write keeps its message here.
  TemporaryFile* file = nullptr;
  jpeg_destination_mgr destination{};
  std::vector<JOCTET> buffer;
  std::string fileError;
  ~Compressor() {
    if (created) jpeg_destroy_compress(&info);
    std::free(output);
  }
};

struct EncodeSettings {
  int width;
  int height;
  int components;  // 1 grey, 3 RGB
  int quality;
  const std::uint8_t* icc;
  std::size_t iccSize;
};

// Hands the buffer's first `size` bytes to the file; false when it cannot be written.
bool WriteBuffer(Compressor* c, std::size_t size) {
  try {
    c->file->Write(c->buffer.data(), size);
    return true;
  } catch (const FileError& e) {
    c->fileError = e.what();
    return false;
  }
}

Compressor* CompressorOf(j_compress_ptr info) {
  return static_cast<Compressor*>(info->client_data);
}

void StartDestination(j_compress_ptr info) {
  Compressor* c = CompressorOf(info);
  c->destination.next_output_byte = c->buffer.data();
  c->destination.free_in_buffer = c->buffer.size();
}

boolean EmptyDestination(j_compress_ptr info) {
  Compressor* c = CompressorOf(info);
  // libjpeg asks when the buffer is full, whatever free_in_buffer says.
  if (!WriteBuffer(c, c->buffer.size())) ERREXIT(info, JERR_FILE_WRITE);
  StartDestination(info);
  return TRUE;
}

void TermDestination(j_compress_ptr info) {
  Compressor* c = CompressorOf(info);
  if (!WriteBuffer(c, c->buffer.size() - c->destination.free_in_buffer))
    ERREXIT(info, JERR_FILE_WRITE);
}

// Phase 1: create, choose the destination (c->file, else memory), apply the settings
// and write the header and the profile. Returns false on a library error. The whole
// picture's encoder and the writer by rows share it, so their files are the same.
bool StartCompress(Compressor* c, const EncodeSettings* s) {
  jpeg_compress_struct* info = &c->info;
  InstallErrorState(c->state, reinterpret_cast<j_common_ptr>(info));
  if (setjmp(c->state.jump)) return false;
  jpeg_create_compress(info);
  c->created = true;
  if (c->file != nullptr) {
    info->client_data = c;
    c->destination.init_destination = StartDestination;
    c->destination.empty_output_buffer = EmptyDestination;
    c->destination.term_destination = TermDestination;
    info->dest = &c->destination;
  } else {
    jpeg_mem_dest(info, &c->output, &c->outputSize);
  }
  info->image_width = static_cast<JDIMENSION>(s->width);
  info->image_height = static_cast<JDIMENSION>(s->height);
  info->input_components = s->components;
  info->in_color_space = s->components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(info);
  jpeg_set_quality(info, s->quality, TRUE);
  // Full-resolution chroma at high quality; the library's 4:2:0 below it.
  if (s->quality >= 90) {
    for (int i = 0; i < info->num_components; ++i) {
      info->comp_info[i].h_samp_factor = 1;
      info->comp_info[i].v_samp_factor = 1;
    }
  }
  info->optimize_coding = TRUE;
  jpeg_start_compress(info, TRUE);
  if (s->iccSize > 0) jpeg_write_icc_profile(info, s->icc, static_cast<unsigned int>(s->iccSize));
  return true;
}

// Phase 2: `count` rows of rowBytes bytes each, top-down. Returns false on a library
// error.
bool CompressRows(Compressor* c, const std::uint8_t* rows, std::size_t count,
                  std::size_t rowBytes) {
  if (setjmp(c->state.jump)) return false;
  for (std::size_t r = 0; r < count; ++r) {
    // libjpeg's row type is not const; the rows are only read.
    JSAMPROW row = const_cast<std::uint8_t*>(rows) + r * rowBytes;
    jpeg_write_scanlines(&c->info, &row, 1);
  }
  return true;
}

// Phase 3: the scans (with optimised Huffman tables, from the coefficients libjpeg
// kept) and the end marker. Returns false on a library error.
bool FinishCompress(Compressor* c) {
  if (setjmp(c->state.jump)) return false;
  jpeg_finish_compress(&c->info);
  return true;
}

// What EncodeJpeg refuses before encoding; the settings of a picture with these facts.
EncodeSettings SettingsFor(const Picture& picture, std::int32_t quality) {
  if (picture.channels < 1 || picture.channels > 4)
    throw FileError("a JPEG picture needs 1 to 4 channels");
  if (picture.width < 1 || picture.height < 1 || picture.width > JPEG_MAX_DIMENSION ||
      picture.height > JPEG_MAX_DIMENSION)
    throw FileError("JPEG sides must be 1.." + std::to_string(JPEG_MAX_DIMENSION) + " pixels");
  const std::vector<std::uint8_t>& icc = ProfileToWrite(picture);
  if (icc.size() > kMaxIccBytes) throw FileError("the ICC profile is too large for a JPEG file");
  // Grey stays grey, colour is RGB; alpha (channels 2 and 4) is dropped.
  return EncodeSettings{picture.width,
                        picture.height,
                        picture.channels <= 2 ? 1 : 3,
                        quality < 1 ? 1 : (quality > 100 ? 100 : quality),
                        icc.data(),
                        icc.size()};
}

// Samples to the bytes libjpeg takes: `components` of every pixel's `from` channels.
void SamplesToBytes(const float* samples, std::size_t pixels, std::size_t from,
                    std::size_t components, std::uint8_t* out) {
  for (std::size_t i = 0; i < pixels; ++i)
    for (std::size_t c = 0; c < components; ++c)
      out[i * components + c] = SampleToByte(samples[i * from + c]);
}

[[noreturn]] void ThrowForCompress(const Compressor& c, const std::string& prefix) {
  if (!c.fileError.empty()) throw FileError(c.fileError);
  throw FileError(prefix + "cannot encode the JPEG picture: " + c.state.message);
}

// The file of a picture given row by row. libjpeg takes rows top-down; as the whole
// picture's encoder optimises its Huffman tables, the library keeps the picture's
// coefficients (two bytes a sample of the written components) until Finish, and holds
// no float sample.
class JpegRowWriter : public RowWriter {
 public:
  JpegRowWriter(const std::string& path, const Picture& facts, std::int32_t quality)
      : path_(path), file_(path), facts_(facts) {
    CheckRowFacts(path, facts);
    EncodeSettings settings{};
    try {
      settings = SettingsFor(facts, quality);
    } catch (const FileError& e) {
      throw FileError(path + ": " + e.what());
    }
    components_ = static_cast<std::size_t>(settings.components);
    row_.resize(static_cast<std::size_t>(facts.width) * components_);
    c_.file = &file_;
    c_.buffer.resize(kFileBufferBytes);
    if (!StartCompress(&c_, &settings)) ThrowForCompress(c_, path_ + ": ");
  }

  void WriteRows(const float* samples, std::int32_t rows) override {
    const std::size_t width = static_cast<std::size_t>(facts_.width);
    const std::size_t count = width * facts_.channels;
    for (std::int32_t r = 0; r < rows; ++r, samples += count, ++next_) {
      if (next_ >= facts_.height) throw FileError(path_ + ": more rows than the picture has");
      SamplesToBytes(samples, width, static_cast<std::size_t>(facts_.channels), components_,
                     row_.data());
      if (!CompressRows(&c_, row_.data(), 1, row_.size())) ThrowForCompress(c_, path_ + ": ");
    }
  }

  void Finish() override {
    if (next_ != facts_.height) throw FileError(path_ + ": the picture's rows are incomplete");
    if (!FinishCompress(&c_)) ThrowForCompress(c_, path_ + ": ");
    file_.Commit();
  }

 private:
  std::string path_;
  TemporaryFile file_;
  Picture facts_;
  std::size_t components_ = 3;
  std::int32_t next_ = 0;
  std::vector<std::uint8_t> row_;
  Compressor c_;
};

// What the header and the markers before the scans say.
struct JpegFacts {
  int channels = 0;  // of the decoded picture: 1 grey, 3 colour
  bool cmyk = false;
  std::vector<std::uint8_t> icc;
  std::int32_t orientation = 1;
  std::vector<std::string> warnings;
};

// Reads the header, chooses the output colour space and makes every check before
// the scans (CheckPictureSize, CheckDecodeLimits); then reads the ICC profile and
// the orientation.
JpegFacts OpenJpeg(Decompressor& d, const std::uint8_t* data, std::size_t size,
                   const DecodeLimits& limits) {
  if (data == nullptr || size == 0) throw FileError("the JPEG data ends early");
  if (!ReadHeader(&d.info, &d.state, &d.created, data, size)) ThrowFor(d.state);
  jpeg_decompress_struct& info = d.info;
  JpegFacts facts;

  int& channels = facts.channels;
  bool& cmyk = facts.cmyk;
  switch (info.jpeg_color_space) {
    case JCS_GRAYSCALE:
      info.out_color_space = JCS_GRAYSCALE;
      channels = 1;
      break;
    case JCS_YCbCr:
    case JCS_RGB:
      info.out_color_space = JCS_RGB;
      channels = 3;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      info.out_color_space = JCS_CMYK;
      channels = 3;
      cmyk = true;
      break;
    default:
      throw FileError("the JPEG colour space is not supported");
  }
  const int components = cmyk ? 4 : channels;
  CheckPictureSize(info.image_width, info.image_height, components);
  CheckDecodeLimits(info.image_width, info.image_height, limits);

  JOCTET* icc = nullptr;
  unsigned int iccSize = 0;
  if (!ReadIcc(&info, &d.state, &icc, &iccSize)) ThrowFor(d.state);
  if (icc != nullptr) {
    const std::unique_ptr<JOCTET, decltype(&std::free)> owner(icc, &std::free);
    facts.icc.assign(icc, icc + iccSize);
  }
  if (d.state.badIcc)
    facts.warnings.push_back(
        "the ICC profile's APP2 markers are damaged (duplicate, missing or inconsistent "
        "sequence numbers); the profile was dropped");
  facts.orientation = MarkerOrientation(info);
  return facts;
}

}  // namespace

PictureHeader JpegHeader(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits) {
  Decompressor d;
  JpegFacts facts = OpenJpeg(d, data, size, limits);
  PictureHeader header;
  header.format = PictureFormat::kJpeg;
  header.storedWidth = static_cast<std::int32_t>(d.info.image_width);
  header.storedHeight = static_cast<std::int32_t>(d.info.image_height);
  header.channels = d.info.num_components;
  header.bitsPerChannel = d.info.data_precision;
  header.cmyk = facts.cmyk;
  header.iccBytes = facts.icc.size();
  header.warnings = std::move(facts.warnings);
  SetOrientation(header, facts.orientation);
  return header;
}

Picture DecodeJpeg(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits) {
  Decompressor d;
  JpegFacts facts = OpenJpeg(d, data, size, limits);
  jpeg_decompress_struct& info = d.info;
  const int channels = facts.channels;
  const bool cmyk = facts.cmyk;
  const int components = cmyk ? 4 : channels;

  Picture picture;
  picture.format = PictureFormat::kJpeg;
  picture.width = static_cast<std::int32_t>(info.image_width);
  picture.height = static_cast<std::int32_t>(info.image_height);
  picture.channels = channels;
  picture.bitsPerChannel = 8;
  picture.icc = std::move(facts.icc);
  picture.warnings = std::move(facts.warnings);
  const std::int32_t orientation = facts.orientation;

  // Decode into bytes first: nothing is zero-filled up front, so a small file that
  // declares a large picture and then ends costs only what it really decodes.
  const std::size_t w = info.image_width;
  const std::size_t h = info.image_height;
  const std::size_t rowBytes = w * components;
  const auto pixels = std::make_unique_for_overwrite<std::uint8_t[]>(rowBytes * h);
  if (!ReadRows(&info, &d.state, pixels.get(), components)) ThrowFor(d.state);

  picture.samples.resize(w * h * channels);
  float* out = picture.samples.data();
  const std::uint8_t* in = pixels.get();
  if (cmyk) {
    // A simple conversion without a colour profile: red = (1 - cyan)(1 - black) and
    // so on. Files with an Adobe marker store every CMYK sample inverted (255 means
    // no ink), which libjpeg does not undo; others store ink amounts.
    const bool inverted = info.saw_Adobe_marker;
    for (std::size_t i = 0; i < w * h; ++i, in += 4, out += 3) {
      int k = in[3];
      if (!inverted) k = 255 - k;
      for (int c = 0; c < 3; ++c) {
        const int paper = inverted ? in[c] : 255 - in[c];
        out[c] = static_cast<float>((paper * k + 127) / 255);
      }
    }
  } else {
    for (std::size_t i = 0; i < w * h * channels; ++i) out[i] = in[i];
  }
  ApplyOrientation(picture, orientation);
  return picture;
}

std::vector<std::uint8_t> EncodeJpeg(const Picture& picture, std::int32_t quality) {
  const EncodeSettings settings = SettingsFor(picture, quality);
  const std::size_t w = static_cast<std::size_t>(picture.width);
  const std::size_t h = static_cast<std::size_t>(picture.height);
  const std::size_t from = static_cast<std::size_t>(picture.channels);
  if (picture.samples.size() != w * h * from)
    throw FileError("the picture's samples do not match its size");

  const std::size_t components = static_cast<std::size_t>(settings.components);
  std::vector<std::uint8_t> pixels(w * h * components);
  SamplesToBytes(picture.samples.data(), w * h, from, components, pixels.data());

  Compressor c;
  if (!StartCompress(&c, &settings) || !CompressRows(&c, pixels.data(), h, w * components) ||
      !FinishCompress(&c))
    ThrowForCompress(c, "");
  return std::vector<std::uint8_t>(c.output, c.output + c.outputSize);
}

std::unique_ptr<RowWriter> OpenJpegRowWriter(const std::string& path, const Picture& facts,
                                             std::int32_t quality) {
  return std::make_unique<JpegRowWriter>(path, facts, quality);
}

}  // namespace tvq::codec
