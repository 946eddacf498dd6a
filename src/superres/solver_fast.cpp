// The solver's threaded and vectorised twins of the plain loops in solver.cpp, giving the
// same floats, and the public entry points, which check their inputs and run the plain
// or the fast routine as ReferenceKernels() says.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>

#include "imaging/dispatch.h"
#include "imaging/errors.h"
#include "imaging/parallel.h"
#include "superres/solver.h"
#include "superres/solver_kernels.h"

namespace tvq {

namespace solver {

namespace {

// The weight of the stabilizer: a plane, or one value for every pixel.
struct WeightSource {
  const TImageF* plane = nullptr;
  double constant = 0.0;
};

// The Gaussian of the imaging model as GaussSmooth builds it: taps
// float(exp(-j^2 / sigma^2)) for j = -3 .. 3, each divided by their float sum; sigma
// 0 gives the single tap 1.
struct BlurKernel {
  std::int32_t radius = kBlurRadius;
  std::int32_t size = 2 * kBlurRadius + 1;
  std::array<float, 2 * kBlurRadius + 1> taps{};
  bool finite = true;
};

BlurKernel MakeBlurKernel(float sigma) {
  BlurKernel kernel;
  if (sigma == 0.0f) {
    sigma = 1.0f;
    kernel.radius = 0;
    kernel.size = 1;
  }
  const double s = sigma;
  float sum = 0.0f;
  for (std::int32_t j = -kernel.radius; j <= kernel.radius; ++j) {
    float& tap = kernel.taps[static_cast<std::size_t>(j + kernel.radius)];
    tap = static_cast<float>(std::exp(-static_cast<double>(j) * static_cast<double>(j) / (s * s)));
    sum += tap;
  }
  for (std::int32_t k = 0; k < kernel.size; ++k) {
    kernel.taps[static_cast<std::size_t>(k)] /= sum;
    kernel.finite = kernel.finite && std::isfinite(kernel.taps[static_cast<std::size_t>(k)]);
  }
  return kernel;
}

inline std::int32_t Clamp(std::int32_t v, std::int32_t n) {
  return std::clamp(v, 0, n - 1);
}

// Rows per parallel chunk, and rows per block of work inside a chunk: each block's
// scratch (the blurred rows it needs, with a halo of 3 rows recomputed by its
// neighbours) stays small and cached, whatever size the chunk has.
constexpr std::int64_t kRowGrain = 32;
constexpr std::int32_t kBlockRows = 64;     // of the estimate
constexpr std::int32_t kLowBlockRows = 64;  // of Y

// The data term without its back-projection: psi(D H X - Y) at the w x h low-resolution
// positions, and the mean residual for norm 1.
//
// Only the samples (2x, 2y) of the blurred estimate are read, so the forward blur
// computes its horizontal pass at even columns only (all rows a chunk needs) and its
// vertical pass at even rows: the same running sums of the same samples as the full
// passes at those positions.
class DataTerm {
 public:
  // Returns false (nothing computed) when a blur tap is not finite: the sparse
  // back-projection below skips zero samples, which is exact only for finite taps.
  bool Compute(const TImageF& x, const TImageF& y, double r, double p) {
    backKernel_ = MakeBlurKernel(static_cast<float>(r));
    const bool forward = r > 0.0;
    const BlurKernel kernel = forward ? backKernel_ : BlurKernel{};
    if (!backKernel_.finite || !kernel.finite) return false;
    w_ = y.Width();
    h_ = y.Height();
    const std::size_t count = static_cast<std::size_t>(w_) * static_cast<std::size_t>(h_);
    psi_.resize(count);
    norm1_ = p == 1.0;
    if (norm1_) {
      blurred_.resize(count);
      y_ = &y;
    }
    const std::int32_t width = x.Width();
    const std::int32_t height = x.Height();
    const std::int32_t radius = kernel.radius;

    auto block = [&](std::int32_t lo, std::int32_t hi) {
      const std::size_t w = static_cast<std::size_t>(w_);
      std::vector<float> line(w);
      std::vector<float> across;  // horizontal pass of the rows first .. last
      std::int32_t first = 0;
      if (forward) {
        first = Clamp(2 * lo - radius, height);
        const std::int32_t last = Clamp(2 * (hi - 1) + radius, height);
        across.resize(static_cast<std::size_t>(last - first + 1) * w);
        // Even and odd samples of the edge-replicated row: even[i] = X(2i - radius),
        // odd[i] = X(2i + 1 - radius), so tap k of output 2j reads even[j + k/2] for
        // even k and odd[j + k/2] for odd k.
        std::vector<float> even(w + static_cast<std::size_t>(radius) + 1);
        std::vector<float> odd(even.size());
        std::array<const float*, 2 * kBlurRadius + 1> sources;
        for (std::int32_t row = first; row <= last; ++row) {
          const float* source = x.Row(row);
          // Inside [inner, innerEnd) both samples lie within the row.
          const auto n = static_cast<std::int32_t>(even.size());
          const std::int32_t innerEnd = std::min(n, (width + radius) / 2);
          const std::int32_t inner = std::min(innerEnd, (radius + 1) / 2);
          auto clamped = [&](std::int32_t i) {
            const std::int32_t at = 2 * i - radius;
            even[static_cast<std::size_t>(i)] = source[Clamp(at, width)];
            odd[static_cast<std::size_t>(i)] = source[Clamp(at + 1, width)];
          };
          for (std::int32_t i = 0; i < inner; ++i) clamped(i);
          rows::Deinterleave(source + 2 * inner - radius, even.data() + inner, odd.data() + inner,
                             innerEnd - inner);
          for (std::int32_t i = innerEnd; i < n; ++i) clamped(i);
          for (std::int32_t k = 0; k < kernel.size; ++k)
            sources[static_cast<std::size_t>(k)] = (k % 2 == 0 ? even.data() : odd.data()) + k / 2;
          rows::WeightedSum(across.data() + static_cast<std::size_t>(row - first) * w,
                            sources.data(), kernel.taps.data(), kernel.size, w_);
        }
      }
      std::array<const float*, 2 * kBlurRadius + 1> sources;
      for (std::int32_t ly = lo; ly < hi; ++ly) {
        float* b = line.data();
        if (forward) {
          for (std::int32_t k = 0; k < kernel.size; ++k)
            sources[static_cast<std::size_t>(k)] =
                across.data() +
                static_cast<std::size_t>(Clamp(2 * ly + k - radius, height) - first) * w;
          rows::WeightedSum(b, sources.data(), kernel.taps.data(), kernel.size, w_);
        } else {
          const float* source = x.Row(2 * ly);
          for (std::int32_t lx = 0; lx < w_; ++lx) b[lx] = source[2 * lx];
        }
        const float* low = y.Row(ly);
        float* out = psi_.data() + static_cast<std::size_t>(ly) * w;
        if (p == 2.0) {
          for (std::int32_t lx = 0; lx < w_; ++lx)
            out[lx] = static_cast<float>(static_cast<double>(b[lx]) - static_cast<double>(low[lx]));
        } else if (p == 1.0) {
          // SIMD signs: the scalar loop took about 3% of a whole resample, this 1.6%
          // (perf, one thread, 1024 x 1024 input).
          rows::SignOfDifference(b, low, out, w_);
          std::copy(b, b + w, blurred_.begin() + static_cast<std::ptrdiff_t>(ly) * w_);
        } else {
          for (std::int32_t lx = 0; lx < w_; ++lx) {
            const double d = static_cast<double>(b[lx]) - static_cast<double>(low[lx]);
            out[lx] =
                d == 0.0 ? 0.0f : static_cast<float>(Sign(d) * std::pow(std::fabs(d), p - 1.0));
          }
        }
      }
    };
    ParallelFor(h_, kLowBlockRows, [&](std::int64_t begin, std::int64_t end) {
      for (auto lo = static_cast<std::int32_t>(begin); lo < end; lo += kLowBlockRows)
        block(lo, static_cast<std::int32_t>(std::min<std::int64_t>(end, lo + kLowBlockRows)));
    });
    return true;
  }

