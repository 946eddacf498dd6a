// Two-times enlargers: gradient-directed, NEDI, Lanczos-like, bilinear and
// directional. Rules shared by every routine of this folder:
// - Grid: source pixel (x, y) lands at destination (2x, 2y) with no half-pixel
//   shift, keeping its value; the other three quarters are filled. The last
//   destination row and column lie beyond the last source sample and are filled
//   by replication or clamped reads.
// - Coordinates are (x = column, y = row). Reads through Pixel() clamp into the
//   image (edge replication is the border rule).
// - Image-level entry points return at once, leaving the destination untouched,
//   unless it measures exactly twice the source in both directions (IsTwiceSize).
//   A mismatch is not an error here: the enlargers leave the target as it was,
//   which their callers and tests rely on, rather than throwing.
// - Planes are 32-bit floats; arithmetic between two stores is done in double
//   and rounded to float when stored.
#pragma once

#include "imaging/settingdesc.h"
#include "interpolation/bilinear.h"
#include "interpolation/directional.h"
#include "interpolation/gradient.h"
#include "interpolation/lanczos.h"
#include "interpolation/nedi.h"

namespace tvq {

// The enlargers the upscale command offers, by their command-line names; there is no
// default and no dialog.
inline constexpr const char* kUpscaleMethodNames[] = {"gradient", "gradient-color", "nedi",
                                                      "lanczos",  "bilinear",       "directional"};
inline constexpr ChoiceDesc kUpscaleMethodSetting{
    .key = "upscale/method",
    .caption = "Method",
    .flag = "method",
    .captions = {},
    .names = kUpscaleMethodNames,
    .defaultIndex = -1,
    .help =
        "enlarger: gradient, nedi, lanczos and bilinear enlarge the grey picture, gradient-color "
        "and directional the colour one"};

}  // namespace tvq
