// Lanczos-like two-times upscaling (see interpolation.h for the shared rules).
#pragma once

#include "imaging/imagefmt.h"
#include "imaging/progress.h"

namespace tvq {

// Order: no loop depends on order. Even destination rows read their source row only,
// odd rows read even rows only, so each set runs row-parallel with the six-tap sums in
// vector lanes.
//
// Separable six-tap half-sample filter (0.124, -0.235, 0.611, 0.611, -0.235,
// 0.124; float taps, sums in double) whose negative lobes ring beside edges.
// Rows first (x outer), then columns from the completed even rows; source
// columns and rows are replicated beyond the borders, so a one-pixel-wide or
// -high source gives new pixels equal to their nearest source pixel. With `stop`,
// polls it before every row (column in the plain loop) and throws OperationStopped
// once it is set, leaving dst incomplete.
void LanczosUpscale(const TImageF& src, TImageF& dst);
void LanczosUpscale(const TImageF& src, TImageF& dst, const StopFlag* stop);

}  // namespace tvq
