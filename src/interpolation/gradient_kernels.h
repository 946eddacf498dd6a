// Vector kernels of the gradient-directed upscaler (gradient.cpp), dispatched to the
// best instruction set of the processor. Internal to the interpolation folder.
//
// The passes work on "split" planes: every row of a W-wide plane is stored as its W/2
// even-column samples followed by its W/2 odd-column samples, so that the samples one
// pass estimates (every other column) and each of their neighbours lie at consecutive
// addresses. Every estimate reads only the input planes and writes only its own sample
// of the output planes, so spans of one pass are independent of each other.
//
// The kernels read float samples and promote them on every read. Reading rows promoted
// to double once per chunk instead was slower: 22 ms against 17.6 ms grey, 109-119 ms
// against 84-88 ms colour (512 x 512 source, one thread, CPU time).
#pragma once

#include <cstddef>

namespace tvq::gradientsimd {

// Most pairs of one direction (the colour form's diagonal directions have 15).
constexpr int kMaxPairs = 15;

// Element offsets, relative to the estimated sample in a split plane, of the samples
// the diagonal pass reads.
struct DiagonalOffsets {
  int count[8] = {};                    // pairs per direction
  std::ptrdiff_t a[8][kMaxPairs] = {};  // first sample of each pair
  std::ptrdiff_t b[8][kMaxPairs] = {};  // second sample
  double scale[8] = {};                 // numerator of each direction's weight
  std::ptrdiff_t interp[6][2] = {};     // interpolation pairs of D, A, SA, HA, HD, SD
  std::ptrdiff_t corner[4] = {};        // nw, se, sw, ne
};

// The same for the axis pass: horizontal and vertical gradient pairs and the four
// axis neighbours (left, right, up, down).
struct AxisOffsets {
  std::ptrdiff_t hA[7] = {}, hB[7] = {};
  std::ptrdiff_t vA[7] = {}, vB[7] = {};
  std::ptrdiff_t left = 0, right = 0, up = 0, down = 0;
};

// Re-estimates `count` consecutive samples of the split planes in[0..planes), from
// element inStart on, and writes the estimates to out[0..planes) from element outStart
// on. planes is 1 (grey) or 3 (colour, shared weights).
void DiagonalSpan(int planes, const float* const* in, std::ptrdiff_t inStart, float* const* out,
                  std::ptrdiff_t outStart, std::ptrdiff_t count, const DiagonalOffsets& offsets);
void AxisSpan(int planes, const float* const* in, std::ptrdiff_t inStart, float* const* out,
              std::ptrdiff_t outStart, std::ptrdiff_t count, const AxisOffsets& offsets);

// The weight evaluations the passes use, over arrays (n elements):
// out[i] = float(std::pow(x[i], 8.0)) and out[i] = float(1.0 / std::pow(t[i], 4.0)),
// bit for bit.
void FloatPow8(const double* x, float* out, std::size_t n);
void FloatInversePow4(const double* t, float* out, std::size_t n);

}  // namespace tvq::gradientsimd
