// Vector kernels of the filters, compiled for every instruction set Highway supports and
// chosen at run time (SetSimdEnabled(false) selects the one-lane portable version).
// Each computes, per element, exactly the IEEE operations of the plain loop it replaces,
// in the same order, so results are bit-identical on every target.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvq::filtersimd {

// One tap of a single-precision running sum across a run of elements whose samples are
// already promoted to double: acc[i] = float(double(acc[i]) + src[i] * double(weight)).
void TapRun(float* acc, const double* src, std::size_t n, float weight);

// dst[i] = double(src[i]) for i < n.
void Promote(const float* src, double* dst, std::size_t n);

// The gradient magnitude: a[i] = float(sqrt(double(a[i])^2 + double(b[i])^2)) for i < n.
void Magnitude(float* a, const float* b, std::size_t n);

// Ridge tests of n samples: bit i of bits (64 to a word, lowest first) is set when
// m[i] >= before[i], m[i] >= after[i] and |m[i]| > 8. bits holds (n + 63) / 64 words; the
// bits past n are zero.
void RidgeBits(const float* before, const float* m, const float* after, std::size_t n,
               std::uint64_t* bits);

}  // namespace tvq::filtersimd
