// The fast deringing kernels and routines against the plain reference loops, bit
// for bit, under every thread count and with SIMD on and off.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <hwy/targets.h>

#include "common/kernel_modes.h"
#include "deringing/dering.h"
#include "deringing/deringglobal.h"
#include "deringing/deringlocal.h"
#include "deringing/tvqline.h"
#include "deringing/tvqline_kernels.h"

namespace tvq {
namespace {

using test::KernelConfig;
using test::ScopedKernels;

// Lines of n samples: random values, or whole numbers from a small set (exact ties
// in the candidate scans and zero differences).
std::vector<float> RandomLines(std::int32_t n, std::int32_t count, std::uint32_t seed, bool ties) {
  const TImageF plane = test::RandomPlane(n, count, seed, ties);
  std::vector<float> lines;
  for (std::int32_t i = 0; i < count; ++i)
    lines.insert(lines.end(), plane.Row(i), plane.Row(i) + n);
  return lines;
}

// Every SIMD target compiled in and supported here (the portable scalar lanes
// included) fits each line of a batch exactly as the one-line kernel does, and so
// does the one-line kernel of shorter chains.
TEST(DeringFastTest, BatchedLinesEqualOneLineFits) {
  const std::vector<std::int64_t> targets = hwy::SupportedAndGeneratedTargets();
  ASSERT_FALSE(targets.empty());
  struct Case {
    std::int32_t n;
    bool ties;
    float factor;  // budget = factor * the line's variation; 0 gives a zero budget
    std::int32_t iterations;
    float scale = 1.0f;  // 1e17: squared errors overflow the float range
  };
  const Case cases[] = {{1, false, 1.0f, 50},         {2, false, 0.5f, 50},   {3, true, 1.0f, 50},
                        {5, true, 0.0f, 50},          {11, false, 0.3f, 200}, {11, true, 1.0f, 200},
                        {17, false, 2.0f, 1},         {40, false, 0.7f, 60},  {9, false, 1.0f, 0},
                        {11, false, 0.05f, 50, 1e17f}};
  const std::int32_t count = 37;  // not a multiple of any lane count
  std::vector<double> scratch;
  for (const Case& k : cases)
    for (bool refit : {true, false})
      for (float start : {kStartZero, kStartFromOutput, 0.5f})
        for (std::int64_t target : targets) {
          std::vector<float> f = RandomLines(k.n, count, 11u + k.n, k.ties);
          for (float& v : f) v *= k.scale;
          const std::vector<float> u0 = RandomLines(k.n, count, 99u + k.n, k.ties);
          std::vector<float> T(count);
          for (std::int32_t i = 0; i < count; ++i)
            T[i] = k.factor * LineVariation(f.data() + i * k.n, k.n);
          std::vector<float> expected = u0;
          for (std::int32_t i = 0; i < count; ++i)
            (refit ? TvqLineRefit : TvqLineFixed)(f.data() + i * k.n, expected.data() + i * k.n,
                                                  T[i], k.n, k.iterations, start);
          std::vector<float> actual = u0;
          hwy::SetSupportedTargetsForTest(target);
          TvqLinesBatch(f.data(), actual.data(), T.data(), k.n, count, k.iterations, start, refit,
                        scratch);
          SetSimdEnabled(SimdEnabled());  // back to the usual dispatch
          std::vector<float> chained = u0;
          for (std::int32_t i = 0; i < count; ++i)
            (refit ? TvqLineChainedRefit : TvqLineChainedFixed)(
                f.data() + i * k.n, chained.data() + i * k.n, T[i], k.n, k.iterations, start);
          EXPECT_EQ(std::memcmp(expected.data(), chained.data(), sizeof(float) * expected.size()),
                    0)
              << "one line at a time, n " << k.n << " ties " << k.ties << " factor " << k.factor
              << " refit " << refit << " start " << start;
          EXPECT_EQ(std::memcmp(expected.data(), actual.data(), sizeof(float) * expected.size()), 0)
              << "n " << k.n << " ties " << k.ties << " factor " << k.factor << " refit " << refit
              << " start " << start << " target " << hwy::TargetName(target);
        }
}

// A routine of the folder on an image (in place) with its half-size reference.
struct Routine {
  const char* name;
  bool guided;  // the image must measure twice the reference
  bool source;  // also compared with "Source" starts
  std::function<void(TImageF&, const TImageF&, std::int32_t initial, Progress&)> run;
};

const std::vector<Routine>& Routines() {
  static const std::vector<Routine> routines = {
      {"global", false, true,
       [](TImageF& i, const TImageF&, std::int32_t ini, Progress& p) {
         DeringGlobal(i, {50, ini, 0.8f}, true, p);
       }},
      {"global fixed", false, false,
       [](TImageF& i, const TImageF&, std::int32_t ini, Progress& p) {
         DeringGlobalFixed(i, {50, ini, 1.0f}, p);
       }},
      {"global guided", true, false,
       [](TImageF& i, const TImageF& r, std::int32_t ini, Progress& p) {
         DeringGlobalGuided(i, r, {50, ini, 0.9f}, true, p);
       }},
      {"global guided fixed", true, false,
       [](TImageF& i, const TImageF& r, std::int32_t ini, Progress& p) {
         DeringGlobalGuidedFixed(i, r, {50, ini, 1.0f}, p);
       }},
      {"windows 5", false, true,
       [](TImageF& i, const TImageF&, std::int32_t ini, Progress& p) {
         DeringPixelWindows(i, {5, 0}, {50, ini, 1.0f}, p);
       }},
      {"windows 9", false, false,
       [](TImageF& i, const TImageF&, std::int32_t ini, Progress& p) {
         DeringPixelWindows(i, {9, 0}, {50, ini, 0.7f}, p);
       }},
      {"windows guided 5", true, false,
       [](TImageF& i, const TImageF& r, std::int32_t ini, Progress& p) {
         DeringPixelWindowsGuided(i, r, {5, 0}, {50, ini, 1.0f}, p);
       }},
      {"windows guided 9", true, false,
       [](TImageF& i, const TImageF& r, std::int32_t ini, Progress& p) {
         DeringPixelWindowsGuided(i, r, {9, 0}, {50, ini, 1.0f}, p);
       }},
      {"blocks 11 step 8", false, true,
       [](TImageF& i, const TImageF&, std::int32_t ini, Progress& p) {
         DeringBlocks(i, {11, 8}, {50, ini, 1.0f}, p);
       }},
      {"blocks 5 step 2", false, false,
       [](TImageF& i, const TImageF&, std::int32_t ini, Progress& p) {
         DeringBlocks(i, {5, 2}, {50, ini, 0.6f}, p);
       }},
      {"blocks guided 11 step 8", true, true,
       [](TImageF& i, const TImageF& r, std::int32_t ini, Progress& p) {
         DeringBlocksGuided(i, r, {11, 8}, {50, ini, 1.0f}, p);
       }},
      {"blocks guided 7 step 4", true, false,
       [](TImageF& i, const TImageF& r, std::int32_t ini, Progress& p) {
         DeringBlocksGuided(i, r, {7, 4}, {50, ini, 1.0f}, p);
       }},
      {"low-resolution clamp", true, false,
       [](TImageF& i, const TImageF& r, std::int32_t, Progress&) { LowResRangeClamp(i, r); }},
  };
  return routines;
}

// Every routine (with both starts where "Source" takes another path) on every
// comparison size (exact ties on every other
// size, a bottom-up strided view on one), equals its reference loops bit for bit.
TEST(DeringFastTest, RoutinesEqualTheReferenceLoops) {
  const auto sizes = test::ComparisonSizes();
  for (const Routine& routine : Routines())
    for (std::size_t s = 0; s < sizes.size(); ++s)
      for (std::int32_t initial : {kDeringZeroInit, kDeringSource}) {
        if (initial == kDeringSource && !routine.source) continue;
        auto [w, h] = sizes[s];
        const TImageF reference = test::RandomPlane(std::max(1, w / 2), std::max(1, h / 2),
                                                    7u + static_cast<std::uint32_t>(s), s % 2);
        if (routine.guided) {
          w = 2 * reference.Width();
          h = 2 * reference.Height();
        }
        const TImageF plane =
            test::RandomPlane(w, h, 3u + static_cast<std::uint32_t>(s), s % 2 == 1);
        const bool view = s == 3;
        test::CompareWithReference(
            [&] {
              std::vector<float> storage;
              TImageF image = view ? test::BottomUpView(plane, storage) : plane.Clone();
              NullProgress progress;
              routine.run(image, reference, initial, progress);
              return image.Clone();
            },
            [&](const TImageF& expected, const TImageF& actual, const std::string& config) {
              EXPECT_TRUE(test::SameBits(expected, actual))
                  << routine.name << ", " << w << " x " << h << ", initial " << initial << ", "
                  << config;
            });
      }
}

// Records the progress calls and turns STOP on from poll `stopAt` on.
class StopAtPoll : public Progress {
 public:
  explicit StopAtPoll(int stopAt) : stopAt_(stopAt) {}
  void ShowProgress(const std::string&, std::int32_t position, std::int32_t) override {
    positions.push_back(position);
  }
  bool StopRequested() override { return ++polls >= stopAt_; }
  std::vector<std::int32_t> positions;
  int polls = 0;

