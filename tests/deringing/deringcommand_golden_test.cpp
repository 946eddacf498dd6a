// End-to-end runs of the deringing commands on the synthetic ringing picture,
// compared with reviewed float results stored in tests/data/dering_*.pfm.
//
// Regenerating the references is a deliberate, reviewed step, never automatic:
//   TVQ_WRITE_DERING_REFERENCES=1 build/tests/deringing/deringing_test
//   --gtest_filter='DeringGolden*'
// writes the files into tests/data (the tests then report themselves skipped);
// inspect the new results (e.g. the ringing beside the dark rectangle is flattened,
// the masked result equals the input away from the edges) before committing them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/pictures.h"
#include "deringing/deringcommand.h"
#include "imaging/bitmap.h"
#include "imaging/io/pfm.h"

namespace tvq {
namespace {

using test::RingingPicture;

// The pipelines are deterministic and single-threaded; the tolerance (in grey
// levels) only absorbs last-bit differences of the platform's exp() and long double.
constexpr float kTolerance = 1e-3f;

bool Regenerating() {
  const char* flag = std::getenv("TVQ_WRITE_DERING_REFERENCES");
  return flag != nullptr && std::string(flag) == "1";
}

std::string ReferencePath(const char* name) {
  return std::string(TVQ_TEST_DATA) + "/" + name;
}

void CheckColour(const TImageF4& result, const char* name) {
  if (Regenerating()) {
    WritePfm(result, ReferencePath(name));
    GTEST_SKIP() << "wrote " << ReferencePath(name) << "; review it before committing";
  }
  const TImageF4 expected = ReadPfmColour(ReferencePath(name));
  ASSERT_EQ(result.Width(), expected.Width());
  ASSERT_EQ(result.Height(), expected.Height());
  float worst = 0.0f;
  for (std::int32_t y = 0; y < result.Height(); ++y)
    for (std::int32_t x = 0; x < result.Width(); ++x)
      for (int k = 0; k < 3; ++k) {
        const float d = std::fabs(result.Pixel(x, y)[k] - expected.Pixel(x, y)[k]);
        ASSERT_LE(d, kTolerance) << name << " at " << x << "," << y << " channel " << k;
        worst = std::max(worst, d);
      }
  ::testing::Test::RecordProperty("max_difference", std::to_string(worst));
}

void CheckGrey(const TImageF& result, const char* name) {
  if (Regenerating()) {
    WritePfm(result, ReferencePath(name));
    GTEST_SKIP() << "wrote " << ReferencePath(name) << "; review it before committing";
  }
  const TImageF expected = ReadPfmGrey(ReferencePath(name));
  ASSERT_EQ(result.Width(), expected.Width());
  ASSERT_EQ(result.Height(), expected.Height());
  for (std::int32_t y = 0; y < result.Height(); ++y)
    for (std::int32_t x = 0; x < result.Width(); ++x)
      ASSERT_NEAR(result.Row(y)[x], expected.Row(y)[x], kTolerance)
          << name << " at " << x << "," << y;
}

TEST(DeringGoldenTest, Deringing) {
  NullProgress progress;
  CheckColour(Dering(RingingPicture(), DeringParams{}, nullptr, progress), "dering_plain.pfm");
}

TEST(DeringGoldenTest, DeringingGlobalModified) {
  DeringParams params;
  params.method = 0;
  NullProgress progress;
  CheckColour(Dering(RingingPicture(), params, nullptr, progress), "dering_global.pfm");
}

TEST(DeringGoldenTest, MaskedDeringing) {
  const EdgeMaskParams mask;
  NullProgress progress;
  CheckColour(Dering(RingingPicture(), DeringParams{}, &mask, progress), "dering_masked.pfm");
}

TEST(DeringGoldenTest, EdgeMask) {
  CheckGrey(EdgeMaskCommand(RingingPicture(), EdgeMaskParams{}), "dering_edgemask.pfm");
}

// The deringing stage of the Resample command: the picture's luma enlarged by
// pixel replication as the enlarged luma, the luma itself as the reference.
TEST(DeringGoldenTest, MaskedDeringingAfterResample) {
  TImageF low;
  ImageFromBitmap(RingingPicture(), ifF, low);
  TImageF high(2 * low.Width(), 2 * low.Height());
  for (std::int32_t y = 0; y < high.Height(); ++y)
    for (std::int32_t x = 0; x < high.Width(); ++x) high.Row(y)[x] = low.Row(y / 2)[x / 2];
  const EdgeMaskParams mask;
  NullProgress progress;
  DeringAfterResample(high, low, DeringParams{}, &mask, progress);
  CheckGrey(high, "dering_resample_masked.pfm");
}

}  // namespace
}  // namespace tvq
