#include "commands/memoryestimate.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>

#include "deringing/dering.h"
#include "imaging/errors.h"

namespace tvq {

namespace {

// The resident size of the program before it holds a picture (code, libraries, the
// thread arena): measured 6.5 to 9.5 MB for the smallest runs below.
constexpr double kBaseBytes = 16.0 * 1024 * 1024;

// Bytes per input pixel beyond the base and the input held, about 15 % above the
// largest measurement. Measured as the "Maximum resident set size" of /usr/bin/time -v
// for `tvq COMMAND in OUT` (2 threads; 4, 8 and 16 threads gave the same or at most
// 4 % more) on pictures of 256², 512², 1024² and 2048² pixels: 24-bit BMP, 8-bit colour,
// grey and colour-with-alpha PNG, and 16-bit colour PNG. A measurement is
// (peak - 6.5 MB - input held) / pixels; the input held is 3 bytes per pixel for a
// 24-bit BMP file, 16 for other files and 20 with alpha. The comments give the largest
// measurement and the peak it came from. The figures hardly depend on the settings:
// every stabilizer, initial approximation and deringing method was within 5 % of the
// defaults, and the output's format made no difference.
struct WorkCost {
  MemoryWork work;
  double bytesPerPixel;
};
constexpr WorkCost kWorkCosts[] = {
    {MemoryWork::kDownsample, 38},                // 32: BMP 2048², 145 MB
    {MemoryWork::kNoise, 16},                     // 14: PNG 1024², 36 MB
    {MemoryWork::kGrey, 16},                      // 12: PNG 2048², 118 MB
    {MemoryWork::kCanny, 40},                     // 33: PNG 2048², 202 MB
    {MemoryWork::kUpscaleGrey, 60},               // 52: PNG 1024², 74 MB (all four methods)
    {MemoryWork::kUpscaleColour, 190},            // 164: PNG 2048², 725 MB
    {MemoryWork::kUpscaleDirectional, 152},       // 132: PNG 1024², 154 MB
    {MemoryWork::kEdgeMask, 16},                  // 13: 16-bit PNG 1024², 35 MB
    {MemoryWork::kDering, kDeringBytesPerPixel},  // the methods' figures (dering.h)
    {MemoryWork::kResample, 138},                 // 120: PNG 512², 41 MB (1024²: 114, 140 MB; BMP
                                                  // 2048²: 112, 483 MB)
};

// What the options add per input pixel.
constexpr double kDeringMaskBytes = 8;        // 44 in all: 16-bit PNG 2048², 247 MB
constexpr double kResampleMaskBytes = 39;     // 154 in all: PNG 512², 50 MB (1024²: 150)
constexpr double kResampleFractalBytes = 34;  // 149 in all: PNG 512², 49 MB (1024²: 146)
// Alpha: the plane, its enlargement and the result's fourth channel.
constexpr double kAlphaSameSizeBytes = 14;  // dering --mask 49 in all: PNG 1024², 75 MB
constexpr double kAlphaEnlargedBytes = 56;  // gradient-color 228 in all: PNG 1024², 254 MB

std::uint64_t PageSize() {
  const long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<std::uint64_t>(size) : 4096;
}

// The value in kB of a "Name:   1234 kB" line of /proc/meminfo.
std::optional<std::uint64_t> MemInfoKilobytes(const std::string& name) {
  std::ifstream in("/proc/meminfo");
  std::string key;
  std::uint64_t value = 0;
  std::string unit;
  while (in >> key >> value) {
    std::getline(in, unit);
    if (key == name + ":") return value;
  }
  return std::nullopt;
}

// The process's virtual and resident sizes in bytes (/proc/self/statm).
struct ProcessSize {
  std::uint64_t virtualBytes = 0;
  std::uint64_t residentBytes = 0;
};
ProcessSize CurrentProcessSize() {
  ProcessSize size;
  std::ifstream in("/proc/self/statm");
  std::uint64_t pages = 0, resident = 0;
  if (in >> pages >> resident) {
    size.virtualBytes = pages * PageSize();
    size.residentBytes = resident * PageSize();
  }
  return size;
}

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  return a > std::numeric_limits<std::uint64_t>::max() - b
             ? std::numeric_limits<std::uint64_t>::max()
             : a + b;
}

}  // namespace

