#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/images.h"
#include "common/progress.h"
#include "deringing/deringglobal.h"
#include "deringing/deringlocal.h"
#include "deringing/tvqline.h"
#include "imaging/imagefmt.h"
#include "imaging/progress.h"

namespace tvq {
namespace {

using test::RecordingProgress;

// Deterministic test pattern with edges and ringing-like wiggles.
TImageF Pattern(int w, int h, std::uint32_t seed = 1) {
  TImageF img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const float noise = static_cast<float>(seed >> 24) / 16.0f;
      img.Row(y)[x] = (x > w / 2 ? 200.0f : 40.0f) + (y % 3 == 0 ? 25.0f : 0.0f) + noise;
    }
  return img;
}

std::vector<float> Pixels(const TImageF& img) {
  std::vector<float> v;
  for (int y = 0; y < img.Height(); ++y)
    for (int x = 0; x < img.Width(); ++x) v.push_back(img.Row(y)[x]);
  return v;
}

double Mean(const TImageF& img) {
  double s = 0;
  for (float v : Pixels(img)) s += v;
  return s / (img.Width() * img.Height());
}

// ---- Global routines ----------------------------------------------------------

// The four global routines behind one signature (the guided ones get `reference`).
struct GlobalCase {
  const char* name;
  bool guided;
  bool fixedOffset;
  std::function<void(TImageF&, const TImageF&, int, int, float, Progress&)> run;
};

const GlobalCase kGlobalCases[] = {
    {"Global", false, false,
     [](TImageF& i, const TImageF&, int it, int ini, float f, Progress& p) {
       DeringGlobal(i, {it, ini, f}, true, p);
     }},
    {"GlobalFixed", false, true,
     [](TImageF& i, const TImageF&, int it, int ini, float f, Progress& p) {
       DeringGlobalFixed(i, {it, ini, f}, p);
     }},
    {"GlobalGuided", true, false,
     [](TImageF& i, const TImageF& r, int it, int ini, float f, Progress& p) {
       DeringGlobalGuided(i, r, {it, ini, f}, true, p);
     }},
    {"GlobalGuidedFixed", true, true,
     [](TImageF& i, const TImageF& r, int it, int ini, float f, Progress& p) {
       DeringGlobalGuidedFixed(i, r, {it, ini, f}, p);
     }},
};

class GlobalRoutineTest : public ::testing::TestWithParam<GlobalCase> {};

TEST_P(GlobalRoutineTest, FactorZeroGivesTheMeanPlane) {
  TImageF img = Pattern(9, 7);
  const TImageF ref = Pattern(5, 4, 7);
  const double mean = Mean(img);
  NullProgress progress;
  GetParam().run(img, ref, 60, 0, 0.0f, progress);
  for (float v : Pixels(img)) EXPECT_NEAR(v, mean, 1e-3 * mean);
}

TEST_P(GlobalRoutineTest, ConstantPlaneIsUnchanged) {
  TImageF img = test::Filled(6, 5, 77.5f);
  const TImageF ref = test::Filled(3, 3, 12.0f);
  NullProgress progress;
  for (int initial : {0, 1}) {
    GetParam().run(img, ref, 50, initial, 1.0f, progress);
    for (float v : Pixels(img)) EXPECT_EQ(v, 77.5f);
  }
}

TEST_P(GlobalRoutineTest, ReducesRingingAndIsDeterministic) {
  // A step with an overshooting wiggle on both sides of the edge in every row.
  TImageF img(16, 8);
  const float row[16] = {50, 50, 50, 50, 50, 44, 58, 40, 210, 192, 206, 200, 200, 200, 200, 200};
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) img.Row(y)[x] = row[x];
  TImageF ref(8, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) ref.Row(y)[x] = x < 4 ? 50.0f : 200.0f;
  TImageF again = img.Clone();
  NullProgress progress;
  GetParam().run(img, ref, 200, 0, 1.0f, progress);
  GetParam().run(again, ref, 200, 0, 1.0f, progress);
  EXPECT_EQ(Pixels(img), Pixels(again));
  // The fixed-offset kernel pins the last sample of every line to the line's mean,
  // so it cannot keep a step edge; only the refitting routines are held to this.
  if (GetParam().fixedOffset) return;
  double before = 0, after = 0;
  for (int x = 0; x < 16; ++x) {
    const double ideal = x < 8 ? 50 : 200;
    before += std::pow(row[x] - ideal, 2);
    after += std::pow(img.Row(3)[x] - ideal, 2);
  }
  EXPECT_LT(after, before) << GetParam().name;
}

