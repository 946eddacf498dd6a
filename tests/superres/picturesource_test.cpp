// Every command pipeline gives the same bits for a bitmap and for the four floats of
// the same bytes, with the plain loops and with the fast kernels; a four-float picture
// of fractional samples gives the plain loops' bits under the fast kernels.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/kernel_modes.h"
#include "deringing/deringcommand.h"
#include "superres/resample.h"
#include "utility/utility.h"

namespace tvq {
namespace {

using namespace test;

// A result's floats, row after row, plane after plane.
using Floats = std::vector<float>;

template <typename... Images>
Floats FloatsOf(const Images&... images) {
  Floats out;
  const auto append = [&](const TImageBase& image) {
    const std::size_t n =
        static_cast<std::size_t>(image.Width()) * static_cast<std::size_t>(image.PixelSize()) / 4;
    for (std::int32_t y = 0; y < image.Height(); ++y) {
      const auto* row = reinterpret_cast<const float*>(image.GetDesc().Row(y));
      out.insert(out.end(), row, row + n);
    }
  };
  (append(images), ...);
  return out;
}

::testing::AssertionResult SameFloats(const Floats& a, const Floats& b) {
  if (a.size() != b.size())
    return ::testing::AssertionFailure() << a.size() << " and " << b.size() << " floats";
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0)
      return ::testing::AssertionFailure() << "float " << i << ": " << a[i] << " and " << b[i];
  return ::testing::AssertionSuccess();
}

struct Pipeline {
  const char* name;
  std::function<Floats(const PictureSource&)> run;
};

std::vector<Pipeline> Pipelines() {
  const auto resample = [](std::int32_t iterations) {
    return [iterations](const PictureSource& picture) {
      ResampleParams params;
      if (iterations >= 0) params.iterations = iterations;
      NullProgress progress;
      return FloatsOf(Resample(picture, params, nullptr, nullptr, progress));
    };
  };
  const auto dering = [](bool masked) {
    return [masked](const PictureSource& picture) {
      const EdgeMaskParams mask;
      NullProgress progress;
      return FloatsOf(Dering(picture, DeringParams{}, masked ? &mask : nullptr, progress));
    };
  };
  return {
      {"Resample", resample(-1)},
      {"Resample, 3 iterations", resample(3)},
      {"Deringing", dering(false)},
      {"Masked Deringing", dering(true)},
      {"Edge mask",
       [](const PictureSource& p) { return FloatsOf(EdgeMaskCommand(p, EdgeMaskParams{})); }},
      {"Downsampling",
       [](const PictureSource& p) {
         const DownsampleResult result = Downsample(p);
         return FloatsOf(result.reference, result.halved);
       }},
      {"Gaussian noise",
       [](const PictureSource& p) {
         NoiseGenerator generator;
         generator.state = 20240607u;
         return FloatsOf(AddGaussianNoise(p, generator));
       }},
      {"Greyscale", [](const PictureSource& p) { return FloatsOf(Greyscale(p)); }},
  };
}

std::vector<KernelConfig> AllConfigs() {
  std::vector<KernelConfig> configs = FastConfigs();
  configs.insert(configs.begin(), KernelConfig{true, 1, true});
  return configs;
}

// Blocks with noise, so that the edge mask has edges and flat parts; `bits` 24 or 32
// (the fourth byte noise as well).
Bitmap BlockPicture(std::int32_t w, std::int32_t h, std::int32_t bits) {
  Bitmap picture(w, h, bits);
  std::uint32_t state = 11;
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w * bits / 8; ++x) {
      state = state * 1664525u + 1013904223u;
      picture.ScanLine(y)[x] =
          static_cast<std::uint8_t>(((x / 12 + y / 5) % 2) * 170 + (state >> 27));
    }
  return picture;
}

