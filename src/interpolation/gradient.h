// Gradient-directed two-times upscaling (see interpolation.h for the shared rules).
//
// A separable half-sample pre-interpolation is refined by two passes: a diagonal
// pass re-estimates the (odd row, odd column) samples from eight directions, an
// axis pass re-estimates the remaining new samples from two, each direction
// weighted by the inverse of its local gradient sum. Source samples never change.
//
// Rounding: each direction's gradient sum is accumulated in double and stored
// once as a float; raw weights (std::pow in double), the normaliser T of the
// diagonal pass, normalised weights, estimates and blended values are stored as
// floats; in the axis pass the sum w_h + w_v enters the division unrounded.
//
// Order: no loop depends on the order of its samples. Every pass reads one copy of
// the planes and writes another, and the half-sample rows read only source rows (even
// rows) or even rows (odd rows); so the fast kernels run rows in parallel and samples
// in vector lanes, with the weight powers evaluated as in gradient_simd.cpp.
//
// The plane routines take compact row-major planes (row stride = width). They
// need a source of at least 2 x 2 pixels (the half-sample border formulas read
// two samples per row and column) and a factor of 2; anything else throws
// EZorException(ecBadSize).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "imaging/imagefmt.h"
#include "imaging/progress.h"

namespace tvq {

// Keeps every source sample and fills the new ones with the 4-tap half-sample
// filter (-1/8, 5/8, 5/8, -1/8), linear next to the borders and replicated in
// the last row and column. src: w * h floats; dst: (w f) * (h f) floats. Returns dst.
float* HalfSampleUpsample(const float* src, std::uint32_t w, std::uint32_t h, float* dst,
                          std::uint32_t f);

// Grey form: HalfSampleUpsample, then one diagonal and one axis pass.
//
// Every routine below that takes `stop` polls it before each row of its passes and
// throws OperationStopped once it is set, leaving the destination incomplete.
void GradientUpscalePlane(const float* src, std::uint32_t w, std::uint32_t h, float* dst,
                          std::uint32_t f, const StopFlag* stop = nullptr);

// Colour form: three planes share one set of gradient sums, weights and blend
// factors (absolute differences summed over the planes); the diagonal pass keeps
// a five-pixel frame, and both passes run twice.
void GradientUpscalePlanes3(const float* src0, const float* src1, const float* src2,
                            std::uint32_t w, std::uint32_t h, float* dst0, float* dst1, float* dst2,
                            std::uint32_t f, const StopFlag* stop = nullptr);

// Memory a caller lends to GradientUpscalePlanes3, to keep its peak low: `scratch`
// (scratchFloats floats, not overlapping any plane) holds the estimates of the passes
// of as many planes as fit, GradientEstimateFloats(w, h) floats each, instead of
// blocks of their own; `sourcesRead`, when set, is called once the sources are no
// longer read, so that the caller can free them before those blocks are taken. The
// results are the same with or without.
struct UpscaleMemory {
  float* scratch = nullptr;
  std::size_t scratchFloats = 0;
  std::function<void()> sourcesRead;
};
std::size_t GradientEstimateFloats(std::uint32_t w, std::uint32_t h);
void GradientUpscalePlanes3(const float* src0, const float* src1, const float* src2,
                            std::uint32_t w, std::uint32_t h, float* dst0, float* dst1, float* dst2,
                            std::uint32_t f, const StopFlag* stop, UpscaleMemory& memory);

// GradientUpscalePlane on images. Destination not f times the source: returns
// untouched. Non-compact views are handled through compact copies.
void GradientUpscale(const TImageF& src, TImageF& dst, std::uint32_t f = 2,
                     const StopFlag* stop = nullptr);

// GradientUpscalePlanes3 on channels 0, 1 and 2 of four-float images; channel 3
// of the destination is left as it was. Same size rule as GradientUpscale.
void GradientUpscaleColor(const TImageF4& src, TImageF4& dst, std::uint32_t f = 2,
                          const StopFlag* stop = nullptr);

}  // namespace tvq
