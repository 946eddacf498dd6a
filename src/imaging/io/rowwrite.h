// Picture files written row by row from the top, for results made a band at a time
// (tiled runs), so that the whole result is never held. The bytes are those that
// EncodePicture gives for the same picture.
//
// PNG goes through libpng a row at a time. PFM and BMP, stored bottom-up in files of
// known size, have each row put at its place. JPEG goes through libjpeg a row at a
// time; its optimised Huffman tables need the whole picture's coefficients, which the
// library keeps until the end (two bytes a written sample, against the four bytes a
// channel of the float result). TIFF gathers rows into one strip of the whole-picture
// encoder's size and encodes it when full. WebP's encoder needs the whole picture and
// has no row writer; nor has a BMP picture that keeps its own bitmap (EncodePicture
// writes that bitmap, not the samples).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "imaging/io/picture.h"

namespace tvq {

// Whether OpenRowWriter writes `format`: PNG, PFM, BMP, JPEG and TIFF.
bool FormatWritesByRows(PictureFormat format);

// The memory a row writer of `format` holds beyond a band of rows until it finishes, for
// a width x height picture of `channels` colour channels: JPEG's encoder keeps every
// coefficient (two bytes a sample) to build its optimised tables; 0 for the others.
std::uint64_t RowWriterHeldBytes(PictureFormat format, std::int64_t width, std::int64_t height,
                                 std::int32_t channels);

class RowWriter {
 public:
  virtual ~RowWriter() = default;
  // `rows` rows, top-down, each width * channels samples of the picture's facts.
  virtual void WriteRows(const float* samples, std::int32_t rows) = 0;
  // After the last row: the file is complete and takes path's place.
  virtual void Finish() = 0;
};

// A writer of a picture with the facts of `facts` (size, channels, bits per channel,
// profile; its samples are not read) to `path` in `format`. The file is written to a
// temporary file in path's folder, ".NAME.XXXXXX.tmp", renamed over path by Finish and
// removed when the writer is destroyed unfinished. FileError "path: problem" when it
// cannot be created or written, or for options EncodePicture refuses; nullptr for a
// format FormatWritesByRows refuses and for BMP facts whose `bitmap` is set. The
// options count as for EncodePicture: PNG's and TIFF's deflate level, JPEG's quality.
std::unique_ptr<RowWriter> OpenRowWriter(const std::string& path, PictureFormat format,
                                         const Picture& facts, const WriteOptions& options = {});

}  // namespace tvq
