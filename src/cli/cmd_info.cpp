// The commands that print: info (a file's facts) and psnr (two pictures compared).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <variant>

#include "cli/command.h"
#include "cli/failure.h"
#include "cli/picturecommand.h"
#include "commands/processable.h"
#include "imaging/bitmap.h"
#include "imaging/errors.h"
#include "utility/utility.h"

namespace tvq::cli {

namespace {

std::string FormatNumber(double value) {
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

const char* OrientationText(std::int32_t orientation) {
  return orientation == 1 ? " (upright)" : " (turned upright on reading)";
}

// The facts of a file's header; a picture over the pixel limit is refused with a
// pointer to the option that raises it, as ReadInput does.
PictureHeader ReadHeader(const std::string& path, const DecodeLimits& limits) {
  try {
    return ReadPictureHeader(path, limits);
  } catch (const PixelLimitError& e) {
    throw FileError(std::string(e.what()) + " (--max-pixels)");
  }
}

// What the stored channels are when their count alone does not say it.
const char* ChannelKind(const PictureHeader& header) {
  if (header.palette) return " (palette)";
  if (header.cmyk) return " (CMYK)";
  return "";
}

// Reads the header and the metadata only: no pixel is decoded, so the answer comes
// at once whatever the picture's size. Channels and bits are those the file stores.
void RunInfo(const ParsedArgs& args, Context& ctx) {
  const std::string& path = args.Positional()[0];
  const DecodeLimits limits = DecodeLimitsFrom(args);
  const PictureHeader header = ReadHeader(path, limits);
  for (const std::string& warning : header.warnings)
    ctx.err << Printable("tvq: warning: " + path + ": " + warning) << "\n";
  ctx.out << "file: " << Printable(path) << "\n"
          << "format: " << PictureFormatName(header.format) << "\n"
          << "width: " << header.width << "\n"
          << "height: " << header.height << "\n"
          << "channels: " << header.channels << ChannelKind(header) << "\n"
          << "bits per channel: " << header.bitsPerChannel << "\n"
          << "alpha: " << (header.alpha ? "yes" : "no") << "\n"
          << "ICC profile: "
          << (header.iccBytes == 0 ? "no" : "yes (" + std::to_string(header.iccBytes) + " bytes)")
          << "\n"
          << "orientation: " << header.orientation << OrientationText(header.orientation) << "\n";
  bool converted = false;
  if (const BmpInfo* info = std::get_if<BmpInfo>(&header.details)) {
    converted = info->bitsPerPixel != 24 && info->bitsPerPixel != 32;
    ctx.out << "bits per pixel: " << info->bitsPerPixel << "\n"
            << "header: " << info->headerType << "\n"
            << "compression: " << info->compression << "\n"
            << "rows: " << (info->topDown ? "top-down" : "bottom-up") << "\n";
  }
  // Only the float samples of PFM files can hold values no command can process; those
  // are stored as they are, so reading them costs no decoding work.
  const std::optional<std::string> unprocessable =
      header.format == PictureFormat::kPfm ? UnprocessableReason(ReadInput(path, limits))
                                           : std::nullopt;
  ctx.out << "processable: "
          << (unprocessable ? "no (" + *unprocessable + ")"
              : converted   ? "yes (converted to 32 bits with its palette or bit fields first)"
                            : "yes")
          << "\n";
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
  const DecodeLimits limits = DecodeLimitsFrom(args);
  const CommandInput a = LoadInput(pathA, limits);
  const CommandInput b = LoadInput(pathB, limits);
  TImageF greyA = Process(pathA, [&] { return Greyscale(a.Source()); });
  TImageF greyB = Process(pathB, [&] { return Greyscale(b.Source()); });
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

}  // namespace

Command InfoCommand() {
  return {.name = "info",
          .synopsis = "IN",
          .summary =
              "print the format, size, channels and depth as stored, alpha, colour "
              "profile and orientation of a picture file (and the header, compression and "
              "row order of a BMP file), from its header without decoding the pixels",
          .positional = 1,
          .run = RunInfo};
}

Command PsnrCommand() {
  return {.name = "psnr",
          .synopsis = "A B",
          .summary = "print the MSE and PSNR between the grey levels of two pictures",
          .options = {{"crop", "", "compare only the top-left part both pictures share"}},
          .positional = 2,
          .run = RunPsnr};
}

}  // namespace tvq::cli
