// The fast edge mask, dilation, mask blend and Deringing glue against the plain
// reference loops, bit for bit, under every thread count and with SIMD on and off.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/kernel_modes.h"
#include "deringing/deringcommand.h"
#include "deringing/edgemask.h"
#include "deringing/edgemask_kernels.h"
#include "imaging/progress.h"

namespace tvq {
namespace {

using namespace test;

// Input planes: random values, whole numbers from a small set (exact ties), and for
// the dilation and the blend also signed zeros and NaNs, which decide which of two
// equal candidates a fold keeps.
enum Data { kRandom, kTies, kZerosAndNaN };

TImageF MakePlane(std::int32_t w, std::int32_t h, std::uint32_t seed, Data data) {
  TImageF plane = RandomPlane(w, h, seed, data != kRandom);
  if (data == kZerosAndNaN)
    for (std::int32_t y = 0; y < h; ++y)
      for (std::int32_t x = 0; x < w; ++x) {
        float& v = plane.Row(y)[x];
        if (v == 0.0f && (x + y) % 2 == 1) v = -0.0f;
        if ((x * 7 + y * 3) % 23 == 5) v = std::numeric_limits<float>::quiet_NaN();
      }
  return plane;
}

// Runs check(input, name) on the plane itself and on a bottom-up strided view of it,
// for every comparison size.
template <typename Check>
void ForEachInput(std::uint32_t seed, Data data, Check check) {
  for (const auto& [w, h] : ComparisonSizes()) {
    const TImageF plane = MakePlane(w, h, seed + static_cast<std::uint32_t>(w * 131 + h), data);
    std::vector<float> storage;
    const TImageF view = BottomUpView(plane, storage);
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    check(plane, size);
    check(view, size + " bottom-up");
  }
}

TEST(MaskFastTest, EdgeMaskEqualsReference) {
  struct Case {
    std::int32_t radius;
    float threshold;
    float noise;
    float multiplier;
    float sigma;
  };
  // Defaults; counted fractions; noise 0 and multiplier 1, where the centre ties
  // with itself; the limit profile; a window wider than the small planes; a negative
  // multiplier, where pixels at or below the noise level still count.
  const Case cases[] = {{6, 30.0f, 5.0f, 2.0f, 4.0f},  {2, -1.0f, 5.0f, 2.0f, 1.5f},
                        {1, 10.0f, 0.0f, 1.0f, 4.0f},  {3, -1.0f, 1.0f, 0.5f, 0.0f},
                        {20, -1.0f, 2.0f, 1.0f, 7.0f}, {2, -1.0f, 70.0f, -1.0f, 3.0f}};
  for (std::int32_t measurement : {kLocalVariation, kMaximumVariation, kGradientNorm})
    for (const Case& k : cases)
      for (Data data : {kRandom, kTies})
        ForEachInput(7u, data, [&](const TImageF& source, const std::string& name) {
          CompareWithReference(
              [&] {
                TImageF mask(source.Width(), source.Height());
                EdgeMask(source, mask, k.radius, k.threshold, measurement, k.noise, k.multiplier,
                         k.sigma);
                return mask;
              },
              [&](const TImageF& expected, const TImageF& actual, const std::string& config) {
                EXPECT_TRUE(SameBits(expected, actual))
                    << name << ", measurement " << measurement << ", radius " << k.radius
                    << ", data " << data << ", " << config;
              });
        });
}

TEST(MaskFastTest, MaxDilateEqualsReference) {
  for (std::int32_t radius : {0, 1, 3, 200})
    for (Data data : {kRandom, kTies, kZerosAndNaN})
      for (bool inPlace : {false, true})
        ForEachInput(3u, data, [&](const TImageF& source, const std::string& name) {
          CompareWithReference(
              [&] {
                TImageF out = source.Clone();
                if (inPlace)
                  MaxDilate(out, out, radius);
                else
                  MaxDilate(source, out, radius);
                return out;
              },
              [&](const TImageF& expected, const TImageF& actual, const std::string& config) {
                EXPECT_TRUE(SameBits(expected, actual))
                    << name << ", radius " << radius << ", data " << data
                    << (inPlace ? ", in place, " : ", ") << config;
              });
        });
}

TEST(MaskFastTest, MaskBlendEqualsReference) {
  // Besides random planes: the mask 127.5 halfway between neighbouring floats, whose
  // blend lies exactly on a float rounding boundary, so the fast lanes must defer to
  // the long double evaluation; masks outside 0..255; and masks of zeros.
  enum Mask { kRandomMask, kHalfway, kOutside, kMostlyZero };
  for (Mask maskKind : {kRandomMask, kHalfway, kOutside, kMostlyZero})
    for (Data data : {kRandom, kTies, kZerosAndNaN})
      ForEachInput(5u, data, [&](const TImageF& untouched, const std::string& name) {
        const std::int32_t w = untouched.Width();
        const std::int32_t h = untouched.Height();
        TImageF deringed = RandomPlane(w, h, 17u);
        TImageF mask = RandomPlane(w, h, 23u, data == kTies);
        for (std::int32_t y = 0; y < h; ++y)
          for (std::int32_t x = 0; x < w; ++x) {
            const float u = untouched.Row(y)[x];
            if (maskKind == kHalfway) {
              mask.Row(y)[x] = 127.5f;
              deringed.Row(y)[x] = std::nextafter(u, 1000.0f);
            } else if (maskKind == kOutside) {
              mask.Row(y)[x] = 3.0f * mask.Row(y)[x] - 300.0f;
            } else if (maskKind == kMostlyZero) {
              // Zero masks keep the untouched luma unless a luma is not finite or the
              // untouched one is a zero, whose sign the blend may change.
              mask.Row(y)[x] = (x + 5 * y) % 41 == 0 ? 200.0f : ((x + y) % 3 == 0 ? -0.0f : 0.0f);
              if ((x + y) % 29 == 3) deringed.Row(y)[x] = std::numeric_limits<float>::infinity();
            }
          }
        CompareWithReference(
            [&] {
              std::vector<float> storage;
              TImageF luma = BottomUpView(deringed, storage, 1);
              MaskBlend(luma, untouched, mask);
              return luma.Clone();
            },
            [&](const TImageF& expected, const TImageF& actual, const std::string& config) {
              EXPECT_TRUE(SameBits(expected, actual))
                  << name << ", mask " << maskKind << ", data " << data << ", " << config;
            });
      });
}

// The Deringing glue: luma and colour differences, with and without a mask, and the
// luma added back, with the routine that leaves the luma as it is and with one that
// changes it (so the deringed and the untouched luma differ).
TEST(MaskFastTest, DeringGlueEqualsReference) {
  for (std::int32_t method : {kDeringSimplestMethod, 2})
    for (std::int32_t bits : {24, 32})
      for (bool masked : {false, true})
        for (const auto& [w, h] : ComparisonSizes()) {
          Bitmap picture(w, h, bits);
          std::mt19937 rng(static_cast<std::uint32_t>(w * 31 + h + bits));
          for (std::int32_t y = 0; y < h; ++y)
            for (std::size_t i = 0; i < static_cast<std::size_t>(w) * (bits / 8); ++i)
              picture.ScanLine(y)[i] = static_cast<std::uint8_t>(rng() & 0xFF);
          DeringParams params;
          params.method = method;
          params.iterations = kDeringMinIterations;
          const EdgeMaskParams mask;
          CompareWithReference(
              [&] {
                NullProgress progress;
                return Dering(picture, params, masked ? &mask : nullptr, progress);
              },
              [&](const TImageF4& expected, const TImageF4& actual, const std::string& config) {
                EXPECT_TRUE(test::SameBytes(expected, actual))
                    << w << "x" << h << ", method " << method << ", " << bits << " bits, "
                    << (masked ? "masked, " : "") << config;
              });
        }
}

// The recombination row kernel against the plain definition, MaskBlendPlain and
// then float(float(channel - u) + l) in double: with a mask halfway between
// neighbouring floats of the deringed and the untouched luma, where the blend lies on
// float rounding boundaries and the lanes defer to the long double evaluation, and
// with lumas outside the range where the sums may be formed in float.
TEST(MaskFastTest, RecombineRowEqualsPlainBlendAndSums) {
  for (std::int32_t channels : {3, 4})
    for (bool simd : {true, false})
      for (std::int32_t w : {1, 2, 7, 8, 9, 33}) {
        std::mt19937 rng(static_cast<std::uint32_t>(w + 10 * channels));
        std::vector<std::uint8_t> src(static_cast<std::size_t>(w * channels));
        for (std::uint8_t& b : src) b = static_cast<std::uint8_t>(rng() & 0xFF);
        TImageF untouched(w, 1), luma(w, 1), mask(w, 1);
        edgemask_kernels::LumaRow(src.data(), channels, untouched.Row(0), w);
        // From column 16 on, some lumas are tiny, huge or zero, outside the range where
        // float sums are exact.
        const float outside[] = {1.0e-3f, 3.0e30f, -0.0f, 0.0f};
        for (std::int32_t x = 0; x < w; ++x) {
          const float u = untouched.Row(0)[x];
          const bool halfway = x % 3 != 1;
          luma.Row(0)[x] = halfway ? std::nextafter(u, 1000.0f) : u * 0.75f + 3.0f;
          mask.Row(0)[x] = halfway ? 127.5f : static_cast<float>(rng() % 256);
          if (x >= 16 && x % 2 == 1) {
            luma.Row(0)[x] = outside[(x / 2) % 4];
            mask.Row(0)[x] = 255.0f;
          }
        }
        TImageF blended = luma.Clone();
        MaskBlendPlain(blended, untouched, mask);
        std::vector<float> actual(static_cast<std::size_t>(4 * w));
        {
          test::ScopedKernels guard({false, 1, simd});
          edgemask_kernels::RecombineRow(src.data(), channels, luma.Row(0), mask.Row(0),
                                         actual.data(), w);
        }
        for (std::int32_t x = 0; x < w; ++x) {
          const double u = untouched.Row(0)[x];
          for (std::int32_t k = 0; k < 4; ++k) {
            const std::uint8_t byte = src[static_cast<std::size_t>(x * channels + k % channels)];
            const float expected =
                k == 3 ? (channels == 4 ? byte : 0.0f)
                       : static_cast<float>(static_cast<double>(static_cast<float>(byte - u)) +
                                            blended.Row(0)[x]);
            EXPECT_EQ(actual[static_cast<std::size_t>(4 * x + k)], expected)
                << "width " << w << ", channels " << channels << ", pixel " << x << ", channel "
                << k << (simd ? "" : ", no SIMD");
          }
        }
      }
}

}  // namespace
}  // namespace tvq
