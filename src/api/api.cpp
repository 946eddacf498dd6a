// The public API over the command registry: views become the file pictures the
// command-line tool makes of files, so every command sees the same samples and follows
// the same alpha, grey and 16-bit rules, and its result becomes an image of the input's
// sample type.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>
#include <thread>
#include <utility>

#include "commands/filepicture.h"
#include "commands/memoryestimate.h"
#include "commands/processable.h"
#include "commands/registry.h"
#include "imaging/errors.h"
#include "imaging/io/codecs.h"
#include "imaging/io/picture.h"
#include "imaging/parallel.h"
#include "imaging/progress.h"
#include "tvq/tvq.hpp"
#include "utility/utility.h"

namespace tvq {
inline namespace v0 {

namespace {

// The most threads a call may ask for, as the tool's --threads allows.
constexpr std::int32_t kMaxThreads = 1024;

// Runs f, turning every failure of the library into an Error of its kind.
template <typename F>
decltype(auto) Guard(F f) {
  try {
    return f();
  } catch (const Error&) {
    throw;
  } catch (const OperationStopped& e) {
    throw Error(Error::Kind::kStopped, e.what());
  } catch (const std::bad_alloc&) {
    throw Error(Error::Kind::kMemory, "not enough memory for this picture");
  } catch (const std::invalid_argument& e) {  // SettingError among them
    throw Error(Error::Kind::kSetting, e.what());
  } catch (const std::exception& e) {
    throw Error(Error::Kind::kFile, e.what());
  }
}

[[noreturn]] void Refuse(const std::string& message) {
  throw Error(Error::Kind::kSetting, message);
}

// Refuses a view that does not describe pixels in memory.
void CheckView(const ImageView& view, const char* what) {
  const std::string name = std::string("the ") + what;
  if (view.data == nullptr) Refuse(name + " has no pixels");
  if (view.width < 1 || view.height < 1 || view.width > kMaxImageSide ||
      view.height > kMaxImageSide)
    Refuse(name + " measures " + std::to_string(view.width) + " x " + std::to_string(view.height) +
           " pixels; each side must lie in 1..65535");
  if (view.channels < 1 || view.channels > 4)
    Refuse(name + " has " + std::to_string(view.channels) +
           " channels; expected 1 (grey), 2 (grey, alpha), 3 (RGB) or 4 (RGBA)");
  if (view.type != SampleType::kUInt8 && view.type != SampleType::kUInt16 &&
      view.type != SampleType::kFloat32)
    Refuse(name + " has an unknown sample type");
  const auto rowBytes = static_cast<std::ptrdiff_t>(view.width) * view.channels *
                        static_cast<std::ptrdiff_t>(SampleBytes(view.type));
  const std::ptrdiff_t stride = view.Stride();
  if (stride < rowBytes && -stride < rowBytes)
    Refuse(name + "'s rows are " + std::to_string(stride) + " bytes apart, closer than a row of " +
           std::to_string(rowBytes) + " bytes");
  if (view.iccSize > 0 && view.icc == nullptr) Refuse(name + "'s colour profile has no bytes");
}

// The file picture of a view: what reading a file of the same samples gives.
Picture PictureFromView(const ImageView& view) {
  Picture picture;
  picture.format = view.type == SampleType::kFloat32 ? PictureFormat::kPfm : PictureFormat::kPng;
  picture.width = view.width;
  picture.height = view.height;
  picture.channels = view.channels;
  picture.bitsPerChannel = view.type == SampleType::kUInt8    ? 8
                           : view.type == SampleType::kUInt16 ? 16
                                                              : 32;
  if (view.iccSize > 0) picture.icc.assign(view.icc, view.icc + view.iccSize);
  const auto perRow =
      static_cast<std::size_t>(view.width) * static_cast<std::size_t>(view.channels);
  picture.samples.resize(perRow * static_cast<std::size_t>(view.height));
  for (std::int32_t y = 0; y < view.height; ++y) {
    const std::uint8_t* in = view.Row(y);
    float* out = picture.samples.data() + perRow * static_cast<std::size_t>(y);
    switch (view.type) {
      case SampleType::kUInt8:
        for (std::size_t i = 0; i < perRow; ++i) out[i] = static_cast<float>(in[i]);
        break;
      case SampleType::kUInt16:
        for (std::size_t i = 0; i < perRow; ++i) {
          std::uint16_t v;
          std::memcpy(&v, in + 2 * i, sizeof v);
          out[i] = codec::WordToSample(v);
        }
        break;
      case SampleType::kFloat32:
        std::memcpy(out, in, perRow * sizeof(float));
        break;
    }
  }
  return picture;
}

// An image of the given type holding a file picture's samples (bytes by ClampToByte,
// words by SampleToWord, floats as they are), and its profile.
Image ImageFromPicture(const Picture& picture, SampleType type) {
  Image image(picture.width, picture.height, picture.channels, type);
  const auto perRow =
      static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.channels);
  for (std::int32_t y = 0; y < picture.height; ++y) {
    const float* in = picture.samples.data() + perRow * static_cast<std::size_t>(y);
    std::uint8_t* out = image.Row(y);
    switch (type) {
      case SampleType::kUInt8:
        for (std::size_t i = 0; i < perRow; ++i) out[i] = ClampToByte(in[i]);
        break;
      case SampleType::kUInt16:
        for (std::size_t i = 0; i < perRow; ++i) {
          const std::uint16_t v = codec::SampleToWord(in[i]);
          std::memcpy(out + 2 * i, &v, sizeof v);
        }
        break;
      case SampleType::kFloat32:
        std::memcpy(out, in, perRow * sizeof(float));
        break;
    }
  }
  image.icc = picture.icc;
  return image;
}

// The thread count of the process's pool: calls share it, and a call that asks for
// another count waits until no call runs.
class ThreadScope {
 public:
  explicit ThreadScope(std::int32_t threads) {
    if (threads < 0 || threads > kMaxThreads)
      Refuse("--threads: " + std::to_string(threads) + " is out of range: it must lie in 0.." +
             std::to_string(kMaxThreads));
    if (threads > 0 && threads != current_.load()) {
      std::unique_lock exclusive(Mutex());
      SetThreadCount(threads);
      current_ = threads;
    }
    shared_ = std::shared_lock(Mutex());
  }

 private:
  static std::shared_mutex& Mutex() {
    static std::shared_mutex mutex;
    return mutex;
  }
  static inline std::atomic<std::int32_t> current_{0};
  std::shared_lock<std::shared_mutex> shared_;
};

// Progress for a call: the hook runs on the calling thread only; its false sets the
// stop flag the routines poll.
class HookProgress final : public Progress {
 public:
  HookProgress(const ProgressHook& hook, StopFlag* stop)
      : hook_(hook),
        stop_(stop ? *stop : own_),
        caller_(std::this_thread::get_id()),
        last_(Clock::now()) {}

  void ShowProgress(const std::string& stage, std::int32_t position,
                    std::int32_t maximum) override {
    if (std::this_thread::get_id() != caller_) return;
    stage_ = stage;
    fraction_ = maximum > 0 ? std::clamp(static_cast<double>(position) / maximum, 0.0, 1.0) : 0.0;
    Call();
  }

  // Polled often on the calling thread: the hook hears about ten times a second.
  bool StopRequested() override {
    if (std::this_thread::get_id() == caller_ && Clock::now() - last_ >= kPollInterval) Call();
    return stop_.load(std::memory_order_relaxed);
  }

  const StopFlag* SharedStopFlag() const override { return &stop_; }
  bool Stopped() const { return stop_.load(); }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kPollInterval = std::chrono::milliseconds(100);

  void Call() {
    last_ = Clock::now();
    if (hook_ && !stop_.load() && !hook_(fraction_, stage_)) stop_ = true;
  }

  const ProgressHook& hook_;
  StopFlag own_{false};
  StopFlag& stop_;  // the caller's flag, or own_
  std::thread::id caller_;
  Clock::time_point last_;
  std::string stage_;
  double fraction_ = 0.0;
};

// The input of a command: the view's picture, refused when it holds values that are
// not finite, prepared as the tool prepares a file's.
CommandInput InputOf(const ImageView& view, const char* what) {
  CheckView(view, what);
  Picture picture = PictureFromView(view);
  CheckProcessable(picture);
  return PrepareInput(std::move(picture));
}

Image RunEntry(const CommandEntry& entry, const ImageView& view, const Settings& settings,
               const CallOptions& options) {
  return Guard([&] {
    SettingInputs inputs;
    for (const auto& [name, value] : settings) inputs.emplace(name, value);
    const PreparedCommand prepared = entry.prepare(inputs, Spelling::kCallers);
    const ThreadScope threads(options.threads);
    const CommandInput input = InputOf(view, "image");
    MemoryFeatures features = prepared.features;
    features.alpha = input.alpha.HasImage();
    const std::uint64_t need =
        prepared.Estimate(features, input.Width(), input.Height(), InputBytes(input));
    try {
      CheckMemory(entry.name, need, SystemMemoryLimit());
    } catch (const FileError& e) {
      throw Error(Error::Kind::kMemory, e.what());
    }
    prepared.CheckSize(input.Width(), input.Height());
    HookProgress progress(options.progress, options.stop);
    const Picture result = prepared.work(input, progress);
    // A stopped command's result is incomplete, as the tool never writes one.
    if (progress.Stopped()) throw OperationStopped();
    return ImageFromPicture(result, view.type);
  });
}

void Put(Settings& settings, const char* name, const std::optional<double>& value) {
  if (value) settings[name] = *value;
}

// A choice: empty keeps the default.
void Put(Settings& settings, const char* name, const std::string& value) {
  if (!value.empty()) settings[name] = value;
}

void PutSize(Settings& s, const SizeSettings& size) {
  Put(s, "scale", size.scale);
  Put(s, "size", size.size);
}

void PutMask(Settings& s, const std::optional<EdgeMaskSettings>& mask) {
  if (!mask) return;
  s["mask"] = true;
  Put(s, "measure", mask->measure);
  Put(s, "mask-gauss", mask->maskGauss);
  Put(s, "filter-radius", mask->filterRadius);
  Put(s, "multiplier", mask->multiplier);
  Put(s, "noise-level", mask->noiseLevel);
  Put(s, "smooth", mask->smooth);
  Put(s, "dilation", mask->dilation);
  Put(s, "threshold", mask->threshold);
}

SettingInfo InfoOf(const CommandSetting& s) {
  SettingInfo info;
  info.name = s.flag;
  info.needs = s.needs;
  if (s.number) {
    const SettingDesc& d = *s.number;
    info.type = d.whole ? SettingInfo::Type::kWhole : SettingInfo::Type::kNumber;
    info.help = s.help.empty() ? d.help : s.help;
    info.minimum = d.minimum;
    info.maximum = d.maximum;
    info.exclusiveMinimum = d.exclusiveMinimum;
    info.defaultNumber = d.defaultValue;
    info.range = RangeText(d);
  } else if (s.choice) {
    const ChoiceDesc& c = *s.choice;
    info.type = s.isSwitch ? SettingInfo::Type::kSwitchOrChoice : SettingInfo::Type::kChoice;
    info.help = s.help.empty() ? c.help : s.help;
    const auto& names = c.names.empty() ? c.captions : c.names;
    info.choices.assign(names.begin(), names.end());
    if (!s.isSwitch && c.Contains(c.defaultIndex))
      info.defaultChoice = names[static_cast<std::size_t>(c.defaultIndex)];
  } else {
    info.type = s.isText ? SettingInfo::Type::kText : SettingInfo::Type::kSwitch;
    info.help = s.help;
  }
  return info;
}

const CommandEntry& EntryNamed(std::string_view name) {
  const CommandEntry* entry = FindCommand(name);
  if (!entry) Refuse("unknown command '" + std::string(name) + "'");
  return *entry;
}

}  // namespace

const char* Version() {
  return TVQ_VERSION_STRING;
}

std::size_t SampleBytes(SampleType type) {
  return type == SampleType::kUInt8 ? 1 : type == SampleType::kUInt16 ? 2 : 4;
}

Image::Image(std::int32_t width, std::int32_t height, std::int32_t channels, SampleType type)
    : width_(width), height_(height), channels_(channels), type_(type) {
  if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide || channels < 1 ||
      channels > 4)
    Refuse("an image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels of " +
           std::to_string(channels) + " channels cannot be made");
  // At most 65535^2 * 4 * 4 bytes: fits 64 bits.
  pixels_.resize(static_cast<std::size_t>(RowStride()) * static_cast<std::size_t>(height));
}

