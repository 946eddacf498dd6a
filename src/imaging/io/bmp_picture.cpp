// BMP files as pictures: decoding keeps the Bitmap in its own depth; encoding a
// picture of samples gives the 32-bit file that commands have always written.
#include <algorithm>
#include <bit>

#include "imaging/io/codecs.h"
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

std::vector<std::uint8_t> EncodeBmpPicture(const Picture& picture) {
  if (picture.bitmap) return EncodeBmp(*picture.bitmap);
  // Blue, green, red by ClampToByte (grey repeated) and the fourth byte 0: the fourth
  // byte carries no meaning, and many viewers would take it for transparency.
  Bitmap bitmap(picture.width, picture.height, 32);
  const std::size_t ch = static_cast<std::size_t>(picture.channels);
  const bool grey = picture.channels < 3;
  const auto convert = [&](std::int32_t y) {
    std::uint8_t* row = bitmap.ScanLine(y);
    const float* src = picture.samples.data() +
                       static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width) * ch;
    for (std::int32_t x = 0; x < picture.width; ++x, src += ch, row += 4) {
      row[0] = SampleToByte(src[grey ? 0 : 2]);
      row[1] = SampleToByte(src[grey ? 0 : 1]);
      row[2] = SampleToByte(src[0]);
      row[3] = 0;
    }
  };
  ForEachRow(picture.height, convert);  // rows are independent
  return EncodeBmp(bitmap);
}

}  // namespace tvq::codec
