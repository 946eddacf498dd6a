// The solver's plain single-thread loops: the definition of every result (see solver.h
// for the rules). Their threaded twins are in solver_fast.cpp, which also holds the
// public entry points that choose between the two.
#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <utility>

#include "filters/gauss.h"
#include "imaging/errors.h"
#include "superres/solver.h"
#include "superres/solver_kernels.h"

namespace tvq {

ScheduleOutlook ScheduleOutlookOf(ConvergenceMode mode, bool blackStart,
                                  const std::vector<float>& residuals) {
  if (mode == ConvergenceMode::kFixedSteps || (mode == ConvergenceMode::kExponential && blackStart))
    return ScheduleOutlook::kSettled;
  if (mode == ConvergenceMode::kConditional) return ScheduleOutlook::kUnshareable;
  // The schedule itself, replayed over the series: the rises it counts decide.
  StepSchedule replay(mode, 1.0, false, 1.0);
  for (std::size_t k = 0; k <= residuals.size(); ++k)
    replay.Next(static_cast<std::int32_t>(k), residuals);
  return replay.IncreaseCount() >= 2 ? ScheduleOutlook::kSettled : ScheduleOutlook::kUndecided;
}

ResidualFeed::ResidualFeed(Progress& progress, ConvergenceMode mode, bool blackStart,
                           const TImageF& y, ResidualSum sum)
    : shared_(progress.Residuals()) {
  if (shared_)
    solve_ = shared_->BeginSolve(
        [mode, blackStart](const std::vector<float>& residuals) {
          return ScheduleOutlookOf(mode, blackStart, residuals);
        },
        y.Width(), y.Height(), sum);
}

double TwoTimesResidualSum(const TImageF& x, const TImageF& y, double r, std::int32_t x0,
                           std::int32_t y0, std::int32_t x1, std::int32_t y1) {
  TImageF blurred;
  const TImageF* b = &x;
  if (r > 0.0) {
    blurred = TImageF(x.Width(), x.Height());
    GaussSmooth(x, blurred, static_cast<float>(r), solver::kBlurRadius);
    b = &blurred;
  }
  double sum = 0.0;
  for (std::int32_t ly = y0; ly < y1; ++ly)
    for (std::int32_t lx = x0; lx < x1; ++lx)
      sum += std::fabs(static_cast<double>(b->Row(2 * ly)[2 * lx]) -
                       static_cast<double>(y.Row(ly)[lx]));
  return sum;
}

ResidualSum solver::TwoTimesSum(const TImageF& x, const TImageF& y, double r, double dataNorm) {
  if (dataNorm != 1.0) return {};
  return [&x, &y, r](std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
    return TwoTimesResidualSum(x, y, r, x0, y0, x1, y1);
  };
}

namespace solver {

namespace {

// What each stabilizer sets and runs, in the order of Stabilizer.
struct StabilizerRow {
  StepKind kind;
  double norm;
  std::int32_t radius;  // kKeepRadius: the settings' radius stays (the Laplacian has none)
  double stepBase;
};
constexpr std::int32_t kKeepRadius = -1;
constexpr StabilizerRow kStabilizerRows[kStabilizerCount] = {
    {StepKind::kLaplace, 2.0, kKeepRadius, 0.5},  // Laplace
    {StepKind::kBtv, 1.0, 0, 50.0},               // TV
    {StepKind::kBtv, 1.0, 1, 50.0},               // bilateral TV 3x3
    {StepKind::kBtv, 1.0, 2, 50.0},               // bilateral TV 5x5
    // The mixed step descends on the squared (norm 2) data error, whose gradient is the
    // residual itself rather than its sign. With the sign-sized base 50 every step
    // multiplies the error about 21 times (a 96 x 96 photograph reached 3e11 after 8
    // steps and NaN later), so this step takes the base of the other norm-2 data term,
    // the Laplacian's.
    {StepKind::kMixed, 1.0, 1, 0.5},  // bilateral TV 3x3 mixed
};

const StabilizerRow& RowOf(Stabilizer stabilizer) {
  const auto index = static_cast<std::int32_t>(stabilizer);
  if (index < 0 || index >= kStabilizerCount)
    throw SettingError("unknown stabilizer " + std::to_string(index));
  return kStabilizerRows[index];
}

}  // namespace

void CheckHasPixels(const TImageBase& image, const char* what) {
  if (!image.HasImage() || image.Width() < 1 || image.Height() < 1)
    throw EZorException(ecNoImage, std::string(what) + ": the plane holds no pixels");
}

void CheckTwice(const TImageBase& low, const TImageBase& high, const char* what) {
  CheckHasPixels(low, what);
  CheckTwiceSize(low, high, what);
}

std::vector<std::int32_t> ClampedColumns(std::int32_t width, std::int32_t margin) {
  std::vector<std::int32_t> index(static_cast<std::size_t>(width) + 2 * margin);
  for (std::size_t i = 0; i < index.size(); ++i)
    index[i] = std::clamp(static_cast<std::int32_t>(i) - margin, 0, width - 1);
  return index;
}

void PhiLaplacianRow(const TImageF& x, const std::vector<std::int32_t>& column, std::int32_t p,
                     std::int32_t yy, std::vector<double>& out) {
  const std::int32_t width = x.Width();
  const std::int32_t height = x.Height();
  auto phi = [p](double t) {
    if (p == 2) return t;
    if (t == 0.0) return 0.0;
    return Sign(t) * std::pow(std::fabs(t), static_cast<double>(p - 1));
  };
  const float* up = x.Row(std::clamp(yy - 1, 0, height - 1));
  const float* mid = x.Row(std::clamp(yy, 0, height - 1));
  const float* down = x.Row(std::clamp(yy + 1, 0, height - 1));
  for (std::int32_t i = 0; i < width + 2; ++i) {
    const std::int32_t xx = i - 1;  // position of L
    const std::int32_t c = column[xx + 2];
    const double l = 4.0 * static_cast<double>(mid[c]) - static_cast<double>(mid[column[xx + 1]]) -
                     static_cast<double>(mid[column[xx + 3]]) - static_cast<double>(up[c]) -
                     static_cast<double>(down[c]);
    out[i] = phi(std::clamp(l, -1e10, 1e10));
  }
}

void FillPlane(TImageF& plane, float value) {
  for (std::int32_t row = 0; row < plane.Height(); ++row)
    std::fill(plane.Row(row), plane.Row(row) + plane.Width(), value);
}

void CheckStep(const TImageF& x, const TImageF& y, const TImageF& w,
               const SolverSettings& settings) {
  settings.Validate();
  CheckTwice(y, x, "solver step");
  CheckSameSize(x, w, "solver step (weight map)");
}

StepKind KindOf(Stabilizer stabilizer) {
  return RowOf(stabilizer).kind;
}

void CheckStabilizerRadius(std::int32_t radius) {
  if (radius < 0 || radius > kMaxStabilizerRadius)
    throw SettingError("stabilizer radius must lie within 0..7, not " + std::to_string(radius));
}

std::vector<BtvOffset> BtvOffsets(double base, std::int32_t radius) {
  CheckStabilizerRadius(radius);
  if (radius == 0) return {{0, 1, 1.0}, {1, 0, 1.0}};
  std::array<float, kDistanceTableSize> table;
  for (std::int32_t k = 0; k < kDistanceTableSize; ++k)
    table[k] = static_cast<float>(std::pow(base, std::sqrt(static_cast<double>(k))));
  std::vector<BtvOffset> offsets;
  for (std::int32_t l = -radius; l <= radius; ++l)
    for (std::int32_t m = 0; m <= radius; ++m)
      if (!(m <= 0 && l <= 0)) offsets.push_back({l, m, table[l * l + m * m]});
  return offsets;
}

}  // namespace solver

void SolverSettings::Validate() const {
  if (!(gaussRadius >= 0.0) || !std::isfinite(gaussRadius))
    throw SettingError("Gauss radius must be a finite number of at least 0, not " +
                       std::to_string(gaussRadius));
  solver::CheckStabilizerRadius(stabilizerRadius);
  if (!(btvBase >= 0.0) || !std::isfinite(btvBase))
    throw SettingError("BTV base must be a finite number of at least 0, not " +
                       std::to_string(btvBase));
  // The stabilizer's norm is the data norm truncated to an integer.
  if (!std::isfinite(norm) || std::fabs(norm) >= 2147483648.0)
    throw SettingError("norm must be a finite number between -2147483647 and 2147483647");
  if (!std::isfinite(stepBase)) throw SettingError("step base must be a finite number");
}

void ConfigureStabilizer(Stabilizer stabilizer, SolverSettings& settings) {
  const solver::StabilizerRow& row = solver::RowOf(stabilizer);
  // The stabilizer's norm replaces the Norm setting, as it always has: the dialog still
  // offers Norm and Validate still checks it, so that saved settings keep their meaning.
  settings.norm = row.norm;
  if (row.radius != solver::kKeepRadius) settings.stabilizerRadius = row.radius;
  settings.stepBase = row.stepBase;
}

double StepSchedule::Next(std::int32_t k, const std::vector<float>& residuals) {
  if (mode_ == ConvergenceMode::kExponential && (increases_ >= 2 || blackStart_)) {
    stepBase_ *= factor_;
  } else {
    if (k >= 2 && static_cast<std::size_t>(k) <= residuals.size() &&
        residuals[k - 1] > residuals[k - 2])
      ++increases_;
    if (increases_ >= 2 && mode_ == ConvergenceMode::kConditional) {
      increases_ = 0;
      stepBase_ /= factor_;
    }
  }
  return stepBase_;
}

namespace solver {

void DataFidelityGradientPlain(const TImageF& x, const TImageF& y, TImageF& g, double r, double p,
                               SolverMeasures& measures) {
  measures.meanResidual = 0.0f;

  // Blurred estimate B (the estimate itself when there is no forward blur).
  TImageF blurred;
  const TImageF* b = &x;
  if (r > 0.0) {
    blurred = TImageF(x.Width(), x.Height());
    GaussSmooth(x, blurred, static_cast<float>(r), kBlurRadius);
    b = &blurred;
  }

  g.Clear();
  const std::int32_t w = y.Width();
  const std::int32_t h = y.Height();
  float residual = 0.0f;
  // x outer, y inner: the order of the single-precision residual sum.
  for (std::int32_t lx = 0; lx < w; ++lx) {
    for (std::int32_t ly = 0; ly < h; ++ly) {
      const double d =
          static_cast<double>(b->Row(2 * ly)[2 * lx]) - static_cast<double>(y.Row(ly)[lx]);
      float& target = g.Row(2 * ly)[2 * lx];
      if (p == 2.0) {
        target = static_cast<float>(d);
      } else if (p == 1.0) {
        target = static_cast<float>(Sign(d));
        residual = static_cast<float>(static_cast<double>(residual) + std::fabs(d));
      } else {
        target = d == 0.0 ? 0.0f : static_cast<float>(Sign(d) * std::pow(std::fabs(d), p - 1.0));
      }
    }
  }
  // Back-projection: runs whatever r is (sigma 0 copies).
  GaussSmooth(g, g, static_cast<float>(r), kBlurRadius);
  measures.meanResidual = static_cast<float>(static_cast<double>(residual) /
                                             (static_cast<double>(w) * static_cast<double>(h)));
}

void BtvGradientPlain(const TImageF& x, TImageF& g, const TImageF& w, double base,
                      std::int32_t radius) {
  const std::vector<BtvOffset> offsets = BtvOffsets(base, radius);

  const std::int32_t width = x.Width();
  const std::int32_t height = x.Height();
  const std::int32_t margin = radius > 0 ? radius : 1;
  const std::vector<std::int32_t> column = ClampedColumns(width, margin);
  // Every pixel's additions depend only on its own neighbourhood and come in the
  // order of the offsets, so visiting rows outside and offsets before columns gives
  // the same floats as any other pixel order while reading rows contiguously.
  for (std::int32_t row = 0; row < height; ++row) {
    const float* center = x.Row(row);
    const float* weight = w.Row(row);
    float* grad = g.Row(row);
    for (const BtvOffset& o : offsets) {
      const float* rowA = x.Row(std::clamp(row + o.m, 0, height - 1));
      const float* rowB = x.Row(std::clamp(row - o.m, 0, height - 1));
      const std::int32_t* colA = column.data() + margin + o.l;
      const std::int32_t* colB = column.data() + margin - o.l;
      if (radius == 0) {
        for (std::int32_t col = 0; col < width; ++col) {
          const double s = SignPair(center[col], rowA[colA[col]], rowB[colB[col]]);
          grad[col] = static_cast<float>(static_cast<double>(grad[col]) +
                                         s * static_cast<double>(weight[col]));
        }
      } else {
        for (std::int32_t col = 0; col < width; ++col) {
          const double s = SignPair(center[col], rowA[colA[col]], rowB[colB[col]]);
          grad[col] = static_cast<float>(static_cast<double>(grad[col]) +
                                         s * o.weight * static_cast<double>(weight[col]));
        }
      }
    }
  }
}

void LaplaceGradientPlain(const TImageF& x, TImageF& g, const TImageF& w, std::int32_t p) {
  const std::int32_t width = x.Width();
  const std::int32_t height = x.Height();
  const std::vector<std::int32_t> column = ClampedColumns(width, 2);
  // Three rolling rows of phi(L): above, current, below.
  std::vector<double> above(width + 2), current(width + 2), below(width + 2);
  PhiLaplacianRow(x, column, p, -1, above);
  PhiLaplacianRow(x, column, p, 0, current);
  // Each pixel gets one addition, so the row-by-row order gives the same floats as
  // any other.
  for (std::int32_t row = 0; row < height; ++row) {
    PhiLaplacianRow(x, column, p, row + 1, below);
    const float* weight = w.Row(row);
    float* grad = g.Row(row);
    for (std::int32_t col = 0; col < width; ++col) {
      const std::int32_t i = col + 1;
      const double term = 4.0 * current[i] - current[i - 1] - current[i + 1] - above[i] - below[i];
      grad[col] = static_cast<float>(static_cast<double>(grad[col]) +
                                     term * static_cast<double>(weight[col]));
    }
    std::swap(above, current);
    std::swap(current, below);
  }
}

// X = X - s * G.
void DescendPlain(TImageF& x, const TImageF& g, double s) {
  for (std::int32_t row = 0; row < x.Height(); ++row) {
    float* xr = x.Row(row);
    const float* gr = g.Row(row);
    for (std::int32_t col = 0; col < x.Width(); ++col)
      xr[col] = static_cast<float>(static_cast<double>(xr[col]) - s * static_cast<double>(gr[col]));
  }
}

// The step functions on the plain kernels; the settings and planes are checked.
void StepPlain(StepKind kind, TImageF& x, const TImageF& y, const TImageF& w, double s,
               const SolverSettings& settings, SolverMeasures& measures) {
  TImageF g(x.Width(), x.Height());
  if (kind == StepKind::kLaplace) {
    DataFidelityGradientPlain(x, y, g, settings.gaussRadius, settings.norm, measures);
    LaplaceGradientPlain(x, g, w, static_cast<std::int32_t>(settings.norm));
  } else {
    const double norm = kind == StepKind::kMixed ? 2.0 : settings.norm;
    DataFidelityGradientPlain(x, y, g, settings.gaussRadius, norm, measures);
    BtvGradientPlain(x, g, w, settings.btvBase, settings.stabilizerRadius);
  }
  DescendPlain(x, g, s);
}

std::vector<float> RunIterationsPlain(TImageF& x, const TImageF& y, const TImageF& w,
                                      Stabilizer stabilizer, const SolverSettings& settings,
                                      const IterationParams& params, Progress& progress) {
  std::vector<float> residuals;
  if (params.iterations > 0) residuals.reserve(static_cast<std::size_t>(params.iterations));
  StepSchedule schedule(params.mode, params.factor, params.blackStart, settings.stepBase);
  const StepKind kind = KindOf(stabilizer);
  const ResidualFeed feed(
      progress, params.mode, params.blackStart, y,
      TwoTimesSum(x, y, settings.gaussRadius, kind == StepKind::kMixed ? 2.0 : settings.norm));
  SolverMeasures measures;
  for (std::int32_t k = 0; k < params.iterations; ++k) {
    progress.ShowProgress("Iterations [" + std::to_string(k) + "]", k + params.progressOffset,
                          params.progressMaximum);
    const double stepBase = schedule.Next(k, residuals);
    StepPlain(kind, x, y, w, stepBase * params.initialStep, settings, measures);
    if (params.showIterations && progress.WantsIterate()) progress.ShowIterate(x);
    if (progress.StopRequested()) break;
    residuals.push_back(feed(k, measures.meanResidual));
  }
  return residuals;
}

std::vector<float> RunIterationsPlain(TImageF& x, const TImageF& y, float weight,
                                      Stabilizer stabilizer, const SolverSettings& settings,
                                      const IterationParams& params, Progress& progress) {
  TImageF plane(x.Width(), x.Height());
  FillPlane(plane, weight);
  return RunIterationsPlain(x, y, plane, stabilizer, settings, params, progress);
}

}  // namespace solver

}  // namespace tvq