  // The mean residual of norm 1 (0 for any other norm): the single-precision sum of
  // the |d| terms in the order x outer, y inner, kept serial. Walking a column of the
  // rows touches a new page and, rows being a multiple of 4 KB apart, the same cache
  // sets at every step (16% of a whole resample); so the sum runs over strips of 16
  // columns copied row by row into a small buffer, and the copy of the next strip is
  // spread over the additions of the current one, whose latency it fills (a separate
  // transpose of the plane took 6% of a whole resample, perf, one thread).
  float MeanResidual() const {
    if (!norm1_) return 0.0f;
    constexpr std::int32_t kStrip = 16;
    const std::size_t h = static_cast<std::size_t>(h_);
    std::vector<float> buffers(4 * kStrip * h);
    float* blurred[2] = {buffers.data(), buffers.data() + kStrip * h};
    float* low[2] = {buffers.data() + 2 * kStrip * h, buffers.data() + 3 * kStrip * h};
    // Row ly of the strip from column x0: blurred[k][ly * kStrip + c], likewise low.
    auto copyRow = [&](std::int32_t x0, std::int32_t ly, std::int32_t k) {
      const std::int32_t n = std::min(kStrip, w_ - x0);
      const float* b =
          blurred_.data() + static_cast<std::size_t>(ly) * static_cast<std::size_t>(w_) + x0;
      const float* l = y_->Row(ly) + x0;
      float* bt = blurred[k] + static_cast<std::size_t>(ly) * kStrip;
      float* lt = low[k] + static_cast<std::size_t>(ly) * kStrip;
      if (n == kStrip) {
        std::memcpy(bt, b, sizeof(float) * kStrip);
        std::memcpy(lt, l, sizeof(float) * kStrip);
      } else {
        std::copy(b, b + n, bt);
        std::copy(l, l + n, lt);
      }
    };
    for (std::int32_t ly = 0; ly < h_; ++ly) copyRow(0, ly, 0);
    float residual = 0.0f;
    for (std::int32_t x0 = 0, k = 0; x0 < w_; x0 += kStrip, k ^= 1) {
      const std::int32_t columns = std::min(kStrip, w_ - x0);
      const bool more = x0 + kStrip < w_;
      std::int32_t next = 0;  // rows of the next strip copied so far
      for (std::int32_t c = 0; c < columns; ++c)
        for (std::int32_t ly = 0; ly < h_; ++ly) {
          if (more && next < h_ && (ly % kStrip) == 0) copyRow(x0 + kStrip, next++, k ^ 1);
          const std::size_t at = static_cast<std::size_t>(ly) * kStrip + c;
          const double d = static_cast<double>(blurred[k][at]) - static_cast<double>(low[k][at]);
          residual = static_cast<float>(static_cast<double>(residual) + std::fabs(d));
        }
      if (more)
        while (next < h_) copyRow(x0 + kStrip, next++, k ^ 1);
    }
    return static_cast<float>(static_cast<double>(residual) /
                              (static_cast<double>(w_) * static_cast<double>(h_)));
  }

