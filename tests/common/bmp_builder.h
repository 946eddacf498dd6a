// Hand-built BMP files for tests: any header size, depth, compression, palette,
// masks and row order, or raw RLE codes in place of the rows.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tvq::bmptest {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Builds BMP files byte by byte. Rows are given top row first, unpadded; Build()
// pads them and stores them bottom-up (or top-down for a negative height).
struct BmpBuilder {
  std::uint32_t headerSize = 40;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint32_t planes = 1;
  std::uint32_t bits = 24;
  std::uint32_t compression = 0;
  std::uint32_t colorsUsed = 0;
  std::vector<std::uint32_t> palette;  // 3 bytes per entry with a core header
  std::vector<std::uint32_t> masks;    // in the header (52+) or after a 40-byte header
  std::vector<Bytes> rows;
  Bytes raw;  // used instead of rows when not empty (RLE codes)
  long offBitsDelta = 0;

  Bytes Build() const {
    Bytes b(14 + headerSize, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 14, headerSize);
    if (headerSize == 12) {
      Put16(b, 18, static_cast<std::uint32_t>(width));
      Put16(b, 20, static_cast<std::uint32_t>(height));
      Put16(b, 22, planes);
      Put16(b, 24, bits);
    } else {
      Put32(b, 18, static_cast<std::uint32_t>(width));
      Put32(b, 22, static_cast<std::uint32_t>(height));
      Put16(b, 26, planes);
      Put16(b, 28, bits);
      Put32(b, 30, compression);
      Put32(b, 46, colorsUsed);
      for (std::size_t i = 0; i < masks.size() && 40 + 4 * i + 4 <= headerSize; ++i)
        Put32(b, 14 + 40 + 4 * i, masks[i]);
    }
    if (headerSize == 40 && compression == 3)
      for (std::size_t i = 0; i < 3 && i < masks.size(); ++i) {
        b.resize(b.size() + 4);
        Put32(b, b.size() - 4, masks[i]);
      }
    for (std::uint32_t c : palette) {
      const std::size_t entry = headerSize == 12 ? 3 : 4;
      b.resize(b.size() + entry);
      for (std::size_t i = 0; i < entry; ++i)
        b[b.size() - entry + i] = static_cast<std::uint8_t>(c >> (8 * i));
    }
    Put32(b, 10, static_cast<std::uint32_t>(static_cast<long>(b.size()) + offBitsDelta));
    if (!raw.empty()) {
      b.insert(b.end(), raw.begin(), raw.end());
    } else {
      const std::size_t rowBytes =
          ((static_cast<std::size_t>(std::max(width, 0)) * bits + 31) / 32) * 4;
      for (std::size_t i = 0; i < rows.size(); ++i) {
        const Bytes& row = height < 0 ? rows[i] : rows[rows.size() - 1 - i];
        Bytes padded(row.begin(), row.begin() + std::min(row.size(), rowBytes));
        padded.resize(rowBytes, 0);
        b.insert(b.end(), padded.begin(), padded.end());
      }
    }
    Put32(b, 2, static_cast<std::uint32_t>(b.size()));
    return b;
  }
};

}  // namespace tvq::bmptest
