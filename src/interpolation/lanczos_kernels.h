// Internal to the interpolation folder: the two versions of the Lanczos-like enlarger that
// LanczosUpscale chooses between (lanczos.cpp, lanczos_fast.cpp), the taps they share, and
// the vector row kernel of the fast one (lanczos_simd.cpp), dispatched to the best
// instruction set of the processor.
#pragma once

#include <cstddef>

#include "imaging/imagefmt.h"
#include "imaging/progress.h"

namespace tvq {

// Taps for the six samples around a half-sample position, from two before the
// left (upper) neighbour to three after it.
inline constexpr float kLanczosTaps[6] = {0.124f, -0.235f, 0.611f, 0.611f, -0.235f, 0.124f};

// The enlargement of LanczosUpscale (lanczos.h) for a destination twice the non-empty
// source: the plain loops (column by column), and rows in parallel with the six-tap sums
// in vector lanes.
void LanczosUpscalePlain(const TImageF& src, TImageF& dst, const StopFlag* stop);
void LanczosUpscaleFast(const TImageF& src, TImageF& dst, const StopFlag* stop);

}  // namespace tvq

namespace tvq::lanczossimd {

// out[i] = float(sum over t = 0..5, in order from 0.0, of double(taps[t]) * rows[t][i])
// for i in [0, n).
void SixTapRow(const float* const* rows, const float* taps, float* out, std::size_t n);

}  // namespace tvq::lanczossimd
