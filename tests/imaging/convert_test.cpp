// The fast pixel conversions against the plain loops, bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "common/kernel_modes.h"
#include "imaging/imagebase.h"

namespace tvq {
namespace {

// Random pixels of the format; float lanes also take the values where rounding to a byte
// turns (x.5, just below x.5, 255.5, tiny, negative zero, NaN, infinity). With ties,
// only whole levels from a small set. There is no negative infinity, so no sum creates a
// second kind of NaN: whichever NaN operand an addition keeps, the bits agree.
void Fill(const TImageDesc& d, std::mt19937& rng, bool ties) {
  const float special[] = {0.5f,
                           0.49999997f,
                           254.5f,
                           255.0f,
                           255.49998f,
                           255.5f,
                           -0.0f,
                           1e-30f,
                           -1.0f,
                           300.0f,
                           std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::infinity()};
  std::uniform_int_distribution<int> pick(0, 3 * static_cast<int>(std::size(special)));
  std::uniform_real_distribution<float> real(-20.0f, 280.0f);
  for (int y = 0; y < d.height; ++y) {
    std::uint8_t* row = d.Row(y);
    if (d.format == ifF || d.format == ifF4) {
      for (int i = 0; i < d.width * d.pixelSize / 4; ++i) {
        const int k = pick(rng);
        const float v = ties ? 64.0f * static_cast<float>(k % 4)
                        : k < static_cast<int>(std::size(special)) ? special[k]
                                                                   : real(rng);
        std::memcpy(row + 4 * i, &v, 4);
      }
    } else {
      for (int i = 0; i < d.width * d.pixelSize; ++i)
        row[i] = static_cast<std::uint8_t>(ties ? 64 * (rng() % 4) : rng());
    }
  }
}

struct Pair {
  int from;
  int to;
};

class ConvertCompareTest : public ::testing::TestWithParam<Pair> {};

TEST_P(ConvertCompareTest, FastEqualsReference) {
  const Pair p = GetParam();
  // The comparison sizes and one picture of several parallel chunks.
  auto sizes = test::ComparisonSizes();
  sizes.emplace_back(517, 131);
  for (auto [w, h] : sizes)
    for (bool ties : {false, true}) {
      std::vector<std::uint8_t> sourceBytes;
      const TImageDesc source = test::PaddedDesc(sourceBytes, w, h, p.from, 5, true, 0x5A);
      std::mt19937 rng(static_cast<unsigned>(w * 131 + h));
      Fill(source, rng, ties);
      const auto convert = [&] {
        std::vector<std::uint8_t> targetBytes;
        ConvertPixels(source, test::PaddedDesc(targetBytes, w, h, p.to, 7, true, 0x5A));
        return targetBytes;  // pixels and padding
      };
      test::CompareWithReference(convert, [&](const auto& expected, const auto& actual,
                                              const std::string& name) {
        EXPECT_TRUE(expected == actual) << name << ", " << w << "x" << h << (ties ? " ties" : "");
      });
    }
}

INSTANTIATE_TEST_SUITE_P(Pairs, ConvertCompareTest,
                         ::testing::Values(Pair{ifC4, ifF4}, Pair{ifC4, ifF}, Pair{ifC3, ifF},
                                           Pair{ifF4, ifC4}, Pair{ifF4, ifF}, Pair{ifF, ifC4},
                                           Pair{ifMask, ifC4}, Pair{ifC3, ifF4}, Pair{ifF, ifF},
                                           Pair{ifC3, ifC3}, Pair{ifF4, ifF4Alt}),
                         [](const auto& info) {
                           return "From" + std::to_string(info.param.from) + "To" +
                                  std::to_string(info.param.to);
                         });

}  // namespace
}  // namespace tvq
