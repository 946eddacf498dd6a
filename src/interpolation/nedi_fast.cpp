// The NEDI passes run in place out of order, in parallel rows with their fits in vector
// lanes, where that gives the plain loop's result, and the choice between them and the
// plain loops of nedi.cpp.
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "imaging/dispatch.h"
#include "imaging/errors.h"
#include "imaging/parallel.h"
#include "interpolation/nedi.h"
#include "interpolation/nedi_kernels.h"
#include "numeric/mathmethods.h"

namespace tvq {

namespace {

using nedi::Selected;

// SolveRidge for one fit without heap work: the same operations in the same order
// (design matrix transposed into the normal matrix, ridge term, Gauss-Jordan inversion
// with partial pivoting over whole rows, then inverse times transpose times b).
// kN > 0 fixes the neighbour count at compile time, 0 reads it from n.
template <int kN>
class RidgeFit {
 public:
  RidgeFit(std::int32_t n, std::int32_t m, double lambda)
      : n_(kN > 0 ? kN : n), m_(m), lambda_(lambda) {}

  double& A(std::int32_t k, std::int32_t l) { return a_[k][l]; }
  double& B(std::int32_t k) { return b_[k]; }

  // Solves into coefficients[0..n).
  void Solve(double* coefficients) {
    const std::int32_t n = kN > 0 ? kN : n_;
    const std::int32_t m = m_;
    for (std::int32_t i = 0; i < n; ++i)
      for (std::int32_t k = 0; k < n; ++k) {
        double sum = 0.0;
        for (std::int32_t j = 0; j < m; ++j) sum = sum + a_[j][k] * a_[j][i];
        q_[i][k] = sum;
      }
    for (std::int32_t i = 0; i < n; ++i) q_[i][i] += lambda_;
    if (!Invert(n)) {
      for (std::int32_t i = 0; i < n; ++i) coefficients[i] = 1.0 / n;
      return;
    }
    double tb[16];
    for (std::int32_t i = 0; i < n; ++i) {
      double sum = 0.0;
      for (std::int32_t j = 0; j < m; ++j) sum = sum + a_[j][i] * b_[j];
      tb[i] = sum;
    }
    for (std::int32_t i = 0; i < n; ++i) {
      double sum = 0.0;
      for (std::int32_t j = 0; j < n; ++j) sum = sum + inverse_[i][j] * tb[j];
      coefficients[i] = sum;
    }
  }

 private:
  // Inverts q_ into inverse_ (q_ is consumed); false when a pivot falls below 1e-9.
  bool Invert(std::int32_t n) {
    for (std::int32_t i = 0; i < n; ++i)
      for (std::int32_t j = 0; j < n; ++j) inverse_[i][j] = i == j ? 1.0 : 0.0;
    for (std::int32_t i = 0; i < n; ++i) {
      double largest = 0.0;
      std::int32_t pivot = i;
      for (std::int32_t j = i; j < n; ++j) {
        const double magnitude = std::fabs(q_[j][i]);
        if (magnitude > largest) {
          largest = magnitude;
          pivot = j;
        }
      }
      if (largest < 1e-9) return false;
      if (pivot != i)
        for (std::int32_t c = 0; c < n; ++c) {
          std::swap(q_[i][c], q_[pivot][c]);
          std::swap(inverse_[i][c], inverse_[pivot][c]);
        }
      const double r = 1.0 / q_[i][i];
      for (std::int32_t c = 0; c < n; ++c) q_[i][c] = q_[i][c] * r;
      for (std::int32_t c = 0; c < n; ++c) inverse_[i][c] = inverse_[i][c] * r;
      for (std::int32_t j = i + 1; j < n; ++j) Eliminate(n, i, j);
    }
    for (std::int32_t i = n - 1; i >= 1; --i)
      for (std::int32_t j = 0; j < i; ++j) Eliminate(n, i, j);
    return true;
  }

