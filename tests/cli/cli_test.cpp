// Runs tvq commands on small pictures made here, in this process or as the built
// program where a process of its own is needed, and checks exit codes, messages and
// outputs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/cli_run.h"
#include "common/bmp_builder.h"
#include "common/files.h"
#include "common/hostile_files.h"
#include "common/kernel_modes.h"
#include "common/metadata_blocks.h"
#include "common/pictures.h"
#include "common/png_builder.h"
#include "imaging/bitmap.h"
#include "imaging/imagefmt.h"
#include "imaging/io/bmp.h"
#include "imaging/io/pfm.h"
#include "imaging/io/picture.h"
#include "imaging/parallel.h"

namespace tvq {
namespace {

namespace fs = std::filesystem;

using test::ReadText;
using test::RunResult;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::TempPath(std::string("cli_") +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Runs tvq in this process: the words of `options`, then `arguments` as they are.
  static RunResult Run(const std::string& options, const std::vector<std::string>& arguments = {}) {
    return test::RunTvq(options, arguments);
  }
  // Runs the built program after `prefix` in a shell, e.g. to limit its address space.
  RunResult RunProgram(const std::string& prefix, const std::string& options,
                       std::vector<std::string> arguments) const {
    std::vector<std::string> args = test::Words(options);
    args.insert(args.end(), arguments.begin(), arguments.end());
    return test::RunProgram(TVQ_BINARY, prefix, args, dir_);
  }

  // A 24-bit picture whose pixel (x, y) has the grey level base + x + 3y.
  std::string MakeGreyPicture(const std::string& name, int w, int h, int base) const {
    Bitmap bmp(w, h, 24);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int k = 0; k < 3; ++k)
          bmp.ScanLine(y)[3 * x + k] = static_cast<std::uint8_t>(base + x + 3 * y);
    WriteBmp(bmp, Path(name));
    return Path(name);
  }

