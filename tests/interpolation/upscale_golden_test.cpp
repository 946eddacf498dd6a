// The six enlargers of the upscale command on the small golden picture, compared bit
// for bit with reviewed results stored in tests/data/upscale_<method>.pfm, once with
// the reference loops and once under every fast configuration.
//
// Regenerating the references is a deliberate, reviewed step, never automatic:
//   TVQ_WRITE_UPSCALE_REFERENCES=1 build/tests/interpolation/interpolation_test
//   --gtest_filter='*UpscaleGolden*'
// writes the files (with the reference loops) into tests/data and reports the tests
// skipped. Look at each new result as a picture before committing: `tvq upscale
// --method M` gives the same floats for the golden picture saved as a BMP file, and
// writes them as PNG; the bars and the diagonal line of the source keep their places
// at twice the size.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <variant>

#include "common/kernel_modes.h"
#include "common/pictures.h"
#include "imaging/io/pfm.h"
#include "interpolation/interpolation.h"
#include "interpolation/upscale.h"

namespace tvq {
namespace {

using namespace test;

bool Regenerating() {
  const char* flag = std::getenv("TVQ_WRITE_UPSCALE_REFERENCES");
  return flag != nullptr && std::string(flag) == "1";
}

// Bitwise equality of the first `channels` floats of every pixel.
template <typename Image>
::testing::AssertionResult SameChannels(const Image& a, const Image& b, int channels) {
  if (a.Width() != b.Width() || a.Height() != b.Height())
    return ::testing::AssertionFailure() << "sizes differ: " << a.Width() << "x" << a.Height()
                                         << " and " << b.Width() << "x" << b.Height();
  for (std::int32_t y = 0; y < a.Height(); ++y)
    for (std::int32_t x = 0; x < a.Width(); ++x)
      if (std::memcmp(a.Pixel(x, y), b.Pixel(x, y), sizeof(float) * channels) != 0)
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") differs";
  return ::testing::AssertionSuccess();
}

class UpscaleGolden : public ::testing::TestWithParam<int> {};

TEST_P(UpscaleGolden, MatchesStoredResultBitForBit) {
  const auto method = static_cast<UpscaleMethod>(GetParam());
  const std::string path =
      std::string(TVQ_TEST_DATA) + "/upscale_" + kUpscaleMethodNames[GetParam()] + ".pfm";
  const Bitmap picture = GoldenPicture();
  const auto enlarge = [&] { return UpscalePicture(picture, method, nullptr); };
  if (Regenerating()) {
    ScopedKernels guard({true, 1, true});
    std::visit([&](const auto& image) { WritePfm(image, path); }, enlarge());
    GTEST_SKIP() << "wrote " << path << "; review it before committing";
  }
  std::vector<KernelConfig> configs = FastConfigs();
  configs.insert(configs.begin(), KernelConfig{true, 1, true});
  for (const KernelConfig& config : configs) {
    ScopedKernels guard(config);
    const Enlargement result = enlarge();
    ASSERT_EQ(std::holds_alternative<TImageF4>(result), UpscalesColour(method));
    // PFM keeps the grey plane, or the blue, green and red floats of a colour result.
    if (UpscalesColour(method))
      EXPECT_TRUE(SameChannels(std::get<TImageF4>(result), ReadPfmColour(path), 3))
          << config.Name();
    else
      EXPECT_TRUE(SameChannels(std::get<TImageF>(result), ReadPfmGrey(path), 1)) << config.Name();
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, UpscaleGolden,
                         ::testing::Range(0, static_cast<int>(std::size(kUpscaleMethodNames))),
                         [](const ::testing::TestParamInfo<int>& info) {
                           std::string name = kUpscaleMethodNames[info.param];
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

}  // namespace
}  // namespace tvq