  // Row j of both matrices += -q(j, i) times row i.
  void Eliminate(std::int32_t n, std::int32_t i, std::int32_t j) {
    const double x = -q_[j][i];
    for (std::int32_t c = 0; c < n; ++c) inverse_[j][c] = inverse_[j][c] + x * inverse_[i][c];
    for (std::int32_t c = 0; c < n; ++c) q_[j][c] = q_[j][c] + x * q_[i][c];
  }

  std::int32_t n_, m_;
  double lambda_;
  double a_[16][16];
  double b_[16];
  double q_[16][16];
  double inverse_[16][16];
};

// Fits pixel (x, y) into coefficients[0..n); sample(x, y) reads a training value.
template <int kN, typename Sample>
void FitFast(const NediPassParams& params, RidgeFit<kN>& fit, std::int32_t x, std::int32_t y,
             Sample sample, double* coefficients) {
  const std::int32_t n = kN > 0 ? kN : params.n;
  for (std::int32_t k = 0; k < params.m; ++k) {
    const std::int32_t tx = x + params.trainDx[k];
    const std::int32_t ty = y + params.trainDy[k];
    const double t = params.trainWeight[k];
    for (std::int32_t l = 0; l < n; ++l)
      fit.A(k, l) = sample(tx + params.trainScaleDx[l], ty + params.trainScaleDy[l]) * t;
    fit.B(k) = sample(tx, ty) * t;
  }
  fit.Solve(coefficients);
}

// The pixels a pass reads, relative to the computed pixel, and whether the pass can
// run out of order in place: no read of an unclamped offset lands on a pixel of the
// class being computed. The offsets span [minX, maxX] x [minY, maxY].
struct PassReach {
  bool independent = true;
  std::int32_t minX = 0, maxX = 0, minY = 0, maxY = 0;
};

PassReach Reach(const NediPassParams& params) {
  PassReach reach;
  const auto add = [&](std::int32_t dx, std::int32_t dy) {
    reach.minX = std::min(reach.minX, dx);
    reach.maxX = std::max(reach.maxX, dx);
    reach.minY = std::min(reach.minY, dy);
    reach.maxY = std::max(reach.maxY, dy);
    for (int py = 0; py < 2; ++py)
      for (int px = 0; px < 2; ++px)
        if (params.mask[py * 2 + px] != 0 &&
            params.mask[((py + dy) & 1) * 2 + ((px + dx) & 1)] != 0)
          reach.independent = false;
  };
  for (std::int32_t k = 0; k < params.m; ++k) {
    add(params.trainDx[k], params.trainDy[k]);
    for (std::int32_t l = 0; l < params.n; ++l)
      add(params.trainDx[k] + params.trainScaleDx[l], params.trainDy[k] + params.trainScaleDy[l]);
  }
  for (std::int32_t l = 0; l < params.n; ++l) add(params.predictDx[l], params.predictDy[l]);
  return reach;
}

// Runs one in-place pass (train, ref and out are one image) out of order where that
// gives the same result, and returns false (nothing done) where it may not.
//
// Interior pixels, whose reads all stay inside the image and which lie off the
// outermost rows and columns, read only pixels of other classes (Reach), which the
// pass does not change, and no pixel reads them (unclamped reads land on other
// classes, clamped ones on the outermost rows and columns): they run in parallel
// rows, their fits in vector lanes. The remaining border pixels then run one by one
// in the plain order, so each sees exactly the border pixels written before it, as in
// the plain loop.
//
// solve(x, step, count, y, batch) solves the fits of interior pixels (x + step lane, y),
// store(x, y, batch, lane) writes its prediction from the solved lane, and
// border(x, y) computes a border pixel with clamped reads.
template <typename Image, typename Solve, typename Store, typename Border>
bool RunPassInPlace(const Image& image, const NediPassParams& params, Solve solve, Store store,
                    Border border, const StopFlag* stop) {
  if (params.n < 1 || params.m < 1) return false;
  const PassReach reach = Reach(params);
  if (!reach.independent) return false;
  const std::int32_t W = image.Width(), H = image.Height();
  const std::int32_t x0 = std::max(1, -reach.minX), x1 = std::min(W - 2, W - 1 - reach.maxX);
  const std::int32_t y0 = std::max(1, -reach.minY), y1 = std::min(H - 2, H - 1 - reach.maxY);
  // Interior rows: 4 rows of 1024 pixels take about 0.2 ms (96 ms for both passes of a
  // 512 x 512 source on one thread in bench_interpolation), far above a task's cost.
  if (x0 <= x1 && y0 <= y1)
    ParallelFor(y1 - y0 + 1, 4, [&](std::int64_t begin, std::int64_t end) {
      const auto batch = std::make_unique<nedisimd::Batch>();
      for (std::int32_t y = y0 + static_cast<std::int32_t>(begin); y < y0 + end; ++y) {
        ThrowIfStopped(stop);
        // The selected pixels of a row: every pixel, every other one, or none.
        const bool even = Selected(params, 0, y), odd = Selected(params, 1, y);
        if (!even && !odd) continue;
        const std::int32_t step = even && odd ? 1 : 2;
        std::int32_t first = x0;
        if (step == 2 && (first % 2 == 0) != even) ++first;
        for (std::int32_t x = first; x <= x1; x += step * nedisimd::kBatch) {
          const std::int32_t count = std::min(nedisimd::kBatch, (x1 - x) / step + 1);
          solve(x, step, count, y, *batch);
          for (std::int32_t lane = 0; lane < count; ++lane) store(x + step * lane, y, *batch, lane);
        }
      }
    });
  for (std::int32_t y = 0; y < H; ++y) {
    const bool interiorRow = x0 <= x1 && y >= y0 && y <= y1;
    for (std::int32_t x = 0; x < W; ++x) {
      if (interiorRow && x == x0) x = x1 + 1;
      if (x < W && Selected(params, x, y)) border(x, y);
    }
  }
  return true;
}

// Row tables of an image, for reads without the clamping of Pixel().
template <typename Image>
std::vector<decltype(std::declval<Image>().Row(0))> RowTable(const Image& image) {
  std::vector<decltype(image.Row(0))> rows(static_cast<std::size_t>(image.Height()));
  for (std::int32_t y = 0; y < image.Height(); ++y)
    rows[static_cast<std::size_t>(y)] = image.Row(y);
  return rows;
}

// Offsets of the samples a batch holds for one pixel, in the order of
// nedisimd::Batch::samples (neighbours of each training pixel, then the pixel).
struct SampleOffsets {
  std::int32_t count = 0;
  std::int32_t dx[16 * 17], dy[16 * 17];

