// Colour pipeline of the Resample command: the picture is split into a luminance
// plane and colour differences (channel minus luminance), the colour differences
// are enlarged by the gradient-directed colour upscaler, the luminance by the
// solver, and the two are added back together. The weight map gives the solver's
// stabilizer its per-pixel weight.
//
// Channel order is the bitmap's: 0 = blue, 1 = green, 2 = red; the luminance is
// 0.114 B + 0.587 G + 0.299 R kept in float. Each value is computed in double and
// rounded to float when stored.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/imagefmt.h"
#include "imaging/lumasplit.h"
#include "imaging/progress.h"
#include "imaging/source.h"

namespace tvq {

// The luminance Y and the four-float colour image of a picture (both read through
// PictureSource::Read). Throws EZorException(ecFormatMismatch) for bitmaps that are
// not 24 or 32 bits deep.
struct LumaAndColour {
  TImageF luma;
  TImageF4 colour;
};
LumaAndColour ReadLumaAndColour(const PictureSource& picture);

// The colour differences enlarged two times into a fresh 2w x 2h image; channel 3
// of the result is 0. Both enlargements stop as GradientUpscaleColor does.
TImageF4 EnlargeColourDifferences(const TImageF4& colourDifferences,
                                  const StopFlag* stop = nullptr);

// The same colour differences as SubtractLuma gives, as three compact w x h planes
// (blue, green, red minus luma), and their enlargement into the four-float image of
// EnlargeColourDifferences, which needs less memory than the four-float route: the
// planes are released as soon as they are used. A four-float picture is read in
// place; a bitmap through a four-float copy.
struct ColourPlanes {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::array<std::vector<float>, 3> planes;
};
ColourPlanes ColourDifferencePlanes(const PictureSource& picture, const TImageF& luma);
TImageF4 EnlargeColourPlanes(ColourPlanes&& differences, const StopFlag* stop = nullptr);

// Weight map values. lowWeight is Maximum * MinFactor for a black start and
// Maximum otherwise.
struct WeightMapParams {
  float maximum = 0.05f;
  float lowWeight = 0.05f;
  float threshMin = 5.0f;
  float threshMax = 15.0f;
};
// The low weight of the weight map: maximum * minFactor rounded to float when the
// start is "Black image", maximum otherwise.
float LowWeight(float maximum, float minFactor, bool blackStart);

// True when the ramp gives `maximum` at every pixel of a finite curvature plane: the
// low weight equals the maximum (a zero maximum counts only with a positive sign).
bool WeightsAreConstant(const WeightMapParams& params);

// The smoothed curvature of E: |E(x-1,y) - 2E + E(x+1,y)| + |E(x,y-1) - 2E + E(x,y+1)|
// with clamped reads (each term and the sum rounded to float), then GaussSmooth
// sigma 2, radius 3.
TImageF SmoothedCurvature(const TImageF& e);

// Turns the smoothed curvature c into weights, in place: lowWeight below
// threshMin, maximum above threshMax, the linear ramp between. A value equal to
// both thresholds (threshMin == threshMax) gets maximum, the top of the ramp.
void WeightRamp(TImageF& c, const WeightMapParams& params);

// The whole weight map: E = GradientUpscale(Y) written into x (2w x 2h, which
// keeps E), then curvature, smoothing and ramp. Returns W.
TImageF WeightMap(const TImageF& y, TImageF& x, const WeightMapParams& params);

}  // namespace tvq
