// Separable resizing of float pictures to any size, antialiased when reducing.
//
// Output pixel X samples the source at X / scale (the grid of the two-times enlargement:
// source pixel x lands on output pixel scale * x, no half-pixel shift). The filter is
// evaluated at (X / scale - j) for the source pixels j within its support; when reducing
// (scale < 1) it is widened by 1 / scale, so that it removes what the smaller grid
// cannot hold. The weights of each output pixel are divided by their sum, so a constant
// picture stays constant; reads beyond the border take the nearest edge pixel.
//
// Arithmetic: each output sample is the sum of its weighted source samples in increasing
// source order, in double, rounded to float when stored. Rows (and columns) are
// independent, so the row loops run in parallel with the same floats as in order.
#pragma once

#include <cstdint>

#include "imaging/imagefmt.h"
#include "imaging/progress.h"
#include "imaging/settingdesc.h"

namespace tvq {

enum class ResizeFilter : std::int32_t {
  kLanczos3 = 0,  // sinc windowed by sinc, 3 lobes: the sharpest, a little ringing
  kMitchell = 1,  // the cubic with B = C = 1/3: softer, almost no ringing
  kBox = 2,       // the area average when reducing, nearest pixel when enlarging
};
inline constexpr std::int32_t kResizeFilterCount = 3;
inline constexpr const char* kResizeFilterNames[kResizeFilterCount] = {"lanczos3", "mitchell",
                                                                       "box"};
inline constexpr const char* kResizeFilterCaptions[kResizeFilterCount] = {"Lanczos 3", "Mitchell",
                                                                          "Box"};
inline constexpr ChoiceDesc kResizeFilterSetting{.key = "resize/filter",
                                                 .caption = "Filter",
                                                 .flag = "filter",
                                                 .captions = kResizeFilterCaptions,
                                                 .names = kResizeFilterNames,
                                                 .defaultIndex = 0,
                                                 .help = "resampling filter"};

// The filter's value at t (in source pixels of an enlargement) and its support radius.
double ResizeFilterValue(ResizeFilter filter, double t);
double ResizeFilterRadius(ResizeFilter filter);

// Resizes `source` to width x height with scaleX, scaleY output pixels per source
// pixel (normally width / source width, but any positive ratio; see above). A stop
// (a non-null flag that is set) throws OperationStopped between rows.
// SettingError for a size below 1 or a scale that is not positive and finite.
TImageF Resize(const TImageF& source, std::int32_t width, std::int32_t height, double scaleX,
               double scaleY, ResizeFilter filter, const StopFlag* stop = nullptr);
// The same on the four channels of each pixel.
TImageF4 Resize(const TImageF4& source, std::int32_t width, std::int32_t height, double scaleX,
                double scaleY, ResizeFilter filter, const StopFlag* stop = nullptr);

}  // namespace tvq
