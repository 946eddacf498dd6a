// Tiled runs against whole-picture runs: the plan covers the picture once, the stitched
// result stays within one grey level of the whole one with no seam to be found, and it
// is the same for any thread count.
#include "commands/tiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "commands/registry.h"
#include "commands/sizedrun.h"
#include "common/pictures.h"
#include "deringing/dering.h"
#include "imaging/errors.h"
#include "imaging/parallel.h"

namespace tvq {
namespace {

// Differences of a tiled result from the whole one, in grey levels: the largest, the
// mean, and the means within two output pixels of a seam between cores and elsewhere.
struct TileDiff {
  double largest = 0;
  double mean = 0;
  double seam = 0;
  double rest = 0;
};

TileDiff Compare(const Picture& whole, const Picture& tiled, std::int32_t seamStep) {
  EXPECT_EQ(whole.width, tiled.width);
  EXPECT_EQ(whole.height, tiled.height);
  EXPECT_EQ(whole.channels, tiled.channels);
  TileDiff diff;
  if (whole.samples.size() != tiled.samples.size()) {
    ADD_FAILURE() << "sample counts differ";
    return diff;
  }
  // Two pixels on either side of a multiple of seamStep inside the picture.
  const auto nearSeam = [seamStep](std::int32_t v, std::int32_t size) {
    const std::int32_t r = v % seamStep;
    return (r < 2 && v - r > 0) || (seamStep - r <= 2 && v - r + seamStep < size);
  };
  double total = 0, seamTotal = 0, restTotal = 0;
  std::size_t seamCount = 0, restCount = 0;
  const auto c = static_cast<std::size_t>(whole.channels);
  for (std::int32_t y = 0; y < whole.height; ++y)
    for (std::int32_t x = 0; x < whole.width; ++x) {
      const std::size_t i = (static_cast<std::size_t>(y) * whole.width + x) * c;
      double d = 0;
      for (std::size_t k = 0; k < c; ++k)
        d = std::max(d, static_cast<double>(std::abs(whole.samples[i + k] - tiled.samples[i + k])));
      diff.largest = std::max(diff.largest, d);
      total += d;
      if (nearSeam(x, whole.width) || nearSeam(y, whole.height)) {
        seamTotal += d;
        ++seamCount;
      } else {
        restTotal += d;
        ++restCount;
      }
    }
  const double pixels = static_cast<double>(whole.width) * whole.height;
  diff.mean = total / pixels;
  diff.seam = seamCount ? seamTotal / static_cast<double>(seamCount) : 0;
  diff.rest = restCount ? restTotal / static_cast<double>(restCount) : 0;
  return diff;
}

// A colour picture with edges, gradients and fine texture, so that every command has
// ringing, edges and flat parts to work on.
CommandInput Scene(std::int32_t width, std::int32_t height, bool alpha = false) {
  return PrepareInput(test::MakePicture(width, height, alpha ? 4 : 3, 8, [](int x, int y, int c) {
    if (c == 3) return x % 7 == 0 ? 100.0f : 255.0f;
    const bool disc = (x - 20) * (x - 20) + (y - 15) * (y - 15) < 120;
    const bool bar = (x / 9 + y / 13) % 3 == 0;
    const float level = disc  ? 230.0f
                        : bar ? 40.0f
                              : 128.0f + 60.0f * std::sin(0.3f * x + 0.2f * y);
    return std::clamp(level + 15.0f * c, 0.0f, 255.0f);
  }));
}

struct NamedWork {
  const char* name;
  TileWork work;
  std::int32_t align = 1;  // TileOptions::align
};

TileWork Prepared(const char* command, const SettingInputs& settings = {}) {
  return FindCommand(command)->prepare(settings, Spelling::kCallers).work;
}

// Resample at `scale` with `convergence`.
TileWork ResampleScale(double scale, ConvergenceMode convergence = ConvergenceMode::kExponential) {
  return [scale, convergence](const CommandInput& input, Progress& progress) {
    OutputSizeParams params;
    params.scale = scale;
    ResampleParams resample;
    resample.convergence = convergence;
    return ResampleAtSize(input, ComputeOutputSize(params, input.Width(), input.Height()), resample,
                          nullptr, nullptr, "", progress);
  };
}

// The commands as the tool runs them, on tiles: the local ones and the size options.
std::vector<NamedWork> Works() {
  return {
      {"resample", Prepared("resample")},
      {"resample --convergence fixed",
       Prepared("resample", {{"convergence", std::string("fixed")}})},
      {"resample --dering --mask --convergence fixed",
       Prepared("resample",
                {{"dering", true}, {"mask", true}, {"convergence", std::string("fixed")}}),
       DeringTileAlign(kDeringDefaultMethod)},
      {"resample --dering --mask", Prepared("resample", {{"dering", true}, {"mask", true}}),
       DeringTileAlign(kDeringDefaultMethod)},
      {"resample --scale 4", ResampleScale(4)},
      {"resample --scale 4 --convergence fixed", ResampleScale(4, ConvergenceMode::kFixedSteps)},
      {"dering", Prepared("dering"), DeringTileAlign(kDeringDefaultMethod)},
      {"mask", Prepared("mask")},
      {"upscale", Prepared("upscale", {{"method", std::string("gradient-color")}})},
  };
}

Picture Tiled(const TileWork& work, const CommandInput& input, std::int32_t tile,
              std::int32_t halo = kDefaultTileHalo, std::int32_t jobs = 2, std::int32_t align = 1) {
  NullProgress progress;
  return RunTiled(work, input, {.tileOutput = tile, .halo = halo, .jobs = jobs, .align = align},
                  progress);
}

TEST(PlanTiles, CoresCoverThePictureOnceAndHalosStayInside) {
  struct Case {
    std::int32_t width, height, core, halo, align = 1;
  };
  for (const Case& c :
       {Case{1, 1, 1, 0}, Case{1, 37, 8, 5}, Case{37, 1, 8, 5}, Case{61, 45, 16, 48},
        Case{100, 100, 1000, 3}, Case{64, 64, 16, 0}, Case{90, 70, 20, 5, 8}}) {
    std::vector<int> covered(static_cast<std::size_t>(c.width) * c.height, 0);
    for (const Tile& t : PlanTiles(c.width, c.height, c.core, c.halo, c.align)) {
      EXPECT_LE(t.coreWidth, c.core);
      EXPECT_EQ(t.x, std::max(0, t.coreX - c.halo) / c.align * c.align);
      EXPECT_EQ(t.y, std::max(0, t.coreY - c.halo) / c.align * c.align);
      EXPECT_EQ(t.x + t.width, std::min(c.width, t.coreX + t.coreWidth + c.halo));
      EXPECT_EQ(t.y + t.height, std::min(c.height, t.coreY + t.coreHeight + c.halo));
      for (std::int32_t y = t.coreY; y < t.coreY + t.coreHeight; ++y)
        for (std::int32_t x = t.coreX; x < t.coreX + t.coreWidth; ++x)
          ++covered[static_cast<std::size_t>(y) * c.width + x];
    }
    EXPECT_TRUE(std::all_of(covered.begin(), covered.end(), [](int n) { return n == 1; }))
        << c.width << "x" << c.height << " core " << c.core;
  }
}

// Tiled equals whole within one grey level, on odd sizes, 1-pixel-wide pictures and
// tiles larger than the picture, and the seams are no worse than the rest.
TEST(RunTiled, MatchesTheWholePictureWithinOneGreyLevel) {
  struct Size {
    std::int32_t width, height;
  };
  for (const NamedWork& w : Works())
    for (const Size size : {Size{1, 37}, Size{37, 1}, Size{61, 45}}) {
      for (const std::int32_t tile : {20, 5000}) {
        const CommandInput input = Scene(size.width, size.height);
        NullProgress progress;
        Picture whole;
        try {
          whole = w.work(input, progress);
        } catch (const EZorException&) {
          // Too small for the command (resample needs 2 x 2): refused in tiles too.
          EXPECT_THROW(Tiled(w.work, input, tile), EZorException) << w.name;
          continue;
        }
        const Picture tiled = Tiled(w.work, input, tile, kDefaultTileHalo, 2, w.align);
        const std::int32_t scale = whole.width / size.width;
        const TileDiff d = Compare(whole, tiled, CoreSide(tile, scale) * scale);
        SCOPED_TRACE(std::string(w.name) + " " + std::to_string(size.width) + "x" +
                     std::to_string(size.height) + " tile " + std::to_string(tile));
        EXPECT_LE(d.largest, 1.0);
        EXPECT_LE(d.seam, d.rest + 0.01);
      }
    }
}

TEST(RunTiled, KeepsAlphaAndIsTheSameForAnyThreadCount) {
  const CommandInput input = Scene(83, 59, true);
  const TileWork work = Prepared("resample");
  const std::int32_t threads = ThreadCount();
  SetThreadCount(1);
  const Picture one = Tiled(work, input, 40, kDefaultTileHalo, 1);
  SetThreadCount(2);
  const Picture two = Tiled(work, input, 40, kDefaultTileHalo, 2);
  SetThreadCount(threads);
  EXPECT_EQ(one.channels, 4);
  EXPECT_EQ(one.samples, two.samples);
  NullProgress progress;
  EXPECT_LE(Compare(work(input, progress), two, 40).largest, 1.0);
}

TEST(RunTiled, RefusesAResultThatIsNoWholeMultipleOfTheTile) {
  const CommandInput input = Scene(50, 40);
  EXPECT_THROW(Tiled(ResampleScale(2.5), input, 32), FileError);
}

TEST(ChooseTiles, TilesWhenAskedOrWhenOnlyTilesFit) {
  const auto need = [](const TileOptions& t) -> std::uint64_t { return 100u * t.jobs; };
  const auto two = [] { return 2; };
  // --tile 0: never, however large.
  EXPECT_FALSE(ChooseTiles(0, 1, 5000, 1000, two, need).tiles);
  // No --tile: the whole picture where it fits, tiles where only they fit, and the
  // whole picture's need (to be refused) where neither does.
  EXPECT_FALSE(ChooseTiles(std::nullopt, 1, 900, 1000, two, need).tiles);
  const TileChoice fit = ChooseTiles(std::nullopt, 1, 5000, 150, two, need);
  ASSERT_TRUE(fit.tiles);
  EXPECT_EQ(fit.tiles->jobs, 1);
  EXPECT_EQ(fit.tiles->tileOutput, kAutoTileSide);
  EXPECT_EQ(fit.need, 100u);
  EXPECT_EQ(ChooseTiles(std::nullopt, 1, 5000, 50, two, need).need, 5000u);
  // --tile N: always, at N.
  const TileChoice asked = ChooseTiles(256, 1, 10, 0, two, need);
  ASSERT_TRUE(asked.tiles);
  EXPECT_EQ(asked.tiles->tileOutput, 256);
  EXPECT_EQ(asked.tiles->scale, 2);
}

TEST(ParseTileSide, TakesWholeNumbersUpTo65535) {
  EXPECT_EQ(ParseTileSide("0"), 0);
  EXPECT_EQ(ParseTileSide("512"), 512);
  EXPECT_EQ(ParseTileSide("65535"), 65535);
  for (const char* bad : {"", "-1", "65536", "1e3", "12x", "999999"})
    EXPECT_FALSE(ParseTileSide(bad)) << bad;
}

// The measurement behind kDefaultTileHalo: every command on the photographs in the
// folder TVQ_TILE_PICTURES names (their 2x enlargements and a mosaic of them), at
// several halos. Prints a table; checks that the chosen halo keeps the bound.
TEST(TileMeasurement, HaloOnThePhotographs) {
  const char* folder = std::getenv("TVQ_TILE_PICTURES");
  if (folder == nullptr) GTEST_SKIP() << "set TVQ_TILE_PICTURES to a folder of BMP photographs";
  std::vector<CommandInput> inputs;
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".bmp") continue;
    inputs.push_back(PrepareInput(ReadPicture(entry.path().string())));
    names.push_back(name);
  }
  for (const NamedWork& w : Works())
    for (const std::int32_t halo : {16, 32, 48}) {
      TileDiff worst;
      double meanSum = 0, seamSum = 0, restSum = 0;
      for (std::size_t i = 0; i < inputs.size(); ++i) {
        NullProgress progress;
        const Picture whole = w.work(inputs[i], progress);
        const std::int32_t scale = whole.width / inputs[i].Width();
        const std::int32_t tile = 96 * scale;
        const TileDiff d = Compare(whole, Tiled(w.work, inputs[i], tile, halo, 2, w.align), tile);
        worst.largest = std::max(worst.largest, d.largest);
        meanSum += d.mean;
        seamSum += d.seam;
        restSum += d.rest;
      }
      const double n = static_cast<double>(inputs.size());
      std::cout << w.name << " halo " << halo << ": largest " << worst.largest << " mean "
                << meanSum / n << " seam " << seamSum / n << " rest " << restSum / n << "\n";
      if (halo == kDefaultTileHalo) {
        EXPECT_LE(worst.largest, 1.0) << w.name;
        EXPECT_LE(seamSum, restSum + 0.01 * n) << w.name;
      }
    }
}

}  // namespace
}  // namespace tvq
