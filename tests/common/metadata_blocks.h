// Metadata blocks for codec tests: a minimal ICC profile that libraries accept and
// EXIF blocks with an orientation entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tvq::testblocks {

using Bytes = std::vector<std::uint8_t>;

// A minimal ICC profile of the given colour space with one tag.
inline Bytes IccProfile(const char* colourSpace) {
  Bytes p(184, 0);
  const auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[at + i] = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
  };
  put32(0, static_cast<std::uint32_t>(p.size()));
  put32(8, 0x02100000);
  std::memcpy(&p[12], "mntr", 4);
  std::memcpy(&p[16], colourSpace, 4);
  std::memcpy(&p[20], "XYZ ", 4);
  std::memcpy(&p[36], "acsp", 4);
  put32(68, 0x0000F6D6);  // D50
  put32(72, 0x00010000);
  put32(76, 0x0000D32D);
  put32(128, 1);
  std::memcpy(&p[132], "desc", 4);
  put32(136, 144);
  put32(140, 40);
  for (std::size_t i = 144; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(i * 13);
  return p;
}

// An EXIF block holding `before` other entries and then the orientation entry.
inline Bytes ExifBlock(bool little, std::uint16_t type, std::uint32_t count, std::uint32_t value,
                       int before = 1) {
  Bytes b;
  const auto put = [&](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
      b.push_back(static_cast<std::uint8_t>(v >> (8 * (little ? i : n - 1 - i))));
  };
  b.assign(2, static_cast<std::uint8_t>(little ? 'I' : 'M'));
  put(42, 2);
  put(8, 4);
  put(before + 1, 2);
  for (int i = 0; i < before; ++i) {
    put(0x010F, 2);  // maker, an ASCII entry
    put(2, 2);
    put(4, 4);
    put(0x41424300, 4);
  }
  put(0x0112, 2);
  put(type, 2);
  put(count, 4);
  if (type == 3) {
    put(value, 2);
    put(0, 2);
  } else {
    put(value, 4);
  }
  put(0, 4);
  return b;
}

}  // namespace tvq::testblocks
