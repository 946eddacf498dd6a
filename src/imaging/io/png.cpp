#include "imaging/io/codecs.h"
namespace tvq::codec {
Picture DecodePng(const std::uint8_t*, std::size_t) {
  throw FileError("PNG: not yet");
}
std::vector<std::uint8_t> EncodePng(const Picture&) {
  throw FileError("PNG: not yet");
}
}  // namespace tvq::codec
