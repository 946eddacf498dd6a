// The line kernel for many lines at once: each SIMD lane of doubles carries one
// line and performs exactly the scalar kernel's operations (tvqline.cpp). Float
// values are held as doubles; every float rounding of the scalar code is a
// demotion to float and a promotion back. Branches become per-lane masks: the
// scalar `a == 0` stop freezes a lane, whose u and offset then stay as they were.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "deringing/tvqline_simd.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "deringing/tvqline_kernels.h"
#include "imaging/simd_exact.h"

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using DD = hn::ScalableTag<double>;
using DF = hn::Rebind<float, DD>;
using VD = hn::Vec<DD>;
using MD = hn::Mask<DD>;

// Vectors interleaved per group: the running sums are latency chains, and several
// independent vectors in one loop keep the units busy. BM_TvqLines n=11, CPU time
// per 256 lines of 200 steps on AVX-512: 1 vector 1.42 ms, 2 0.75 ms, 3 0.68 ms,
// 4 0.66 ms (4 spills registers and leaves more lanes idle on short batches).
constexpr std::size_t kVectors = 3;

// The loops over the interleaved vectors are unrolled so that their running sums
// stay in registers (kept in memory, each chain step waits for a store and a load;
// BM_TvqLines n=11 with 2 vectors: 0.86 ms CPU before, 0.75 ms after).
#define TVQ_EACH_VECTOR _Pragma("GCC unroll 8")

// A double rounded to float and back: the scalar code's static_cast<float>.
HWY_INLINE VD RoundToFloat(VD x) {
  const DD dd;
  const DF df;
  return hn::PromoteTo(dd, DemoteExact(df, x));
}

std::size_t LineGroupLanes() {
  const DD dd;
  return kVectors * hn::Lanes(dd);
}

