// Output sizes: the --scale and --size settings of the enlarging commands and of
// resize, and the size of the result they ask for.
//
// The grid convention is that of the two-times enlargement: input pixel (x, y) lands
// on output pixel (scaleX * x, scaleY * y), with no half-pixel shift.
//
// Geometry, as image tools write it (W, H whole numbers from 1 to 65535):
//   WxH    fit inside W x H, aspect kept
//   Wx xH  that width (or height), the other side follows the aspect
//   WxH!   exactly W x H, aspect ignored
//   WxH^   cover W x H: the smallest size that contains it, aspect kept
//   ...<   (after any form) only enlarge: a picture that is not smaller than the box
//          (in both sides for WxH, in the given side otherwise) keeps its size
// A side that follows the aspect is rounded half away from zero, and so is a scaled one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "imaging/settingdesc.h"

namespace tvq {

struct Geometry {
  std::int32_t width = 0;    // 0: not given ("xH")
  std::int32_t height = 0;   // 0: not given ("Wx")
  bool exact = false;        // "!"
  bool cover = false;        // "^"
  bool onlyEnlarge = false;  // "<"
};

// Parses a geometry; std::invalid_argument with a message that names the text and what
// is wrong with it.
Geometry ParseGeometry(std::string_view text);
// The geometry as ParseGeometry reads it back ("1920x1080^<").
std::string GeometryText(const Geometry& geometry);

// The largest factor --scale takes.
inline constexpr double kMaxScale = 16.0;

// --scale of the enlarging commands: above 1 up to 16.
inline constexpr SettingDesc kScaleSetting{
    .key = "size/scale",
    .caption = "Scale:",
    .flag = "scale",
    .valueName = "S",
    .minimum = 1.0,
    .maximum = kMaxScale,
    .exclusiveMinimum = true,
    .defaultValue = 2.0,
    .help = "output size: round(S * W) x round(S * H) (half away from zero)"};
// --scale of resize: above 0 up to 16.
inline constexpr SettingDesc kResizeScaleSetting{
    .key = "size/resizeScale",
    .caption = "Scale:",
    .flag = "scale",
    .valueName = "S",
    .minimum = 0.0,
    .maximum = kMaxScale,
    .exclusiveMinimum = true,
    .defaultValue = 1.0,
    .help = "output size: round(S * W) x round(S * H) (half away from zero)"};

// The output size a command is asked for: a scale, a geometry, or neither (the
// command's own size: twice the input for the enlarging ones).
struct OutputSizeParams {
  double scale = 0.0;  // 0: not given
  std::optional<Geometry> geometry;
  // Whether the command only enlarges (resample, upscale): the scale must lie above 1
  // and a result smaller than the input is refused. resize takes both directions.
  bool enlarging = true;

  bool Given() const { return scale != 0.0 || geometry.has_value(); }
  // Throws SettingError for a scale outside its range or for both a scale and a
  // geometry.
  void Validate() const;
};

// The size of a result and where the input's pixels land on it.
struct OutputSize {
  std::int32_t width = 0;
  std::int32_t height = 0;
  // Output pixels per input pixel: --scale itself, or the ratio of the sides for --size.
  double scaleX = 1.0;
  double scaleY = 1.0;
  // The result has the input's size (the "<" rule, or a geometry the picture already
  // has): the picture is written as it is.
  bool unchanged = false;
};

// The result's size for a width x height input. EZorException(ecBadSize) with a
// message for a side above 65535 or below 1, and for an enlarging command, for a
// result smaller than the input in either side.
OutputSize ComputeOutputSize(const OutputSizeParams& params, std::int32_t width,
                             std::int32_t height);

// The number of two-times passes that bring width x height to at least the output
// size (at least 1); 0 when the size is unchanged.
std::int32_t PassCount(const OutputSize& size, std::int32_t width, std::int32_t height);

// "3840x2160".
std::string DimensionsText(std::int64_t width, std::int64_t height);

}  // namespace tvq
