// The edge mask: where deringing is applied. A pixel is marked when its variation
// clearly exceeds that of many neighbours within a window, that is, next to an edge
// that stands out from quiet surroundings. The marked set is dilated and smoothed
// into a weight between 0 (keep the untouched luma) and 255 (take the deringed luma).
//
// Rules shared by the mask routines:
// - Planes are TImageF grey levels 0..255; reads outside the image repeat the edge
//   pixels.
// - A mask of another size than its source makes a routine return without writing.
// - Measures, products and comparisons are evaluated in double and stored as
//   float; the mask blend is evaluated in long double.
// - Speed: rows run in parallel on the process arena and the columns of a row in SIMD
//   lanes, bit-identical to the plain loops, which ReferenceKernels() selects. No loop
//   here depends on the order of its outputs: a window count is an integer, so its
//   comparisons may run in any order; each dilation output folds its own window in
//   the plain order (centre, then -radius .. radius, taking only greater values),
//   which decides NaNs and signed zeros; the blend is per pixel, in double lanes
//   that defer to long double wherever the two could round differently. The only
//   order-dependent sums of ComputeEdgeMask are in the Gaussian smoothing, which
//   lives with the filters.
#pragma once

#include <array>
#include <cstdint>

#include "imaging/imagefmt.h"
#include "imaging/progress.h"
#include "imaging/settingdesc.h"

namespace tvq {

// Per-pixel variation measure of the first mask stage.
enum EdgeMeasurement : std::int32_t {
  kLocalVariation = 0,    // half the sum of the four neighbour differences
  kMaximumVariation = 1,  // the largest of the four neighbour differences
  kGradientNorm = 2,      // length of the Gaussian gradient (sigma 1, radius 3)
};

// Captions and command-line names of the measurements, indexed by EdgeMeasurement.
inline constexpr std::array<const char*, 3> kEdgeMeasurementCaptions = {
    "Local Variation", "Maximum Variation", "Gradient Norm"};
inline constexpr std::array<const char*, 3> kEdgeMeasurementNames = {"local", "max", "gradient"};

// The settings of the Edge Mask Settings dialog. Grey levels are 0 .. 255, so a variation
// measure is at most 510 (half the four differences) and the window reaches at most 20
// pixels; the ranges follow from that.
inline constexpr ChoiceDesc kEdgeMeasurementSetting{.key = "mask/measurement",
                                                    .caption = "Measurement",
                                                    .flag = "measure",
                                                    .captions = kEdgeMeasurementCaptions,
                                                    .names = kEdgeMeasurementNames,
                                                    .defaultIndex = kMaximumVariation,
                                                    .help = "variation measure"};
// 0 to 100: sigma of the neighbour profile; 0 is its limit, a negative sigma acted like
// its magnitude, and from 100 on the profile is 1 within 2 % across the widest window.
inline constexpr SettingDesc kMaskGaussSetting{.key = "mask/gaussRadius",
                                               .caption = "Gauss rad:",
                                               .flag = "mask-gauss",
                                               .valueName = "R",
                                               .minimum = 0.0,
                                               .maximum = 100.0,
                                               .defaultValue = 4.0,
                                               .help = "neighbour profile radius, \"Gauss rad:\""};
inline constexpr SettingDesc kMaskFilterRadiusSetting{.key = "mask/filterRadius",
                                                      .caption = "Filter rad:",
                                                      .flag = "filter-radius",
                                                      .valueName = "N",
                                                      .minimum = 1.0,
                                                      .maximum = 20.0,
                                                      .whole = true,
                                                      .defaultValue = 6.0,
                                                      .help = "window radius"};
// 0 to 100: a neighbour's variation times the multiplier; a negative one counted even
// more neighbours than 0 does, and from 100 on only flat neighbours count (100 and 1000
// give the same mask).
inline constexpr SettingDesc kMaskMultiplierSetting{.key = "mask/multiplier",
                                                    .caption = "Multiplier:",
                                                    .flag = "multiplier",
                                                    .valueName = "M",
                                                    .minimum = 0.0,
                                                    .maximum = 100.0,
                                                    .defaultValue = 2.0,
                                                    .help = "neighbour multiplier"};
// 0 to 1000: above the largest variation (510) nothing is marked (500 already marks
// nothing on the sample photographs).
inline constexpr SettingDesc kMaskNoiseLevelSetting{.key = "mask/noiseLevel",
                                                    .caption = "Noise Level:",
                                                    .flag = "noise-level",
                                                    .valueName = "L",
                                                    .minimum = 0.0,
                                                    .maximum = 1000.0,
                                                    .defaultValue = 5.0,
                                                    .help = "noise level"};
// Read and not used; the dialog keeps it disabled and the command line has no option.
inline constexpr SettingDesc kMaskMinimumBlockSizeSetting{.key = "mask/minimumBlockSize",
                                                          .caption = "Minimum block size:",
                                                          .flag = nullptr,
                                                          .valueName = "N",
                                                          .minimum = 0.0,
                                                          .maximum = 10000.0,
                                                          .whole = true,
                                                          .defaultValue = 10.0,
                                                          .help = "not used"};
inline constexpr SettingDesc kMaskDilationSetting{.key = "mask/dilationRadius",
                                                  .caption = "Dilation radius:",
                                                  .flag = "dilation",
                                                  .valueName = "N",
                                                  .minimum = 0.0,
                                                  .maximum = 20.0,
                                                  .whole = true,
                                                  .defaultValue = 3.0,
                                                  .help = "dilation radius"};
// 0 to 100: sigma of the final smoothing, whose kernel reaches the window radius (at most
// 20); a negative sigma acted like its magnitude.
inline constexpr SettingDesc kMaskSmoothSetting{.key = "mask/smoothRadius",
                                                .caption = "Gauss smooth rad.:",
                                                .flag = "smooth",
                                                .valueName = "S",
                                                .minimum = 0.0,
                                                .maximum = 100.0,
                                                .defaultValue = 3.0,
                                                .help = "smoothing of the mask"};
// 0 to 100 percent of the window positions; 100 marks nothing.
inline constexpr SettingDesc kMaskThresholdSetting{.key = "mask/threshold",
                                                   .caption = "Threshold %:",
                                                   .flag = "threshold",
                                                   .valueName = "P",
                                                   .minimum = 0.0,
                                                   .maximum = 100.0,
                                                   .defaultValue = 30.0,
                                                   .help = "threshold in percent"};

// The Edge Mask Settings; member defaults are the dialog defaults.
struct EdgeMaskParams {
  EdgeMeasurement measurement = static_cast<EdgeMeasurement>(kEdgeMeasurementSetting.defaultIndex);
  // "Gauss rad:": sigma of the unnormalised neighbour profile exp(-k^2 / (2 sigma^2)).
  // 0 selects the limit profile (1 at the centre, 0 elsewhere).
  float gaussRadius = static_cast<float>(kMaskGaussSetting.defaultValue);
  // "Filter rad:": count window and smoothing radius.
  std::int32_t filterRadius = static_cast<std::int32_t>(kMaskFilterRadiusSetting.defaultValue);
  float multiplier = static_cast<float>(kMaskMultiplierSetting.defaultValue);
  float noiseLevel = static_cast<float>(kMaskNoiseLevelSetting.defaultValue);
  std::int32_t minimumBlockSize =
      static_cast<std::int32_t>(kMaskMinimumBlockSizeSetting.defaultValue);  // not used
  std::int32_t dilationRadius = static_cast<std::int32_t>(kMaskDilationSetting.defaultValue);
  // "Gauss smooth rad.:": sigma of the final smoothing.
  float smoothRadius = static_cast<float>(kMaskSmoothSetting.defaultValue);
  float threshold = static_cast<float>(kMaskThresholdSetting.defaultValue);  // "Threshold %:"

