// Fractal substitution: high-frequency texture for the enlarged luminance, taken
// from the picture's own self-similarity. Every 4 x 4 block of the luminance is
// matched against a half-resolution copy of the picture; the detail around the best
// match, one scale up, is pasted into the 2w x 2h grid. The texture is suppressed
// where the block spectrum shows one dominant direction (edges, lines).
//
// Reads go through the clamping accessor; so do the writes into the anisotropy map
// and the pasted detail, so a write beyond the last column or row accumulates into
// that column or row. Values are computed in double and rounded to float when
// stored; running sums are single precision.
#pragma once

#include "imaging/imagefmt.h"
#include "imaging/progress.h"

namespace tvq {

// Adds to a (zero-filled, y's size) the anisotropy of the 16 x 16 blocks of y at
// origins 0, 8, 16, ... (x outer), overlap-added with a sin^2 window. A block's
// anisotropy is (max - mean) / 8 of the energies of its 16 directional sectors of
// the magnitude spectrum (zero frequency excluded). Sizes must match:
// EZorException(ecBadSize).
void AnisotropyMap(const TImageF& y, TImageF& a, const StopFlag* stop = nullptr);

// The suppression map: GradientUpscale of the anisotropy map, ramp 0 below 12 ... 1
// above 24, then GaussSmooth sigma 2, radius 3. Returns 2w x 2h.
TImageF SuppressionMap(const TImageF& anisotropy, const StopFlag* stop = nullptr);

// Writes the texture into `texture` (2w x 2h of y; overwritten). y is replaced by
// its smoothed version (GaussSmooth sigma 2, radius 10) during the run. Progress:
// "Fractal substitution" at 0 of 100, then at every block column X0 of 2w.
// Needs y of at least 2 x 2 pixels and texture of exactly twice its size:
// EZorException(ecBadSize) otherwise. With `stop`, this and the two maps above poll
// it before every block column or row and throw OperationStopped once it is set
// (their output is then incomplete).
void FractalSubstitution(TImageF& y, TImageF& texture, Progress& progress,
                         const StopFlag* stop = nullptr);

}  // namespace tvq