 private:
  int stopAt_;
};

// A STOP at a given poll leaves the image, the polls and the progress reports as the
// reference loops leave them (all rows written before the stop for the global
// routines, the image untouched for the local ones).
TEST(DeringFastTest, StopLeavesWhatTheReferenceLoopsLeave) {
  const TImageF reference = test::RandomPlane(12, 9, 5);
  const TImageF plane = test::RandomPlane(24, 18, 6);
  for (const Routine& routine : Routines())
    for (int stopAt : {1, 7, 60}) {
      auto run = [&](const KernelConfig& config) {
        ScopedKernels guard(config);
        TImageF image = plane.Clone();
        StopAtPoll progress(stopAt);
        routine.run(image, reference, kDeringZeroInit, progress);
        return std::make_tuple(std::move(image), progress.polls, progress.positions);
      };
      const auto [expected, polls, positions] = run({true, 1, true});
      const auto [actual, fastPolls, fastPositions] = run({false, 2, true});
      EXPECT_TRUE(test::SameBits(expected, actual)) << routine.name << " " << stopAt;
      EXPECT_EQ(polls, fastPolls) << routine.name << " " << stopAt;
      EXPECT_EQ(positions, fastPositions) << routine.name << " " << stopAt;
    }
}

}  // namespace
}  // namespace tvq
