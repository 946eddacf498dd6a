// Internal to the interpolation folder: the two versions of the bilinear enlarger that
// BilinearUpscale chooses between (bilinear.cpp, bilinear_fast.cpp), and the vector row
// kernel of the fast one (bilinear_simd.cpp), dispatched to the best instruction set of
// the processor.
#pragma once

#include <cstddef>

#include "imaging/imagefmt.h"
#include "imaging/progress.h"

namespace tvq {

// The enlargement of BilinearUpscale (bilinear.h) for a destination twice the non-empty
// source: the plain loops (column by column), and source rows in parallel with the
// columns in vector lanes.
void BilinearUpscalePlain(const TImageF& src, TImageF& dst, const StopFlag* stop);
void BilinearUpscaleFast(const TImageF& src, TImageF& dst, const StopFlag* stop);

}  // namespace tvq

namespace tvq::bilinearsimd {

// For x in [0, n), with p00 = s0[x], p10 = s0[x + 1], p01 = s1[x], p11 = s1[x + 1]
// in double: d0[2x] = s0[x], d0[2x + 1] = float((p10 + p00) * 0.5),
// d1[2x] = float((p01 + p00) * 0.5), d1[2x + 1] = float((p11 + (p01 + (p10 + p00))) * 0.25).
void BilinearRows(const float* s0, const float* s1, float* d0, float* d1, std::size_t n);

}  // namespace tvq::bilinearsimd
