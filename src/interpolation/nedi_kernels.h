// Internal to the interpolation folder: the two versions of a NEDI pass that NediPass
// and NediPassC4 choose between (nedi.cpp, nedi_fast.cpp), the checks and the pixel
// selection they share, and the vector kernel of the fast ones (nedi_simd.cpp).
#pragma once

#include <cstdint>

#include "imaging/imagebase.h"
#include "imaging/imagefmt.h"
#include "imaging/progress.h"
#include "interpolation/nedi.h"

namespace tvq {

namespace nedi {

// Whether the pass computes pixel (x, y): the mask entry of its row and column parity.
inline bool Selected(const NediPassParams& params, std::int32_t x, std::int32_t y) {
  return params.mask[(y % 2) * 2 + (x % 2)] != 0;
}

// The checks every pass makes first: SettingError unless the neighbour and the training
// counts lie in 0..16 (the offset and weight tables hold 16 entries: larger counts would
// read past them), and whether an image holds any pixel (a pass over an empty one does
// nothing).
void CheckCounts(const NediPassParams& params);
bool HoldsPixels(const TImageBase& image);

}  // namespace nedi

// The plain loops of NediPass and NediPassC4 (counts checked, every image non-empty):
// fit and predict every selected pixel in row order.
void NediPassPlain(const TImageF& train, const TImageF& ref, TImageF& out,
                   const NediPassParams& params, const StopFlag* stop);
void NediPassC4Plain(const TImageC4& train, const TImageC4& ref, TImageC4& out,
                     const NediPassParams& params);

}  // namespace tvq

// The vector kernel: ridge least-squares fits of many pixels at once, one pixel per lane,
// dispatched to the best instruction set of the processor.
//
// Measured on a 512 x 512 source, one thread (bench_interpolation, CPU time): a scalar
// per-pixel fit without heap work took 255 ms against the plain loop's 352 ms; vector
// batches take 99 ms against 386 ms, and 81 ms (against 346-351 ms) when full batches
// gather their samples from the rows inside the kernel instead of through
// Batch::samples. Interleaved loads instead of the gathers took 67 ms but also read
// the pixels between the samples, which other threads may be writing meanwhile.
namespace tvq::nedisimd {

// Pixels per batch; lanes the caller leaves unused must still hold finite data.
constexpr int kBatch = 16;

// One batch of fits, one pixel per lane: samples[k][l][lane] is the training value of
// neighbour l (l < n) of training pixel k (k < m), samples[k][n][lane] that of the
// training pixel itself, and weight[k] the weight of training row k; writes
// coefficients[l][lane]. Every lane runs the operations of the plain single fit in the
// same order: design matrix A(k, l) = sample * weight and b(k) in double, normal matrix
// (sums over k in order from 0.0), ridge term on its diagonal, Gauss-Jordan inversion
// with partial pivoting (a later row only when strictly larger; a pivot below 1e-9
// makes the fit singular and its coefficients 1 / n), then inverse times (transpose
// times b). 1 <= n, m <= 16.
struct Batch {
  float samples[16][17][kBatch];
  double weight[16];
  double coefficients[16][kBatch];
};
void SolveBatch(int n, int m, double lambda, Batch& batch);

// The same, with the samples read straight from the rows of a float plane instead of
// batch.samples: sample i (in the order of Batch::samples) of lane j is
// rows[y + dy[i]][x + dx[i] + step j], for every lane j < kBatch (only those elements
// are read). Every one must lie inside its row.
struct RowSamples {
  const float* const* rows;
  std::int32_t y, x, step;  // step is 1 or 2
  const std::int32_t* dx;
  const std::int32_t* dy;
};
void SolveBatchFromRows(int n, int m, double lambda, const RowSamples& rows, Batch& batch);

}  // namespace tvq::nedisimd
