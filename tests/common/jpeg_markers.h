// JPEG files for codec tests: an EXIF block put into the file as an APP1 marker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tvq::jpegtest {

// The file with an APP1 marker holding "Exif\0\0" and the block right after its
// start-of-image marker.
inline std::vector<std::uint8_t> WithExif(std::vector<std::uint8_t> jpeg,
                                          const std::vector<std::uint8_t>& exif) {
  const std::size_t length = 2 + 6 + exif.size();
  std::vector<std::uint8_t> marker = {0xFF,
                                      0xE1,
                                      static_cast<std::uint8_t>(length >> 8),
                                      static_cast<std::uint8_t>(length),
                                      'E',
                                      'x',
                                      'i',
                                      'f',
                                      0,
                                      0};
  marker.insert(marker.end(), exif.begin(), exif.end());
  jpeg.insert(jpeg.begin() + 2, marker.begin(), marker.end());
  return jpeg;
}

}  // namespace tvq::jpegtest