  fs::path dir_;
};

int CountLines(const std::string& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

TEST_F(CliTest, HelpAndUsageErrors) {
  EXPECT_EQ(Run("--help").status, 0);
  EXPECT_EQ(Run("").status, 2);
  RunResult r = Run("frobnicate");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("unknown command"), std::string::npos);
  const std::string in = MakeGreyPicture("a.bmp", 4, 4, 10);
  EXPECT_EQ(Run("downsample", {in}).status, 2);
  EXPECT_EQ(Run("downsample --bogus", {in, Path("o.bmp")}).status, 2);
  r = Run("downsample", {in, Path("o.gif")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(".bmp .pfm .png .jpg .jpeg .tif .tiff .webp"), std::string::npos) << r.err;
  EXPECT_EQ(Run("canny --sigma abc", {in, Path("o.bmp")}).status, 2);
  for (const char* command : {"info", "downsample", "noise", "grey", "psnr", "canny"}) {
    r = Run(std::string(command) + " --help");
    EXPECT_EQ(r.status, 0) << command;
    EXPECT_NE(r.out.find("Usage: tvq"), std::string::npos) << command;
  }
}

TEST_F(CliTest, BadFilesGiveOneLineAndExitCodeOne) {
  {
    std::ofstream garbage(Path("garbage.bmp"), std::ios::binary);
    garbage << "this is not a picture at all";
  }
  const std::string good = MakeGreyPicture("good.bmp", 8, 8, 0);
  const std::string bytes = ReadText(good);
  {
    std::ofstream truncated(Path("truncated.bmp"), std::ios::binary);
    truncated << bytes.substr(0, bytes.size() / 2);
  }
  for (const std::string name : {"garbage.bmp", "truncated.bmp", "missing.bmp"}) {
    const RunResult r = Run("downsample", {Path(name), Path("out.bmp")});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(CountLines(r.err), 1) << r.err;
    EXPECT_EQ(r.err.rfind("tvq: error: " + Path(name) + ": ", 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(Path("out.bmp")));
  }
}

TEST_F(CliTest, LimitsRefuseFromTheHeader) {
  bmptest::BmpBuilder bomb;  // 1,080 bytes that claim 23000 x 23000 pixels
  bomb.width = bomb.height = 23000;
  bomb.bits = 8;
  bomb.compression = 1;
  bomb.palette.assign(256, 0);
  bomb.raw = {0, 1};
  const bmptest::Bytes bytes = bomb.Build();
  std::ofstream(Path("bomb.bmp"), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  const std::string small = MakeGreyPicture("small.bmp", 4, 4, 10);
  MakeGreyPicture("wide.bmp", 40000, 1, 10);
  // 4000 x 4000 in the header, one pixel of data: a memory limit refuses it before the
  // decoder finds the data missing.
  const pngtest::Bytes declaring = pngtest::Declaring(4000, 4000);
  const std::string big = Path("declaring.png");
  std::ofstream(big, std::ios::binary)
      .write(reinterpret_cast<const char*>(declaring.data()),
             static_cast<std::streamsize>(declaring.size()));
  const std::string out = Path("o.bmp");
  const struct {
    std::string options;
    std::vector<std::string> files;
    int status;
    std::string message;  // the start of stderr
  } cases[] = {
      {"info",
       {Path("bomb.bmp")},
       1,
       "tvq: error: " + Path("bomb.bmp") +
           ": 23000x23000 is 529 megapixels; the limit is 100 megapixels (--max-pixels)\n"},
      {"grey --max-pixels 15",
       {small, out},
       1,
       "tvq: error: " + small + ": 4x4 is 16 pixels; the limit is 15 pixels (--max-pixels)\n"},
      {"grey --max-pixels 16", {small, out}, 0, ""},
      {"psnr --max-pixels 0",
       {small, small},
       2,
       "tvq psnr: --max-pixels: 0 is out of range: it must lie in 1..4294836225"},
      {"info --max-pixels 2x", {small}, 2, "tvq info: --max-pixels: '2x' is not a whole number"},
      {"info /dev/zero", {}, 1, "tvq: error: /dev/zero: not a picture file of a supported format"},
      {"upscale --method bilinear",
       {Path("wide.bmp"), out},
       1,
       "tvq: error: " + Path("wide.bmp") +
           ": a 40000x1 picture cannot be enlarged beyond 65535 pixels a side\n"},
      {"resample --max-memory 100M",
       {big, out},
       1,
       "tvq: error: " + big + ": resample needs about "},
      {"grey --max-memory 500M", {big, out}, 1, "tvq: error: " + big + ": grey needs about "},
      {"grey --max-memory 600M", {big, out}, 1, "tvq: error: " + big + ": the PNG data ends early"},
      {"grey --max-memory 100M --max-pixels 600M",
       {Path("bomb.bmp"), out},
       1,
       "tvq: error: " + Path("bomb.bmp") + ": grey needs about "},
  };
  for (const auto& c : cases) {
    const RunResult r = Run(c.options, c.files);
    EXPECT_EQ(r.status, c.status) << c.options;
    EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << c.options << ": " << r.err;
  }
}

TEST_F(CliTest, LowDepthPicturesAreConvertedAndProcessed) {
  Bitmap eight(4, 4, 8);
  eight.Palette().assign(256, 0);
  eight.Palette()[7] = 0xC80000;  // red 200
  eight.ScanLine(2)[2] = 7;
  WriteBmp(eight, Path("eight.bmp"));
  const RunResult r = Run("grey", {Path("eight.bmp"), Path("o.pfm")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GT(*ReadPfmGrey(Path("o.pfm")).Pixel(2, 2), 0.0f);
  const RunResult info = Run("info", {Path("eight.bmp")});
  EXPECT_EQ(info.status, 0);
  EXPECT_NE(info.out.find("bits per pixel: 8"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("processable: yes (converted to 32 bits"), std::string::npos) << info.out;
}

TEST_F(CliTest, DownsampleHalvesToThirtyTwoBits) {
  const std::string in = MakeGreyPicture("in.bmp", 7, 5, 50);
  ASSERT_EQ(Run("downsample", {in, Path("half.bmp")}).status, 0);
  BmpInfo info{};
  const Bitmap half = ReadBmp(Path("half.bmp"), &info);
  EXPECT_EQ(half.Width(), 3);
  EXPECT_EQ(half.Height(), 2);
  EXPECT_EQ(info.bitsPerPixel, 32);
  ASSERT_EQ(Run("downsample", {in, Path("half.pfm")}).status, 0);
  const TImageF4 floats = ReadPfmColour(Path("half.pfm"));
  EXPECT_EQ(floats.Width(), 3);
  EXPECT_EQ(floats.Height(), 2);
}

TEST_F(CliTest, PsnrPrintsMseAndPsnr) {
  const std::string a = MakeGreyPicture("a.bmp", 10, 10, 20);
  const std::string b = MakeGreyPicture("b.bmp", 10, 10, 21);
  RunResult r = Run("psnr", {a, b});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("MSE = 1\nPSNR = 48.1308", 0), 0u) << r.out;
  r = Run("psnr", {a, a});
  EXPECT_EQ(r.out, "MSE = 0\nPSNR = inf\n");
  const std::string c = MakeGreyPicture("c.bmp", 10, 11, 20);
  r = Run("psnr", {a, c});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("dimensions"), std::string::npos) << r.err;
}

TEST_F(CliTest, GreyNoiseAndCannyWritePictures) {
  const std::string in = MakeGreyPicture("in.bmp", 12, 9, 100);
  ASSERT_EQ(Run("grey", {in, Path("grey.pfm")}).status, 0);
  const TImageF grey = ReadPfmGrey(Path("grey.pfm"));
  EXPECT_NEAR(*grey.Pixel(2, 1), 105.0f, 1e-4);

  // The generator starts from the same state on every run.
  ASSERT_EQ(Run("noise", {in, Path("n1.bmp")}).status, 0);
  ASSERT_EQ(Run("noise", {in, Path("n2.bmp")}).status, 0);
  EXPECT_EQ(ReadText(Path("n1.bmp")), ReadText(Path("n2.bmp")));
  EXPECT_NE(ReadBmp(Path("n1.bmp")), ReadBmp(Path("in.bmp")));

  // A vertical step: edges are marked beside it and nowhere far from it.
  Bitmap step(16, 8, 24);
  for (int y = 0; y < 8; ++y)
    for (int x = 8; x < 16; ++x)
      for (int k = 0; k < 3; ++k) step.ScanLine(y)[3 * x + k] = 255;
  WriteBmp(step, Path("step.bmp"));
  ASSERT_EQ(Run("canny", {Path("step.bmp"), Path("edges.bmp")}).status, 0);
  TImageF edges;
  ImageFromBitmap(ReadBmp(Path("edges.bmp")), ifF, edges);
  int marked = 0;
  for (int x = 0; x < 16; ++x) {
    const bool nearStep = x >= 6 && x <= 9;
    if (*edges.Pixel(x, 4) > 0) {
      ++marked;
      EXPECT_TRUE(nearStep) << x;
    }
  }
  EXPECT_GT(marked, 0);
}

// A PFM picture holding NaN or infinity is refused by every command when it is read,
// naming the file and the first such pixel, and info says it cannot be processed.
TEST_F(CliTest, NonFiniteInputsAreRefusedByEveryCommand) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (const float bad : {nan, inf, -inf}) {
    const Picture picture = test::MakePicture(12, 10, 3, 32, [&](int x, int y, int c) {
      return x == 7 && y == 4 && c == 1 ? bad : static_cast<float>(10 * x + y);
    });
    const std::string in = Path("bad.pfm");
    WritePicture(picture, in);
    const std::string refusal =
        "the picture holds values that are not finite (NaN or "
        "infinity), the first at pixel (7, 4)";
    for (const char* command :
         {"resample", "dering", "mask", "upscale --method directional", "upscale --method nedi",
          "canny", "grey", "downsample", "noise", "psnr"}) {
      SCOPED_TRACE(command);
      const std::string other = std::string(command) == "psnr" ? in : Path("o.png");
      const RunResult r = Run(command, {in, other});
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, "tvq: error: " + in + ": " + refusal + "\n");
      EXPECT_FALSE(fs::exists(Path("o.png")));
    }
    const RunResult info = Run("info", {in});
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("processable: no (" + refusal + ")\n"), std::string::npos) << info.out;
  }
}

}  // namespace
}  // namespace tvq