  // Throws SettingError naming the first value outside its range.
  void Validate() const;
};

// Thresholded mask of source: 255 where more than threshold percent of the
// (2R+1)^2 window positions hold a neighbour whose measure, times multiplier plus
// noise, stays below the pixel's own measure weighted by the profile; 0 elsewhere.
// A negative threshold leaves the counted fractions (times 255) in the mask.
// Returns without writing when mask and source differ in size. Throws
// SettingError for a radius below 0 or above 2^30 - 1 (a window side that
// no longer fits 32 bits).
void EdgeMask(const TImageF& source, TImageF& mask, std::int32_t radius, float threshold,
              std::int32_t measurement, float noise, float multiplier, float sigma);

// Grey dilation with a square window of side 2 * radius + 1 (a horizontal then a
// vertical running maximum). Source and destination may be the same image; radius 0
// copies. Returns without writing when the sizes differ; a negative radius counts as 0,
// and one beyond the plane's larger side as that side (the window then spans every line).
void MaxDilate(const TImageF& source, TImageF& destination, std::int32_t radius);

// The mask pipeline: EdgeMask, MaxDilate with the dilation radius, and a Gaussian
// smoothing with the smoothing sigma and the filter radius. The result has the
// luma's size and values within 0..255. Validates the parameters first. With `stop`,
// polls it before each of the three stages and throws OperationStopped once it is set.
TImageF ComputeEdgeMask(const TImageF& luma, const EdgeMaskParams& params,
                        const StopFlag* stop = nullptr);

// luma = (mask * luma + (255 - mask) * untouched) / 255 per pixel: mask 255 keeps the
// (deringed) luma, mask 0 restores the untouched copy. Returns without writing when
// the three sizes differ.
void MaskBlend(TImageF& luma, const TImageF& untouched, const TImageF& mask);

}  // namespace tvq
