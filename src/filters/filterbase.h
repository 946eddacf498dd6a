// Separable filter passes.
//
// Rules shared by every routine of the filters:
// - A one-dimensional kernel of `size` taps is applied as a correlation: tap k weighs the
//   sample at offset k - radius from the output position (no mirror). Callers pass
//   size = 2 * radius + 1; the passes neither build, flip nor normalise kernels.
// - Reads outside the image take the nearest edge pixel (edge replication), clamped per
//   tap with two comparisons.
// - Every running sum is a 32-bit float: for k = 0 .. size - 1 in increasing order,
//   sum = float(double(sum) + double(sample) * double(kernel[k])). The fast passes below
//   give results bit-identical to this per-pixel formula.
// - Supported (source, target) format pairs: ifC4 -> ifC4 (ClampToByte per byte),
//   ifF4 -> ifF4, ifF -> ifF, ifC4 -> ifF (reads only the fourth byte), ifByte -> ifF.
//   Any other pair leaves the target unchanged and reports nothing.
// - Width and height are checked first (EZorException ecBadSize when they differ);
//   source and target must be different images (SettingError otherwise).
//
// Order: the running sum of each output lane depends on the order of its taps (a float
// rounding after every tap), so every lane adds its taps in increasing k. Nothing else
// depends on order: the lanes are independent. The fast passes therefore apply one tap to
// a whole row (or a band of lanes) at a time in vector lanes, float promoted to double and
// demoted after each tap, and split the rows (and, vertically, bands of lanes) into
// parallel chunks; no chunk writes another's pixels. ReferenceKernels() selects the plain
// per-pixel loops instead.
#pragma once

#include <cstdint>

#include "imaging/imagebase.h"

namespace tvq {

// Applies the kernel along every row of source into target.
void HorizontalPass(const TImageBase& source, TImageBase& target, const float* kernel,
                    std::int32_t size, std::int32_t radius);
// Applies the kernel along every column of source into target.
void VerticalPass(const TImageBase& source, TImageBase& target, const float* kernel,
                  std::int32_t size, std::int32_t radius);

}  // namespace tvq
