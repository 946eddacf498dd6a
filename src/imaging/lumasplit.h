// The split of a colour picture into its luminance and colour differences (channel
// minus luminance), and the recombination. Resample and Deringing both work on the
// luminance alone and add the colour differences back, so the two steps are written
// once here: each sample is channel + sign * plane formed in double and rounded to
// float when stored (c + (-1 * l) is c - l exactly), in any order of rows.
#pragma once

#include "imaging/imagefmt.h"

namespace tvq {

// Channels 0..2 (blue, green, red) of colour become channel minus luma; channel 3
// stays. EZorException(ecBadSize) unless the two have the same size.
void SubtractLuma(TImageF4& colour, const TImageF& luma);

// Adds plane to channels 0..2 of colour; channel 3 stays. EZorException(ecBadSize)
// unless the two have the same size. Used for the final luminance and the fractal
// texture.
void AddToColour(TImageF4& colour, const TImageF& plane);

}  // namespace tvq
