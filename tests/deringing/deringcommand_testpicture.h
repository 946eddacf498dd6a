// Shared fixtures of the deringing pipeline tests: a small synthetic picture with
// sharp edges and ringing beside them, and a progress that records and can stop.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/imagefmt.h"
#include "imaging/progress.h"

namespace tvq::testing_dering {

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

// Records every ShowProgress call; StopRequested() answers true from poll number
// stopAfter + 1 on (never when stopAfter is negative).
class RecordingProgress : public Progress {
 public:
  explicit RecordingProgress(std::int64_t stopAfter = -1) : stopAfter_(stopAfter) {}
  void ShowProgress(const std::string& stage, std::int32_t position,
                    std::int32_t maximum) override {
    calls.emplace_back(stage, position, maximum);
  }
  bool StopRequested() override {
    ++polls;
    return stopAfter_ >= 0 && polls > stopAfter_;
  }
  std::vector<std::tuple<std::string, std::int32_t, std::int32_t>> calls;
  std::int64_t polls = 0;

 private:
  std::int64_t stopAfter_;
};

}  // namespace tvq::testing_dering
