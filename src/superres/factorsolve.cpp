#include "superres/factorsolve.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "imaging/errors.h"
#include "imaging/lumasplit.h"
#include "imaging/parallel.h"
#include "superres/colour.h"
#include "superres/resample.h"
#include "utility/resize.h"

namespace tvq {

namespace {

// One axis of blur-then-decimate as a sparse matrix A (low x high): row l holds the
// weights A[l][q] of the high-resolution samples q that low-resolution sample l reads
// (the Gaussian centred on S * l, reads beyond the border taken from the edge sample,
// so a clamped read adds its tap to the edge's weight); `columns` is the transpose,
// for the back-projection, each column's entries in increasing l.
struct SparseAxis {
  struct Entry {
    std::int32_t index;
    double weight;
  };
  std::vector<std::vector<Entry>> rows;     // per low-resolution l: (q, weight), q increasing
  std::vector<std::vector<Entry>> columns;  // per high-resolution q: (l, weight), l increasing
};

SparseAxis MakeAxis(std::int32_t low, std::int32_t high, std::int32_t factor, double deviation) {
  const auto radius = static_cast<std::int32_t>(std::ceil(3.0 * deviation));
  std::vector<double> taps(static_cast<std::size_t>(2 * radius + 1));
  double sum = 0.0;
  for (std::int32_t j = -radius; j <= radius; ++j) {
    const double t = deviation > 0.0 ? std::exp(-0.5 * j * j / (deviation * deviation)) : 1.0;
    taps[static_cast<std::size_t>(j + radius)] = t;
    sum += t;
  }
  for (double& t : taps) t /= sum;
  SparseAxis axis;
  axis.rows.resize(static_cast<std::size_t>(low));
  axis.columns.resize(static_cast<std::size_t>(high));
  std::vector<double> weights;
  for (std::int32_t l = 0; l < low; ++l) {
    const std::int32_t centre = factor * l;
    const std::int32_t first = std::max(centre - radius, 0);
    const std::int32_t last = std::min(centre + radius, high - 1);
    weights.assign(static_cast<std::size_t>(last - first + 1), 0.0);
    for (std::int32_t j = -radius; j <= radius; ++j) {
      const std::int32_t q = std::clamp(centre + j, 0, high - 1);
      weights[static_cast<std::size_t>(q - first)] += taps[static_cast<std::size_t>(j + radius)];
    }
    for (std::int32_t q = first; q <= last; ++q) {
      const double w = weights[static_cast<std::size_t>(q - first)];
      if (w == 0.0) continue;
      axis.rows[static_cast<std::size_t>(l)].push_back({q, w});
      axis.columns[static_cast<std::size_t>(q)].push_back({l, w});
    }
  }
  return axis;
}

double Sign(double t) {
  return t > 0.0 ? 1.0 : t < 0.0 ? -1.0 : 0.0;
}

void CheckFactorSizes(const TImageF& x, const TImageF& y, std::int32_t factor) {
  if (factor < 2 || factor > kMaxSolveFactor)
    throw SettingError("the solver's factor must be a whole number from 2 to " +
                       std::to_string(kMaxSolveFactor) + ", not " + std::to_string(factor));
  if (!y.HasImage() || y.Width() < 1 || y.Height() < 1 ||
      x.Width() != static_cast<std::int64_t>(factor) * y.Width() ||
      x.Height() != static_cast<std::int64_t>(factor) * y.Height())
    throw EZorException(ecBadSize, "the estimate of " + SizeText(x) + " pixels is not " +
                                       std::to_string(factor) + " times the picture of " +
                                       SizeText(y) + " pixels");
}

enum class FactorStep { kBtv, kMixed, kLaplace };

FactorStep StepOf(Stabilizer stabilizer) {
  if (stabilizer == Stabilizer::kLaplace) return FactorStep::kLaplace;
  if (stabilizer == Stabilizer::kBilateralTv3Mixed) return FactorStep::kMixed;
  return FactorStep::kBtv;
}

}  // namespace

double FactorBlurDeviation(double gaussRadius, std::int32_t factor) {
  return gaussRadius * std::sqrt(10.0) / 8.0 * static_cast<double>(factor);
}

void FactorDataGradient(const TImageF& x, const TImageF& y, TImageF& g, std::int32_t factor,
                        double deviation, double p, SolverMeasures& measures, TImageF* residuals) {
  CheckFactorSizes(x, y, factor);
  if (residuals == nullptr) CheckSameSize(x, g, "data term (gradient)");
  if (!(deviation >= 0.0) || !std::isfinite(deviation) || deviation > 100.0)
    throw SettingError("the blur of the imaging model must be a deviation from 0 to 100");
  const std::int32_t lw = y.Width(), lh = y.Height();
  const std::int32_t width = x.Width(), height = x.Height();
  const SparseAxis across = MakeAxis(lw, width, factor, deviation);
  const SparseAxis down = MakeAxis(lh, height, factor, deviation);

  // Forward: the blurred estimate at the low-resolution positions, along rows first.
  TImageF rows(lw, height);
  ForEachRow(height, [&](std::int32_t row) {
    const float* in = x.Row(row);
    float* out = rows.Row(row);
    for (std::int32_t l = 0; l < lw; ++l) {
      double s = 0.0;
      for (const auto& e : across.rows[static_cast<std::size_t>(l)])
        s += e.weight * static_cast<double>(in[e.index]);
      out[l] = static_cast<float>(s);
    }
  });
  // The residuals psi(D H X - Y), and |D H X - Y| for the mean in norm 1.
  TImageF psi(lw, lh), absolute(lw, lh);
  ForEachRow(lh, [&](std::int32_t ly) {
    std::vector<double> sum(static_cast<std::size_t>(lw), 0.0);
    for (const auto& e : down.rows[static_cast<std::size_t>(ly)]) {
      const float* in = rows.Row(e.index);
      for (std::int32_t l = 0; l < lw; ++l)
        sum[static_cast<std::size_t>(l)] += e.weight * static_cast<double>(in[l]);
    }
    const float* target = y.Row(ly);
    float* out = psi.Row(ly);
    float* abs = absolute.Row(ly);
    for (std::int32_t l = 0; l < lw; ++l) {
      const double d = static_cast<double>(static_cast<float>(sum[static_cast<std::size_t>(l)])) -
                       static_cast<double>(target[l]);
      abs[l] = static_cast<float>(std::fabs(d));
      if (p == 2.0)
        out[l] = static_cast<float>(d);
      else if (p == 1.0)
        out[l] = static_cast<float>(Sign(d));
      else
        out[l] = d == 0.0 ? 0.0f : static_cast<float>(Sign(d) * std::pow(std::fabs(d), p - 1.0));
    }
  });
  if (residuals != nullptr) {
    *residuals = std::move(absolute);
    return;
  }
  measures.meanResidual = 0.0f;
  if (p == 1.0) {
    float residual = 0.0f;
    for (std::int32_t ly = 0; ly < lh; ++ly)
      for (std::int32_t l = 0; l < lw; ++l)
        residual = static_cast<float>(static_cast<double>(residual) +
                                      static_cast<double>(absolute.Row(ly)[l]));
    measures.meanResidual = static_cast<float>(static_cast<double>(residual) /
                                               (static_cast<double>(lw) * static_cast<double>(lh)));
  }

  // Back-projection H^T D^T: the transposed matrices, columns first (each high-resolution
  // row from the low-resolution rows that read it), then along the row.
  const double scale = static_cast<double>(factor) * static_cast<double>(factor) / 4.0;
  ForEachRow(height, [&](std::int32_t row) {
    std::vector<double> column(static_cast<std::size_t>(lw), 0.0);
    for (const auto& e : down.columns[static_cast<std::size_t>(row)]) {
      const float* in = psi.Row(e.index);
      for (std::int32_t l = 0; l < lw; ++l)
        column[static_cast<std::size_t>(l)] += e.weight * static_cast<double>(in[l]);
    }
    std::vector<float> stored(column.begin(), column.end());
    float* out = g.Row(row);
    for (std::int32_t q = 0; q < width; ++q) {
      double s = 0.0;
      for (const auto& e : across.columns[static_cast<std::size_t>(q)])
        s += e.weight * static_cast<double>(stored[static_cast<std::size_t>(e.index)]);
      out[q] = static_cast<float>(scale * s);
    }
  });
}

std::vector<float> RunFactorIterations(TImageF& x, const TImageF& y, const TImageF& w,
                                       Stabilizer stabilizer, const SolverSettings& settings,
                                       std::int32_t factor, const IterationParams& params,
                                       Progress& progress) {
  settings.Validate();
  CheckFactorSizes(x, y, factor);
  CheckSameSize(x, w, "solver step (weight map)");
  const FactorStep kind = StepOf(stabilizer);
  const double deviation = FactorBlurDeviation(settings.gaussRadius, factor);
  std::vector<float> residuals;
  StepSchedule schedule(params.mode, params.factor, params.blackStart, settings.stepBase);
  const double dataNorm = kind == FactorStep::kMixed ? 2.0 : settings.norm;
  ResidualSum sum;
  if (dataNorm == 1.0)
    sum = [&x, &y, factor, deviation](std::int32_t x0, std::int32_t y0, std::int32_t x1,
                                      std::int32_t y1) {
      TImageF scratch, residuals;
      SolverMeasures unused;
      FactorDataGradient(x, y, scratch, factor, deviation, 1.0, unused, &residuals);
      double total = 0.0;
      for (std::int32_t ly = y0; ly < y1; ++ly)
        for (std::int32_t lx = x0; lx < x1; ++lx) total += residuals.Row(ly)[lx];
      return total;
    };
  const ResidualFeed feed(progress, params.mode, params.blackStart, y, std::move(sum));
  SolverMeasures measures;
  TImageF g(x.Width(), x.Height());
  for (std::int32_t k = 0; k < params.iterations; ++k) {
    progress.ShowProgress("Iterations [" + std::to_string(k) + "]", k + params.progressOffset,
                          params.progressMaximum);
    const double stepBase = schedule.Next(k, residuals);
    const double norm = kind == FactorStep::kMixed ? 2.0 : settings.norm;
    FactorDataGradient(x, y, g, factor, deviation, norm, measures);
    if (kind == FactorStep::kLaplace)
      LaplaceGradient(x, g, w, static_cast<std::int32_t>(settings.norm));
    else
      BtvGradient(x, g, w, settings.btvBase, settings.stabilizerRadius);
    Descend(x, g, stepBase * params.initialStep);
    if (params.showIterations && progress.WantsIterate()) progress.ShowIterate(x);
    if (progress.StopRequested()) break;
    residuals.push_back(feed(k, measures.meanResidual));
  }
  return residuals;
}

TImageF4 ResampleByFactor(const PictureSource& picture, const ResampleParams& params,
                          std::int32_t factor, Progress& progress) {
  params.Validate();
  const std::int32_t w = picture.Width();
  const std::int32_t h = picture.Height();
  if (factor < 3 || factor > kMaxSolveFactor)
    throw SettingError("the direct solve takes whole factors from 3 to " +
                       std::to_string(kMaxSolveFactor) + ", not " + std::to_string(factor));
  if (w < 2 || h < 2)
    throw EZorException(ecBadSize, "a picture of " + std::to_string(w) + "x" + std::to_string(h) +
                                       " pixels cannot be resampled: it must be at least 2 "
                                       "pixels wide and 2 pixels high");
  if (static_cast<std::int64_t>(factor) * w > kMaxImageSide ||
      static_cast<std::int64_t>(factor) * h > kMaxImageSide)
    throw EZorException(ecBadSize, "a picture of " + std::to_string(w) + "x" + std::to_string(h) +
                                       " pixels cannot be resampled " + std::to_string(factor) +
                                       " times: the result would exceed 65535 pixels a side");
  const std::int32_t maximum = params.iterations + 15;
  const bool blackStart = params.initial == InitialApproximation::kBlack;
  const StopFlag* stop = progress.SharedStopFlag();
  const std::int32_t width = factor * w, height = factor * h;
  const double s = factor;

  progress.ShowProgress("Initialization", 0, maximum);
  LumaAndColour split = ReadLumaAndColour(picture);
  TImageF luma = std::move(split.luma);
  SubtractLuma(split.colour, luma);
  ThrowIfStopped(stop);
  progress.ShowProgress("UV resampling", 3, maximum);
  TImageF4 result = Resize(split.colour, width, height, s, s, ResizeFilter::kLanczos3, stop);
  split.colour = TImageF4();
  ForEachRow(height, [&](std::int32_t row) {
    float* p = result.Row(row);
    for (std::int32_t x = 0; x < width; ++x) p[4 * x + 3] = 0.0f;
  });

  progress.ShowProgress("Y resampling", 6, maximum);
  TImageF estimate = Resize(luma, width, height, s, s, ResizeFilter::kLanczos3, stop);
  const WeightMapParams weightParams = WeightMapParamsOf(params);
  progress.ShowProgress("Weight map", 9, maximum);
  TImageF weights;
  if (WeightsAreConstant(weightParams)) {
    weights = TImageF(width, height);
    ForEachRow(height, [&](std::int32_t row) {
      std::fill(weights.Row(row), weights.Row(row) + width, weightParams.maximum);
    });
  } else {
    weights = SmoothedCurvature(estimate);
    WeightRamp(weights, weightParams);
  }
  if (blackStart) estimate.Clear();
  ThrowIfStopped(stop);
  progress.ShowProgress("Y resampling", 11, maximum);

  const auto [settings, iteration] = LumaSolveOf(params, blackStart, maximum);
  RunFactorIterations(estimate, luma, weights, params.stabilizer, settings, factor, iteration,
                      progress);
  AddToColour(result, estimate);
  progress.ShowProgress("Idle", 100, 100);
  return result;
}

}  // namespace tvq
