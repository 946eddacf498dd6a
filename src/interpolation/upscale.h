// One dispatch over the two-times enlargers, for the upscale command and for the
// solver's starting estimate.
#pragma once

#include <cstdint>
#include <variant>

#include "imaging/imagefmt.h"
#include "imaging/progress.h"
#include "imaging/source.h"

namespace tvq {

// The enlargers in the order of kUpscaleMethodNames (interpolation.h), so that the index
// of a chosen name converts to this type.
enum class UpscaleMethod : std::int32_t {
  kGradient = 0,
  kGradientColour = 1,
  kNedi = 2,  // with the 4-neighbour configuration
  kLanczos = 3,
  kBilinear = 4,
  kDirectional = 5,
};

// True for the methods that enlarge the colour picture (gradient-color, directional);
// the others enlarge the grey level.
bool UpscalesColour(UpscaleMethod method);

// Enlarges `source` into `target` by a grey method. Samples the method does not write
// keep target's content: NEDI reads it where its clamped reads reach pixels it has not
// computed yet, so the caller decides what they hold. A target that is not exactly twice
// the source is left untouched. SettingError for a colour method.
void UpscaleGrey(UpscaleMethod method, const TImageF& source, TImageF& target,
                 const StopFlag* stop);

// The enlargement of the four floats by a colour method, twice the size; directional
// goes through bytes (ClampToByte) and back. SettingError for a grey method.
TImageF4 UpscaleColour(UpscaleMethod method, const TImageF4& source, const StopFlag* stop);

// The enlarged picture: the grey level for a grey method, the four floats for a colour one.
using Enlargement = std::variant<TImageF, TImageF4>;

// Reads the picture as the method needs it (the grey level through ifF, the four floats
// through ifF4) and enlarges it into a new image (zero before the method writes it).
// A stop throws OperationStopped, from the enlarger or after a step between them.
Enlargement UpscalePicture(const PictureSource& picture, UpscaleMethod method,
                           const StopFlag* stop);

}  // namespace tvq
