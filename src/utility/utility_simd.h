// Vector kernels of the utility commands, compiled for every instruction set Highway
// supports and chosen at run time. Each computes, per element, exactly the IEEE operations
// of the plain loop in the same order, so results are bit-identical on every target.
#pragma once

#include <cstddef>

namespace tvq::utilitysimd {

// out[i] = double(d) * double(d) with d = float(double(a[i]) - double(b[i])), for i < n.
void SquaredDifferences(const float* a, const float* b, double* out, std::size_t n);

}  // namespace tvq::utilitysimd
