// Internal to src/superres: what the solver's plain loops (solver.cpp), its threaded
// twins (solver_fast.cpp) and its SIMD rows (solver_simd.cpp) share. The public entry
// points (solver_fast.cpp) check the settings and planes, then run the plain or the
// fast routine of each pair as ReferenceKernels() says.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/imagefmt.h"
#include "imaging/progress.h"
#include "superres/solver.h"

namespace tvq::solver {

// The blur of the imaging model has 7 taps.
inline constexpr std::int32_t kBlurRadius = 3;

inline double Sign(double t) {
  return t > 0.0 ? 1.0 : (t < 0.0 ? -1.0 : 0.0);
}

// sign(c - a) + sign(c - b) of float samples.
inline double SignPair(float c, float a, float b) {
  return Sign(static_cast<double>(c) - static_cast<double>(a)) +
         Sign(static_cast<double>(c) - static_cast<double>(b));
}

// EZorException(ecNoImage) for a plane without pixels.
void CheckHasPixels(const TImageBase& image, const char* what);
// The same for `low`, and EZorException(ecBadSize) unless `high` is twice its size.
void CheckTwice(const TImageBase& low, const TImageBase& high, const char* what);

// Clamped column indices: index[i] = clamp(i - margin) for i = 0 .. width + 2 margin - 1.
std::vector<std::int32_t> ClampedColumns(std::int32_t width, std::int32_t margin);

// phi(L) of row yy of x at columns -1 .. width into out (width + 2 values): L is the
// five-point Laplacian with each sample read through clamped rows and through
// `column` = ClampedColumns(width, 2), limited to [-1e10, 1e10]; phi(L) is L for
// p = 2, else sign(L) |L|^(p - 1).
void PhiLaplacianRow(const TImageF& x, const std::vector<std::int32_t>& column, std::int32_t p,
                     std::int32_t yy, std::vector<double>& out);

// Every pixel of the plane receives `value`.
void FillPlane(TImageF& plane, float value);

// Checks the settings and planes of a step before it touches the estimate.
void CheckStep(const TImageF& x, const TImageF& y, const TImageF& w,
               const SolverSettings& settings);

// The three step functions: data term in the settings' norm with bilateral TV, in
// norm 2 with bilateral TV, in the settings' norm with the Laplacian.
enum class StepKind { kBtv, kMixed, kLaplace };

// The step function of a stabilizer; SettingError for one outside the enumeration.
StepKind KindOf(Stabilizer stabilizer);

// SettingError unless 0 <= radius <= kMaxStabilizerRadius.
void CheckStabilizerRadius(std::int32_t radius);

// One offset (l, m) of the TV or bilateral TV term and its weight.
struct BtvOffset {
  std::int32_t l, m;
  double weight;
};

// The kept offsets in their order of addition: TV uses (0, 1) and (1, 0) with the
// factor 1; bilateral TV one offset of each pair +-(l, m), weighted by the distance
// table entry base^sqrt(l^2 + m^2) rounded to float.
std::vector<BtvOffset> BtvOffsets(double base, std::int32_t radius);

// The plain single-thread loops (solver.cpp): the definition of every result. The
// public entry points have checked the settings and planes.
void DataFidelityGradientPlain(const TImageF& x, const TImageF& y, TImageF& g, double r, double p,
                               SolverMeasures& measures);
void BtvGradientPlain(const TImageF& x, TImageF& g, const TImageF& w, double base,
                      std::int32_t radius);
void LaplaceGradientPlain(const TImageF& x, TImageF& g, const TImageF& w, std::int32_t p);
void DescendPlain(TImageF& x, const TImageF& g, double s);
void StepPlain(StepKind kind, TImageF& x, const TImageF& y, const TImageF& w, double s,
               const SolverSettings& settings, SolverMeasures& measures);
std::vector<float> RunIterationsPlain(TImageF& x, const TImageF& y, const TImageF& w,
                                      Stabilizer stabilizer, const SolverSettings& settings,
                                      const IterationParams& params, Progress& progress);
std::vector<float> RunIterationsPlain(TImageF& x, const TImageF& y, float weight,
                                      Stabilizer stabilizer, const SolverSettings& settings,
                                      const IterationParams& params, Progress& progress);

// Their threaded and vectorised twins (solver_fast.cpp), which give the same floats. A
// twin whose blur has non-finite taps runs the plain routine instead.
void DataFidelityGradientFast(const TImageF& x, const TImageF& y, TImageF& g, double r, double p,
                              SolverMeasures& measures);
void BtvGradientFast(const TImageF& x, TImageF& g, const TImageF& w, double base,
                     std::int32_t radius);
void LaplaceGradientFast(const TImageF& x, TImageF& g, const TImageF& w, std::int32_t p);
void DescendFast(TImageF& x, const TImageF& g, double s);
void StepFast(StepKind kind, TImageF& x, const TImageF& y, const TImageF& w, double s,
              const SolverSettings& settings, SolverMeasures& measures);
std::vector<float> RunIterationsFast(TImageF& x, const TImageF& y, const TImageF& w,
                                     Stabilizer stabilizer, const SolverSettings& settings,
                                     const IterationParams& params, Progress& progress);
std::vector<float> RunIterationsFast(TImageF& x, const TImageF& y, float weight,
                                     Stabilizer stabilizer, const SolverSettings& settings,
                                     const IterationParams& params, Progress& progress);

// The residual sum (ResidualFeed) of a two-times solve of x on y: empty where the data
// norm measures no residual.
ResidualSum TwoTimesSum(const TImageF& x, const TImageF& y, double r, double dataNorm);

}  // namespace tvq::solver

