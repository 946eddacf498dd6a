// The public API against the command-line tool: for every command, on pictures of each
// sample type, with and without alpha, grey and colour, the bytes the API writes equal
// the tool's; plus the sample-type rules, views with strides, errors and progress.
// Uses only the installed header and libtvq; the tool runs as a child process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tvq/tvq.hpp"

namespace {

namespace fs = std::filesystem;

std::string Quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

struct ToolResult {
  int status;
  std::string out;  // stdout and stderr together
};

ToolResult RunTool(const std::vector<std::string>& args) {
  std::string line = Quote(TVQ_BINARY);
  for (const auto& a : args) line += " " + Quote(a);
  FILE* pipe = popen((line + " 2>&1").c_str(), "r");
  std::string out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  return {pclose(pipe), out};
}

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class TempDir {
 public:
  TempDir() : path_(fs::temp_directory_path() / ("tvq_api_test_" + std::to_string(getpid()))) {
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// A picture with edges, a gradient and, with alpha, a transparent corner: sample value
// v (0..255) of pixel (x, y), channel c.
double Pattern(std::int32_t x, std::int32_t y, std::int32_t c, std::int32_t channels) {
  const bool alpha = channels == 2 || channels == 4;
  if (alpha && c == channels - 1) return x < 6 && y < 5 ? 0.0 : (x + y < 20 ? 128.0 : 255.0);
  const double edge = (x > 12 && x < 25 && y > 8) ? 180.0 : 40.0;
  return std::fmod(edge + 3.0 * x + 2.0 * y + 30.0 * c, 256.0);
}

tvq::Image MakeImage(std::int32_t width, std::int32_t height, std::int32_t channels,
                     tvq::SampleType type) {
  tvq::Image image(width, height, channels, type);
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width; ++x)
      for (std::int32_t c = 0; c < channels; ++c) {
        const double v = Pattern(x, y, c, channels);
        const std::size_t i = static_cast<std::size_t>(x) * channels + c;
        if (type == tvq::SampleType::kUInt8) {
          image.Row(y)[i] = static_cast<std::uint8_t>(v);
        } else if (type == tvq::SampleType::kUInt16) {
          const auto w = static_cast<std::uint16_t>(v * 257 + (c == 0 ? 100 : 0));
          std::memcpy(image.Row(y) + 2 * i, &w, 2);
        } else {
          const auto f = static_cast<float>(v + (c == 0 ? 0.25 : 0.0));
          std::memcpy(image.Row(y) + 4 * i, &f, 4);
        }
      }
  return image;
}

// The input files: 8-bit RGB, grey and grey with alpha PNG, 16-bit RGBA PNG with
// transparency, float PFM and 24-bit BMP.
struct Input {
  const char* name;
  std::int32_t channels;
  tvq::SampleType type;
};
const Input kInputs[] = {
    {"rgb8.png", 3, tvq::SampleType::kUInt8},   {"grey8.png", 1, tvq::SampleType::kUInt8},
    {"greya8.png", 2, tvq::SampleType::kUInt8}, {"rgba16.png", 4, tvq::SampleType::kUInt16},
    {"rgb.pfm", 3, tvq::SampleType::kFloat32},  {"rgb.bmp", 3, tvq::SampleType::kUInt8},
};

tvq::Image UpscaleBy(const tvq::ImageView& image, const char* method) {
  tvq::UpscaleOptions options{};
  options.method = method;
  return tvq::Upscale(image, options);
}

using ApiCall = std::function<tvq::Image(const tvq::ImageView&)>;
struct CommandCase {
  std::string command;
  std::vector<std::string> flags;
  ApiCall call;
};

std::vector<CommandCase> Cases() {
  return {
      {"resample",
       {"--iterations", "4"},
       [](const tvq::ImageView& v) {
         tvq::ResampleOptions o{};
         o.iterations = 4;
         return tvq::Resample(v, o);
       }},
      {"resample",
       {"--iterations", "3", "--stabilizer", "laplace", "--dering", "Global, modified", "--mask",
        "--threshold", "20"},
       [](const tvq::ImageView& v) {
         tvq::ResampleOptions o{};
         o.iterations = 3;
         o.stabilizer = "laplace";
         o.dering = tvq::DeringSettings{.method = "Global, modified"};
         o.mask = tvq::EdgeMaskSettings{.threshold = 20};
         return tvq::Resample(v, o);
       }},
      {"dering",
       {"--method", "5", "--iterations", "50"},
       [](const tvq::ImageView& v) {
         tvq::DeringOptions o{};
         o.method = "5";
         o.iterations = 50;
         return tvq::Dering(v, o);
       }},
      {"dering",
       {"--mask", "--dilation", "1"},
       [](const tvq::ImageView& v) {
         tvq::DeringOptions o{};
         o.mask = tvq::EdgeMaskSettings{.dilation = 1};
         return tvq::Dering(v, o);
       }},
      {"mask",
       {"--smooth", "1.5"},
       [](const tvq::ImageView& v) {
         tvq::EdgeMaskOptions o{};
         o.smooth = 1.5;
         return tvq::EdgeMask(v, o);
       }},
      {"upscale",
       {"--method", "nedi"},
       [](const tvq::ImageView& v) { return UpscaleBy(v, "nedi"); }},
      {"upscale",
       {"--method", "gradient-color"},
       [](const tvq::ImageView& v) { return UpscaleBy(v, "gradient-color"); }},
      {"upscale",
       {"--method", "directional"},
       [](const tvq::ImageView& v) { return UpscaleBy(v, "directional"); }},
      {"downsample", {}, [](const tvq::ImageView& v) { return tvq::Downsample(v); }},
      {"noise", {}, [](const tvq::ImageView& v) { return tvq::AddNoise(v); }},
      {"grey", {}, [](const tvq::ImageView& v) { return tvq::Greyscale(v); }},
      {"canny",
       {"--sigma", "2"},
       [](const tvq::ImageView& v) {
         tvq::CannyOptions o{};
         o.sigma = 2;
         return tvq::Canny(v, o);
       }},
  };
}

// Each input file in dir, written through the API.
void WriteInputs(const TempDir& dir) {
  for (const Input& input : kInputs)
    tvq::Write(dir / input.name, MakeImage(37, 29, input.channels, input.type));
}

TEST(ApiTest, EveryCommandWritesTheToolsBytes) {
  const TempDir dir;
  WriteInputs(dir);
  for (const CommandCase& c : Cases()) {
    for (const Input& input : kInputs) {
      std::string flags;
      for (const auto& f : c.flags) flags += " " + f;
      SCOPED_TRACE(c.command + flags + " on " + input.name);
      const std::string extension = fs::path(input.name).extension().string();
      const std::string toolOut = dir / ("tool" + extension);
      const std::string apiOut = dir / ("api" + extension);
      std::vector<std::string> args = {c.command};
      args.insert(args.end(), c.flags.begin(), c.flags.end());
      args.push_back(dir / input.name);
      args.push_back(toolOut);
      const ToolResult tool = RunTool(args);
      ASSERT_EQ(tool.status, 0) << tool.out;
      const tvq::Image image = tvq::Read(dir / input.name);
      tvq::Write(apiOut, c.call(image));
      EXPECT_EQ(Bytes(apiOut), Bytes(toolOut));
    }
  }
}

// A value of the setting other than its default, in range: as the tool's text and as
// the API's value. Switches are turned on; a choice takes its next item.
std::pair<std::string, tvq::Setting> OtherValue(const tvq::SettingInfo& s) {
  using Type = tvq::SettingInfo::Type;
  if (s.type == Type::kSwitch) return {"", true};
  if (s.type == Type::kSwitchOrChoice) return {"3", 3.0};
  if (s.type == Type::kText) return {"40x", "40x"};  // --size: a geometry
  if (s.type == Type::kChoice) {
    std::size_t next = 1;
    for (std::size_t i = 0; i < s.choices.size(); ++i)
      if (s.defaultChoice == s.choices[i]) next = (i + 1) % s.choices.size();
    return {s.choices[next], s.choices[next]};
  }
  // Half the default where that lies in range (the resample factor must stay at most 1
  // with the default convergence), else a step beside it, else the middle of the range.
  const double d = *s.defaultNumber;
  double v = (s.minimum + s.maximum) / 2;
  for (double candidate : {d / 2, d + 1, d - 1}) {
    if (s.type == Type::kWhole) candidate = std::floor(candidate);
    const bool above = s.exclusiveMinimum ? candidate > s.minimum : candidate >= s.minimum;
    if (candidate != d && above && candidate <= s.maximum) {
      v = candidate;
      break;
    }
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  return {text, v};
}

// Every setting of every command, set away from its default alone (with the switch it
// needs), gives the tool's bytes: each descriptor reaches its own field.
TEST(ApiTest, EverySettingGivesTheToolsBytes) {
  const TempDir dir;
  tvq::Write(dir / "in.png", MakeImage(24, 20, 3, tvq::SampleType::kUInt8));
  const tvq::Image image = tvq::Read(dir / "in.png");
  for (const tvq::CommandInfo& command : tvq::Commands()) {
    for (const tvq::SettingInfo& setting : command.settings) {
      SCOPED_TRACE(command.name + " --" + setting.name);
      std::vector<std::string> args = {command.name};
      tvq::Settings settings;
      const auto add = [&](const std::string& name, const std::string& text,
                           const tvq::Setting& value) {
        args.push_back("--" + name);
        if (!text.empty()) args.push_back(text);
        settings[name] = value;
      };
      const auto [text, value] = OtherValue(setting);
      add(setting.name, text, value);
      if (setting.needs == "mask") add("mask", "", true);
      if (setting.needs == "dering or mask") add("dering", "0", 0.0);
      if (command.name == "resample") add("iterations", "3", 3.0);
      if (command.name == "upscale" && setting.name != "method") add("method", "nedi", "nedi");
      // The size method needs a size; resize needs one, a reduction here.
      if (setting.name == "size-method") add("scale", "2.5", 2.5);
      if (command.name == "resize" && setting.name == "filter") add("scale", "0.6", 0.6);
      args.push_back(dir / "in.png");
      args.push_back(dir / "tool.png");
      const ToolResult tool = RunTool(args);
      ASSERT_EQ(tool.status, 0) << tool.out;
      tvq::Write(dir / "api.png", tvq::Run(command.name, image, settings));
      EXPECT_EQ(Bytes(dir / "api.png"), Bytes(dir / "tool.png"));
    }
  }
}

TEST(ApiTest, PsnrGivesTheToolsNumbers) {
  const TempDir dir;
  WriteInputs(dir);
  const tvq::Image a = tvq::Read(dir / "rgb8.png");
  const tvq::Image b = tvq::AddNoise(a);
  tvq::Write(dir / "b.png", b);
  const tvq::Comparison c = tvq::Psnr(a, b);
  char expected[128];
  std::snprintf(expected, sizeof expected, "MSE = %.15g\nPSNR = %.15g\n", c.mse, c.psnr);
  const ToolResult tool = RunTool({"psnr", dir / "rgb8.png", dir / "b.png"});
  EXPECT_EQ(tool.out, expected);
  EXPECT_TRUE(std::isinf(tvq::Psnr(a, a).psnr));
}

// One picture as bytes, words and floats: the result of each type is the same float
// result stored by the type's rule.
TEST(ApiTest, ResultsKeepTheInputsSampleType) {
  const tvq::Image bytes = MakeImage(20, 17, 3, tvq::SampleType::kUInt8);
  tvq::Image words(20, 17, 3, tvq::SampleType::kUInt16);
  tvq::Image floats(20, 17, 3, tvq::SampleType::kFloat32);
  for (std::int32_t y = 0; y < 17; ++y)
    for (std::size_t i = 0; i < 60; ++i) {
      const std::uint8_t v = bytes.Row(y)[i];
      const auto w = static_cast<std::uint16_t>(v * 257);
      const auto f = static_cast<float>(v);
      std::memcpy(words.Row(y) + 2 * i, &w, 2);
      std::memcpy(floats.Row(y) + 4 * i, &f, 4);
    }
  const tvq::Image r8 = tvq::Dering(bytes), r16 = tvq::Dering(words), rf = tvq::Dering(floats);
  ASSERT_EQ(r8.Type(), tvq::SampleType::kUInt8);
  ASSERT_EQ(r16.Type(), tvq::SampleType::kUInt16);
  ASSERT_EQ(rf.Type(), tvq::SampleType::kFloat32);
  for (std::int32_t y = 0; y < 17; ++y)
    for (std::size_t i = 0; i < 60; ++i) {
      float f;
      std::uint16_t w;
      std::memcpy(&f, rf.Row(y) + 4 * i, 4);
      std::memcpy(&w, r16.Row(y) + 2 * i, 2);
      const double clamped = std::clamp(static_cast<double>(f), 0.0, 255.0);
      ASSERT_EQ(r8.Row(y)[i], static_cast<std::uint8_t>(clamped + 0.5)) << y << " " << i;
      ASSERT_EQ(w, static_cast<std::uint16_t>(clamped * 257.0 + 0.5)) << y << " " << i;
    }
}

// Padded rows and bottom-up rows give the packed picture's result.
TEST(ApiTest, StridedViewsGiveThePackedResult) {
  const tvq::Image packed = MakeImage(23, 11, 4, tvq::SampleType::kUInt8);
  const std::ptrdiff_t row = packed.RowStride();
  std::vector<std::uint8_t> padded(static_cast<std::size_t>(row + 9) * 11);
  std::vector<std::uint8_t> flipped(static_cast<std::size_t>(row) * 11);
  for (std::int32_t y = 0; y < 11; ++y) {
    std::memcpy(padded.data() + y * (row + 9), packed.Row(y), row);
    std::memcpy(flipped.data() + (10 - y) * row, packed.Row(y), row);
  }
  tvq::ImageView view = packed.View();
  const tvq::Image expected = tvq::Resample(view, {});
  view.data = padded.data();
  view.rowStride = row + 9;
  const tvq::Image fromPadded = tvq::Resample(view, {});
  view.data = flipped.data() + 10 * row;
  view.rowStride = -row;
  const tvq::Image fromFlipped = tvq::Resample(view, {});
  ASSERT_EQ(expected.SizeBytes(), fromPadded.SizeBytes());
  EXPECT_EQ(0, std::memcmp(expected.Data(), fromPadded.Data(), expected.SizeBytes()));
  EXPECT_EQ(0, std::memcmp(expected.Data(), fromFlipped.Data(), expected.SizeBytes()));
}

tvq::Error::Kind KindOf(const std::function<void()>& call, std::string* message = nullptr) {
  try {
    call();
  } catch (const tvq::Error& e) {
    if (message) *message = e.what();
    return e.kind();
  }
  ADD_FAILURE() << "no tvq::Error";
  return tvq::Error::Kind::kFile;
}

TEST(ApiTest, ErrorsHaveTheirKindAndTheToolsMessage) {
  using Kind = tvq::Error::Kind;
  const TempDir dir;
  WriteInputs(dir);
  const tvq::Image image = MakeImage(9, 8, 3, tvq::SampleType::kUInt8);
  // Out of range, the tool's message.
  for (const auto& [flags, settings] :
       std::vector<std::pair<std::vector<std::string>, tvq::Settings>>{
           {{"resample", "--step", "2000"}, {{"step", 2000.0}}},
           {{"resample", "--iterations", "2.5"}, {{"iterations", 2.5}}},
           {{"resample", "--stabilizer", "foo"}, {{"stabilizer", std::string("foo")}}},
           {{"resample", "--convergence", "exponential", "--factor", "2"}, {{"factor", 2.0}}},
           {{"resample", "--dering-factor", "2"}, {{"dering-factor", 2.0}}},
           {{"dering", "--threshold", "20"}, {{"threshold", 20.0}}},
           {{"dering", "--method", "99"}, {{"method", 99.0}}},
           {{"upscale"}, {}},
       }) {
    std::string message;
    EXPECT_EQ(Kind::kSetting, KindOf([&] { tvq::Run(flags[0], image, settings); }, &message));
    std::vector<std::string> args = flags;
    args.push_back(dir / "rgb8.png");
    args.push_back(dir / "out.png");
    const ToolResult tool = RunTool(args);
    EXPECT_NE(tool.out.find(": " + message + "\n"), std::string::npos)
        << "API: " << message << "\ntool: " << tool.out;
  }
  // Bad views, files, values that are not finite, a stop.
  tvq::ImageView bad = image.View();
  bad.channels = 5;
  EXPECT_EQ(Kind::kSetting, KindOf([&] { tvq::Greyscale(bad); }));
  EXPECT_EQ(Kind::kSetting, KindOf([&] { tvq::Greyscale(tvq::ImageView{}); }));
  bad = image.View();
  bad.rowStride = 5;
  EXPECT_EQ(Kind::kSetting, KindOf([&] { tvq::Greyscale(bad); }));
  std::string message;
  EXPECT_EQ(Kind::kFile, KindOf([&] { tvq::Read(dir / "missing.png"); }, &message));
  EXPECT_EQ(message.rfind(dir / "missing.png: ", 0), 0u) << message;
  EXPECT_EQ(Kind::kFile, KindOf([&] { tvq::Write(dir / "out.xyz", image); }));
  tvq::Image nan = MakeImage(9, 8, 1, tvq::SampleType::kFloat32);
  const float notANumber = std::numeric_limits<float>::quiet_NaN();
  std::memcpy(nan.Row(5) + 4 * 3, &notANumber, 4);
  EXPECT_EQ(Kind::kFile, KindOf([&] { tvq::Greyscale(nan); }, &message));
  EXPECT_EQ(message,
            "the picture holds values that are not finite (NaN or infinity), the first at pixel "
            "(3, 5)");
  tvq::ResampleOptions stop{};
  stop.progress = [](double, std::string_view) { return false; };
  EXPECT_EQ(Kind::kStopped, KindOf([&] { tvq::Resample(image, stop); }));
}

TEST(ApiTest, ProgressRunsOnTheCallingThreadAndStops) {
  const tvq::Image image = MakeImage(64, 48, 3, tvq::SampleType::kUInt8);
  const std::thread::id caller = std::this_thread::get_id();
  std::vector<double> fractions;
  std::vector<std::string> stages;
  tvq::ResampleOptions o{};
  o.threads = 2;
  o.iterations = 10;
  o.progress = [&](double fraction, std::string_view stage) {
    EXPECT_EQ(std::this_thread::get_id(), caller);
    fractions.push_back(fraction);
    stages.emplace_back(stage);
    return true;
  };
  tvq::Resample(image, o);
  ASSERT_FALSE(fractions.empty());
  for (double f : fractions) EXPECT_TRUE(f >= 0.0 && f <= 1.0) << f;
  EXPECT_NE(std::find(stages.begin(), stages.end(), "Iterations [5]"), stages.end());
  // Stopped in the iterations: no result.
  int calls = 0;
  o.progress = [&](double, std::string_view stage) {
    ++calls;
    return stage.find("Iterations") == std::string_view::npos;
  };
  EXPECT_THROW(tvq::Resample(image, o), tvq::Error);
  EXPECT_LT(calls, static_cast<int>(fractions.size()));
  // The caller's flag, set from another thread, stops a run of 100000 iterations.
  std::atomic<bool> stop{false};
  o.stop = &stop;
  o.progress = {};
  o.iterations = 100000;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(tvq::Error::Kind::kStopped, KindOf([&] { tvq::Resample(image, o); }));
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(ApiTest, CommandsDescribeTheirSettings) {
  EXPECT_STREQ(tvq::Version(), TVQ_VERSION_STRING);
  const tvq::CommandInfo* resample = nullptr;
  for (const auto& c : tvq::Commands())
    if (c.name == "resample") resample = &c;
  ASSERT_NE(resample, nullptr);
  const auto find = [&](const std::string& name) {
    for (const auto& s : resample->settings)
      if (s.name == name) return s;
    ADD_FAILURE() << name;
    return tvq::SettingInfo{};
  };
  EXPECT_EQ(find("iterations").type, tvq::SettingInfo::Type::kWhole);
  EXPECT_EQ(find("iterations").defaultNumber, 40.0);
  EXPECT_EQ(find("iterations").range, "0 to 100000");
  EXPECT_EQ(find("stabilizer").defaultChoice, "btv3");
  EXPECT_EQ(find("dering-factor").needs, "dering or mask");
  EXPECT_EQ(find("fractal").type, tvq::SettingInfo::Type::kSwitch);
}

}  // namespace
