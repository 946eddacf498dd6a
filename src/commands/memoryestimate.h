// How much memory a command needs, estimated from the picture before any work starts,
// and how much the process may have, so that a picture too large for the machine is
// refused at once instead of failing (or swapping) halfway through.
//
// The estimate is the peak resident size of the whole run: a fixed base, the prepared
// input as it is held, and a constant number of bytes per input pixel for the command's
// working planes and its result. The constants were measured (see the table in
// memoryestimate.cpp) and carry a margin, so the estimate is a little above the real
// peak, never far below it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "commands/filepicture.h"

namespace tvq {

// The commands, as far as their memory goes.
enum class MemoryWork : std::int32_t {
  kDownsample,
  kNoise,
  kGrey,
  kCanny,
  kUpscaleGrey,         // gradient, nedi, lanczos and bilinear on the grey plane
  kUpscaleColour,       // gradient-color
  kUpscaleDirectional,  // directional (bytes in and out)
  kEdgeMask,
  kDering,
  kResample,
};

// What adds planes to a command: deringing after Resample, the edge mask of Resample
// or Deringing, Resample's fractal texture, and an input with alpha below 255.
struct MemoryFeatures {
  bool dering = false;
  bool mask = false;
  bool fractal = false;
  bool alpha = false;
};

// Bytes a command needs per input pixel beyond the input itself, result included.
double WorkBytesPerPixel(MemoryWork work, const MemoryFeatures& features = {});

// The bytes a prepared input holds: its bitmap, or its four-float colour and alpha.
std::uint64_t InputBytes(const CommandInput& input);

// The bytes the command's working planes and result add while it runs on a picture of
// width x height pixels.
std::uint64_t WorkMemory(MemoryWork work, const MemoryFeatures& features, std::int64_t width,
                         std::int64_t height);

// The estimated peak of a whole run of the command-line tool on a picture of width x
// height pixels whose input holds inputBytes: the base, the input and WorkMemory.
std::uint64_t EstimateMemory(MemoryWork work, const MemoryFeatures& features, std::int64_t width,
                             std::int64_t height, std::uint64_t inputBytes);

// The estimated peak of a run in tiles (commands/tiles.h): the base, the input, the
// whole result as the file picture holds it (`resultChannels` floats a pixel, `scale`
// times the input a side) and the bytes its encoder builds (at most four a result
// pixel), and `jobs` tiles in flight, each a picture of (core + 2 halo) input pixels a
// side through the command's work, with its own input and result. A result `streamed`
// to its file row by row holds one band (a row of tiles' cores) in place of the whole.
// `tileWork`, when given, is the bytes one tile's work needs (for the size options,
// whose work is not `work`'s two times), in place of WorkMemory of the tile.
std::uint64_t EstimateTiledMemory(
    MemoryWork work, const MemoryFeatures& features, std::int64_t width, std::int64_t height,
    std::uint64_t inputBytes, std::int32_t scale, std::int32_t resultChannels, std::int32_t core,
    std::int32_t halo, std::int32_t jobs, bool streamed = false,
    const std::function<std::uint64_t(std::int64_t, std::int64_t)>& tileWork = {});

// What EstimateMemory can say from a file's header alone, before the pixels are
// decoded: `least` counts no transparency and the smallest input the format gives (a
// 24-bit BMP's rows; four floats a pixel for the other formats), so a picture it
// refuses is refused by the estimate after decoding too; `most` counts transparency
// wherever the format can hold alpha (PNG, TIFF, WebP) and the largest input, so the
// estimate after decoding is never above it. An unknown format counts every format.
struct MemoryBounds {
  std::uint64_t least = 0;
  std::uint64_t most = 0;
};
MemoryBounds EstimateMemoryFromHeader(MemoryWork work, MemoryFeatures features, std::int64_t width,
                                      std::int64_t height, std::optional<PictureFormat> format);

// The most memory a command may use, and where that number comes from, in words for
// messages ("available memory", "--max-memory"); bytes 0 means no limit is known.
struct MemoryLimit {
  std::uint64_t bytes = 0;
  std::string source;
};

// What the system lets this process have, now: the memory available (MemAvailable in
// /proc/meminfo, or the free pages that sysconf reports) and, when RLIMIT_AS is set,
// the address space left; the smaller of the two. With countHeld each includes what the
// process already holds, for comparing with EstimateMemory, which counts that too;
// without, it is what more the process may take. Bytes 0 when neither can be read.
MemoryLimit SystemMemoryLimit(bool countHeld = true);

// "3.2 GB", "750 MB", "12 KB", "100 bytes": 1024-based units, one decimal below 10.
std::string FormatBytes(std::uint64_t bytes);

// A byte count as typed: digits with an optional K, M or G (1024-based; k, m, g too),
// e.g. "500M", "4G", "1048576". std::nullopt for anything else, 0, or more than 2^62.
std::optional<std::uint64_t> ParseByteCount(std::string_view text);

// "<what> needs about 3.2 GB; the limit is 2.0 GB (<source>)" when `need` exceeds a
// known limit, std::nullopt when it fits.
std::optional<std::string> MemoryShortfall(const std::string& what, std::uint64_t need,
                                           const MemoryLimit& limit);
// Throws FileError with MemoryShortfall's message when there is one.
void CheckMemory(const std::string& what, std::uint64_t need, const MemoryLimit& limit);

}  // namespace tvq