// Runs the iterations of one group of lines laid out sample-major: sample j of
// lane q at [j * G + q], G = LineGroupLanes(). c holds each lane's offset (updated),
// t its budget, sumF the float sum of its f.
void FitLineGroup(const double* HWY_RESTRICT fd, double* HWY_RESTRICT ud, double* HWY_RESTRICT c,
                  const double* HWY_RESTRICT t, const double* HWY_RESTRICT sumF, std::int32_t n,
                  std::int32_t iterations, bool refit) {
  constexpr std::size_t V = kVectors;
  const DD dd;
  const DF df;
  const std::size_t N = hn::Lanes(dd);
  const std::size_t G = V * N;
  const VD zero = hn::Zero(dd);
  const VD one = hn::Set(dd, 1.0);
  const VD minusOne = hn::Set(dd, -1.0);
  const VD count = hn::Set(dd, static_cast<double>(n));
  VD cv[V], tv[V], sf[V];
  MD active[V];
  TVQ_EACH_VECTOR for (std::size_t v = 0; v < V; ++v) {
    cv[v] = hn::LoadU(dd, c + v * N);
    tv[v] = hn::LoadU(dd, t + v * N);
    sf[v] = hn::LoadU(dd, sumF + v * N);
    active[v] = hn::Eq(zero, zero);
  }
  for (std::int32_t iteration = 0; iteration < iterations; ++iteration) {
    // Residual and best step. The scalar code compares the second scan against the
    // first scan's best, which ends at the first of the second scan's smallest
    // values below that best; so the second scan's own first minimum, taken when
    // strictly smaller, gives the same vertex. The second scan adds -t * r where
    // the first adds t * r, and rounding to nearest is symmetric, so its values are
    // the first scan's values negated (up to the sign of zero, which no comparison
    // sees): its first minimum is the first scan's first maximum, and one scan
    // does (BM_TvqLines CPU: n=11 0.68 -> 0.65 ms, n=512 30.0 -> 27.2 ms).
    VD best[V], bestValue[V], best2[V], max1[V], value1[V];
    TVQ_EACH_VECTOR for (std::size_t v = 0; v < V; ++v) {
      best[v] = zero;
      bestValue[v] = zero;
      best2[v] = zero;
      max1[v] = zero;
      value1[v] = zero;
    }
    for (std::int32_t j = 0; j + 1 < n; ++j) {
      const VD k = hn::Set(dd, static_cast<double>(j + 1));
      const double* fj = fd + static_cast<std::size_t>(j) * G;
      const double* uj = ud + static_cast<std::size_t>(j) * G;
      TVQ_EACH_VECTOR for (std::size_t v = 0; v < V; ++v) {
        const VD r = RoundToFloat(
            hn::Sub(hn::Add(hn::LoadU(dd, uj + v * N), cv[v]), hn::LoadU(dd, fj + v * N)));
        const VD p = hn::Mul(tv[v], r);  // exact: a product of two floats
        value1[v] = RoundToFloat(hn::Add(value1[v], p));
        if (j == 0) {
          best[v] = k;
          bestValue[v] = value1[v];
          best2[v] = k;
          max1[v] = value1[v];
        } else {
          // The scalar code's strict updates (Highway's Min and Max treat NaN
          // differently on the scalar target).
          const MD below = hn::Lt(value1[v], bestValue[v]);
          best[v] = hn::IfThenElse(below, k, best[v]);
          bestValue[v] = hn::IfThenElse(below, value1[v], bestValue[v]);
          const MD above = hn::Gt(value1[v], max1[v]);
          best2[v] = hn::IfThenElse(above, k, best2[v]);
          max1[v] = hn::IfThenElse(above, value1[v], max1[v]);
        }
      }
    }
    VD steps[V], step[V];  // samples 0 .. steps-1 of the vertex hold step
    TVQ_EACH_VECTOR for (std::size_t v = 0; v < V; ++v) {
      if (n > 1)
        best[v] =
            hn::IfThenElse(hn::Lt(hn::Neg(max1[v]), bestValue[v]), hn::Neg(best2[v]), best[v]);
      const MD positive = hn::Gt(best[v], zero);
      step[v] = hn::IfThenElse(positive, tv[v], hn::Mul(tv[v], minusOne));
      steps[v] = hn::Abs(best[v]);
    }

    // Squared error a and inner product b of the line search.
    VD a[V], b[V];
    TVQ_EACH_VECTOR for (std::size_t v = 0; v < V; ++v) {
      a[v] = zero;
      b[v] = zero;
    }
    for (std::int32_t j = 0; j < n; ++j) {
      const VD index = hn::Set(dd, static_cast<double>(j));
      const double* fj = fd + static_cast<std::size_t>(j) * G;
      const double* uj = ud + static_cast<std::size_t>(j) * G;
      TVQ_EACH_VECTOR for (std::size_t v = 0; v < V; ++v) {
        const VD s = hn::IfThenElseZero(hn::Lt(index, steps[v]), step[v]);
        const VD us = hn::Sub(hn::LoadU(dd, uj + v * N), s);
        a[v] = RoundToFloat(hn::Add(a[v], hn::Mul(us, us)));
        b[v] = RoundToFloat(
            hn::Add(b[v], hn::Mul(hn::Sub(hn::Sub(hn::LoadU(dd, fj + v * N), s), cv[v]), us)));
      }
    }
    VD keep[V], take[V];
    bool any = false;
    TVQ_EACH_VECTOR for (std::size_t v = 0; v < V; ++v) {
      active[v] = hn::And(active[v], hn::Not(hn::Eq(a[v], zero)));
      any = any || !hn::AllFalse(dd, active[v]);
      VD gamma = RoundToFloat(hn::Div(b[v], a[v]));
      gamma = hn::IfThenElse(hn::Gt(gamma, one), one, gamma);
      gamma = hn::IfThenElse(hn::Lt(gamma, zero), zero, gamma);
      keep[v] = gamma;
      take[v] = hn::Sub(one, gamma);
    }
    if (!any) break;

    // Convex step towards the vertex, and the refitted offset. The offset's sum adds
    // floats to a float, which the float lanes round exactly as the double sum
    // rounded to float does (53 >= 2 * 24 + 2 bits: the double rounding is harmless);
    // it saves two conversions per sample (BM_TvqLines n=11: 0.94 -> 0.86 ms CPU).
    hn::Vec<DF> sumU[V];
    TVQ_EACH_VECTOR for (std::size_t v = 0; v < V; ++v) sumU[v] = hn::Zero(df);
    for (std::int32_t j = 0; j < n; ++j) {
      const VD index = hn::Set(dd, static_cast<double>(j));
      double* uj = ud + static_cast<std::size_t>(j) * G;
      TVQ_EACH_VECTOR for (std::size_t v = 0; v < V; ++v) {
        const VD s = hn::IfThenElseZero(hn::Lt(index, steps[v]), step[v]);
        const VD u = hn::LoadU(dd, uj + v * N);
        const auto moved = DemoteExact(df, hn::Add(hn::Mul(keep[v], u), hn::Mul(take[v], s)));
        hn::StoreU(hn::IfThenElse(active[v], hn::PromoteTo(dd, moved), u), dd, uj + v * N);
        if (refit) sumU[v] = hn::Add(sumU[v], moved);
      }
    }
    if (refit)
      TVQ_EACH_VECTOR for (std::size_t v = 0; v < V; ++v) cv[v] = hn::IfThenElse(
          active[v], RoundToFloat(hn::Div(hn::Sub(sf[v], hn::PromoteTo(dd, sumU[v])), count)),
          cv[v]);
  }
  TVQ_EACH_VECTOR for (std::size_t v = 0; v < V; ++v) hn::StoreU(cv[v], dd, c + v * N);
}

}  // namespace HWY_NAMESPACE
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq {

HWY_EXPORT(LineGroupLanes);
HWY_EXPORT(FitLineGroup);

std::int32_t TvqLinesBatchWidth() {
  return static_cast<std::int32_t>(HWY_DYNAMIC_DISPATCH(LineGroupLanes)());
}

void TvqLinesBatch(const float* f, float* u, const float* T, std::int32_t n, std::int64_t count,
                   std::int32_t iterations, float start, bool refit, std::vector<double>& scratch) {
  if (n <= 0 || count <= 0) return;
  const std::size_t G = HWY_DYNAMIC_DISPATCH(LineGroupLanes)();
  const std::size_t samples = static_cast<std::size_t>(n);
  scratch.resize(2 * samples * G + 4 * G);
  double* fd = scratch.data();
  double* ud = fd + samples * G;
  double* c = ud + samples * G;
  double* t = c + G;
  double* sumF = t + G;
  double* lineOf = sumF + G;  // the line in each lane (an index held in a double)
  std::size_t filled = 0;
  auto run = [&] {
    for (std::size_t q = filled; q < G; ++q) {
      // A spare lane: the zero line with a zero budget stops at its first step.
      for (std::size_t j = 0; j < samples; ++j) fd[j * G + q] = ud[j * G + q] = 0.0;
      c[q] = t[q] = sumF[q] = 0.0;
    }
    HWY_DYNAMIC_DISPATCH(FitLineGroup)(fd, ud, c, t, sumF, n, iterations, refit);
    for (std::size_t q = 0; q < filled; ++q) {
      float* ul = u + static_cast<std::size_t>(lineOf[q]) * samples;
      for (std::size_t j = 0; j < samples; ++j) ul[j] = static_cast<float>(ud[j * G + q] + c[q]);
    }
    filled = 0;
  };
  for (std::size_t line = 0; line < static_cast<std::size_t>(count); ++line) {
    const float* fl = f + line * samples;
    float* ul = u + line * samples;
    TvqLineStart(fl, ul, T[line], n, start);
    const float sumFl = LineSum(fl, n);
    const float offset = OffsetFromSums(sumFl, LineSum(ul, n), n);
    // A zero budget with a zero start: every vertex is zero, the squared error of the
    // first step is zero and the kernel stops there, leaving start plus offset. Flat
    // lines and flat reference areas give many such lines; they take no lane.
    if (T[line] == 0.0f && std::all_of(ul, ul + n, [](float v) { return v == 0.0f; })) {
      for (std::size_t j = 0; j < samples; ++j)
        ul[j] = static_cast<float>(static_cast<double>(ul[j]) + offset);
      continue;
    }
    const std::size_t q = filled++;
    c[q] = offset;
    t[q] = T[line];
    sumF[q] = sumFl;
    lineOf[q] = static_cast<double>(line);
    for (std::size_t j = 0; j < samples; ++j) {
      fd[j * G + q] = fl[j];
      ud[j * G + q] = ul[j];
    }
    if (filled == G) run();
  }
  if (filled > 0) run();
}

}  // namespace tvq
#endif  // HWY_ONCE
