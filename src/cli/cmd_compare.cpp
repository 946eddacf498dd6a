// The compare command: every quality measure of a picture against a reference
// (utility/metrics.h), as a table or one JSON object, and the difference map.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <sstream>
#include <string>

#include "cli/command.h"
#include "cli/failure.h"
#include "cli/picturecommand.h"
#include "imaging/errors.h"
#include "imaging/io/fileio.h"
#include "imaging/io/picture.h"
#include "utility/metrics.h"

namespace tvq::cli {

namespace {

// Full colour of the difference map unless --diff-scale says otherwise: 32 levels of
// luma, eight times the 0..255 range, so that the faint errors of a good enlargement
// stay visible and maps of different methods compare at one scale.
constexpr double kDiffScale = 32.0;

TImageF4 ReadColour(const CommandInput& input) {
  TImageF4 colour;
  input.Source().Read(ifF4, colour);
  return colour;
}

std::string Fixed(double value, int decimals) {
  if (std::isnan(value)) return "n/a";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// A JSON number that reads back as the same double; null for NaN and the infinities
// (PSNR of identical pictures: their MSE, 0, says so).
std::string JsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// The measures (commands/registry.h) and the paths of the pictures.
struct Compared : ComparedPictures {
  std::string pathA, pathB;
};

void PrintJson(const Compared& c, const std::string& diff, double diffScale, std::ostream& out) {
  const Metrics& m = c.metrics;
  out << "{\"reference\": " << JsonString(c.pathA) << ", \"test\": " << JsonString(c.pathB)
      << ", \"reference_size\": [" << c.widthA << ", " << c.heightA << "], \"test_size\": ["
      << c.widthB << ", " << c.heightB << "], \"cropped\": " << (c.cropped ? "true" : "false")
      << ", \"shave\": " << c.options.shave << ", \"measured_size\": [" << m.width << ", "
      << m.height << "], \"mse_rgb\": " << JsonNumber(m.rgb.mse)
      << ", \"psnr_rgb\": " << JsonNumber(m.rgb.psnr) << ", \"mse_y\": " << JsonNumber(m.y.mse)
      << ", \"psnr_y\": " << JsonNumber(m.y.psnr) << ", \"ssim\": " << JsonNumber(m.ssim)
      << ", \"ms_ssim\": " << JsonNumber(m.msSsim) << ", \"gmsd\": " << JsonNumber(m.gmsd)
      << ", \"edge\": {\"threshold\": " << JsonNumber(c.options.edges.threshold) << ", \"band\": ["
      << c.options.edges.inner << ", " << c.options.edges.outer
      << "], \"edge_pixels\": " << m.edges.edgePixels << ", \"band_pixels\": " << m.edges.bandPixels
      << ", \"mse_y\": " << JsonNumber(m.edges.mse) << ", \"psnr_y\": " << JsonNumber(m.edges.psnr)
      << ", \"overshoot\": " << JsonNumber(m.edges.overshoot) << "}";
  if (!diff.empty())
    out << ", \"diff\": {\"file\": " << JsonString(diff)
        << ", \"full_scale\": " << JsonNumber(diffScale) << "}";
  out << "}\n";
}

void PrintTable(const Compared& c, const std::string& diff, double diffScale, std::ostream& out) {
  const Metrics& m = c.metrics;
  const EdgeBandOptions& e = c.options.edges;
  std::ostringstream band;
  band << e.inner << " to " << e.outer << " px from edges, " << m.edges.bandPixels << " pixels";
  out << "reference: " << Printable(c.pathA) << " (" << c.widthA << "x" << c.heightA << ")\n"
      << "test:      " << Printable(c.pathB) << " (" << c.widthB << "x" << c.heightB << ")\n"
      << "measured:  " << m.width << "x" << m.height
      << (c.cropped ? ", the common top-left part" : "") << ", border of " << c.options.shave
      << " shaved\n\n"
      << "PSNR RGB       " << Fixed(m.rgb.psnr, 4) << " dB (MSE " << Fixed(m.rgb.mse, 4) << ")\n"
      << "PSNR Y         " << Fixed(m.y.psnr, 4) << " dB (MSE " << Fixed(m.y.mse, 4)
      << "; BT.601 luma, 16..235)\n"
      << "SSIM Y         " << Fixed(m.ssim, 6) << "\n"
      << "MS-SSIM Y      " << Fixed(m.msSsim, 6) << "\n"
      << "GMSD Y         " << Fixed(m.gmsd, 6) << " (0 for identical pictures)\n"
      << "Edge PSNR Y    " << Fixed(m.edges.psnr, 4) << " dB (" << band.str() << ")\n"
      << "Edge overshoot " << Fixed(m.edges.overshoot, 4)
      << " levels beyond the reference's 5x5 range (edges: Sobel gradient above "
      << Fixed(e.threshold, 0) << " levels per pixel)\n";
  if (!diff.empty())
    out << "\ndifference map: " << Printable(diff) << " (|Y difference| 0 to "
        << Fixed(diffScale, 0) << " levels as viridis, dark blue to yellow)\n";
}

void RunCompare(const ParsedArgs& args, Context& ctx) {
  const std::string& pathA = args.Positional()[0];
  const std::string& pathB = args.Positional()[1];
  const int shave = args.Integer("shave", 0);
  if (shave < 0 || shave > 32767)
    throw UsageError("--shave: " + std::to_string(shave) + " is out of range: 0 to 32767");
  const double diffScale = args.Number("diff-scale", kDiffScale);
  if (!(diffScale > 0.0) || diffScale > 255.0)
    throw UsageError("--diff-scale: the range is above 0 to 255");
  const std::string diff = args.Text("diff").value_or("");
  if (!diff.empty()) {
    if (!FormatFromExtension(diff)) {
      std::string list;
      for (const std::string& ext : PictureExtensions()) list += (list.empty() ? "" : " ") + ext;
      throw UsageError("--diff: '" + diff + "' must end in one of " + list);
    }
    CheckWritable(diff);
  }
  const DecodeLimits limits = DecodeLimitsFrom(args);
  auto warn = [&](const std::string& line) { ctx.err << Printable(line) << "\n"; };
  const CommandInput a = LoadInput(pathA, limits, warn);
  const CommandInput b = LoadInput(pathB, limits, warn);
  const TImageF4 colourA = Process(pathA, [&] { return ReadColour(a); });
  const TImageF4 colourB = Process(pathB, [&] { return ReadColour(b); });
  Compared c{ComparePictures(colourA, colourB, shave, args.Has("crop"), pathA, pathB), pathA,
             pathB};
  const std::int32_t w = c.partA.Width();
  const std::int32_t h = c.partA.Height();
  if (!diff.empty()) {
    const TImageF4 map = DifferenceMap(Luma(c.partA), Luma(c.partB), diffScale);
    Picture picture;
    picture.width = w;
    picture.height = h;
    picture.channels = 3;
    picture.samples.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
    for (std::int32_t y = 0; y < h; ++y)
      for (std::int32_t x = 0; x < w; ++x)
        for (int k = 0; k < 3; ++k)
          picture.samples[(static_cast<std::size_t>(y) * w + x) * 3 + k] =
              map.Row(y)[4 * x + 2 - k];
    WritePicture(picture, diff);
  }
  if (args.Has("json"))
    PrintJson(c, diff, diffScale, ctx.out);
  else
    PrintTable(c, diff, diffScale, ctx.out);
}

}  // namespace

Command CompareCommand() {
  return {
      .name = "compare",
      .synopsis = "A B",
      .summary =
          "measure picture B against the reference A: PSNR on RGB and on BT.601 "
          "luma, SSIM, MS-SSIM, GMSD, and PSNR and overshoot 2 to 6 pixels from "
          "A's edges (transparent pictures: colour times alpha)",
      .options = {{"shave", "N",
                   "leave a border of N pixels out (default 0; the scale in "
                   "super-resolution papers)"},
                  {"crop", "", "compare only the top-left part both pictures share"},
                  {"json", "", "print one JSON object (null for inf and n/a)"},
                  {"diff", "OUT", "write the difference map: |Y difference| amplified, as viridis"},
                  {"diff-scale", "L",
                   "the difference of full colour in the map, in levels (default 32)"}},
      .positional = 2,
      .run = RunCompare};
}

}  // namespace tvq::cli
