// Vector row kernels of the Lanczos-like and bilinear upscalers, dispatched to the
// best instruction set of the processor. Internal to the interpolation folder.
#pragma once

#include <cstddef>

namespace tvq::upscalesimd {

// out[i] = float(sum over t = 0..5, in order from 0.0, of double(taps[t]) * rows[t][i])
// for i in [0, n).
void SixTapRow(const float* const* rows, const float* taps, float* out, std::size_t n);

// For x in [0, n), with p00 = s0[x], p10 = s0[x + 1], p01 = s1[x], p11 = s1[x + 1]
// in double: d0[2x] = s0[x], d0[2x + 1] = float((p10 + p00) * 0.5),
// d1[2x] = float((p01 + p00) * 0.5), d1[2x + 1] = float((p11 + (p01 + (p10 + p00))) * 0.25).
void BilinearRows(const float* s0, const float* s1, float* d0, float* d1, std::size_t n);

}  // namespace tvq::upscalesimd