  // Rows [begin, end) of the back-projected gradient: row r is written to target(r)
  // and then handed to done(r, row). The gradient before the blur is psi at (2x, 2y)
  // and 0 elsewhere. A running sum that starts at +0 is never -0, so adding a zero
  // product (finite taps) never changes it: the horizontal pass of the even rows
  // skips the zero samples, and the vertical pass skips the odd rows of that pass,
  // which are +0 everywhere.
  template <typename Target, typename Done>
  void BackProject(std::int32_t begin, std::int32_t end, Target target, Done done) const {
    for (std::int32_t lo = begin; lo < end; lo += kBlockRows)
      BackProjectBlock(lo, std::min(end, lo + kBlockRows), target, done);
  }

 private:
  template <typename Target, typename Done>
  void BackProjectBlock(std::int32_t begin, std::int32_t end, Target target, Done done) const {
    const BlurKernel& kernel = backKernel_;
    const std::int32_t radius = kernel.radius;
    const std::int32_t width = 2 * w_;
    const std::int32_t height = 2 * h_;
    const std::int32_t first = Clamp(begin - radius, height) / 2;
    const std::int32_t last = Clamp(end - 1 + radius, height) / 2;
    const std::size_t stride = static_cast<std::size_t>(width);
    std::vector<float> across(static_cast<std::size_t>(last - first + 1) * stride);
    std::vector<float> even(static_cast<std::size_t>(w_));
    std::vector<float> odd(even.size());
    std::array<const float*, 2 * kBlurRadius + 1> sources;
    std::array<float, 2 * kBlurRadius + 1> taps;
    // Pairs of outputs (2j, 2j + 1) with j in [inner, innerEnd) read no clamped column;
    // output 2j takes the taps k with k - radius even, psi[j + (k - radius) / 2], and
    // output 2j + 1 the others, psi[j + (k - radius + 1) / 2]: the non-zero samples in
    // the order of the taps.
    const std::int32_t innerEnd = std::max(0, (width - 1 - radius) / 2);
    const std::int32_t inner = std::min(innerEnd, (radius + 1) / 2);
    for (std::int32_t ly = first; ly <= last; ++ly) {
      const float* psi = psi_.data() + static_cast<std::size_t>(ly) * static_cast<std::size_t>(w_);
      float* out = across.data() + static_cast<std::size_t>(ly - first) * stride;
      // Edge outputs: every tap of the zero-filled row, clamped.
      auto edge = [&](std::int32_t c) {
        float sum = 0.0f;
        for (std::int32_t k = 0; k < kernel.size; ++k) {
          const std::int32_t at = Clamp(c + k - radius, width);
          const float sample = at % 2 == 0 ? psi[at / 2] : 0.0f;
          sum =
              static_cast<float>(static_cast<double>(sum) +
                                 static_cast<double>(sample) *
                                     static_cast<double>(kernel.taps[static_cast<std::size_t>(k)]));
        }
        out[c] = sum;
      };
      for (std::int32_t c = 0; c < 2 * inner; ++c) edge(c);
      for (std::int32_t c = 2 * innerEnd; c < width; ++c) edge(c);
      if (innerEnd <= inner) continue;
      for (std::int32_t parity = 0; parity < 2; ++parity) {
        std::int32_t count = 0;
        for (std::int32_t k = 0; k < kernel.size; ++k) {
          if ((k - radius + parity) % 2 != 0) continue;
          sources[static_cast<std::size_t>(count)] = psi + inner + (k - radius + parity) / 2;
          taps[static_cast<std::size_t>(count)] = kernel.taps[static_cast<std::size_t>(k)];
          ++count;
        }
        rows::WeightedSum(parity == 0 ? even.data() : odd.data(), sources.data(), taps.data(),
                          count, innerEnd - inner);
      }
      rows::Interleave(even.data(), odd.data(), out + 2 * inner, innerEnd - inner);
    }
    for (std::int32_t row = begin; row < end; ++row) {
      std::int32_t count = 0;
      for (std::int32_t k = 0; k < kernel.size; ++k) {
        const std::int32_t source = Clamp(row + k - radius, height);
        if (source % 2 != 0) continue;
        sources[static_cast<std::size_t>(count)] =
            across.data() + static_cast<std::size_t>(source / 2 - first) * stride;
        taps[static_cast<std::size_t>(count)] = kernel.taps[static_cast<std::size_t>(k)];
        ++count;
      }
      float* out = target(row);
      rows::WeightedSum(out, sources.data(), taps.data(), count, width);
      done(row, out);
    }
  }

