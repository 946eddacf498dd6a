// tvq compare from the command line: the JSON object's fields, the table, --crop,
// --shave, the difference map, and the refusals.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "common/files.h"
#include "common/pictures.h"
#include "imaging/io/picture.h"

namespace tvq {
namespace {

namespace fs = std::filesystem;
using test::RunTvq;

class CompareCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::TempPath(std::string("compare_") +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // A colour PNG with a sharp edge and shading; `offset` is added to every sample.
  std::string MakePng(const std::string& name, int width, int height, float offset = 0) const {
    WritePicture(test::MakePicture(width, height, 3, 8,
                                   [&](int x, int y, int c) {
                                     return (x > 12 ? 180.0f : 40.0f) + 2.0f * y + 5.0f * c +
                                            offset;
                                   }),
                 Path(name));
    return Path(name);
  }

  fs::path dir_;
};

// Every key of the JSON object with the kind of its value; numbers of undefined
// measures are null.
TEST_F(CompareCli, JsonHoldsEveryMeasure) {
  const std::string a = MakePng("a.png", 40, 30), b = MakePng("b.png", 40, 30, 3);
  const test::RunResult r = RunTvq("compare --json --shave 1", {a, b});
  ASSERT_EQ(r.status, 0) << r.err;
  // Fields whose values are known, then fields holding some number.
  for (const std::string& field : std::vector<std::string>{
           "\"reference\": \"" + a + "\"", "\"test\": \"" + b + "\"",
           "\"reference_size\": [40, 30]", "\"test_size\": [40, 30]", "\"cropped\": false",
           "\"shave\": 1", "\"measured_size\": [38, 28]", "\"mse_rgb\": 9,", "\"ms_ssim\": null",
           "\"edge\": {\"threshold\": 16, \"band\": [2, 6], \"edge_pixels\": "})
    EXPECT_NE(r.out.find(field), std::string::npos) << field << "\n" << r.out;
  const std::size_t edge = r.out.find("\"edge\": ");
  ASSERT_NE(edge, std::string::npos) << r.out;
  // The number after `key`, searched from `from`; empty when none follows.
  const auto numberAfter = [&r](const std::string& key, std::size_t from) {
    const std::size_t at = r.out.find(key, from);
    if (at == std::string::npos) return std::string();
    const std::size_t start = at + key.size();
    const std::size_t end = r.out.find_first_not_of("-0123456789.e+", start);
    return r.out.substr(start, end - start);
  };
  for (const char* key :
       {"\"psnr_rgb\": ", "\"mse_y\": ", "\"psnr_y\": ", "\"ssim\": ", "\"gmsd\": "})
    EXPECT_FALSE(numberAfter(key, 0).empty()) << key << "\n" << r.out;
  for (const char* key : {"\"edge_pixels\": ", "\"band_pixels\": "}) {
    const std::string count = numberAfter(key, edge);
    EXPECT_TRUE(!count.empty() && count[0] != '0' &&
                count.find_first_not_of("0123456789") == std::string::npos)
        << key << "\n"
        << r.out;
  }
  for (const char* key : {"\"mse_y\": ", "\"psnr_y\": ", "\"overshoot\": "})
    EXPECT_FALSE(numberAfter(key, edge).empty()) << key << "\n" << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 3), "}}\n") << r.out;
  EXPECT_EQ(r.out.front(), '{');
  EXPECT_EQ(r.out.find('\n'), r.out.size() - 1);  // one line
  // The same pictures: the PSNRs are null, the rest perfect.
  const test::RunResult same = RunTvq("compare --json", {a, a});
  ASSERT_EQ(same.status, 0) << same.err;
  for (const std::string field : {"\"psnr_rgb\": null", "\"ssim\": 1,", "\"gmsd\": 0,"})
    EXPECT_NE(same.out.find(field), std::string::npos) << field << "\n" << same.out;
}

TEST_F(CompareCli, TableCropAndDifferenceMap) {
  const std::string a = MakePng("a.png", 30, 20), b = MakePng("b.png", 28, 21, 1);
  test::RunResult r = RunTvq("compare", {a, b});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the sizes differ (30x20 against 28x21); --crop compares the top-left "
                       "28x20"),
            std::string::npos)
      << r.err;
  r = RunTvq("compare --crop --diff", {Path("map.png"), a, b});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string& line : std::vector<std::string>{
           "measured:  28x20, the common top-left part", "PSNR RGB       48.1308 dB (MSE 1.0000)",
           "SSIM Y", "MS-SSIM Y      n/a", "GMSD Y", "Edge PSNR Y", "Edge overshoot",
           "difference map: " + Path("map.png")})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  const Picture map = ReadPicture(Path("map.png"));
  EXPECT_EQ(map.width, 28);
  EXPECT_EQ(map.height, 20);
}

TEST_F(CompareCli, RefusesBadOptionsBeforeReading) {
  const std::string a = MakePng("a.png", 12, 12);
  for (const auto& [options, status, message] :
       std::vector<std::tuple<std::string, int, std::string>>{
           {"compare --shave -1", 2, "--shave"},
           {"compare --shave 1.5", 2, "--shave"},
           {"compare --diff-scale 0", 2, "--diff-scale"},
           {"compare --diff " + Path("map.xyz"), 2, "must end in one of"},
           {"compare --diff " + Path("missing/map.png"), 1, "missing"},
           {"compare --shave 6", 1, "leaves nothing of the 12x12 pictures"}}) {
    const test::RunResult r = RunTvq(options, {a, a});
    EXPECT_EQ(r.status, status) << options << "\n" << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << options << "\n" << r.err;
  }
  EXPECT_FALSE(fs::exists(Path("map.xyz")));
}

}  // namespace
}  // namespace tvq
