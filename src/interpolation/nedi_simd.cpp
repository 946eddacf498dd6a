#include <cstddef>
#include <cstdint>

#include "interpolation/nedi_kernels.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "interpolation/nedi_simd.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace nedisimd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// One vector of lanes starting at lane `first`: the plain fit per lane. Row swaps of
// the pivoting differ between lanes and become selections; a lane that meets a
// singular pivot runs on (its numbers are discarded) and gets 1 / n at the end.
template <int kN, class D>
HWY_INLINE void SolveLanes(D d, int nRuntime, int m, double lambda, const RowSamples* rows,
                           Batch& batch, std::size_t first) {
  using V = hn::Vec<D>;
  const int n = kN > 0 ? kN : nRuntime;
  constexpr std::size_t kMaxLanes = HWY_MAX_BYTES / sizeof(double);
  // q and its inverse, row by row, in lane-major blocks.
  HWY_ALIGN double q[16][16][kMaxLanes];
  HWY_ALIGN double inv[16][16][kMaxLanes];
  const hn::Rebind<float, D> df;
  HWY_ALIGN double a[16][17][kMaxLanes];
  for (int k = 0, i = 0; k < m; ++k) {
    const V t = hn::Set(d, batch.weight[k]);
    for (int l = 0; l <= n; ++l, ++i) {
      hn::Vec<decltype(df)> samples;
      if (rows == nullptr) {
        samples = hn::LoadU(df, &batch.samples[k][l][first]);
      } else {
        const float* p =
            rows->rows[rows->y + rows->dy[i]] + rows->x + rows->dx[i] +
            static_cast<std::ptrdiff_t>(rows->step) * static_cast<std::ptrdiff_t>(first);
        if (rows->step == 2) {
          // Only the samples themselves are read: the pixels between them may belong to
          // the class being computed, which other threads write meanwhile.
          const hn::RebindToSigned<decltype(df)> di;
          samples = hn::GatherIndex(df, p, hn::ShiftLeft<1>(hn::Iota(di, 0)));
        } else {
          samples = hn::LoadU(df, p);
        }
      }
      hn::Store(hn::Mul(hn::PromoteTo(d, samples), t), d, a[k][l]);
    }
  }
  const auto A = [&](int k, int l) HWY_ATTR { return hn::Load(d, a[k][l]); };
  const V zero = hn::Zero(d);
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < n; ++k) {
      V sum = zero;
      for (int j = 0; j < m; ++j) sum = hn::Add(sum, hn::Mul(A(j, k), A(j, i)));
      if (i == k) sum = hn::Add(sum, hn::Set(d, lambda));
      hn::Store(sum, d, q[i][k]);
      hn::Store(i == k ? hn::Set(d, 1.0) : zero, d, inv[i][k]);
    }
  auto singular = hn::Lt(zero, zero);
  const V tiny = hn::Set(d, 1e-9);
  for (int i = 0; i < n; ++i) {
    V largest = zero;
    V pivot = hn::Set(d, static_cast<double>(i));
    for (int j = i; j < n; ++j) {
      const V magnitude = hn::Abs(hn::Load(d, q[j][i]));
      const auto larger = hn::Gt(magnitude, largest);
      largest = hn::IfThenElse(larger, magnitude, largest);
      pivot = hn::IfThenElse(larger, hn::Set(d, static_cast<double>(j)), pivot);
    }
    singular = hn::Or(singular, hn::Lt(largest, tiny));
    for (int j = i + 1; j < n; ++j) {
      const auto swap = hn::Eq(pivot, hn::Set(d, static_cast<double>(j)));
      if (hn::AllFalse(d, swap)) continue;
      for (int c = 0; c < n; ++c) {
        const V qi = hn::Load(d, q[i][c]), qj = hn::Load(d, q[j][c]);
        hn::Store(hn::IfThenElse(swap, qj, qi), d, q[i][c]);
        hn::Store(hn::IfThenElse(swap, qi, qj), d, q[j][c]);
        const V vi = hn::Load(d, inv[i][c]), vj = hn::Load(d, inv[j][c]);
        hn::Store(hn::IfThenElse(swap, vj, vi), d, inv[i][c]);
        hn::Store(hn::IfThenElse(swap, vi, vj), d, inv[j][c]);
      }
    }
    const V r = hn::Div(hn::Set(d, 1.0), hn::Load(d, q[i][i]));
    for (int c = 0; c < n; ++c) {
      hn::Store(hn::Mul(hn::Load(d, q[i][c]), r), d, q[i][c]);
      hn::Store(hn::Mul(hn::Load(d, inv[i][c]), r), d, inv[i][c]);
    }
    for (int j = i + 1; j < n; ++j) {
      const V x = hn::Neg(hn::Load(d, q[j][i]));
      for (int c = 0; c < n; ++c) {
        hn::Store(hn::Add(hn::Load(d, inv[j][c]), hn::Mul(x, hn::Load(d, inv[i][c]))), d,
                  inv[j][c]);
        hn::Store(hn::Add(hn::Load(d, q[j][c]), hn::Mul(x, hn::Load(d, q[i][c]))), d, q[j][c]);
      }
    }
  }
  for (int i = n - 1; i >= 1; --i)
    for (int j = 0; j < i; ++j) {
      const V x = hn::Neg(hn::Load(d, q[j][i]));
      for (int c = 0; c < n; ++c) {
        hn::Store(hn::Add(hn::Load(d, inv[j][c]), hn::Mul(x, hn::Load(d, inv[i][c]))), d,
                  inv[j][c]);
        hn::Store(hn::Add(hn::Load(d, q[j][c]), hn::Mul(x, hn::Load(d, q[i][c]))), d, q[j][c]);
      }
    }
  HWY_ALIGN double tb[16][kMaxLanes];
  for (int i = 0; i < n; ++i) {
    V sum = zero;
    for (int j = 0; j < m; ++j) sum = hn::Add(sum, hn::Mul(A(j, i), A(j, n)));
    hn::Store(sum, d, tb[i]);
  }
  const V uniform = hn::Set(d, 1.0 / n);
  for (int i = 0; i < n; ++i) {
    V sum = zero;
    for (int j = 0; j < n; ++j)
      sum = hn::Add(sum, hn::Mul(hn::Load(d, inv[i][j]), hn::Load(d, tb[j])));
    hn::StoreU(hn::IfThenElse(singular, uniform, sum), d, &batch.coefficients[i][first]);
  }
}