  std::int32_t w_ = 0;
  std::int32_t h_ = 0;
  BlurKernel backKernel_;
  bool norm1_ = false;
  std::vector<float> psi_;
  std::vector<float> blurred_;  // norm 1: the blurred samples, w x h
  const TImageF* y_ = nullptr;  // norm 1: Y
};

// Adds the (bilateral) TV term of row `row` to grad and writes either grad (estimate
// null) or the descended estimate to out. Columns whose offsets stay inside the row
// run through the SIMD kernel; the columns next to the edges read clamped columns.
class BtvRows {
 public:
  BtvRows(std::int32_t width, const WeightSource& weight, double base, std::int32_t radius)
      : width_(width), weight_(weight), offsets_(BtvOffsets(base, radius)) {
    for (const BtvOffset& o : offsets_) {
      margin_ = std::max(margin_, std::abs(o.l));
      reach_ = std::max(reach_, o.m);
      offsetWeights_.push_back(o.weight);
    }
  }

  // Rows above and below a row that the term reads.
  std::int32_t Reach() const { return reach_; }
  std::size_t Offsets() const { return offsets_.size(); }

  // Row `row` of the term: `around[Reach() + k]` is the estimate's row row + k, clamped
  // (k = -Reach() .. Reach()). above and below: caller-owned scratch of Offsets()
  // pointers each.
  void Row(std::int32_t row, const float* const* around, const float* grad, const float* estimate,
           double step, float* out, const float** above, const float** below) const {
    const std::int32_t width = width_;
    const float* centre = around[reach_];
    const float* weight = weight_.plane != nullptr ? weight_.plane->Row(row) : nullptr;
    const std::int32_t n = static_cast<std::int32_t>(offsets_.size());
    auto edgePixel = [&](std::int32_t col) {
      const double w = weight != nullptr ? static_cast<double>(weight[col]) : weight_.constant;
      float g = grad[col];
      for (const BtvOffset& o : offsets_) {
        const float a = around[reach_ + o.m][Clamp(col + o.l, width)];
        const float b = around[reach_ - o.m][Clamp(col - o.l, width)];
        g = static_cast<float>(static_cast<double>(g) + SignPair(centre[col], a, b) * o.weight * w);
      }
      if (estimate != nullptr)
        g = static_cast<float>(static_cast<double>(estimate[col]) - step * static_cast<double>(g));
      out[col] = g;
    };
    const std::int32_t inner = std::min(margin_, width);
    const std::int32_t innerEnd = std::max(inner, width - margin_);
    for (std::int32_t col = 0; col < inner; ++col) edgePixel(col);
    for (std::int32_t col = innerEnd; col < width; ++col) edgePixel(col);
    if (innerEnd <= inner) return;
    for (std::int32_t o = 0; o < n; ++o) {
      const BtvOffset& offset = offsets_[static_cast<std::size_t>(o)];
      above[o] = around[reach_ + offset.m] + inner + offset.l;
      below[o] = around[reach_ - offset.m] + inner - offset.l;
    }
    rows::BtvRun run;
    run.centre = centre + inner;
    run.above = above;
    run.below = below;
    run.offsetWeights = offsetWeights_.data();
    run.offsets = n;
    run.weight = weight != nullptr ? weight + inner : nullptr;
    run.constantWeight = weight_.constant;
    run.gradient = grad + inner;
    run.estimate = estimate != nullptr ? estimate + inner : nullptr;
    run.step = step;
    run.out = out + inner;
    rows::BtvDescend(run, innerEnd - inner);
  }

