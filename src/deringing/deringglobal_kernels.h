// The plain loops and fast twins of the global routines (deringglobal.cpp,
// deringglobal_fast.cpp), and the band machinery the fast local routines share;
// internal to the folder.
#pragma once

#include <cstdint>
#include <functional>

#include "deringing/deringglobal.h"
#include "deringing/tvqline.h"

namespace tvq {

// The budget of a line about to be fitted: factor times the line's own variation, or,
// with a reference, factor times GuidedLineVariation of the line's row or column.
struct LineBudget {
  float factor = 0.0f;
  const TImageF* reference = nullptr;

  float operator()(const float* line, std::int32_t n, bool isRow, std::int32_t index) const {
    if (reference != nullptr)
      return static_cast<float>(static_cast<double>(factor) *
                                GuidedLineVariation(*reference, index, isRow));
    return static_cast<float>(static_cast<double>(factor) * LineVariation(line, n));
  }
};

// One global routine call after its checks: the fit settings, whether progress is
// shown, the kernel (refitting or fixed offset) and the budgets.
struct GlobalRun {
  DeringFit fit;
  bool showProgress = true;
  bool refit = true;
  LineBudget budget;
};

// The four passes as serial loops with the given one-line kernel; with the plain
// kernels they are the definition.
void RunGlobalSerial(TImageF& image, const GlobalRun& run, LineKernel kernel, Progress& progress);

// The plain routine: RunGlobalSerial with TvqLineRefit or TvqLineFixed.
void RunGlobalPlain(TImageF& image, const GlobalRun& run, Progress& progress);

// The fast twin: with "Zero init" the passes in bands on all threads and SIMD lanes;
// "Source" chains every fit into the next, so it stays one serial chain, fitted by the
// kernel with the shorter dependency chains.
void RunGlobalFast(TImageF& image, const GlobalRun& run, Progress& progress);

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

}  // namespace tvq