double WorkBytesPerPixel(MemoryWork work, const MemoryFeatures& features) {
  double bytes = 0;
  for (const WorkCost& cost : kWorkCosts)
    if (cost.work == work) bytes = cost.bytesPerPixel;
  if (work == MemoryWork::kDering && features.mask) bytes += kDeringMaskBytes;
  // Deringing after Resample measured within 1 % of Resample alone.
  if (work == MemoryWork::kResample) {
    if (features.mask) bytes += kResampleMaskBytes;
    if (features.fractal) bytes += kResampleFractalBytes;
  }
  if (features.alpha) {
    const bool enlarges = work == MemoryWork::kUpscaleGrey || work == MemoryWork::kUpscaleColour ||
                          work == MemoryWork::kUpscaleDirectional || work == MemoryWork::kResample;
    bytes += enlarges ? kAlphaEnlargedBytes : kAlphaSameSizeBytes;
  }
  return bytes;
}

std::uint64_t InputBytes(const CommandInput& input) {
  if (input.FromBitmap())
    return static_cast<std::uint64_t>(input.bitmap.RowBytes()) *
           static_cast<std::uint64_t>(input.bitmap.Height());
  const auto pixels = [](const TImageBase& image) {
    return image.HasImage() ? static_cast<std::uint64_t>(image.Width()) *
                                  static_cast<std::uint64_t>(image.Height())
                            : 0;
  };
  return pixels(input.colour) * 4 * sizeof(float) + pixels(input.alpha) * sizeof(float);
}

std::uint64_t WorkMemory(MemoryWork work, const MemoryFeatures& features, std::int64_t width,
                         std::int64_t height) {
  const double pixels = static_cast<double>(std::max<std::int64_t>(width, 0)) *
                        static_cast<double>(std::max<std::int64_t>(height, 0));
  // Far beyond any machine; also keeps the conversion defined.
  constexpr double kCeiling = 4.0e18;
  return static_cast<std::uint64_t>(std::min(pixels * WorkBytesPerPixel(work, features), kCeiling));
}

std::uint64_t EstimateMemory(MemoryWork work, const MemoryFeatures& features, std::int64_t width,
                             std::int64_t height, std::uint64_t inputBytes) {
  return SaturatingAdd(static_cast<std::uint64_t>(kBaseBytes),
                       SaturatingAdd(inputBytes, WorkMemory(work, features, width, height)));
}

std::uint64_t EstimateTiledMemory(
    MemoryWork work, const MemoryFeatures& features, std::int64_t width, std::int64_t height,
    std::uint64_t inputBytes, std::int32_t scale, std::int32_t resultChannels, std::int32_t core,
    std::int32_t halo, std::int32_t jobs, bool streamed,
    const std::function<std::uint64_t(std::int64_t, std::int64_t)>& tileWork) {
  const double w = static_cast<double>(std::max<std::int64_t>(width, 0));
  const double h = static_cast<double>(std::max<std::int64_t>(height, 0));
  const double s = std::max(scale, 1);
  // The whole result: its float samples, and what the encoder holds of it.
  const double rows = streamed ? std::min(h, static_cast<double>(std::max(core, 1))) : h;
  const double result = w * rows * s * s * (std::max(resultChannels, 1) * sizeof(float) + 4.0);
  // One tile: its work (result included), its cropped input as floats with alpha, and
  // its file picture of four floats a result pixel.
  const double side = static_cast<double>(std::max(core, 1)) + 2.0 * std::max(halo, 0);
  const double tileW = std::min(w, side);
  const double tileH = std::min(h, side);
  const double tile =
      static_cast<double>(
          tileWork ? tileWork(static_cast<std::int64_t>(tileW), static_cast<std::int64_t>(tileH))
                   : WorkMemory(work, features, static_cast<std::int64_t>(tileW),
                                static_cast<std::int64_t>(tileH))) +
      tileW * tileH * (5 * sizeof(float) + s * s * 4 * sizeof(float));
  constexpr double kCeiling = 4.0e18;
  const double tiles = std::min(tile * std::max(jobs, 1), kCeiling);
  return SaturatingAdd(
      static_cast<std::uint64_t>(kBaseBytes),
      SaturatingAdd(inputBytes, static_cast<std::uint64_t>(std::min(result + tiles, kCeiling))));
}