TEST_P(GlobalRoutineTest, StopBeforePassFourLeavesImageUnchanged) {
  const int w = 7, h = 5;
  const TImageF ref = Pattern(4, 3, 3);
  for (int stopAt : {1, h, h + w, h + 2 * w}) {  // first line of passes 1, 2 (last of 1), 3, 4
    TImageF img = Pattern(w, h);
    const std::vector<float> before = Pixels(img);
    const int poll = stopAt + (stopAt == 1 ? 0 : 1);
    RecordingProgress progress(poll - 1);
    GetParam().run(img, ref, 50, 0, 1.0f, progress);
    EXPECT_EQ(Pixels(img), before) << "stop at poll " << poll;
  }
}

TEST_P(GlobalRoutineTest, StopInPassFourKeepsTheRowsAlreadyWritten) {
  const int w = 7, h = 5, rowsDone = 2;
  const TImageF ref = Pattern(4, 3, 3);
  TImageF full = Pattern(w, h);
  NullProgress none;
  GetParam().run(full, ref, 50, 0, 1.0f, none);
  TImageF img = Pattern(w, h);
  const TImageF original = img.Clone();
  RecordingProgress progress(h + 2 * w +
                             rowsDone);  // stops at the poll before pass-4 row `rowsDone`
  GetParam().run(img, ref, 50, 0, 1.0f, progress);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      EXPECT_EQ(img.Row(y)[x], (y < rowsDone ? full : original).Row(y)[x]) << x << "," << y;
}

TEST_P(GlobalRoutineTest, ProgressEveryTenthLineOfEachPass) {
  const int w = 23, h = 12;
  TImageF img = Pattern(w, h);
  const TImageF ref = Pattern(12, 6);
  RecordingProgress progress;
  GetParam().run(img, ref, 50, 0, 1.0f, progress);
  std::vector<std::int32_t> expected;
  for (int y = 0; y < h; y += 10) expected.push_back(y);
  for (int x = 0; x < w; x += 10) expected.push_back(h + x);
  for (int x = 0; x < w; x += 10) expected.push_back(w + h + x);
  for (int y = 0; y < h; y += 10) expected.push_back(2 * w + h + y);
  std::vector<std::int32_t> got;
  for (const auto& c : progress.calls) {
    EXPECT_EQ(c.stage, "Deringing");
    EXPECT_EQ(c.maximum, 2 * w + 2 * h);
    got.push_back(c.position);
  }
  EXPECT_EQ(got, expected);
  EXPECT_EQ(progress.polls, 2 * w + 2 * h);
}

TEST_P(GlobalRoutineTest, OnePixelAndOneLineImages) {
  NullProgress progress;
  const TImageF ref = test::Filled(1, 1, 5.0f);
  TImageF dot = test::Filled(1, 1, 123.0f);
  GetParam().run(dot, ref, 50, 1, 1.0f, progress);
  EXPECT_FLOAT_EQ(dot.Row(0)[0], 123.0f);
  TImageF line = Pattern(9, 1);
  GetParam().run(line, ref, 50, 1, 1.0f, progress);
  for (float v : Pixels(line)) EXPECT_TRUE(std::isfinite(v));
  TImageF empty;
  EXPECT_THROW(GetParam().run(empty, ref, 50, 0, 1.0f, progress), EZorException);
}

INSTANTIATE_TEST_SUITE_P(All, GlobalRoutineTest, ::testing::ValuesIn(kGlobalCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DeringGlobalTest, ProgressOnlyWhenAsked) {
  TImageF img = Pattern(12, 11);
  const TImageF ref = Pattern(6, 6);
  RecordingProgress plain, guided;
  DeringGlobal(img, {50, 0, 1.0f}, false, plain);
  DeringGlobalGuided(img, ref, {50, 0, 1.0f}, false, guided);
  EXPECT_TRUE(plain.calls.empty());
  EXPECT_TRUE(guided.calls.empty());
  EXPECT_EQ(plain.polls, 2 * 12 + 2 * 11);  // STOP is still polled before every line
}

TEST(GuidedLineVariationTest, TruncatesHalvesAndClamps) {
  // Reference rows v = (10.7, 12.2, 9.9) and v + 1 = (0, 0, 5.5).
  TImageF ref(3, 2);
  const float rows[2][3] = {{10.7f, 12.2f, 9.9f}, {0.0f, 0.0f, 5.5f}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) ref.Row(y)[x] = rows[y][x];
  EXPECT_EQ(GuidedLineVariation(ref, 0, true), 1.0f + 2.0f);
  EXPECT_EQ(GuidedLineVariation(ref, 1, true), 0.0f + 3.0f);  // floor((1+0)/2) + floor((2+5)/2)
  EXPECT_EQ(GuidedLineVariation(ref, 2, true), 5.0f);
  EXPECT_EQ(GuidedLineVariation(ref, 3, true), 5.0f);  // last odd row: row 2 clamped to 1
  // Columns read the transposed reference the same way.
  TImageF tr(2, 3);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) tr.Row(x)[y] = rows[y][x];
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(GuidedLineVariation(tr, i, false), GuidedLineVariation(ref, i, true)) << i;
}

