// The fast twins of the line kernel (tvqline.h), internal to the folder: the one-line
// kernel with shorter dependency chains (tvqline_fast.cpp) and the batch of lines in
// SIMD lanes (tvqline_simd.cpp). Both give exactly the bits of the plain kernel.
#pragma once

#include <cstdint>
#include <vector>

#include "deringing/runningsum.h"
#include "deringing/tvqline.h"

namespace tvq {

// The weight gamma of the current line u against the step vertex (`step` on samples
// 0 .. k-1, 0 after): b / a of the running sums a = |u - s|^2 and b = (f - s - c).(u - s),
// clamped into [0, 1]. False when a is 0, which ends the fit. Shared by the plain and
// the chained kernel.
inline bool BlendWeight(const float* f, const float* u, float c, std::int32_t n, std::int32_t k,
                        float step, double& keep) {
  float a = 0.0f;
  float b = 0.0f;
  for (std::int32_t j = 0; j < n; ++j) {
    const double s = j < k ? step : 0.0f;
    const double us = static_cast<double>(u[j]) - s;
    a = Accumulate(a, us * us);
    b = Accumulate(b, (static_cast<double>(f[j]) - s - c) * us);
  }
  if (a == 0.0f) return false;
  float gamma = static_cast<float>(static_cast<double>(b) / static_cast<double>(a));
  if (gamma > 1.0f) gamma = 1.0f;
  if (gamma < 0.0f) gamma = 0.0f;
  keep = gamma;
  return true;
}

// TvqLineRefit and TvqLineFixed with the same bits and shorter dependency chains,
// for fits that must run one after another ("Source" chains).
void TvqLineChainedRefit(const float* f, float* u, float T, std::int32_t n, std::int32_t iterations,
                         float start);
void TvqLineChainedFixed(const float* f, float* u, float T, std::int32_t n, std::int32_t iterations,
                         float start);

// Fits `count` independent lines of n samples: line i is f[i * n ..] with budget
// T[i], its fit goes to u[i * n ..] (with a negative start, u holds each line's
// start). Every line gets exactly the bits of TvqLineRefit (refit) or TvqLineFixed;
// the lines run side by side in SIMD lanes. `scratch` is the caller's and grows as
// needed.
void TvqLinesBatch(const float* f, float* u, const float* T, std::int32_t n, std::int64_t count,
                   std::int32_t iterations, float start, bool refit, std::vector<double>& scratch);

// The number of lines TvqLinesBatch fits side by side with the current SIMD setting;
// counts that are multiples of it leave no lane idle.
std::int32_t TvqLinesBatchWidth();

}  // namespace tvq
