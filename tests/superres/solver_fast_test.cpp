// The fast solver, colour and Resample kernels against their plain loops, bit for bit,
// under every thread count and with and without SIMD.
#include <gtest/gtest.h>

#include <hwy/targets.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/kernel_modes.h"
#include "superres/colour.h"
#include "superres/resample.h"
#include "superres/solver.h"

namespace tvq {
namespace {

using namespace test;

// The planes of one case: the estimate X (2w x 2h), Y (w x h), a weight plane and a
// gradient plane, as compact planes or as bottom-up views with padded rows.
struct Inputs {
  std::string name;
  TImageF x, y, w, g;
};

// x: 0..255; y: 0..255; w: 0..0.1; g: -1..1 (ties: whole multiples of 64, a quarter of
// them zero). The storage keeps the views' pixels alive.
struct Case {
  std::int32_t width, height;
  bool ties, view;
  std::uint32_t seed;
};

class CaseData {
 public:
  explicit CaseData(const Case& c) {
    inputs.name = std::to_string(c.width) + "x" + std::to_string(c.height) +
                  (c.ties ? " ties" : "") + (c.view ? " bottom-up" : "");
    TImageF x = RandomPlane(2 * c.width, 2 * c.height, c.seed, c.ties);
    TImageF y = RandomPlane(c.width, c.height, c.seed + 1, c.ties);
    TImageF w = RandomPlane(2 * c.width, 2 * c.height, c.seed + 2, c.ties);
    TImageF g = RandomPlane(2 * c.width, 2 * c.height, c.seed + 3, c.ties);
    for (std::int32_t row = 0; row < w.Height(); ++row)
      for (std::int32_t col = 0; col < w.Width(); ++col) {
        w.Row(row)[col] *= 0.1f / 255.0f;
        g.Row(row)[col] = g.Row(row)[col] / 127.5f - 1.0f;
      }
    inputs.x = c.view ? BottomUpView(x, storage_[0]) : std::move(x);
    inputs.y = c.view ? BottomUpView(y, storage_[1]) : std::move(y);
    inputs.w = c.view ? BottomUpView(w, storage_[2]) : std::move(w);
    inputs.g = c.view ? BottomUpView(g, storage_[3]) : std::move(g);
  }
  Inputs inputs;

