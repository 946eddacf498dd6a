// --scale, --size and the resize command from the command line: the sizes written,
// two times byte for byte as without an option, usage errors before any file is read,
// batches, 16 bits and the colour profile.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "common/files.h"
#include "common/metadata_blocks.h"
#include "common/pictures.h"
#include "imaging/io/picture.h"

namespace tvq {
namespace {

namespace fs = std::filesystem;

class SizesCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::TempPath(std::string("sizes_") +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // A PNG of width x height with `channels` channels (4: with alpha, a transparent
  // corner) at `bits` bits, holding a soft pattern with one sharp edge.
  std::string MakePng(const std::string& name, int width, int height, int channels = 3,
                      int bits = 8, const std::vector<std::uint8_t>& icc = {}) const {
    Picture picture = test::MakePicture(width, height, channels, bits, [&](int x, int y, int c) {
      if (c == 3) return x + y < 4 ? 0.0f : 255.0f;
      return static_cast<float>((x > width / 2 ? 180 : 40) + 5 * y + 3 * c);
    });
    picture.icc = icc;
    WritePicture(picture, Path(name));
    return Path(name);
  }

  fs::path dir_;
};

using test::ReadText;
using test::RunTvq;

TEST_F(SizesCli, ScaleTwoAndTheSizeOfTwoTimesGiveTheBytesOfNoOption) {
  const std::string colour = MakePng("in.png", 12, 10);
  const std::string alpha = MakePng("alpha.png", 12, 10, 4);
  for (const std::string command : {"resample", "resample --dering 10 --mask",
                                    "upscale --method nedi", "upscale --method gradient-color"})
    for (const std::string& in : {colour, alpha}) {
      std::vector<std::string> outputs;
      for (const std::string size : {"", " --scale 2", " --size 24x20", " --size 24x20!"}) {
        const std::string out = Path("out" + std::to_string(outputs.size()) + ".png");
        ASSERT_EQ(RunTvq(command + " --quiet" + size, {in, out}).status, 0) << command << size;
        outputs.push_back(ReadText(out));
      }
      for (std::size_t i = 1; i < outputs.size(); ++i)
        EXPECT_TRUE(outputs[i] == outputs[0]) << command << " on " << in << ", size " << i;
    }
}

TEST_F(SizesCli, WritesTheAskedSize) {
  const std::string in = MakePng("in.png", 12, 10);
  const struct {
    std::string options;
    std::int32_t width, height;
  } cases[] = {
      {"resample --scale 3", 36, 30},
      {"resample --scale 1.5", 18, 15},
      {"resample --scale 4 --size-method passes", 48, 40},
      {"resample --size 50x", 50, 42},
      {"resample --dering 10 --scale 2.5", 30, 25},
      {"resample --size 100x100<", 100, 83},
      {"resample --size 10x10<", 12, 10},
      {"upscale --method gradient --size 100x100^", 120, 100},
      {"upscale --method directional --scale 3", 36, 30},
      {"resize --size 5x5!", 5, 5},
      {"resize --scale 0.5 --filter box", 6, 5},
      {"resize --scale 1.25 --filter mitchell", 15, 13},
  };
  for (const auto& c : cases) {
    const std::string out = Path("out.png");
    fs::remove(out);
    const test::RunResult r = RunTvq(c.options + " --quiet", {in, out});
    ASSERT_EQ(r.status, 0) << c.options << ": " << r.err;
    const Picture written = ReadPicture(out);
    EXPECT_EQ(written.width, c.width) << c.options;
    EXPECT_EQ(written.height, c.height) << c.options;
  }
  // A picture left at its size keeps its pixels.
  ASSERT_EQ(RunTvq("resample --quiet --size 10x10<", {in, Path("same.png")}).status, 0);
  EXPECT_EQ(ReadPicture(Path("same.png")).samples, ReadPicture(in).samples);
}

TEST_F(SizesCli, UsageErrorsComeBeforeAnyFileIsRead) {
  const std::string missing = Path("missing.png"), out = Path("out.png");
  for (const char* options :
       {"resample --scale 2 --size 30x30", "resample --size 3y3", "resample --scale 1",
        "resample --scale 16.5", "resample --size 0x5", "resample --size-method direct",
        "resample --size-method fast --scale 3", "upscale --method nedi --scale 0.5", "resize",
        "resize --scale 0", "resize --scale 2 --filter cubic"}) {
    const test::RunResult r = RunTvq(options, {missing, out});
    EXPECT_EQ(r.status, 2) << options << ": " << r.err;
  }
}

TEST_F(SizesCli, SizesThatCannotBeMadeAreTheFilesErrors) {
  const std::string in = MakePng("in.png", 12, 10);
  const std::string wide = MakePng("wide.png", 5000, 1);
  const struct {
    std::string options, file, message;
  } cases[] = {
      {"resample --size 5x5", in, "smaller than it is"},
      {"resize --scale 0.04", in, "less than 1 pixel a side"},
      {"resample --scale 16", wide, "more than 65535 pixels a side"},
      {"upscale --method gradient --size 70000x", in, "a side is at most 65535"},
  };
  for (const auto& c : cases) {
    fs::remove(Path("out.png"));
    const test::RunResult r = RunTvq(c.options + " --quiet", {c.file, Path("out.png")});
    if (c.message == "a side is at most 65535") {  // the geometry itself: a usage error
      EXPECT_EQ(r.status, 2) << c.options;
      continue;
    }
    EXPECT_EQ(r.status, 1) << c.options << ": " << r.err;
    EXPECT_EQ(r.err.rfind("tvq: error: " + c.file + ": ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Path("out.png")));
  }
}

TEST_F(SizesCli, BatchesSizeEachFileAndCountTheLargeOnesDone) {
  fs::create_directories(Path("in"));
  MakePng("in/small.png", 12, 10);
  MakePng("in/large.png", 30, 24);
  const test::RunResult r =
      RunTvq("resample --quiet --size 20x20<", {Path("in"), "-o", Path("out")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("2 done, 0 failed, 0 skipped"), std::string::npos) << r.err;
  const Picture small = ReadPicture(Path("out/small.png"));
  EXPECT_EQ(small.width, 20);
  EXPECT_EQ(small.height, 17);
  const Picture large = ReadPicture(Path("out/large.png"));
  EXPECT_EQ(large.width, 30);
  EXPECT_EQ(large.height, 24);
}

TEST_F(SizesCli, SixteenBitsAndTheProfileCarryThrough) {
  const std::vector<std::uint8_t> icc = testblocks::IccProfile("RGB ");
  const std::string in = MakePng("deep.png", 12, 10, 4, 16, icc);
  for (const std::string options :
       {"resample --scale 3", "resample --scale 1.5", "upscale --method gradient-color --scale 3",
        "resize --scale 0.5"}) {
    ASSERT_EQ(RunTvq(options + " --quiet", {in, Path("out.png")}).status, 0) << options;
    const Picture out = ReadPicture(Path("out.png"));
    EXPECT_EQ(out.bitsPerChannel, 16) << options;
    EXPECT_EQ(out.channels, 4) << options;
    EXPECT_EQ(out.icc, icc) << options;
  }
}

// --tile: a tiled run of a local command writes the bytes of the whole run, streamed
// row by row (PNG, BMP, TIFF, JPEG), at any deflate level, with the solver's default
// schedule too; the whole-line deringing methods, the conditional schedule and the
// commands that do not tile refuse it before any file is read.
TEST_F(SizesCli, TilesGiveTheBytesOfTheWholePicture) {
  const std::string in = MakePng("in.png", 61, 45, 4);
  for (const std::string command : {"resample", "resample --convergence fixed",
                                    "dering --method 10", "mask", "upscale --method nedi"})
    for (const std::string out : {"o.png", "o.bmp", "o.tif", "o.jpg"}) {
      ASSERT_EQ(RunTvq(command + " --quiet --compression 9", {in, Path("whole" + out)}).status, 0)
          << command;
      ASSERT_EQ(
          RunTvq(command + " --quiet --compression 9 --tile 40", {in, Path("tiled" + out)}).status,
          0)
          << command;
      EXPECT_EQ(ReadText(Path("whole" + out)), ReadText(Path("tiled" + out))) << command << out;
    }
  for (const std::string refused : {"dering --method 0 --tile 64", "grey --tile 64",
                                    "resample --convergence conditional --tile 64"}) {
    const auto r = RunTvq(refused, {Path("missing.png"), Path("o.png")});
    EXPECT_EQ(r.status, 2) << refused << ": " << r.err;
    EXPECT_NE(r.err.find("--tile: "), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace tvq
