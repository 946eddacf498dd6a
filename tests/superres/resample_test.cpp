#include "superres/resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/images.h"
#include "common/pictures.h"
#include "common/progress.h"
#include "deringing/dering.h"
#include "deringing/edgemask.h"
#include "imaging/io/pfm.h"
#include "interpolation/bilinear.h"
#include "interpolation/gradient.h"
#include "interpolation/lanczos.h"
#include "interpolation/nedi.h"

namespace tvq {
namespace {

// A grey picture (equal channels) of w x h with a ramp and a bright stroke.
Bitmap GreyPicture(std::int32_t w, std::int32_t h) {
  Bitmap picture(w, h, 32);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) {
      const auto v = static_cast<std::uint8_t>(x == y + 1 ? 240 : 10 * x + 5 * y);
      for (int k = 0; k < 3; ++k) picture.ScanLine(y)[4 * x + k] = v;
    }
  return picture;
}

TImageF GreyOfPicture(const Bitmap& picture) {
  TImageF luma;
  ImageFromBitmap(picture, ifF, luma);
  return luma;
}

bool SameFloats(const TImageF4& a, const TImageF4& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (std::int32_t y = 0; y < a.Height(); ++y)
    for (std::int32_t x = 0; x < 4 * a.Width(); ++x)
      if (a.Row(y)[x] != b.Row(y)[x]) return false;
  return true;
}

using test::RecordingProgress;

// ---- Parameters ----

TEST(ResampleParams, DefaultsAreTheDialogDefaults) {
  const ResampleParams p;
  EXPECT_EQ(p.stabilizer, Stabilizer::kBilateralTv3);
  EXPECT_EQ(p.initial, InitialApproximation::kGradient);
  EXPECT_EQ(p.convergence, ConvergenceMode::kExponential);
  EXPECT_EQ(p.initialStep, 5.0);
  EXPECT_EQ(p.factor, 0.875);
  EXPECT_EQ(p.iterations, 40);
  EXPECT_EQ(p.maximum, 0.05f);
  EXPECT_EQ(p.minFactor, 1.0f);
  EXPECT_EQ(p.threshMin, 5.0f);
  EXPECT_EQ(p.threshMax, 15.0f);
  EXPECT_EQ(p.btvBase, 0.8);
  EXPECT_EQ(p.gaussRadius, 1.0);
  EXPECT_EQ(p.norm, 1.0);
  EXPECT_FALSE(p.fractalSubstitution);
  EXPECT_TRUE(p.showIterations);
  EXPECT_NO_THROW(p.Validate());
}

// The solver's own defaults are the dialog's: those of a black start with default
// params (the only start whose step base is not scaled).
TEST(LumaSolveOf, DefaultParamsGiveTheSolverDefaults) {
  const ResampleParams p;
  const LumaSolve solve = LumaSolveOf(p, true, p.iterations + 15);
  const SolverSettings settings;
  EXPECT_EQ(settings.gaussRadius, solve.settings.gaussRadius);
  EXPECT_EQ(settings.btvBase, solve.settings.btvBase);
  EXPECT_EQ(settings.norm, solve.settings.norm);
  EXPECT_EQ(settings.stabilizerRadius, solve.settings.stabilizerRadius);
  EXPECT_EQ(settings.stepBase, solve.settings.stepBase);
  const IterationParams iteration;
  EXPECT_EQ(iteration.iterations, solve.iteration.iterations);
  EXPECT_EQ(iteration.initialStep, solve.iteration.initialStep);
  EXPECT_EQ(iteration.factor, solve.iteration.factor);
  EXPECT_EQ(iteration.mode, solve.iteration.mode);
  EXPECT_EQ(iteration.showIterations, solve.iteration.showIterations);
  EXPECT_EQ(iteration.progressMaximum, solve.iteration.progressMaximum);
  EXPECT_EQ(iteration.progressOffset, solve.iteration.progressOffset);
}

struct InvalidCase {
  const char* name;
  std::function<void(ResampleParams&)> change;
};
class ResampleParamsInvalid : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(ResampleParamsInvalid, ValidateThrowsWithAMessage) {
  ResampleParams p;
  GetParam().change(p);
  EXPECT_GT(test::MessageOf<std::invalid_argument>([&] { p.Validate(); }).size(), 10u)
      << "accepted " << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Values, ResampleParamsInvalid,
    ::testing::Values(
        InvalidCase{"gauss", [](ResampleParams& p) { p.gaussRadius = -0.1; }},
        InvalidCase{"gaussNan", [](ResampleParams& p) { p.gaussRadius = std::nan(""); }},
        InvalidCase{"stabilizer", [](ResampleParams& p) { p.stabilizer = Stabilizer(5); }},
        InvalidCase{"initial", [](ResampleParams& p) { p.initial = InitialApproximation(-1); }},
        InvalidCase{"mode", [](ResampleParams& p) { p.convergence = ConvergenceMode(3); }},
        InvalidCase{"iterations", [](ResampleParams& p) { p.iterations = -1; }},
        InvalidCase{"iterationsHigh",
                    [](ResampleParams& p) { p.iterations = ResampleParams::kMaxIterations + 1; }},
        InvalidCase{"factor", [](ResampleParams& p) { p.factor = 0.0; }},
        InvalidCase{"step", [](ResampleParams& p) { p.initialStep = -1.0; }},
        InvalidCase{"maximum", [](ResampleParams& p) { p.maximum = -0.01f; }},
        InvalidCase{"minFactor", [](ResampleParams& p) { p.minFactor = INFINITY; }},
        InvalidCase{"threshMax", [](ResampleParams& p) { p.threshMax = NAN; }},
        InvalidCase{"btvBase", [](ResampleParams& p) { p.btvBase = -0.8; }},
        InvalidCase{"norm", [](ResampleParams& p) { p.norm = INFINITY; }}));

// ---- Failures before any work ----

TEST(Resample, RejectsPicturesTooSmallOrTooLargeBeforeAnyWork) {
  for (auto [w, h] : {std::pair{1, 5}, std::pair{5, 1}, std::pair{1, 1}, std::pair{32768, 2},
                      std::pair{2, 32768}}) {
    const Bitmap picture(w, h, 24);
    RecordingProgress progress;
    try {
      Resample(picture, ResampleParams{}, nullptr, nullptr, progress);
      FAIL() << w << "x" << h << " accepted";
    } catch (const EZorException& e) {
      EXPECT_EQ(e.Code, ecBadSize);
      EXPECT_NE(std::string(e.what()).find("cannot be resampled"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(progress.calls.empty());
  }
}

TEST(Resample, RejectsEightBitPictures) {
  const Bitmap picture(4, 4, 8);
  NullProgress progress;
  EXPECT_THROW(Resample(picture, ResampleParams{}, nullptr, nullptr, progress), EZorException);
}

TEST(Resample, RejectsInvalidSettingsBeforeAnyWork) {
  const Bitmap picture = GreyPicture(4, 4);
  RecordingProgress progress;
  ResampleParams bad;
  bad.gaussRadius = -1.0;
  EXPECT_THROW(Resample(picture, bad, nullptr, nullptr, progress), std::invalid_argument);
  DeringParams badDering;
  badDering.method = 15;
  EXPECT_THROW(Resample(picture, ResampleParams{}, &badDering, nullptr, progress),
               std::invalid_argument);
  const EdgeMaskParams mask;
  EXPECT_THROW(Resample(picture, ResampleParams{}, nullptr, &mask, progress),
               std::invalid_argument);
  EXPECT_TRUE(progress.calls.empty());
}

// ---- The pipeline ----

TEST(Resample, ReportsEveryStageAtItsPosition) {
  ResampleParams params;
  params.iterations = 2;
  params.fractalSubstitution = true;
  RecordingProgress progress;
  progress.wantsIterate = true;
  const TImageF4 result = Resample(GreyPicture(4, 3), params, nullptr, nullptr, progress);
  using Call = RecordingProgress::Call;
  const std::vector<Call> expected = {{"Initialization", 0, 17},
                                      {"Initialization", 1, 17},
                                      {"Converting to YUV", 2, 17},
                                      {"UV resampling", 3, 17},
                                      {"Weight map", 6, 17},
                                      {"Weight map", 9, 17},
                                      {"Weight map", 10, 17},
                                      {"Y resampling", 11, 17},
                                      {"Iterations [0]", 15, 17},
                                      {"Iterations [1]", 16, 17},
                                      {"Fractal substitution", 0, 100},
                                      {"Fractal substitution", 0, 8},
                                      {"Fractal substitution", 4, 8},
                                      {"Idle", 100, 100}};
  EXPECT_EQ(progress.calls, expected);
  EXPECT_EQ(progress.frameSizes,
            (std::vector<std::pair<std::int32_t, std::int32_t>>{{8, 6}, {8, 6}}));
  EXPECT_EQ(result.Width(), 8);
  EXPECT_EQ(result.Height(), 6);
}

struct Variant {
  Stabilizer stabilizer;
  InitialApproximation initial;
};
class ResampleVariants : public ::testing::TestWithParam<Variant> {};

// Every stencil on a 2 x 2 picture reaches past the borders.
TEST_P(ResampleVariants, TwoByTwoPictureGivesAFiniteFourByFourResult) {
  ResampleParams params;
  params.stabilizer = GetParam().stabilizer;
  params.initial = GetParam().initial;
  params.iterations = 4;
  params.fractalSubstitution = true;
  Bitmap picture(2, 2, 32);
  const std::uint8_t bytes[4][3] = {{10, 200, 30}, {250, 250, 250}, {0, 0, 0}, {90, 60, 30}};
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 3; ++k) picture.ScanLine(i / 2)[4 * (i % 2) + k] = bytes[i][k];
  NullProgress progress;
  const TImageF4 result = Resample(picture, params, nullptr, nullptr, progress);
  ASSERT_EQ(result.Width(), 4);
  ASSERT_EQ(result.Height(), 4);
  for (std::int32_t y = 0; y < 4; ++y)
    for (std::int32_t x = 0; x < 4; ++x) {
      for (int k = 0; k < 3; ++k) EXPECT_TRUE(std::isfinite(result.Row(y)[4 * x + k]));
      EXPECT_EQ(result.Row(y)[4 * x + 3], 0.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(
    All, ResampleVariants,
    ::testing::Values(Variant{Stabilizer::kLaplace, InitialApproximation::kBlack},
                      Variant{Stabilizer::kLaplace, InitialApproximation::kNedi},
                      Variant{Stabilizer::kTotalVariation, InitialApproximation::kBilinear},
                      Variant{Stabilizer::kBilateralTv3, InitialApproximation::kGradient},
                      Variant{Stabilizer::kBilateralTv5, InitialApproximation::kLanczos},
                      Variant{Stabilizer::kBilateralTv5, InitialApproximation::kBlack},
                      Variant{Stabilizer::kBilateralTv3Mixed, InitialApproximation::kGradient}));

// Every stabilizer stays bounded over the default iterations from a non-black start
// (the sign-sized steps of the norm-1 terms may overshoot by a step or two, some 100
// grey levels); a step size too large for a norm-2 data term grows the error
// geometrically instead, to infinities and NaN.
TEST(Resample, EveryStabilizerStaysBoundedWithDefaultSettings) {
  for (std::int32_t s = 0; s < kStabilizerCount; ++s) {
    ResampleParams params;
    params.stabilizer = static_cast<Stabilizer>(s);
    NullProgress progress;
    const TImageF4 result = Resample(GreyPicture(16, 12), params, nullptr, nullptr, progress);
    for (std::int32_t y = 0; y < result.Height(); ++y)
      for (std::int32_t x = 0; x < result.Width(); ++x) {
        const float v = result.Row(y)[4 * x];
        ASSERT_TRUE(v > -300.0f && v < 600.0f)
            << kStabilizerCaptions[s] << " " << x << "," << y << " " << v;
      }
  }
}

class ConstantPictures : public ::testing::TestWithParam<Variant> {};

// A constant picture keeps its bytes with every stabilizer from any start but
// black (the norm-1 data term sees float rounding of the blur as residual signs,
// so the floats move by a fraction of a grey level).
TEST_P(ConstantPictures, KeepTheirBytes) {
  ResampleParams params;
  params.stabilizer = GetParam().stabilizer;
  params.initial = GetParam().initial;
  NullProgress progress;
  const TImageF4 result =
      Resample(test::SolidPicture(7, 5, 24, 37, 128, 211), params, nullptr, nullptr, progress);
  const std::uint8_t expected[3] = {37, 128, 211};
  for (std::int32_t y = 0; y < 10; ++y)
    for (std::int32_t x = 0; x < 14; ++x)
      for (int k = 0; k < 3; ++k)
        EXPECT_EQ(ClampToByte(result.Row(y)[4 * x + k]), expected[k]) << x << "," << y;
}

// Not listed: a black start has not converged after 40 iterations, and the mixed
// stabilizer's norm-2 data term grows without bound at its table step size.
INSTANTIATE_TEST_SUITE_P(
    Converging, ConstantPictures,
    ::testing::Values(Variant{Stabilizer::kLaplace, InitialApproximation::kGradient},
                      Variant{Stabilizer::kLaplace, InitialApproximation::kNedi},
                      Variant{Stabilizer::kTotalVariation, InitialApproximation::kBilinear},
                      Variant{Stabilizer::kBilateralTv3, InitialApproximation::kGradient},
                      Variant{Stabilizer::kBilateralTv3, InitialApproximation::kNedi},
                      Variant{Stabilizer::kBilateralTv5, InitialApproximation::kLanczos}));

class ZeroIterations : public ::testing::TestWithParam<InitialApproximation> {};

// N = 0: the luminance of the result is the initial approximation (the colour
// differences of a grey picture are 0 up to float rounding).
TEST_P(ZeroIterations, ResultIsTheInitialApproximation) {
  const Bitmap picture = GreyPicture(9, 7);
  ResampleParams params;
  params.iterations = 0;
  params.initial = GetParam();
  NullProgress progress;
  const TImageF4 result = Resample(picture, params, nullptr, nullptr, progress);

  const TImageF y = GreyOfPicture(picture);
  TImageF expected(18, 14);
  GradientUpscale(y, expected, 2);  // what the estimate holds after the weight map
  switch (GetParam()) {
    case InitialApproximation::kBlack:
      expected.Clear();
      break;
    case InitialApproximation::kBilinear:
      BilinearUpscale(y, expected);
      break;
    case InitialApproximation::kGradient:
      break;
    case InitialApproximation::kNedi:
      NediUpscale(y, expected, NediConfigFor(4));
      break;
    case InitialApproximation::kLanczos:
      LanczosUpscale(y, expected);
      break;
  }
  for (std::int32_t r = 0; r < 14; ++r)
    for (std::int32_t c = 0; c < 18; ++c)
      for (int k = 0; k < 3; ++k)
        ASSERT_NEAR(result.Row(r)[4 * c + k], expected.Row(r)[c], 1e-3f) << c << "," << r;
}

INSTANTIATE_TEST_SUITE_P(Starts, ZeroIterations,
                         ::testing::Values(InitialApproximation::kBlack,
                                           InitialApproximation::kBilinear,
                                           InitialApproximation::kGradient,
                                           InitialApproximation::kNedi,
                                           InitialApproximation::kLanczos));

TEST(Resample, StopAfterAnIterationStillFinishesThePipeline) {
  const Bitmap picture = GreyPicture(6, 5);
  ResampleParams params;
  params.iterations = 30;
  RecordingProgress stopped(1);  // StopRequested turns true after the second step
  const TImageF4 result = Resample(picture, params, nullptr, nullptr, stopped);
  ASSERT_GE(stopped.calls.size(), 2u);
  EXPECT_EQ(stopped.calls[stopped.calls.size() - 2].stage, "Iterations [1]");
  EXPECT_EQ(stopped.calls.back().stage, "Idle");

  // Two finished steps; the schedule does not depend on N.
  params.iterations = 2;
  RecordingProgress full;
  EXPECT_TRUE(SameFloats(result, Resample(picture, params, nullptr, nullptr, full)));
}

TEST(Resample, DeringingWithTheRangeClampKeepsTheLowResolutionRange) {
  const Bitmap picture = GreyPicture(8, 6);
  ResampleParams params;
  params.initial = InitialApproximation::kLanczos;
  params.iterations = 0;
  DeringParams dering;
  dering.method = kDeringSimplestMethod;
  NullProgress progress;
  const TImageF4 result = Resample(picture, params, &dering, nullptr, progress);
  const TImageF y = GreyOfPicture(picture);
  for (std::int32_t ly = 0; ly < 6; ++ly)
    for (std::int32_t lx = 0; lx < 8; ++lx) {
      // (2x + 1, 2y + 1) lies within the 2 x 2 square at (x, y).
      float lo = 1e9f, hi = -1e9f;
      for (auto [dx, dy] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
        lo = std::min(lo, *y.Pixel(lx + dx, ly + dy));
        hi = std::max(hi, *y.Pixel(lx + dx, ly + dy));
      }
      const float v = result.Row(2 * ly + 1)[4 * (2 * lx + 1)];
      EXPECT_GE(v, lo - 1e-3f);
      EXPECT_LE(v, hi + 1e-3f);
    }
}

TEST(Resample, MaskedDeringingRunsEndToEnd) {
  DeringParams dering;
  const EdgeMaskParams mask;
  ResampleParams params;
  params.iterations = 3;
  NullProgress progress;
  const TImageF4 result = Resample(test::GoldenPicture(), params, &dering, &mask, progress);
  EXPECT_EQ(result.Width(), 32);
  EXPECT_EQ(result.Height(), 24);
  for (std::int32_t y = 0; y < 24; ++y)
    for (std::int32_t x = 0; x < 4 * 32; ++x) ASSERT_TRUE(std::isfinite(result.Row(y)[x]));
}

// The whole pipeline with default settings on a small picture with sharp strokes,
// against the stored reference (written once by resample_golden_gen and reviewed;
// never regenerated by a test). Tolerance: 1e-3 grey levels per channel.
TEST(Resample, GoldenPictureMatchesTheStoredReference) {
  NullProgress progress;
  const TImageF4 result =
      Resample(test::GoldenPicture(), ResampleParams{}, nullptr, nullptr, progress);
  const TImageF4 reference = ReadPfmColour(std::string(TVQ_TEST_DATA) + "/resample_golden.pfm");
  ASSERT_EQ(reference.Width(), 32);
  ASSERT_EQ(reference.Height(), 24);
  ASSERT_EQ(result.Width(), 32);
  ASSERT_EQ(result.Height(), 24);
  for (std::int32_t y = 0; y < 24; ++y)
    for (std::int32_t x = 0; x < 32; ++x)
      for (int k = 0; k < 3; ++k)
        ASSERT_NEAR(result.Row(y)[4 * x + k], reference.Row(y)[4 * x + k], 1e-3f)
            << "channel " << k << " at " << x << "," << y;
}

}  // namespace
}  // namespace tvq