TEST(DeringGlobalGuidedTest, BudgetComesFromTheReference) {
  // A flat reference gives every line a zero budget: the image becomes its mean,
  // whatever its own variation.
  TImageF img = Pattern(8, 6);
  const double mean = Mean(img);
  NullProgress progress;
  DeringGlobalGuided(img, test::Filled(4, 3, 9.0f), {50, 0, 1.0f}, false, progress);
  for (float v : Pixels(img)) EXPECT_NEAR(v, mean, 1e-3 * mean);
}

// ---- Local routines -----------------------------------------------------------

TEST(TentWeightsTest, KnownSidesAndSymmetry) {
  EXPECT_EQ(TentWeights(5), (std::vector<float>{1 / 3.0f, 2 / 3.0f, 1, 2 / 3.0f, 1 / 3.0f}));
  EXPECT_EQ(TentWeights(7), (std::vector<float>{0.25f, 0.5f, 0.75f, 1, 0.75f, 0.5f, 0.25f}));
  for (int side : {9, 11, 15, 4}) {
    const std::vector<float> w = TentWeights(side);
    ASSERT_EQ(static_cast<int>(w.size()), side);
    for (int k = 0; k < side; ++k) {
      EXPECT_EQ(w[k], w[side - 1 - k]);
      EXPECT_GT(w[k], 0.0f);
    }
    EXPECT_FLOAT_EQ(w[0], 1.0f / ((side + 1) / 2));
  }
}

TEST(SegmentTest, ClampedCopiesAndVariations) {
  TImageF img(3, 2);
  const float rows[2][3] = {{1, 5, 2}, {7, 0, 4}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) img.Row(y)[x] = rows[y][x];
  std::vector<float> seg(6);
  CopyRowSegment(img, -2, 0, 6, seg.data());
  EXPECT_EQ(seg, (std::vector<float>{1, 1, 1, 5, 2, 2}));
  // Repeated edge samples add nothing to the variation.
  EXPECT_EQ(RowSegmentVariation(img, -2, 0, 6), 4.0f + 3.0f);
  CopyColumnSegment(img, 1, -1, 4, seg.data());
  EXPECT_EQ(std::vector<float>(seg.begin(), seg.begin() + 4), (std::vector<float>{5, 5, 0, 0}));
  EXPECT_EQ(ColumnSegmentVariation(img, 1, -1, 4), 5.0f);
  EXPECT_EQ(RowSegmentVariation(img, 0, 1, 1), 0.0f);
}

// Mean of the clamped horizontal window and of the vertical window, averaged:
// what a per-pixel window method gives with zero budgets.
double WindowMeans(const TImageF& img, int x, int y, int n) {
  const int d = (n - 1) / 2;
  double h = 0, v = 0;
  for (int k = -d; k <= d; ++k) {
    h += *img.Pixel(x + k, y);
    v += *img.Pixel(x, y + k);
  }
  return 0.5 * (h / n + v / n);
}

TEST(DeringPixelWindowsTest, ZeroBudgetGivesWindowMeans) {
  for (int n : {5, 9}) {
    const TImageF original = Pattern(7, 6);
    TImageF img = original.Clone();
    NullProgress progress;
    DeringPixelWindows(img, {n, 0}, {50, 0, 0.0f}, progress);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 7; ++x)
        EXPECT_NEAR(img.Row(y)[x], WindowMeans(original, x, y, n), 1e-3)
            << n << ":" << x << "," << y;
  }
}

