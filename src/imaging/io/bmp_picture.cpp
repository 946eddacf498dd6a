// BMP files as pictures: decoding keeps the Bitmap in its own depth; encoding a
// picture of samples gives the 32-bit file that commands have always written, whole
// or row by row.
#include <algorithm>
#include <bit>

#include "imaging/io/bmp_layout.h"
#include "imaging/io/codecs.h"
#include "imaging/io/rowwrite.h"
#include "imaging/parallel.h"

namespace tvq::codec {

PictureHeader BmpHeader(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits) {
  PictureHeader header;
  header.format = PictureFormat::kBmp;
  const BmpInfo info = DecodeBmpHeader(data, size, limits);
  header.details = info;
  header.storedWidth = info.width;
  header.storedHeight = info.height;
  header.palette = info.bitsPerPixel <= 8;
  header.channels = header.palette ? 1 : 3;
  // Bit fields: the widest colour field; otherwise 1, 4 or 8 bits of an index, or
  // bytes of blue, green and red.
  const auto& m = info.masks;
  header.bitsPerChannel =
      header.palette ? info.bitsPerPixel
      : m[0] != 0 || m[1] != 0 || m[2] != 0
          ? std::max({std::popcount(m[0]), std::popcount(m[1]), std::popcount(m[2])})
          : 8;
  SetOrientation(header, 1);
  return header;
}

Picture DecodeBmpPicture(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits) {
  Picture picture;
  picture.format = PictureFormat::kBmp;
  BmpInfo info;
  picture.bitmap = DecodeBmp(data, size, &info, limits);
  picture.details = info;
  picture.width = picture.bitmap->Width();
  picture.height = picture.bitmap->Height();
  picture.channels = 3;
  picture.bitsPerChannel = 8;
  return picture;
}

namespace {

// One row of samples as the 32-bit file stores it: blue, green, red by ClampToByte
// (grey repeated) and the fourth byte 0: the fourth byte carries no meaning, and many
// viewers would take it for transparency. Alpha is dropped.
void RowToPixels(const float* src, std::int32_t width, std::int32_t channels, std::uint8_t* row) {
  const std::size_t ch = static_cast<std::size_t>(channels);
  const bool grey = channels < 3;
  for (std::int32_t x = 0; x < width; ++x, src += ch, row += 4) {
    row[0] = SampleToByte(src[grey ? 0 : 2]);
    row[1] = SampleToByte(src[grey ? 0 : 1]);
    row[2] = SampleToByte(src[0]);
    row[3] = 0;
  }
}

// The 32-bit file of a picture without a bitmap, as EncodeBmpPicture writes it: the
// rows are stored bottom-up in a file of known size, so each row is put at its place
// from the end as it comes. The memory is one row.
class BmpRowWriter : public BottomUpRowWriter {
 public:
  BmpRowWriter(const std::string& path, const Picture& facts) : BottomUpRowWriter(path, facts) {
    const std::size_t rowBytes = BitmapRowBytes(facts.width, 32);
    std::vector<std::uint8_t> header;
    try {
      header = bmp::FileHeader(facts.width, facts.height, 32, rowBytes, bmp::kBiRgb,
                               bmp::kInfoHeaderSize, {}, {});
    } catch (const FileError& e) {
      throw FileError(path + ": " + e.what());
    }
    Begin(header, rowBytes);
  }

 private:
  void StoreRow(const float* samples, std::uint8_t* row) const override {
    RowToPixels(samples, Facts().width, Facts().channels, row);
  }
};

}  // namespace

std::vector<std::uint8_t> EncodeBmpPicture(const Picture& picture) {
  if (picture.bitmap) return EncodeBmp(*picture.bitmap);
  Bitmap bitmap(picture.width, picture.height, 32);
  const std::size_t ch = static_cast<std::size_t>(picture.channels);
  const auto convert = [&](std::int32_t y) {
    RowToPixels(picture.samples.data() +
                    static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width) * ch,
                picture.width, picture.channels, bitmap.ScanLine(y));
  };
  ForEachRow(picture.height, convert);  // rows are independent
  return EncodeBmp(bitmap);
}

std::unique_ptr<RowWriter> OpenBmpRowWriter(const std::string& path, const Picture& facts) {
  // A picture that keeps its own bitmap is written as that bitmap, in its own depth,
  // from pixels a writer of samples never sees.
  if (facts.bitmap) return nullptr;
  return std::make_unique<BmpRowWriter>(path, facts);
}

}  // namespace tvq::codec
