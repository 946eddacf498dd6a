// Global deringing: every row and every column of the whole plane is fitted by
// the line kernel (tvqline.h), in two orders, and the two results are averaged.
//
// Four passes over a W x H plane, with scratch planes A and B:
//   1. rows of the image    -> rows of A
//   2. columns of A         -> columns of B     (B = rows, then columns)
//   3. columns of the image -> columns of A     (A = columns ...)
//   4. rows of A            -> image = (B + result) / 2   (... then rows)
// The image is written only in pass 4. STOP is polled before every line; a stop
// leaves the rows of pass 4 already written and the rest of the image unchanged.
// Progress ("Deringing", position, 2W + 2H) is reported at every tenth line of a
// pass (line index a multiple of 10) when progress is shown.
//
// Order: with "Zero init" the lines of one pass are independent, so the fast
// kernels fit them on all threads and SIMD lanes; passes 2 and 4 read all of
// passes 1 and 3, so the passes stay in order. "Source" chains each fit into the
// next line's start: the whole routine is one serial chain and runs as the plain
// loop. Every sum inside a fit is a float running sum (tvqline.h).
//
// Budgets: the plain routines give each line factor times its own variation;
// the guided ones derive it from the low-resolution reference through
// GuidedLineVariation, so an enlarged image keeps the variation of its source.
#pragma once

#include <cstdint>

#include "deringing/dering.h"
#include "imaging/imagefmt.h"
#include "imaging/progress.h"

namespace tvq {

// Throws EZorException (ecNoImage, ecBadSize) naming the routine unless the image
// holds at least one pixel.
void RequirePixels(const TImageF& image, const char* routine, const char* what);

// RequirePixels for both images, then EZorException(ecBadSize) unless `enlarged` is
// exactly twice the size of `reference`.
void RequireDoubleSize(const TImageF& enlarged, const TImageF& reference, const char* routine);

// The integer budget of line `index` of an image enlarged two times from
// `reference`: row `index` when `isRow`, column `index` otherwise. The image line
// maps to reference line index / 2; each neighbour difference along it is
// truncated toward zero before its absolute value is taken. For an odd index the
// term is the integer mean (rounded down) of the terms of reference lines
// index / 2 and index / 2 + 1 (clamped into the reference). Summed into a float.
// Without the factor. EZorException(ecNoImage/ecBadSize) for an empty reference.
float GuidedLineVariation(const TImageF& reference, std::int32_t index, bool isRow);

// Plain global deringing in place with the refitting kernel: budgets are fit.factor
// times each line's own variation; progress only when showProgress.
void DeringGlobal(TImageF& image, const DeringFit& fit, bool showProgress, Progress& progress);

// The same with the fixed-offset kernel; progress is always reported.
void DeringGlobalFixed(TImageF& image, const DeringFit& fit, Progress& progress);

// Guided global deringing in place with the refitting kernel: budgets are
// fit.factor * GuidedLineVariation(reference, ...) for each row and column.
void DeringGlobalGuided(TImageF& image, const TImageF& reference, const DeringFit& fit,
                        bool showProgress, Progress& progress);

// The same with the fixed-offset kernel; progress is always reported.
void DeringGlobalGuidedFixed(TImageF& image, const TImageF& reference, const DeringFit& fit,
                             Progress& progress);

}  // namespace tvq