namespace tvq {
namespace {

// A 24-bit picture with a bright diagonal band on a dark ground: sharp edges in
// both directions, so enlargement and deringing have something to do.
std::string MakeStrokePicture(const std::string& path, int w, int h) {
  Bitmap bmp(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool band = std::abs(x - y) <= 1 || x == w / 2;
      bmp.ScanLine(y)[3 * x + 0] = band ? 230 : 20;
      bmp.ScanLine(y)[3 * x + 1] = band ? 200 : 40;
      bmp.ScanLine(y)[3 * x + 2] = band ? 120 : 60;
    }
  WriteBmp(bmp, path);
  return path;
}

class CliEnlargeTest : public CliTest {};

TEST_F(CliEnlargeTest, UpscaleEveryMethodDoublesTheSize) {
  const std::string in = MakeStrokePicture(Path("in.bmp"), 9, 7);
  for (const char* method :
       {"gradient", "gradient-color", "nedi", "lanczos", "bilinear", "directional"}) {
    const RunResult r = Run(std::string("upscale --method ") + method, {in, Path("o.bmp")});
    ASSERT_EQ(r.status, 0) << method << ": " << r.err;
    const Bitmap out = ReadBmp(Path("o.bmp"));
    EXPECT_EQ(out.Width(), 18) << method;
    EXPECT_EQ(out.Height(), 14) << method;
    // The fourth byte is 0, so viewers do not take it for transparency.
    for (int y = 0; y < out.Height(); ++y)
      for (int x = 0; x < out.Width(); ++x) ASSERT_EQ(out.ScanLine(y)[4 * x + 3], 0) << method;
  }
  EXPECT_EQ(Run("upscale", {in, Path("o.bmp")}).status, 2);
  EXPECT_EQ(Run("upscale --method cubic", {in, Path("o.bmp")}).status, 2);
  // Grey results are one float channel, colour results three.
  ASSERT_EQ(Run("upscale --method lanczos", {in, Path("g.pfm")}).status, 0);
  EXPECT_EQ(ReadPfmGrey(Path("g.pfm")).Width(), 18);
  ASSERT_EQ(Run("upscale --method gradient-color", {in, Path("c.pfm")}).status, 0);
  EXPECT_EQ(ReadPfmColour(Path("c.pfm")).Height(), 14);
}

TEST_F(CliEnlargeTest, ResampleAcceptsEveryOption) {
  const std::string in = MakeStrokePicture(Path("in.bmp"), 8, 6);
  const char* variants[] = {
      "",
      "--stabilizer laplace --init black --convergence fixed",
      "--stabilizer tv --init bilinear --convergence conditional",
      "--stabilizer btv5 --init nedi --iterations 3",
      "--stabilizer btv3-mixed --init lanczos --iterations 0",
      "--step 2.5 --factor 0.5 --iterations 5 --maximum 0.1 --min-factor 0.5",
      "--thresh-min 10 --thresh-max 10 --btv-base 0.7 --gauss-radius 0.5 --norm 2 --fractal",
      "--dering 10",
      "--dering \"Global, modified\" --dering-initial source --dering-iterations 50 "
      "--dering-factor 0.5",
      "--dering 14",
      "--mask",
      "--dering 3 --mask --measure gradient --mask-gauss 0 --filter-radius 2 --multiplier 1.5 "
      "--noise-level 2 --smooth 1 --dilation 0 --threshold 50",
  };
  for (const char* options : variants) {
    const RunResult r = Run(std::string("resample --iterations 4 ") + options, {in, Path("o.pfm")});
    ASSERT_EQ(r.status, 0) << options << ": " << r.err;
    const TImageF4 out = ReadPfmColour(Path("o.pfm"));
    EXPECT_EQ(out.Width(), 16) << options;
    EXPECT_EQ(out.Height(), 12) << options;
  }
}

TEST_F(CliEnlargeTest, ResampleRejectsBadOptionsAndTinyPictures) {
  const std::string in = MakeStrokePicture(Path("in.bmp"), 8, 6);
  for (const char* bad : {"--stabilizer foo", "--gauss-radius -1", "--iterations 2.5",
                          "--dering 15", "--dering-iterations 49 --dering 0", "--dering-factor 2",
                          "--threshold 40", "--mask --filter-radius 0", "--mask --dilation 21"}) {
    const RunResult r = Run(std::string("resample ") + bad, {in, Path("o.bmp")});
    EXPECT_EQ(r.status, 2) << bad << ": " << r.err;
  }
  const std::string thin = MakeStrokePicture(Path("thin.bmp"), 1, 6);
  const RunResult r = Run("resample", {thin, Path("o.bmp")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("tvq: error: " + thin + ": ", 0), 0u) << r.err;
  EXPECT_FALSE(fs::exists(Path("o.bmp")));
}

TEST_F(CliEnlargeTest, DeringAndMask) {
  const std::string in = MakeStrokePicture(Path("in.bmp"), 12, 10);
  for (const char* method : {"0", "1", "2", "9", "13", "14", "\"Local, 11x11, step 8\""}) {
    const RunResult r =
        Run(std::string("dering --method ") + method + " --iterations 50", {in, Path("o.bmp")});
    ASSERT_EQ(r.status, 0) << method << ": " << r.err;
    EXPECT_EQ(ReadBmp(Path("o.bmp")).Width(), 12);
  }
  // "Local, simpliest" leaves the luma as it was: the picture survives the round trip.
  ASSERT_EQ(Run("dering --method 14", {in, Path("same.bmp")}).status, 0);
  TImageF4 before, after;
  ImageFromBitmap(ReadBmp(in), ifF4, before);
  ImageFromBitmap(ReadBmp(Path("same.bmp")), ifF4, after);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x)
      for (int k = 0; k < 3; ++k) EXPECT_EQ(before.Pixel(x, y)[k], after.Pixel(x, y)[k]);

  EXPECT_EQ(Run("dering --mask --threshold 20", {in, Path("m.bmp")}).status, 0);
  EXPECT_EQ(Run("dering --threshold 20", {in, Path("m.bmp")}).status, 2);
  const RunResult bad = Run("dering --iterations 40000", {in, Path("m.bmp")});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("32767"), std::string::npos) << bad.err;
  EXPECT_EQ(Run("dering --method \"Local, 12\"", {in, Path("m.bmp")}).status, 2);

  ASSERT_EQ(Run("mask --threshold 100", {in, Path("mask.pfm")}).status, 0);
  const TImageF mask = ReadPfmGrey(Path("mask.pfm"));
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) EXPECT_EQ(*mask.Pixel(x, y), 0.0f);
}

