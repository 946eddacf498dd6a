#include <cstring>
#include <utility>

#include "imaging/imagebase.h"
#include "imaging/io/codecs.h"

namespace tvq::codec {

std::uint8_t SampleToByte(float v) {
  return ClampToByte(v);
}

std::uint16_t SampleToWord(float v) {
  // NaN and values below 0 give 0. clamp(v) * 257 is exact in double (24 + 9 bits).
  const double clamped = v > 255.0f ? 255.0 : (v >= 0.0f ? static_cast<double>(v) : 0.0);
  return static_cast<std::uint16_t>(clamped * 257.0 + 0.5);
}

float WordToSample(std::uint16_t v) {
  return static_cast<float>(v / 257.0);
}

const std::vector<std::uint8_t>& ProfileToWrite(const Picture& picture) {
  static const std::vector<std::uint8_t> none;
  return ProfileSuitsPicture(picture) ? picture.icc : none;
}

std::string Excerpt(std::string_view text) {
  constexpr std::size_t kMost = 40;
  if (text.size() <= kMost) return std::string(text);
  std::size_t cut = kMost;
  // Not inside a UTF-8 sequence: step back over its continuation bytes.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return std::string(text.substr(0, cut)) + "...";
}

void SetOrientation(PictureHeader& header, std::int32_t orientation) {
  header.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
  const bool swap = header.orientation >= 5;
  header.width = swap ? header.storedHeight : header.storedWidth;
  header.height = swap ? header.storedWidth : header.storedHeight;
}

std::int32_t ExifOrientation(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr) return 1;
  // JPEG's APP1 block puts "Exif\0\0" before the TIFF header; accept it here too.
  if (size >= 6 && std::memcmp(data, "Exif\0\0", 6) == 0) {
    data += 6;
    size -= 6;
  }
  if (size < 8) return 1;
  bool little = false;
  if (data[0] == 'I' && data[1] == 'I')
    little = true;
  else if (!(data[0] == 'M' && data[1] == 'M'))
    return 1;
  const auto u16 = [&](std::size_t at) -> std::uint32_t {
    return little ? data[at] | (data[at + 1] << 8) : (data[at] << 8) | data[at + 1];
  };
  const auto u32 = [&](std::size_t at) -> std::uint32_t {
    return little ? u16(at) | (u16(at + 2) << 16) : (u16(at) << 16) | u16(at + 2);
  };
  if (u16(2) != 42) return 1;
  const std::uint32_t ifd = u32(4);
  if (ifd < 8 || ifd > size || size - ifd < 2) return 1;
  const std::uint32_t count = u16(ifd);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t entry = ifd + 2 + static_cast<std::size_t>(i) * 12;
    if (entry > size || size - entry < 12) return 1;
    if (u16(entry) != 0x0112) continue;
    const std::uint32_t type = u16(entry + 2);
    if (u32(entry + 4) != 1) return 1;
    // A SHORT is stored in the first two bytes of the value field; a LONG fills it.
    std::uint32_t value = 0;
    if (type == 3)
      value = u16(entry + 8);
    else if (type == 4)
      value = u32(entry + 8);
    else
      return 1;
    return value >= 1 && value <= 8 ? static_cast<std::int32_t>(value) : 1;
  }
  return 1;
}

void ApplyOrientation(Picture& picture, std::int32_t orientation) {
  if (orientation < 1 || orientation > 8) orientation = 1;
  picture.orientation = orientation;
  if (orientation == 1) return;
  const std::size_t w = static_cast<std::size_t>(picture.width);
  const std::size_t h = static_cast<std::size_t>(picture.height);
  const std::size_t ch = static_cast<std::size_t>(picture.channels);
  if (picture.width <= 0 || picture.height <= 0 || picture.samples.size() != w * h * ch) return;
  const bool swap = orientation >= 5;
  const std::size_t outW = swap ? h : w;
  const std::size_t outH = swap ? w : h;
  std::vector<float> out(picture.samples.size());
  for (std::size_t dy = 0; dy < outH; ++dy) {
    for (std::size_t dx = 0; dx < outW; ++dx) {
      // The stored pixel that lands at (dx, dy) of the upright picture.
      std::size_t sx = dx, sy = dy;
      switch (orientation) {
        case 2:  // mirrored left to right
          sx = w - 1 - dx;
          break;
        case 3:  // turned by 180 degrees
          sx = w - 1 - dx;
          sy = h - 1 - dy;
          break;
        case 4:  // mirrored top to bottom
          sy = h - 1 - dy;
          break;
        case 5:  // transposed
          sx = dy;
          sy = dx;
          break;
        case 6:  // needs a quarter turn clockwise
          sx = dy;
          sy = h - 1 - dx;
          break;
        case 7:  // transposed across the other diagonal
          sx = w - 1 - dy;
          sy = h - 1 - dx;
          break;
        case 8:  // needs a quarter turn counter-clockwise
          sx = w - 1 - dy;
          sy = dx;
          break;
        default:
          break;
      }
      const float* src = picture.samples.data() + (sy * w + sx) * ch;
      std::memcpy(out.data() + (dy * outW + dx) * ch, src, ch * sizeof(float));
    }
  }
  picture.samples = std::move(out);
  picture.width = static_cast<std::int32_t>(outW);
  picture.height = static_cast<std::int32_t>(outH);
}

}  // namespace tvq::codec
