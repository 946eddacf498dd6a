#include "commands/memoryestimate.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>

#include "common/pictures.h"
#include "imaging/io/picture.h"

namespace tvq {
namespace {

constexpr std::uint64_t kMiB = 1ull << 20;

TEST(MemoryEstimateTest, ByteCountsAsTyped) {
  struct Case {
    const char* text;
    std::optional<std::uint64_t> bytes;
  };
  const Case cases[] = {
      {"1048576", 1048576},
      {"500M", 500 * kMiB},
      {"4G", 4ull << 30},
      {"64k", 64 << 10},
      {"4611686018427387904", 1ull << 62},
      {"4611686018427387905", std::nullopt},
      {"4294967297G", std::nullopt},
      {"0", std::nullopt},
      {"0M", std::nullopt},
      {"", std::nullopt},
      {"G", std::nullopt},
      {"1.5G", std::nullopt},
      {"-1", std::nullopt},
      {"1T", std::nullopt},
      {"12x", std::nullopt},
      {" 12", std::nullopt},
      {"99999999999999999999", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseByteCount(c.text), c.bytes) << c.text;
}

TEST(MemoryEstimateTest, MessagesNameTheNeedAndTheLimit) {
  EXPECT_EQ(FormatBytes(100), "100 bytes");
  EXPECT_EQ(FormatBytes(1536), "1.5 KB");
  EXPECT_EQ(FormatBytes(750 * kMiB), "750 MB");
  EXPECT_EQ(FormatBytes(3435973837ull), "3.2 GB");

  const MemoryLimit limit{2048 * kMiB, "--max-memory"};
  EXPECT_EQ(MemoryShortfall("resample", 2048 * kMiB, limit), std::nullopt);
  EXPECT_EQ(MemoryShortfall("resample", 3435973837ull, limit),
            "resample needs about 3.2 GB; the limit is 2.0 GB (--max-memory)");
  // Rounded to the same text, the need is said to be above the limit.
  EXPECT_EQ(MemoryShortfall("resample", 2049 * kMiB, limit),
            "resample needs more than 2.0 GB; the limit is 2.0 GB (--max-memory)");
  // No known limit refuses nothing.
  EXPECT_EQ(MemoryShortfall("resample", 1ull << 62, MemoryLimit{}), std::nullopt);
  EXPECT_THROW(CheckMemory("resample", 3435973837ull, limit), std::runtime_error);
}

// Every command has a cost; the options that add planes add to it; the estimate is the
// base, the input and the work.
TEST(MemoryEstimateTest, EstimateAddsInputAndWork) {
  for (int w = 0; w <= static_cast<int>(MemoryWork::kResample); ++w)
    EXPECT_GT(WorkBytesPerPixel(static_cast<MemoryWork>(w)), 0.0) << w;
  const double plain = WorkBytesPerPixel(MemoryWork::kResample);
  EXPECT_GT(WorkBytesPerPixel(MemoryWork::kResample, {true, true, false, false}), plain);
  EXPECT_GT(WorkBytesPerPixel(MemoryWork::kResample, {false, false, true, false}), plain);
  EXPECT_GT(WorkBytesPerPixel(MemoryWork::kResample, {false, false, false, true}), plain);
  EXPECT_GT(WorkBytesPerPixel(MemoryWork::kDering, {false, true, false, false}),
            WorkBytesPerPixel(MemoryWork::kDering));

  const std::uint64_t work = WorkMemory(MemoryWork::kResample, {}, 1000, 2000);
  EXPECT_EQ(work, static_cast<std::uint64_t>(2e6 * plain));
  const std::uint64_t estimate = EstimateMemory(MemoryWork::kResample, {}, 1000, 2000, 6000000);
  EXPECT_GT(estimate, work + 6000000);
  EXPECT_LT(estimate, work + 6000000 + 64 * kMiB);
  // The largest picture a side allows stays a finite number.
  EXPECT_GT(EstimateMemory(MemoryWork::kResample, {true, true, true, true}, 65535, 65535, 0),
            600ull << 30);
}

// The bounds from a file's header enclose the estimate once the file is decoded, and
// the lower bound is that estimate for an opaque picture of a format's usual input.
TEST(MemoryEstimateTest, HeaderBoundsEncloseTheDecodedEstimate) {
  constexpr int kWidth = 37, kHeight = 23;  // odd, so that BMP rows are padded
  const auto file = [](PictureFormat format, int channels, float alpha) {
    Picture picture = test::MakePicture(kWidth, kHeight, channels, 8, [&](int x, int, int c) {
      return c == 3 || (channels == 2 && c == 1) ? (x < 9 ? alpha : 255.0f) : 40.0f + c;
    });
    if (format == PictureFormat::kBmp && channels == 3)
      picture.bitmap = test::SolidPicture(kWidth, kHeight, 24, 1, 2, 3);
    return EncodePicture(picture, format);
  };
  struct Case {
    PictureFormat format;
    int channels;
    float alpha;      // of the left columns
    bool leastExact;  // the decoded estimate is the lower bound
  } const cases[] = {
      {PictureFormat::kBmp, 3, 255, true},   {PictureFormat::kBmp, 4, 255, false},
      {PictureFormat::kPng, 3, 255, true},   {PictureFormat::kPng, 4, 255, true},
      {PictureFormat::kPng, 4, 0, false},    {PictureFormat::kPng, 2, 100, false},
      {PictureFormat::kTiff, 4, 100, false}, {PictureFormat::kWebp, 4, 100, false},
      {PictureFormat::kJpeg, 3, 255, true},  {PictureFormat::kPfm, 1, 255, true},
  };
  const MemoryWork works[] = {MemoryWork::kGrey, MemoryWork::kResample, MemoryWork::kUpscaleColour};
  for (const Case& c : cases) {
    const std::vector<std::uint8_t> bytes = file(c.format, c.channels, c.alpha);
    const CommandInput input = PrepareInput(DecodePicture(bytes.data(), bytes.size()));
    for (const MemoryWork work : works) {
      SCOPED_TRACE(std::string(PictureFormatName(c.format)) + " " + std::to_string(c.channels) +
                   " channels, work " + std::to_string(static_cast<int>(work)));
      MemoryFeatures features{true, false, false, input.alpha.HasImage()};
      const std::uint64_t exact =
          EstimateMemory(work, features, kWidth, kHeight, InputBytes(input));
      for (const std::optional<PictureFormat> format :
           {std::optional(c.format), std::optional<PictureFormat>()}) {
        const MemoryBounds bounds =
            EstimateMemoryFromHeader(work, features, kWidth, kHeight, format);
        EXPECT_LE(bounds.least, exact);
        EXPECT_GE(bounds.most, exact);
        if (format && c.leastExact) {
          EXPECT_EQ(bounds.least, exact);
        }
      }
    }
  }
}

// A lowered address-space limit is what the system allows; without one, the memory
// available is.
TEST(MemoryEstimateTest, SystemLimitRespectsTheAddressSpace) {
  const MemoryLimit available = SystemMemoryLimit();
  EXPECT_GT(available.bytes, 0u);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve terabytes of address space";
#endif
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
  if (saved.rlim_cur != RLIM_INFINITY) GTEST_SKIP() << "an address-space limit is already set";
  unsigned long pages = 0;
  {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    ASSERT_NE(statm, nullptr);
    ASSERT_EQ(std::fscanf(statm, "%lu", &pages), 1);
    std::fclose(statm);
  }
  rlimit lowered = saved;
  lowered.rlim_cur = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + 64 * kMiB;
  ASSERT_EQ(setrlimit(RLIMIT_AS, &lowered), 0);
  const MemoryLimit more = SystemMemoryLimit(false);
  ASSERT_EQ(setrlimit(RLIMIT_AS, &saved), 0);
  EXPECT_EQ(more.source, "address-space limit");
  EXPECT_LE(more.bytes, 64 * kMiB);
  EXPECT_GT(more.bytes, 32 * kMiB);
}

}  // namespace
}  // namespace tvq
