#include "superres/solver.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <string>

#include "filters/gauss.h"

namespace tvq {

namespace {

// The blur of the imaging model has 7 taps.
constexpr std::int32_t kBlurRadius = 3;

inline double Sign(double t) {
  return t > 0.0 ? 1.0 : (t < 0.0 ? -1.0 : 0.0);
}

// sign(c - a) + sign(c - b) of float samples.
inline double SignPair(float c, float a, float b) {
  return Sign(static_cast<double>(c) - static_cast<double>(a)) +
         Sign(static_cast<double>(c) - static_cast<double>(b));
}

std::string SizeText(const TImageBase& image) {
  return std::to_string(image.Width()) + "x" + std::to_string(image.Height());
}

void CheckSameSize(const TImageBase& a, const TImageBase& b, const char* what) {
  if (a.Width() != b.Width() || a.Height() != b.Height())
    throw EZorException(ecBadSize, std::string(what) + ": planes of " + SizeText(a) + " and " +
                                       SizeText(b) + " pixels differ in size");
}

void CheckHasPixels(const TImageBase& image, const char* what) {
  if (!image.HasImage() || image.Width() < 1 || image.Height() < 1)
    throw EZorException(ecNoImage, std::string(what) + ": the plane holds no pixels");
}

void CheckTwice(const TImageBase& low, const TImageBase& high, const char* what) {
  CheckHasPixels(low, what);
  if (static_cast<std::int64_t>(high.Width()) != 2 * static_cast<std::int64_t>(low.Width()) ||
      static_cast<std::int64_t>(high.Height()) != 2 * static_cast<std::int64_t>(low.Height()))
    throw EZorException(ecBadSize, std::string(what) + ": the estimate of " + SizeText(high) +
                                       " pixels is not twice the input of " + SizeText(low));
}

// Clamped column indices: index[i] = clamp(i - margin) for i = 0 .. width + 2 margin - 1.
std::vector<std::int32_t> ClampedColumns(std::int32_t width, std::int32_t margin) {
  std::vector<std::int32_t> index(static_cast<std::size_t>(width) + 2 * margin);
  for (std::size_t i = 0; i < index.size(); ++i)
    index[i] = std::clamp(static_cast<std::int32_t>(i) - margin, 0, width - 1);
  return index;
}

// X = X - s * G.
void Descend(TImageF& x, const TImageF& g, double s) {
  for (std::int32_t row = 0; row < x.Height(); ++row) {
    float* xr = x.Row(row);
    const float* gr = g.Row(row);
    for (std::int32_t col = 0; col < x.Width(); ++col)
      xr[col] = static_cast<float>(static_cast<double>(xr[col]) - s * static_cast<double>(gr[col]));
  }
}

// Checks the settings and planes of a step before it touches the estimate.
void CheckStep(const TImageF& x, const TImageF& y, const TImageF& w,
               const SolverSettings& settings) {
  settings.Validate();
  CheckTwice(y, x, "solver step");
  CheckSameSize(x, w, "solver step (weight map)");
}

}  // namespace

void SolverSettings::Validate() const {
  if (!(gaussRadius >= 0.0) || !std::isfinite(gaussRadius))
    throw std::invalid_argument("Gauss radius must be a finite number of at least 0, not " +
                                std::to_string(gaussRadius));
  if (stabilizerRadius < 0 || stabilizerRadius > kMaxStabilizerRadius)
    throw std::invalid_argument("stabilizer radius must lie within 0..7, not " +
                                std::to_string(stabilizerRadius));
  if (!(btvBase >= 0.0) || !std::isfinite(btvBase))
    throw std::invalid_argument("BTV base must be a finite number of at least 0, not " +
                                std::to_string(btvBase));
  // The stabilizer's norm is the data norm truncated to an integer.
  if (!std::isfinite(norm) || std::fabs(norm) >= 2147483648.0)
    throw std::invalid_argument("norm must be a finite number between -2147483647 and 2147483647");
  if (!std::isfinite(stepBase)) throw std::invalid_argument("step base must be a finite number");
}

void DataFidelityGradient(const TImageF& x, const TImageF& y, TImageF& g, double r, double p,
                          SolverMeasures& measures) {
  CheckTwice(y, x, "data term");
  CheckSameSize(x, g, "data term (gradient)");
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

void BtvGradient(const TImageF& x, TImageF& g, const TImageF& w, double base, std::int32_t radius) {
  if (radius < 0 || radius > kMaxStabilizerRadius)
    throw std::invalid_argument("stabilizer radius must lie within 0..7, not " +
                                std::to_string(radius));
  CheckHasPixels(x, "stabilizer");
  CheckSameSize(x, g, "stabilizer (gradient)");
  CheckSameSize(x, w, "stabilizer (weight map)");

  std::array<float, kDistanceTableSize> table;
  for (std::int32_t k = 0; k < kDistanceTableSize; ++k)
    table[k] = static_cast<float>(std::pow(base, std::sqrt(static_cast<double>(k))));

  // The kept offsets in their order of addition: TV uses (0, 1) and (1, 0) with the
  // factor 1; bilateral TV one offset of each pair +-(l, m), weighted from the table.
  struct Offset {
    std::int32_t l, m;
    double weight;
  };
  std::vector<Offset> offsets;
  if (radius == 0) {
    offsets = {{0, 1, 1.0}, {1, 0, 1.0}};
  } else {
    for (std::int32_t l = -radius; l <= radius; ++l)
      for (std::int32_t m = 0; m <= radius; ++m)
        if (!(m <= 0 && l <= 0)) offsets.push_back({l, m, table[l * l + m * m]});
  }

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
    for (const Offset& o : offsets) {
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

void LaplaceGradient(const TImageF& x, TImageF& g, const TImageF& w, std::int32_t p) {
  CheckHasPixels(x, "Laplacian stabilizer");
  CheckSameSize(x, g, "Laplacian stabilizer (gradient)");
  CheckSameSize(x, w, "Laplacian stabilizer (weight map)");
  const std::int32_t width = x.Width();
  const std::int32_t height = x.Height();

  auto phi = [p](double t) {
    if (p == 2) return t;
    if (t == 0.0) return 0.0;
    return Sign(t) * std::pow(std::fabs(t), static_cast<double>(p - 1));
  };
  // phi(L) of row yy at columns -1 .. width, each of the five samples of L read
  // through the clamping accessor.
  const std::vector<std::int32_t> column = ClampedColumns(width, 2);
  auto fillRow = [&](std::int32_t yy, std::vector<double>& out) {
    const float* up = x.Row(std::clamp(yy - 1, 0, height - 1));
    const float* mid = x.Row(std::clamp(yy, 0, height - 1));
    const float* down = x.Row(std::clamp(yy + 1, 0, height - 1));
    for (std::int32_t i = 0; i < width + 2; ++i) {
      const std::int32_t xx = i - 1;  // position of L
      const std::int32_t c = column[xx + 2];
      const double l = 4.0 * static_cast<double>(mid[c]) -
                       static_cast<double>(mid[column[xx + 1]]) -
                       static_cast<double>(mid[column[xx + 3]]) - static_cast<double>(up[c]) -
                       static_cast<double>(down[c]);
      out[i] = phi(std::clamp(l, -1e10, 1e10));
    }
  };
  // Three rolling rows of phi(L): above, current, below.
  std::vector<double> above(width + 2), current(width + 2), below(width + 2);
  fillRow(-1, above);
  fillRow(0, current);
  // Each pixel gets one addition, so the row-by-row order gives the same floats as
  // any other.
  for (std::int32_t row = 0; row < height; ++row) {
    fillRow(row + 1, below);
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

void SolverStep(TImageF& x, const TImageF& y, const TImageF& w, double s,
                const SolverSettings& settings, SolverMeasures& measures) {
  CheckStep(x, y, w, settings);
  TImageF g(x.Width(), x.Height());
  DataFidelityGradient(x, y, g, settings.gaussRadius, settings.norm, measures);
  BtvGradient(x, g, w, settings.btvBase, settings.stabilizerRadius);
  Descend(x, g, s);
}

void MixedSolverStep(TImageF& x, const TImageF& y, const TImageF& w, double s,
                     const SolverSettings& settings, SolverMeasures& measures) {
  CheckStep(x, y, w, settings);
  TImageF g(x.Width(), x.Height());
  DataFidelityGradient(x, y, g, settings.gaussRadius, 2.0, measures);
  BtvGradient(x, g, w, settings.btvBase, settings.stabilizerRadius);
  Descend(x, g, s);
}

void LaplaceSolverStep(TImageF& x, const TImageF& y, const TImageF& w, double s,
                       const SolverSettings& settings, SolverMeasures& measures) {
  CheckStep(x, y, w, settings);
  TImageF g(x.Width(), x.Height());
  DataFidelityGradient(x, y, g, settings.gaussRadius, settings.norm, measures);
  LaplaceGradient(x, g, w, static_cast<std::int32_t>(settings.norm));
  Descend(x, g, s);
}

void ConfigureStabilizer(Stabilizer stabilizer, SolverSettings& settings) {
  switch (stabilizer) {
    case Stabilizer::kLaplace:
      settings.norm = 2.0;
      settings.stepBase = 0.5;
      return;
    case Stabilizer::kTotalVariation:
      settings.norm = 1.0;
      settings.stabilizerRadius = 0;
      settings.stepBase = 50.0;
      return;
    case Stabilizer::kBilateralTv3:
      settings.norm = 1.0;
      settings.stabilizerRadius = 1;
      settings.stepBase = 50.0;
      return;
    case Stabilizer::kBilateralTv3Mixed:
      // The mixed step descends on the squared (norm 2) data error, whose gradient is
      // the residual itself rather than its sign. With the sign-sized base 50 every
      // step multiplies the error about 21 times (a 96 x 96 photograph reached 3e11
      // after 8 steps and NaN later), so this step takes the base of the other norm-2
      // data term, the Laplacian's.
      settings.norm = 1.0;
      settings.stabilizerRadius = 1;
      settings.stepBase = 0.5;
      return;
    case Stabilizer::kBilateralTv5:
      settings.norm = 1.0;
      settings.stabilizerRadius = 2;
      settings.stepBase = 50.0;
      return;
  }
  throw std::invalid_argument("unknown stabilizer " +
                              std::to_string(static_cast<std::int32_t>(stabilizer)));
}

void StabilizerStep(Stabilizer stabilizer, TImageF& x, const TImageF& y, const TImageF& w, double s,
                    const SolverSettings& settings, SolverMeasures& measures) {
  switch (stabilizer) {
    case Stabilizer::kLaplace:
      LaplaceSolverStep(x, y, w, s, settings, measures);
      return;
    case Stabilizer::kTotalVariation:
    case Stabilizer::kBilateralTv3:
    case Stabilizer::kBilateralTv5:
      SolverStep(x, y, w, s, settings, measures);
      return;
    case Stabilizer::kBilateralTv3Mixed:
      MixedSolverStep(x, y, w, s, settings, measures);
      return;
  }
  throw std::invalid_argument("unknown stabilizer " +
                              std::to_string(static_cast<std::int32_t>(stabilizer)));
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

std::vector<float> RunIterations(TImageF& x, const TImageF& y, const TImageF& w,
                                 Stabilizer stabilizer, const SolverSettings& settings,
                                 const IterationParams& params, Progress& progress) {
  CheckStep(x, y, w, settings);
  std::vector<float> residuals;
  if (params.iterations > 0) residuals.reserve(static_cast<std::size_t>(params.iterations));
  StepSchedule schedule(params.mode, params.factor, params.blackStart, settings.stepBase);
  SolverMeasures measures;
  for (std::int32_t k = 0; k < params.iterations; ++k) {
    progress.ShowProgress("Iterations [" + std::to_string(k) + "]", k + params.progressOffset,
                          params.progressMaximum);
    const double stepBase = schedule.Next(k, residuals);
    StabilizerStep(stabilizer, x, y, w, stepBase * params.initialStep, settings, measures);
    if (params.showIterations && progress.WantsIterate()) progress.ShowIterate(x);
    if (progress.StopRequested()) break;
    residuals.push_back(measures.meanResidual);
  }
  return residuals;
}

}  // namespace tvq
