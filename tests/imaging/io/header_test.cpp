// The header reader: the facts a file stores (depth, palette, inks, alpha, profile,
// orientation) without decoding a pixel, in agreement with what its decoder makes of
// the same file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/hostile_files.h"
#include "common/images.h"
#include "common/pictures.h"
#include "imaging/io/picture.h"

namespace tvq {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes Load(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Every stored layout of the fuzzers' corpus: the header agrees with the decoded
// picture, or both are refused with the same problem (the corpus's huge canvases by
// the pixel limit).
TEST(PictureHeaderTest, AgreesWithTheDecoderOnEveryCorpusFile) {
  DecodeLimits limits;
  limits.maxPixels = 1'000'000;
  int files = 0;
  for (const char* folder : {"bmp", "pfm", "png", "jpeg", "tiff", "webp"})
    for (const auto& entry : fs::directory_iterator(fs::path(TVQ_FUZZ_CORPUS) / folder)) {
      SCOPED_TRACE(entry.path().string());
      const Bytes bytes = Load(entry.path());
      const std::string refusal =
          test::MessageOf<FileError>([&] { DecodePicture(bytes.data(), bytes.size(), limits); });
      const std::string headerRefusal = test::MessageOf<FileError>(
          [&] { DecodePictureHeader(bytes.data(), bytes.size(), limits); });
      EXPECT_EQ(headerRefusal, refusal);
      if (!refusal.empty()) continue;
      EXPECT_EQ(test::HeaderMismatch(DecodePictureHeader(bytes.data(), bytes.size(), limits),
                                     DecodePicture(bytes.data(), bytes.size(), limits)),
                "");
      ++files;
    }
  EXPECT_GT(files, 60);
}

// What the file stores, where the decoded picture says something else.
TEST(PictureHeaderTest, TellsTheStoredDepthAndChannels) {
  const struct {
    const char* file;  // in the corpus
    int channels, bits;
    bool palette, cmyk, alpha;
    int storedWidth, width, orientation;
  } cases[] = {
      {"bmp/1bit.bmp", 1, 1, true, false, false, 13, 13, 1},
      {"bmp/4bit.bmp", 1, 4, true, false, false, 13, 13, 1},
      {"bmp/16bit_565.bmp", 3, 6, false, false, false, 13, 13, 1},
      {"bmp/32bit_101010.bmp", 3, 10, false, false, false, 13, 13, 1},
      {"bmp/24bit.bmp", 3, 8, false, false, false, 13, 13, 1},
      {"png/grey2.png", 1, 2, false, false, false, 13, 13, 1},
      {"png/palette4.png", 1, 4, true, false, false, 13, 13, 1},
      {"png/rgba16.png", 4, 16, false, false, true, 13, 13, 1},
      {"jpeg/cmyk.jpg", 4, 8, false, true, false, 13, 13, 1},
      {"jpeg/rgb_exif6.jpg", 3, 8, false, false, false, 11, 7, 6},
      {"tiff/palette4.tif", 1, 4, true, false, false, 20, 20, 1},
      {"tiff/grey1_white.tif", 1, 1, false, false, false, 20, 20, 1},
      {"webp/lossy_alpha.webp", 4, 8, false, false, true, 13, 13, 1},
      {"pfm/colour_le.pfm", 3, 32, false, false, false, 9, 9, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const Bytes bytes = Load(fs::path(TVQ_FUZZ_CORPUS) / c.file);
    const PictureHeader h = DecodePictureHeader(bytes.data(), bytes.size());
    EXPECT_EQ(h.channels, c.channels);
    EXPECT_EQ(h.bitsPerChannel, c.bits);
    EXPECT_EQ(h.palette, c.palette);
    EXPECT_EQ(h.cmyk, c.cmyk);
    EXPECT_EQ(h.alpha, c.alpha);
    EXPECT_EQ(h.storedWidth, c.storedWidth);
    EXPECT_EQ(h.width, c.width);
    EXPECT_EQ(h.orientation, c.orientation);
  }
}

// A 94-byte animation claiming a 10000 x 10000 canvas: its header answers with the
// canvas, and the limits refuse it, without a pixel allocated.
TEST(PictureHeaderTest, AnimationCanvasIsReadFromTheHeader) {
  const Bytes still =
      EncodePicture(test::MakePicture(2, 2, 3, 8, [](int, int, int) { return 9.0f; }),
                    PictureFormat::kWebp, {100});
  const Bytes canvas = test::AnimationWithCanvas(still, 10000, 10000);
  EXPECT_EQ(canvas.size(), 94u);
  const std::string answer = test::InLimitedAddressSpace(64 << 20, [&] {
    const PictureHeader h = DecodePictureHeader(canvas.data(), canvas.size());
    return std::to_string(h.width) + "x" + std::to_string(h.height);
  });
  EXPECT_EQ(answer, "10000x10000");
  DecodeLimits limits;
  limits.maxPixels = 50'000'000;
  EXPECT_EQ(test::MessageOf<FileError>(
                [&] { DecodePictureHeader(canvas.data(), canvas.size(), limits); }),
            "10000x10000 is 100 megapixels; the limit is 50 megapixels");
}

}  // namespace
}  // namespace tvq
