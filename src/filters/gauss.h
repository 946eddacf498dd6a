// Gaussian smoothing and smoothed first derivatives, built on the separable passes of
// filters/filterbase.h (correlation, edge replication, single-precision running sums).
//
// Kernels: for offsets j = -radius .. radius (tap j + radius), e = exp(-j*j / (sigma*sigma))
// evaluated in double and stored as a float; S is the float sum of these weights in
// increasing j; every weight is divided by S in float. sigma enters without a factor 2,
// so it is sqrt(2) times the standard deviation. The radius is the caller's choice.
//
// Order: the weight sum S is a float sum in increasing j and stays a serial loop (it is
// short); the passes keep each pixel's tap order (filters/filterbase.h) and run fast or
// plain as ReferenceKernels() selects.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/imagebase.h"

namespace tvq {

// The smoothing weights of GaussSmooth for a non-zero sigma: 2 * radius + 1 taps, built and
// normalised in float as described above. Throws SettingError for a negative
// radius.
std::vector<float> GaussKernel(float sigma, std::int32_t radius);

// Blurs source into target (same width and height; source may be target). The work goes
// through one temporary image shaped like whichever of the two has the larger pixel size
// (the source on a tie). sigma 0 copies (one weight of 1). Throws SettingError
// for a negative radius, EZorException ecBadSize for differing sizes.
void GaussSmooth(const TImageBase& source, TImageBase& target, float sigma, std::int32_t radius);

// Smoothed derivative along x (columns): the derivative kernel d[j] = -2 * e * j / sigma
// (divided by S) along rows, then the smoothing kernel along columns. An intensity rising
// with x gives negative values. Source and target must be different images.
// Throws EZorException ecBadSize for differing sizes, then SettingError for
// sigma 0 (or not finite) and a negative radius.
void GaussDerivX(const TImageBase& source, TImageBase& target, float sigma, std::int32_t radius);
// Smoothed derivative along y (rows): smoothing along rows, derivative along columns.
void GaussDerivY(const TImageBase& source, TImageBase& target, float sigma, std::int32_t radius);

}  // namespace tvq