template <int kN>
void SolveAll(int n, int m, double lambda, const RowSamples* rows, Batch& batch) {
  const hn::ScalableTag<double> d;
  const std::size_t lanes = hn::Lanes(d);
  if (kBatch % lanes == 0) {
    for (std::size_t first = 0; first < kBatch; first += lanes)
      SolveLanes<kN>(d, n, m, lambda, rows, batch, first);
  } else {
    const hn::CappedTag<double, 1> d1;
    for (std::size_t first = 0; first < kBatch; ++first)
      SolveLanes<kN>(d1, n, m, lambda, rows, batch, first);
  }
}

void SolveBatchImpl(int n, int m, double lambda, const RowSamples* rows, Batch& batch) {
  if (n == 4)
    SolveAll<4>(n, m, lambda, rows, batch);
  else if (n == 12)
    SolveAll<12>(n, m, lambda, rows, batch);
  else
    SolveAll<0>(n, m, lambda, rows, batch);
}

}  // namespace HWY_NAMESPACE
}  // namespace nedisimd
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq::nedisimd {

HWY_EXPORT(SolveBatchImpl);

void SolveBatch(int n, int m, double lambda, Batch& batch) {
  HWY_DYNAMIC_DISPATCH(SolveBatchImpl)(n, m, lambda, nullptr, batch);
}

void SolveBatchFromRows(int n, int m, double lambda, const RowSamples& rows, Batch& batch) {
  HWY_DYNAMIC_DISPATCH(SolveBatchImpl)(n, m, lambda, &rows, batch);
}

}  // namespace tvq::nedisimd
#endif
