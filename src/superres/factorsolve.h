// The super-resolution solver widened to a whole factor S (3 or 4, or more): the
// imaging model blurs the estimate with a Gaussian whose deviation grows with S and
// keeps every S-th pixel, low-resolution pixel (x, y) sitting on pixel (S * x, S * y)
// of the estimate. The stabilizers, their weights and the step schedules are those of
// the two-times solver (solver.h); only the data term changes.
//
// Arithmetic: the blurred samples, the residuals and the back-projection are computed
// per pixel from their own inputs (in double, rounded to float when stored), the mean
// residual is one float running sum in row order on the calling thread, so the result
// does not depend on the number of threads.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/imagefmt.h"
#include "imaging/progress.h"
#include "imaging/source.h"
#include "superres/solver.h"

namespace tvq {

struct ResampleParams;

// The largest factor of the direct solve.
inline constexpr std::int32_t kMaxSolveFactor = 8;

// The deviation of the model's blur at factor S: r * S * sqrt(10) / 8 for the Gauss
// radius r. The two-times model blurs with taps exp(-j^2 / r^2), a deviation of
// r / sqrt(2); two of its halvings in a row blur a picture by sqrt(5 / 2) r = 1.58 r
// pixels of the four-times grid, and the deviation grows linearly with S from there.
// Measured on the photographs (bench/quality.sh) with the deviation as c * S: c = 0.35
// gave +0.69 dB over aligned Lanczos at 4x, 0.4 +0.82, 0.45 +0.73, 0.5 +0.46.
double FactorBlurDeviation(double gaussRadius, std::int32_t factor);

// G = (S / 2)^2 H^T D^T psi(D H X - Y) at factor S: G is overwritten entirely. The
// factor (S / 2)^2 keeps the data term as strong against the stabilizer as at two
// times, where a quarter of the pixels carry a residual. p as in DataFidelityGradient.
// EZorException(ecBadSize) unless X is S times Y in both directions. With `residuals`,
// only the forward part runs: it receives |D H X - Y| on Y's grid, and G is not written.
void FactorDataGradient(const TImageF& x, const TImageF& y, TImageF& g, std::int32_t factor,
                        double deviation, double p, SolverMeasures& measures,
                        TImageF* residuals = nullptr);

// RunIterations with the data term at factor S.
std::vector<float> RunFactorIterations(TImageF& x, const TImageF& y, const TImageF& w,
                                       Stabilizer stabilizer, const SolverSettings& settings,
                                       std::int32_t factor, const IterationParams& params,
                                       Progress& progress);

// Resample at a whole factor S from 3 to kMaxSolveFactor: the colour result of size
// S w x S h as four floats (channel 3 zero), as Resample gives it at two times. The
// luminance starts from its aligned Lanczos enlargement and goes through the solver at
// factor S with the weight map of that start; the colour differences are enlarged by
// Lanczos on the same grid. Stages: "Initialization", "UV resampling", "Weight map",
// "Y resampling", "Iterations [k]", "Idle"; STOP leaves the iterations early, before
// them it throws OperationStopped.
TImageF4 ResampleByFactor(const PictureSource& picture, const ResampleParams& params,
                          std::int32_t factor, Progress& progress);

}  // namespace tvq
