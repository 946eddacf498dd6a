// Every two-times enlarger under the fast kernels (threads, SIMD on and off) gives the
// bits of its plain reference loops; the vector power evaluations of the gradient
// weights equal std::pow rounded to float.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "common/kernel_modes.h"
#include "interpolation/gradient_kernels.h"
#include "interpolation/interpolation.h"

namespace tvq {
namespace {

using namespace test;

// A copy of a four-channel image whose rows are stored bottom-up with spare bytes after
// each row (BottomUpView does the same for grey planes).
template <typename Image>
Image BottomUp(const Image& image, std::vector<std::uint8_t>& storage) {
  const std::size_t row = static_cast<std::size_t>(image.Width()) * image.PixelSize();
  const std::size_t pitch = row + 12;
  const std::size_t h = static_cast<std::size_t>(image.Height());
  storage.assign(pitch * h, 0x5a);
  for (std::size_t y = 0; y < h; ++y)
    std::memcpy(storage.data() + pitch * (h - 1 - y), image.Row(static_cast<std::int32_t>(y)), row);
  TImageDesc desc = image.GetDesc();
  desc.origin = storage.data() + pitch * (h - 1);
  desc.stride = -static_cast<std::ptrdiff_t>(pitch);
  Image view;
  view.Attach(desc);
  return view;
}

// Channels of a four-float image (channel 3 included) from random planes.
TImageF4 RandomF4(std::int32_t w, std::int32_t h, std::uint32_t seed, bool ties) {
  TImageF4 image(w, h);
  for (int k = 0; k < 4; ++k) {
    const TImageF plane = RandomPlane(w, h, seed + static_cast<std::uint32_t>(k), ties);
    for (std::int32_t y = 0; y < h; ++y)
      for (std::int32_t x = 0; x < w; ++x) image.Row(y)[4 * x + k] = plane.Row(y)[x];
  }
  return image;
}

TImageC4 RandomC4(std::int32_t w, std::int32_t h, std::uint32_t seed, bool ties) {
  TImageC4 image(w, h);
  for (int k = 0; k < 4; ++k) {
    const TImageF plane = RandomPlane(w, h, seed + static_cast<std::uint32_t>(k), ties);
    for (std::int32_t y = 0; y < h; ++y)
      for (std::int32_t x = 0; x < w; ++x)
        image.Row(y)[4 * x + k] = static_cast<std::uint8_t>(plane.Row(y)[x]);
  }
  return image;
}

// Runs an upscaler on (a bottom-up view of) the source into (a bottom-up view of) a
// destination of prior random content; a refused source gives an empty result.
template <typename Image>
Image Enlarge(const std::function<void(const Image&, Image&)>& upscale, const Image& source,
              const Image& prior, bool views) {
  std::vector<std::uint8_t> srcStorage, dstStorage;
  std::vector<float> srcPlane, dstPlane;
  const auto view = [&](const Image& image, std::vector<std::uint8_t>& storage,
                        std::vector<float>& plane) {
    if constexpr (std::is_same_v<Image, TImageF>)
      return BottomUpView(image, plane);
    else
      return BottomUp(image, storage);
  };
  const Image src = views ? view(source, srcStorage, srcPlane) : source.Clone();
  Image dst = views ? view(prior, dstStorage, dstPlane) : prior.Clone();
  try {
    upscale(src, dst);
  } catch (const EZorException&) {
    return Image();
  }
  return dst.Clone();
}

struct GreyMethod {
  const char* name;
  std::function<void(const TImageF&, TImageF&)> upscale;
};

TEST(FastUpscalers, GreyMethodsGiveReferenceBits) {
  const GreyMethod methods[] = {
      {"gradient", [](const TImageF& s, TImageF& d) { GradientUpscale(s, d); }},
      {"nedi4", [](const TImageF& s, TImageF& d) { NediUpscale(s, d, NediConfigFor(4)); }},
      {"nedi12", [](const TImageF& s, TImageF& d) { NediUpscale(s, d, NediConfigFor(12)); }},
      {"lanczos", [](const TImageF& s, TImageF& d) { LanczosUpscale(s, d); }},
      {"bilinear", [](const TImageF& s, TImageF& d) { BilinearUpscale(s, d); }}};
  for (const GreyMethod& method : methods)
    for (const auto& [w, h] : ComparisonSizes())
      for (const bool ties : {false, true})
        for (const bool views : {false, true}) {
          const TImageF src = RandomPlane(w, h, 7, ties);
          const TImageF prior = RandomPlane(2 * w, 2 * h, 8);
          CompareWithReference(
              [&] { return Enlarge<TImageF>(method.upscale, src, prior, views); },
              [&](const TImageF& expected, const TImageF& actual, const std::string& config) {
                EXPECT_TRUE(SameBits(expected, actual))
                    << method.name << " " << w << "x" << h << (ties ? " ties" : "")
                    << (views ? " bottom-up" : "") << ", " << config;
              });
        }
}

TEST(FastUpscalers, FourChannelMethodsGiveReferenceBytes) {
  const std::function<void(const TImageF4&, TImageF4&)> colour =
      [](const TImageF4& s, TImageF4& d) { GradientUpscaleColor(s, d); };
  const std::function<void(const TImageC4&, TImageC4&)> directional =
      [](const TImageC4& s, TImageC4& d) { DirectionalUpscaleC4(s, d); };
  const std::function<void(const TImageC4&, TImageC4&)> nedi = [](const TImageC4& s, TImageC4& d) {
    NediUpscaleC4(s, d, NediConfigFor(4));
  };
  for (const auto& [w, h] : ComparisonSizes())
    for (const bool ties : {false, true})
      for (const bool views : {false, true}) {
        const std::string name = std::to_string(w) + "x" + std::to_string(h) +
                                 (ties ? " ties" : "") + (views ? " bottom-up" : "");
        const TImageF4 srcF4 = RandomF4(w, h, 3, ties);
        const TImageF4 priorF4 = RandomF4(2 * w, 2 * h, 4, false);
        CompareWithReference([&] { return Enlarge(colour, srcF4, priorF4, views); },
                             [&](const TImageF4& a, const TImageF4& b, const std::string& config) {
                               EXPECT_TRUE(SameBytes(a, b)) << "colour " << name << ", " << config;
                             });
        const TImageC4 srcC4 = RandomC4(w, h, 5, ties);
        const TImageC4 priorC4 = RandomC4(2 * w, 2 * h, 6, false);
        for (const auto& [method, upscale] :
             {std::pair{"directional", directional}, std::pair{"nedi", nedi}})
          CompareWithReference(
              [&] { return Enlarge(upscale, srcC4, priorC4, views); },
              [&](const TImageC4& a, const TImageC4& b, const std::string& config) {
                EXPECT_TRUE(SameBytes(a, b)) << method << " " << name << ", " << config;
              });
      }
}

// Inputs for the weight powers: random over the range the passes produce, special
// values, and values whose powers land within a few ulp of a float rounding midpoint.
std::vector<double> PowerInputs(double power) {
  std::vector<double> x = {0.0,
                           -0.0,
                           std::numeric_limits<double>::denorm_min(),
                           std::numeric_limits<double>::min(),
                           1e-300,
                           1e300,
                           std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN(),
                           0.01,
                           300.0};
  for (int e = -160; e <= 160; ++e) x.push_back(std::ldexp(1.0, e));
  for (int i = 1; i <= 1000; ++i) x.push_back(i);
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> logValue(-12.0, 6.0);
  for (int i = 0; i < 100000; ++i) x.push_back(std::exp(logValue(rng)));
  // Midpoints between neighbouring floats over the normal range, and the double
  // arguments around their exponent-th root.
  std::uniform_real_distribution<float> logFloat(-120.0f, 120.0f);
  for (int i = 0; i < 20000; ++i) {
    const float f = std::exp2(logFloat(rng));
    const double midpoint =
        0.5 * (static_cast<double>(f) +
               static_cast<double>(std::nextafter(f, std::numeric_limits<float>::infinity())));
    double root = std::pow(midpoint, 1.0 / power);
    for (int step = 0; step < 8; ++step) root = std::nextafter(root, 0.0);
    for (int step = 0; step < 16; ++step) {
      x.push_back(root);
      root = std::nextafter(root, std::numeric_limits<double>::infinity());
    }
  }
  return x;
}

// The colour enlarger with memory lent for the estimates of none to all three planes
// gives the reference bits, and tells once that its sources may be freed.
TEST(FastUpscalers, LentScratchGivesReferenceBits) {
  for (const auto& [w, h] : ComparisonSizes()) {
    if (w < 2 || h < 2) continue;  // below the enlarger's smallest source
    const auto uw = static_cast<std::uint32_t>(w);
    const auto uh = static_cast<std::uint32_t>(h);
    const std::size_t n = 4 * static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    std::vector<TImageF> src;
    for (std::uint32_t k = 0; k < 3; ++k) src.push_back(RandomPlane(w, h, 11 + k));
    const auto run = [&](std::size_t lentPlanes, std::int32_t* calls) {
      std::vector<float> out(3 * n, -1.0f);
      std::vector<float> scratch(lentPlanes * GradientEstimateFloats(uw, uh) + 1, -2.0f);
      UpscaleMemory memory;
      memory.scratch = scratch.data();
      memory.scratchFloats = scratch.size() - 1;
      memory.sourcesRead = [calls] { ++*calls; };
      GradientUpscalePlanes3(src[0].Row(0), src[1].Row(0), src[2].Row(0), uw, uh, out.data(),
                             out.data() + n, out.data() + 2 * n, 2, nullptr, memory);
      EXPECT_EQ(scratch.back(), -2.0f) << "written past the lent floats";
      return out;
    };
    std::int32_t calls = 0;
    const std::vector<float> expected = [&] {
      ScopedKernels guard({true, 1, true});
      return run(0, &calls);
    }();
    for (const KernelConfig& config : FastConfigs()) {
      ScopedKernels guard(config);
      for (std::size_t lent = 0; lent <= 3; ++lent) {
        calls = 0;
        const std::vector<float> actual = run(lent, &calls);
        EXPECT_EQ(std::memcmp(actual.data(), expected.data(), sizeof(float) * expected.size()), 0)
            << w << "x" << h << ", " << lent << " planes lent, " << config.Name();
        EXPECT_EQ(calls, 1) << w << "x" << h;
      }
    }
  }
}

TEST(FastUpscalers, WeightPowersEqualLibraryPowRoundedToFloat) {
  struct Case {
    const char* name;
    double power;  // x^power is the weight before rounding
    void (*fast)(const double*, float*, std::size_t);
    float (*library)(double);
    float (*squared)(double);  // the unguarded vector formula, for the inputs' strength
  };
  const Case cases[] = {{"pow 8", 8.0, gradientsimd::FloatPow8,
                         [](double x) { return static_cast<float>(std::pow(x, 8.0)); },
                         [](double x) {
                           const double x2 = x * x, x4 = x2 * x2;
                           return static_cast<float>(x4 * x4);
                         }},
                        {"1 / pow 4", -4.0, gradientsimd::FloatInversePow4,
                         [](double t) { return static_cast<float>(1.0 / std::pow(t, 4.0)); },
                         [](double t) {
                           const double t2 = t * t;
                           return static_cast<float>(1.0 / (t2 * t2));
                         }}};
  for (const Case& c : cases) {
    const std::vector<double> x = PowerInputs(c.power);
    std::size_t squaringMisses = 0;
    for (const double v : x) {
      const float a = c.library(v), b = c.squared(v);
      squaringMisses += std::memcmp(&a, &b, sizeof a) != 0;
    }
    // Without the guard the squared formula would be wrong on some of these inputs.
    EXPECT_GT(squaringMisses, 10u) << c.name;
    for (const bool simd : {true, false}) {
      test::ScopedKernels guard({false, 1, simd});
      std::vector<float> out(x.size());
      c.fast(x.data(), out.data(), x.size());
      std::size_t wrong = 0;
      for (std::size_t i = 0; i < x.size(); ++i) {
        const float expected = c.library(x[i]);
        if (std::memcmp(&expected, &out[i], sizeof expected) != 0 && ++wrong <= 3)
          ADD_FAILURE() << c.name << (simd ? "" : " no SIMD") << " at " << x[i] << ": " << out[i]
                        << " instead of " << expected;
      }
      EXPECT_EQ(wrong, 0u) << c.name;
    }
  }
}

}  // namespace
}  // namespace tvq
