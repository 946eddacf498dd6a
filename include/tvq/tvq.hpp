// tvq: enlarge pictures two times by iterative super-resolution, remove ringing beside
// edges, and the smaller picture commands of the tvq tool, for other programs.
//
// Pictures are views of memory: `ImageView` points at pixels it does not own (a numpy
// array, a QImage, a buffer of your own), `Image` owns them. Samples are 8-bit, 16-bit
// or 32-bit float on the 0..255 scale (16-bit value v stands for v / 257; floats are
// taken as they are, NaN and infinity refused), with 1 (grey), 2 (grey, alpha),
// 3 (red, green, blue) or 4 (red, green, blue, alpha) channels interleaved.
//
// Every command follows the tool's rules: a picture whose alpha is below 255 somewhere
// is processed premultiplied and its alpha travels with it; a grey picture gives a
// grey result where the result's channels stay equal; the result has the input's
// sample type (8-bit results are rounded and clamped, 16-bit ones clamped and rounded
// to v * 257, floats kept as computed). The bytes are those the command-line tool
// writes for the same picture and settings.
//
// Failures are thrown as tvq::Error, with the tool's one-line message. Calls may run
// at once from several threads; each runs on the process's shared thread pool.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tvq/version.hpp"

namespace tvq {
inline namespace v0 {

enum class SampleType : std::int32_t {
  kUInt8,    // 0..255
  kUInt16,   // 0..65535, v standing for v / 257
  kFloat32,  // the 0..255 scale, taken as it is
};

// Bytes of one sample: 1, 2 or 4.
TVQ_API std::size_t SampleBytes(SampleType type);

// Pixels this view does not own: `height` rows of `width` pixels of `channels`
// interleaved samples, row y at data + y * rowStride bytes (rowStride may be negative
// for bottom-up rows; 0 means packed rows). The ICC colour profile, when set, travels
// to results and is written with them.
struct ImageView {
  const void* data = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t channels = 0;
  SampleType type = SampleType::kUInt8;
  std::ptrdiff_t rowStride = 0;
  const std::uint8_t* icc = nullptr;
  std::size_t iccSize = 0;

  std::ptrdiff_t Stride() const {
    return rowStride != 0 ? rowStride
                          : static_cast<std::ptrdiff_t>(width) * channels *
                                static_cast<std::ptrdiff_t>(SampleBytes(type));
  }
  const std::uint8_t* Row(std::int32_t y) const {
    return static_cast<const std::uint8_t*>(data) + y * Stride();
  }
};

// Pixels of its own, packed rows, top row first; the profile with them.
class TVQ_API Image {
 public:
  Image() = default;
  // Zeroed pixels; Error (setting) for sides outside 1..65535 or channels outside 1..4.
  Image(std::int32_t width, std::int32_t height, std::int32_t channels, SampleType type);
  // A packed copy of the view's pixels and profile.
  static Image Copy(const ImageView& view);

  bool Empty() const { return pixels_.empty(); }
  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  std::int32_t Channels() const { return channels_; }
  SampleType Type() const { return type_; }
  std::ptrdiff_t RowStride() const;
  std::uint8_t* Data() { return pixels_.data(); }
  const std::uint8_t* Data() const { return pixels_.data(); }
  std::uint8_t* Row(std::int32_t y) { return pixels_.data() + y * RowStride(); }
  const std::uint8_t* Row(std::int32_t y) const { return pixels_.data() + y * RowStride(); }
  std::size_t SizeBytes() const { return pixels_.size(); }

  ImageView View() const;
  operator ImageView() const { return View(); }  // NOLINT: an Image is viewed where a view goes

  // The ICC colour profile (empty: none).
  std::vector<std::uint8_t> icc{};

 private:
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::int32_t channels_ = 0;
  SampleType type_ = SampleType::kUInt8;
  std::vector<std::uint8_t> pixels_{};
};

// The one exception type. what() is the command-line tool's message without its
// "tvq: " and without a path for pictures in memory.
class TVQ_API Error : public std::runtime_error {
 public:
  enum class Kind : std::int32_t {
    kSetting,  // a setting or an argument out of range, a bad view ("--step: ...")
    kFile,     // a file that cannot be read or written, a picture that cannot be processed
    kMemory,   // more memory than the system has ("resample needs about 3.2 GB; ...")
    kStopped,  // the progress hook returned false
  };
  Error(Kind kind, const std::string& message);
  ~Error() override;
  Kind kind() const noexcept { return kind_; }

 private:
  Kind kind_{};
};

// Called on the calling thread with the fraction done (0..1) and the stage's caption
// ("Iterations [12]"); returning false stops the work, which then throws
// Error(kStopped). Also called about ten times a second while a long stage polls for
// a stop, so a hook that checks for an interrupt is heard within a fraction of a second.
using ProgressHook = std::function<bool(double fraction, std::string_view stage)>;

// What every call takes.
struct CallOptions {
  // Threads of the process's pool: 0 leaves it as it is (one per core at first). A
  // different count waits until no other call runs, then applies to later calls too.
  std::int32_t threads = 0;
  ProgressHook progress{};
  // A flag that stops the work once set, from any thread or from a signal handler (it is
  // polled between rows); the call sets it too when the progress hook returns false.
  std::atomic<bool>* stop = nullptr;
};

// Settings by their command-line names ("iterations", "dering-factor", "mask"): a
// switch, a number, or a text (a choice's name or caption). Unset ones keep their
// defaults. Generic form of the option structs below; the Python module uses it.
using Setting = std::variant<bool, double, std::string>;
using Settings = std::map<std::string, Setting, std::less<>>;

// --- Files ---------------------------------------------------------------------------

// What a file holds, as its header says.
struct FileInfo {
  std::string format{};  // "BMP", "PFM", "PNG", "JPEG", "TIFF", "WebP"
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t channels = 0;        // as stored
  std::int32_t bitsPerChannel = 0;  // as stored
  bool alpha = false;
  std::int32_t orientation = 1;         // EXIF 1..8; the pixels are turned upright
  std::vector<std::string> warnings{};  // what the reader got past, one line each
};

struct ReadOptions {
  std::uint64_t maxPixels = 0;  // refuse larger pictures; 0: the tool's default limit
};

// Reads a picture file of any supported format (by content): 8-bit files as kUInt8,
// 16-bit ones as kUInt16, PFM as kFloat32; BMP files as 3 channels; the profile in
// Image::icc. Error(kFile) "path: problem".
TVQ_API Image Read(const std::string& path, FileInfo* info = nullptr,
                   const ReadOptions& options = {});

struct EncodeOptions {
  std::int32_t quality = 95;  // JPEG and WebP, 1..100
};

// Writes in the format of the path's extension (.bmp .pfm .png .jpg .jpeg .tif .tiff
// .webp), atomically; 16-bit and float pictures as 16 bits where the format holds
// them (PFM: floats), alpha where it holds it. Error(kFile) "path: problem".
TVQ_API void Write(const std::string& path, const ImageView& image,
                   const EncodeOptions& options = {});

// --- Commands --------------------------------------------------------------------------
// Each takes its settings as an options struct; a member left unset (a choice left
// empty) keeps the command-line tool's default, and values are checked against the
// same ranges.

struct EdgeMaskSettings {
  std::string measure{};                 // variation measure (choice)
  std::optional<double> maskGauss{};     // neighbour profile radius
  std::optional<double> filterRadius{};  // window radius (whole)
  std::optional<double> multiplier{};
  std::optional<double> noiseLevel{};
  std::optional<double> smooth{};     // smoothing of the mask
  std::optional<double> dilation{};   // dilation radius (whole)
  std::optional<double> threshold{};  // percent
};

struct DeringSettings {
  std::string method{};                // a caption ("Global, modified") or an index ("5")
  std::string initial{};               // "zero" or "source"
  std::optional<double> iterations{};  // whole
  std::optional<double> factor{};
};

// The size of an enlargement: a scale above 1 up to 16 (the result is round(S * W) x
// round(S * H)), or a geometry: "WxH" (fit inside, aspect kept), "Wx" or "xH" (one
// side), "WxH!" (exactly), "WxH^" (cover), each optionally followed by "<" (only
// enlarge). Neither: twice the size. Not both.
struct SizeSettings {
  std::optional<double> scale{};
  std::string size{};
};

struct ResampleOptions : CallOptions, SizeSettings {
  // At a size other than two times: "direct" (solve at the next whole factor, 3 to 8)
  // or "passes" (two-times passes); empty for the default.
  std::string sizeMethod{};
  std::string stabilizer{};   // laplace, tv, btv3, btv5, btv3-mixed
  std::string init{};         // black, bilinear, gradient, nedi, lanczos
  std::string convergence{};  // fixed, exponential, conditional
  std::optional<double> step{};
  std::optional<double> factor{};
  std::optional<double> iterations{};  // whole
  std::optional<double> maximum{};
  std::optional<double> minFactor{};
  std::optional<double> threshMin{};
  std::optional<double> threshMax{};
  std::optional<double> btvBase{};
  std::optional<double> gaussRadius{};
  std::optional<double> norm{};
  bool fractal = false;
  // Dering the enlarged luminance (a mask derings too, with the default method).
  std::optional<DeringSettings> dering{};
  std::optional<EdgeMaskSettings> mask{};
};
struct DeringOptions : CallOptions, DeringSettings {
  std::optional<EdgeMaskSettings> mask{};
};
struct EdgeMaskOptions : CallOptions, EdgeMaskSettings {};
struct UpscaleOptions : CallOptions, SizeSettings {
  // gradient, nedi, lanczos, bilinear (grey result); gradient-color, directional (colour).
  std::string method{};
};
// resize: a scale above 0 up to 16, or a geometry (as SizeSettings); one is required.
struct ResizeOptions : CallOptions, SizeSettings {
  std::string filter{};  // lanczos3, mitchell, box
};
struct CannyOptions : CallOptions {
  std::optional<double> sigma{};
};

// Twice the size by super-resolution, optionally deringed.
TVQ_API Image Resample(const ImageView& image, const ResampleOptions& options = {});
// Ringing beside edges removed; the same size.
TVQ_API Image Dering(const ImageView& image, const DeringOptions& options = {});
// The edge mask masked deringing uses: grey 0..255 (with the input's alpha).
TVQ_API Image EdgeMask(const ImageView& image, const EdgeMaskOptions& options = {});
// Twice the size (or the size asked for) by one interpolator.
TVQ_API Image Upscale(const ImageView& image, const UpscaleOptions& options);
// Any size by one filter, antialiased when reducing.
TVQ_API Image Resize(const ImageView& image, const ResizeOptions& options);
// Half the size after an anti-alias blur.
TVQ_API Image Downsample(const ImageView& image, const CallOptions& options = {});
// Gaussian noise of deviation 5 on the grey picture; the same noise on every call.
TVQ_API Image AddNoise(const ImageView& image, const CallOptions& options = {});
// The grey levels.
TVQ_API Image Greyscale(const ImageView& image, const CallOptions& options = {});
// Edges marked 255, the rest 0.
TVQ_API Image Canny(const ImageView& image, const CannyOptions& options = {});

struct Comparison {
  double mse = 0.0;
  double psnr = 0.0;  // +infinity for equal pictures
};
struct PsnrOptions : CallOptions {
  bool crop = false;  // compare only the top-left part both share
};
// MSE and PSNR between the grey levels of two pictures of one size.
TVQ_API Comparison Psnr(const ImageView& a, const ImageView& b, const PsnrOptions& options = {});

// Every measure of a picture against a reference, as `tvq compare` gives them (grey
// pictures and colour ones alike: the colour times alpha for transparent ones).
struct CompareOptions {
  std::int32_t shave = 0;  // border left out of every measure, 0..32767
  bool crop = false;       // measure only the top-left part both share
  CallOptions call{};
};
struct PsnrFigure {
  double mse = 0.0;
  double psnr = 0.0;  // +infinity for equal pictures
};
struct EdgeFigure {
  double threshold = 0.0;  // Sobel gradient of an edge, levels per pixel
  std::int32_t inner = 0;  // the band measured: inner to outer pixels from edges
  std::int32_t outer = 0;
  std::int64_t edgePixels = 0;
  std::int64_t bandPixels = 0;
  double mse = 0.0;  // of the luma in the band
  double psnr = 0.0;
  double overshoot = 0.0;  // levels beyond the reference's 5x5 range
};
struct CompareResult {
  std::int32_t referenceWidth = 0, referenceHeight = 0;
  std::int32_t testWidth = 0, testHeight = 0;
  bool cropped = false;
  std::int32_t shave = 0;
  std::int32_t measuredWidth = 0, measuredHeight = 0;  // without the border
  PsnrFigure rgb{};
  PsnrFigure y{};  // BT.601 luma
  double ssim = 0.0;
  double msSsim = 0.0;
  double gmsd = 0.0;  // 0 for identical pictures
  EdgeFigure edge{};
};
// `test` measured against `reference`. Error(kFile) when the sizes differ without crop
// or the border leaves nothing.
TVQ_API CompareResult Compare(const ImageView& reference, const ImageView& test,
                              const CompareOptions& options = {});

// --- The commands as data -----------------------------------------------------------

// One setting of a command, as the command line and the Python keywords name it.
struct SettingInfo {
  enum class Type : std::int32_t { kNumber, kWhole, kChoice, kSwitch, kSwitchOrChoice, kText };
  std::string name{};  // "iterations", "dering-factor"
  Type type = Type::kNumber;
  std::string help{};
  double minimum = 0.0;
  double maximum = 0.0;
  bool exclusiveMinimum = false;
  std::optional<double> defaultNumber{};
  std::vector<std::string> choices{};  // names (or captions, where the choice has no names)
  std::string defaultChoice{};         // empty: none (the setting is required)
  std::string range{};                 // "0 to 1000", "0 (excluded) to 1"
  std::string needs{};                 // the switch it needs: "mask", "dering or mask"
};

struct CommandInfo {
  std::string name{};  // "resample", "dering", "mask", "upscale", "downsample", "noise", ...
  std::string summary{};
  std::vector<SettingInfo> settings{};
};

// Every picture command, in the order of the tool's help.
TVQ_API const std::vector<CommandInfo>& Commands();

// Runs the picture command of that name with its settings by name. Error(kSetting)
// for an unknown command or setting.
TVQ_API Image Run(std::string_view command, const ImageView& image, const Settings& settings,
                  const CallOptions& options = {});

}  // namespace v0
}  // namespace tvq
