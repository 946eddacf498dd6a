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
  struct Case {
    PictureFormat format;
    std::int32_t width, height, channels, bits;
    bool profile;
  };
  const Case cases[] = {
      {PictureFormat::kPng, 37, 23, 3, 8, false},  {PictureFormat::kPng, 1, 9, 1, 8, false},
      {PictureFormat::kPng, 20, 11, 4, 16, false}, {PictureFormat::kPng, 13, 7, 2, 8, true},
      {PictureFormat::kPfm, 17, 9, 3, 8, false},   {PictureFormat::kPfm, 5, 1, 1, 8, false},
      {PictureFormat::kPfm, 6, 4, 4, 8, false},
  };
  const std::filesystem::path path = test::TempPath("rowwrite.out");
  for (const Case& c : cases)
    for (const std::int32_t band : {1, 4, 1000}) {
      Picture picture =
          test::MakePicture(c.width, c.height, c.channels, c.bits, [](int x, int y, int ch) {
            return static_cast<float>((x * 37 + y * 11 + ch * 5) % 300) - 20.5f;
          });
      if (c.profile) picture.icc = std::vector<std::uint8_t>(200, 7);
      const std::vector<std::uint8_t> whole = EncodePicture(picture, c.format);
      Picture facts = picture;
      facts.samples.clear();
      auto writer = OpenRowWriter(path.string(), c.format, facts);
      ASSERT_TRUE(writer);
      const std::size_t rowSamples = static_cast<std::size_t>(c.width) * c.channels;
      for (std::int32_t y = 0; y < c.height; y += band)
        writer->WriteRows(picture.samples.data() + y * rowSamples, std::min(band, c.height - y));
      writer->Finish();
      EXPECT_EQ(FileBytes(path), whole) << PictureFormatName(c.format) << " " << c.width << "x"
                                        << c.height << "x" << c.channels << " band " << band;
    }
  std::filesystem::remove(path);
}

TEST(RowWriter, RefusesMissingRowsAndLeavesNoFile) {
  const std::filesystem::path folder = test::TempPath("rowwrite_dir");
  std::filesystem::create_directories(folder);
  const Picture picture = test::MakePicture(4, 3, 3, 8, [](int, int, int) { return 9.0f; });
  for (const PictureFormat format : {PictureFormat::kPng, PictureFormat::kPfm}) {
    auto writer = OpenRowWriter((folder / "out").string(), format, picture);
    writer->WriteRows(picture.samples.data(), 2);
    EXPECT_THROW(writer->Finish(), FileError);
    EXPECT_THROW(writer->WriteRows(picture.samples.data(), 2), FileError);
    writer.reset();
    EXPECT_TRUE(std::filesystem::is_empty(folder));
  }
  EXPECT_FALSE(OpenRowWriter((folder / "out").string(), PictureFormat::kJpeg, picture));
  EXPECT_THROW(OpenRowWriter((folder / "missing" / "out").string(), PictureFormat::kPng, picture),
               FileError);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tvq
