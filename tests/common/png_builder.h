// Hand-built PNG files for tests: chunks with their CRC and image data in stored
// (uncompressed) deflate blocks, so that a test can make any colour type, depth,
// palette, transparency or interlacing, and can re-seal a mutated file's chunks.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tvq::pngtest {

using Bytes = std::vector<std::uint8_t>;

inline std::uint32_t Crc32(const std::uint8_t* p, std::size_t n) {
  // A byte at a time through a table: chunks of tens of megabytes take milliseconds.
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t crc = i;
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
      t[i] = crc;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) crc = (crc >> 8) ^ table[(crc ^ p[i]) & 0xFFu];
  return ~crc;
}

inline void PutBig32(Bytes& out, std::uint32_t v) {
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

struct Chunk {
  std::string type;
  Bytes data;
};

inline void AppendChunk(Bytes& png, const Chunk& chunk) {
  PutBig32(png, static_cast<std::uint32_t>(chunk.data.size()));
  const std::size_t start = png.size();
  png.insert(png.end(), chunk.type.begin(), chunk.type.end());
  png.insert(png.end(), chunk.data.begin(), chunk.data.end());
  PutBig32(png, Crc32(png.data() + start, png.size() - start));
}

// Recomputes the CRC of every whole chunk, so that changed bytes reach the decoder.
inline void SealChunks(Bytes& png) {
  std::size_t at = 8;
  while (at + 12 <= png.size()) {
    const std::uint32_t length =
        (std::uint32_t{png[at]} << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
    if (length > png.size() - at - 12) break;
    const std::uint32_t crc = Crc32(png.data() + at + 4, 4 + length);
    for (int i = 0; i < 4; ++i)
      png[at + 8 + length + i] = static_cast<std::uint8_t>(crc >> (8 * (3 - i)));
    at += 12 + length;
  }
}

// The file with a chunk inserted before its first IDAT.
inline Bytes InsertBeforeImageData(const Bytes& png, const Chunk& chunk) {
  std::size_t at = 8;
  while (at + 8 <= png.size() && std::string(png.begin() + at + 4, png.begin() + at + 8) != "IDAT")
    at += 12 +
          ((std::size_t{png[at]} << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3]);
  Bytes before(png.begin(), png.begin() + at);
  AppendChunk(before, chunk);
  before.insert(before.end(), png.begin() + at, png.end());
  return before;
}

// A zlib stream of stored deflate blocks.
inline Bytes StoredZlib(const Bytes& raw) {
  Bytes z = {0x78, 0x01};
  std::size_t at = 0;
  do {
    const std::size_t n = std::min<std::size_t>(raw.size() - at, 65535);
    z.push_back(at + n == raw.size() ? 1 : 0);
    z.push_back(static_cast<std::uint8_t>(n));
    z.push_back(static_cast<std::uint8_t>(n >> 8));
    z.push_back(static_cast<std::uint8_t>(~n));
    z.push_back(static_cast<std::uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + at, raw.begin() + at + n);
    at += n;
  } while (at < raw.size());
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t v : raw) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  PutBig32(z, (b << 16) | a);
  return z;
}

// A PNG file: sample(x, y, c) gives the stored values (palette indexes for colour
// type 3) of `channels` samples per pixel at `depth` bits; rows use filter 0; Adam7
// passes when interlaced. `extra` chunks (PLTE, tRNS, iCCP, eXIf, ...) precede IDAT.
inline Bytes BuildPng(std::uint32_t width, std::uint32_t height, int depth, int colourType,
                      int channels, bool interlaced,
                      const std::function<std::uint32_t(std::uint32_t, std::uint32_t, int)>& sample,
                      const std::vector<Chunk>& extra = {}) {
  struct Pass {
    std::uint32_t x0, y0, dx, dy;
  };
  const std::vector<Pass> passes =
      interlaced ? std::vector<Pass>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                     {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
                 : std::vector<Pass>{{0, 0, 1, 1}};
  Bytes raw;
  for (const Pass& p : passes) {
    if (p.x0 >= width || p.y0 >= height) continue;
    for (std::uint32_t y = p.y0; y < height; y += p.dy) {
      raw.push_back(0);
      std::uint32_t bits = 0;
      int used = 0;
      for (std::uint32_t x = p.x0; x < width; x += p.dx)
        for (int c = 0; c < channels; ++c) {
          const std::uint32_t v = sample(x, y, c);
          if (depth == 16) {
            raw.push_back(static_cast<std::uint8_t>(v >> 8));
            raw.push_back(static_cast<std::uint8_t>(v));
            continue;
          }
          bits = (bits << depth) | v;
          used += depth;
          if (used == 8) {
            raw.push_back(static_cast<std::uint8_t>(bits));
            bits = 0;
            used = 0;
          }
        }
      if (used > 0) raw.push_back(static_cast<std::uint8_t>(bits << (8 - used)));
    }
  }
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes header;
  PutBig32(header, width);
  PutBig32(header, height);
  header.insert(header.end(),
                {static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(colourType), 0, 0,
                 static_cast<std::uint8_t>(interlaced ? 1 : 0)});
  AppendChunk(png, {"IHDR", header});
  for (const Chunk& chunk : extra) AppendChunk(png, chunk);
  AppendChunk(png, {"IDAT", StoredZlib(raw)});
  AppendChunk(png, {"IEND", {}});
  return png;
}

// An RGBA PNG that declares width x height pixels in its header while its image
// data are those of a 1 x 1 picture.
inline Bytes Declaring(std::uint32_t width, std::uint32_t height) {
  Bytes png = BuildPng(1, 1, 8, 6, 4, false, [](std::uint32_t, std::uint32_t, int) { return 7u; });
  for (int i = 0; i < 4; ++i) {
    png[16 + i] = static_cast<std::uint8_t>(width >> (8 * (3 - i)));
    png[20 + i] = static_cast<std::uint8_t>(height >> (8 * (3 - i)));
  }
  SealChunks(png);
  return png;
}

}  // namespace tvq::pngtest