MemoryBounds EstimateMemoryFromHeader(MemoryWork work, MemoryFeatures features, std::int64_t width,
                                      std::int64_t height, std::optional<PictureFormat> format) {
  const std::uint64_t pixels = static_cast<std::uint64_t>(std::max<std::int64_t>(width, 0)) *
                               static_cast<std::uint64_t>(std::max<std::int64_t>(height, 0));
  // As InputBytes counts them: a BMP picture stays a bitmap, 24 bits with rows padded to
  // four bytes or converted to 32 bits; the others become four floats a pixel and, when
  // some alpha is below 255, a float alpha plane.
  const std::uint64_t bitmapRows =
      (static_cast<std::uint64_t>(std::max<std::int64_t>(width, 0)) * 3 + 3) / 4 * 4 *
      static_cast<std::uint64_t>(std::max<std::int64_t>(height, 0));
  const std::uint64_t floats = pixels * 4 * sizeof(float);
  const std::uint64_t floatsAndAlpha = floats + pixels * sizeof(float);
  const bool bitmap = format == PictureFormat::kBmp;
  const bool mayHaveAlpha = !format || FormatHoldsAlpha(*format);
  const bool mayBeBitmap = !format || bitmap;
  features.alpha = false;
  MemoryBounds bounds;
  bounds.least = EstimateMemory(work, features, width, height,
                                mayBeBitmap ? std::min(bitmapRows, floats) : floats);
  features.alpha = mayHaveAlpha;
  bounds.most = EstimateMemory(work, features, width, height,
                               bitmap         ? pixels * 4
                               : mayHaveAlpha ? floatsAndAlpha
                                              : floats);
  return bounds;
}

MemoryLimit SystemMemoryLimit(bool countHeld) {
  ProcessSize self = CurrentProcessSize();
  if (!countHeld) self.residentBytes = 0;
  MemoryLimit limit;
  std::optional<std::uint64_t> available;
  if (const auto kb = MemInfoKilobytes("MemAvailable")) {
    available = *kb * 1024;
  } else {
    const long pages = sysconf(_SC_AVPHYS_PAGES);
    if (pages > 0) available = static_cast<std::uint64_t>(pages) * PageSize();
  }
  if (available) limit = {SaturatingAdd(*available, self.residentBytes), "available memory"};
  rlimit space{};
  if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY) {
    const std::uint64_t cap = static_cast<std::uint64_t>(space.rlim_cur);
    const std::uint64_t left = cap > self.virtualBytes ? cap - self.virtualBytes : 0;
    const std::uint64_t bytes = SaturatingAdd(left, self.residentBytes);
    if (limit.bytes == 0 || bytes < limit.bytes) limit = {bytes, "address-space limit"};
  }
  return limit;
}

std::string FormatBytes(std::uint64_t bytes) {
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, value < 10 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
  return text;
}

std::optional<std::uint64_t> ParseByteCount(std::string_view text) {
  std::uint64_t multiplier = 1;
  if (!text.empty()) {
    switch (text.back()) {
      case 'K':
      case 'k':
        multiplier = 1ull << 10;
        break;
      case 'M':
      case 'm':
        multiplier = 1ull << 20;
        break;
      case 'G':
      case 'g':
        multiplier = 1ull << 30;
        break;
      default:
        break;
    }
    if (multiplier != 1) text.remove_suffix(1);
  }
  constexpr std::uint64_t kMost = 1ull << 62;
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value == 0 || value > kMost / multiplier) return std::nullopt;
  return value * multiplier;
}

std::optional<std::string> MemoryShortfall(const std::string& what, std::uint64_t need,
                                           const MemoryLimit& limit) {
  if (limit.bytes == 0 || need <= limit.bytes) return std::nullopt;
  const std::string needText = FormatBytes(need);
  const std::string limitText = FormatBytes(limit.bytes);
  // Rounded to the same text, "about" would read as if the need fitted.
  return what + " needs " + (needText == limitText ? "more than " : "about ") + needText +
         "; the limit is " + limitText + " (" + limit.source + ")";
}

void CheckMemory(const std::string& what, std::uint64_t need, const MemoryLimit& limit) {
  if (auto message = MemoryShortfall(what, need, limit)) throw FileError(*message);
}

}  // namespace tvq
