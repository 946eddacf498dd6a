#include "filters/filterbase.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "common/images.h"
#include "common/kernel_modes.h"
#include "imaging/imagefmt.h"

namespace tvq {
namespace {

using PassFn = void (*)(const TImageBase&, TImageBase&, const float*, std::int32_t, std::int32_t);

using test::CodeOf;

using test::PaddedDesc;

// Fills the pixels of a view with random values of its format (floats with fractions).
void FillRandom(const TImageDesc& d, std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_real_distribution<float> real(-300.0f, 300.0f);
  // Rarely a value whose sums overflow or turn into infinities (no NaN inputs: when two
  // different NaNs meet, which one an addition keeps depends on the operand order the
  // compiler picks).
  const float special[] = {3e38f, -3e38f, std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity()};
  std::uniform_int_distribution<int> pick(0, 400);
  for (int y = 0; y < d.height; ++y) {
    std::uint8_t* row = d.Row(y);
    if (d.format == ifF || d.format == ifF4) {
      for (int i = 0; i < d.width * d.pixelSize / 4; ++i) {
        const int k = pick(rng);
        const float v = k < static_cast<int>(std::size(special)) ? special[k] : real(rng);
        std::memcpy(row + 4 * i, &v, 4);
      }
    } else {
      for (int i = 0; i < d.width * d.pixelSize; ++i) row[i] = static_cast<std::uint8_t>(byte(rng));
    }
  }
}

TEST(PassTest, RowOfThreeWithFiveEqualTaps) {
  // Edge replication: the first output averages 10, 10, 10, 20, 30.
  const float kernel[5] = {0.2f, 0.2f, 0.2f, 0.2f, 0.2f};
  TImageF row(3, 1), out(3, 1);
  row.Row(0)[0] = 10;
  row.Row(0)[1] = 20;
  row.Row(0)[2] = 30;
  HorizontalPass(row, out, kernel, 5, 2);
  EXPECT_FLOAT_EQ(out.Row(0)[0], 16.0f);
  EXPECT_FLOAT_EQ(out.Row(0)[1], 20.0f);
  EXPECT_FLOAT_EQ(out.Row(0)[2], 24.0f);

  TImageF column(1, 3), outColumn(1, 3);
  for (int y = 0; y < 3; ++y) *column.Pixel(0, y) = row.Row(0)[y];
  VerticalPass(column, outColumn, kernel, 5, 2);
  for (int y = 0; y < 3; ++y) EXPECT_EQ(*outColumn.Pixel(0, y), out.Row(0)[y]);
}

TEST(PassTest, SumsAreSinglePrecisionInTapOrder) {
  // 1e8 + 1 + 1 + 1 - 1e8: a float running sum loses every 1 (1e8 + 1 rounds back to 1e8);
  // a double sum would give 3.
  const float kernel[5] = {1, 1, 1, 1, -1};
  TImageF src(5, 1), out(5, 1);
  const float values[5] = {1e8f, 1, 1, 1, 1e8f};
  for (int x = 0; x < 5; ++x) src.Row(0)[x] = values[x];
  HorizontalPass(src, out, kernel, 5, 2);
  EXPECT_EQ(out.Row(0)[2], 0.0f);
}

TEST(PassTest, CorrelatesWithoutMirroring) {
  // Tap 0 weighs the sample at offset -radius: the output is the row shifted right.
  const float kernel[3] = {1, 0, 0};
  TImageF src(4, 2), out(4, 2);
  for (int x = 0; x < 4; ++x) src.Row(0)[x] = src.Row(1)[x] = static_cast<float>(x + 1);
  HorizontalPass(src, out, kernel, 3, 1);
  const float expected[4] = {1, 1, 2, 3};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(out.Row(1)[x], expected[x]);

  TImageF col(1, 4), outCol(1, 4);
  for (int y = 0; y < 4; ++y) col.Row(y)[0] = static_cast<float>(y + 1);
  VerticalPass(col, outCol, kernel, 3, 1);
  for (int y = 0; y < 4; ++y) EXPECT_EQ(outCol.Row(y)[0], expected[y]);
}

TEST(PassTest, WidthOneReadsTheSingleColumn) {
  const float kernel[5] = {1, 2, 3, 4, 5};
  TImageF src(1, 2), out(1, 2);
  src.Row(0)[0] = 2;
  src.Row(1)[0] = -1;
  HorizontalPass(src, out, kernel, 5, 2);
  EXPECT_EQ(out.Row(0)[0], 30.0f);
  EXPECT_EQ(out.Row(1)[0], -15.0f);
}

TEST(PassTest, DoublingKernelScalesFloatsAndSaturatesBytes) {
  const float kernel[3] = {0.5f, 1.0f, 0.5f};
  TImageF f(2, 2), fOut(2, 2);
  for (int i = 0; i < 4; ++i) f.Row(i / 2)[i % 2] = 100;
  HorizontalPass(f, fOut, kernel, 3, 1);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(fOut.Row(i / 2)[i % 2], 200.0f);

  TImageC4 c(2, 1), cOut(2, 1);
  const std::uint8_t in[8] = {100, 127, 128, 200, 0, 1, 255, 3};
  std::memcpy(c.Row(0), in, 8);
  VerticalPass(c, cOut, kernel, 3, 1);
  const std::uint8_t expected[8] = {200, 254, 255, 255, 0, 2, 255, 6};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(cOut.Row(0)[i], expected[i]) << i;
}

TEST(PassTest, FourByteToFloatReadsOnlyTheFourthByte) {
  const float kernel[1] = {1.0f};
  TImageC4 c(2, 1);
  const std::uint8_t in[8] = {1, 2, 3, 40, 5, 6, 7, 80};
  std::memcpy(c.Row(0), in, 8);
  TImageF out(2, 1);
  HorizontalPass(c, out, kernel, 1, 0);
  EXPECT_EQ(out.Row(0)[0], 40.0f);
  EXPECT_EQ(out.Row(0)[1], 80.0f);

  std::vector<std::uint8_t> bytes = {9, 250};
  TImageDesc d = {2, 1, bytes.data(), 2, 1, ifByte};
  TImageBase byteView;
  byteView.Attach(d);
  VerticalPass(byteView, out, kernel, 1, 0);
  EXPECT_EQ(out.Row(0)[0], 9.0f);
  EXPECT_EQ(out.Row(0)[1], 250.0f);
}

TEST(PassTest, UnsupportedPairsLeaveTargetUnchanged) {
  const float kernel[1] = {1.0f};
  TImageF4 f4(3, 2);
  TImageF f(3, 2);
  TImageC4 c4(3, 2);
  for (int x = 0; x < 3; ++x) *f.Pixel(x, 1) = 7.0f;
  f4.Pixel(1, 1)[2] = 5.0f;
  for (PassFn pass : {&HorizontalPass, &VerticalPass}) {
    EXPECT_NO_THROW(pass(f4, f, kernel, 1, 0));
    EXPECT_NO_THROW(pass(f, f4, kernel, 1, 0));
    EXPECT_NO_THROW(pass(f, c4, kernel, 1, 0));
    EXPECT_NO_THROW(pass(c4, f4, kernel, 1, 0));
  }
  for (int x = 0; x < 3; ++x) EXPECT_EQ(*f.Pixel(x, 1), 7.0f);
  EXPECT_EQ(f4.Pixel(1, 1)[2], 5.0f);
  EXPECT_EQ(f4.Pixel(1, 1)[0], 0.0f);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(c4.Row(i / 12)[i % 12], 0);
}

TEST(PassTest, MisuseIsReportedBeforeWriting) {
  const float kernel[1] = {1.0f};
  TImageF a(8, 8), b(8, 9);
  *a.Pixel(0, 0) = 1.0f;
  *b.Pixel(0, 0) = 3.0f;
  for (PassFn pass : {&HorizontalPass, &VerticalPass}) {
    EXPECT_EQ(CodeOf([&] { pass(a, b, kernel, 1, 0); }), ecBadSize);
    EXPECT_EQ(CodeOf([&] { pass(TImageF4(8, 8), b, kernel, 1, 0); }), ecBadSize);
    EXPECT_EQ(*b.Pixel(0, 0), 3.0f);
    // A released view keeps its geometry but holds no pixels.
    TImageF released(8, 8);
    released.Release();
    EXPECT_EQ(CodeOf([&] { pass(released, a, kernel, 1, 0); }), ecNoImage);
    EXPECT_THROW(pass(a, a, kernel, 1, 0), std::invalid_argument);
  }
}

struct PassCase {
  int from;
  int to;
};

class PassFormatTest : public ::testing::TestWithParam<PassCase> {};

// Whole numbers from a small set in every lane, so that equal neighbours and exactly equal
// partial sums are common.
void FillTies(const TImageDesc& d, std::mt19937& rng) {
  std::uniform_int_distribution<int> level(0, 3);
  for (int y = 0; y < d.height; ++y) {
    std::uint8_t* row = d.Row(y);
    if (d.format == ifF || d.format == ifF4) {
      for (int i = 0; i < d.width * d.pixelSize / 4; ++i) {
        const float v = 64.0f * static_cast<float>(level(rng));
        std::memcpy(row + 4 * i, &v, 4);
      }
    } else {
      for (int i = 0; i < d.width * d.pixelSize; ++i)
        row[i] = static_cast<std::uint8_t>(64 * level(rng));
    }
  }
}

TEST_P(PassFormatTest, UnitKernelCopiesAndFastMatchesReference) {
  const PassCase c = GetParam();
  std::mt19937 rng(1234);
  const float unit[1] = {1.0f};
  // The comparison sizes, single rows and columns, and rows of more than one column band.
  auto sizes = test::ComparisonSizes();
  sizes.insert(sizes.end(), {{13, 1}, {1, 9}, {2100, 3}});
  for (const test::KernelConfig& config : test::FastConfigs()) {
    test::ScopedKernels kernels(config);
    for (auto [w, h] : sizes)
      for (bool ties : {false, true}) {
        // Bottom-up source rows with padding between them.
        std::vector<std::uint8_t> srcBytes, fastBytes, plainBytes;
        TImageDesc sd = PaddedDesc(srcBytes, w, h, c.from, 4, true);
        (ties ? FillTies : FillRandom)(sd, rng);
        TImageBase src;
        src.Attach(sd);

        if (FormatPixelSize(c.from) == FormatPixelSize(c.to) && c.from != ifByte &&
            !(c.from == ifC4 && c.to == ifF)) {
          // A single weight of 1 copies every channel exactly.
          std::vector<std::uint8_t> copyBytes;
          TImageBase copy;
          copy.Attach(PaddedDesc(copyBytes, w, h, c.to, 8, false));
          HorizontalPass(src, copy, unit, 1, 0);
          for (int y = 0; y < h; ++y)
            EXPECT_EQ(std::memcmp(copy.Rows()[y], src.Rows()[y],
                                  static_cast<std::size_t>(w) * sd.pixelSize),
                      0);
        }

        std::uniform_real_distribution<float> weight(-1.0f, 1.0f);
        // (size, radius): centred kernels, and two whose centre lies elsewhere.
        for (auto [size, radius] :
             {std::pair{1, 0}, {3, 1}, {5, 2}, {11, 5}, {81, 40}, {4, 0}, {3, 6}}) {
          std::vector<float> kernel(size);
          for (float& k : kernel) k = weight(rng);
          // With ties, a symmetric kernel: mirrored taps meet equal samples.
          if (ties)
            for (int k = 0; k < size / 2; ++k) kernel[size - 1 - k] = kernel[k];
          for (bool vertical : {false, true}) {
            // Strided targets: top-down with padding for the fast pass, bottom-up for the
            // reference.
            TImageBase fast, plain;
            fast.Attach(PaddedDesc(fastBytes, w, h, c.to, 12, false));
            plain.Attach(PaddedDesc(plainBytes, w, h, c.to, 12, true));
            std::fill(fastBytes.begin(), fastBytes.end(), 0xAB);
            (vertical ? VerticalPass : HorizontalPass)(src, fast, kernel.data(), size, radius);
            {
              test::ScopedKernels reference({true, 1, true});
              (vertical ? VerticalPass : HorizontalPass)(src, plain, kernel.data(), size, radius);
            }
            const std::size_t rowBytes = static_cast<std::size_t>(w) * FormatPixelSize(c.to);
            for (int y = 0; y < h; ++y) {
              ASSERT_EQ(std::memcmp(fast.Rows()[y], plain.Rows()[y], rowBytes), 0)
                  << config.Name() << ", " << w << "x" << h << (ties ? " ties" : "") << " size "
                  << size << " radius " << radius << " vertical " << vertical << " row " << y;
              // Row padding stays untouched.
              EXPECT_EQ(fast.Rows()[y][rowBytes], 0xAB);
            }
          }
        }
      }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, PassFormatTest,
                         ::testing::Values(PassCase{ifC4, ifC4}, PassCase{ifF4, ifF4},
                                           PassCase{ifF, ifF}, PassCase{ifC4, ifF},
                                           PassCase{ifByte, ifF}),
                         [](const auto& info) {
                           return "From" + std::to_string(info.param.from) + "To" +
                                  std::to_string(info.param.to);
                         });

}  // namespace
}  // namespace tvq