 private:
  std::int32_t width_;
  WeightSource weight_;
  std::vector<BtvOffset> offsets_;
  std::vector<double> offsetWeights_;
  std::int32_t margin_ = 0;
  std::int32_t reach_ = 0;
};

// Laplacian stabilizer on rows [begin, end): the plain rolling-row loop started at
// `begin`; each pixel gets one addition, so any split into row ranges gives the
// same floats.
void LaplaceRows(const TImageF& x, TImageF& g, const WeightSource& weights, std::int32_t p,
                 std::int32_t begin, std::int32_t end) {
  const std::int32_t width = x.Width();
  const std::vector<std::int32_t> column = ClampedColumns(width, 2);
  std::vector<double> above(width + 2), current(width + 2), below(width + 2);
  PhiLaplacianRow(x, column, p, begin - 1, above);
  PhiLaplacianRow(x, column, p, begin, current);
  for (std::int32_t row = begin; row < end; ++row) {
    PhiLaplacianRow(x, column, p, row + 1, below);
    const float* weight = weights.plane != nullptr ? weights.plane->Row(row) : nullptr;
    float* grad = g.Row(row);
    for (std::int32_t col = 0; col < width; ++col) {
      const std::int32_t i = col + 1;
      const double term = 4.0 * current[i] - current[i - 1] - current[i + 1] - above[i] - below[i];
      const double w = weight != nullptr ? static_cast<double>(weight[col]) : weights.constant;
      grad[col] = static_cast<float>(static_cast<double>(grad[col]) + term * w);
    }
    std::swap(above, current);
    std::swap(current, below);
  }
}

// The fast steps with their scratch, kept from one iteration to the next.
class FastSolver {
 public:
  FastSolver(const TImageF& y, const WeightSource& weight, const SolverSettings& settings)
      : y_(y), weight_(weight), settings_(settings) {}

  // One step on x in place. Returns false, leaving x untouched, when the blur has
  // non-finite taps; the caller then runs the plain step.
  bool Step(StepKind kind, TImageF& x, double s, SolverMeasures& measures) {
    const double norm = kind == StepKind::kMixed ? 2.0 : settings_.norm;
    if (!data_.Compute(x, y_, settings_.gaussRadius, norm)) return false;
    // The serial residual chain runs beside the parallel rest of the step: for a
    // 1024 x 1024 input it is about 4.5 ms an iteration (perf, one thread: 10% of a
    // whole resample).
    ParallelFor(2, 1, [&](std::int64_t begin, std::int64_t end) {
      for (std::int64_t part = begin; part < end; ++part) {
        if (part == 0)
          measures.meanResidual = data_.MeanResidual();
        else if (kind == StepKind::kLaplace)
          LaplaceStep(x, s);
        else
          BtvStep(x, s);
      }
    });
    return true;
  }

 private:
  void LaplaceStep(TImageF& x, double s) {
    if (gradient_.Width() != x.Width() || gradient_.Height() != x.Height())
      gradient_ = TImageF(x.Width(), x.Height());
    ParallelFor(x.Height(), kRowGrain, [&](std::int64_t begin, std::int64_t end) {
      const auto lo = static_cast<std::int32_t>(begin);
      const auto hi = static_cast<std::int32_t>(end);
      data_.BackProject(
          lo, hi, [&](std::int32_t row) { return gradient_.Row(row); },
          [](std::int32_t, float*) {});
      LaplaceRows(x, gradient_, weight_, static_cast<std::int32_t>(settings_.norm), lo, hi);
    });
    ParallelFor(x.Height(), kRowGrain, [&](std::int64_t begin, std::int64_t end) {
      for (auto row = static_cast<std::int32_t>(begin); row < end; ++row)
        DescendRow(x, gradient_, x, s, row);
    });
  }

