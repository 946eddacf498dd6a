#include "cli/picturecommand.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <ostream>
#include <tuple>

#include "cli/batch.h"
#include "cli/failure.h"
#include "commands/memorybudget.h"
#include "commands/memoryestimate.h"
#include "commands/processable.h"
#include "commands/tiles.h"
#include "imaging/errors.h"
#include "imaging/imagefmt.h"
#include "imaging/io/fileio.h"
#include "imaging/io/rowwrite.h"

namespace tvq::cli {

namespace {

// The largest --max-pixels: no reader accepts a picture larger than 65535 a side.
constexpr std::uint64_t kMaxPixelLimit =
    static_cast<std::uint64_t>(kMaxImageSide) * static_cast<std::uint64_t>(kMaxImageSide);

// The most files --jobs processes at once.
constexpr int kMaxJobs = 1024;

// A pixel count as typed: digits with an optional K, M or G (thousand, million,
// billion; k, m, g too), e.g. "200M"; counts beyond kMaxPixelLimit come back as one
// more than it. std::nullopt for any other text.
std::optional<std::uint64_t> ParsePixelCount(const std::string& text) {
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits)
    value =
        std::min(value * 10 + static_cast<std::uint64_t>(text[digits] - '0'), kMaxPixelLimit + 1);
  if (digits == 0 || text.size() - digits > 1) return std::nullopt;
  if (digits < text.size()) {
    const char suffix = static_cast<char>(text.back() | 0x20);  // lower case
    const std::uint64_t scale = suffix == 'k'   ? 1'000
                                : suffix == 'm' ? 1'000'000
                                : suffix == 'g' ? 1'000'000'000
                                                : 0;
    if (scale == 0) return std::nullopt;
    value = std::min(value, kMaxPixelLimit + 1) * scale;  // at most about 2^62
  }
  return std::min(value, kMaxPixelLimit + 1);
}

void CheckOutputName(const std::string& path) {
  if (!FormatFromExtension(path))
    throw UsageError("output '" + path + "' must end in one of " + ExtensionList());
}

// Where a result goes: the path named by the user, or a batch's place below OUTDIR.
struct Destination {
  std::string path;      // names the result in messages; its extension picks the format
  std::string root;      // a batch's OUTDIR; empty for a single file
  std::string relative;  // below root
};

// Warns once when the input's transparency cannot go into the format of `path`, and
// once when the result is grey and its colour profile is not, which no format then
// carries; after the result (or, written row by row, its facts) is written to path.
void WarnOfDropped(const Picture& result, const CommandInput& input, const std::string& path,
                   const std::function<void(const std::string&)>& warn) {
  const std::optional<PictureFormat> format = FormatFromExtension(path);
  if (input.alpha.HasImage() && !FormatHoldsAlpha(*format))
    warn("tvq: warning: " + path + ": " + PictureFormatName(*format) +
         " holds no alpha; the picture's transparency was dropped");
  if (FormatHoldsProfile(*format) && !ProfileSuitsPicture(result))
    warn("tvq: warning: " + path + ": a grey picture takes no " + ProfileColourSpace(result.icc) +
         " colour profile; the input's profile was dropped");
}

// Writes a command's result in the format of the path's extension (a batch's below
// OUTDIR, never through a link), with WarnOfDropped's warnings.
void WriteOutput(const Picture& result, const CommandInput& input, const Destination& to,
                 const WriteOptions& options, const std::function<void(const std::string&)>& warn) {
  const std::optional<PictureFormat> format = FormatFromExtension(to.path);
  if (to.root.empty() || !format) {
    WritePicture(result, to.path, options);
  } else {
    std::vector<std::uint8_t> bytes;
    try {
      bytes = EncodePicture(result, *format, options);
    } catch (const FileError& e) {
      throw FileError(to.path + ": " + e.what());
    }
    WriteFileBelow(to.root, to.relative, bytes);
  }
  WarnOfDropped(result, input, to.path, warn);
}

WriteOptions WriteOptionsFrom(const ParsedArgs& args) {
  WriteOptions options;
  if (const auto text = args.Text("quality")) {
    const auto value = ParseNumber(*text);
    if (!value || *value != std::floor(*value) || *value < 1 || *value > 100)
      throw UsageError("--quality: '" + *text + "' is not a whole number from 1 to 100");
    options.quality = static_cast<std::int32_t>(*value);
  }
  if (const auto text = args.Text("compression")) {
    const auto value = ParseNumber(*text);
    if (!value || *value != std::floor(*value) || *value < 0 || *value > 9)
      throw UsageError("--compression: '" + *text + "' is not a whole number from 0 to 9");
    options.compression = static_cast<std::int32_t>(*value);
  }
  return options;
}

BatchOptions BatchOptionsFrom(const ParsedArgs& args) {
  BatchOptions options;
  options.outDir = *args.Text("output");
  if (options.outDir.empty()) throw UsageError("-o needs a folder");
  if (const auto text = args.Text("format")) options.extension = ParseExtension(*text);
  if (const auto text = args.Text("jobs")) {
    const auto value = ParseNumber(*text);
    if (!value || *value != std::floor(*value) || *value < 1 || *value > kMaxJobs)
      throw UsageError("--jobs: '" + *text + "' is not a whole number from 1 to " +
                       std::to_string(kMaxJobs));
    options.jobs = static_cast<std::int32_t>(*value);
  }
  options.skipExisting = args.Has("skip-existing");
  if (const auto text = args.Text("shard"))
    std::tie(options.shard, options.shards) = ParseShard(*text);
  if (const auto text = args.Text("log")) {
    if (text->empty()) throw UsageError("--log needs a file");
    options.log = *text;
  }
  return options;
}

// The command's settings as typed: a switch as true, any other option as its text.
// The registry reads and checks them as the command line spells them; a refused
// setting is a usage error.
PreparedCommand PrepareFrom(const CommandEntry& entry, const ParsedArgs& args) {
  SettingInputs inputs;
  for (const CommandSetting& s : entry.settings)
    if (const auto text = args.Text(s.flag))
      inputs.emplace(s.flag, s.isSwitch && !s.choice ? SettingInput(true) : SettingInput(*text));
  try {
    return entry.prepare(inputs, Spelling::kCommandLine);
  } catch (const SettingError& e) {
    throw UsageError(e.what());
  }
}

// --max-memory, or std::nullopt for the memory the system has.
std::optional<std::uint64_t> MaxMemoryFrom(const ParsedArgs& args) {
  const auto text = args.Text("max-memory");
  if (!text) return std::nullopt;
  const auto bytes = ParseByteCount(*text);
  if (!bytes)
    throw UsageError("--max-memory: '" + *text +
                     "' is not a number of bytes from 1 to 2^62, optionally with K, M or G");
  return bytes;
}

// A picture command set up from its options, ready to run on any number of files.
//
// Memory: the limit (--max-memory, or the memory the system has when the run starts)
// is the whole process's. Each file's estimate is checked against it from the file's
// header, before any pixel is decoded, and again exactly once the picture is read; and
// the files of a batch that run at once share it through one MemoryBudget, so a file
// waits until its estimate fits beside those running.
class PictureRun {
 public:
  PictureRun(const Command& command, const ParsedArgs& args)
      : name_(command.name),
        job_(PrepareFrom(*command.picture, args)),
        writeOptions_(WriteOptionsFrom(args)),
        features_(job_.features),
        limits_(DecodeLimitsFrom(args)),
        limit_(MemoryLimitFrom(args)),
        budget_(limit_.bytes),
        tile_(TileFrom(command.name, args, job_.untiled)),
        align_(DeringTileAlign(job_.deringMethod)) {
    if (job_.doubles || job_.checkSize)
      limits_.checkSize = [this](std::int32_t width, std::int32_t height) {
        job_.CheckSize(width, height);
      };
  }
  PictureRun(const PictureRun&) = delete;
  PictureRun& operator=(const PictureRun&) = delete;

