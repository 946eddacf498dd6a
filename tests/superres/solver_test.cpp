#include "superres/solver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>
#include "common/images.h"

namespace tvq {
namespace {

using test::Filled;
using test::SamePixels;

// A small non-trivial plane: a bright diagonal stroke on a ramp.
TImageF Pattern(std::int32_t w, std::int32_t h) {
  TImageF p(w, h);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x)
      p.Row(y)[x] = static_cast<float>(10 * x + 3 * y + (x == y ? 120 : 0));
  return p;
}

// ---- Step schedules ----

TEST(StepSchedule, ExponentialBlackStartShrinksBeforeEveryStep) {
  StepSchedule schedule(ConvergenceMode::kExponential, 0.875, /*blackStart=*/true, 50.0);
  std::vector<float> residuals;
  const double s0 = 5.0;
  EXPECT_EQ(schedule.Next(0, residuals) * s0, 218.75);
  residuals.push_back(1.0f);
  EXPECT_EQ(schedule.Next(1, residuals) * s0, 191.40625);
  residuals.push_back(2.0f);
  EXPECT_EQ(schedule.Next(2, residuals) * s0, 167.48046875);
}

TEST(StepSchedule, ExponentialOtherStartWaitsForTwoRises) {
  StepSchedule schedule(ConvergenceMode::kExponential, 0.5, /*blackStart=*/false, 10.0);
  // Residuals: rise at k = 3 (1 -> 2) and at k = 5 (0.5 -> 3); not consecutive.
  const std::vector<float> history = {4.0f, 1.0f, 2.0f, 0.5f, 3.0f, 1.0f, 1.0f};
  std::vector<float> residuals;
  std::vector<double> bases;
  for (std::int32_t k = 0; k < 7; ++k) {
    bases.push_back(schedule.Next(k, residuals));
    residuals.push_back(history[k]);
  }
  // Count 1 after k = 3, 2 after k = 5; shrinking starts at k = 6.
  EXPECT_EQ(bases, (std::vector<double>{10, 10, 10, 10, 10, 10, 5}));
}

TEST(StepSchedule, ConditionalDividesAfterEverySecondRise) {
  StepSchedule schedule(ConvergenceMode::kConditional, 2.0, /*blackStart=*/true, 8.0);
  const std::vector<float> history = {1, 2, 3, 4, 5, 6};  // rises counted at k = 2 .. 5
  std::vector<float> residuals;
  std::vector<double> bases;
  for (std::int32_t k = 0; k < 6; ++k) {
    bases.push_back(schedule.Next(k, residuals));
    residuals.push_back(history[k]);
  }
  EXPECT_EQ(bases, (std::vector<double>{8, 8, 8, 4, 4, 2}));
}

// A residual equal to the one before is no rise.
TEST(StepSchedule, EqualResidualsAreNoRise) {
  StepSchedule schedule(ConvergenceMode::kConditional, 2.0, /*blackStart=*/false, 8.0);
  const std::vector<float> history = {3, 3, 3, 3, 4, 4, 5, 5};  // rises counted at k = 5, 7
  std::vector<float> residuals;
  std::vector<double> bases;
  for (std::int32_t k = 0; k < 8; ++k) {
    bases.push_back(schedule.Next(k, residuals));
    residuals.push_back(history[k]);
  }
  EXPECT_EQ(bases, (std::vector<double>{8, 8, 8, 8, 8, 8, 8, 4}));
  EXPECT_EQ(schedule.IncreaseCount(), 0);
}

TEST(StepSchedule, FixedStepsNeverChange) {
  StepSchedule schedule(ConvergenceMode::kFixedSteps, 0.5, /*blackStart=*/true, 3.0);
  std::vector<float> residuals;
  for (std::int32_t k = 0; k < 6; ++k) {
    EXPECT_EQ(schedule.Next(k, residuals), 3.0);
    residuals.push_back(static_cast<float>(k));  // rising every time
  }
}

// ---- Data term ----

struct DataNormCase {
  double p;
};
class DataFidelityNorm : public ::testing::TestWithParam<DataNormCase> {};

// Without blur the gradient is psi(X(2x, 2y) - Y(x, y)) at the even positions and 0
// elsewhere; only norm 1 reports a mean residual.
TEST_P(DataFidelityNorm, WithoutBlurIsPsiOfTheResidualAtEvenPositions) {
  const double p = GetParam().p;
  const TImageF y = Pattern(3, 2);
  TImageF x = Filled(6, 4, 30.0f);
  x.Row(0)[0] = y.Row(0)[0];  // d = 0 at (0, 0)
  TImageF g = Filled(6, 4, 99.0f);
  SolverMeasures measures;
  measures.meanResidual = 123.0f;
  DataFidelityGradient(x, y, g, 0.0, p, measures);
  double sumAbs = 0.0;
  for (std::int32_t r = 0; r < 4; ++r)
    for (std::int32_t c = 0; c < 6; ++c) {
      if (r % 2 != 0 || c % 2 != 0) {
        EXPECT_EQ(g.Row(r)[c], 0.0f) << c << "," << r;
        continue;
      }
      const double d = static_cast<double>(x.Row(r)[c]) - y.Row(r / 2)[c / 2];
      sumAbs += std::fabs(d);
      double expected = d == 0 ? 0.0 : (d > 0 ? 1.0 : -1.0) * std::pow(std::fabs(d), p - 1.0);
      EXPECT_FLOAT_EQ(g.Row(r)[c], static_cast<float>(expected)) << c << "," << r;
    }
  EXPECT_FLOAT_EQ(measures.meanResidual, p == 1.0 ? static_cast<float>(sumAbs / 6.0) : 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Norms, DataFidelityNorm,
                         ::testing::Values(DataNormCase{1.0}, DataNormCase{2.0}, DataNormCase{1.5},
                                           DataNormCase{3.0}));

TEST(DataFidelity, BlurredGradientOfAMatchingConstantIsTiny) {
  const TImageF y = Filled(4, 3, 100.0f);
  const TImageF x = Filled(8, 6, 100.0f);
  TImageF g(8, 6);
  SolverMeasures measures;
  DataFidelityGradient(x, y, g, 1.0, 2.0, measures);
  for (std::int32_t r = 0; r < 6; ++r)
    for (std::int32_t c = 0; c < 8; ++c) EXPECT_NEAR(g.Row(r)[c], 0.0f, 1e-4f);
}

TEST(DataFidelity, RejectsAnEstimateThatIsNotTwiceTheInput) {
  const TImageF y = Filled(3, 3, 1.0f);
  const TImageF x = Filled(6, 5, 1.0f);
  TImageF g(6, 5);
  SolverMeasures measures;
  EXPECT_THROW(DataFidelityGradient(x, y, g, 1.0, 1.0, measures), EZorException);
}

// ---- Stabilizers on a 2 x 2 estimate (every stencil reaches past the borders) ----

TEST(BtvGradient, TwoByTwoThreeByThreeWeightsAndClampedReads) {
  TImageF x = Filled(2, 2, 0.0f);
  x.Row(0)[0] = 1.0f;
  const float lambda = 0.05f;
  const TImageF w = Filled(2, 2, lambda);
  TImageF g(2, 2);
  BtvGradient(x, g, w, 0.8, 1);
  const double t1 = static_cast<float>(0.8);
  const double t2 = static_cast<float>(std::pow(0.8, std::sqrt(2.0)));
  // (0, 0): offsets (-1,1) both sides differ, (0,1) and (1,0) one side, (1,1) one side.
  EXPECT_NEAR(g.Row(0)[0], lambda * (2 * t2 + t1 + t1 + t2), 1e-7);
  // (1, 1): only (1,1) reaches (0, 0), with c < b.
  EXPECT_NEAR(g.Row(1)[1], -lambda * t2, 1e-7);
  // (1, 0): offsets (-1,1) reads (0,1)=0 and (2,-1)->(1,0)=0; (0,1) and (1,1) read 0
  // and (1,0)/(0,0); (1,0) reads (2,0)->(1,0) and (0,0).
  EXPECT_NEAR(g.Row(0)[1], -lambda * (t2 + t1), 1e-7);
  EXPECT_NEAR(g.Row(1)[0], -lambda * (t1 + t2), 1e-7);
}

TEST(BtvGradient, TotalVariationUsesFactorOneAndAddsToG) {
  TImageF x = Filled(2, 2, 0.0f);
  x.Row(0)[0] = 1.0f;
  const TImageF w = Filled(2, 2, 0.5f);
  TImageF g = Filled(2, 2, 1.0f);
  BtvGradient(x, g, w, 0.8, 0);
  // (0,0): (0,1): sign(1-0) + sign(1-1) = 1; (1,0): 1. 1 + 2 * 0.5.
  EXPECT_EQ(g.Row(0)[0], 2.0f);
  // (1,0): (0,1) reads (1,1) and (1,-1)->(1,0): 0; (1,0) reads (1,0) and (0,0): -1.
  EXPECT_EQ(g.Row(0)[1], 0.5f);
  EXPECT_EQ(g.Row(1)[1], 1.0f);
}

TEST(BtvGradient, RejectsRadiusBeyondTheDistanceTable) {
  const TImageF x = Filled(4, 4, 0.0f);
  const TImageF w = Filled(4, 4, 1.0f);
  TImageF g(4, 4);
  EXPECT_NO_THROW(BtvGradient(x, g, w, 0.8, 7));
  EXPECT_THROW(BtvGradient(x, g, w, 0.8, 8), std::invalid_argument);
  EXPECT_THROW(BtvGradient(x, g, w, 0.8, -1), std::invalid_argument);
}

TEST(LaplaceGradient, TwoByTwoUsesClampedLaplaciansOutsideTheImage) {
  TImageF x = Filled(2, 2, 0.0f);
  x.Row(0)[0] = 1.0f;
  const TImageF w = Filled(2, 2, 0.25f);
  TImageF g(2, 2);
  LaplaceGradient(x, g, w, 2);
  // L(0,0) = 2, L(1,0) = L(0,1) = -1, L(1,1) = 0, L(-1,0) = L(0,-1) = 1,
  // L(2,0) = L(0,2) = L(2,1) = L(1,2) = 0, L(1,-1) = L(-1,1) = -1.
  EXPECT_EQ(g.Row(0)[0], 0.25f * (8 - 1 + 1 - 1 + 1));
  EXPECT_EQ(g.Row(0)[1], 0.25f * (-4 - 2 - 0 + 1 - 0));
  EXPECT_EQ(g.Row(1)[0], 0.25f * (-4 + 1 - 0 - 2 - 0));
  EXPECT_EQ(g.Row(1)[1], 0.25f * (0 + 1 - 0 + 1 - 0));
}

TEST(LaplaceGradient, NormOneUsesTheSignOfTheLaplacian) {
  TImageF x = Filled(2, 2, 0.0f);
  x.Row(0)[0] = 1.0f;
  const TImageF w = Filled(2, 2, 1.0f);
  TImageF g(2, 2);
  LaplaceGradient(x, g, w, 1);
  EXPECT_EQ(g.Row(0)[0], 4 - 1 + 1 - 1 + 1);
  EXPECT_EQ(g.Row(1)[1], 0 + 1 + 0 + 1 + 0);
}

// ---- Whole steps ----

struct StepCase {
  Stabilizer stabilizer;
};
class SolverSteps : public ::testing::TestWithParam<StepCase> {};

// A 1 x 1 input gives a 2 x 2 estimate; without blur the step is computable by hand:
// the data gradient is psi(0 - 10) at (0, 0) only, the stabilizers vanish on a
// constant estimate.
TEST_P(SolverSteps, OneByOneInputWithoutBlur) {
  const Stabilizer stabilizer = GetParam().stabilizer;
  SolverSettings settings;
  settings.gaussRadius = 0.0;
  ConfigureStabilizer(stabilizer, settings);
  const TImageF y = Filled(1, 1, 10.0f);
  const TImageF w = Filled(2, 2, 0.05f);
  TImageF x = Filled(2, 2, 0.0f);
  SolverMeasures measures;
  StabilizerStep(stabilizer, x, y, w, 2.0, settings, measures);
  const bool normOne =
      stabilizer != Stabilizer::kLaplace && stabilizer != Stabilizer::kBilateralTv3Mixed;
  EXPECT_EQ(x.Row(0)[0], normOne ? 2.0f : 20.0f);
  EXPECT_EQ(x.Row(0)[1], 0.0f);
  EXPECT_EQ(x.Row(1)[0], 0.0f);
  EXPECT_EQ(x.Row(1)[1], 0.0f);
  EXPECT_EQ(measures.meanResidual, normOne ? 10.0f : 0.0f);
}

// With the default blur every value stays finite and the residual is that of the
// estimate before the step.
TEST_P(SolverSteps, OneByOneInputWithBlurStaysFinite) {
  const Stabilizer stabilizer = GetParam().stabilizer;
  SolverSettings settings;
  ConfigureStabilizer(stabilizer, settings);
  const TImageF y = Filled(1, 1, 10.0f);
  const TImageF w = Filled(2, 2, 0.05f);
  TImageF x = Filled(2, 2, 0.0f);
  SolverMeasures measures;
  for (int i = 0; i < 3; ++i) {
    StabilizerStep(stabilizer, x, y, w, 1.0, settings, measures);
    for (std::int32_t r = 0; r < 2; ++r)
      for (std::int32_t c = 0; c < 2; ++c) EXPECT_TRUE(std::isfinite(x.Row(r)[c]));
  }
  EXPECT_GT(x.Row(0)[0], 0.0f);
}

// With the Laplacian or mixed stabilizer the mean residual stays 0; with the
// others it is the mean |BX - Y| (positive here).
TEST_P(SolverSteps, MeanResidualOnlyForNormOne) {
  const Stabilizer stabilizer = GetParam().stabilizer;
  SolverSettings settings;
  ConfigureStabilizer(stabilizer, settings);
  const TImageF y = Pattern(5, 4);
  const TImageF w = Filled(10, 8, 0.05f);
  TImageF x(10, 8);
  SolverMeasures measures;
  StabilizerStep(stabilizer, x, y, w, 0.5, settings, measures);
  if (stabilizer == Stabilizer::kLaplace || stabilizer == Stabilizer::kBilateralTv3Mixed)
    EXPECT_EQ(measures.meanResidual, 0.0f);
  else
    EXPECT_GT(measures.meanResidual, 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Stabilizers, SolverSteps,
                         ::testing::Values(StepCase{Stabilizer::kLaplace},
                                           StepCase{Stabilizer::kTotalVariation},
                                           StepCase{Stabilizer::kBilateralTv3},
                                           StepCase{Stabilizer::kBilateralTv5},
                                           StepCase{Stabilizer::kBilateralTv3Mixed}));

TEST(ConfigureStabilizer, FollowsTheStabilizerTable) {
  struct Row {
    Stabilizer stabilizer;
    double norm;
    std::int32_t radius;
    double stepBase;
  };
  const Row rows[] = {{Stabilizer::kLaplace, 2, 5, 0.5},
                      {Stabilizer::kTotalVariation, 1, 0, 50},
                      {Stabilizer::kBilateralTv3, 1, 1, 50},
                      {Stabilizer::kBilateralTv5, 1, 2, 50},
                      {Stabilizer::kBilateralTv3Mixed, 1, 1, 0.5}};
  for (const Row& row : rows) {
    SolverSettings settings;
    settings.norm = 3.5;
    settings.stabilizerRadius = 5;  // Laplace leaves it unchanged
    ConfigureStabilizer(row.stabilizer, settings);
    EXPECT_EQ(settings.norm, row.norm);
    EXPECT_EQ(settings.stabilizerRadius, row.radius);
    EXPECT_EQ(settings.stepBase, row.stepBase);
  }
}

TEST(SolverSettings, ValidateRejectsOutOfRangeValues) {
  EXPECT_NO_THROW(SolverSettings{}.Validate());
  SolverSettings radius;
  radius.stabilizerRadius = 8;
  EXPECT_THROW(radius.Validate(), std::invalid_argument);
  SolverSettings gauss;
  gauss.gaussRadius = -0.5;
  EXPECT_THROW(gauss.Validate(), std::invalid_argument);
  SolverSettings nanGauss;
  nanGauss.gaussRadius = std::nan("");
  EXPECT_THROW(nanGauss.Validate(), std::invalid_argument);
}

// Every step checks the settings it reads before touching the estimate: a norm
// whose integer part does not fit the stabilizer's integer norm, a NaN norm or a
// negative BTV base (whose distance weights would be NaN) throw and leave X as it was.
TEST_P(SolverSteps, RejectInvalidSettingsBeforeTouchingTheEstimate) {
  const Stabilizer stabilizer = GetParam().stabilizer;
  const TImageF y = Pattern(3, 2);
  const TImageF w = Filled(6, 4, 0.05f);
  for (int bad = 0; bad < 3; ++bad) {
    SolverSettings settings;
    ConfigureStabilizer(stabilizer, settings);
    if (bad == 0) settings.norm = 1e20;
    if (bad == 1) settings.norm = std::nan("");
    if (bad == 2) settings.btvBase = -0.8;
    TImageF x = Filled(6, 4, 7.0f);
    SolverMeasures measures;
    EXPECT_THROW(StabilizerStep(stabilizer, x, y, w, 1.0, settings, measures),
                 std::invalid_argument)
        << "case " << bad;
    EXPECT_TRUE(SamePixels(x, Filled(6, 4, 7.0f))) << "case " << bad;
  }
}

// ---- Iteration control ----

class RecordingProgress : public Progress {
 public:
  std::int32_t stopAfterPolls = -1;  // StopRequested turns true at this poll (0-based)
  bool wantsIterate = false;
  std::vector<std::string> stages;
  std::vector<std::int32_t> positions;
  std::int32_t polls = 0;
  std::int32_t frames = 0;

  void ShowProgress(const std::string& stage, std::int32_t position, std::int32_t) override {
    stages.push_back(stage);
    positions.push_back(position);
  }
  bool StopRequested() override { return stopAfterPolls >= 0 && polls++ >= stopAfterPolls; }
  bool WantsIterate() const override { return wantsIterate; }
  void ShowIterate(const TImageF&) override { ++frames; }
};

TEST(RunIterations, ExponentialBlackStartUsesTheScheduledSteps) {
  const TImageF y = Pattern(6, 5);
  const TImageF w = Filled(12, 10, 0.05f);
  SolverSettings settings;
  ConfigureStabilizer(Stabilizer::kBilateralTv3, settings);
  IterationParams params;
  params.iterations = 3;
  params.blackStart = true;
  TImageF x(12, 10);
  NullProgress progress;
  const std::vector<float> residuals =
      RunIterations(x, y, w, Stabilizer::kBilateralTv3, settings, params, progress);
  ASSERT_EQ(residuals.size(), 3u);

  TImageF expected(12, 10);
  SolverMeasures measures;
  std::vector<float> expectedResiduals;
  for (double s : {218.75, 191.40625, 167.48046875}) {
    SolverStep(expected, y, w, s, settings, measures);
    expectedResiduals.push_back(measures.meanResidual);
  }
  EXPECT_TRUE(SamePixels(x, expected));
  EXPECT_EQ(residuals, expectedResiduals);
}

TEST(RunIterations, StopAfterAnIterationKeepsThatStepAndSkipsItsResidual) {
  const TImageF y = Pattern(4, 4);
  const TImageF w = Filled(8, 8, 0.05f);
  SolverSettings settings;
  settings.stepBase = 10.0;
  IterationParams params;
  params.iterations = 10;
  RecordingProgress progress;
  progress.stopAfterPolls = 1;  // true at the second poll
  progress.wantsIterate = true;
  TImageF x(8, 8);
  const std::vector<float> residuals =
      RunIterations(x, y, w, Stabilizer::kBilateralTv3, settings, params, progress);
  EXPECT_EQ(residuals.size(), 1u);
  EXPECT_EQ(progress.stages, (std::vector<std::string>{"Iterations [0]", "Iterations [1]"}));
  EXPECT_EQ(progress.positions, (std::vector<std::int32_t>{15, 16}));
  EXPECT_EQ(progress.frames, 2);

  TImageF expected(8, 8);
  SolverMeasures measures;
  for (int k = 0; k < 2; ++k) SolverStep(expected, y, w, 50.0, settings, measures);
  EXPECT_TRUE(SamePixels(x, expected));
}

TEST(RunIterations, ZeroIterationsLeaveTheEstimate) {
  const TImageF y = Pattern(3, 3);
  const TImageF w = Filled(6, 6, 0.05f);
  TImageF x = Pattern(6, 6);
  const TImageF before = x.Clone();
  IterationParams params;
  params.iterations = 0;
  RecordingProgress progress;
  EXPECT_TRUE(RunIterations(x, y, w, Stabilizer::kBilateralTv5, SolverSettings{}, params, progress)
                  .empty());
  EXPECT_TRUE(SamePixels(x, before));
  EXPECT_TRUE(progress.stages.empty());
}

TEST(RunIterations, ShowIterateOnlyWhenWantedAndEnabled) {
  const TImageF y = Pattern(3, 3);
  const TImageF w = Filled(6, 6, 0.05f);
  for (bool show : {false, true})
    for (bool wants : {false, true}) {
      TImageF x(6, 6);
      IterationParams params;
      params.iterations = 3;
      params.showIterations = show;
      RecordingProgress progress;
      progress.wantsIterate = wants;
      RunIterations(x, y, w, Stabilizer::kTotalVariation, SolverSettings{}, params, progress);
      EXPECT_EQ(progress.frames, show && wants ? 3 : 0);
    }
}

}  // namespace
}  // namespace tvq
