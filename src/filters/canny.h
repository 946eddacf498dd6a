// Canny-style edge map without hysteresis.
//
// Order: no step depends on the order of pixels. The grey levels, the Gaussian derivatives
// (per-pixel running sums, filters/filterbase.h) and the magnitudes are per pixel; the
// ridge marking depends only on its own row or column, and the marks are only ever set to
// 1, so the row and column scans may run in any order. The fast version runs each step on
// parallel chunks of rows or columns; ReferenceKernels() selects the plain loops.
#pragma once

#include <cstdint>

#include "imaging/imagefmt.h"
#include "imaging/progress.h"
#include "imaging/settingdesc.h"

namespace tvq {

// The edge detector's smoothing as the command line takes it. 0.5 to 100: below about
// 0.45 (a derivative radius of 1) no grey step, not even 0 to 255, lifts the gradient
// magnitude above the ridge threshold of 8, so nothing is marked; 0.5 marks edges on six
// of the seven sample photographs and 0.52 on all. 100 keeps the bound the option had:
// there the derivative kernel spans 400 pixels and marks under a tenth of the edges 1.5
// marks.
inline constexpr SettingDesc kCannySigmaSetting{.key = "canny/sigma",
                                                .caption = "Sigma",
                                                .flag = "sigma",
                                                .valueName = "S",
                                                .minimum = 0.5,
                                                .maximum = 100.0,
                                                .defaultValue = 1.5,
                                                .help = "smoothing of the derivative filters"};

// Marks edge pixels of src in dst (same width and height): 1 on an edge, 0 elsewhere.
// The grey level of every pixel is written into its fourth byte, smoothed and
// differentiated with Gaussian derivatives (sigma, half-width int(2 * sigma + 1)), and the
// gradient magnitude M = sqrt(gx^2 + gy^2) is searched for ridges separately along every
// row and every column: a sample is a ridge sample when it is >= both neighbours and its
// magnitude exceeds 8; a run of ridge samples is marked at its middle (two middle samples
// for an even run). The first and last sample of a line are never marked.
// Side effect: the row pass overwrites every src pixel except the first and last column
// with the grey value 2 * M (all four bytes).
// Throws EZorException ecBadSize for differing sizes and SettingError for a sigma
// that is not positive and finite (before anything is written). With `stop`, polls it
// between the stages (grey, each derivative, the row and the column search) and throws
// OperationStopped once it is set, leaving src and dst incomplete.
void CannyEdgeMap(TImageC4& src, TImageB& dst, double sigma, const StopFlag* stop = nullptr);

// The ridge marking of one line of n magnitudes, as CannyEdgeMap applies it to every row
// and every column: sets marks[i] = 1 at the middle of every run of ridge samples and
// leaves the other entries untouched. Lines shorter than 3 samples get no marks.
void MarkRidgeLine(const float* magnitude, std::int32_t n, std::uint8_t* marks);

}  // namespace tvq
