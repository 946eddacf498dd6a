// Bilinear two-times upscaling (see interpolation.h for the shared rules).
#pragma once

#include "imaging/imagefmt.h"
#include "imaging/progress.h"

namespace tvq {

// Order: no loop depends on order; every destination pixel is written once from source
// pixels, so source rows run in parallel with the columns in vector lanes.
//
// For every source pixel (x outer, y inner), with clamped reads of src:
//   dst(2x, 2y)         = src(x, y)
//   dst(2x + 1, 2y)     = (src(x + 1, y) + src(x, y)) * 0.5
//   dst(2x, 2y + 1)     = (src(x, y + 1) + src(x, y)) * 0.5
//   dst(2x + 1, 2y + 1) = (src(x + 1, y + 1) + (src(x, y + 1) + (src(x + 1, y) + src(x, y)))) *
//   0.25
// in double, stored as float. The last row and column repeat the source's. With
// `stop`, polls it before every row (column in the plain loop) and throws
// OperationStopped once it is set, leaving dst incomplete.
void BilinearUpscale(const TImageF& src, TImageF& dst);
void BilinearUpscale(const TImageF& src, TImageF& dst, const StopFlag* stop);

}  // namespace tvq