// Row kernels of the fast paths (solver_simd.cpp, dispatched to the best SIMD target of
// the processor). Each performs, per output element, exactly the IEEE operations of the
// plain per-pixel loops in solver.cpp, in the same order, so their results equal those
// loops bit for bit on every target (including Highway's scalar one, which runs when
// SIMD is switched off).
namespace tvq::rows {

// out[i] = s, where s starts at +0.0f and, for k = 0 .. taps - 1 in increasing order,
// s = float(double(s) + double(sources[k][i]) * double(weights[k])): the running sum of
// the separable passes, for n elements. With no taps every element is +0.
void WeightedSum(float* out, const float* const* sources, const float* weights, std::int32_t taps,
                 std::int64_t n);

// out[i] = float(sign(double(a[i]) - double(b[i]))): 1, -1, or +0 (equal or unordered).
void SignOfDifference(const float* a, const float* b, float* out, std::int64_t n);

// even[i] = source[2i], odd[i] = source[2i + 1] for i < n.
void Deinterleave(const float* source, float* even, float* odd, std::int64_t n);
// out[2i] = even[i], out[2i + 1] = odd[i] for i < n.
void Interleave(const float* even, const float* odd, float* out, std::int64_t n);

// One run of n pixels of the bilateral TV term and, optionally, the descent step.
// For pixel i, g = gradient[i]; then for every offset o in order
//   g = float(double(g) + (s * offsetWeights[o]) * w),
// with s = sign(c - a) + sign(c - b), c = centre[i], a = above[o][i], b = below[o][i]
// and w = double(weight[i]) (or `constantWeight` when weight is null). When estimate
// is non-null, out[i] = float(double(estimate[i]) - step * double(g)), otherwise out[i] = g.
// out may alias gradient or estimate.
struct BtvRun {
  const float* centre = nullptr;
  const float* const* above = nullptr;  // per offset: the samples at +(l, m)
  const float* const* below = nullptr;  // per offset: the samples at -(l, m)
  const double* offsetWeights = nullptr;
  std::int32_t offsets = 0;
  const float* weight = nullptr;
  double constantWeight = 0.0;
  const float* gradient = nullptr;
  const float* estimate = nullptr;
  double step = 0.0;
  float* out = nullptr;
};
void BtvDescend(const BtvRun& run, std::int64_t n);

}  // namespace tvq::rows
