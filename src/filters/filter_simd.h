// Vector kernels of the filters, compiled for every instruction set Highway supports and
// chosen at run time (SetSimdEnabled(false) selects the one-lane portable version).
// Each computes, per element, exactly the IEEE operations of the plain loop it replaces,
// in the same order, so results are bit-identical on every target.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvq::filtersimd {

// One tap of a single-precision running sum across a run of elements:
// acc[i] = float(double(acc[i]) + double(src[i]) * double(weight)) for i < n.
void TapRun(float* acc, const float* src, std::size_t n, float weight);

// The gradient magnitude: a[i] = float(sqrt(double(a[i])^2 + double(b[i])^2)) for i < n.
void Magnitude(float* a, const float* b, std::size_t n);

}  // namespace tvq::filtersimd
