// The small synthetic picture of the end-to-end resampling test and of its
// reference generator.
#pragma once

#include <cstdint>

#include "imaging/bitmap.h"

namespace tvq::testing {

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

}  // namespace tvq::testing
