// Temporary: replaced by the codec files as they are written.
#include "imaging/io/codecs.h"
namespace tvq::codec {
Picture DecodeTiff(const std::uint8_t*, std::size_t) {
  throw FileError("TIFF: not yet");
}
std::vector<std::uint8_t> EncodeTiff(const Picture&) {
  throw FileError("TIFF: not yet");
}
Picture DecodeWebp(const std::uint8_t*, std::size_t) {
  throw FileError("WebP: not yet");
}
std::vector<std::uint8_t> EncodeWebp(const Picture&, std::int32_t) {
  throw FileError("WebP: not yet");
}
}  // namespace tvq::codec