  // Data term, bilateral TV and descent row by row, in place. The term of a row reads
  // the old rows within Reach() of it, so each band of rows keeps its new rows back
  // until the rows below no longer read the old ones, and reads the old rows of its
  // neighbours from copies taken before any band starts.
  void BtvStep(TImageF& x, double s) {
    const std::int32_t width = x.Width();
    const std::int32_t height = x.Height();
    const BtvRows btv(width, weight_, settings_.btvBase, settings_.stabilizerRadius);
    const std::int32_t reach = btv.Reach();
    const std::int32_t bands = (height + kBlockRows - 1) / kBlockRows;
    const std::size_t stride = static_cast<std::size_t>(width);
    // Rows [b - reach, b + reach) of every band start b > 0, clamped into the plane.
    const std::size_t perEdge = 2 * static_cast<std::size_t>(reach);
    edges_.resize(static_cast<std::size_t>(std::max(0, bands - 1)) * perEdge * stride);
    ParallelFor(bands - 1, 8, [&](std::int64_t begin, std::int64_t end) {
      for (auto band = static_cast<std::int32_t>(begin); band < end; ++band)
        for (std::int32_t k = 0; k < 2 * reach; ++k) {
          const std::int32_t row = Clamp((band + 1) * kBlockRows - reach + k, height);
          std::memcpy(edges_.data() + (static_cast<std::size_t>(band) * perEdge + k) * stride,
                      x.Row(row), sizeof(float) * stride);
        }
    });
    ParallelFor(bands, 1, [&](std::int64_t begin, std::int64_t end) {
      std::vector<float> grad(stride);
      std::vector<float> pending((static_cast<std::size_t>(reach) + 1) * stride);
      std::vector<const float*> pointers(2 * btv.Offsets() + 2 * reach + 1);
      const float** around = pointers.data() + 2 * btv.Offsets();
      for (auto band = static_cast<std::int32_t>(begin); band < end; ++band) {
        const std::int32_t lo = band * kBlockRows;
        const std::int32_t hi = std::min(height, lo + kBlockRows);
        // The old row `row` as this band sees it.
        auto old = [&](std::int32_t row) -> const float* {
          row = Clamp(row, height);
          if (row < lo)
            return edges_.data() +
                   (static_cast<std::size_t>(band - 1) * perEdge + (row - lo + reach)) * stride;
          if (row >= hi)
            return edges_.data() +
                   (static_cast<std::size_t>(band) * perEdge + (row - hi + reach)) * stride;
          return x.Row(row);
        };
        auto slot = [&](std::int32_t row) {
          return pending.data() + static_cast<std::size_t>(row % (reach + 1)) * stride;
        };
        auto flush = [&](std::int32_t row) {
          std::memcpy(x.Row(row), slot(row), sizeof(float) * stride);
        };
        data_.BackProject(
            lo, hi, [&](std::int32_t) { return grad.data(); },
            [&](std::int32_t row, float* g) {
              for (std::int32_t k = -reach; k <= reach; ++k) around[reach + k] = old(row + k);
              btv.Row(row, around, g, around[reach], s, slot(row), pointers.data(),
                      pointers.data() + btv.Offsets());
              if (row - reach >= lo) flush(row - reach);
            });
        for (std::int32_t row = std::max(lo, hi - reach); row < hi; ++row) flush(row);
      }
    });
  }

 public:
  // to = from - s * G on one row.
  static void DescendRow(const TImageF& from, const TImageF& g, TImageF& to, double s,
                         std::int32_t row) {
    rows::BtvRun run;
    run.gradient = g.Row(row);
    run.estimate = from.Row(row);
    run.step = s;
    run.out = to.Row(row);
    rows::BtvDescend(run, from.Width());
  }

