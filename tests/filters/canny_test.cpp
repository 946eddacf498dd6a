#include "filters/canny.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

#include "common/images.h"
#include "common/kernel_modes.h"

namespace tvq {
namespace {

struct LineCase {
  std::vector<float> magnitude;
  std::vector<int> marked;
};

class RidgeLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(RidgeLineTest, MarksMiddlesOfRidgeRuns) {
  const LineCase& c = GetParam();
  const int n = static_cast<int>(c.magnitude.size());
  std::vector<std::uint8_t> marks(n + 1, 0);
  marks[n] = 77;  // guard
  MarkRidgeLine(c.magnitude.data(), n, marks.data());
  std::vector<int> got;
  for (int i = 0; i < n; ++i)
    if (marks[i]) got.push_back(i);
  EXPECT_EQ(got, c.marked);
  EXPECT_EQ(marks[n], 77);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RidgeLineTest,
    ::testing::Values(LineCase{{0, 10, 20, 20, 20, 10, 0}, {3}},  // odd plateau
                      LineCase{{0, 10, 20, 20, 10, 0}, {2, 3}},   // even plateau
                      LineCase{{0, 9, 9, 9, 9, 9, 0}, {3}},       // long plateau
                      LineCase{{0, 20, 20, 20, 20, 0}, {2, 3}},   // even, length 4
                      LineCase{{0, 8, 0}, {}},                    // exactly 8
                      LineCase{{0, 8.001f, 0}, {1}},              // just above 8
                      LineCase{{50, 10, 0, 0, 30}, {}},           // ends never marked
                      LineCase{{0, 10, 20, 30, 30}, {3}},         // run to the end
                      LineCase{{0, 30, 0, 30, 0}, {1, 3}},        // two separate ridges
                      LineCase{{100, 100}, {}}, LineCase{{100}, {}}, LineCase{{}, {}}));

// A grey picture with a step from 0 to 200 between column (or row) 7 and 8.
TImageC4 Step(int w, int h, bool vertical) {
  TImageC4 img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint8_t v = (vertical ? x : y) >= 8 ? 200 : 0;
      std::uint8_t* p = img.Pixel(x, y);
      p[0] = p[1] = p[2] = v;
      p[3] = 9;
    }
  return img;
}

TEST(CannyTest, VerticalStepIsMarkedInEveryRow) {
  TImageC4 src = Step(16, 8, true);
  TImageB dst(16, 8);
  *dst.Pixel(0, 0) = 5;
  CannyEdgeMap(src, dst, 1.5);
  for (int y = 0; y < 8; ++y) {
    EXPECT_TRUE(*dst.Pixel(7, y) || *dst.Pixel(8, y)) << y;
    for (int x : {0, 1, 2, 13, 14, 15}) EXPECT_EQ(*dst.Pixel(x, y), 0) << x << "," << y;
    // First and last column keep their colour; the fourth byte holds the grey level.
    EXPECT_EQ(src.Pixel(0, y)[0], 0);
    EXPECT_EQ(src.Pixel(0, y)[3], 0);
    EXPECT_EQ(src.Pixel(15, y)[2], 200);
    EXPECT_EQ(src.Pixel(15, y)[3], 200);
    // Inside, the picture shows 2 * magnitude in all four bytes: dark far away, bright at
    // the step.
    for (int x = 1; x < 15; ++x)
      for (int k = 1; k < 4; ++k) EXPECT_EQ(src.Pixel(x, y)[k], src.Pixel(x, y)[0]);
    EXPECT_EQ(src.Pixel(1, y)[0], 0);
    EXPECT_EQ(src.Pixel(14, y)[0], 0);
    EXPECT_GT(src.Pixel(7, y)[0], 150);
  }
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) EXPECT_LE(*dst.Pixel(x, y), 1);
}

TEST(CannyTest, HorizontalStepIsMarkedInEveryColumn) {
  TImageC4 src = Step(6, 16, false);
  TImageB dst(6, 16);
  CannyEdgeMap(src, dst, 1.5);
  for (int x = 0; x < 6; ++x) {
    EXPECT_TRUE(*dst.Pixel(x, 7) || *dst.Pixel(x, 8)) << x;
    for (int y : {0, 1, 2, 13, 14, 15}) EXPECT_EQ(*dst.Pixel(x, y), 0);
  }
}

TEST(CannyTest, ColourIsReadAsGrey) {
  TImageC4 src(3, 3);
  TImageB dst(3, 3);
  src.Pixel(0, 1)[0] = 255;  // blue 255 -> grey 29.07 -> 29
  src.Pixel(2, 2)[2] = 255;  // red 255 -> grey 76.245 -> 76
  CannyEdgeMap(src, dst, 1.0);
  EXPECT_EQ(src.Pixel(0, 1)[3], 29);
  EXPECT_EQ(src.Pixel(2, 2)[3], 76);
}

TEST(CannyTest, RejectsBadArgumentsBeforeWriting) {
  TImageC4 src = Step(16, 8, true);
  TImageB wrong(16, 9), dst(16, 8);
  *wrong.Pixel(3, 3) = 4;
  EXPECT_EQ(test::CodeOf([&] { CannyEdgeMap(src, wrong, 1.5); }), ecBadSize);
  EXPECT_THROW(CannyEdgeMap(src, dst, 0.0), std::invalid_argument);
  EXPECT_THROW(CannyEdgeMap(src, dst, -1.0), std::invalid_argument);
  EXPECT_EQ(*wrong.Pixel(3, 3), 4);
  EXPECT_EQ(src.Pixel(3, 3)[3], 9);
}

// A view of random four-byte pixels stored bottom-up with padded rows in `storage`; with
// ties, every byte is one of four levels, so equal neighbours and plateaus are common.
TImageC4 BottomUpPicture(int w, int h, bool ties, std::vector<std::uint8_t>& storage) {
  const std::size_t pitch = 4 * static_cast<std::size_t>(w) + 8;
  storage.assign(pitch * h, 0);
  std::mt19937 rng(static_cast<unsigned>(w * 31 + h));
  for (auto& byte : storage) byte = static_cast<std::uint8_t>(ties ? 64 * (rng() % 4) : rng());
  TImageDesc d{w, h,   storage.data() + pitch * (h - 1), -static_cast<std::ptrdiff_t>(pitch),
               4, ifC4};
  TImageC4 view;
  view.Attach(d);
  return view;
}

TEST(CannyCompareTest, FastEqualsReference) {
  for (auto [w, h] : test::ComparisonSizes())
    for (bool ties : {false, true})
      for (double sigma : {0.6, 1.5}) {
        // The edge marks and the picture the edge map leaves behind.
        auto run = [&] {
          std::vector<std::uint8_t> storage;
          TImageC4 picture = BottomUpPicture(w, h, ties, storage);
          TImageB edges(w, h);
          CannyEdgeMap(picture, edges, sigma);
          std::vector<std::uint8_t> bytes;
          for (int y = 0; y < h; ++y) {
            bytes.insert(bytes.end(), edges.Row(y), edges.Row(y) + w);
            bytes.insert(bytes.end(), picture.Row(y), picture.Row(y) + 4 * w);
          }
          return bytes;
        };
        test::CompareWithReference(
            run, [&](const auto& expected, const auto& actual, const std::string& name) {
              EXPECT_TRUE(expected == actual)
                  << name << ", " << w << "x" << h << (ties ? " ties" : "") << " sigma " << sigma;
            });
      }
}

}  // namespace
}  // namespace tvq