// The Laplacian stabilizer runs away within the legal ranges, to infinity with a large
// step and to huge finite values with a larger weight: the result is not written and
// the message says what to lower.
TEST_F(CliEnlargeTest, DivergedResultIsNotWritten) {
  const std::string in = MakeStrokePicture(Path("in.bmp"), 12, 10);
  const std::pair<std::string, std::string> cases[] = {
      {"--step 100 --iterations 200", "is not finite"}, {"--maximum 0.1", "runs away to "}};
  for (const auto& [options, what] : cases) {
    SCOPED_TRACE(options);
    const RunResult r = Run("resample --stabilizer laplace " + options, {in, Path("o.pfm")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("tvq: error: " + in + ": the solver diverged (its result " + what, 0), 0u)
        << r.err;
    EXPECT_NE(r.err.find("); lower --step, --maximum or --btv-base\n"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Path("o.pfm")));
  }
}

// A picture whose command would need more memory than --max-memory, or than the
// address space left, is refused before any work; an allocation that fails anyway is
// reported as not enough memory. `ulimit -v` lowers RLIMIT_AS in the shell that then
// runs the program.
TEST_F(CliEnlargeTest, MemoryLimits) {
  const std::string in = MakeStrokePicture(Path("in.bmp"), 1024, 1024);
  struct Case {
    const char* options;
    bool lowAddressSpace;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"--max-memory 1M", false, 1, "MB; the limit is 1.0 MB (--max-memory)"},
      {"--max-memory 12x", false, 2, "--max-memory: '12x' is not a number of bytes"},
      // Whole: in tiles, written row by row, the picture fits in the address space.
      {"--tile 0", true, 1, "MB (address-space limit)"},
      {"--max-memory 64G", true, 1, ": not enough memory for this picture"},
  };
  for (const Case& c : cases) {
    if (c.lowAddressSpace) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
      continue;  // the sanitizers reserve terabytes of address space
#endif
    }
    const std::string options = std::string("resample --threads 1 ") + c.options;
    const RunResult r = c.lowAddressSpace
                            ? RunProgram("ulimit -v 102400;", options, {in, Path("o.bmp")})
                            : Run(options, {in, Path("o.bmp")});
    EXPECT_EQ(r.status, c.status) << c.options << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.options << ": " << r.err;
    EXPECT_EQ(CountLines(r.err), c.status == 1 ? 1 : 2) << r.err;
    EXPECT_FALSE(fs::exists(Path("o.bmp"))) << c.options;
  }
}

}  // namespace
}  // namespace tvq

namespace tvq {
namespace {

// Every command writes the same bytes with the plain reference loops and with the fast
// kernels on any number of threads, with and without SIMD.
class CliThreadsTest : public CliTest {
 protected:
  // 40 x 30, colour: a smooth ramp, a bright stroke with sharp edges and a hashed
  // texture of small values, so there are edges to dering and many exact ties.
  std::string MakeTexturedPicture() const {
    Bitmap bmp(40, 30, 24);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x)
        for (int k = 0; k < 3; ++k) {
          const unsigned hash = (x * 73856093u) ^ (y * 19349663u) ^ (k * 83492791u);
          const bool stroke = std::abs(2 * x - 3 * y) <= 2 || x == 27;
          bmp.ScanLine(y)[3 * x + k] =
              static_cast<std::uint8_t>(stroke ? 220 + k * 10 : 30 + 3 * x + k * 20 + hash % 7);
        }
    WriteBmp(bmp, Path("in.bmp"));
    return Path("in.bmp");
  }
};

TEST_F(CliThreadsTest, OutputsDoNotDependOnThreadsOrSimd) {
  const std::string in = MakeTexturedPicture();
  const char* commands[] = {
      "resample",
      "dering",
      "dering --method 0",
      "mask",
      "upscale --method gradient-color",
      "upscale --method nedi",
      "downsample",
      "canny",
  };
  // The reference runs are the built program with TVQ_KERNELS=reference; the fast runs
  // turn the reference loops off in this process, so that an inherited TVQ_KERNELS
  // cannot make them the reference loops too.
  const test::ScopedKernels fastKernels({false, 0, true});
  const char* fastRuns[] = {"--threads 1", "--threads 2", "--threads 3", "--threads 8",
                            "--threads 3 --no-simd"};
  for (const char* command : commands)
    for (const char* extension : {".bmp", ".pfm"}) {
      const std::string reference = Path(std::string("reference") + extension);
      const RunResult r =
          RunProgram("TVQ_KERNELS=reference", std::string(command) + " --quiet", {in, reference});
      ASSERT_EQ(r.status, 0) << command << ": " << r.err;
      const std::string expected = ReadText(reference);
      ASSERT_FALSE(expected.empty()) << command;
      for (const char* fast : fastRuns) {
        const std::string out = Path(std::string("fast") + extension);
        fs::remove(out);
        const RunResult f = Run(std::string(command) + " --quiet " + fast, {in, out});
        ASSERT_EQ(f.status, 0) << command << " " << fast << ": " << f.err;
        EXPECT_TRUE(ReadText(out) == expected) << command << " " << fast << " " << extension;
      }
    }
}

TEST_F(CliThreadsTest, ThreadCountMustBeAWholeNumberFromOne) {
  const std::string in = MakeTexturedPicture();
  for (const char* bad : {"0", "-2", "two", "1.5", "\"\"", "1025"}) {
    const RunResult r = Run(std::string("grey --threads ") + bad, {in, Path("o.bmp")});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("--threads"), std::string::npos) << bad << ": " << r.err;
    EXPECT_FALSE(fs::exists(Path("o.bmp"))) << bad;
  }
  EXPECT_EQ(Run("grey", {in, Path("o.bmp"), "--threads"}).status, 2);
  // Up to four threads per core are used; more are asked for in vain.
  const std::int32_t useful = 4 * HardwareThreads();
  for (const auto& [asked, used] :
       {std::pair{1, 1}, {useful, useful}, {useful + 1, useful}, {1024, useful}}) {
    EXPECT_EQ(Run("grey --threads " + std::to_string(asked), {in, Path("o.bmp")}).status, 0);
    EXPECT_EQ(ThreadCount(), used) << asked;
  }
  SetThreadCount(0);
  std::string help;  // its words, one space between them
  for (const char c : Run("grey --help").out)
    if (!std::isspace(static_cast<unsigned char>(c)))
      help += c;
    else if (!help.empty() && help.back() != ' ')
      help += ' ';
  EXPECT_NE(help.find("at most 4 per core, " + std::to_string(useful) + ", are used"),
            std::string::npos)
      << help;
  EXPECT_NE(Run("--help").out.find("TVQ_KERNELS=reference"), std::string::npos);
}

}  // namespace
}  // namespace tvq

