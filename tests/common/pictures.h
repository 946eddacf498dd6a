// Synthetic pictures the tests share: file pictures drawn from a formula, the small
// picture of the end-to-end resampling test and the ringing picture of the deringing
// pipeline tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/imagefmt.h"
#include "imaging/io/picture.h"

namespace tvq::test {

// A file picture whose sample (x, y, c) is value(x, y, c), asked for in the order the
// samples are stored.
inline Picture MakePicture(std::int32_t width, std::int32_t height, std::int32_t channels,
                           std::int32_t bits, const std::function<float(int, int, int)>& value) {
  Picture p;
  p.width = width;
  p.height = height;
  p.channels = channels;
  p.bitsPerChannel = bits;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) p.samples.push_back(value(x, y, c));
  return p;
}

// A 24-bit or 32-bit picture filled with one colour (blue, green, red).
inline Bitmap SolidPicture(int width, int height, int bits, std::uint8_t b, std::uint8_t g,
                           std::uint8_t r) {
  Bitmap bitmap(width, height, bits);
  const int bytes = bits / 8;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      row[x * bytes] = b;
      row[x * bytes + 1] = g;
      row[x * bytes + 2] = r;
    }
  }
  return bitmap;
}

// 16 x 12, 24 bits: a soft colour gradient crossed by sharp strokes (a dark
// vertical bar, a bright diagonal line and a saturated red horizontal bar).
inline Bitmap GoldenPicture() {
  constexpr std::int32_t kWidth = 16, kHeight = 12;
  Bitmap picture(kWidth, kHeight, 24);
  for (std::int32_t y = 0; y < kHeight; ++y)
    for (std::int32_t x = 0; x < kWidth; ++x) {
      std::int32_t b = 60 + 6 * x, g = 90 + 8 * y, r = 120 + 3 * x - 2 * y;
      if (x == 4 || x == 5) b = g = r = 15;
      if (x - y == 3 || x - y == 4) b = g = r = 245;
      if (y == 8 && x >= 7) {
        b = 10;
        g = 20;
        r = 250;
      }
      std::uint8_t* p = picture.ScanLine(y) + 3 * x;
      p[0] = static_cast<std::uint8_t>(b);
      p[1] = static_cast<std::uint8_t>(g);
      p[2] = static_cast<std::uint8_t>(r);
    }
  return picture;
}

inline std::uint8_t ToByte(int v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Distance of v from the nearest border of the run lo..hi: 1 for the samples just
// inside and just outside it.
inline int EdgeDistance(int v, int lo, int hi) {
  if (v < lo) return lo - v;
  if (v > hi) return v - hi;
  return std::min(v - lo + 1, hi - v + 1);
}

// 40 x 32, 24 bits: a light background, a dark rectangle (columns 8..23, rows
// 6..19) and a red block (columns 26..35, rows 14..27). Beside the vertical and
// horizontal edges of the dark rectangle the values oscillate with an amplitude
// falling off with the distance, as an enlargement with a sharp filter leaves them.
inline Bitmap RingingPicture() {
  constexpr int kW = 40;
  constexpr int kH = 32;
  Bitmap bmp(kW, kH, 24);
  for (int y = 0; y < kH; ++y) {
    std::uint8_t* row = bmp.ScanLine(y);
    for (int x = 0; x < kW; ++x) {
      int b = 200, g = 190, r = 170;
      const bool inRect = x >= 8 && x <= 23 && y >= 6 && y <= 19;
      if (inRect) b = 30, g = 40, r = 60;
      if (x >= 26 && x <= 35 && y >= 14 && y <= 27) b = 40, g = 60, r = 220;
      // Distance to the nearest vertical / horizontal edge of the dark rectangle.
      const int dx = EdgeDistance(x, 8, 23);
      const int dy = EdgeDistance(y, 6, 19);
      int ring = 0;
      if (y >= 4 && y <= 21 && dx >= 1 && dx <= 3) ring += (dx % 2 == 0 ? 24 : -24) / dx;
      if (x >= 6 && x <= 25 && dy >= 1 && dy <= 3) ring += (dy % 2 == 0 ? 24 : -24) / dy;
      if (!inRect) ring = -ring;
      row[3 * x + 0] = ToByte(b + ring);
      row[3 * x + 1] = ToByte(g + ring);
      row[3 * x + 2] = ToByte(r + ring);
    }
  }
  return bmp;
}

}  // namespace tvq::test
