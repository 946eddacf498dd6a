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
#include <functional>

#include "imaging/imagefmt.h"
#include "imaging/progress.h"

namespace tvq {

// Runs body(begin, end) over [0, count) in bands of `band` items on all threads,
// each body call taking whole units of `unit` items from the band's start (units
// fill the SIMD lanes of a batch: split by a plain grain, a chunk of 19 lines would
// leave 5 of 24 lanes idle). Before a band runs, poll(i) is called on the
// calling thread for each of its items i in order, the STOP poll and progress
// report the plain loop makes before item i; when it returns false, only the items
// before i run and the call returns false. STOP is thus honoured within one band,
// and a stop leaves exactly the items the plain loop would have finished.
bool RunPolledBands(std::int64_t count, std::int64_t band, std::int64_t unit,
                    const std::function<bool(std::int64_t)>& poll,
                    const std::function<void(std::int64_t, std::int64_t)>& body,
                    const std::function<void(std::int64_t, std::int64_t)>& after = {});

// Kernel steps times samples per band of the fast routines: about 0.1 s on one
// core (one sample of one step takes some 1.6 ns in the batched kernel), so a stop
// is seen within a tenth of a second on any picture.
inline constexpr std::int64_t kBandWork = 62'500'000;

// Items per band when one item costs `work` sample-steps: a multiple of `multiple`,
// at least one multiple.
inline std::int64_t BandItems(std::int64_t work, std::int64_t multiple) {
  const std::int64_t items = kBandWork / (work > 0 ? work : 1);
  return items < multiple ? multiple : items / multiple * multiple;
}

// Throws EZorException (ecNoImage, ecBadSize) naming the routine unless the image
// holds at least one pixel.
void RequirePixels(const TImageF& image, const char* routine, const char* what);

// The integer budget of line `index` of an image enlarged two times from
// `reference`: row `index` when `isRow`, column `index` otherwise. The image line
// maps to reference line index / 2; each neighbour difference along it is
// truncated toward zero before its absolute value is taken. For an odd index the
// term is the integer mean (rounded down) of the terms of reference lines
// index / 2 and index / 2 + 1 (clamped into the reference). Summed into a float.
// Without the factor. EZorException(ecNoImage/ecBadSize) for an empty reference.
float GuidedLineVariation(const TImageF& reference, std::int32_t index, bool isRow);

// Plain global deringing in place with the refitting kernel. initial is the
// "Initial:" index; progress only when showProgress.
void DeringGlobal(TImageF& image, std::int32_t iterations, std::int32_t initial, bool showProgress,
                  float factor, Progress& progress);

// The same with the fixed-offset kernel; progress is always reported.
void DeringGlobalFixed(TImageF& image, std::int32_t iterations, std::int32_t initial, float factor,
                       Progress& progress);

// Guided global deringing in place with the refitting kernel: budgets are
// factor * GuidedLineVariation(reference, ...) for each row and column.
void DeringGlobalGuided(TImageF& image, const TImageF& reference, std::int32_t iterations,
                        bool showProgress, std::int32_t initial, float factor, Progress& progress);

// The same with the fixed-offset kernel; progress is always reported.
void DeringGlobalGuidedFixed(TImageF& image, const TImageF& reference, std::int32_t iterations,
                             std::int32_t initial, float factor, Progress& progress);

}  // namespace tvq
