// Local deringing: the line kernel restricted to small windows, so that the
// budget follows the local content.
//
// - Per-pixel windows ("Local, 5", "Local, 9"): every pixel is the centre of a
//   horizontal and a vertical window of N samples, each fitted by the refitting
//   kernel; the pixel becomes the mean of the two window centres.
// - Blocks ("Local, BxB, step S"): B x B blocks placed every S pixels are each
//   deringed by a global routine and blended with tent weights w[a] * w[b].
// All windows and blocks read the image as it was on entry; the image is written
// once at the end, so a STOP (polled before every column of pixels or every
// block) leaves it exactly as it was.
//
// Order: every window and block reads only the entry image, so their fits run on
// all threads and SIMD lanes. Order-dependent, and kept: the blocks' overlap-add of
// num and den (float running sums per pixel, x0 outer, y0 inner, then a outer, b
// inner, with the clamped edge pixels taking several terms of one block), done in
// that order on one thread after each band; the "Source" chain inside each block
// (blocks run side by side in lanes, each block's lines one after another); and the
// per-pixel windows with "Source", one chain over the whole image that stays the
// plain serial loop.
//
// The guided forms work on an enlarged image with the low-resolution luma as
// reference: image pixel (x, y) belongs to reference pixel (x / 2, y / 2).
#pragma once

#include <cstdint>
#include <vector>

#include "deringing/dering.h"
#include "imaging/imagefmt.h"
#include "imaging/progress.h"

namespace tvq {

// dst[k] = image(x0 + k, y), k = 0 .. n-1, clamped reads.
void CopyRowSegment(const TImageF& image, std::int32_t x0, std::int32_t y, std::int32_t n,
                    float* dst);
// dst[k] = image(x, y0 + k), k = 0 .. n-1, clamped reads.
void CopyColumnSegment(const TImageF& image, std::int32_t x, std::int32_t y0, std::int32_t n,
                       float* dst);
// Sum over k = 1 .. n-1 of |image(x0 + k, y) - image(x0 + k - 1, y)| (clamped).
float RowSegmentVariation(const TImageF& image, std::int32_t x0, std::int32_t y, std::int32_t n);
// The same along column x from row y0.
float ColumnSegmentVariation(const TImageF& image, std::int32_t x, std::int32_t y0, std::int32_t n);

// Tent weights of a block side: w[k] = (k + 1) / half for k < half = (side + 1) / 2,
// mirrored above (w[k] = w[side - 1 - k]). Side 5: 1/3, 2/3, 1, 2/3, 1/3.
std::vector<float> TentWeights(std::int32_t side);

// The window or block comes from the method's DeringShape, the line fits' settings
// from DeringFit. Window, side and step are checked: SettingError when out of range.
// Every routine throws EZorException for an image without pixels.

// Plain per-pixel windows of shape.size samples (>= 1; the catalogue uses 5 and 9),
// in place; the centre sample (size - 1) / 2 of each fit is used. Budgets are
// fit.factor times the window's own variation. Progress ("Deringing", x, W) before
// every column.
void DeringPixelWindows(TImageF& image, const DeringShape& shape, const DeringFit& fit,
                        Progress& progress);

// Guided per-pixel windows on an image of exactly 2w x 2h for a w x h reference.
// Budgets come from reference windows of (size + 1) / 2 samples, interpolated for odd
// image rows and columns; every fit starts from the zero line, so fit.initial and
// fit.factor are not used. Progress ("Deringing", i, w) before every even reference
// column i. EZorException(ecBadSize) for other sizes.
void DeringPixelWindowsGuided(TImageF& image, const TImageF& reference, const DeringShape& shape,
                              const DeringFit& fit, Progress& progress);

// Plain blocks of side shape.size placed every shape.step pixels (1 <= step <= side,
// so every pixel is covered), each deringed by DeringGlobal without progress, in
// place. Progress ("Deringing", block counter, block count) before every block.
// SettingError for a side or step outside those ranges (a step above the side would
// leave pixels without any block).
void DeringBlocks(TImageF& image, const DeringShape& shape, const DeringFit& fit,
                  Progress& progress);

// Guided blocks: each block is deringed by DeringGlobalGuided against the
// (side + 1) / 2 square of the reference at (x0 / 2, y0 / 2).
void DeringBlocksGuided(TImageF& image, const TImageF& reference, const DeringShape& shape,
                        const DeringFit& fit, Progress& progress);

}  // namespace tvq