  // The budget that the files running at once share.
  MemoryBudget* Budget() { return &budget_; }

  // Reads path's picture. Its header's size is checked against the memory limit, and
  // the file's share of the budget reserved (waiting for it), before the pixels are
  // decoded.
  CommandInput Load(const std::string& path, MemoryReservation& reservation, Progress& progress,
                    const std::function<void(const std::string&)>& warn) const {
    DecodeLimits limits = limits_;
    limits.checkHeader = [&](std::int32_t width, std::int32_t height,
                             std::optional<PictureFormat> format) {
      const MemoryBounds bounds =
          EstimateMemoryFromHeader(job_.memory, features_, width, height, format);
      CheckMemory(name_, std::min(bounds.least, TiledLeast(width, height)), limit_);
      reservation.Wait(bounds.most, progress.SharedStopFlag(), Waiting(progress));
    };
    return LoadInput(path, limits, warn);
  }

  // The memory check and the command's work on the picture read from `path`; each
  // failure names path.
  // A tiled result goes row by row to `streamTo` when it is given (a single file's
  // output) and can take it: *streamed then says the result, returned without samples,
  // is written.
  Picture Run(const std::string& path, const CommandInput& input, MemoryReservation& reservation,
              Progress& progress, const std::string& streamTo = {},
              bool* streamed = nullptr) const {
    const bool stream = Streams(streamTo);
    const TileChoice choice = CheckMemoryFor(path, input, progress,
                                             stream ? FormatFromExtension(streamTo) : std::nullopt);
    reservation.Settle(choice.need, progress.SharedStopFlag(), Waiting(progress));
    // The one place where a command's work runs on one picture: whole, in tiles, or in
    // tiles streamed to the output file.
    return Process(path, [&] {
      job_.CheckSize(input.Width(), input.Height());
      if (stream && choice.tiles && streamed) {
        *streamed = true;
        return RunTiledToFile(job_.work, input, *choice.tiles, streamTo,
                              *FormatFromExtension(streamTo), writeOptions_, progress);
      }
      return RunChosen(job_.work, input, choice, progress);
    });
  }

