// A command's work on a picture in overlapping tiles, so that its working planes grow
// with the tile, not with the picture.
//
// The picture is cut into cores of whole input pixels; each core is widened by a halo
// on every side (clamped to the picture: a tile at the picture's edge meets the same
// border as the whole picture does), the work runs on the widened tile, and the part
// of its result that belongs to the core is copied into the picture's result. The
// result must be a whole number of times the tile's size (1 for the same-size
// commands, 2 for the two-times enlargements, 4 for --scale 4); a command whose result
// size does not follow its input's that way cannot be tiled and is refused.
//
// Tiles run in parallel on the process's pool, at most `jobs` at once; each tile's
// result depends only on its own pixels, so the picture's result is the same for any
// thread count and any number of tiles in flight.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/filepicture.h"
#include "commands/memoryestimate.h"
#include "imaging/imagebase.h"
#include "imaging/io/picture.h"
#include "imaging/progress.h"

namespace tvq {

// The halo, in input pixels, that a tile carries on every side. Measured on the seven
// photographs of the test pictures (tiles of 96 input pixels; TileMeasurement in
// tests/commands/tiles_test.cpp), largest difference from the whole result in grey
// levels:
//   halo                                 16      32     48
//   dering, mask, upscale                0       0      0
//   resample, fixed steps                35.5    0      0
//     with --dering --mask               35.5    0      0
//     at --scale 4                       35.0    0      0
// So 32 is the least that leaves no trace of the tiles where the work is local; 48
// keeps a margin of half as much again for settings that reach further (a larger blur
// radius or stabilizer), for about 10 % more work at tiles of 2048 input pixels.
//
// The solver's step schedule: in the default exponential mode the step starts to
// shrink once the mean residual of the whole picture has risen twice. A tile that
// decided from its own residual differed from the whole result by up to 15.6 grey
// levels on the scanned page (tiles of 96 input pixels; 15.0 with --dering --mask, 12.3
// at --scale 4, 12.7 at --scale 3). So the tiles share the whole picture's residuals
// (RunTiledInto plans them first): with that, the same runs give the whole picture's
// result exactly. The conditional mode decides from the whole picture's residual all
// through the run and is refused in tiles; fixed steps never read it.
inline constexpr std::int32_t kDefaultTileHalo = 48;

// The largest --tile, in output pixels a side.
inline constexpr std::int32_t kMaxTileSide = kMaxImageSide;

// One tile: the core it keeps and the region, core and halo, that its work reads, in
// input pixels.
struct Tile {
  std::int32_t coreX = 0, coreY = 0, coreWidth = 0, coreHeight = 0;
  std::int32_t x = 0, y = 0, width = 0, height = 0;
};

// The tiles of a width x height picture whose cores are at most `core` input pixels a
// side (the last in each row and column smaller), in rows from the top, each widened
// by `halo`. Cores cover the picture exactly once.
// `align` > 1 moves each tile's start back to a multiple of it (the halo grows by less
// than align), for work that runs on a grid of blocks from the picture's origin.
std::vector<Tile> PlanTiles(std::int32_t width, std::int32_t height, std::int32_t core,
                            std::int32_t halo, std::int32_t align = 1);

// The input pixels a side of the core of a tile of `tileOutput` output pixels a side,
// for a result `scale` times the input: at least one.
std::int32_t CoreSide(std::int32_t tileOutput, std::int32_t scale);

// The part of a prepared input that a tile reads: its bitmap, or its colour and alpha,
// cropped; the file's facts (format, channels, bits, profile) kept, its size the tile's.
CommandInput CropInput(const CommandInput& input, const Tile& tile);

using TileWork = std::function<Picture(const CommandInput&, Progress&)>;

struct TileOptions {
  std::int32_t tileOutput = 1024;  // output pixels a side of a tile's core
  std::int32_t halo = kDefaultTileHalo;
  std::int32_t jobs = 1;  // tiles in flight at once
  // Output pixels that each tile's result must start at a multiple of: the step of the
  // block deringing methods, whose blocks are laid from the picture's origin (a tile
  // off that grid cuts other blocks and measurably differs); 1 for any other work.
  std::int32_t align = 1;
  // The result's size over the input's, a whole number; 0 to find it from the work on a
  // small tile first (the size options, whose scale the caller does not know).
  std::int32_t scale = 0;
};

// Where a tiled run's result goes, a band of rows at a time from the top.
class ResultSink {
 public:
  virtual ~ResultSink() = default;
  // The result's facts (size, channels, bits, profile; no samples), before any row.
  virtual void Begin(const Picture& facts) = 0;
  // `rows` rows from row y, each facts.width * facts.channels floats, in order.
  virtual void Rows(std::int32_t y, std::int32_t rows, const float* samples) = 0;
};

// The work on the picture, tile by tile, into `sink`: the memory is the tiles in flight
// and one band of the result (a row of tiles), not the whole result. Work that solves
// (the solver's iterations, through Progress::Residuals) is first run on every tile up
// to where the whole picture's step schedule decides ("Step plan, tile 3 of 12: ..."),
// so that each tile then steps as the whole picture does.
void RunTiledInto(const TileWork& work, const CommandInput& input, const TileOptions& options,
                  ResultSink& sink, Progress& progress);

// The work on the picture, tile by tile, written to `path` in `format` row by row
// (FormatWritesByRows) as the bands come. Returns the result's facts, without samples.
Picture RunTiledToFile(const TileWork& work, const CommandInput& input, const TileOptions& options,
                       const std::string& path, PictureFormat format,
                       const WriteOptions& writeOptions, Progress& progress);

// The work on the picture, tile by tile, stitched. Progress shows "Tile 3 of 12: <the
// work's stage>". Throws FileError when the work's result is not a whole number of
// times its tile's size, the same number for every tile.
Picture RunTiled(const TileWork& work, const CommandInput& input, const TileOptions& options,
                 Progress& progress);

// --tile as typed: a whole number of output pixels from 0 (never tile) to 65535.
// std::nullopt for anything else.
std::optional<std::int32_t> ParseTileSide(std::string_view text);

// The output side of the tiles that a run chooses by itself when the whole picture
// does not fit the memory limit: large enough that the halos add little work (about
// 10 % at a halo of 48 and scale 2), small enough that a tile of the heaviest command
// holds well under 1 GB.
inline constexpr std::int32_t kAutoTileSide = 4096;

// How a command runs on one picture: whole, or in tiles.
struct TileChoice {
  std::uint64_t need = 0;                 // the estimated peak of the chosen form
  std::optional<TileOptions> tiles = {};  // std::nullopt: the whole picture at once
};

// The output pixels a tile must start at a multiple of for deringing method `method`
// (DeringParams::method): the step of a block method ("Local, 11x11, step 8": 8), 1
// for the others.
std::int32_t DeringTileAlign(std::int32_t method);

// Chooses between the whole picture and tiles. `asked` is --tile: 0 never tiles, N > 0
// always tiles of N output pixels, std::nullopt tiles (kAutoTileSide, as many in flight
// as there are threads and room) only when `wholeNeed` is over the limit and the tiles
// fit in it. `scale` gives the result's scale (called only when tiles are considered);
// `tiledNeed` is the estimate of a tiled run. The caller checks the chosen need against
// the limit.
TileChoice ChooseTiles(std::optional<std::int32_t> asked, std::int32_t align,
                       std::uint64_t wholeNeed, std::uint64_t limit,
                       const std::function<std::int32_t()>& scale,
                       const std::function<std::uint64_t(const TileOptions&)>& tiledNeed);

// The scale of `work`'s result, from its run on a small tile in the picture's corner;
// FileError when the result is not a whole number of times the tile's size.
std::int32_t ProbeScale(const TileWork& work, const CommandInput& input, Progress& progress);

// The work on the picture as ChooseTiles chose: RunTiled, or `work` on the whole.
Picture RunChosen(const TileWork& work, const CommandInput& input, const TileChoice& choice,
                  Progress& progress);

}  // namespace tvq
