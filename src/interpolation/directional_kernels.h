// Vector row kernels of the directional upscaler (directional.cpp), dispatched to the
// best instruction set of the processor. Internal to the interpolation folder.
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
#pragma once

#include <cstddef>
#include <cstdint>

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
