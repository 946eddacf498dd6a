// Internal to the interpolation folder: what the plain loops of the gradient-directed
// upscaler (gradient.cpp) and their threaded twins (gradient_fast.cpp) share, and the
// vector kernels of the fast ones (gradient_simd.cpp), dispatched to the best instruction
// set of the processor.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/progress.h"
#include "interpolation/gradient.h"

namespace tvq::gradient {

// Two samples whose absolute difference enters a gradient sum, as (row, column)
// offsets from the sample being estimated.
struct Pair {
  int r1, c1, r2, c2;
};

// Direction order everywhere below: horizontal, vertical, down-right diagonal,
// down-left diagonal, steep down-left, shallow down-left, shallow down-right,
// steep down-right.
enum Direction { kH, kV, kD, kA, kSA, kHA, kHD, kSD, kDirections };

// Diagonal pass, grey form.
inline constexpr Pair kGreyH[] = {{-1, -1, -1, 1}, {-1, -3, -1, -1}, {-1, 1, -1, 3},
                                  {1, -1, 1, 1},   {1, -3, 1, -1},   {1, 1, 1, 3}};
inline constexpr Pair kGreyV[] = {{-1, -1, 1, -1}, {-3, -1, -1, -1}, {1, -1, 3, -1},
                                  {-1, 1, 1, 1},   {-3, 1, -1, 1},   {1, 1, 3, 1}};
inline constexpr Pair kGreyD[] = {{-1, -1, 1, 1}, {-3, -3, -1, -1}, {1, 1, 3, 3},  {-3, -1, -1, 1},
                                  {-1, 1, 1, 3},  {-1, -3, 1, -1},  {1, -1, 3, 1}, {-1, -1, 0, 0},
                                  {0, 0, 1, 1},   {0, -1, 1, 0},    {-1, 0, 0, 1}};
inline constexpr Pair kGreyA[] = {{1, -1, -1, 1},  {3, -3, 1, -1}, {-1, 1, -3, 3}, {1, -3, -1, -1},
                                  {-1, -1, -3, 1}, {3, -1, 1, 1},  {1, 1, -1, 3},  {1, -1, 0, 0},
                                  {0, 0, -1, 1},   {0, -1, -1, 0}, {1, 0, 0, 1}};
inline constexpr Pair kGreySA[] = {{3, -3, -1, -1}, {1, -1, -3, 1}, {3, -1, -1, 1}, {1, 1, -3, 3},
                                   {1, -1, -1, 0},  {2, -1, 0, 0},  {0, 0, -2, 1},  {1, 0, -1, 1}};
inline constexpr Pair kGreyHA[] = {{-1, -1, -3, 3}, {1, -3, -1, 1}, {1, -1, -1, 3}, {3, -3, 1, 1},
                                   {0, -1, -1, 1},  {1, -2, 0, 0},  {0, 0, -1, 2},  {1, -1, 0, 1}};
inline constexpr Pair kGreyHD[] = {{-3, -3, -1, 1}, {-1, -3, 1, 1}, {-1, -1, 1, 3}, {1, -1, 3, 3},
                                   {-1, -1, 0, 1},  {-1, -2, 0, 0}, {0, 0, 1, 2},   {0, -1, 1, 1}};
inline constexpr Pair kGreySD[] = {{-3, -3, 1, -1}, {-3, -1, 1, 1}, {-1, -1, 3, 1}, {-1, 1, 3, 3},
                                   {-1, -1, 1, 0},  {-2, -1, 0, 0}, {0, 0, 2, 1},   {-1, 0, 1, 1}};

// Diagonal pass, colour form: D and A extend the grey pairs by four each.
inline constexpr Pair kColourD[] = {
    {-1, -1, 1, 1},  {-3, -3, -1, -1}, {1, 1, 3, 3},    {-3, -1, -1, 1}, {-1, 1, 1, 3},
    {-1, -3, 1, -1}, {1, -1, 3, 1},    {-1, -1, 0, 0},  {0, 0, 1, 1},    {0, -1, 1, 0},
    {-1, 0, 0, 1},   {-2, -1, -1, 0},  {-1, -2, 0, -1}, {1, 0, 2, 1},    {0, 1, 1, 2}};
inline constexpr Pair kColourA[] = {
    {1, -1, -1, 1}, {3, -3, 1, -1}, {-1, 1, -3, 3}, {1, -3, -1, -1}, {-1, -1, -3, 1},
    {3, -1, 1, 1},  {1, 1, -1, 3},  {1, -1, 0, 0},  {0, 0, -1, 1},   {0, -1, -1, 0},
    {1, 0, 0, 1},   {-1, 0, -2, 1}, {0, 1, -1, 2},  {1, -2, 0, -1},  {2, -1, 1, 0}};
inline constexpr Pair kColourSA[] = {{3, -3, -1, -1}, {1, -1, -3, 1}, {3, -1, -1, 1}, {1, 1, -3, 3},
                                     {1, -1, -2, 0},  {2, -1, -1, 0}, {0, 0, -3, 1},  {1, 0, -2, 1},
                                     {3, -1, 0, 0},   {2, 0, -1, 1}};
inline constexpr Pair kColourHA[] = {{-1, -1, -3, 3}, {1, -3, -1, 1}, {1, -1, -1, 3}, {3, -3, 1, 1},
                                     {0, -1, -1, 2},  {1, -2, 0, 1},  {0, 0, -1, 3},  {1, -1, 0, 2},
                                     {1, -3, 0, 0},   {0, -2, -1, 1}};
inline constexpr Pair kColourHD[] = {{-3, -3, -1, 1}, {-1, -3, 1, 1}, {-1, -1, 1, 3}, {1, -1, 3, 3},
                                     {-1, -1, 0, 2},  {-1, -2, 0, 1}, {0, 0, 1, 3},   {0, -1, 1, 2},
                                     {-1, -3, 0, 0},  {0, -2, 1, 1}};
inline constexpr Pair kColourSD[] = {{-3, -3, 1, -1}, {-3, -1, 1, 1}, {-1, -1, 3, 1}, {-1, 1, 3, 3},
                                     {-1, -1, 2, 0},  {-2, -1, 1, 0}, {0, 0, 3, 1},   {-1, 0, 2, 1},
                                     {-3, -1, 0, 0},  {-2, 0, 1, 1}};

// Axis pass, both forms.
inline constexpr Pair kAxisH[] = {{0, -1, 0, 1},  {0, -3, 0, -1}, {0, 1, 0, 3}, {-1, -2, -1, 0},
                                  {-1, 0, -1, 2}, {1, -2, 1, 0},  {1, 0, 1, 2}};
inline constexpr Pair kAxisV[] = {{-1, 0, 1, 0},  {-3, 0, -1, 0}, {1, 0, 3, 0}, {-2, -1, 0, -1},
                                  {0, -1, 2, -1}, {-2, 1, 0, 1},  {0, 1, 2, 1}};

template <std::size_t N>
std::vector<Pair> ToVector(const Pair (&pairs)[N]) {
  return std::vector<Pair>(pairs, pairs + N);
}

// The data that tells the grey and the colour form apart.
struct Stencil {
  std::array<std::vector<Pair>, kDirections> diagonal;
  std::array<double, kDirections> scale;
  std::ptrdiff_t diagonalFrame;  // first and (from the far border) last row/column visited
  int rounds;
};

// The grey (one plane) and the colour (three planes, shared weights) stencil.
Stencil GreyStencil();
Stencil ColourStencil();

// Throws EZorException ecBadSize, naming `routine`, unless f is 2 and the source is at
// least 2 x 2.
void CheckDomain(std::uint64_t w, std::uint64_t h, std::uint64_t f, const char* routine);

// The rows of HalfSampleUpsample: even destination row 2i (placement of source row i and
// the horizontal pass), and odd destination row r from the completed even rows.
void HalfSampleEvenRow(const float* src, std::ptrdiff_t sw, float* dst, std::ptrdiff_t i);
void HalfSampleOddRow(float* dst, std::ptrdiff_t sw, std::ptrdiff_t sh, std::ptrdiff_t r);

// The plain loops of HalfSampleUpsample (w, h and f already checked).
float* HalfSampleUpsamplePlain(const float* src, std::uint32_t w, std::uint32_t h, float* dst);

// The plain enlargement of kPlanes planes (1 or 3) by the stencil: the half-sample
// upsampling, then the stencil's rounds of the diagonal and the axis pass, each over
// whole planes in memory order.
template <int kPlanes>
void GradientUpscaleCorePlain(const Stencil& stencil, const std::array<const float*, kPlanes>& src,
                              std::uint32_t w, std::uint32_t h,
                              const std::array<float*, kPlanes>& dst, std::uint32_t f,
                              const char* routine, const StopFlag* stop);

}  // namespace tvq::gradient

// The vector kernels.
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
