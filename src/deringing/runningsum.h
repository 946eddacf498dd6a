// The float running sums of the deringing routines.
#pragma once

namespace tvq {

// One step of a float running sum: the addition is done in double and rounded once,
// so a sum of float terms keeps the plain loops' bits wherever it is written.
inline float Accumulate(float sum, double term) {
  return static_cast<float>(static_cast<double>(sum) + term);
}

}  // namespace tvq
