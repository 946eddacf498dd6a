// Deringing: removal of the oscillations that enlargement and compression leave
// beside edges, by a total-variation-bounded fit of lines of the luma plane.
//
// Rules shared by every routine of this folder:
// - Images are TImageF planes; (x, y) is (column, row). Reads go through the
//   clamped accessor, so windows and blocks reaching past an edge repeat the edge
//   pixels; writes through it are clamped too.
// - Every sum (line variations, offsets, inner products, budgets, accumulators) is
//   a single-precision running sum in index order, rounded to float after each
//   addition; products and differences of stored values are evaluated in double
//   and rounded to float when stored. Where a loop runs over a block or window
//   position (a, b), a (the x offset) is the outer loop and b the inner one.
// - "Initial" index 0 ("Zero init") starts every line fit from the zero line;
//   index 1 ("Source") starts it from the previous fit of the same routine call
//   (the zero line for the first one), scaled into the new line's budget.
// - Long routines poll Progress::StopRequested() before every line, column or
//   block and then leave the image as the routine descriptions say; a stop is not
//   an error and is not reported.
//
// This header holds the method catalogue of the "Method:" list and the two
// dispatchers; the kernel, global and local routines are in tvqline.h,
// deringglobal.h and deringlocal.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "imaging/imagefmt.h"
#include "imaging/progress.h"
#include "imaging/settingdesc.h"

namespace tvq {

// The routine family of a method: which routine the dispatchers call.
enum class DeringFamily : std::int32_t {
  kGlobal,       // DeringGlobal / DeringGlobalGuided (offset refitted after every step)
  kGlobalFixed,  // DeringGlobalFixed / DeringGlobalGuidedFixed (offset fitted once)
  kWindows,      // DeringPixelWindows / DeringPixelWindowsGuided
  kBlocks,       // DeringBlocks / DeringBlocksGuided
  kSimplest,     // nothing / LowResRangeClamp
};

// The window or block of a local method; 0 where the family has none.
struct DeringShape {
  std::int32_t size = 0;  // window length (kWindows) or block side (kBlocks)
  std::int32_t step = 0;  // block step (kBlocks)
};

// One item of the "Method:" list: its caption (the dialog item and the --method
// caption), the routine family, its window or block, and its memory model.
struct DeringMethod {
  const char* caption;
  DeringFamily family;
  DeringShape shape;
  // Peak bytes per input pixel of the Deringing command beyond the program and the
  // input held, about 15 % above the measurement (memoryestimate.cpp says how it is
  // measured). Every method measured within 5 % of the default: 40 B on PNG 1024²,
  // 62 MB, for methods 5 and 8.
  double bytesPerPixel;
};

// The "Method:" items, in list order: the index is DeringParams::method and the
// --method number. Everything else about the methods is built from this table: the
// dialog list, the command-line captions, the dispatch, the memory estimate and
// README's table of methods (checked by a test).
inline constexpr auto kDeringMethods = std::to_array<DeringMethod>({
    {"Global, modified", DeringFamily::kGlobal, {}, 46},
    {"Global, original", DeringFamily::kGlobalFixed, {}, 46},
    {"Local, 5", DeringFamily::kWindows, {5, 0}, 46},
    {"Local, 9", DeringFamily::kWindows, {9, 0}, 46},
    {"Local, 5x5, step 2", DeringFamily::kBlocks, {5, 2}, 46},
    {"Local, 7x7, step 2", DeringFamily::kBlocks, {7, 2}, 46},
    {"Local, 7x7, step 4", DeringFamily::kBlocks, {7, 4}, 46},
    {"Local, 9x9, step 4", DeringFamily::kBlocks, {9, 4}, 46},
    {"Local, 9x9, step 6", DeringFamily::kBlocks, {9, 6}, 46},
    {"Local, 11x11, step 6", DeringFamily::kBlocks, {11, 6}, 46},
    {"Local, 11x11, step 8", DeringFamily::kBlocks, {11, 8}, 46},
    {"Local, 15x15, step 8", DeringFamily::kBlocks, {15, 8}, 46},
    {"Local, 15x15, step 10", DeringFamily::kBlocks, {15, 10}, 46},
    {"Local, 15x15, step 12", DeringFamily::kBlocks, {15, 12}, 46},
    {"Local, simpliest", DeringFamily::kSimplest, {}, 46},
});

inline constexpr std::int32_t kDeringMethodCount = static_cast<std::int32_t>(kDeringMethods.size());

// Index of the method whose caption is exactly `caption`, or -1.
constexpr std::int32_t DeringMethodFromCaption(std::string_view caption) {
  for (std::int32_t i = 0; i < kDeringMethodCount; ++i)
    if (caption == kDeringMethods[static_cast<std::size_t>(i)].caption) return i;
  return -1;
}

// Index of the first method of a family, or -1.
constexpr std::int32_t FirstDeringMethodOf(DeringFamily family) {
  for (std::int32_t i = 0; i < kDeringMethodCount; ++i)
    if (kDeringMethods[static_cast<std::size_t>(i)].family == family) return i;
  return -1;
}

inline constexpr std::int32_t kDeringDefaultMethod =
    DeringMethodFromCaption("Local, 11x11, step 8");
inline constexpr std::int32_t kDeringSimplestMethod = FirstDeringMethodOf(DeringFamily::kSimplest);
static_assert(kDeringDefaultMethod >= 0 && kDeringSimplestMethod >= 0);
inline constexpr std::int32_t kDeringMinIterations = 50;
inline constexpr std::int32_t kDeringMaxIterations = 32767;

// The "Method:" captions, in list order, as the setting's choice list takes them.
inline constexpr std::array<const char*, kDeringMethods.size()> kDeringMethodCaptions = [] {
  std::array<const char*, kDeringMethods.size()> captions{};
  for (std::size_t i = 0; i < kDeringMethods.size(); ++i) captions[i] = kDeringMethods[i].caption;
  return captions;
}();

// The memory model of the Deringing command: the largest figure of the methods (the
// estimate does not know the method).
inline constexpr double kDeringBytesPerPixel = [] {
  double most = 0;
  for (const DeringMethod& m : kDeringMethods)
    most = m.bytesPerPixel > most ? m.bytesPerPixel : most;
  return most;
}();

// The "Initial:" items (the index is DeringParams::initial) and their command-line names.
inline constexpr std::int32_t kDeringZeroInit = 0;
inline constexpr std::int32_t kDeringSource = 1;
inline constexpr std::array<const char*, 2> kDeringInitialCaptions = {"Zero init", "Source"};
inline constexpr std::array<const char*, 2> kDeringInitialNames = {"zero", "source"};

// The settings of the Deringing Settings dialog. The command line takes a method as its
// index or its caption; the deringing options of resample carry the prefix "dering-".
inline constexpr ChoiceDesc kDeringMethodSetting{.key = "dering/method",
                                                 .caption = "Method:",
                                                 .flag = "method",
                                                 .captions = kDeringMethodCaptions,
                                                 .names = {},
                                                 .defaultIndex = kDeringDefaultMethod,
                                                 .help = "deringing method"};
inline constexpr ChoiceDesc kDeringInitialSetting{.key = "dering/initial",
                                                  .caption = "Initial:",
                                                  .flag = "initial",
                                                  .captions = kDeringInitialCaptions,
                                                  .names = kDeringInitialNames,
                                                  .defaultIndex = kDeringZeroInit,
                                                  .help = "start of each line fit"};
inline constexpr SettingDesc kDeringIterationsSetting{.key = "dering/iterations",
                                                      .caption = "Iterations",
                                                      .flag = "iterations",
                                                      .valueName = "N",
                                                      .minimum = kDeringMinIterations,
                                                      .maximum = kDeringMaxIterations,
                                                      .whole = true,
                                                      .defaultValue = 200.0,
                                                      .help = "line fit iterations"};
// 0 to 100: the budget is the factor times the variation of the line; a negative factor
// acted like its magnitude, and from about 10 on the budget no longer binds (10 and 100
// give the same result on the sample photographs, 1e30 gives NaN).
inline constexpr SettingDesc kDeringFactorSetting{.key = "dering/factor",
                                                  .caption = "Factor",
                                                  .flag = "factor",
                                                  .valueName = "F",
                                                  .minimum = 0.0,
                                                  .maximum = 100.0,
                                                  .defaultValue = 1.0,
                                                  .help = "variation budget factor"};

// The settings of the line fits of one routine call: DeringParams without the method.
struct DeringFit {
  std::int32_t iterations = static_cast<std::int32_t>(kDeringIterationsSetting.defaultValue);
  std::int32_t initial = kDeringInitialSetting.defaultIndex;             // the "Initial:" index
  float factor = static_cast<float>(kDeringFactorSetting.defaultValue);  // budget multiplier
};

// The Deringing Settings values; the member defaults are the dialog defaults.
struct DeringParams {
  std::int32_t method = kDeringMethodSetting.defaultIndex;    // an index of kDeringMethodCaptions
  std::int32_t initial = kDeringInitialSetting.defaultIndex;  // 0 "Zero init", 1 "Source"
  std::int32_t iterations = static_cast<std::int32_t>(kDeringIterationsSetting.defaultValue);
  float factor = static_cast<float>(kDeringFactorSetting.defaultValue);  // budget multiplier

