// Every decoder against damaged files: each truncation (on a stride) and thousands
// of seeded random byte changes of a small valid file either decode to a whole
// picture or are refused with FileError; nothing else may happen. The header reader
// accepts every file that decodes and agrees with its picture. Chunk lengths beyond
// the file cost nothing, and memory that runs out is reported as such.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/bmp_builder.h"
#include "common/hostile_files.h"
#include "common/images.h"
#include "common/jpeg_markers.h"
#include "common/metadata_blocks.h"
#include "common/pictures.h"
#include "common/png_builder.h"
#include "imaging/io/picture.h"

namespace tvq {
namespace {

using Bytes = std::vector<std::uint8_t>;
using F = PictureFormat;

Picture Pattern(std::int32_t width, std::int32_t height, std::int32_t channels,
                std::int32_t bits = 8) {
  return test::MakePicture(width, height, channels, bits, [&](int x, int y, int c) {
    const std::int32_t i = (y * width + x) * channels + c;
    return static_cast<float>((i * 37 + i / 5) % 256);
  });
}

Bytes WithMetadata(Picture picture, F format) {
  picture.icc = testblocks::IccProfile("RGB ");
  return EncodePicture(picture, format);
}

struct Seed {
  const char* name;
  Bytes bytes;
  bool pngChunks = false;  // reseal chunk CRCs after half of the changes
};

// One line per format and layout.
std::vector<Seed> Seeds() {
  return {
      {"BMP", EncodePicture(Pattern(7, 5, 3), F::kBmp)},
      {"PFM colour", EncodePicture(Pattern(5, 3, 3), F::kPfm)},
      {"PFM grey", EncodePicture(Pattern(6, 4, 1), F::kPfm)},
      {"PNG RGBA, ICC, EXIF",
       pngtest::InsertBeforeImageData(WithMetadata(Pattern(7, 5, 4), F::kPng),
                                      {"eXIf", testblocks::ExifBlock(true, 3, 1, 6)}),
       true},
      {"PNG grey 16 bits", EncodePicture(Pattern(9, 4, 1, 16), F::kPng), true},
      {"PNG palette, interlaced, stored blocks",
       pngtest::BuildPng(9, 7, 4, 3, 1, true,
                         [](std::uint32_t x, std::uint32_t y, int) { return (x + y) % 5; },
                         {{"PLTE", Bytes(15, 200)}, {"tRNS", {0, 99}}}),
       true},
      {"JPEG 4:4:4, ICC, EXIF", jpegtest::WithExif(WithMetadata(Pattern(13, 9, 3), F::kJpeg),
                                                   testblocks::ExifBlock(false, 3, 1, 6))},
      {"JPEG 4:2:0", EncodePicture(Pattern(11, 10, 3), F::kJpeg, {50})},
      {"TIFF RGBA 16 bits, ICC", WithMetadata(Pattern(7, 5, 4, 16), F::kTiff)},
      {"WebP RGBA, ICC", WithMetadata(Pattern(9, 6, 4), F::kWebp)},
  };
}

TEST(HostileFileTest, DamagedFilesDecodeWholeOrFailCleanly) {
  std::mt19937 random(20261207);
  for (const Seed& seed : Seeds()) {
    SCOPED_TRACE(seed.name);
    int decoded = 0;
    int refused = 0;
    const auto check = [&](const Bytes& bytes) {
      try {
        const Picture picture = DecodePicture(bytes.data(), bytes.size());
        ASSERT_GT(picture.width, 0);
        ASSERT_GT(picture.height, 0);
        if (picture.bitmap) {
          ASSERT_EQ(picture.bitmap->Width(), picture.width);
          ASSERT_EQ(picture.bitmap->Height(), picture.height);
        } else {
          ASSERT_GE(picture.channels, 1);
          ASSERT_LE(picture.channels, 4);
          ASSERT_EQ(picture.samples.size(),
                    static_cast<std::size_t>(picture.width) * picture.height * picture.channels);
        }
        ASSERT_EQ(test::HeaderMismatch(DecodePictureHeader(bytes.data(), bytes.size()), picture),
                  "");
        ++decoded;
      } catch (const FileError&) {
        ++refused;
      }
    };
    const Bytes& file = seed.bytes;
    check(file);
    ASSERT_EQ(decoded, 1) << "the undamaged file does not decode";
    const std::size_t stride = std::max<std::size_t>(1, file.size() / 300);
    for (std::size_t n = 0; n < file.size(); n += stride)
      check(Bytes(file.begin(), file.begin() + n));
    for (int k = 0; k < 3000; ++k) {
      Bytes m = file;
      const int changes = 1 + static_cast<int>(random() % 4);
      for (int j = 0; j < changes; ++j)
        m[random() % m.size()] = static_cast<std::uint8_t>(random());
      if (random() % 8 == 0) m.resize(random() % (m.size() + 1));
      if (seed.pngChunks && k % 2 == 0) pngtest::SealChunks(m);
      check(m);
    }
    EXPECT_GT(refused, 100);
    EXPECT_GT(decoded, 10);
  }
}

// Declared sizes that the data cannot hold are refused before pixels are allocated.
TEST(HostileFileTest, DeclaredSizesBeyondTheDataAreRefused) {
  const std::string pfm = "PF\n40000 40000\n-1.0\n";
  const struct {
    const char* name;
    Bytes bytes;
    const char* problem;
  } cases[] = {
      {"PNG over the memory limit", pngtest::Declaring(20000, 10000),
       "more than the 512 MiB allowed"},
      {"PNG over the side limit", pngtest::Declaring(70000, 1), "PNG data is corrupt"},
      {"PNG far beyond its data", pngtest::Declaring(10000, 5000), "the PNG data ends early"},
      {"PNG a little beyond its data", pngtest::Declaring(3, 1), "PNG data is corrupt"},
      {"PFM over the memory limit", Bytes(pfm.begin(), pfm.end()), "MiB allowed"},
  };
  for (const auto& c : cases) {
    const std::string message =
        test::MessageOf<FileError>([&] { DecodePicture(c.bytes.data(), c.bytes.size()); });
    EXPECT_NE(message.find(c.problem), std::string::npos) << c.name << ": " << message;
  }
}

// Sanitizers reserve address space of their own, so a cap on it means nothing there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kAddressSpaceCaps = false;
#else
constexpr bool kAddressSpaceCaps = true;
#endif

// What decoding the file gives in a process that may grow by `extra` bytes: the
// problem, or "decoded".
std::string DecodeWithin(std::size_t extra, const Bytes& file) {
  return test::InLimitedAddressSpace(extra, [&] {
    const std::string problem =
        test::MessageOf<FileError>([&] { DecodePicture(file.data(), file.size()); });
    return problem.empty() ? std::string("decoded") : problem;
  });
}

// A chunk declaring more bytes than the file holds is refused before libpng reads it;
// chunks that are not used cost nothing whatever their size; kept ones are capped.
TEST(HostileFileTest, PngChunkLengthsAreCheckedBeforeReading) {
  if (!kAddressSpaceCaps) GTEST_SKIP() << "no address space cap under sanitizers";
  const Bytes png =
      pngtest::BuildPng(1, 1, 8, 2, 3, false, [](std::uint32_t, std::uint32_t, int) { return 5u; });
  const Bytes large(33u << 20, 'a');  // beyond the 32 MiB of a kept chunk
  std::vector<std::pair<Bytes, std::string>> cases;
  for (const char* type : {"tEXt", "zTXt", "iTXt", "sPLT"}) {
    // 56 bytes: signature, header, and a chunk of 2^31 - 1 bytes of which 11 are there.
    Bytes file(png.begin(), png.begin() + 33);
    pngtest::PutBig32(file, 0x7FFFFFFF);
    file.insert(file.end(), type, type + 4);
    file.resize(56, 'k');
    cases.emplace_back(file, std::string("the PNG data ends early: its ") + type +
                                 " chunk declares 2147483647 bytes, 11 are left");
  }
  cases.emplace_back(pngtest::InsertBeforeImageData(png, {"tEXt", large}), "decoded");
  cases.emplace_back(pngtest::InsertBeforeImageData(png, {"eXIf", large}),
                     "the PNG data is corrupt: its eXIf chunk of 34603008 bytes is larger than "
                     "the 32 MiB allowed");
  for (const auto& [file, expected] : cases) EXPECT_EQ(DecodeWithin(16u << 20, file), expected);
}

// Memory that runs out inside libwebp is reported as memory, not as corrupt data:
// a still picture whose decoder cannot get its pixel buffer, and an animation whose
// canvases do not fit.
TEST(HostileFileTest, WebpOutOfMemoryIsReportedAsSuch) {
  if (!kAddressSpaceCaps) GTEST_SKIP() << "no address space cap under sanitizers";
  // A lossless picture of one colour decodes at any size its header declares.
  const auto lossless = [](std::uint32_t width, std::uint32_t height) {
    Bytes webp = EncodePicture(test::MakePicture(2, 2, 3, 8, [](int, int, int) { return 60.0f; }),
                               F::kWebp, {100});
    const std::uint32_t kept = (webp[24] >> 4) << 28;  // alpha hint and version
    bmptest::Put32(webp, 21, (width - 1) | ((height - 1) << 14) | kept);
    return webp;
  };
  constexpr std::size_t kSide = 4000, kPixels = kSide * kSide, kMargin = 24u << 20;
  const struct {
    const char* name;
    Bytes file;
    std::size_t room;  // what the codec layer's own buffers take
  } cases[] = {
      {"still", lossless(kSide, kSide), 3 * kPixels},
      {"animation", test::AnimationWithCanvas(lossless(2, 2), kSide, kSide), 7 * kPixels},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DecodeWithin(c.room + kMargin, c.file), "not enough memory for the picture")
        << c.name;
}

}  // namespace
}  // namespace tvq
