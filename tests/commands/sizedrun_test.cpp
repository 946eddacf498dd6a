// The commands at any size: alpha without a rim, stops, and the memory of the largest
// stage.
#include "commands/sizedrun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "common/pictures.h"
#include "common/progress.h"

namespace tvq {
namespace {

// 24 x 20: an opaque orange disc on a transparent background whose colour is black.
CommandInput DiscInput() {
  return PrepareInput(test::MakePicture(24, 20, 4, 8, [](int x, int y, int c) {
    const bool inside = (x - 11.5) * (x - 11.5) + (y - 9.5) * (y - 9.5) < 49.0;
    const float orange[4] = {230.0f, 120.0f, 30.0f, 255.0f};
    return inside ? orange[c] : 0.0f;
  }));
}

OutputSize SizeOf(double scale, std::int32_t width, std::int32_t height) {
  OutputSizeParams params;
  params.scale = scale;
  return ComputeOutputSize(params, width, height);
}

// Every pixel that is at least a quarter opaque is no darker than the disc (its grey
// level within 30 of the disc's): the transparent black does not bleed into the edge.
// (Brighter is the overshoot of any sharp enlargement of an edge.)
void ExpectNoDarkRim(const Picture& result, const std::string& name) {
  ASSERT_EQ(result.channels, 4) << name;
  const double disc = 0.299 * 230 + 0.587 * 120 + 0.114 * 30;
  std::int32_t visible = 0;
  for (std::size_t i = 0; i < result.samples.size(); i += 4) {
    if (result.samples[i + 3] < 64.0f) continue;
    ++visible;
    const auto byte = [&](std::size_t k) {
      return std::clamp(result.samples[i + k], 0.0f, 255.0f);
    };
    const double grey = 0.299 * byte(0) + 0.587 * byte(1) + 0.114 * byte(2);
    EXPECT_GT(grey, disc - 30.0) << name << " at pixel " << i / 4 << ": " << byte(0) << ", "
                                 << byte(1) << ", " << byte(2) << " alpha "
                                 << result.samples[i + 3];
  }
  EXPECT_GT(visible, 9 * 140) << name;  // the disc, about 150 pixels, at 3x
}

TEST(SizedRun, AlphaFollowsThePictureWithoutADarkRimAt3x) {
  const CommandInput input = DiscInput();
  const OutputSize size = SizeOf(3.0, 24, 20);
  NullProgress progress;
  for (const SizeRoute route : {SizeRoute::kDirect, SizeRoute::kPasses}) {
    const Picture result =
        ResampleAtSize(input, size, ResampleParams{}, nullptr, nullptr, "", progress, route);
    EXPECT_EQ(result.width, 72);
    EXPECT_EQ(result.height, 60);
    ExpectNoDarkRim(result, route == SizeRoute::kDirect ? "direct" : "passes");
  }
  ExpectNoDarkRim(UpscaleAtSize(input, size, UpscaleMethod::kGradientColour, progress),
                  "gradient-color");
  ExpectNoDarkRim(ResizeAtSize(input, size, ResizeFilter::kLanczos3, progress), "resize");
}

TEST(SizedRun, AStopWritesOnlyWhenTheLastIterationsWereRunning) {
  const CommandInput input = PrepareInput(test::MakePicture(10, 8, 3, 8, [](int x, int y, int c) {
    return static_cast<float>((x * 37 + y * 11 + c) % 256);
  }));
  const OutputSize size = SizeOf(3.5, 10, 8);  // two passes, then the reduction
  const ResampleParams params;
  {
    test::RecordingProgress stopping(5);  // in the first pass's iterations
    EXPECT_THROW(
        ResampleAtSize(input, size, params, nullptr, nullptr, "", stopping, SizeRoute::kPasses),
        OperationStopped);
  }
  // The first pass polls once per iteration and once after it; the second is stopped in
  // its sixth iteration, and its result comes at the asked size.
  test::RecordingProgress late(params.iterations + 1 + 5);
  Picture result =
      ResampleAtSize(input, size, params, nullptr, nullptr, "", late, SizeRoute::kPasses);
  EXPECT_EQ(result.width, 35);
  EXPECT_EQ(result.height, 28);
  bool secondPass = false, reduction = false;
  for (const auto& call : late.calls) {
    secondPass = secondPass || call.stage == "Pass 2 of 2: Iterations [5]";
    reduction = reduction || call.stage == "Reduction";
  }
  EXPECT_TRUE(secondPass);
  EXPECT_TRUE(reduction);
  test::RecordingProgress direct(3);
  result = ResampleAtSize(input, size, params, nullptr, nullptr, "", direct, SizeRoute::kDirect);
  EXPECT_EQ(result.width, 35);
  EXPECT_EQ(result.height, 28);
}

TEST(SizedRun, TheMemoryEstimateCountsTheLargestStage) {
  const std::uint64_t input = 3 * 1000 * 800;
  const std::uint64_t twice =
      EstimateMemoryAtSize(MemoryWork::kResample, {}, 1000, 800, input, SizeOf(2.0, 1000, 800));
  EXPECT_EQ(twice, EstimateMemory(MemoryWork::kResample, {}, 1000, 800, input));
  // Four times by passes: the second pass enlarges a 2000 x 1600 picture of four floats.
  const std::uint64_t fourTimes =
      EstimateMemoryAtSize(MemoryWork::kResample, {}, 1000, 800, input, SizeOf(4.0, 1000, 800));
  EXPECT_GE(fourTimes,
            EstimateMemory(MemoryWork::kResample, {}, 2000, 1600, input + 16ull * 2000 * 1600));
  // The direct solve at 3x counts a two-times Resample of the same result size.
  const std::uint64_t direct = EstimateMemoryAtSize(MemoryWork::kResample, {}, 1000, 800, input,
                                                    SizeOf(3.0, 1000, 800), SizeRoute::kDirect);
  EXPECT_GE(direct, EstimateMemory(MemoryWork::kResample, {}, 1500, 1200, input));
  EXPECT_GT(direct, twice);
}

}  // namespace
}  // namespace tvq