  // Throws SettingError naming the first value outside its range.
  void Validate() const;

  // The settings of the line fits.
  DeringFit Fit() const { return {iterations, initial, factor}; }
};

// The Deringing command's routine of params.method, applied in place to a luma
// plane: the plain global, per-pixel window or block routine with budgets taken
// from the lines themselves. Method 14 ("Local, simpliest") leaves the plane
// unchanged. Validates params first. EZorException for an image without pixels.
void DeringLuma(TImageF& luma, const DeringParams& params, Progress& progress);

// The Resample command's routine of params.method, applied in place to the
// enlarged luma (exactly 2w x 2h) with budgets taken from the low-resolution luma
// `reference` (w x h); method 14 is LowResRangeClamp. Validates params first.
// EZorException(ecBadSize) when the sizes do not match that way.
void DeringEnlargedLuma(TImageF& enlarged, const TImageF& reference, const DeringParams& params,
                        Progress& progress);

// Clamps every sample of the enlarged luma into the value range of the
// low-resolution samples around it: (2x, 2y) into the range of reference (x, y)
// and its four direct neighbours, (2x+1, 2y) of (x, y) and (x+1, y), (2x, 2y+1) of
// (x, y) and (x, y+1), (2x+1, 2y+1) of the 2 x 2 square at (x, y). Does not poll
// for STOP. EZorException(ecBadSize) unless enlarged is exactly 2w x 2h. Every
// enlarged pixel is written once from reference pixels only, so the order of the
// pixels does not matter and the rows run on all threads.
void LowResRangeClamp(TImageF& enlarged, const TImageF& reference);

}  // namespace tvq