Image Image::Copy(const ImageView& view) {
  CheckView(view, "image");
  Image image(view.width, view.height, view.channels, view.type);
  const auto rowBytes = static_cast<std::size_t>(image.RowStride());
  for (std::int32_t y = 0; y < view.height; ++y) std::memcpy(image.Row(y), view.Row(y), rowBytes);
  if (view.iccSize > 0) image.icc.assign(view.icc, view.icc + view.iccSize);
  return image;
}

std::ptrdiff_t Image::RowStride() const {
  return static_cast<std::ptrdiff_t>(width_) * channels_ *
         static_cast<std::ptrdiff_t>(SampleBytes(type_));
}

ImageView Image::View() const {
  ImageView view;
  view.data = pixels_.data();
  view.width = width_;
  view.height = height_;
  view.channels = channels_;
  view.type = type_;
  view.rowStride = RowStride();
  view.icc = icc.data();
  view.iccSize = icc.size();
  return view;
}

Error::Error(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
Error::~Error() = default;

Image Read(const std::string& path, FileInfo* info, const ReadOptions& options) {
  return Guard([&] {
    DecodeLimits limits;
    if (options.maxPixels > 0) limits.maxPixels = options.maxPixels;
    Picture picture = ReadPicture(path, limits);
    if (info) {
      info->format = PictureFormatName(picture.format);
      info->width = picture.width;
      info->height = picture.height;
      info->channels = picture.channels;
      info->bitsPerChannel = picture.bitsPerChannel;
      info->alpha = picture.HasAlpha();
      info->orientation = picture.orientation;
      info->warnings = picture.warnings;
    }
    if (!picture.bitmap) {
      const SampleType type = picture.bitsPerChannel == 8    ? SampleType::kUInt8
                              : picture.bitsPerChannel == 16 ? SampleType::kUInt16
                                                             : SampleType::kFloat32;
      return ImageFromPicture(picture, type);
    }
    // BMP: the colours as every command reads them (palettes and bit fields resolved).
    std::vector<std::uint8_t> icc = picture.icc;
    const CommandInput input = PrepareInput(std::move(picture));
    TImageF4 colour;
    input.Source().Read(ifF4, colour);
    Image image(colour.Width(), colour.Height(), 3, SampleType::kUInt8);
    for (std::int32_t y = 0; y < colour.Height(); ++y) {
      const float* in = colour.Row(y);
      std::uint8_t* out = image.Row(y);
      for (std::int32_t x = 0; x < colour.Width(); ++x, in += 4, out += 3) {
        out[0] = ClampToByte(in[2]);
        out[1] = ClampToByte(in[1]);
        out[2] = ClampToByte(in[0]);
      }
    }
    image.icc = std::move(icc);
    return image;
  });
}

void Write(const std::string& path, const ImageView& image, const EncodeOptions& options) {
  Guard([&] {
    if (options.quality < 1 || options.quality > 100)
      Refuse("--quality: '" + std::to_string(options.quality) +
             "' is not a whole number from 1 to 100");
    CheckView(image, "image");
    Picture picture = PictureFromView(image);
    try {
      CheckProcessable(picture);
    } catch (const FileError& e) {
      throw FileError(path + ": " + e.what());
    }
    // Floats go into 16-bit samples where the format holds them (PFM: floats).
    if (picture.bitsPerChannel == 32) picture.bitsPerChannel = 16;
    WritePicture(picture, path, {.quality = options.quality});
  });
}

Image Resample(const ImageView& image, const ResampleOptions& o) {
  Settings s;
  Put(s, "stabilizer", o.stabilizer);
  Put(s, "init", o.init);
  Put(s, "convergence", o.convergence);
  Put(s, "step", o.step);
  Put(s, "factor", o.factor);
  Put(s, "iterations", o.iterations);
  Put(s, "maximum", o.maximum);
  Put(s, "min-factor", o.minFactor);
  Put(s, "thresh-min", o.threshMin);
  Put(s, "thresh-max", o.threshMax);
  Put(s, "btv-base", o.btvBase);
  Put(s, "gauss-radius", o.gaussRadius);
  Put(s, "norm", o.norm);
  if (o.fractal) s["fractal"] = true;
  PutSize(s, o);
  Put(s, "size-method", o.sizeMethod);
  if (o.dering) {
    s["dering"] = o.dering->method.empty() ? Setting(true) : Setting(o.dering->method);
    Put(s, "dering-initial", o.dering->initial);
    Put(s, "dering-iterations", o.dering->iterations);
    Put(s, "dering-factor", o.dering->factor);
  }
  PutMask(s, o.mask);
  return Run("resample", image, s, o);
}

Image Dering(const ImageView& image, const DeringOptions& o) {
  Settings s;
  Put(s, "method", o.method);
  Put(s, "initial", o.initial);
  Put(s, "iterations", o.iterations);
  Put(s, "factor", o.factor);
  PutMask(s, o.mask);
  return Run("dering", image, s, o);
}

Image EdgeMask(const ImageView& image, const EdgeMaskOptions& o) {
  Settings s;
  PutMask(s, EdgeMaskSettings(o));
  s.erase("mask");
  return Run("mask", image, s, o);
}

Image Upscale(const ImageView& image, const UpscaleOptions& o) {
  Settings s;
  if (!o.method.empty()) s["method"] = o.method;
  PutSize(s, o);
  return Run("upscale", image, s, o);
}

Image Resize(const ImageView& image, const ResizeOptions& o) {
  Settings s;
  PutSize(s, o);
  Put(s, "filter", o.filter);
  return Run("resize", image, s, o);
}

Image Downsample(const ImageView& image, const CallOptions& o) {
  return Run("downsample", image, {}, o);
}

Image AddNoise(const ImageView& image, const CallOptions& o) {
  return Run("noise", image, {}, o);
}

Image Greyscale(const ImageView& image, const CallOptions& o) {
  return Run("grey", image, {}, o);
}

Image Canny(const ImageView& image, const CannyOptions& o) {
  Settings s;
  Put(s, "sigma", o.sigma);
  return Run("canny", image, s, o);
}

Comparison Psnr(const ImageView& a, const ImageView& b, const PsnrOptions& options) {
  return Guard([&] {
    const ThreadScope threads(options.threads);
    const CommandInput inputA = InputOf(a, "first image");
    const CommandInput inputB = InputOf(b, "second image");
    TImageF greyA = ::tvq::Greyscale(inputA.Source());
    TImageF greyB = ::tvq::Greyscale(inputB.Source());
    if (options.crop) {
      const std::int32_t width = std::min(greyA.Width(), greyB.Width());
      const std::int32_t height = std::min(greyA.Height(), greyB.Height());
      for (TImageF* grey : {&greyA, &greyB}) {
        TImageDesc part = grey->GetDesc();
        part.width = width;
        part.height = height;
        TImageF view;
        view.Attach(part);
        *grey = view.Clone();
      }
    }
    if (greyA.Width() != greyB.Width() || greyA.Height() != greyB.Height())
      Refuse("dimensions must be equal (" + std::to_string(greyA.Width()) + "x" +
             std::to_string(greyA.Height()) + " against " + std::to_string(greyB.Width()) + "x" +
             std::to_string(greyB.Height()) + ")");
    const PsnrResult result = ComparePsnr(greyA, greyB);
    return Comparison{result.mse, result.psnr};
  });
}

CompareResult Compare(const ImageView& reference, const ImageView& test,
                      const CompareOptions& options) {
  return Guard([&] {
    if (options.shave < 0 || options.shave > 32767)
      Refuse("--shave: " + std::to_string(options.shave) + " is out of range: 0 to 32767");
    const ThreadScope threads(options.call.threads);
    const CommandInput inputA = InputOf(reference, "reference");
    const CommandInput inputB = InputOf(test, "test");
    TImageF4 colourA, colourB;
    inputA.Source().Read(ifF4, colourA);
    inputB.Source().Read(ifF4, colourB);
    const ComparedPictures c =
        ComparePictures(colourA, colourB, options.shave, options.crop, "the reference", "the test");
    const Metrics& m = c.metrics;
    CompareResult r;
    r.referenceWidth = c.widthA;
    r.referenceHeight = c.heightA;
    r.testWidth = c.widthB;
    r.testHeight = c.heightB;
    r.cropped = c.cropped;
    r.shave = c.options.shave;
    r.measuredWidth = m.width;
    r.measuredHeight = m.height;
    r.rgb = {m.rgb.mse, m.rgb.psnr};
    r.y = {m.y.mse, m.y.psnr};
    r.ssim = m.ssim;
    r.msSsim = m.msSsim;
    r.gmsd = m.gmsd;
    const EdgeBandOptions& e = c.options.edges;
    r.edge = {e.threshold,        e.inner,     e.outer,      m.edges.edgePixels,
              m.edges.bandPixels, m.edges.mse, m.edges.psnr, m.edges.overshoot};
    return r;
  });
}

const std::vector<CommandInfo>& Commands() {
  static const std::vector<CommandInfo> commands = [] {
    std::vector<CommandInfo> list;
    for (const CommandEntry& entry : CommandRegistry()) {
      CommandInfo info{entry.name, entry.summary, {}};
      for (const CommandSetting& s : entry.settings) info.settings.push_back(InfoOf(s));
      list.push_back(std::move(info));
    }
    return list;
  }();
  return commands;
}

Image Run(std::string_view command, const ImageView& image, const Settings& settings,
          const CallOptions& options) {
  return RunEntry(Guard([&]() -> const CommandEntry& { return EntryNamed(command); }), image,
                  settings, options);
}

}  // namespace v0
}  // namespace tvq