 private:
  std::vector<float> storage_[4];
};

// Every size, random data and ties, compact planes and views.
std::vector<Case> Cases() {
  std::vector<Case> cases;
  std::uint32_t seed = 11;
  for (const auto& [w, h] : ComparisonSizes())
    for (bool ties : {false, true})
      for (bool view : {false, true}) cases.push_back({w, h, ties, view, seed += 7});
  return cases;
}

// A writable copy of a plane laid out as the source is (compact or bottom-up).
TImageF WritableLike(const TImageF& plane, std::vector<float>& storage) {
  if (plane.GetDesc().stride > 0) return plane.Clone();
  return BottomUpView(plane, storage);
}

void ExpectSamePlanes(const TImageF& expected, const TImageF& actual, const std::string& what) {
  EXPECT_TRUE(SameBits(expected, actual)) << what;
}

struct BtvCase {
  std::int32_t radius;
  bool constantWeight;
};

TEST(SolverFast, BtvGradientEqualsThePlainLoop) {
  for (const BtvCase& btv : {BtvCase{0, false}, BtvCase{1, false}, BtvCase{2, false},
                             BtvCase{0, true}, BtvCase{1, true}, BtvCase{2, true}})
    for (const Case& c : Cases()) {
      CaseData data(c);
      const Inputs& in = data.inputs;
      TImageF weight = in.w.Clone();
      if (btv.constantWeight)
        for (std::int32_t row = 0; row < weight.Height(); ++row)
          std::fill(weight.Row(row), weight.Row(row) + weight.Width(), 0.05f);
      CompareWithReference(
          [&] {
            std::vector<float> storage;
            TImageF g = WritableLike(in.g, storage);
            BtvGradient(in.x, g, weight, 0.8, btv.radius);
            return g.Clone();
          },
          [&](const TImageF& e, const TImageF& a, const std::string& config) {
            ExpectSamePlanes(e, a,
                             in.name + " radius " + std::to_string(btv.radius) +
                                 (btv.constantWeight ? " constant" : "") + ", " + config);
          });
    }
}

TEST(SolverFast, LaplaceGradientEqualsThePlainLoop) {
  for (std::int32_t p : {1, 2, 3})
    for (const Case& c : Cases()) {
      CaseData data(c);
      const Inputs& in = data.inputs;
      CompareWithReference(
          [&] {
            std::vector<float> storage;
            TImageF g = WritableLike(in.g, storage);
            LaplaceGradient(in.x, g, in.w, p);
            return g.Clone();
          },
          [&](const TImageF& e, const TImageF& a, const std::string& config) {
            ExpectSamePlanes(e, a, in.name + " p " + std::to_string(p) + ", " + config);
          });
    }
}

struct DataCase {
  double norm, gaussRadius;
};

TEST(SolverFast, DataTermEqualsThePlainLoop) {
  for (const DataCase& d : {DataCase{1.0, 0.0}, DataCase{1.0, 1.0}, DataCase{2.0, 0.0},
                            DataCase{2.0, 1.0}, DataCase{1.5, 0.0}, DataCase{1.5, 1.0}})
    for (const Case& c : Cases()) {
      CaseData data(c);
      const Inputs& in = data.inputs;
      struct Result {
        TImageF g;
        float meanResidual;
      };
      CompareWithReference(
          [&] {
            std::vector<float> storage;
            TImageF g = WritableLike(in.g, storage);
            SolverMeasures measures;
            measures.meanResidual = -1.0f;
            DataFidelityGradient(in.x, in.y, g, d.gaussRadius, d.norm, measures);
            return Result{g.Clone(), measures.meanResidual};
          },
          [&](const Result& e, const Result& a, const std::string& config) {
            const std::string what = in.name + " norm " + std::to_string(d.norm) + " Gauss " +
                                     std::to_string(d.gaussRadius) + ", " + config;
            ExpectSamePlanes(e.g, a.g, what);
            EXPECT_EQ(0, std::memcmp(&e.meanResidual, &a.meanResidual, sizeof(float))) << what;
          });
    }
}

TEST(SolverFast, DescendEqualsThePlainLoop) {
  for (const Case& c : Cases()) {
    CaseData data(c);
    const Inputs& in = data.inputs;
    CompareWithReference(
        [&] {
          std::vector<float> storage;
          TImageF x = WritableLike(in.x, storage);
          Descend(x, in.g, 0.37);
          return x.Clone();
        },
        [&](const TImageF& e, const TImageF& a, const std::string& config) {
          ExpectSamePlanes(e, a, in.name + ", " + config);
        });
  }
}

// A few iterations of every stabilizer, with a weight plane and with one weight, from
// a start with both black-start schedules; the residuals must match as well.
TEST(SolverFast, RunIterationsEqualsThePlainLoop) {
  for (std::int32_t s = 0; s < kStabilizerCount; ++s)
    for (bool constantWeight : {false, true})
      for (const Case& c : Cases()) {
        if (c.width > 40) continue;  // the kernels' own tests cover the large size
        CaseData data(c);
        const Inputs& in = data.inputs;
        const auto stabilizer = static_cast<Stabilizer>(s);
        SolverSettings settings;
        ConfigureStabilizer(stabilizer, settings);
        settings.stepBase *= 0.2;
        IterationParams params;
        params.iterations = 3;
        params.blackStart = constantWeight;
        NullProgress progress;
        struct Result {
          TImageF x;
          std::vector<float> residuals;
        };
        CompareWithReference(
            [&] {
              std::vector<float> storage;
              TImageF x = WritableLike(in.x, storage);
              std::vector<float> residuals =
                  constantWeight
                      ? RunIterations(x, in.y, 0.05f, stabilizer, settings, params, progress)
                      : RunIterations(x, in.y, in.w, stabilizer, settings, params, progress);
              return Result{x.Clone(), residuals};
            },
            [&](const Result& e, const Result& a, const std::string& config) {
              const std::string what = in.name + " " + kStabilizerCaptions[s] +
                                       (constantWeight ? " constant weight" : "") + ", " + config;
              ExpectSamePlanes(e.x, a.x, what);
              ASSERT_EQ(e.residuals.size(), a.residuals.size()) << what;
              EXPECT_EQ(0, std::memcmp(e.residuals.data(), a.residuals.data(),
                                       sizeof(float) * e.residuals.size()))
                  << what;
            });
      }
}

// The same on every instruction set the processor offers, not only the best one.
TEST(SolverFast, EveryInstructionSetGivesThePlainResult) {
  CaseData data({33, 31, false, true, 5});
  const Inputs& in = data.inputs;
  SolverSettings settings;
  ConfigureStabilizer(Stabilizer::kBilateralTv5, settings);
  IterationParams params;
  params.iterations = 2;
  NullProgress progress;
  auto run = [&] {
    TImageF x = in.x.Clone();
    RunIterations(x, in.y, in.w, Stabilizer::kBilateralTv5, settings, params, progress);
    return x;
  };
  const TImageF expected = [&] {
    test::ScopedKernels guard({true, 1, true});
    return run();
  }();
  for (const std::int64_t target : hwy::SupportedAndGeneratedTargets()) {
    test::ScopedKernels guard({false, 2, true});
    hwy::SetSupportedTargetsForTest(target);
    const TImageF actual = run();
    hwy::SetSupportedTargetsForTest(0);
    EXPECT_TRUE(SameBits(expected, actual)) << hwy::TargetName(target);
  }
}

TEST(SolverFast, ColourHelpersEqualThePlainLoops) {
  for (const Case& c : Cases()) {
    CaseData data(c);
    const Inputs& in = data.inputs;
    TImageF4 colour(in.x.Width(), in.x.Height());
    for (std::int32_t row = 0; row < colour.Height(); ++row)
      for (std::int32_t col = 0; col < 4 * colour.Width(); ++col)
        colour.Row(row)[col] = in.g.Row(row)[col / 4] * static_cast<float>(col % 4 + 1);
    CompareWithReference(
        [&] {
          TImageF4 result = colour.Clone();
          SubtractLuma(result, in.x);
          AddToColour(result, in.w);
          return result;
        },
        [&](const TImageF4& e, const TImageF4& a, const std::string& config) {
          EXPECT_TRUE(SameBytes(e, a)) << in.name << ", " << config;
        });
    WeightMapParams ramp;
    ramp.lowWeight = 0.01f;
    ramp.threshMin = 20.0f;
    ramp.threshMax = 120.0f;
    CompareWithReference(
        [&] {
          TImageF weights = SmoothedCurvature(in.x);
          WeightRamp(weights, ramp);
          return weights;
        },
        [&](const TImageF& e, const TImageF& a, const std::string& config) {
          ExpectSamePlanes(e, a, in.name + ", " + config);
        });
  }
}

// The ramp gives its maximum everywhere exactly when WeightsAreConstant says so.
TEST(SolverFast, ConstantWeightsAreTheRampOfAnyCurvature) {
  struct RampCase {
    float maximum, lowWeight;
    bool constant;
  };
  const TImageF curvature = RandomPlane(40, 30, 3, true);  // values on both thresholds
  for (const RampCase& r : {RampCase{0.05f, 0.05f, true}, RampCase{0.0f, 0.0f, true},
                            RampCase{0.05f, 0.025f, false}, RampCase{-0.0f, -0.0f, false}}) {
    WeightMapParams params;
    params.maximum = r.maximum;
    params.lowWeight = r.lowWeight;
    params.threshMin = 64.0f;
    params.threshMax = 128.0f;
    EXPECT_EQ(r.constant, WeightsAreConstant(params)) << r.maximum << " " << r.lowWeight;
    TImageF weights = curvature.Clone();
    WeightRamp(weights, params);
    bool allMaximum = true;
    for (std::int32_t y = 0; y < weights.Height(); ++y)
      for (std::int32_t x = 0; x < weights.Width(); ++x)
        allMaximum = allMaximum && std::memcmp(&weights.Row(y)[x], &r.maximum, sizeof(float)) == 0;
    EXPECT_EQ(r.constant, allMaximum) << r.maximum << " " << r.lowWeight;
  }
}

// The whole pipeline: every start with one weight and with a weight plane.
TEST(SolverFast, ResampleEqualsThePlainPipeline) {
  Bitmap picture(23, 17, 24);
  std::uint32_t state = 7;
  for (std::int32_t y = 0; y < 17; ++y)
    for (std::int32_t x = 0; x < 23 * 3; ++x) {
      state = state * 1664525u + 1013904223u;
      picture.ScanLine(y)[x] =
          static_cast<std::uint8_t>(((x / 9 + y / 5) % 2) * 150 + (state >> 27));
    }
  for (std::int32_t initial = 0; initial < kInitialApproximationCount; ++initial)
    for (float minFactor : {1.0f, 0.5f}) {
      ResampleParams params;
      params.initial = static_cast<InitialApproximation>(initial);
      params.minFactor = minFactor;
      params.iterations = 6;
      NullProgress progress;
      CompareWithReference([&] { return Resample(picture, params, nullptr, nullptr, progress); },
                           [&](const TImageF4& e, const TImageF4& a, const std::string& config) {
                             EXPECT_TRUE(SameBytes(e, a))
                                 << kInitialApproximationCaptions[initial] << " MinFactor "
                                 << minFactor << ", " << config;
                           });
    }
}

}  // namespace
}  // namespace tvq
