// Picture files written row by row from the top, for results made a band at a time
// (tiled runs), so that the whole result is never held. The bytes are those that
// EncodePicture gives for the same picture.
//
// PNG goes through libpng a row at a time; PFM, stored bottom-up, has each row put at
// its place in a file of known size. The other formats need the whole picture (JPEG,
// TIFF and WebP encoders are given it at once here; BMP's writer converts the whole
// picture) and have no row writer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "imaging/io/picture.h"

namespace tvq {

// Whether OpenRowWriter writes `format`: PNG and PFM.
bool FormatWritesByRows(PictureFormat format);

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
// cannot be created or written; std::nullptr for a format FormatWritesByRows refuses.
// PNG takes the options' deflate level as EncodePicture does.
std::unique_ptr<RowWriter> OpenRowWriter(const std::string& path, PictureFormat format,
                                         const Picture& facts, const WriteOptions& options = {});

}  // namespace tvq