// The bitmap's bytes as four floats, the fourth 0 for 24 bits.
TImageF4 FloatsOfBytes(const Bitmap& picture) {
  const std::int32_t channels = picture.BitsPerPixel() / 8;
  TImageF4 colour(picture.Width(), picture.Height());
  for (std::int32_t y = 0; y < picture.Height(); ++y)
    for (std::int32_t x = 0; x < picture.Width(); ++x)
      for (std::int32_t k = 0; k < channels; ++k)
        colour.Row(y)[4 * x + k] = static_cast<float>(picture.ScanLine(y)[channels * x + k]);
  return colour;
}

TEST(PictureSource, BitmapAndFloatsOfItsBytesGiveTheSameBits) {
  for (std::int32_t bits : {24, 32}) {
    const Bitmap picture = BlockPicture(21, 14, bits);
    const TImageF4 colour = FloatsOfBytes(picture);
    for (const KernelConfig& config : AllConfigs()) {
      ScopedKernels guard(config);
      for (const Pipeline& pipeline : Pipelines())
        EXPECT_TRUE(SameFloats(pipeline.run(picture), pipeline.run(colour)))
            << pipeline.name << ", " << bits << " bits, " << config.Name();
    }
  }
}

TEST(PictureSource, BitmapsOfOtherDepthsAreRefusedByEveryPipeline) {
  for (bool reference : {true, false}) {
    ScopedKernels guard({reference, 2, true});
    for (std::int32_t bits : {1, 4, 8, 16})
      for (const Pipeline& pipeline : Pipelines()) {
        try {
          pipeline.run(Bitmap(6, 5, bits));
          ADD_FAILURE() << pipeline.name << ", " << bits << " bits: no exception";
        } catch (const EZorException& e) {
          EXPECT_EQ(e.Code, ecFormatMismatch) << pipeline.name << ", " << bits << " bits";
          EXPECT_NE(std::string(e.what()).find("cannot be processed"), std::string::npos)
              << e.what();
        }
      }
  }
}

// Every blue and green byte pair (the red byte a function of both): the grey level of
// four floats is the grey level of the bytes.
TEST(PictureSource, GreyOfFloatsIsGreyOfBytesForEveryBlueAndGreenPair) {
  Bitmap picture(256, 256, 24);
  for (std::int32_t y = 0; y < 256; ++y)
    for (std::int32_t x = 0; x < 256; ++x) {
      std::uint8_t* p = picture.ScanLine(y) + 3 * x;
      p[0] = static_cast<std::uint8_t>(x);
      p[1] = static_cast<std::uint8_t>(y);
      p[2] = static_cast<std::uint8_t>(x * 7 + y * 13);
    }
  const TImageF4 colour = FloatsOfBytes(picture);
  for (const KernelConfig& config : AllConfigs()) {
    ScopedKernels guard(config);
    EXPECT_TRUE(SameFloats(FloatsOf(Greyscale(picture)), FloatsOf(Greyscale(colour))))
        << config.Name();
  }
}

// Samples that no byte gives (16-bit values / 257, scaled by a partial alpha): the fast
// glue of four-float pictures against the plain loops.
TEST(PictureSource, FractionalFloatsGiveThePlainBitsWithFastKernels) {
  const Bitmap bytes = BlockPicture(19, 13, 32);
  TImageF4 colour = FloatsOfBytes(bytes);
  for (std::int32_t y = 0; y < colour.Height(); ++y)
    for (std::int32_t x = 0; x < 4 * colour.Width(); ++x) {
      float& v = colour.Row(y)[x];
      v = (v * 257.0f + static_cast<float>((x * 31 + y * 17) % 257)) / 257.0f *
          (0.25f + static_cast<float>(x % 7) / 8.0f);
    }
  for (const Pipeline& pipeline : Pipelines()) {
    const Floats expected = [&] {
      ScopedKernels guard({true, 1, true});
      return pipeline.run(colour);
    }();
    for (const KernelConfig& config : FastConfigs()) {
      ScopedKernels guard(config);
      EXPECT_TRUE(SameFloats(expected, pipeline.run(colour)))
          << pipeline.name << ", " << config.Name();
    }
  }
}

}  // namespace
}  // namespace tvq
