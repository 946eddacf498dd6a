#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common/images.h"
#include "deringing/dering.h"
#include "deringing/deringglobal.h"
#include "deringing/deringlocal.h"
#include "imaging/imagefmt.h"
#include "imaging/progress.h"

namespace tvq {
namespace {

TImageF FromRows(const std::vector<std::vector<float>>& rows) {
  TImageF img(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
  for (int y = 0; y < img.Height(); ++y)
    for (int x = 0; x < img.Width(); ++x) img.Row(y)[x] = rows[y][x];
  return img;
}

std::vector<std::vector<float>> Rows(const TImageF& img) {
  std::vector<std::vector<float>> rows(img.Height());
  for (int y = 0; y < img.Height(); ++y) rows[y].assign(img.Row(y), img.Row(y) + img.Width());
  return rows;
}

// A plane with ringing beside a vertical edge, identical in every row.
TImageF RingingPlane(int w, int h) {
  TImageF img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int d = x - w / 2;
      const float ring = d == -2 || d == 1 ? 14.0f : d == -1 || d == 2 ? -12.0f : 0.0f;
      img.Row(y)[x] = (d < 0 ? 60.0f : 180.0f) + (d < 0 ? ring : -ring);
    }
  return img;
}

double RingingError(const TImageF& img) {
  double e = 0;
  for (int y = 0; y < img.Height(); ++y)
    for (int x = 0; x < img.Width(); ++x) {
      const double ideal = x < img.Width() / 2 ? 60 : 180;
      e += (img.Row(y)[x] - ideal) * (img.Row(y)[x] - ideal);
    }
  return e;
}

TEST(DeringParamsTest, DefaultsAndCaptions) {
  const DeringParams p;
  EXPECT_NO_THROW(p.Validate());
  EXPECT_STREQ(kDeringMethodCaptions[p.method], "Local, 11x11, step 8");
  EXPECT_STREQ(kDeringInitialCaptions[p.initial], "Zero init");
  EXPECT_EQ(p.iterations, 200);
  EXPECT_EQ(p.factor, 1.0f);
  EXPECT_STREQ(kDeringMethodCaptions[0], "Global, modified");
  EXPECT_STREQ(kDeringMethodCaptions[14], "Local, simpliest");
  for (int i = 0; i < kDeringMethodCount; ++i)
    EXPECT_EQ(DeringMethodFromCaption(kDeringMethodCaptions[i]), i);
  EXPECT_EQ(DeringMethodFromCaption("Local, 11x11"), -1);
}

TEST(DeringParamsTest, ValidateRefusesOutOfRangeValues) {
  auto with = [](auto change) {
    DeringParams p;
    change(p);
    return p;
  };
  // Each refusal names the dialog caption of the value.
  const std::pair<DeringParams, const char*> bad[] = {
      {with([](DeringParams& p) { p.method = -1; }), "Method: "},
      {with([](DeringParams& p) { p.method = 15; }), "Method: "},
      {with([](DeringParams& p) { p.initial = 2; }), "Initial: "},
      {with([](DeringParams& p) { p.iterations = 49; }), "Iterations: "},
      {with([](DeringParams& p) { p.iterations = 32768; }), "Iterations: "},
      {with([](DeringParams& p) { p.factor = std::numeric_limits<float>::quiet_NaN(); }),
       "Factor: "},
      {with([](DeringParams& p) { p.factor = std::numeric_limits<float>::infinity(); }),
       "Factor: "},
      {with([](DeringParams& p) { p.factor = -0.5f; }), "Factor: "},
  };
  for (const auto& [p, caption] : bad) {
    const std::string message = test::MessageOf<std::invalid_argument>([&] { p.Validate(); });
    EXPECT_EQ(message.rfind(caption, 0), 0u)
        << "method " << p.method << " iterations " << p.iterations << ": " << message;
  }
  const DeringParams good[] = {
      with([](DeringParams& p) { p.iterations = 50; }),
      with([](DeringParams& p) { p.iterations = 32767; }),
      with([](DeringParams& p) { p.iterations = 500; }),
      with([](DeringParams& p) { p.factor = 0.0f; }),
      with([](DeringParams& p) { p.factor = 100.0f; }),
      with([](DeringParams& p) { p.method = 14, p.initial = 1; }),
  };
  for (const DeringParams& p : good) EXPECT_NO_THROW(p.Validate());
}

// Every method of the Deringing command's column on a ringing plane.
class DeringLumaTest : public ::testing::TestWithParam<int> {};

TEST_P(DeringLumaTest, ReducesRingingOrLeavesTheSimplestUnchanged) {
  DeringParams params;
  params.method = GetParam();
  params.iterations = 50;
  TImageF img = RingingPlane(16, 12);
  const double before = RingingError(img);
  NullProgress progress;
  DeringLuma(img, params, progress);
  if (params.method == kDeringSimplestMethod) {
    EXPECT_EQ(Rows(img), Rows(RingingPlane(16, 12)));
  } else if (params.method == 1) {
    // The fixed offset pins each line's last sample to the line mean; it still
    // has to run and give finite values.
    for (const auto& row : Rows(img))
      for (float v : row) EXPECT_TRUE(std::isfinite(v));
  } else {
    EXPECT_LT(RingingError(img), 0.75 * before) << kDeringMethodCaptions[params.method];
  }
}

TEST_P(DeringLumaTest, GuidedColumnReducesRingingOfAnEnlargedPlane) {
  DeringParams params;
  params.method = GetParam();
  params.iterations = 50;
  TImageF img = RingingPlane(16, 12);
  TImageF ref(8, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) ref.Row(y)[x] = x < 4 ? 60.0f : 180.0f;
  const double before = RingingError(img);
  NullProgress progress;
  DeringEnlargedLuma(img, ref, params, progress);
  if (params.method != 1) {
    EXPECT_LT(RingingError(img), 0.75 * before) << kDeringMethodCaptions[params.method];
  }
}

INSTANTIATE_TEST_SUITE_P(AllMethods, DeringLumaTest, ::testing::Range(0, kDeringMethodCount));

// Each "Method:" item runs its routine with the window or block of its caption.
struct CatalogueRow {
  int method;
  std::function<void(TImageF&, const DeringParams&, Progress&)> plain;
  std::function<void(TImageF&, const TImageF&, const DeringParams&, Progress&)> guided;
};

CatalogueRow Blocks(int method, int side, int step) {
  return {method,
          [=](TImageF& i, const DeringParams& p, Progress& pr) {
            DeringBlocks(i, {side, step}, p.Fit(), pr);
          },
          [=](TImageF& i, const TImageF& r, const DeringParams& p, Progress& pr) {
            DeringBlocksGuided(i, r, {side, step}, p.Fit(), pr);
          }};
}

CatalogueRow Windows(int method, int n) {
  return {method,
          [=](TImageF& i, const DeringParams& p, Progress& pr) {
            DeringPixelWindows(i, {n, 0}, p.Fit(), pr);
          },
          [=](TImageF& i, const TImageF& r, const DeringParams& p, Progress& pr) {
            DeringPixelWindowsGuided(i, r, {n, 0}, p.Fit(), pr);
          }};
}

TEST(DeringDispatchTest, EveryItemRunsItsRoutine) {
  const CatalogueRow rows[] = {
      {0,
       [](TImageF& i, const DeringParams& p, Progress& pr) { DeringGlobal(i, p.Fit(), true, pr); },
       [](TImageF& i, const TImageF& r, const DeringParams& p, Progress& pr) {
         DeringGlobalGuided(i, r, p.Fit(), true, pr);
       }},
      {1,
       [](TImageF& i, const DeringParams& p, Progress& pr) { DeringGlobalFixed(i, p.Fit(), pr); },
       [](TImageF& i, const TImageF& r, const DeringParams& p, Progress& pr) {
         DeringGlobalGuidedFixed(i, r, p.Fit(), pr);
       }},
      Windows(2, 5),
      Windows(3, 9),
      Blocks(4, 5, 2),
      Blocks(5, 7, 2),
      Blocks(6, 7, 4),
      Blocks(7, 9, 4),
      Blocks(8, 9, 6),
      Blocks(9, 11, 6),
      Blocks(10, 11, 8),
      Blocks(11, 15, 8),
      Blocks(12, 15, 10),
      Blocks(13, 15, 12),
  };
  // Two-dimensional content, so that neighbouring windows and block grids differ.
  TImageF plane = RingingPlane(24, 18);
  for (int y = 0; y < plane.Height(); ++y)
    for (int x = 0; x < plane.Width(); ++x)
      plane.Row(y)[x] += static_cast<float>((x * 7 + y * 13) % 11) + (y % 5 == 0 ? 30.0f : 0.0f);
  TImageF ref(12, 9);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 12; ++x) ref.Row(y)[x] = *plane.Pixel(2 * x, 2 * y);
  NullProgress progress;
  for (const CatalogueRow& row : rows) {
    DeringParams params;
    params.method = row.method;
    params.iterations = 50;
    params.initial = 1;
    params.factor = 0.75f;
    TImageF viaCatalogue = plane.Clone();
    TImageF direct = plane.Clone();
    DeringLuma(viaCatalogue, params, progress);
    row.plain(direct, params, progress);
    EXPECT_EQ(Rows(viaCatalogue), Rows(direct)) << kDeringMethodCaptions[row.method];
    viaCatalogue = plane.Clone();
    direct = plane.Clone();
    DeringEnlargedLuma(viaCatalogue, ref, params, progress);
    row.guided(direct, ref, params, progress);
    EXPECT_EQ(Rows(viaCatalogue), Rows(direct)) << kDeringMethodCaptions[row.method] << " guided";
  }
}

TEST(DeringDispatchTest, ValidatesAndChecksSizes) {
  DeringParams params;
  NullProgress progress;
  TImageF img = RingingPlane(8, 6);
  params.method = 15;
  EXPECT_THROW(DeringLuma(img, params, progress), std::invalid_argument);
  params.method = 14;
  TImageF ref(4, 4);
  EXPECT_THROW(DeringEnlargedLuma(img, ref, params, progress), EZorException);
  TImageF empty;
  EXPECT_THROW(DeringLuma(empty, params, progress), EZorException);
}

// Reference Y(0,0) = 0, Y(1,0) = 10, Y(0,1) = 20, Y(1,1) = 40.
const TImageF kReference = FromRows({{0, 10}, {20, 40}});

TEST(LowResRangeClampTest, ClampsIntoTheNeighbourRanges) {
  TImageF high = FromRows(std::vector<std::vector<float>>(4, std::vector<float>(4, 1000.0f)));
  LowResRangeClamp(high, kReference);
  EXPECT_EQ(Rows(high),
            (std::vector<std::vector<float>>{
                {20, 10, 40, 10}, {20, 40, 40, 40}, {40, 40, 40, 40}, {20, 40, 40, 40}}));
  TImageF low = FromRows(std::vector<std::vector<float>>(4, std::vector<float>(4, -1000.0f)));
  LowResRangeClamp(low, kReference);
  EXPECT_EQ(Rows(low), (std::vector<std::vector<float>>{
                           {0, 0, 0, 10}, {0, 0, 10, 10}, {0, 20, 10, 40}, {20, 20, 40, 40}}));
}

TEST(LowResRangeClampTest, KeepsValuesInsideTheRangeAndIsTheSimplestGuidedMethod) {
  TImageF mid = FromRows(std::vector<std::vector<float>>(4, std::vector<float>(4, 15.0f)));
  TImageF viaCatalogue = mid.Clone();
  LowResRangeClamp(mid, kReference);
  EXPECT_EQ(mid.Row(1)[1], 15.0f);  // range 0 .. 40
  EXPECT_EQ(mid.Row(0)[3], 10.0f);  // range 10 .. 10
  EXPECT_EQ(mid.Row(3)[0], 20.0f);  // range 20 .. 20
  DeringParams params;
  params.method = kDeringSimplestMethod;
  NullProgress progress;
  DeringEnlargedLuma(viaCatalogue, kReference, params, progress);
  EXPECT_EQ(Rows(viaCatalogue), Rows(mid));
  TImageF wrong(5, 4);
  EXPECT_THROW(LowResRangeClamp(wrong, kReference), EZorException);
}

}  // namespace
}  // namespace tvq
