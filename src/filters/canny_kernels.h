// Internal to the filters folder: the two versions of the edge map that CannyEdgeMap
// chooses between (canny.cpp, canny_fast.cpp) and the vector row kernels of the fast one
// (canny_simd.cpp), compiled for every instruction set Highway supports and chosen at run
// time (SetSimdEnabled(false) selects the one-lane portable version). Each row kernel
// computes, per element, exactly the IEEE operations of the plain loop it replaces, in the
// same order, so results are bit-identical on every target.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/imagefmt.h"
#include "imaging/progress.h"

namespace tvq {

// The edge map of CannyEdgeMap (canny.h) for a checked sigma and its derivative radius:
// the plain single-thread steps, and the same steps on parallel chunks (polling `stop`
// between the stages).
void CannyEdgeMapPlain(TImageC4& src, TImageB& dst, double sigma, std::int32_t radius);
void CannyEdgeMapFast(TImageC4& src, TImageB& dst, double sigma, std::int32_t radius,
                      const StopFlag* stop);

}  // namespace tvq

namespace tvq::cannysimd {

// The gradient magnitude: a[i] = float(sqrt(double(a[i])^2 + double(b[i])^2)) for i < n.
void Magnitude(float* a, const float* b, std::size_t n);

// Ridge tests of n samples: bit i of bits (64 to a word, lowest first) is set when
// m[i] >= before[i], m[i] >= after[i] and |m[i]| > 8. bits holds (n + 63) / 64 words; the
// bits past n are zero.
void RidgeBits(const float* before, const float* m, const float* after, std::size_t n,
               std::uint64_t* bits);

}  // namespace tvq::cannysimd
