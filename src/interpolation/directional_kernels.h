// Internal to the interpolation folder: the per-pixel estimates that the plain loops of
// the directional upscaler (directional.cpp) and their threaded twins
// (directional_fast.cpp) share, the two versions of each step, and the vector row kernels
// of the fast ones (directional_simd.cpp), dispatched to the best instruction set of the
// processor.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imaging/imagefmt.h"
#include "imaging/progress.h"
#include "interpolation/directional.h"

namespace tvq::directional {

// Weights of the four diagonal neighbours TL, TR, BL, BR by the index (0-based)
// of the largest luminance difference.
inline constexpr double kDiagonalWeights[6][4] = {
    {0.05, 0.45, 0.45, 0.05}, {0.45, 0.05, 0.05, 0.45}, {0.15, 0.35, 0.35, 0.15},
    {0.35, 0.15, 0.15, 0.35}, {0.15, 0.35, 0.35, 0.15}, {0.35, 0.15, 0.15, 0.35}};

inline void Store(std::uint8_t* target, const PixelC4& value) {
  for (int k = 0; k < 4; ++k) target[k] = value[k];
}

// Source pixel with its luminance byte.
inline void PlaceWithLuminance(const std::uint8_t* s, std::uint8_t* d) {
  const std::uint32_t packed =
      static_cast<std::uint32_t>(s[0]) | static_cast<std::uint32_t>(s[1]) << 8 |
      static_cast<std::uint32_t>(s[2]) << 16 | static_cast<std::uint32_t>(s[3]) << 24;
  d[0] = s[0];
  d[1] = s[1];
  d[2] = s[2];
  d[3] = ClampToByte(static_cast<float>(ColorToGrey(packed)));
}

// Diagonal estimate of pixel (x, y); at(dx, dy) is the (clamped) pixel dx, dy away.
template <typename At>
inline PixelC4 DiagonalEstimate(At at) {
  const double inverseSqrt2 = 1.0 / std::sqrt(2.0);
  const double inverseSqrt10 = 1.0 / std::sqrt(10.0);
  const auto L = [&at](std::int32_t dx, std::int32_t dy) {
    return static_cast<std::int32_t>(at(dx, dy)[3]);
  };
  const double differences[6] = {std::fabs((L(-1, -1) - L(1, 1)) * inverseSqrt2),
                                 std::fabs((L(-1, 1) - L(1, -1)) * inverseSqrt2),
                                 std::fabs((L(-1, -3) - L(1, 3)) * inverseSqrt10),
                                 std::fabs((L(1, -3) - L(-1, 3)) * inverseSqrt10),
                                 std::fabs((L(-3, -1) - L(3, 1)) * inverseSqrt10),
                                 std::fabs((L(3, -1) - L(-3, 1)) * inverseSqrt10)};
  int chosen = 0;
  double largest = -1.0;
  for (int d = 0; d < 6; ++d) {
    if (differences[d] > largest) {
      largest = differences[d];
      chosen = d;
    }
  }
  const double* weight = kDiagonalWeights[chosen];
  return WeightedSumC4(at(-1, -1), weight[0], at(1, -1), weight[1], at(-1, 1), weight[2], at(1, 1),
                       weight[3]);
}

// Axis estimate of pixel (x, y) with x + y odd; at(dx, dy) as above.
template <typename At>
inline PixelC4 AxisEstimate(At at) {
  const std::int32_t dh =
      std::abs(static_cast<std::int32_t>(at(-1, 0)[3]) - static_cast<std::int32_t>(at(1, 0)[3]));
  const std::int32_t dv =
      std::abs(static_cast<std::int32_t>(at(0, -1)[3]) - static_cast<std::int32_t>(at(0, 1)[3]));
  if (dv > dh) return AverageC4(at(1, 0), at(-1, 0));
  return AverageC4(at(0, 1), at(0, -1));
}

}  // namespace tvq::directional

namespace tvq {

// The steps of the directional upscaler (directional.h), each as plain loops and as
// their threaded twin: the placement of the source pixels, the diagonal fill after the
// placement (destination twice the source), and the axis fill.
void PlaceSourceWithLuminancePlain(const TImageC4& src, TImageC4& dst);
void PlaceSourceWithLuminanceFast(const TImageC4& src, TImageC4& dst);
void DirectionalDiagonalFillPlain(const TImageC4& src, TImageC4& dst, const StopFlag* stop);
void DirectionalDiagonalFillFast(const TImageC4& src, TImageC4& dst, const StopFlag* stop);
void DirectionalAxisFillPlain(TImageC4& img, const StopFlag* stop);
void DirectionalAxisFillFast(TImageC4& img, const StopFlag* stop);

}  // namespace tvq

// The vector row kernels.
//
// Pixels are four bytes; the kernels read a destination row as pairs of pixels
// (2q, 2q + 1), pair q at byte 8q, and replace one pixel of each pair they write,
// rewriting the other with its own value, so a caller must own the whole row.
// Each returns the end of the range it processed (whole vectors only); the caller
// computes the rest one pixel at a time.
//
// Measured on a 512 x 512 source, one thread (bench_interpolation, CPU time): plain
// loops 12.5 ms, the same per-pixel code through row pointers 10.0 ms, these kernels
// 2.3 ms.
namespace tvq::directionalsimd {

// Source pixels x in [0, n) of one row to destination pixels 2x of row `dst`, with
// the luminance byte in byte 3.
std::size_t PlaceRow(const std::uint8_t* src, std::uint8_t* dst, std::size_t n);

// Diagonal estimates of pixels x = 2j - 1, j in [begin, end), of the odd row `row`
// from rows[0..6] = rows y - 3 .. y + 3 (clamped); needs begin >= 2 and the pairs up
// to end + 1 present in every row.
std::size_t DiagonalRow(const std::uint8_t* const* rows, std::uint8_t* row, std::size_t begin,
                        std::size_t end);

// Axis estimates in row `row` with neighbour rows `up` and `down` (clamped): for an
// even row (oddPixels) pixels 2p + 1 for p in [begin, end), end + 1 pairs present;
// for an odd row pixels 2p, begin >= 1.
std::size_t AxisRow(const std::uint8_t* up, std::uint8_t* row, const std::uint8_t* down,
                    bool oddPixels, std::size_t begin, std::size_t end);

}  // namespace tvq::directionalsimd
