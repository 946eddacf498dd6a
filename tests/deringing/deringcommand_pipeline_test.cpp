#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <tuple>

#include "common/pictures.h"
#include "common/progress.h"
#include "deringing/deringcommand.h"
#include "imaging/bitmap.h"

namespace tvq {
namespace {

using test::RecordingProgress;
using test::RingingPicture;

// Largest difference between the float result and the picture's channels 0..2.
float MaxChannelDifference(const TImageF4& result, const Bitmap& picture, std::int32_t y0 = 0,
                           std::int32_t y1 = -1) {
  TImageF4 original;
  ImageFromBitmap(picture, ifF4, original);
  if (y1 < 0) y1 = picture.Height();
  float worst = 0.0f;
  for (std::int32_t y = y0; y < y1; ++y)
    for (std::int32_t x = 0; x < picture.Width(); ++x)
      for (int k = 0; k < 3; ++k)
        worst = std::max(worst, std::fabs(result.Pixel(x, y)[k] - original.Pixel(x, y)[k]));
  return worst;
}

// The picture written back as a bitmap equals the input byte for byte.
void ExpectSamePicture(const TImageF4& result, const Bitmap& picture) {
  Bitmap out;
  ImageToBitmap(result, out);
  ASSERT_EQ(out.Width(), picture.Width());
  ASSERT_EQ(out.Height(), picture.Height());
  EXPECT_EQ(out.BitsPerPixel(), 32);
  for (std::int32_t y = 0; y < picture.Height(); ++y)
    for (std::int32_t x = 0; x < picture.Width(); ++x)
      for (int k = 0; k < 3; ++k)
        ASSERT_EQ(out.ScanLine(y)[4 * x + k], picture.ScanLine(y)[3 * x + k])
            << x << "," << y << " channel " << k;
}

TEST(DeringCommandTest, SimplestMethodLeavesTheLumaUnchanged) {
  const Bitmap picture = RingingPicture();
  DeringParams params;
  params.method = kDeringSimplestMethod;
  NullProgress progress;
  const TImageF4 result = Dering(picture, params, nullptr, progress);
  EXPECT_LT(MaxChannelDifference(result, picture), 1e-4f);
  ExpectSamePicture(result, picture);
}

TEST(DeringCommandTest, DeringingChangesTheRingingAndReportsStages) {
  const Bitmap picture = RingingPicture();
  RecordingProgress progress;
  const TImageF4 result = Dering(picture, DeringParams{}, nullptr, progress);
  EXPECT_GT(MaxChannelDifference(result, picture), 1.0f);
  ASSERT_GE(progress.calls.size(), 4u);
  EXPECT_EQ(progress.calls[0], (RecordingProgress::Call{"Initialization", 0, 15}));
  EXPECT_EQ(progress.calls[1], (RecordingProgress::Call{"Initialization", 1, 15}));
  EXPECT_EQ(progress.calls[2], (RecordingProgress::Call{"Converting to YUV", 2, 15}));
  for (std::size_t i = 3; i < progress.calls.size(); ++i)
    EXPECT_EQ(progress.calls[i].stage, "Deringing");
}

TEST(DeringCommandTest, MaskOfZeroRestoresThePicture) {
  const Bitmap picture = RingingPicture();
  EdgeMaskParams mask;
  mask.threshold = 100.0f;
  for (std::int32_t method : {0, kDeringDefaultMethod}) {
    DeringParams params;
    params.method = method;
    NullProgress progress;
    const TImageF4 result = Dering(picture, params, &mask, progress);
    EXPECT_LT(MaxChannelDifference(result, picture), 1e-4f) << "method " << method;
    ExpectSamePicture(result, picture);
  }
}

// STOP before the first line: every routine returns without touching the luma, and
// the pipeline still recombines and returns the whole picture.
class DeringCommandStopTest : public ::testing::TestWithParam<std::tuple<std::int32_t, bool>> {};

TEST_P(DeringCommandStopTest, StopAtOnceGivesThePictureBack) {
  const auto [method, masked] = GetParam();
  const Bitmap picture = RingingPicture();
  DeringParams params;
  params.method = method;
  const EdgeMaskParams mask;
  RecordingProgress progress(0);
  const TImageF4 result = Dering(picture, params, masked ? &mask : nullptr, progress);
  EXPECT_GE(progress.polls, 1);
  EXPECT_LT(MaxChannelDifference(result, picture), 1e-4f);
  ExpectSamePicture(result, picture);
}

INSTANTIATE_TEST_SUITE_P(Methods, DeringCommandStopTest,
                         ::testing::Combine(::testing::Values(0, 1, 2, 4, 10), ::testing::Bool()));

TEST(DeringCommandTest, StopInTheLastPassKeepsTheRowsAlreadyDeringed) {
  // The global routines poll before each of H rows, W columns, W columns and H
  // rows; stopping half-way through the last pass leaves the upper rows deringed.
  const Bitmap picture = RingingPicture();
  const std::int64_t w = picture.Width();
  const std::int64_t h = picture.Height();
  DeringParams params;
  params.method = 0;
  params.factor = 0.5f;
  RecordingProgress progress(h + 2 * w + h / 2);
  const TImageF4 result = Dering(picture, params, nullptr, progress);
  ASSERT_EQ(result.Width(), picture.Width());
  ASSERT_EQ(result.Height(), picture.Height());
  EXPECT_GT(MaxChannelDifference(result, picture, 0, static_cast<std::int32_t>(h / 2)), 1.0f);
  EXPECT_LT(MaxChannelDifference(result, picture, static_cast<std::int32_t>(h / 2)), 1e-4f);
}

TEST(DeringCommandTest, ParametersAreCheckedBeforeThePicture) {
  const Bitmap eightBit(4, 4, 8);
  NullProgress progress;
  DeringParams bad;
  bad.iterations = 49;
  EXPECT_THROW(Dering(eightBit, bad, nullptr, progress), std::invalid_argument);
  EdgeMaskParams badMask;
  badMask.dilationRadius = 21;
  EXPECT_THROW(Dering(eightBit, DeringParams{}, &badMask, progress), std::invalid_argument);
  EXPECT_THROW(EdgeMaskCommand(eightBit, badMask), std::invalid_argument);
  EXPECT_THROW(Dering(eightBit, DeringParams{}, nullptr, progress), EZorException);
  EXPECT_THROW(EdgeMaskCommand(eightBit, EdgeMaskParams{}), EZorException);
}

TEST(EdgeMaskCommandTest, FlatPictureGivesEmptyMaskOfPictureSize) {
  Bitmap flat(9, 7, 32);
  for (std::int32_t y = 0; y < 7; ++y)
    for (std::int32_t x = 0; x < 9 * 4; ++x) flat.ScanLine(y)[x] = 90;
  const TImageF mask = EdgeMaskCommand(flat, EdgeMaskParams{});
  ASSERT_EQ(mask.Width(), 9);
  ASSERT_EQ(mask.Height(), 7);
  for (std::int32_t y = 0; y < 7; ++y)
    for (std::int32_t x = 0; x < 9; ++x) EXPECT_EQ(mask.Row(y)[x], 0.0f);
}

// An enlarged luma with overshoot around a bright square, and its 4 x 4 reference.
struct EnlargedCase {
  TImageF low{4, 4};
  TImageF high{8, 8};
  EnlargedCase() {
    for (std::int32_t y = 0; y < 4; ++y)
      for (std::int32_t x = 0; x < 4; ++x) low.Row(y)[x] = (x >= 2 && y >= 1) ? 180.0f : 60.0f;
    for (std::int32_t y = 0; y < 8; ++y)
      for (std::int32_t x = 0; x < 8; ++x) {
        float v = *low.Pixel(x / 2, y / 2);
        if (x == 3) v -= 25.0f;  // undershoot before the rising edge
        if (x == 4) v += 25.0f;  // overshoot after it
        high.Row(y)[x] = v;
      }
  }
};

TEST(DeringAfterResampleTest, SimplestClampsEvenAfterStop) {
  EnlargedCase c;
  DeringParams params;
  params.method = kDeringSimplestMethod;
  RecordingProgress stopped(0);
  DeringAfterResample(c.high, c.low, params, nullptr, stopped);
  for (std::int32_t y = 0; y < 8; ++y)
    for (std::int32_t x = 0; x < 8; ++x) {
      EXPECT_GE(c.high.Row(y)[x], 60.0f) << x << "," << y;
      EXPECT_LE(c.high.Row(y)[x], 180.0f) << x << "," << y;
    }
}

TEST(DeringAfterResampleTest, StopOrEmptyMaskLeaveTheLumaAlone) {
  for (std::int32_t method : {0, 1, 3, 10}) {
    EnlargedCase c;
    const TImageF before = c.high.Clone();
    DeringParams params;
    params.method = method;
    params.factor = 0.5f;
    RecordingProgress stopped(0);
    const EdgeMaskParams mask;
    DeringAfterResample(c.high, c.low, params, &mask, stopped);
    EdgeMaskParams empty;
    empty.threshold = 100.0f;
    NullProgress progress;
    DeringAfterResample(c.high, c.low, params, &empty, progress);
    for (std::int32_t y = 0; y < 8; ++y)
      for (std::int32_t x = 0; x < 8; ++x)
        ASSERT_EQ(c.high.Row(y)[x], before.Row(y)[x])
            << "method " << method << " " << x << "," << y;
    // Without a mask and without STOP the same call does change the luma.
    DeringAfterResample(c.high, c.low, params, nullptr, progress);
    float change = 0.0f;
    for (std::int32_t y = 0; y < 8; ++y)
      for (std::int32_t x = 0; x < 8; ++x)
        change = std::max(change, std::fabs(c.high.Row(y)[x] - before.Row(y)[x]));
    EXPECT_GT(change, 1.0f) << "method " << method;
  }
}

TEST(DeringAfterResampleTest, RejectsSizesThatAreNotTwice) {
  EnlargedCase c;
  TImageF wrong(7, 8);
  NullProgress progress;
  const EdgeMaskParams mask;
  EXPECT_THROW(DeringAfterResample(wrong, c.low, DeringParams{}, &mask, progress), EZorException);
  DeringParams bad;
  bad.method = 15;
  EXPECT_THROW(DeringAfterResample(c.high, c.low, bad, nullptr, progress), std::invalid_argument);
}

}  // namespace
}  // namespace tvq