TEST(DeringPixelWindowsGuidedTest, FlatReferenceGivesWindowMeans) {
  for (int n : {5, 9}) {
    const TImageF original = Pattern(8, 6);
    TImageF img = original.Clone();
    NullProgress progress;
    // initial and factor are ignored: "Source" and factor 3 change nothing here.
    DeringPixelWindowsGuided(img, test::Filled(4, 3, 2.0f), {n, 0}, {50, 1, 3.0f}, progress);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x)
        EXPECT_NEAR(img.Row(y)[x], WindowMeans(original, x, y, n), 1e-3)
            << n << ":" << x << "," << y;
  }
}

// A reference g(x) + h(y): every row window has the variation of g around its
// column, every column window that of h around its row. Even image columns take the
// budget of their reference column, odd ones the mean of it and the next one (the
// same for rows), and each pixel is the mean of its two window centres.
TEST(DeringPixelWindowsGuidedTest, BudgetsFollowTheReferenceWindows) {
  const float g[5] = {10, 30, 12, 40, 40};
  const float hv[4] = {0, 8, 50, 20};
  TImageF ref(5, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) ref.Row(y)[x] = g[x] + hv[y];
  for (int n : {5, 9}) {
    const int d = (n - 1) / 2, c = (n + 1) / 2, e = (c - 1) / 2;
    auto budget = [&](int index, bool along) {  // along x: row windows
      auto at = [&](int i) {
        return along ? RowSegmentVariation(ref, i - e, 0, c)
                     : ColumnSegmentVariation(ref, 0, i - e, c);
      };
      const int i = index / 2;
      return index % 2 == 0 ? at(i) : static_cast<float>(0.5 * (at(i) + double{at(i + 1)}));
    };
    const TImageF original = Pattern(10, 8, 5);
    TImageF img = original.Clone();
    NullProgress progress;
    DeringPixelWindowsGuided(img, ref, {n, 0}, {50, 0, 1.0f}, progress);
    std::vector<float> in(n), out(n);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 10; ++x) {
        CopyRowSegment(original, x - d, y, n, in.data());
        TvqLineRefit(in.data(), out.data(), budget(x, true), n, 50, 0.0f);
        const float across = out[d];
        CopyColumnSegment(original, x, y - d, n, in.data());
        TvqLineRefit(in.data(), out.data(), budget(y, false), n, 50, 0.0f);
        const float sum = static_cast<float>(double{across} + out[d]);
        EXPECT_EQ(img.Row(y)[x], static_cast<float>(sum * 0.5)) << n << ":" << x << "," << y;
      }
  }
}

TEST(DeringPixelWindowsGuidedTest, RequiresTheDoubledSize) {
  TImageF img = Pattern(7, 6);
  NullProgress progress;
  EXPECT_THROW(
      DeringPixelWindowsGuided(img, test::Filled(4, 3, 2.0f), {5, 0}, {50, 0, 1.0f}, progress),
      EZorException);
  EXPECT_THROW(DeringPixelWindows(img, {0, 0}, {50, 0, 1.0f}, progress), std::invalid_argument);
}

// Tent-weighted mean of block means: what a block method gives with zero budgets.
double BlockMeans(const TImageF& img, int side, int step, int px, int py) {
  const std::vector<float> w = TentWeights(side);
  double num = 0, den = 0;
  for (int x0 = 0; x0 < img.Width(); x0 += step)
    for (int y0 = 0; y0 < img.Height(); y0 += step) {
      double mean = 0;
      for (int a = 0; a < side; ++a)
        for (int b = 0; b < side; ++b) mean += *img.Pixel(x0 + a, y0 + b);
      mean /= side * side;
      for (int a = 0; a < side; ++a)
        for (int b = 0; b < side; ++b) {
          const int x = std::min(x0 + a, img.Width() - 1), y = std::min(y0 + b, img.Height() - 1);
          if (x == px && y == py) {
            num += mean * w[a] * w[b];
            den += w[a] * w[b];
          }
        }
    }
  return num / den;
}

TEST(DeringBlocksTest, ZeroBudgetGivesTentWeightedBlockMeans) {
  struct Size {
    int w, h, side, step;
  };
  // Includes an image smaller than the block side.
  for (const Size s : {Size{13, 9, 5, 2}, Size{12, 12, 7, 4}, Size{3, 2, 5, 2}}) {
    const TImageF original = Pattern(s.w, s.h);
    TImageF plain = original.Clone();
    TImageF guided = original.Clone();
    NullProgress progress;
    DeringBlocks(plain, {s.side, s.step}, {50, 0, 0.0f}, progress);
    DeringBlocksGuided(guided, test::Filled((s.w + 1) / 2, (s.h + 1) / 2, 1.0f), {s.side, s.step},
                       {50, 0, 1.0f}, progress);
    for (int y = 0; y < s.h; ++y)
      for (int x = 0; x < s.w; ++x) {
        const double expected = BlockMeans(original, s.side, s.step, x, y);
        EXPECT_NEAR(plain.Row(y)[x], expected, 1e-3) << s.side << ":" << x << "," << y;
        EXPECT_NEAR(guided.Row(y)[x], expected, 1e-3) << s.side << ":" << x << "," << y;
      }
  }
}

