// Internal to src/utility: what the plain loops of the utility commands (utility.cpp),
// their threaded twins (utility_fast.cpp) and the vector kernels (utility_simd.cpp)
// share. The public entry points (utility_fast.cpp) run the plain or the fast routine of
// each pair as ReferenceKernels() says.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/imagefmt.h"
#include "imaging/source.h"
#include "utility/utility.h"

namespace tvq::utility {

// The picture read in the format of Image.
template <typename Image>
Image Read(const PictureSource& picture) {
  Image image;
  picture.Read(Image::kFormat, image);
  return image;
}

inline std::int64_t PixelCount(const TImageBase& image) {
  return static_cast<std::int64_t>(image.Width()) * static_cast<std::int64_t>(image.Height());
}

// Sum over x (outer) and y (inner) of float(a - b)^2 in double, for two planes of one
// size: the plain loop (utility.cpp) and its fast twin (utility_fast.cpp).
double SquaredDifferencePlain(const TImageF& a, const TImageF& b);
double SquaredDifferenceFast(const TImageF& a, const TImageF& b);

// Adds the noise of deviation 5 to every pixel of the plane, x outer, y inner, drawing
// from `generator`, which is left where the plain loop leaves it.
void AddNoisePlain(TImageF& image, NoiseGenerator& generator);
void AddNoiseFast(TImageF& image, NoiseGenerator& generator);

// The w2 x h2 pixels (2x, 2y) of the picture smoothed by GaussSmooth (sigma 1, radius 4).
TImageF4 HalvedPlain(const TImageF4& source, std::int32_t w2, std::int32_t h2);
TImageF4 HalvedFast(const TImageF4& source, std::int32_t w2, std::int32_t h2);

}  // namespace tvq::utility

// Vector kernels of the utility commands (utility_simd.cpp), compiled for every
// instruction set Highway supports and chosen at run time. Each computes, per element,
// exactly the IEEE operations of the plain loop in the same order, so results are
// bit-identical on every target.
namespace tvq::utilitysimd {

// out[i] = double(d) * double(d) with d = float(double(a[i]) - double(b[i])), for i < n.
void SquaredDifferences(const float* a, const float* b, double* out, std::size_t n);

// The noise generator: state = state * 134775813 + 1 (mod 2^32), draw = state / 2^32.
// Runs `count` attempts of the polar method from the generator state `state` (attempt j
// takes draws 2j + 1 and 2j + 2 after it: u = 2 * draw - 1, s = u1 * u1 + u2 * u2) and
// writes (u1, s) of the accepted ones (0 < s < 1), in order, to u1 and s, which hold
// `count` entries. Returns how many were accepted.
std::size_t AcceptedAttempts(std::uint32_t state, std::size_t count, double* u1, double* s);

// out[i] = mean + deviation * u1[i] * sqrt(-2 * logS[i] / s[i]) for i < n, with
// logS[i] = std::log(s[i]) computed by the caller (a vector logarithm would not round
// like std::log).
void PolarVariates(const double* u1, const double* s, const double* logS, std::size_t n,
                   double mean, double deviation, double* out);

}  // namespace tvq::utilitysimd
