#include "commands/tiles.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <string>

#include "deringing/dering.h"
#include "imaging/errors.h"
#include "imaging/io/rowwrite.h"
#include "imaging/parallel.h"

namespace tvq {

namespace {

// The core side of the tile that finds a command's scale.
constexpr std::int32_t kProbeCore = 16;

// One tile's view of the run's progress: its stages as "Tile 3 of 12: <stage>", the
// run's stop request and stop flag, and the residuals the tiles share. Tiles in flight at
// once take turns on the display.
class TileProgress : public Progress {
 public:
  TileProgress(Progress& outer, std::mutex& lock, std::int64_t index, std::int64_t count,
               SharedResiduals* residuals = nullptr, const std::string& what = "Tile")
      : outer_(outer),
        lock_(lock),
        prefix_(what + " " + std::to_string(index + 1) + " of " + std::to_string(count) + ": "),
        residuals_(residuals) {}

  void ShowProgress(const std::string& stage, std::int32_t position,
                    std::int32_t maximum) override {
    const std::lock_guard<std::mutex> hold(lock_);
    outer_.ShowProgress(prefix_ + stage, position, maximum);
  }
  bool StopRequested() override {
    const std::lock_guard<std::mutex> hold(lock_);
    return outer_.StopRequested();
  }
  const StopFlag* SharedStopFlag() const override { return outer_.SharedStopFlag(); }
  SharedResiduals* Residuals() override { return residuals_; }

 private:
  Progress& outer_;
  std::mutex& lock_;
  std::string prefix_;
  SharedResiduals* residuals_;
};

// The whole picture's mean residuals of each solve of a run (a pass, the alpha plane), as
// far as its schedule reads them; solves beyond the list read their tile's own.
using ResidualPlan = std::vector<std::vector<float>>;

// A tile's residuals in the run that makes the result: those of the plan where it has
// them, the tile's own beyond.
class PlannedResiduals : public SharedResiduals {
 public:
  explicit PlannedResiduals(const ResidualPlan& plan) : plan_(plan) {}
  std::int32_t BeginSolve(const ScheduleCheck&, std::int32_t, std::int32_t,
                          const ResidualSum&) override {
    return next_++;
  }
  float Residual(std::int32_t solve, std::int32_t k, float own) override {
    if (static_cast<std::size_t>(solve) >= plan_.size()) return own;
    const std::vector<float>& known = plan_[static_cast<std::size_t>(solve)];
    return static_cast<std::size_t>(k) < known.size() ? known[static_cast<std::size_t>(k)] : own;
  }

 private:
  const ResidualPlan& plan_;
  std::int32_t next_ = 0;
};

// A tile's residuals in a run that probes solve `probe`: the solves before it read the
// plan; the probed one keeps its first step (its schedule is shown a series that never
// rises, so every tile steps alike) and records the residuals of the tile's core, whose
// iterate is the whole picture's, until it has `length` of them; then the run ends
// (SolveProbed), as it does at any later solve.
class ProbedResiduals : public PlannedResiduals {
 public:
  ProbedResiduals(const ResidualPlan& plan, std::int32_t probe, std::size_t length,
                  const Tile& tile)
      : PlannedResiduals(plan), probe_(probe), length_(length), tile_(tile) {}
  std::int32_t BeginSolve(const ScheduleCheck& check, std::int32_t gridWidth,
                          std::int32_t gridHeight, const ResidualSum& sum) override {
    const std::int32_t solve = PlannedResiduals::BeginSolve(check, gridWidth, gridHeight, sum);
    if (solve > probe_) throw SolveProbed{};
    if (solve == probe_) {
      check_ = check;
      // The core on the solve's grid: the tile's, scaled when the solve works on an
      // enlargement of the tile (the second pass); the whole grid when it is no whole
      // multiple of the tile.
      const std::int32_t scale = gridWidth / tile_.width;
      if (scale >= 1 && gridWidth == tile_.width * scale && gridHeight == tile_.height * scale)
        core_ = {(tile_.coreX - tile_.x) * scale, (tile_.coreY - tile_.y) * scale,
                 tile_.coreWidth * scale, tile_.coreHeight * scale};
      else
        core_ = {0, 0, gridWidth, gridHeight};
      sum_ = sum;
      // A schedule that reads no residual, or only its own (fixed steps, the conditional
      // mode), needs no probe.
      if (check({}) != ScheduleOutlook::kUndecided) throw SolveProbed{};
      next_ = CoreSum();
    }
    return solve;
  }
  float Residual(std::int32_t solve, std::int32_t k, float own) override {
    if (solve != probe_) return PlannedResiduals::Residual(solve, k, own);
    // Iteration k measured the iterate it started from, summed before it; the sum of the
    // iterate it made is iteration k + 1's.
    recorded_.push_back(next_);
    if (recorded_.size() >= length_) throw SolveProbed{};
    next_ = CoreSum();
    return -static_cast<float>(k);
  }
  bool Began() const { return static_cast<bool>(check_); }
  const ScheduleCheck& Check() const { return check_; }
  // The sums of the core's residuals, one per iteration, and the core's grid pixels.
  const std::vector<double>& Recorded() const { return recorded_; }
  double CorePixels() const { return static_cast<double>(core_.width) * core_.height; }

