#include "commands/sizes.h"

#include <cmath>
#include <stdexcept>

#include "imaging/errors.h"
#include "imaging/imagefmt.h"

namespace tvq {

namespace {

// Reads the digits at text[pos...] as a side from 1 to 65535; 0 when there are none.
std::int32_t ReadSide(std::string_view text, std::size_t& pos, std::string_view whole) {
  std::int64_t value = 0;
  const std::size_t start = pos;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    value = value * 10 + (text[pos] - '0');
    if (value > kMaxImageSide)
      throw std::invalid_argument("--size: '" + std::string(whole) +
                                  "': a side is at most 65535 pixels");
  }
  if (pos > start && value == 0)
    throw std::invalid_argument("--size: '" + std::string(whole) + "': a side is at least 1 pixel");
  return static_cast<std::int32_t>(value);
}

// round(part * whole / of), half away from zero, exactly (all positive).
std::int64_t RoundedRatio(std::int64_t part, std::int64_t whole, std::int64_t of) {
  return (2 * part * whole + of) / (2 * of);
}

[[noreturn]] void Refuse(const std::string& problem) {
  throw FileError(problem);
}

void CheckSides(std::int64_t width, std::int64_t height, std::int32_t inWidth,
                std::int32_t inHeight) {
  const std::string what = "the " + DimensionsText(inWidth, inHeight) + " picture";
  if (width > kMaxImageSide || height > kMaxImageSide)
    Refuse(what + " would become " + DimensionsText(width, height) +
           ", more than 65535 pixels a side");
  if (width < 1 || height < 1)
    Refuse(what + " would become " + DimensionsText(width, height) + ", less than 1 pixel a side");
}

}  // namespace

Geometry ParseGeometry(std::string_view text) {
  const auto bad = [&](const std::string& why) {
    return std::invalid_argument("--size: '" + std::string(text) + "' " + why +
                                 "; the forms are WxH, Wx, xH, WxH! (exactly), WxH^ (cover), "
                                 "each optionally followed by < (only enlarge)");
  };
  Geometry g;
  std::size_t pos = 0;
  g.width = ReadSide(text, pos, text);
  if (pos >= text.size() || (text[pos] != 'x' && text[pos] != 'X')) throw bad("is no geometry");
  ++pos;
  g.height = ReadSide(text, pos, text);
  if (g.width == 0 && g.height == 0) throw bad("gives neither width nor height");
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    bool* flag = c == '!' ? &g.exact : c == '^' ? &g.cover : c == '<' ? &g.onlyEnlarge : nullptr;
    if (flag == nullptr) throw bad("has '" + std::string(1, c) + "' where it should end");
    if (*flag) throw bad("repeats '" + std::string(1, c) + "'");
    *flag = true;
  }
  if ((g.exact || g.cover) && (g.width == 0 || g.height == 0))
    throw bad("needs both sides with ! or ^");
  if (g.exact && g.cover) throw bad("cannot both be exact (!) and cover (^)");
  return g;
}

std::string GeometryText(const Geometry& g) {
  std::string text = g.width > 0 ? std::to_string(g.width) : "";
  text += "x";
  if (g.height > 0) text += std::to_string(g.height);
  if (g.exact) text += "!";
  if (g.cover) text += "^";
  if (g.onlyEnlarge) text += "<";
  return text;
}

std::string DimensionsText(std::int64_t width, std::int64_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

void OutputSizeParams::Validate() const {
  if (scale != 0.0 && geometry)
    throw SettingError("--scale and --size cannot both be given: choose one");
  if (scale == 0.0) return;
  const SettingDesc& desc = enlarging ? kScaleSetting : kResizeScaleSetting;
  CheckSettings({{desc, scale}});
}

OutputSize ComputeOutputSize(const OutputSizeParams& params, std::int32_t width,
                             std::int32_t height) {
  params.Validate();
  OutputSize size;
  if (width < 1 || height < 1) Refuse("the picture has no pixels");
  if (!params.Given()) {
    size.width = 2 * width;
    size.height = 2 * height;
    size.scaleX = size.scaleY = 2.0;
    CheckSides(size.width, size.height, width, height);
    return size;
  }
  std::int64_t w = width, h = height;
  if (params.scale != 0.0) {
    w = static_cast<std::int64_t>(std::round(params.scale * width));
    h = static_cast<std::int64_t>(std::round(params.scale * height));
    size.scaleX = size.scaleY = params.scale;
  } else {
    const Geometry& g = *params.geometry;
    const bool smaller = (g.width == 0 || width < g.width) && (g.height == 0 || height < g.height);
    if (g.onlyEnlarge && !smaller) {
      size.width = width;
      size.height = height;
      size.unchanged = true;
      return size;
    }
    // Which side decides: for a fit the one whose box is tighter, for a cover the other.
    bool byWidth = g.height == 0;
    if (g.width > 0 && g.height > 0) {
      const std::int64_t a = std::int64_t{g.width} * height, b = std::int64_t{g.height} * width;
      byWidth = g.cover ? a >= b : a <= b;
    }
    if (g.exact) {
      w = g.width;
      h = g.height;
      size.scaleX = static_cast<double>(w) / width;
      size.scaleY = static_cast<double>(h) / height;
    } else if (byWidth) {
      w = g.width;
      h = RoundedRatio(height, g.width, width);
      size.scaleX = size.scaleY = static_cast<double>(g.width) / width;
    } else {
      h = g.height;
      w = RoundedRatio(width, g.height, height);
      size.scaleX = size.scaleY = static_cast<double>(g.height) / height;
    }
  }
  CheckSides(w, h, width, height);
  if (params.enlarging && (w < width || h < height))
    Refuse("the " + DimensionsText(width, height) + " picture would become " +
           DimensionsText(w, h) + ", smaller than it is; this command only enlarges (resize " +
           "reduces)");
  size.width = static_cast<std::int32_t>(w);
  size.height = static_cast<std::int32_t>(h);
  size.unchanged = w == width && h == height;
  return size;
}

std::int32_t PassCount(const OutputSize& size, std::int32_t width, std::int32_t height) {
  if (size.unchanged) return 0;
  std::int32_t passes = 1;
  while ((std::int64_t{width} << passes) < size.width ||
         (std::int64_t{height} << passes) < size.height)
    ++passes;
  return passes;
}

}  // namespace tvq
