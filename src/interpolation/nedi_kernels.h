// Vector kernel of the NEDI upscaler (nedi.cpp): ridge least-squares fits of many
// pixels at once, one pixel per lane, dispatched to the best instruction set of the
// processor. Internal to the interpolation folder.
//
// Measured on a 512 x 512 source, one thread (bench_interpolation, CPU time): a scalar
// per-pixel fit without heap work took 255 ms against the plain loop's 352 ms; vector
// batches take 99 ms against 386 ms.
#pragma once

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

}  // namespace tvq::nedisimd
