// The solver widened to a whole factor: where the data term puts a residual, that the
// iterations lower it, the same floats under every thread count, and ResampleByFactor's
// sizes, constant pictures, stop and refusals.
#include "superres/factorsolve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "common/images.h"
#include "common/kernel_modes.h"
#include "common/pictures.h"
#include "common/progress.h"
#include "imaging/errors.h"
#include "superres/resample.h"

namespace tvq {
namespace {

// With a constant estimate that the model maps onto Y exactly but for one low-resolution
// pixel (lx, ly), off by delta, the gradient is the back-projected blur of that one
// residual: centred on (S lx, S ly), mirror symmetric about it, and summing to
// (S / 2)^2 * delta (every low-resolution sample's weights sum to 1).
TEST(FactorSolve, TheDataTermBackProjectsOntoTheFactorGrid) {
  for (const std::int32_t factor : {3, 4, 5}) {
    const std::int32_t lx = 4, ly = 3, w = 9, h = 7;
    const TImageF x = test::Filled(factor * w, factor * h, 80.0f);
    TImageF y = test::Filled(w, h, 80.0f);
    y.Row(ly)[lx] = 70.0f;  // the estimate is 10 above it
    TImageF g(factor * w, factor * h);
    SolverMeasures measures;
    const double deviation = FactorBlurDeviation(1.0, factor);
    FactorDataGradient(x, y, g, factor, deviation, 2.0, measures);
    const std::int32_t cx = factor * lx, cy = factor * ly;
    double sum = 0.0;
    for (std::int32_t row = 0; row < g.Height(); ++row)
      for (std::int32_t col = 0; col < g.Width(); ++col) {
        const float v = g.Row(row)[col];
        sum += v;
        EXPECT_LE(v, g.Row(cy)[cx]) << factor;
        const std::int32_t mx = 2 * cx - col, my = 2 * cy - row;
        if (mx >= 0 && mx < g.Width() && my >= 0 && my < g.Height()) {
          EXPECT_FLOAT_EQ(v, g.Row(row)[mx]) << factor << " at " << col << "," << row;
          EXPECT_FLOAT_EQ(v, g.Row(my)[col]) << factor << " at " << col << "," << row;
        }
      }
    EXPECT_NEAR(sum, factor * factor / 4.0 * 10.0, 1e-3) << factor;
    EXPECT_GT(g.Row(cy)[cx], 0.0f);
    // Norm 1: the mean absolute residual, and the sign (1) back-projected.
    const float centre = g.Row(cy)[cx];
    FactorDataGradient(x, y, g, factor, deviation, 1.0, measures);
    EXPECT_FLOAT_EQ(measures.meanResidual, 10.0f / (w * h));
    EXPECT_NEAR(g.Row(cy)[cx] * 10.0f, centre, 1e-4f);
  }
}

TEST(FactorSolve, TheIterationsLowerTheResidual) {
  // A step edge seen at a quarter of its size; the Lanczos start overshoots it.
  const TImageF y =
      test::MakeImage(12, 10, [](std::int32_t x, std::int32_t) { return x < 6 ? 40.0f : 200.0f; });
  TImageF x = test::MakeImage(48, 40, [](std::int32_t col, std::int32_t) {
    return col < 22 ? 40.0f : col > 26 ? 200.0f : 120.0f;
  });
  const TImageF weights = test::Filled(48, 40, 0.05f);
  SolverSettings settings;
  ConfigureStabilizer(Stabilizer::kBilateralTv3, settings);
  settings.stepBase *= 0.2;
  IterationParams params;
  test::RecordingProgress progress;
  const std::vector<float> residuals =
      RunFactorIterations(x, y, weights, Stabilizer::kBilateralTv3, settings, 4, params, progress);
  ASSERT_EQ(residuals.size(), 40u);
  EXPECT_LT(residuals.back(), residuals.front() * 0.5f);
  EXPECT_EQ(progress.calls.front().stage, "Iterations [0]");
}

TEST(FactorSolve, TheSameFloatsOnEveryThreadCount) {
  const TImageF y = test::NoiseImage(13, 9, 3);
  const TImageF start = test::NoiseImage(39, 27, 4);
  const TImageF weights = test::NoiseImage(39, 27, 5);
  for (const Stabilizer stabilizer :
       {Stabilizer::kBilateralTv3, Stabilizer::kLaplace, Stabilizer::kBilateralTv3Mixed})
    test::CompareWithReference(
        [&] {
          TImageF x = start.Clone();
          SolverSettings settings;
          ConfigureStabilizer(stabilizer, settings);
          IterationParams params;
          params.iterations = 5;
          NullProgress progress;
          RunFactorIterations(x, y, weights, stabilizer, settings, 3, params, progress);
          return x;
        },
        [](const TImageF& expected, const TImageF& actual, const std::string& name) {
          EXPECT_TRUE(test::SameBits(expected, actual)) << name;
        });
}

TEST(FactorSolve, ResampleByFactorSizesConstantsAndStop) {
  const Bitmap picture = test::SolidPicture(7, 5, 24, 30, 120, 210);
  for (const std::int32_t factor : {3, 4}) {
    test::RecordingProgress progress;
    const TImageF4 result = ResampleByFactor(picture, ResampleParams{}, factor, progress);
    ASSERT_EQ(result.Width(), 7 * factor);
    ASSERT_EQ(result.Height(), 5 * factor);
    for (std::int32_t y = 0; y < result.Height(); ++y)
      for (std::int32_t x = 0; x < result.Width(); ++x) {
        EXPECT_NEAR(result.Row(y)[4 * x], 30.0f, 0.01f);
        EXPECT_NEAR(result.Row(y)[4 * x + 1], 120.0f, 0.01f);
        EXPECT_NEAR(result.Row(y)[4 * x + 2], 210.0f, 0.01f);
      }
    EXPECT_EQ(progress.calls.back().stage, "Idle");
  }
  // A stop in the iterations returns the estimate so far.
  test::RecordingProgress stopping(3);
  ResampleByFactor(picture, ResampleParams{}, 3, stopping);
  std::int32_t iterations = 0;
  for (const auto& call : stopping.calls) iterations += call.stage.rfind("Iterations", 0) == 0;
  EXPECT_EQ(iterations, 4);
}

TEST(FactorSolve, RefusesFactorsAndSizesItCannotTake) {
  const Bitmap picture = test::SolidPicture(7, 5, 24, 1, 2, 3);
  NullProgress progress;
  EXPECT_THROW(ResampleByFactor(picture, ResampleParams{}, 2, progress), SettingError);
  EXPECT_THROW(ResampleByFactor(picture, ResampleParams{}, kMaxSolveFactor + 1, progress),
               SettingError);
  EXPECT_EQ(test::CodeOf([&] {
              ResampleByFactor(test::SolidPicture(1, 5, 24, 1, 2, 3), ResampleParams{}, 3,
                               progress);
            }),
            ecBadSize);
  EXPECT_EQ(test::CodeOf([&] {
              ResampleByFactor(test::SolidPicture(20000, 2, 24, 1, 2, 3), ResampleParams{}, 4,
                               progress);
            }),
            ecBadSize);
  TImageF g(12, 12);
  SolverMeasures measures;
  EXPECT_EQ(test::CodeOf([&] {
              FactorDataGradient(test::Filled(12, 12, 0.0f), test::Filled(5, 4, 0.0f), g, 3, 1.0,
                                 1.0, measures);
            }),
            ecBadSize);
}

}  // namespace
}  // namespace tvq