  void Write(const Picture& result, const CommandInput& input, const Destination& to,
             const std::function<void(const std::string&)>& warn) const {
    WriteOutput(result, input, to, writeOptions_, warn);
  }

 private:
  static MemoryLimit MemoryLimitFrom(const ParsedArgs& args) {
    const std::optional<std::uint64_t> bytes = MaxMemoryFrom(args);
    return bytes ? MemoryLimit{*bytes, "--max-memory"} : SystemMemoryLimit();
  }

  // Shows, while a file waits for memory, why it does not start.
  static std::function<void()> Waiting(Progress& progress) {
    return [&progress] { progress.ShowProgress("waiting for memory", 0, 1); };
  }

  // --tile N, 0 for never, std::nullopt when the memory limit decides. Only resample,
  // dering, mask and upscale work in tiles; the global deringing methods (0 and 1) work
  // on whole lines: their runs are never tiled, and --tile N is refused for them.
  static std::optional<std::int32_t> TileFrom(const std::string& name, const ParsedArgs& args,
                                              const std::string& untiled) {
    const bool whole = !untiled.empty();
    const bool tiles =
        name == "resample" || name == "dering" || name == "mask" || name == "upscale";
    const auto text = args.Text("tile");
    if (!text) return whole || !tiles ? std::optional<std::int32_t>(0) : std::nullopt;
    const auto side = ParseTileSide(*text);
    if (!side) throw UsageError("--tile: '" + *text + "' is not a whole number from 0 to 65535");
    if (!tiles && *side > 0)
      throw UsageError("--tile: only resample, dering, mask and upscale work in tiles");
    if (whole && *side > 0) throw UsageError("--tile: " + untiled);
    return side;
  }

  // The least a tiled run may need, from the header (an input of 3 bytes a pixel, one
  // tile in flight, the smallest automatic tiles); the most when tiles are never used
  // or their scale is not known yet.
  std::uint64_t TiledLeast(std::int32_t width, std::int32_t height) const {
    if (tile_ == 0 || job_.checkSize) return std::numeric_limits<std::uint64_t>::max();
    const std::int32_t scale = job_.doubles ? 2 : 1;
    const std::int32_t side = tile_ ? *tile_ : kAutoTileSide / 16;
    return EstimateTiledMemory(job_.memory, features_, width, height,
                               static_cast<std::uint64_t>(width) * height * 3, scale, 1,
                               CoreSide(side, scale), kDefaultTileHalo, 1);
  }

