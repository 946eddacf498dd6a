// Directional two-times upscaler for four-byte pixels (see interpolation.h for
// the shared rules). Byte 3 of every destination source sample holds the pixel's
// luminance byte, which decides the interpolation direction of each new pixel.
//
// Order: no loop depends on the order of its pixels. The diagonal fill reads placed
// source pixels and, through the clamped reads at the last row and column, pixels it
// never writes; the axis fill reads pixels with x + y even, or the pixel itself
// before writing it. Rows run in parallel (the axis fill's even rows before its odd
// rows, since its vector kernel rewrites whole rows) and pixels in vector lanes.
#pragma once

#include <array>
#include <cstdint>

#include "imaging/imagefmt.h"
#include "imaging/progress.h"

namespace tvq {

using PixelC4 = std::array<std::uint8_t, 4>;

// Per byte: (p_k + q_k) >> 1.
PixelC4 AverageC4(const std::uint8_t* p, const std::uint8_t* q);
// Per byte: p1_k w1 + p2_k w2 + p3_k w3 + p4_k w4 in double, rounded to float,
// then ClampToByte.
PixelC4 WeightedSumC4(const std::uint8_t* p1, double w1, const std::uint8_t* p2, double w2,
                      const std::uint8_t* p3, double w3, const std::uint8_t* p4, double w4);

// Copies source pixel (x, y) to destination (2x, 2y) with its luminance (rounded
// grey level) in the fourth byte, which the four-byte enlargers steer by.
void PlaceSourceWithLuminance(const TImageC4& src, TImageC4& dst);

// Places the source pixels (byte 3 = luminance byte) at (2x, 2y) and fills the
// diagonal positions (2j - 1, 2i - 1), i, j >= 1, from the four diagonal
// neighbours, giving the smaller weights to the pair across which the luminance
// changes most. The diagonal positions of the last column and row keep the
// destination's prior content. Destination not twice the source: returns
// untouched. The source is not changed.
//
// The fills below that take `stop` poll it before every row and throw
// OperationStopped once it is set, leaving the destination incomplete.
void DirectionalDiagonalFill(const TImageC4& src, TImageC4& dst, const StopFlag* stop = nullptr);

// In place, row by row: every pixel with x + y odd becomes the truncating
// average of its horizontal neighbours when the vertical luminance difference is
// larger, else of its vertical neighbours.
void DirectionalAxisFill(TImageC4& img, const StopFlag* stop = nullptr);

// DirectionalDiagonalFill, then DirectionalAxisFill; destination not twice the
// source: returns untouched.
void DirectionalUpscaleC4(const TImageC4& src, TImageC4& dst);
void DirectionalUpscaleC4(const TImageC4& src, TImageC4& dst, const StopFlag* stop);

}  // namespace tvq
