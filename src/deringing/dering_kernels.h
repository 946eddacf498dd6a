// The plain loop and the fast twin of LowResRangeClamp (dering.cpp, dering_fast.cpp);
// internal to the folder.
#pragma once

#include <algorithm>
#include <initializer_list>

#include "imaging/imagefmt.h"

namespace tvq {

// Clamps *value into [lo, hi] of the given reference samples.
inline void ClampInto(float* value, std::initializer_list<float> samples) {
  const auto [lo, hi] = std::minmax(samples);
  if (*value < lo) *value = lo;
  if (*value > hi) *value = hi;
}

// LowResRangeClamp after its size checks: the plain loop through the clamped accessor,
// and the rows on all threads.
void LowResRangeClampPlain(TImageF& enlarged, const TImageF& reference);
void LowResRangeClampFast(TImageF& enlarged, const TImageF& reference);

}  // namespace tvq
