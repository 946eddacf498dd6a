#include "cli/commands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iomanip>
#include <memory>
#include <new>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "cli/options.h"
#include "cli/terminal_progress.h"
#include "filters/canny.h"
#include "imaging/bitmap.h"
#include "imaging/bmpfile.h"
#include "imaging/imagefmt.h"
#include "imaging/pfmfile.h"
#include "utility/utility.h"

namespace tvq::cli {

namespace {

// A failure while processing a named file; printed as "tvq: error: <what>".
class ProcessingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Context {
  std::ostream& out;
  std::ostream& err;
  TerminalProgress& progress;
};

struct Command {
  std::string name;
  std::string synopsis;  // arguments after the command name
  std::string summary;
  std::vector<OptionSpec> options;
  std::size_t positional;  // number of required positional arguments
  std::function<void(const ParsedArgs&, Context&)> run;
};

bool EndsWith(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    const char c = text[text.size() - suffix.size() + i];
    if (std::tolower(static_cast<unsigned char>(c)) != suffix[i]) return false;
  }
  return true;
}

void CheckOutputName(const std::string& path) {
  if (!EndsWith(path, ".bmp") && !EndsWith(path, ".pfm"))
    throw UsageError("output '" + path + "' must end in .bmp or .pfm");
}

Bitmap LoadPicture(const std::string& path) {
  return ReadBmp(path);
}

// Runs `work`, turning library failures into one message naming the input.
template <typename Work>
auto Process(const std::string& input, Work work) {
  try {
    return work();
  } catch (const FileError&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw ProcessingError(input + ": not enough memory for this picture");
  } catch (const std::exception& e) {
    throw ProcessingError(input + ": " + e.what());
  }
}

// Writes a grey or colour float result: .pfm keeps the floats, .bmp stores a
// 32-bit picture with every channel rounded and clamped to bytes.
template <typename Image>
void WriteResult(const Image& image, const std::string& path) {
  if (EndsWith(path, ".pfm")) {
    WritePfm(image, path);
    return;
  }
  Bitmap bitmap;
  ImageToBitmap(image, bitmap);
  WriteBmp(bitmap, path);
}

std::string FormatNumber(double value) {
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

void RunInfo(const ParsedArgs& args, Context& ctx) {
  const std::string& path = args.Positional()[0];
  BmpInfo info{};
  const Bitmap bitmap = ReadBmp(path, &info);
  ctx.out << "file: " << path << "\n"
          << "width: " << info.width << "\n"
          << "height: " << info.height << "\n"
          << "bits per pixel: " << info.bitsPerPixel << "\n"
          << "header: " << info.headerType << "\n"
          << "compression: " << info.compression << "\n"
          << "rows: " << (info.topDown ? "top-down" : "bottom-up") << "\n"
          << "processable: "
          << (bitmap.BitsPerPixel() == 24 || bitmap.BitsPerPixel() == 32
                  ? "yes"
                  : "no (only 24-bit and 32-bit pictures can be processed)")
          << "\n";
}

void RunDownsample(const ParsedArgs& args, Context&) {
  const std::string& in = args.Positional()[0];
  const std::string& outPath = args.Positional()[1];
  CheckOutputName(outPath);
  const Bitmap picture = LoadPicture(in);
  const DownsampleResult result = Process(in, [&] { return Downsample(picture); });
  WriteResult(result.halved, outPath);
}

void RunNoise(const ParsedArgs& args, Context&) {
  const std::string& in = args.Positional()[0];
  const std::string& outPath = args.Positional()[1];
  CheckOutputName(outPath);
  const Bitmap picture = LoadPicture(in);
  NoiseGenerator generator;
  const TImageF noisy = Process(in, [&] { return AddGaussianNoise(picture, generator); });
  WriteResult(noisy, outPath);
}

void RunGrey(const ParsedArgs& args, Context&) {
  const std::string& in = args.Positional()[0];
  const std::string& outPath = args.Positional()[1];
  CheckOutputName(outPath);
  const Bitmap picture = LoadPicture(in);
  const TImageF grey = Process(in, [&] { return Greyscale(picture); });
  WriteResult(grey, outPath);
}

// The top-left part of image of at most width x height pixels.
TImageF CropTopLeft(const TImageF& image, std::int32_t width, std::int32_t height) {
  TImageDesc part = image.GetDesc();
  part.width = std::min(part.width, width);
  part.height = std::min(part.height, height);
  TImageF view;
  view.Attach(part);
  return view.Clone();
}

void RunPsnr(const ParsedArgs& args, Context& ctx) {
  const std::string& pathA = args.Positional()[0];
  const std::string& pathB = args.Positional()[1];
  const Bitmap a = LoadPicture(pathA);
  const Bitmap b = LoadPicture(pathB);
  TImageF greyA = Process(pathA, [&] { return GreyOf(a); });
  TImageF greyB = Process(pathB, [&] { return GreyOf(b); });
  if (args.Has("crop")) {
    greyA = CropTopLeft(greyA, greyB.Width(), greyB.Height());
    greyB = CropTopLeft(greyB, greyA.Width(), greyA.Height());
  }
  if (greyA.Width() != greyB.Width() || greyA.Height() != greyB.Height())
    throw ProcessingError(pathA + " and " + pathB + ": dimensions must be equal (" +
                          std::to_string(greyA.Width()) + "x" + std::to_string(greyA.Height()) +
                          " against " + std::to_string(greyB.Width()) + "x" +
                          std::to_string(greyB.Height()) + ")");
  const PsnrResult result = ComparePsnr(greyA, greyB);
  ctx.out << "MSE = " << FormatNumber(result.mse) << "\n"
          << "PSNR = " << FormatNumber(result.psnr) << "\n";
}

void RunCanny(const ParsedArgs& args, Context&) {
  const std::string& in = args.Positional()[0];
  const std::string& outPath = args.Positional()[1];
  CheckOutputName(outPath);
  const double sigma = args.Number("sigma", 1.5);
  if (!(sigma > 0.0) || sigma > 100.0) throw UsageError("--sigma must lie in (0, 100]");
  const Bitmap picture = LoadPicture(in);
  const TImageF edges = Process(in, [&] {
    // Read as four floats so that 24-bit pictures work too, then to bytes.
    TImageF4 colour;
    ImageFromBitmap(picture, ifF4, colour);
    TImageC4 bytes(colour.Width(), colour.Height());
    ConvertPixels(colour.GetDesc(), bytes.GetDesc());
    TImageB mask(colour.Width(), colour.Height());
    CannyEdgeMap(bytes, mask, sigma);
    TImageF grey(mask.Width(), mask.Height());
    for (std::int32_t y = 0; y < mask.Height(); ++y)
      for (std::int32_t x = 0; x < mask.Width(); ++x)
        grey.Row(y)[x] = mask.Row(y)[x] ? 255.0f : 0.0f;
    return grey;
  });
  WriteResult(edges, outPath);
}

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"info",
       "IN",
       "print the size, depth, header type and compression of a BMP file",
       {},
       1,
       RunInfo},
      {"downsample", "IN OUT", "halve the picture after an anti-alias blur", {}, 2, RunDownsample},
      {"noise",
       "IN OUT",
       "add Gaussian noise (deviation 5) to the grey picture; the generator starts from the same "
       "state on every run",
       {},
       2,
       RunNoise},
      {"grey", "IN OUT", "convert the picture to grey levels", {}, 2, RunGrey},
      {"psnr",
       "A B",
       "print the MSE and PSNR between the grey levels of two pictures",
       {{"crop", "", "compare only the top-left part both pictures share"}},
       2,
       RunPsnr},
      {"canny",
       "IN OUT",
       "mark edges (255) with a Canny-style detector",
       {{"sigma", "S", "smoothing of the derivative filters (default 1.5)"}},
       2,
       RunCanny},
  };
  return commands;
}