  // Chooses the whole picture or tiles, and refuses, before any work, a picture whose
  // command would need more memory than the limit either way; returns the choice.
  // Whether a tiled result can go row by row to `to`: a format written by rows, and a
  // plain file or none yet (pipes, devices and links take the whole-picture write).
  static bool Streams(const std::string& to) {
    if (to.empty()) return false;
    const std::optional<PictureFormat> format = FormatFromExtension(to);
    std::error_code error;
    const auto status = std::filesystem::symlink_status(to, error);
    return format && FormatWritesByRows(*format) &&
           (status.type() == std::filesystem::file_type::not_found ||
            status.type() == std::filesystem::file_type::regular);
  }

  // `stream`: the format a tiled result is written to by rows, if it is.
  TileChoice CheckMemoryFor(const std::string& path, const CommandInput& input, Progress& progress,
                            std::optional<PictureFormat> stream) const {
    MemoryFeatures features = features_;
    features.alpha = input.alpha.HasImage();
    const std::uint64_t need =
        job_.Estimate(features, input.Width(), input.Height(), InputBytes(input));
    return Process(path, [&] {
      const auto scale = [&] {
        return job_.doubles ? 2 : job_.checkSize ? ProbeScale(job_.work, input, progress) : 1;
      };
      // The size options' work on a tile: their own estimate of a run on a picture of the
      // tile's size (which counts the base once more: a margin).
      std::function<std::uint64_t(std::int64_t, std::int64_t)> tileWork;
      if (job_.estimate)
        tileWork = [&](std::int64_t w, std::int64_t h) {
          return job_.estimate(features, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h),
                               static_cast<std::uint64_t>(w * h) * 16);
        };
      const auto tiled = [&](const TileOptions& tiles) {
        const std::uint64_t held =
            stream ? RowWriterHeldBytes(*stream, std::int64_t{input.Width()} * tiles.scale,
                                        std::int64_t{input.Height()} * tiles.scale, 3)
                   : 0;
        return EstimateTiledMemory(job_.memory, features, input.Width(), input.Height(),
                                   InputBytes(input), tiles.scale, 4,
                                   CoreSide(tiles.tileOutput, tiles.scale), tiles.halo, tiles.jobs,
                                   stream.has_value(), tileWork) +
               held;
      };
      const TileChoice choice = ChooseTiles(tile_, align_, need, limit_.bytes, scale, tiled);
      CheckMemory(name_, choice.need, limit_);
      return choice;
    });
  }

  std::string name_;
  PreparedCommand job_;
  WriteOptions writeOptions_;
  MemoryFeatures features_;
  DecodeLimits limits_;
  MemoryLimit limit_;
  MemoryBudget budget_;
  std::optional<std::int32_t> tile_;
  std::int32_t align_;
};

}  // namespace

DecodeLimits DecodeLimitsFrom(const ParsedArgs& args) {
  DecodeLimits limits;
  if (const auto text = args.Text("max-pixels")) {
    const auto value = ParsePixelCount(*text);
    if (!value)
      throw UsageError("--max-pixels: '" + *text +
                       "' is not a whole number of pixels, such as 50000000 or 50M");
    if (*value < 1 || *value > kMaxPixelLimit)
      throw UsageError("--max-pixels: " + *text + " is out of range: it must lie in 1.." +
                       std::to_string(kMaxPixelLimit) + " (65535 x 65535 pixels)");
    limits.maxPixels = *value;
  }
  return limits;
}

Picture ReadInput(const std::string& path, const DecodeLimits& limits) {
  try {
    return ReadPicture(path, limits);
  } catch (const PixelLimitError& e) {
    throw FileError(std::string(e.what()) + " (--max-pixels)");
  }
}

CommandInput LoadInput(const std::string& path, const DecodeLimits& limits,
                       const std::function<void(const std::string&)>& warn) {
  Picture picture = ReadInput(path, limits);
  if (warn)
    for (const std::string& warning : picture.warnings)
      warn("tvq: warning: " + path + ": " + warning);
  return Process(path, [&] {
    CheckProcessable(picture);
    return PrepareInput(std::move(picture));
  });
}

