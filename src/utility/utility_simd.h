// Vector kernels of the utility commands, compiled for every instruction set Highway
// supports and chosen at run time. Each computes, per element, exactly the IEEE operations
// of the plain loop in the same order, so results are bit-identical on every target.
#pragma once

#include <cstddef>
#include <cstdint>

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