 private:
  struct Rect {
    std::int32_t x = 0, y = 0, width = 0, height = 0;
  };
  double CoreSum() const {
    return sum_ ? sum_(core_.x, core_.y, core_.x + core_.width, core_.y + core_.height) : 0.0;
  }
  std::int32_t probe_;
  std::size_t length_;
  Tile tile_;
  ScheduleCheck check_;
  Rect core_;
  ResidualSum sum_;
  double next_ = 0.0;
  std::vector<double> recorded_;
};

std::string SizeWords(std::int32_t width, std::int32_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

// The whole number of times `result` is the tile's size; 0 when it is none.
std::int32_t ResultScale(const Picture& result, const Tile& tile) {
  if (result.width <= 0 || result.width % tile.width != 0) return 0;
  const std::int32_t scale = result.width / tile.width;
  return result.height == static_cast<std::int64_t>(tile.height) * scale ? scale : 0;
}

// One grey (1) or grey-and-alpha (2) pixel as colour (3) or colour and alpha (4).
void WidenPixel(const float* in, std::int32_t from, float* out, std::int32_t to) {
  out[0] = out[1] = out[2] = in[0];
  if (to == 4) out[3] = from == 2 ? in[1] : 255.0f;
}

// A band of the result: the rows of one row of tiles, filled from the tiles' kept
// parts. The first tile of the picture sets the result's facts (format, channels,
// bits, profile). A grey tile beside colour ones is widened to colour (grey, or grey
// and alpha, repeated into blue, green and red); a colour tile after grey ones cannot
// be, since the rows above are gone: the picture is refused (a grey input gives grey
// tiles, its three channels being equal throughout the work).
class Band {
 public:
  Band(const Picture& facts, std::int32_t top, std::int32_t rows)
      : facts_(facts),
        top_(top),
        rows_(rows),
        samples_(static_cast<std::size_t>(facts.width) * static_cast<std::size_t>(rows) *
                     static_cast<std::size_t>(facts.channels),
                 0.0f) {}

  void Place(const Picture& result, const Tile& tile, std::int32_t scale) {
    if (ResultScale(result, tile) != scale)
      throw FileError(
          "tiles need a result that is the same whole number of times each "
          "tile's size; a " +
          SizeWords(tile.width, tile.height) + " tile gave " +
          SizeWords(result.width, result.height) + " (run without --tile)");
    const std::int32_t channels = facts_.channels;
    if (result.channels != channels && (result.channels > 2 || channels - result.channels != 2))
      throw FileError("the tiles' results differ in their channels (run without --tile)");
    const std::int32_t left = (tile.coreX - tile.x) * scale;
    const std::int32_t top = (tile.coreY - tile.y) * scale;
    const std::int32_t width = tile.coreWidth * scale;
    for (std::int32_t y = 0; y < tile.coreHeight * scale; ++y) {
      const float* in =
          result.samples.data() + (static_cast<std::size_t>(top + y) * result.width + left) *
                                      static_cast<std::size_t>(result.channels);
      float* out = samples_.data() +
                   (static_cast<std::size_t>(tile.coreY * scale - top_ + y) * facts_.width +
                    static_cast<std::size_t>(tile.coreX) * scale) *
                       static_cast<std::size_t>(channels);
      if (result.channels == channels) {
        std::memcpy(out, in, static_cast<std::size_t>(width) * channels * sizeof(float));
      } else {
        for (std::int32_t x = 0; x < width; ++x)
          WidenPixel(in + x * result.channels, result.channels, out + x * channels, channels);
      }
    }
  }

  void Give(ResultSink& sink) const { sink.Rows(top_, rows_, samples_.data()); }

 private:
  const Picture& facts_;
  std::int32_t top_;
  std::int32_t rows_;
  std::vector<float> samples_;
};

// The result as one file picture.
class PictureSink : public ResultSink {
 public:
  void Begin(const Picture& facts) override {
    picture_ = facts;
    picture_.samples.reserve(static_cast<std::size_t>(facts.width) *
                             static_cast<std::size_t>(facts.height) *
                             static_cast<std::size_t>(facts.channels));
  }
  void Rows(std::int32_t /*y*/, std::int32_t rows, const float* samples) override {
    picture_.samples.insert(picture_.samples.end(), samples,
                            samples + static_cast<std::size_t>(rows) * picture_.width *
                                          static_cast<std::size_t>(picture_.channels));
  }
  Picture Take() { return std::move(picture_); }

 private:
  Picture picture_;
};

// The result written to a file as its bands come.
class FileSink : public ResultSink {
 public:
  FileSink(const std::string& path, PictureFormat format, const WriteOptions& options)
      : path_(path), format_(format), options_(options) {}
  void Begin(const Picture& facts) override {
    facts_ = facts;
    writer_ = OpenRowWriter(path_, format_, facts, options_);
    if (!writer_)
      throw FileError(path_ + ": " + PictureFormatName(format_) + " is not written row by row");
  }
  void Rows(std::int32_t /*y*/, std::int32_t rows, const float* samples) override {
    writer_->WriteRows(samples, rows);
  }
  Picture Finish() {
    writer_->Finish();
    return std::move(facts_);
  }

 private:
  std::string path_;
  PictureFormat format_;
  WriteOptions options_;
  Picture facts_;
  std::unique_ptr<RowWriter> writer_;
};

// The solves that a tile runs step as the whole picture's solve would: the solver's
// schedule (in the default exponential mode) starts shrinking the step once the mean
// residual of the whole picture has risen twice, and a tile that decided from its own
// residual stepped differently where its part of the picture differs from the whole
// (15.6 grey levels on the scanned page with tiles of 96 input pixels). So the tiles
// are first run at the schedule's first step until their residuals, weighted by their
// areas, show where the whole picture's schedule decides (the fourth iteration on every
// sample picture: 4 of the 40 iterations, and the stages before them, again); then
// every tile reads those residuals in its real run and steps as the whole does. The
// conditional mode keeps deciding from residuals only its own steps give: its tiles
// decide from their own. Fixed steps read no residual. Returns the plan and, for work
// that solves nothing, the first tile's result (its only run).
ResidualPlan PlanResiduals(const TileWork& work, const CommandInput& input,
                           const std::vector<Tile>& tiles, std::int32_t jobs, Progress& progress,
                           std::optional<Picture>& first) {
  ResidualPlan plan;
  std::mutex progressLock;
  const auto count = static_cast<std::int64_t>(tiles.size());
  constexpr std::int32_t kMostSolves = 8;
  for (std::int32_t solve = 0; solve < kMostSolves; ++solve) {
    for (std::size_t length = 4;; length *= 2) {
      std::vector<std::unique_ptr<ProbedResiduals>> probes(tiles.size());
      const auto probeTile = [&](std::size_t index) {
        ThrowIfStopped(progress.SharedStopFlag());
        probes[index] = std::make_unique<ProbedResiduals>(plan, solve, length, tiles[index]);
        TileProgress tileProgress(progress, progressLock, static_cast<std::int64_t>(index), count,
                                  probes[index].get(), "Step plan, tile");
        try {
          Picture result = work(CropInput(input, tiles[index]), tileProgress);
          // The work ended before the solve probed, every earlier one stepping as planned:
          // this is the tile's result.
          if (index == 0 && !probes[index]->Began()) first = std::move(result);
        } catch (const SolveProbed&) {
        }
      };
      // The first tile tells whether the work reaches this solve at all, and whether its
      // schedule reads residuals that a probe can give.
      probeTile(0);
      if (!probes[0]->Began()) return plan;
      const ScheduleOutlook ahead = probes[0]->Check()({});
      if (ahead == ScheduleOutlook::kUnshareable) return plan;
      if (ahead == ScheduleOutlook::kSettled) {
        plan.emplace_back();
        break;
      }
      ParallelJobs(count - 1, std::max(jobs, 1),
                   [&](std::int64_t i) { probeTile(static_cast<std::size_t>(i) + 1); });
      ThrowIfStopped(progress.SharedStopFlag());
      if (progress.StopRequested()) throw OperationStopped();
      // The whole picture's mean residual from the cores', which cover it once, summed
      // in the tiles' order: the same for any number of threads.
      std::size_t known = length;
      for (const auto& probe : probes) known = std::min(known, probe->Recorded().size());
      std::vector<float> whole(known);
      for (std::size_t k = 0; k < known; ++k) {
        double sum = 0.0, pixels = 0.0;
        for (const auto& probe : probes) {
          sum += probe->Recorded()[k];
          pixels += probe->CorePixels();
        }
        whole[k] = static_cast<float>(sum / pixels);
      }
      const ScheduleOutlook outlook = probes[0]->Check()(whole);
      if (outlook == ScheduleOutlook::kUnshareable) return plan;
      // Settled, or every iteration's residual known (the solve has fewer than `length`).
      if (outlook == ScheduleOutlook::kSettled || known < length) {
        plan.push_back(std::move(whole));
        break;
      }
    }
  }
  return plan;
}

}  // namespace

std::vector<Tile> PlanTiles(std::int32_t width, std::int32_t height, std::int32_t core,
                            std::int32_t halo, std::int32_t align) {
  align = std::max(align, 1);
  std::vector<Tile> tiles;
  if (width <= 0 || height <= 0) return tiles;
  core = std::max(core, 1);
  halo = std::max(halo, 0);
  for (std::int32_t y = 0; y < height; y += std::min(core, height - y))
    for (std::int32_t x = 0; x < width; x += std::min(core, width - x)) {
      Tile tile;
      tile.coreX = x;
      tile.coreY = y;
      tile.coreWidth = std::min(core, width - x);
      tile.coreHeight = std::min(core, height - y);
      tile.x = std::max(0, x - halo) / align * align;
      tile.y = std::max(0, y - halo) / align * align;
      tile.width = static_cast<std::int32_t>(
          std::min<std::int64_t>(width, static_cast<std::int64_t>(x) + tile.coreWidth + halo) -
          tile.x);
      tile.height = static_cast<std::int32_t>(
          std::min<std::int64_t>(height, static_cast<std::int64_t>(y) + tile.coreHeight + halo) -
          tile.y);
      tiles.push_back(tile);
    }
  return tiles;
}

std::int32_t CoreSide(std::int32_t tileOutput, std::int32_t scale) {
  scale = std::max(scale, 1);
  return std::max<std::int32_t>(1, (std::max(tileOutput, 1) + scale - 1) / scale);
}

CommandInput CropInput(const CommandInput& input, const Tile& tile) {
  CommandInput part;
  Picture& file = part.file;
  file.format = input.file.format;
  file.width = tile.width;
  file.height = tile.height;
  file.channels = input.file.channels;
  file.bitsPerChannel = input.file.bitsPerChannel;
  file.icc = input.file.icc;
  file.orientation = input.file.orientation;
  file.details = input.file.details;
  if (input.FromBitmap()) {
    const Bitmap& from = input.bitmap;
    part.bitmap = Bitmap(tile.width, tile.height, from.BitsPerPixel());
    part.bitmap.Palette() = from.Palette();
    const std::size_t pixelBytes = static_cast<std::size_t>(from.BitsPerPixel() / 8);
    for (std::int32_t y = 0; y < tile.height; ++y)
      std::memcpy(part.bitmap.ScanLine(y),
                  from.ScanLine(tile.y + y) + static_cast<std::size_t>(tile.x) * pixelBytes,
                  static_cast<std::size_t>(tile.width) * pixelBytes);
    return part;
  }
  part.colour = TImageF4(tile.width, tile.height);
  for (std::int32_t y = 0; y < tile.height; ++y)
    std::memcpy(part.colour.Row(y), input.colour.Row(tile.y + y) + tile.x * 4,
                static_cast<std::size_t>(tile.width) * 4 * sizeof(float));
  if (input.alpha.HasImage()) {
    part.alpha = TImageF(tile.width, tile.height);
    for (std::int32_t y = 0; y < tile.height; ++y)
      std::memcpy(part.alpha.Row(y), input.alpha.Row(tile.y + y) + tile.x,
                  static_cast<std::size_t>(tile.width) * sizeof(float));
  }
  return part;
}

std::int32_t ProbeScale(const TileWork& work, const CommandInput& input, Progress& progress) {
  // The corner tile has no halo: its size then does not depend on the picture's.
  const Tile probe = PlanTiles(input.Width(), input.Height(), kProbeCore, 0)[0];
  std::mutex progressLock;
  TileProgress probeProgress(progress, progressLock, 0, 1);
  const std::int32_t scale = ResultScale(work(CropInput(input, probe), probeProgress), probe);
  if (scale == 0)
    throw FileError(
        "tiles need a result that is a whole number of times the picture's size, and this "
        "command's is not (run without --tile)");
  return scale;
}

void RunTiledInto(const TileWork& work, const CommandInput& input, const TileOptions& options,
                  ResultSink& sink, Progress& progress) {
  const std::int32_t width = input.Width();
  const std::int32_t height = input.Height();
  const std::int32_t scale = options.scale > 0 ? options.scale : ProbeScale(work, input, progress);
  if (static_cast<std::int64_t>(width) * scale > kMaxImageSide ||
      static_cast<std::int64_t>(height) * scale > kMaxImageSide)
    throw FileError("the result of " + SizeWords(width, height) + " pixels " +
                    std::to_string(scale) + " times is beyond 65535 pixels a side");
  const std::vector<Tile> tiles =
      PlanTiles(width, height, CoreSide(options.tileOutput, scale), options.halo,
                options.align / std::gcd(options.align, scale));
  const auto count = static_cast<std::int64_t>(tiles.size());
  std::optional<Picture> solvedFirst;
  const ResidualPlan plan =
      tiles.size() > 1 ? PlanResiduals(work, input, tiles, options.jobs, progress, solvedFirst)
                       : ResidualPlan{};
  std::mutex progressLock;
  const auto runTile = [&](std::size_t index) {
    ThrowIfStopped(progress.SharedStopFlag());
    PlannedResiduals residuals(plan);
    TileProgress tileProgress(progress, progressLock, static_cast<std::int64_t>(index), count,
                              &residuals);
    return work(CropInput(input, tiles[index]), tileProgress);
  };

  // The first tile tells the result's facts; then the rows of tiles, each row's tiles
  // in parallel and its band given to the sink before the next row starts.
  Picture first = solvedFirst ? std::move(*solvedFirst) : runTile(0);
  if (ResultScale(first, tiles[0]) != scale)
    throw FileError(
        "tiles need a result that is a whole number of times the picture's "
        "size; a " +
        SizeWords(tiles[0].width, tiles[0].height) + " tile gave " +
        SizeWords(first.width, first.height) + " (run without --tile)");
  Picture facts = first;
  facts.samples.clear();
  facts.width = width * scale;
  facts.height = height * scale;
  sink.Begin(facts);
  for (std::size_t begin = 0; begin < tiles.size();) {
    std::size_t end = begin;
    while (end < tiles.size() && tiles[end].coreY == tiles[begin].coreY) ++end;
    Band band(facts, tiles[begin].coreY * scale, tiles[begin].coreHeight * scale);
    std::size_t next = begin;
    if (begin == 0) {
      band.Place(first, tiles[0], scale);
      Picture().samples.swap(first.samples);
      next = 1;
    }
    ParallelJobs(static_cast<std::int64_t>(end - next), std::max(options.jobs, 1),
                 [&](std::int64_t i) {
                   const std::size_t index = next + static_cast<std::size_t>(i);
                   band.Place(runTile(index), tiles[index], scale);
                 });
    band.Give(sink);
    begin = end;
  }
}

Picture RunTiledToFile(const TileWork& work, const CommandInput& input, const TileOptions& options,
                       const std::string& path, PictureFormat format,
                       const WriteOptions& writeOptions, Progress& progress) {
  FileSink sink(path, format, writeOptions);
  RunTiledInto(work, input, options, sink, progress);
  return sink.Finish();
}

Picture RunTiled(const TileWork& work, const CommandInput& input, const TileOptions& options,
                 Progress& progress) {
  PictureSink sink;
  RunTiledInto(work, input, options, sink, progress);
  return sink.Take();
}

std::int32_t DeringTileAlign(std::int32_t method) {
  if (method < 0 || method >= kDeringMethodCount) return 1;
  const DeringMethod& row = kDeringMethods[static_cast<std::size_t>(method)];
  return row.family == DeringFamily::kBlocks ? std::max(row.shape.step, 1) : 1;
}

std::optional<std::int32_t> ParseTileSide(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  std::int32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > kMaxTileSide) return std::nullopt;
  return value;
}

TileChoice ChooseTiles(std::optional<std::int32_t> asked, std::int32_t align,
                       std::uint64_t wholeNeed, std::uint64_t limit,
                       const std::function<std::int32_t()>& scale,
                       const std::function<std::uint64_t(const TileOptions&)>& tiledNeed) {
  TileChoice choice{wholeNeed, std::nullopt};
  if (asked && *asked == 0) return choice;
  const bool fits = limit == 0 || wholeNeed <= limit;
  if (!asked && fits) return choice;
  TileOptions options;
  options.scale = scale();
  options.align = align;
  // As many tiles in flight as there are threads, fewer when the limit holds fewer;
  // without --tile, the largest tiles that fit (kAutoTileSide, halved down to a
  // sixteenth of it), since smaller ones repeat more halo.
  const std::int32_t threads = std::max(UsefulThreads(), 1);
  for (std::int32_t side = asked ? *asked : kAutoTileSide;; side /= 2) {
    options.tileOutput = side;
    for (options.jobs = threads; options.jobs > 1; --options.jobs)
      if (limit == 0 || tiledNeed(options) <= limit) break;
    const std::uint64_t need = tiledNeed(options);
    if (asked || need <= limit) return {need, options};
    // Without --tile, tiles only where they fit: otherwise the whole picture's estimate
    // is the one refused, as before tiles existed.
    if (side <= kAutoTileSide / 16) return choice;
  }
}

Picture RunChosen(const TileWork& work, const CommandInput& input, const TileChoice& choice,
                  Progress& progress) {
  return choice.tiles ? RunTiled(work, input, *choice.tiles, progress) : work(input, progress);
}

}  // namespace tvq
