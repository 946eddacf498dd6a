#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "deringing/tvqline.h"

namespace tvq {
namespace {

using Line = std::vector<float>;

Line Fit(bool refit, const Line& f, float T, int iterations, float start, Line u = {}) {
  u.resize(f.size());
  const auto n = static_cast<std::int32_t>(f.size());
  if (refit)
    TvqLineRefit(f.data(), u.data(), T, n, iterations, start);
  else
    TvqLineFixed(f.data(), u.data(), T, n, iterations, start);
  return u;
}

TEST(TvqLineTest, WorkedExampleRefit) {
  const Line f = {0, 0, 10, 10};
  const Line zero(4, 0.0f);
  EXPECT_EQ(MeanOffset(f.data(), zero.data(), 4), 5.0f);
  const Line residual = {5, 5, -5, -5};
  EXPECT_EQ(BestStep(residual.data(), 10.0f, 4), -2);
  EXPECT_EQ(Fit(true, f, 10, 1, kStartZero), (Line{2.5f, 2.5f, 7.5f, 7.5f}));
  EXPECT_EQ(Fit(true, f, 10, 2, kStartZero), (Line{1.25f, 1.25f, 8.75f, 8.75f}));
  // No steps: the start line plus the fitted offset.
  EXPECT_EQ(Fit(true, f, 10, 0, kStartZero), (Line{5, 5, 5, 5}));
}

TEST(TvqLineTest, WorkedExampleFixedKeepsOffset) {
  const Line f = {0, 0, 10, 10};
  EXPECT_EQ(Fit(false, f, 10, 1, kStartZero), (Line{0, 0, 5, 5}));
}

TEST(TvqLineTest, BestStepTiesKeepEarlierCandidate) {
  struct Case {
    Line r;
    float T;
    int expected;
  };
  const Case cases[] = {
      {{0, 0, 0, 0}, 1, 1},     // all equal: the first candidate, +1
      {{1, -2, 0, 0}, 1, 2},    // +2, +3 and -1 share -1: +2 is examined first
      {{-1, 2, 0}, 1, 1},       // +1 (-1) ties with -2 (-1)
      {{2, 0}, 1, -1},          // -1 strictly smaller
      {{1, 1, 1, -5}, 2, -3},   // r[n-1] plays no part
      {{3, 1, -1, -3}, -1, 2},  // a negative budget mirrors the candidates
  };
  for (const Case& c : cases)
    EXPECT_EQ(BestStep(c.r.data(), c.T, static_cast<std::int32_t>(c.r.size())), c.expected)
        << c.r[0] << " " << c.r[1];
  const float one = 7;
  EXPECT_EQ(BestStep(&one, 3, 1), 0);
  EXPECT_EQ(BestStep(nullptr, 3, 0), 0);
}

TEST(TvqLineTest, LineVariationAndMeanOffset) {
  const Line line = {1, 4, 2, 2, -1};
  EXPECT_EQ(LineVariation(line.data(), 5), 3 + 2 + 0 + 3);
  EXPECT_EQ(LineVariation(line.data(), 1), 0);
  EXPECT_EQ(LineVariation(line.data(), 0), 0);
  const Line u = {0, 1, 0, 1, 0};
  EXPECT_FLOAT_EQ(MeanOffset(line.data(), u.data(), 5), (8.0f - 2.0f) / 5);
  EXPECT_EQ(MeanOffset(line.data(), u.data(), 0), 0.0f);
}

class KernelBothTest : public ::testing::TestWithParam<bool> {};

TEST_P(KernelBothTest, ConstantLineWithZeroBudgetIsUnchanged) {
  const Line f(9, 37.25f);
  EXPECT_EQ(Fit(GetParam(), f, LineVariation(f.data(), 9), 200, kStartZero), f);
}

TEST_P(KernelBothTest, OneSampleComesBackUnchanged) {
  for (float start : {kStartZero, kStartFromOutput}) {
    const Line got = Fit(GetParam(), {42.5f}, 10, 50, start, {3.0f});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_FLOAT_EQ(got[0], 42.5f) << start;
  }
}

TEST(TvqLineTest, TwoSamplesMoveOnlySampleZero) {
  // The only vertices are +-T on sample 0, so a fit is (t + c, c) with |t| <= T.
  const Line f = {0, 4};
  // Refitting the offset: the exact fit when the budget allows it, otherwise the
  // difference shrinks to T around the refitted level.
  EXPECT_EQ(Fit(true, f, 4, 200, kStartZero), (Line{0, 4}));
  const Line refit = Fit(true, f, 1, 200, kStartZero);
  EXPECT_NEAR(refit[0], 1.5f, 1e-4);
  EXPECT_NEAR(refit[1], 2.5f, 1e-4);
  // Fixed offset: the level stays at the mean 2, sample 1 cannot move.
  EXPECT_EQ(Fit(false, f, 4, 200, kStartZero), (Line{0, 2}));
  EXPECT_EQ(Fit(false, f, 1, 200, kStartZero), (Line{1, 2}));
}

TEST_P(KernelBothTest, FitStaysWithinBudget) {
  const Line f = {10, 30, 5, 40, 0, 25, 12, 12, 50, 3, 8};
  const float T = 20;
  const Line got = Fit(GetParam(), f, T, 300, kStartZero);
  // Every step vertex has variation T, their convex hull at most T; the offset adds none.
  EXPECT_LE(LineVariation(got.data(), 11), T * 1.0001f);
  EXPECT_LT(LineVariation(got.data(), 11), LineVariation(f.data(), 11));
}

INSTANTIATE_TEST_SUITE_P(RefitAndFixed, KernelBothTest, ::testing::Bool());

TEST(TvqLineTest, SourceModeScalesSamplesOneOnward) {
  const Line f = {0, 0, 0};
  // Stored line (10, 0, 10) has variation 20 > 5: samples 1, 2 are scaled by 1/4.
  const Line got = Fit(true, f, 5, 0, kStartFromOutput, {10, 0, 10});
  EXPECT_FLOAT_EQ(got[0] - got[1], 10.0f);
  EXPECT_FLOAT_EQ(got[2] - got[1], 2.5f);
  EXPECT_NEAR(got[0] + got[1] + got[2], 0.0f, 1e-5);  // the offset refits the level
  // Within the budget nothing is scaled.
  const Line kept = Fit(true, f, 25, 0, kStartFromOutput, {10, 0, 10});
  EXPECT_FLOAT_EQ(kept[0] - kept[1], 10.0f);
  EXPECT_FLOAT_EQ(kept[2] - kept[1], 10.0f);
}

TEST(TvqLineTest, PositiveStartIsAMultipleOfTheLine) {
  const Line f = {2, 6, 4};
  // With no steps the result is start * f plus the offset that restores the mean.
  const Line got = Fit(false, f, 100, 0, 0.5f);
  EXPECT_EQ(got, (Line{1 + 2, 3 + 2, 2 + 2}));
}

}  // namespace
}  // namespace tvq
