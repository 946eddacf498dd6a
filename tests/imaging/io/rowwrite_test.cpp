// Files written row by row hold exactly the bytes of the whole-picture encoder, however
// the rows come in; an unfinished writer leaves nothing behind.
#include "imaging/io/rowwrite.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/files.h"
#include "common/pictures.h"
#include "imaging/errors.h"

namespace tvq {
namespace {

std::vector<std::uint8_t> FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(RowWriter, WritesTheBytesOfTheWholePictureEncoder) {
  using F = PictureFormat;
  struct Case {
    F format;
    std::int32_t width, height, channels, bits;
    bool profile;
    WriteOptions options;
  };
  const Case cases[] = {
      {F::kPng, 37, 23, 3, 8, false, {}},
      {F::kPng, 1, 9, 1, 8, false, {}},
      {F::kPng, 20, 11, 4, 16, false, {}},
      {F::kPng, 13, 7, 2, 8, true, {}},
      {F::kPfm, 17, 9, 3, 8, false, {}},
      {F::kPfm, 5, 1, 1, 8, false, {}},
      {F::kPfm, 6, 4, 4, 8, false, {}},
      {F::kBmp, 37, 23, 3, 8, false, {}},
      {F::kBmp, 1, 9, 1, 8, false, {}},
      {F::kBmp, 6, 4, 4, 16, false, {}},
      {F::kBmp, 13, 7, 2, 8, true, {}},
      {F::kJpeg, 37, 23, 3, 8, false, {}},
      {F::kJpeg, 1, 9, 1, 8, false, {}},
      {F::kJpeg, 20, 19, 4, 16, false, {.quality = 75}},  // 4:2:0 chroma
      {F::kJpeg, 13, 7, 2, 8, true, {.quality = 100}},
      {F::kJpeg, 30, 21, 3, 8, true, {.quality = 1}},
      {F::kTiff, 37, 23, 3, 8, false, {}},
      {F::kTiff, 1, 9, 1, 8, false, {.compression = 0}},
      {F::kTiff, 300, 61, 4, 16, false, {}},                 // strips of 27 rows
      {F::kTiff, 700, 100, 1, 8, true, {.compression = 9}},  // strips of 93 rows
      {F::kTiff, 13, 7, 2, 16, true, {.compression = 1}},
  };
  // Bands of rows as the tiles give them: heights repeated until the picture ends.
  const std::vector<std::int32_t> bandings[] = {{1}, {4}, {1000}, {3, 1, 7, 2}, {29, 5, 64}};
  const std::filesystem::path path = test::TempPath("rowwrite.out");
  for (const Case& c : cases)
    for (const std::vector<std::int32_t>& bands : bandings) {
      Picture picture =
          test::MakePicture(c.width, c.height, c.channels, c.bits, [](int x, int y, int ch) {
            return static_cast<float>((x * 37 + y * 11 + ch * 5) % 300) - 20.5f;
          });
      if (c.profile) picture.icc = std::vector<std::uint8_t>(200, 7);
      const std::vector<std::uint8_t> whole = EncodePicture(picture, c.format, c.options);
      Picture facts = picture;
      facts.samples.clear();
      auto writer = OpenRowWriter(path.string(), c.format, facts, c.options);
      ASSERT_TRUE(writer);
      const std::size_t rowSamples = static_cast<std::size_t>(c.width) * c.channels;
      for (std::int32_t y = 0, band = 0; y < c.height; ++band) {
        const std::int32_t rows = std::min(bands[band % bands.size()], c.height - y);
        writer->WriteRows(picture.samples.data() + y * rowSamples, rows);
        y += rows;
      }
      writer->Finish();
      EXPECT_EQ(FileBytes(path), whole)
          << PictureFormatName(c.format) << " " << c.width << "x" << c.height << "x" << c.channels
          << " " << c.bits << " bits, bands of " << bands[0] << " first";
    }
  std::filesystem::remove(path);
}

TEST(RowWriter, RefusesMissingRowsAndLeavesNoFile) {
  const std::filesystem::path folder = test::TempPath("rowwrite_dir");
  std::filesystem::create_directories(folder);
  const Picture picture = test::MakePicture(4, 3, 3, 8, [](int, int, int) { return 9.0f; });
  for (const PictureFormat format : {PictureFormat::kPng, PictureFormat::kPfm, PictureFormat::kBmp,
                                     PictureFormat::kJpeg, PictureFormat::kTiff}) {
    SCOPED_TRACE(PictureFormatName(format));
    auto writer = OpenRowWriter((folder / "out").string(), format, picture);
    writer->WriteRows(picture.samples.data(), 2);
    EXPECT_THROW(writer->Finish(), FileError);
    EXPECT_THROW(writer->WriteRows(picture.samples.data(), 2), FileError);
    writer.reset();
    EXPECT_TRUE(std::filesystem::is_empty(folder));
  }
  EXPECT_FALSE(OpenRowWriter((folder / "out").string(), PictureFormat::kWebp, picture));
  // A picture read from a BMP file is written as its own bitmap, which rows do not give.
  Picture withBitmap = picture;
  withBitmap.bitmap = Bitmap(4, 3, 8);
  EXPECT_FALSE(OpenRowWriter((folder / "out").string(), PictureFormat::kBmp, withBitmap));
  EXPECT_THROW(
      OpenRowWriter((folder / "out").string(), PictureFormat::kJpeg, picture, {.quality = 0}),
      FileError);
  EXPECT_THROW(OpenRowWriter((folder / "missing" / "out").string(), PictureFormat::kPng, picture),
               FileError);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tvq