const std::vector<OptionSpec>& PictureOptions() {
  static const std::vector<OptionSpec> options = {
      {"quality", "Q", "JPEG and WebP quality 1..100 (default 95)"},
      {"compression", "C",
       "PNG and TIFF deflate level 0..9: 0 stores, 9 is smallest and slowest (default 3 for "
       "PNG, 6 for TIFF)"},
      {"max-memory", "SIZE",
       "refuse a picture whose command would need more memory than SIZE (bytes, or K, M or "
       "G for 1024, 1024^2 or 1024^3 bytes; default: the memory the system has available); "
       "checked from the file's header before decoding, and shared by a batch's files"},
      {"tile", "N",
       "work in tiles of N output pixels a side (0: never; default: tiles only when the "
       "whole picture would not fit the memory limit)"},
      {"output", "OUTDIR",
       "batch: write the results of IN... (files and folders) below OUTDIR; also -o OUTDIR"},
      {"format", "EXT", "batch: extension of the results, such as png (default: the input's own)"},
      {"jobs", "N",
       "batch: files processed at once (default 1), as many as fit in the memory limit "
       "together"},
      {"skip-existing", "", "batch: skip inputs whose output exists"},
      {"shard", "K/N",
       "batch: only the files whose position in the sorted list of inputs is K modulo N"},
      {"log", "FILE",
       "batch: append one JSON line per file to FILE (input, output, status, message, "
       "seconds, peak_rss), as each file ends; shards may share it"},
  };
  return options;
}

namespace {

// The command-line option of a registry setting: its descriptor's (with the default and
// the range in the help), or the help and value name the setting states.
OptionSpec OptionOf(const CommandSetting& s) {
  if (!s.help.empty()) return {s.flag, s.valueName, s.help};
  if (s.number)
    return SettingOption(*s.number, s.flag.substr(0, s.flag.size() - std::strlen(s.number->flag)));
  return ChoiceOption(*s.choice, s.flag.substr(0, s.flag.size() - std::strlen(s.choice->flag)));
}

}  // namespace

Command PictureCommand(std::string_view name) {
  const CommandEntry* entry = FindCommand(name);
  if (!entry) throw std::logic_error("no picture command " + std::string(name));
  Command command{.name = entry->name,
                  .synopsis = "IN OUT",
                  .summary = entry->summary,
                  .positional = 2,
                  .picture = entry};
  for (const CommandSetting& s : entry->settings) command.options.push_back(OptionOf(s));
  return command;
}

int RunPictureCommand(const Command& command, const ParsedArgs& args, Context& ctx) {
  PictureRun run(command, args);
  const auto& positional = args.Positional();
  if (args.Has("output")) {
    const BatchOptions options = BatchOptionsFrom(args);
    if (positional.empty()) throw UsageError("expected IN... -o OUTDIR, got no input");
    const std::vector<BatchItem> items = CollectBatch(positional, options);
    const BatchRunner runner = [&](const BatchItem& item, Progress& progress,
                                   const std::function<void(const std::string&)>& warn) {
      // Declared first, so given back after the picture and the result are freed.
      MemoryReservation reservation(run.Budget());
      const CommandInput input = run.Load(item.input, reservation, progress, warn);
      const Picture result = run.Run(item.input, input, reservation, progress);
      // A stopped file's result is incomplete: it is not written.
      if (progress.StopRequested()) return false;
      run.Write(result, input, {item.output, options.outDir, item.relative}, warn);
      return true;
    };
    return RunBatch(items, options, runner, ctx.progress, ctx.err);
  }
  for (const auto& o : PictureOptions())
    if (o.name != "quality" && o.name != "compression" && o.name != "max-memory" &&
        o.name != "tile" && args.Has(o.name))
      throw UsageError("--" + o.name + " needs -o OUTDIR");
  if (positional.size() != 2)
    throw UsageError("expected IN OUT or IN... -o OUTDIR, got " +
                     std::to_string(positional.size()) + " argument(s)");
  const std::string& in = positional[0];
  const std::string& outPath = positional[1];
  CheckOutputName(outPath);
  CheckWritable(outPath);  // before any work, as a batch looks at each output's place
  const auto warn = [&ctx](const std::string& line) {
    ctx.progress.Finish();
    ctx.err << Printable(line) << "\n";
  };
  MemoryReservation reservation(run.Budget());
  const CommandInput input = run.Load(in, reservation, ctx.progress, warn);
  bool streamed = false;
  const Picture result = run.Run(in, input, reservation, ctx.progress, outPath, &streamed);
  if (streamed)
    WarnOfDropped(result, input, outPath, warn);
  else
    run.Write(result, input, {outPath, {}, {}}, warn);
  return 0;
}

}  // namespace tvq::cli