  explicit SampleOffsets(const NediPassParams& params) {
    for (std::int32_t k = 0; k < params.m; ++k) {
      for (std::int32_t l = 0; l < params.n; ++l) {
        dx[count] = params.trainDx[k] + params.trainScaleDx[l];
        dy[count++] = params.trainDy[k] + params.trainScaleDy[l];
      }
      dx[count] = params.trainDx[k];
      dy[count++] = params.trainDy[k];
    }
  }
};

// Loads the training samples of the pixels (x + step lane, y), lane < count, into
// the lanes of a batch; row(sy) gives an accessor sample(x, step lane) of row sy that
// reads without clamping. Lanes from count on repeat the first pixel.
template <typename Row>
void FillBatch(const NediPassParams& params, const SampleOffsets& offsets, std::int32_t x,
               std::int32_t step, std::int32_t count, std::int32_t y, Row row,
               nedisimd::Batch& batch) {
  for (std::int32_t k = 0; k < params.m; ++k) batch.weight[k] = params.trainWeight[k];
  std::int32_t i = 0;
  for (std::int32_t k = 0; k < params.m; ++k)
    for (std::int32_t l = 0; l <= params.n; ++l, ++i) {
      float* lanes = batch.samples[k][l];
      const auto sample = row(y + offsets.dy[i]);
      const std::int32_t sx = x + offsets.dx[i];
      if (step == 2)
        for (std::int32_t lane = 0; lane < count; ++lane) lanes[lane] = sample(sx, 2 * lane);
      else
        for (std::int32_t lane = 0; lane < count; ++lane) lanes[lane] = sample(sx, lane);
      for (std::int32_t lane = count; lane < nedisimd::kBatch; ++lane) lanes[lane] = lanes[0];
    }
}

template <int kN>
bool NediPassFast(TImageF& image, const NediPassParams& params, const StopFlag* stop) {
  const auto rows = RowTable(image);
  const SampleOffsets offsets(params);
  const double lambda = static_cast<double>(params.lambda);
  const auto sample = [&rows](std::int32_t sx, std::int32_t sy) {
    return static_cast<double>(rows[static_cast<std::size_t>(sy)][sx]);
  };
  const auto clampedSample = [&image](std::int32_t sx, std::int32_t sy) {
    return static_cast<double>(*image.Pixel(sx, sy));
  };
  // The prediction: a single-precision running sum over the neighbours in order.
  const auto predict = [&params](std::int32_t x, std::int32_t y, auto read, auto coefficient) {
    float v = 0.0f;
    for (std::int32_t l = 0; l < params.n; ++l)
      v = static_cast<float>(
          static_cast<double>(v) +
          static_cast<double>(read(x + params.predictDx[l], y + params.predictDy[l])) *
              static_cast<double>(static_cast<float>(coefficient(l))));
    return v;
  };
  return RunPassInPlace(
      image, params,
      [&](std::int32_t x, std::int32_t step, std::int32_t count, std::int32_t y,
          nedisimd::Batch& batch) {
        // A full batch (whose reads stay inside the rows, as every interior pixel's do)
        // gathers its samples in the vector kernel.
        if (count == nedisimd::kBatch) {
          for (std::int32_t k = 0; k < params.m; ++k) batch.weight[k] = params.trainWeight[k];
          const nedisimd::RowSamples samples{rows.data(), y, x, step, offsets.dx, offsets.dy};
          nedisimd::SolveBatchFromRows(params.n, params.m, lambda, samples, batch);
          return;
        }
        FillBatch(
            params, offsets, x, step, count, y,
            [&rows](std::int32_t sy) {
              const float* row = rows[static_cast<std::size_t>(sy)];
              return [row](std::int32_t sx, std::int32_t i) { return row[sx + i]; };
            },
            batch);
        nedisimd::SolveBatch(params.n, params.m, lambda, batch);
      },
      [&](std::int32_t x, std::int32_t y, const nedisimd::Batch& batch, std::int32_t lane) {
        rows[static_cast<std::size_t>(y)][x] =
            predict(x, y, sample, [&](std::int32_t l) { return batch.coefficients[l][lane]; });
      },
      [&](std::int32_t x, std::int32_t y) {
        RidgeFit<kN> fit(params.n, params.m, static_cast<double>(params.lambda));
        double a[16];
        FitFast(params, fit, x, y, clampedSample, a);
        *image.Pixel(x, y) = predict(x, y, clampedSample, [&a](std::int32_t l) { return a[l]; });
      },
      stop);
}

template <int kN>
bool NediPassC4Fast(TImageC4& image, const NediPassParams& params, const StopFlag* stop) {
  const auto rows = RowTable(image);
  const SampleOffsets offsets(params);
  const double lambda = static_cast<double>(params.lambda);
  const auto pixel = [&rows](std::int32_t px, std::int32_t py) -> const std::uint8_t* {
    return rows[static_cast<std::size_t>(py)] + 4 * static_cast<std::ptrdiff_t>(px);
  };
  const auto clampedPixel = [&image](std::int32_t px, std::int32_t py) -> const std::uint8_t* {
    return image.Pixel(px, py);
  };
  const auto clampedLuminance = [&image](std::int32_t sx, std::int32_t sy) {
    return static_cast<double>(image.Pixel(sx, sy)[3]);
  };
  // The prediction: per byte, a single-precision running sum over the neighbours.
  const auto predict = [&params](std::int32_t x, std::int32_t y, auto at, auto coefficient,
                                 std::uint8_t* target) {
    std::array<float, 4> v = {0.0f, 0.0f, 0.0f, 0.0f};
    for (std::int32_t l = 0; l < params.n; ++l) {
      const double c = static_cast<float>(coefficient(l));
      const std::uint8_t* p = at(x + params.predictDx[l], y + params.predictDy[l]);
      for (int k = 0; k < 4; ++k)
        v[k] = static_cast<float>(static_cast<double>(v[k]) + static_cast<double>(p[k]) * c);
    }
    for (int k = 0; k < 4; ++k) target[k] = ClampToByte(v[k]);
  };
  return RunPassInPlace(
      image, params,
      [&](std::int32_t x, std::int32_t step, std::int32_t count, std::int32_t y,
          nedisimd::Batch& batch) {
        FillBatch(
            params, offsets, x, step, count, y,
            [&rows](std::int32_t sy) {
              const std::uint8_t* row = rows[static_cast<std::size_t>(sy)];
              return [row](std::int32_t sx, std::int32_t i) {
                return static_cast<float>(row[4 * static_cast<std::ptrdiff_t>(sx + i) + 3]);
              };
            },
            batch);
        nedisimd::SolveBatch(params.n, params.m, lambda, batch);
      },
      [&](std::int32_t x, std::int32_t y, const nedisimd::Batch& batch, std::int32_t lane) {
        predict(
            x, y, pixel, [&](std::int32_t l) { return batch.coefficients[l][lane]; },
            rows[static_cast<std::size_t>(y)] + 4 * static_cast<std::ptrdiff_t>(x));
      },
      [&](std::int32_t x, std::int32_t y) {
        RidgeFit<kN> fit(params.n, params.m, static_cast<double>(params.lambda));
        double a[16];
        FitFast(params, fit, x, y, clampedLuminance, a);
        predict(
            x, y, clampedPixel, [&a](std::int32_t l) { return a[l]; }, image.Pixel(x, y));
      },
      stop);
}

// The fast in-place pass for the neighbour counts of the two configurations, and the
// general one; false when the plain loop must run.
template <typename Image, typename Pass4, typename Pass12, typename PassAny>
bool FastInPlace(const Image& train, const Image& ref, Image& out, const NediPassParams& params,
                 const StopFlag* stop, Pass4 pass4, Pass12 pass12, PassAny passAny) {
  if (&train != &out || &ref != &out) return false;
  if (params.n == 4) return pass4(out, params, stop);
  if (params.n == 12) return pass12(out, params, stop);
  return passAny(out, params, stop);
}

}  // namespace

void NediPass(const TImageF& train, const TImageF& ref, TImageF& out, const NediPassParams& params,
              const StopFlag* stop) {
  nedi::CheckCounts(params);
  if (!nedi::HoldsPixels(train) || !nedi::HoldsPixels(ref) || !nedi::HoldsPixels(out)) return;
  RunKernels([&] { NediPassPlain(train, ref, out, params, stop); },
             [&] {
               if (!FastInPlace(train, ref, out, params, stop, NediPassFast<4>, NediPassFast<12>,
                                NediPassFast<0>))
                 NediPassPlain(train, ref, out, params, stop);
             });
}

void NediPassC4(const TImageC4& train, const TImageC4& ref, TImageC4& out,
                const NediPassParams& params) {
  nedi::CheckCounts(params);
  if (!nedi::HoldsPixels(train) || !nedi::HoldsPixels(ref) || !nedi::HoldsPixels(out)) return;
  RunKernels([&] { NediPassC4Plain(train, ref, out, params); },
             [&] {
               if (!FastInPlace(train, ref, out, params, nullptr, NediPassC4Fast<4>,
                                NediPassC4Fast<12>, NediPassC4Fast<0>))
                 NediPassC4Plain(train, ref, out, params);
             });
}

}  // namespace tvq