 private:
  const TImageF& y_;
  WeightSource weight_;
  SolverSettings settings_;
  DataTerm data_;
  TImageF gradient_;
  std::vector<float> edges_;
};

std::vector<float> RunFast(TImageF& x, const TImageF& y, const WeightSource& weight,
                           Stabilizer stabilizer, const SolverSettings& settings,
                           const IterationParams& params, Progress& progress) {
  const StepKind kind = KindOf(stabilizer);
  std::vector<float> residuals;
  if (params.iterations > 0) residuals.reserve(static_cast<std::size_t>(params.iterations));
  StepSchedule schedule(params.mode, params.factor, params.blackStart, settings.stepBase);
  const ResidualFeed feed(
      progress, params.mode, params.blackStart, y,
      TwoTimesSum(x, y, settings.gaussRadius, kind == StepKind::kMixed ? 2.0 : settings.norm));
  SolverMeasures measures;
  FastSolver solver(y, weight, settings);
  for (std::int32_t k = 0; k < params.iterations; ++k) {
    progress.ShowProgress("Iterations [" + std::to_string(k) + "]", k + params.progressOffset,
                          params.progressMaximum);
    const double stepBase = schedule.Next(k, residuals);
    const double s = stepBase * params.initialStep;
    if (!solver.Step(kind, x, s, measures)) {
      TImageF plane;
      const TImageF* w = weight.plane;
      if (w == nullptr) {
        plane = TImageF(x.Width(), x.Height());
        FillPlane(plane, static_cast<float>(weight.constant));
        w = &plane;
      }
      StepPlain(kind, x, y, *w, s, settings, measures);
    }
    if (params.showIterations && progress.WantsIterate()) progress.ShowIterate(x);
    if (progress.StopRequested()) break;
    residuals.push_back(feed(k, measures.meanResidual));
  }
  return residuals;
}

}  // namespace

void DataFidelityGradientFast(const TImageF& x, const TImageF& y, TImageF& g, double r, double p,
                              SolverMeasures& measures) {
  DataTerm data;
  if (data.Compute(x, y, r, p)) {
    const float meanResidual = data.MeanResidual();
    ParallelFor(g.Height(), kRowGrain, [&](std::int64_t begin, std::int64_t end) {
      data.BackProject(
          static_cast<std::int32_t>(begin), static_cast<std::int32_t>(end),
          [&](std::int32_t row) { return g.Row(row); }, [](std::int32_t, float*) {});
    });
    measures.meanResidual = meanResidual;
    return;
  }
  DataFidelityGradientPlain(x, y, g, r, p, measures);
}

void BtvGradientFast(const TImageF& x, TImageF& g, const TImageF& w, double base,
                     std::int32_t radius) {
  const BtvRows btv(x.Width(), WeightSource{&w, 0.0}, base, radius);
  ParallelFor(x.Height(), kRowGrain, [&](std::int64_t begin, std::int64_t end) {
    std::vector<const float*> pointers(2 * btv.Offsets() + 2 * btv.Reach() + 1);
    const float** around = pointers.data() + 2 * btv.Offsets();
    for (auto row = static_cast<std::int32_t>(begin); row < end; ++row) {
      for (std::int32_t k = -btv.Reach(); k <= btv.Reach(); ++k)
        around[btv.Reach() + k] = x.Row(Clamp(row + k, x.Height()));
      btv.Row(row, around, g.Row(row), nullptr, 0.0, g.Row(row), pointers.data(),
              pointers.data() + btv.Offsets());
    }
  });
}

void LaplaceGradientFast(const TImageF& x, TImageF& g, const TImageF& w, std::int32_t p) {
  ParallelFor(x.Height(), kRowGrain, [&](std::int64_t begin, std::int64_t end) {
    LaplaceRows(x, g, WeightSource{&w, 0.0}, p, static_cast<std::int32_t>(begin),
                static_cast<std::int32_t>(end));
  });
}

void DescendFast(TImageF& x, const TImageF& g, double s) {
  ParallelFor(x.Height(), kRowGrain, [&](std::int64_t begin, std::int64_t end) {
    for (auto row = static_cast<std::int32_t>(begin); row < end; ++row)
      FastSolver::DescendRow(x, g, x, s, row);
  });
}

// One in-place step through the fast kernels, or the plain one when they decline.
void StepFast(StepKind kind, TImageF& x, const TImageF& y, const TImageF& w, double s,
              const SolverSettings& settings, SolverMeasures& measures) {
  FastSolver solver(y, WeightSource{&w, 0.0}, settings);
  if (solver.Step(kind, x, s, measures)) return;
  StepPlain(kind, x, y, w, s, settings, measures);
}

std::vector<float> RunIterationsFast(TImageF& x, const TImageF& y, const TImageF& w,
                                     Stabilizer stabilizer, const SolverSettings& settings,
                                     const IterationParams& params, Progress& progress) {
  return RunFast(x, y, WeightSource{&w, 0.0}, stabilizer, settings, params, progress);
}

std::vector<float> RunIterationsFast(TImageF& x, const TImageF& y, float weight,
                                     Stabilizer stabilizer, const SolverSettings& settings,
                                     const IterationParams& params, Progress& progress) {
  return RunFast(x, y, WeightSource{nullptr, static_cast<double>(weight)}, stabilizer, settings,
                 params, progress);
}

}  // namespace solver

namespace {

constexpr KernelPair<void(const TImageF&, const TImageF&, TImageF&, double, double,
                          SolverMeasures&)>
    kDataFidelityGradient{solver::DataFidelityGradientPlain, solver::DataFidelityGradientFast};
constexpr KernelPair<void(const TImageF&, TImageF&, const TImageF&, double, std::int32_t)>
    kBtvGradient{solver::BtvGradientPlain, solver::BtvGradientFast};
constexpr KernelPair<void(const TImageF&, TImageF&, const TImageF&, std::int32_t)> kLaplaceGradient{
    solver::LaplaceGradientPlain, solver::LaplaceGradientFast};
constexpr KernelPair<void(TImageF&, const TImageF&, double)> kDescend{solver::DescendPlain,
                                                                      solver::DescendFast};
constexpr KernelPair<void(solver::StepKind, TImageF&, const TImageF&, const TImageF&, double,
                          const SolverSettings&, SolverMeasures&)>
    kStep{solver::StepPlain, solver::StepFast};
constexpr KernelPair<std::vector<float>(TImageF&, const TImageF&, const TImageF&, Stabilizer,
                                        const SolverSettings&, const IterationParams&, Progress&)>
    kRunIterations{solver::RunIterationsPlain, solver::RunIterationsFast};
constexpr KernelPair<std::vector<float>(TImageF&, const TImageF&, float, Stabilizer,
                                        const SolverSettings&, const IterationParams&, Progress&)>
    kRunIterationsConstant{solver::RunIterationsPlain, solver::RunIterationsFast};

// One in-place step of either kind, the settings and planes checked first.
void Step(solver::StepKind kind, TImageF& x, const TImageF& y, const TImageF& w, double s,
          const SolverSettings& settings, SolverMeasures& measures) {
  solver::CheckStep(x, y, w, settings);
  kStep(kind, x, y, w, s, settings, measures);
}

}  // namespace

void DataFidelityGradient(const TImageF& x, const TImageF& y, TImageF& g, double r, double p,
                          SolverMeasures& measures) {
  solver::CheckTwice(y, x, "data term");
  CheckSameSize(x, g, "data term (gradient)");
  kDataFidelityGradient(x, y, g, r, p, measures);
}

void BtvGradient(const TImageF& x, TImageF& g, const TImageF& w, double base, std::int32_t radius) {
  solver::CheckStabilizerRadius(radius);
  solver::CheckHasPixels(x, "stabilizer");
  CheckSameSize(x, g, "stabilizer (gradient)");
  CheckSameSize(x, w, "stabilizer (weight map)");
  kBtvGradient(x, g, w, base, radius);
}

void LaplaceGradient(const TImageF& x, TImageF& g, const TImageF& w, std::int32_t p) {
  solver::CheckHasPixels(x, "Laplacian stabilizer");
  CheckSameSize(x, g, "Laplacian stabilizer (gradient)");
  CheckSameSize(x, w, "Laplacian stabilizer (weight map)");
  kLaplaceGradient(x, g, w, p);
}

void Descend(TImageF& x, const TImageF& g, double s) {
  CheckSameSize(x, g, "descent");
  kDescend(x, g, s);
}

void SolverStep(TImageF& x, const TImageF& y, const TImageF& w, double s,
                const SolverSettings& settings, SolverMeasures& measures) {
  Step(solver::StepKind::kBtv, x, y, w, s, settings, measures);
}

void MixedSolverStep(TImageF& x, const TImageF& y, const TImageF& w, double s,
                     const SolverSettings& settings, SolverMeasures& measures) {
  Step(solver::StepKind::kMixed, x, y, w, s, settings, measures);
}

void LaplaceSolverStep(TImageF& x, const TImageF& y, const TImageF& w, double s,
                       const SolverSettings& settings, SolverMeasures& measures) {
  Step(solver::StepKind::kLaplace, x, y, w, s, settings, measures);
}

void StabilizerStep(Stabilizer stabilizer, TImageF& x, const TImageF& y, const TImageF& w, double s,
                    const SolverSettings& settings, SolverMeasures& measures) {
  Step(solver::KindOf(stabilizer), x, y, w, s, settings, measures);
}

std::vector<float> RunIterations(TImageF& x, const TImageF& y, const TImageF& w,
                                 Stabilizer stabilizer, const SolverSettings& settings,
                                 const IterationParams& params, Progress& progress) {
  solver::CheckStep(x, y, w, settings);
  solver::KindOf(stabilizer);
  return kRunIterations(x, y, w, stabilizer, settings, params, progress);
}

std::vector<float> RunIterations(TImageF& x, const TImageF& y, float weight, Stabilizer stabilizer,
                                 const SolverSettings& settings, const IterationParams& params,
                                 Progress& progress) {
  settings.Validate();
  solver::CheckTwice(y, x, "solver step");
  solver::KindOf(stabilizer);
  return kRunIterationsConstant(x, y, weight, stabilizer, settings, params, progress);
}

}  // namespace tvq