const std::vector<OptionSpec> kCommonOptions = {
    {"help", "", "show this help"},
    {"quiet", "", "do not draw the progress bar"},
};

void PrintToolHelp(std::ostream& out) {
  out << "Usage: tvq COMMAND [options] ARGS...\n\n"
         "Enlarges pictures two times by super-resolution and removes ringing beside edges.\n"
         "IN is a BMP file. OUT ending in .bmp is written as a 32-bit BMP; ending in .pfm it\n"
         "holds the float result before rounding to bytes.\n\nCommands:\n";
  for (const auto& c : Commands())
    out << "  " << std::left << std::setw(12) << c.name << c.summary << "\n";
  out << "\nRun 'tvq COMMAND --help' for the options of a command.\n";
}

void PrintCommandHelp(const Command& c, std::ostream& out) {
  out << "Usage: tvq " << c.name << " [options] " << c.synopsis << "\n\n" << c.summary << "\n\n";
  out << "Options:\n";
  auto print = [&out](const OptionSpec& o) {
    std::string left = "--" + o.name + (o.valueName.empty() ? "" : " " + o.valueName);
    out << "  " << std::left << std::setw(26) << left << o.help << "\n";
  };
  for (const auto& o : c.options) print(o);
  for (const auto& o : kCommonOptions) print(o);
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintToolHelp(args.empty() ? err : out);
    return args.empty() ? 2 : 0;
  }
  const Command* command = nullptr;
  for (const auto& c : Commands())
    if (c.name == args[0]) command = &c;
  if (!command) {
    err << "tvq: unknown command '" << args[0] << "'\nRun 'tvq --help' for the list.\n";
    return 2;
  }
  try {
    std::vector<OptionSpec> specs = command->options;
    specs.insert(specs.end(), kCommonOptions.begin(), kCommonOptions.end());
    const ParsedArgs parsed = ParseArgs({args.begin() + 1, args.end()}, specs);
    if (parsed.Has("help")) {
      PrintCommandHelp(*command, out);
      return 0;
    }
    if (parsed.Positional().size() != command->positional)
      throw UsageError("expected " + command->synopsis + ", got " +
                       std::to_string(parsed.Positional().size()) + " argument(s)");
    TerminalProgress progress(parsed.Has("quiet"));
    Context ctx{out, err, progress};
    try {
      command->run(parsed, ctx);
    } catch (...) {
      progress.Finish();
      throw;
    }
    progress.Finish();
    if (progress.StopRequested()) {
      err << "tvq: stopped early; the result so far was written\n";
      return 130;
    }
    return 0;
  } catch (const UsageError& e) {
    err << "tvq " << command->name << ": " << e.what() << "\nRun 'tvq " << command->name
        << " --help' for usage.\n";
    return 2;
  } catch (const FileError& e) {
    err << "tvq: error: " << e.what() << "\n";
    return 1;
  } catch (const ProcessingError& e) {
    err << "tvq: error: " << e.what() << "\n";
    return 1;
  } catch (const std::bad_alloc&) {
    err << "tvq: error: not enough memory\n";
    return 1;
  } catch (const std::exception& e) {
    err << "tvq: error: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace tvq::cli