namespace tvq {
namespace {

// Files of every format in and out, alpha, info, and batches over folder trees.
class CliFilesTest : public CliTest {
 protected:
  // A w x h picture of `channels` samples on a textured ramp; with alpha, the left
  // half has alpha `leftAlpha` and the right half 255.
  std::string MakeFile(const std::string& name, int w, int h, int channels,
                       std::vector<std::uint8_t> icc = {}, float leftAlpha = 0.0f) const {
    const bool alpha = channels == 2 || channels == 4;
    Picture picture = test::MakePicture(w, h, channels, 8, [&](int x, int y, int k) {
      return alpha && k == channels - 1 ? (2 * x < w ? leftAlpha : 255.0f)
                                        : static_cast<float>((40 + 9 * x + 5 * y + 60 * k) % 256);
    });
    picture.icc = std::move(icc);
    fs::create_directories(fs::path(Path(name)).parent_path());
    WritePicture(picture, Path(name));
    return Path(name);
  }

  // The relative paths of the files below folder, hidden ones too, sorted.
  std::vector<std::string> Tree(const std::string& folder) const {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(Path(folder)))
      if (e.is_regular_file()) files.push_back(e.path().lexically_relative(Path(folder)).string());
    std::sort(files.begin(), files.end());
    return files;
  }