TEST(DeringBlocksTest, ConstantIsUnchangedAndBadStepsAreRefused) {
  TImageF img = test::Filled(10, 7, 31.0f);
  RecordingProgress progress;
  DeringBlocks(img, {5, 2}, {50, 1, 1.0f}, progress);
  for (float v : Pixels(img)) EXPECT_NEAR(v, 31.0f, 1e-4);
  ASSERT_EQ(progress.calls.size(), 5u * 4u);
  EXPECT_EQ(progress.calls.back().position, 19);
  EXPECT_EQ(progress.calls.back().maximum, 20);
  EXPECT_THROW(DeringBlocks(img, {5, 0}, {50, 0, 1.0f}, progress), std::invalid_argument);
  EXPECT_THROW(DeringBlocks(img, {5, 6}, {50, 0, 1.0f}, progress), std::invalid_argument);
}

// "Source" makes every fit start from the previous fit of the same call. On a plane
// of identical rows every row then starts from a different line and, with too few
// steps to converge, the rows part; from the zero line every row is fitted alike
// (and the constant columns are kept).
TEST(SourceModeTest, EachFitStartsFromThePreviousOne) {
  const float row[12] = {50, 50, 44, 58, 40, 210, 192, 206, 200, 195, 203, 200};
  TImageF plane(12, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 12; ++x) plane.Row(y)[x] = row[x];
  const std::function<void(TImageF&, int)> runs[] = {
      [](TImageF& i, int ini) {
        NullProgress p;
        DeringGlobal(i, {3, ini, 0.5f}, false, p);
      },
      [](TImageF& i, int ini) {
        NullProgress p;
        DeringGlobalFixed(i, {3, ini, 0.5f}, p);
      },
      [](TImageF& i, int ini) {
        NullProgress p;
        DeringPixelWindows(i, {5, 0}, {3, ini, 0.5f}, p);
      },
  };
  for (std::size_t r = 0; r < std::size(runs); ++r) {
    TImageF zero = plane.Clone();
    TImageF source = plane.Clone();
    runs[r](zero, 0);
    runs[r](source, 1);
    bool parted = false;
    for (int y = 1; y < 6; ++y)
      for (int x = 0; x < 12; ++x) {
        EXPECT_EQ(zero.Row(y)[x], zero.Row(0)[x]) << r << ": " << x << "," << y;
        parted = parted || source.Row(y)[x] != source.Row(0)[x];
      }
    EXPECT_TRUE(parted) << "routine " << r << " started every fit afresh";
  }
}

// STOP in a local routine leaves the image exactly as it was.
TEST(LocalStopTest, LeavesTheImageUnchanged) {
  const TImageF ref = Pattern(6, 5, 9);
  const std::function<void(TImageF&, Progress&)> runs[] = {
      [](TImageF& i, Progress& p) {
        DeringPixelWindows(i, {5, 0}, {50, 0, 1.0f}, p);
      },
      [&](TImageF& i, Progress& p) {
        DeringPixelWindowsGuided(i, ref, {5, 0}, {50, 0, 1.0f}, p);
      },
      [](TImageF& i, Progress& p) {
        DeringBlocks(i, {5, 2}, {50, 0, 1.0f}, p);
      },
      [&](TImageF& i, Progress& p) {
        DeringBlocksGuided(i, ref, {5, 2}, {50, 0, 1.0f}, p);
      },
  };
  for (const auto& run : runs) {
    for (int shows : {1, 2}) {  // stop pressed during the first or second progress call
      TImageF img = Pattern(12, 10);
      const std::vector<float> before = Pixels(img);
      RecordingProgress progress;
      progress.stopAfterShows = static_cast<std::size_t>(shows);
      run(img, progress);
      EXPECT_EQ(Pixels(img), before);
      EXPECT_EQ(static_cast<int>(progress.calls.size()), shows);
    }
  }
}

}  // namespace
}  // namespace tvq
