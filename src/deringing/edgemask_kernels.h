// The plain loops and fast twins of the edge mask routines (edgemask.cpp,
// edgemask_fast.cpp), the SIMD row kernels (edgemask_simd.cpp) and the rules they
// share; internal to the folder.
#pragma once

#include <cstdint>
#include <vector>

#include "deringing/edgemask.h"

namespace tvq {

inline std::int32_t Clamp(std::int32_t v, std::int32_t high) {
  return v < 0 ? 0 : (v > high ? high : v);
}

// SettingError unless 0 <= radius and the window side 2 * radius + 1 is a 32-bit
// integer.
void RequireWindowRadius(std::int32_t radius);

// True when there is something to compute: the two images have one size and it is not
// empty. Otherwise the mask routines return silently and leave their target as it
// was: they report no size mismatch, and callers rely on that.
inline bool HasWork(const TImageF& source, const TImageF& target) {
  if (target.Width() != source.Width() || target.Height() != source.Height()) return false;
  return source.Width() != 0 && source.Height() != 0;
}

// A dilation radius below 0 is 0, and one reaching past both ends of every line of a
// w x h plane already covers all of it.
inline std::int32_t DilationReach(std::int32_t radius, std::int32_t w, std::int32_t h) {
  if (radius < 0) radius = 0;
  return std::min(radius, std::max(w, h));
}

// The unnormalised neighbour profile g[k + radius] = exp(-k^2 / (2 sigma^2)).
// For sigma 0 the exponent is 0/0 at the centre; the profile then takes its
// limit for sigma -> 0: 1 at the centre and 0 elsewhere.
std::vector<float> NeighbourProfile(std::int32_t radius, float sigma);

// The routines after the entry points' checks. The plain loops are the definition
// (EdgeMaskPlain: clamped reads, x outer, y inner); the fast twins give the same bits.
void EdgeMaskPlain(const TImageF& source, TImageF& mask, std::int32_t radius, float threshold,
                   std::int32_t measurement, float noise, float multiplier, float sigma);
void EdgeMaskFast(const TImageF& source, TImageF& mask, std::int32_t radius, float threshold,
                  std::int32_t measurement, float noise, float multiplier, float sigma);
void MaxDilatePlain(const TImageF& source, TImageF& destination, std::int32_t radius);
void MaxDilateFast(const TImageF& source, TImageF& destination, std::int32_t radius);
void MaskBlendPlain(TImageF& luma, const TImageF& untouched, const TImageF& mask);
void MaskBlendFast(TImageF& luma, const TImageF& untouched, const TImageF& mask);

// Row kernels of the fast routines and of the Deringing glue, dispatched to the processor's SIMD
// instruction set (edgemask_simd.cpp). Each lane repeats the plain loop's operations for one
// column.
namespace edgemask_kernels {
// out[x], 1 <= x < w - 1: the local (maximum == false) or maximum variation.
void VariationRow(const float* up, const float* row, const float* down, float* out, std::int32_t w,
                  bool maximum);
// out[x] = sqrt(gx^2 + gy^2) in double.
void GradientNormRow(const float* gx, const float* gy, float* out, std::int32_t w);
// out[i] = noise + multiplier * m[i] in double, 0 <= i < count.
void ComparisonRow(const float* m, double* out, std::int32_t count, double noise,
                   double multiplier);
// Window counts of one row; v, the rows and counts reach whole vectors past w. Vectors
// whose v are all at most `quiet` (below every right-hand side) count nothing.
void CountRow(const float* v, const double* const* rows, const float* g, std::int32_t radius,
              std::int32_t w, double quiet, std::int64_t* counts);
// Horizontal running maximum of a row padded by radius on the left.
void DilateRow(const float* p, float* out, std::int32_t w, std::int32_t radius);
// Vertical running maximum: centre first, then rows[0 .. count - 1].
void DilateColumns(const float* const* rows, std::int32_t count, const float* centre, float* out,
                   std::int32_t w);
// One row of MaskBlend.
void BlendRow(float* l, const float* u, const float* m, std::int32_t w);
// luma[x] = float(0.114 B + 0.587 G + 0.299 R) in double, of a picture row with 3 or 4
// bytes per pixel.
void LumaRow(const std::uint8_t* src, std::int32_t channels, float* luma, std::int32_t w);
// One row of the Deringing result from the picture row src: each of blue, green and
// red becomes float(float(channel - u) + l) in double, u the row's luma as LumaRow
// forms it and l the deringed luma, blended with u by the mask row unless mask is
// null; the fourth float is the fourth byte (0 with 3 bytes per pixel).
void RecombineRow(const std::uint8_t* src, std::int32_t channels, const float* luma,
                  const float* mask, float* colour, std::int32_t w);
}  // namespace edgemask_kernels

}  // namespace tvq