  std::string LastLine(const std::string& text) const {
    const auto end = text.find_last_not_of('\n');
    if (end == std::string::npos) return "";
    const auto begin = text.rfind('\n', end);
    return text.substr(begin == std::string::npos ? 0 : begin + 1, end - begin);
  }
};

TEST_F(CliFilesTest, EveryOutputExtensionWritesItsFormat) {
  const std::string in = MakeFile("in.png", 7, 5, 3);
  for (const std::string& extension : PictureExtensions()) {
    const std::string out = Path("o" + extension);
    const RunResult r = Run("downsample", {in, out});
    ASSERT_EQ(r.status, 0) << extension << ": " << r.err;
    const std::string bytes = ReadText(out);
    EXPECT_EQ(SniffFormat(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
              FormatFromExtension(out))
        << extension;
    const Picture back = ReadPicture(out);
    EXPECT_EQ(back.width * 10 + back.height, 32) << extension;
  }
  // An unknown extension is a usage error before the input is even looked at.
  const RunResult r = Run("grey", {Path("missing.bmp"), Path("o.gif")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(".tif .tiff .webp"), std::string::npos) << r.err;
}

TEST_F(CliFilesTest, QualityIsAWholeNumberFromOneToHundred) {
  const std::string in = MakeFile("in.png", 40, 30, 3);
  for (const char* bad : {"0", "101", "2.5", "high"}) {
    const RunResult r = Run(std::string("grey --quality ") + bad, {in, Path("o.jpg")});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("--quality"), std::string::npos) << r.err;
  }
  ASSERT_EQ(Run("dering --quality 1", {in, Path("low.jpg")}).status, 0);
  ASSERT_EQ(Run("dering --quality 100", {in, Path("high.jpg")}).status, 0);
  EXPECT_LT(ReadText(Path("low.jpg")).size(), ReadText(Path("high.jpg")).size());
  ASSERT_EQ(Run("dering --quality 5", {in, Path("low.webp")}).status, 0);
  ASSERT_EQ(Run("dering", {in, Path("high.webp")}).status, 0);
  EXPECT_LT(ReadText(Path("low.webp")).size(), ReadText(Path("high.webp")).size());
}

TEST_F(CliFilesTest, InfoShowsAlphaAndColourProfile) {
  const std::string in = MakeFile("in.png", 6, 4, 4, testblocks::IccProfile("RGB "));
  const RunResult r = Run("info", {in});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* line :
       {"format: PNG\n", "width: 6\n", "height: 4\n", "channels: 4\n", "bits per channel: 8\n",
        "alpha: yes\n", "ICC profile: yes (184 bytes)\n", "orientation: 1"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
  EXPECT_EQ(r.out.find("header:"), std::string::npos) << r.out;
  EXPECT_NE(Run("info", {MakeFile("grey.jpg", 3, 3, 1)}).out.find("alpha: no\nICC profile: no\n"),
            std::string::npos);
}

// info reads the header only and tells what the file stores; a picture of which it
// would need hundreds of megabytes is answered within a 100 MB address space.
TEST_F(CliFilesTest, InfoTellsTheStoredFactsFromTheHeader) {
  const auto save = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return Path(name);
  };
  Bitmap one(5, 3, 1);
  one.Palette() = {0, 0xFFFFFF};
  WriteBmp(one, Path("one.bmp"));
  const auto index = [](std::uint32_t x, std::uint32_t y, int) { return (x + y) % 3; };
  const std::vector<std::uint8_t> still =
      EncodePicture(test::MakePicture(2, 2, 3, 8, [](int, int, int) { return 9.0f; }),
                    PictureFormat::kWebp, {100});
  const struct {
    std::string file;
    std::string lines;  // part of the output
  } cases[] = {
      {Path("one.bmp"), "channels: 1 (palette)\nbits per channel: 1\nalpha: no\n"},
      {save("palette.png", pngtest::BuildPng(5, 3, 4, 3, 1, false, index,
                                             {{"PLTE", std::vector<std::uint8_t>(9, 90)}})),
       "channels: 1 (palette)\nbits per channel: 4\nalpha: no\n"},
      {save("grey2.png", pngtest::BuildPng(5, 3, 2, 0, 1, false, index)),
       "channels: 1\nbits per channel: 2\n"},
      {std::string(TVQ_FUZZ_CORPUS) + "/jpeg/cmyk.jpg",
       "channels: 4 (CMYK)\nbits per channel: 8\n"},
      {save("canvas.webp", test::AnimationWithCanvas(still, 10000, 10000)),
       "width: 10000\nheight: 10000\nchannels: 3\n"},
  };
  // The address-space cap shows that no picture is decoded; the sanitizers reserve
  // terabytes of it for themselves, so their builds run without the cap.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  const char* const cap = "";
#else
  const char* const cap = "ulimit -v 102400;";
#endif
  for (const auto& c : cases) {
    const RunResult r = RunProgram(cap, "info", {c.file});
    EXPECT_EQ(r.status, 0) << c.file << ": " << r.err;
    EXPECT_NE(r.out.find(c.lines), std::string::npos) << c.lines << " in\n" << r.out;
    EXPECT_NE(r.out.find("\nprocessable: yes"), std::string::npos) << r.out;
  }
}

// A JPEG whose ICC markers are damaged is read without its profile, with one warning.
TEST_F(CliFilesTest, DamagedIccMarkersGiveOneWarning) {
  const std::string in = MakeFile("clean.jpg", 8, 6, 3, std::vector<std::uint8_t>(70000, 3));
  const std::string damaged = Path("damaged.jpg");
  const std::string clean = ReadText(in);
  const std::vector<std::uint8_t> bytes = test::WithIccMarkers(
      {clean.begin(), clean.end()}, [](int, std::uint8_t&, std::uint8_t& count) { count = 0; });
  std::ofstream(damaged, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  const std::string warning = "tvq: warning: " + damaged +
                              ": the ICC profile's APP2 markers are damaged (duplicate, missing or "
                              "inconsistent sequence numbers); the profile was dropped\n";
  RunResult r = Run("grey", {damaged, Path("o.png")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, warning);
  r = Run("info", {damaged});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, warning);
  EXPECT_NE(r.out.find("ICC profile: no\n"), std::string::npos) << r.out;
}

// A grey result keeps a grey profile and drops any other, saying so once.
TEST_F(CliFilesTest, GreyResultsCarryNoColourProfile) {
  const std::string rgb = MakeFile("rgb.png", 6, 4, 3, testblocks::IccProfile("RGB "));
  const std::string grey = MakeFile("grey.png", 6, 4, 1, testblocks::IccProfile("GRAY"));
  const struct {
    std::string command, in, out;
    std::size_t profile;  // bytes of the result's profile
    bool warns;
  } cases[] = {
      {"grey", rgb, "g.png", 0, true},          {"grey", rgb, "g.jpg", 0, true},
      {"grey", rgb, "g.tif", 0, true},          {"grey", rgb, "g.webp", 0, true},
      {"grey", rgb, "g.bmp", 0, false},         {"grey", grey, "k.jpg", 184, false},
      {"downsample", rgb, "c.jpg", 184, false},
  };
  for (const auto& c : cases) {
    const RunResult r = Run(c.command, {c.in, Path(c.out)});
    ASSERT_EQ(r.status, 0) << c.out << ": " << r.err;
    EXPECT_EQ(ReadPicture(Path(c.out)).icc.size(), c.profile) << c.out;
    EXPECT_EQ(r.err, c.warns ? "tvq: warning: " + Path(c.out) +
                                   ": a grey picture takes no RGB colour profile; the input's "
                                   "profile was dropped\n"
                             : "")
        << c.out;
  }
}

TEST_F(CliFilesTest, AlphaIsKeptOrDroppedWithOneWarning) {
  const std::string clear = MakeFile("clear.png", 8, 6, 4, testblocks::IccProfile("RGB "));
  const std::string opaque = MakeFile("opaque.png", 8, 6, 2, {}, 255.0f);
  struct Case {
    std::string in, out;
    int channels;  // of the result file
    bool warns;
  } cases[] = {
      {clear, "o.png", 4, false},  {clear, "o.webp", 4, false}, {clear, "o.tif", 4, false},
      {clear, "o.jpg", 3, true},   {clear, "o.bmp", 3, true},   {clear, "o.pfm", 3, true},
      {opaque, "g.jpg", 1, false},
  };
  // Whole, and in tiles written row by row where the format allows.
  for (const std::string tiles : {"", " --tile 8"})
    for (const auto& c : cases) {
      const RunResult r = Run("resample --quiet --iterations 2" + tiles, {c.in, Path(c.out)});
      ASSERT_EQ(r.status, 0) << c.out << tiles << ": " << r.err;
      const Picture out = ReadPicture(Path(c.out));
      EXPECT_EQ(out.width, 16) << c.out << tiles;
      EXPECT_EQ(out.channels, c.channels) << c.out << tiles;
      EXPECT_EQ(r.err, c.warns ? "tvq: warning: " + Path(c.out) + ": " +
                                     PictureFormatName(*FormatFromExtension(c.out)) +
                                     " holds no alpha; the picture's transparency was dropped\n"
                               : "")
          << c.out << tiles;
      if (c.out != "o.bmp" && c.out != "o.pfm" && c.in == clear) {
        EXPECT_EQ(out.icc.size(), 184u) << c.out << tiles;
      }
    }
}

TEST_F(CliFilesTest, BatchMirrorsTheTreeAndReportsEachFailure) {
  MakeFile("in/a.png", 6, 5, 4);
  MakeFile("in/sub/b.jpg", 5, 6, 3);
  MakeFile("in/sub/deeper/c.tif", 4, 4, 1);
  MakeFile("in/.hidden.png", 4, 4, 3);
  MakeFile("in/.cache/d.png", 4, 4, 3);
  std::ofstream(Path("in/sub/bad.webp")) << "not a picture";
  std::ofstream(Path("in/notes.txt")) << "not a picture either";
  const std::string one = MakeFile("single.bmp", 3, 3, 3);

  RunResult r = Run("grey", {Path("in"), one, "-o", Path("out")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Tree("out"),
            (std::vector<std::string>{"a.png", "single.bmp", "sub/b.jpg", "sub/deeper/c.tif"}));
  EXPECT_EQ(ReadPicture(Path("out/sub/b.jpg")).height, 6);
  EXPECT_NE(r.err.find("tvq: error: " + Path("in/sub/bad.webp") + ": "), std::string::npos)
      << r.err;
  EXPECT_EQ(LastLine(r.err), "4 done, 1 failed, 0 skipped") << r.err;

  // Resuming skips what exists; without the bad file nothing fails.
  fs::remove(Path("in/sub/bad.webp"));
  fs::remove(Path("out/a.png"));
  r = Run("grey --skip-existing", {Path("in"), "--output", Path("out")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "1 done, 0 failed, 2 skipped\n");

  // --format names the results' extension; two inputs with one output: the later fails.
  MakeFile("in/sub/b.png", 5, 6, 3);
  r = Run("grey --format PNG", {Path("in"), "-o", Path("png")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Tree("png"), (std::vector<std::string>{"a.png", "sub/b.png", "sub/deeper/c.png"}));
  EXPECT_NE(r.err.find("tvq: error: " + Path("in/sub/b.png") + ": its output"), std::string::npos)
      << r.err;
  EXPECT_EQ(LastLine(r.err), "3 done, 1 failed, 0 skipped");
}

TEST_F(CliFilesTest, ShardsPartitionTheSortedInputs) {
  for (const char* name : {"a.png", "b.png", "c.png", "d/e.png", "d/f.png"})
    MakeFile(std::string("in/") + name, 3, 3, 3);
  std::vector<std::string> all;
  for (const char* shard : {"0/2", "1/2"}) {
    const std::string out = std::string("out") + shard[0];
    const RunResult r = Run(std::string("grey --shard ") + shard, {Path("in"), "-o", Path(out)});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto& f : Tree(out)) all.push_back(f);
  }
  EXPECT_EQ(Tree("out0"), (std::vector<std::string>{"a.png", "c.png", "d/f.png"}));
  std::sort(all.begin(), all.end());
  EXPECT_EQ(all, Tree("in"));
}

TEST_F(CliFilesTest, BatchUsageErrorsComeBeforeAnyWork) {
  const std::string in = MakeFile("in/a.png", 3, 3, 3);
  const std::string dir = Path("in");
  const std::string out = Path("out");
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"grey -o", {out}},
      {"grey --jobs 2", {in, Path("o.png")}},
      {"grey --shard 2/2", {dir, "-o", out}},
      {"grey --shard 1", {dir, "-o", out}},
      {"grey --shard -1/2", {dir, "-o", out}},
      {"grey --jobs 0", {dir, "-o", out}},
      {"grey --format gif", {dir, "-o", out}},
      {"grey", {dir, Path("missing"), "-o", out}},
      {"grey", {dir, "-o", in}},
      {"psnr", {in, "-o", out}}};
  for (const auto& [options, files] : cases) {
    const RunResult r = Run(options, files);
    EXPECT_EQ(r.status, 2) << options << ": " << r.err;
    EXPECT_FALSE(fs::exists(out)) << options;
  }
}

TEST_F(CliFilesTest, JobsGiveTheSameBytes) {
  for (int i = 0; i < 5; ++i) MakeFile("in/p" + std::to_string(i) + ".png", 9 + i, 7, 4);
  for (const char* jobs : {"1", "2"}) {
    const RunResult r =
        Run(std::string("resample --quiet --iterations 3 --dering 10 --jobs ") + jobs,
            {Path("in"), "-o", Path(std::string("out") + jobs)});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  const auto files = Tree("out1");
  ASSERT_EQ(files.size(), 5u);
  for (const auto& f : files)
    EXPECT_TRUE(ReadText(Path("out1/" + f)) == ReadText(Path("out2/" + f))) << f;
}

// A single OUT that cannot be written is refused before the input is read, so the
// message names OUT although IN is missing too. A FIFO is written in place.
TEST_F(CliFilesTest, SingleOutputIsCheckedBeforeTheWork) {
  fs::create_directory(Path("folder.png"));
  std::ofstream(Path("ro.png")) << "old";
  fs::permissions(Path("ro.png"), fs::perms::owner_read);
  const std::pair<std::string, std::string> cases[] = {
      {Path("no/o.png"), "cannot write: the folder " + Path("no") + " does not exist"},
      {Path("folder.png"), "is a folder, not a file"},
      {Path("ro.png"), "the file is read-only"},
  };
  for (const auto& [out, problem] : cases) {
    const RunResult r = Run("grey", {Path("missing.bmp"), out});
    EXPECT_EQ(r.status, 1) << out;
    EXPECT_EQ(r.err, "tvq: error: " + out + ": " + problem + "\n");
  }
  const std::string in = MakeFile("in.png", 5, 4, 3);
  ASSERT_EQ(::mkfifo(Path("pipe.png").c_str(), 0600), 0);
  std::string got;
  std::thread reader([&] { got = ReadText(Path("pipe.png")); });
  const RunResult r = Run("grey", {in, Path("pipe.png")});
  if (r.status != 0) std::ofstream{Path("pipe.png")};  // lets the reader go
  reader.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(DecodePicture(reinterpret_cast<const std::uint8_t*>(got.data()), got.size()).width, 5);
  EXPECT_TRUE(fs::is_fifo(Path("pipe.png")));
}

// Links planted in OUTDIR are never followed: a link at a result's place is replaced,
// a linked sub-folder is refused. A folder at a result's place fails, also with
// --skip-existing. A killed run's temporary file of a result is removed.
TEST_F(CliFilesTest, BatchWritesOnlyBelowOutdir) {
  for (const char* name : {"in/a.png", "in/c.png", "in/sub/b.png"}) MakeFile(name, 4, 3, 3);
  std::ofstream(Path("victim.txt")) << "victim";
  fs::create_directories(Path("elsewhere"));
  fs::create_directories(Path("out"));
  fs::create_symlink("../victim.txt", Path("out/a.png"));
  fs::create_directory_symlink("../elsewhere", Path("out/sub"));
  std::ofstream(Path("out/.c.png.0123abcd.tmp")) << "left";
  fs::last_write_time(Path("out/.c.png.0123abcd.tmp"),
                      fs::file_time_type::clock::now() - std::chrono::hours(1));
  RunResult r = Run("grey", {Path("in"), "-o", Path("out")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tvq: error: " + Path("out/sub/b.png") + ": cannot write: " + Path("out/sub") +
                       " is a symbolic link; results are not written through links\n"
                       "2 done, 1 failed, 0 skipped\n");
  EXPECT_EQ(ReadText(Path("victim.txt")), "victim");
  EXPECT_TRUE(fs::is_empty(Path("elsewhere")));
  EXPECT_FALSE(fs::is_symlink(Path("out/a.png")));
  EXPECT_EQ(ReadPicture(Path("out/a.png")).width, 4);
  EXPECT_EQ(Tree("out"), (std::vector<std::string>{"a.png", "c.png"}));

  fs::remove(Path("out/sub"));
  fs::create_directories(Path("out/sub/b.png"));
  r = Run("grey --skip-existing", {Path("in"), "-o", Path("out")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tvq: error: " + Path("out/sub/b.png") +
                       ": is a folder, not a file\n0 done, 1 failed, 2 skipped\n");
}

// Inputs that cannot be read fail, each in one line: a folder that cannot be listed,
// a link to nothing, a link to a device, a FIFO. The superuser lists every folder:
// then the program runs as "nobody" through setpriv, in a folder open to all.
TEST_F(CliFilesTest, BatchReportsInputsItCannotRead) {
  MakeFile("in/a.png", 4, 3, 3);
  MakeFile("in/locked/b.png", 4, 3, 3);
  fs::create_symlink("missing.png", Path("in/dangling.png"));
  fs::create_symlink("/dev/zero", Path("in/zero.png"));
  fs::create_symlink("/dev/zero", Path("in/zero.txt"));  // no picture name: no input
  ASSERT_EQ(::mkfifo(Path("in/fifo.png").c_str(), 0644), 0);
  const bool root = ::geteuid() == 0;
  if (root && std::system("setpriv --version >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "the superuser lists every folder, and setpriv is missing";
  fs::permissions(Path("in/locked"), fs::perms::none);
  fs::permissions(dir_, fs::perms::all);
  const RunResult r = root ? RunProgram("setpriv --reuid=65534 --regid=65534 --clear-groups",
                                        "grey", {Path("in"), "-o", Path("out")})
                           : Run("grey", {Path("in"), "-o", Path("out")});
  fs::permissions(Path("in/locked"), fs::perms::owner_all);
  EXPECT_EQ(r.status, 1);
  const std::string e = "tvq: error: " + Path("in/");
  EXPECT_EQ(r.err, e + "dangling.png: is a link to nothing (missing.png does not exist)\n" + e +
                       "fifo.png: is a FIFO, not a picture file\n" + e +
                       "locked: the folder cannot be listed (Permission denied)\n" + e +
                       "zero.png: is a link to a character device, not to a picture file\n"
                       "1 done, 4 failed, 0 skipped\n");
  EXPECT_EQ(Tree("out"), (std::vector<std::string>{"a.png"}));
}

// --max-memory is the whole batch's: files that fit alone but not two at once run one
// after another, never stuck waiting for each other; a file too large alone fails.
TEST_F(CliFilesTest, JobsShareOneMemoryLimit) {
  for (int i = 0; i < 4; ++i) MakeFile("in/p" + std::to_string(i) + ".png", 64, 64, 3);
  MakeFile("in/wide.png", 1000, 64, 3);
  const RunResult r = Run("grey --jobs 2 --max-memory 17M", {Path("in"), "-o", Path("out")});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("wide.png: grey needs about "), std::string::npos) << r.err;
  EXPECT_EQ(LastLine(r.err), "4 done, 1 failed, 0 skipped") << r.err;
  EXPECT_EQ(Tree("out").size(), 4u);
}

// A file name holding a newline or an escape sequence is printed escaped in errors,
// warnings and a batch's lines: it can neither forge a line nor command the terminal.
TEST_F(CliFilesTest, FileNamesArePrintedEscaped) {
  const std::string forged = "x\n9 done, 0 failed, 0 skipped\x1b[2J.png";
  const std::string printed = "x\\n9 done, 0 failed, 0 skipped\\x1b[2J.png";
  fs::create_directories(Path("in"));
  std::ofstream(Path("in/" + forged)) << "not a picture";
  const std::string good = MakeFile("in/good.png", 8, 6, 4, {}, 100.0f);
  const struct {
    std::string options;
    std::vector<std::string> arguments;
    std::string err;
  } cases[] = {
      {"grey",
       {Path("in"), "-o", Path("out")},
       "tvq: error: " + Path("in/" + printed) +
           ": not a picture file of a supported format (BMP, PNG, JPEG, TIFF, WebP, PFM)\n"
           "1 done, 1 failed, 0 skipped\n"},
      {"grey",
       {Path("in/" + forged), Path("o.png")},
       "tvq: error: " + Path("in/" + printed) +
           ": not a picture file of a supported format (BMP, PNG, JPEG, TIFF, WebP, PFM)\n"},
      {"grey",
       {good, Path("o\t\x1b]0;title\x07.jpg")},
       "tvq: warning: " + Path("o\\t\\x1b]0;title\\x07.jpg") +
           ": JPEG holds no alpha; the picture's transparency was dropped\n"},
      {"",
       {"gr\x1b[2Jey"},
       "tvq: unknown command 'gr\\x1b[2Jey'\nRun 'tvq --help' for the list.\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = Run(c.options, c.arguments);
    EXPECT_EQ(r.err, c.err);
  }
}

// Ctrl+C in a batch: no new file starts, no partial result is written, the summary
// counts what was finished and the status is 130.
TEST_F(CliFilesTest, InterruptStopsTheBatchWithoutPartialResults) {
  constexpr int kFiles = 40;
  for (int i = 0; i < kFiles; ++i) MakeFile("in/p" + std::to_string(100 + i) + ".bmp", 40, 40, 3);
  const std::string in = Path("in"), out = Path("out"), log = Path("stderr.txt");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::freopen(log.c_str(), "w", stderr);
    execl(TVQ_BINARY, "tvq", "resample", "--iterations", "300", "--threads", "1", in.c_str(), "-o",
          out.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // Interrupt once the first result is there.
  const auto finished = [&] {
    int count = 0;
    if (fs::exists(out))
      for (const auto& f : Tree("out")) count += f[0] != '.';
    return count;
  };
  for (int wait = 0; wait < 20000 && finished() == 0; ++wait) usleep(1000);
  kill(child, SIGINT);
  int raw = 0;
  ASSERT_EQ(waitpid(child, &raw, 0), child);
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 130);
  const int done = finished();
  EXPECT_GE(done, 1);
  EXPECT_LT(done, kFiles);
  EXPECT_EQ(static_cast<int>(Tree("out").size()), done);  // no temporary files left
  for (const auto& f : Tree("out")) EXPECT_EQ(ReadPicture(Path("out/" + f)).width, 80) << f;
  EXPECT_EQ(LastLine(ReadText(log)), std::to_string(done) + " done, 0 failed, 0 skipped");
}

}  // namespace
}  // namespace tvq
