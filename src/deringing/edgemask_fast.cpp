// The edge mask routines with rows on all threads and columns in SIMD lanes
// (edgemask_simd.cpp), and the entry points that choose them or the plain loops
// (edgemask.cpp).
#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "deringing/edgemask.h"
#include "deringing/edgemask_kernels.h"
#include "filters/gauss.h"
#include "imaging/dispatch.h"
#include "imaging/parallel.h"

namespace tvq {

namespace {

// Spare elements after every row the vector kernels read or write, at least one
// vector of any target.
constexpr std::size_t kSlack = 64;

// Rows of about `work` operations each, grouped so that a chunk holds about 2^20 of
// them (at least one row, at most 32): a few hundred microseconds, long enough that
// the window counts' rows formed again at every chunk's edges (2 radius of them) stay
// a small share, short enough for dozens of chunks per megapixel.
std::int64_t RowGrain(std::int64_t work) {
  return std::clamp<std::int64_t>((std::int64_t{1} << 20) / std::max<std::int64_t>(1, work), 1, 32);
}

// MeasurePlain (edgemask.cpp) with rows in parallel and columns in SIMD lanes.
TImageF MeasureFast(const TImageF& source, std::int32_t measurement) {
  const std::int32_t w = source.Width();
  const std::int32_t h = source.Height();
  TImageF m(w, h);
  if (measurement == kLocalVariation || measurement == kMaximumVariation) {
    if (h < 3) return m;
    ParallelFor(h - 2, RowGrain(8 * std::int64_t{w}), [&](std::int64_t begin, std::int64_t end) {
      for (std::int64_t i = begin; i < end; ++i) {
        const auto y = static_cast<std::int32_t>(i + 1);
        edgemask_kernels::VariationRow(source.Row(y - 1), source.Row(y), source.Row(y + 1),
                                       m.Row(y), w, measurement == kMaximumVariation);
      }
    });
    return m;
  }
  TImageF gx(w, h);
  TImageF gy(w, h);
  GaussDerivX(source, gx, 1.0f, 3);
  GaussDerivY(source, gy, 1.0f, 3);
  ParallelFor(h, RowGrain(4 * std::int64_t{w}), [&](std::int64_t begin, std::int64_t end) {
    for (auto y = static_cast<std::int32_t>(begin); y < end; ++y)
      edgemask_kernels::GradientNormRow(gx.Row(y), gy.Row(y), m.Row(y), w);
  });
  return m;
}

// Copies row `in` of w values into p with `radius` copies of the first value before
// it and copies of the last value after it up to p's end.
void PadRow(const float* in, std::int32_t w, std::int32_t radius, std::vector<float>& p) {
  const auto r = static_cast<std::size_t>(radius);
  std::fill(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(r), in[0]);
  std::copy(in, in + w, p.begin() + static_cast<std::ptrdiff_t>(r));
  std::fill(p.begin() + static_cast<std::ptrdiff_t>(r) + w, p.end(), in[w - 1]);
}

// The fast EdgeMask for a measured plane. The right-hand side noise + multiplier * M
// of every comparison depends only on the neighbour, so it is formed once per
// pixel, in double, into rows padded by `radius` replicated values on either side;
// the clamped reads become plain indexing and a row of outputs runs in SIMD lanes.
// Each chunk of rows forms the padded rows it reads, in bands of up to 32 output
// rows, so the memory stays a few rows per thread. The counts are integers, the order
// of comparisons does not matter.
void CountWindows(const TImageF& measure, TImageF& mask, std::int32_t radius, float threshold,
                  float noise, float multiplier, const std::vector<float>& g) {
  const std::int32_t w = measure.Width();
  const std::int32_t h = measure.Height();
  const std::int32_t span = 2 * radius + 1;
  const std::size_t padded =
      static_cast<std::size_t>(w) + 2 * static_cast<std::size_t>(radius) + kSlack;
  const float windowSize = static_cast<float>(span) * static_cast<float>(span);
  const float t = 2.55f * threshold;
  const bool binary = t >= 0.0f;
  constexpr std::int32_t kBand = 32;
  const std::int64_t work = std::int64_t{w} * span * span;
  // Quiet pixels count nothing. Every measure is at least 0 (or NaN, which fails
  // every comparison), so with a multiplier of at least 0 no right-hand side noise +
  // multiplier * M falls below the noise level, while every profile value is at most
  // 1 (0 or the float of an exponential of a value <= 0); a pixel whose measure is at
  // most the noise level then has no product above any right-hand side. Vectors of
  // such pixels skip their comparisons: flat areas, where the measure is noise
  // (bench_edgemask "EdgeMask/GradientNorm", one thread: 3.7 ms of CPU against 7.2 ms;
  // the variation measures of its synthetic noise mostly exceed the noise level and
  // gain little).
  const bool profileAtMostOne = std::all_of(g.begin(), g.end(), [](float x) { return x <= 1.0f; });
  const double quiet = multiplier >= 0.0f && profileAtMostOne
                           ? static_cast<double>(noise)
                           : -std::numeric_limits<double>::infinity();
  ParallelFor(h, RowGrain(work), [&](std::int64_t begin, std::int64_t end) {
    std::vector<float> v(static_cast<std::size_t>(w) + kSlack, 0.0f);
    std::vector<std::int64_t> counts(static_cast<std::size_t>(w) + kSlack);
    std::vector<const double*> rows(static_cast<std::size_t>(span));
    std::vector<float> line(padded);
    std::vector<double> rhs;
    for (auto band = static_cast<std::int32_t>(begin); band < end; band += kBand) {
      const std::int32_t bandEnd =
          static_cast<std::int32_t>(std::min<std::int64_t>(end, band + kBand));
      const std::int32_t first = std::max(0, band - radius);
      const std::int32_t last = static_cast<std::int32_t>(
          std::min<std::int64_t>(h - 1, std::int64_t{bandEnd} - 1 + radius));
      rhs.resize(padded * static_cast<std::size_t>(last - first + 1));
      for (std::int32_t yy = first; yy <= last; ++yy) {
        PadRow(measure.Row(yy), w, radius, line);
        edgemask_kernels::ComparisonRow(line.data(),
                                        rhs.data() + padded * static_cast<std::size_t>(yy - first),
                                        static_cast<std::int32_t>(padded), noise, multiplier);
      }
      for (std::int32_t y = band; y < bandEnd; ++y) {
        std::memcpy(v.data(), measure.Row(y), sizeof(float) * static_cast<std::size_t>(w));
        for (std::int32_t k = 0; k < span; ++k)
          rows[static_cast<std::size_t>(k)] =
              rhs.data() +
              padded * static_cast<std::size_t>(
                           Clamp(static_cast<std::int32_t>(std::int64_t{y} + k - radius), h - 1) -
                           first);
        edgemask_kernels::CountRow(v.data(), rows.data(), g.data(), radius, w, quiet,
                                   counts.data());
        float* out = mask.Row(y);
        for (std::int32_t x = 0; x < w; ++x) {
          const auto frac = static_cast<float>(
              static_cast<double>(counts[static_cast<std::size_t>(x)]) * 255.0 / windowSize);
          out[x] = binary ? (frac > t ? 255.0f : 0.0f) : frac;
        }
      }
    }
  });
}

constexpr KernelPair<void(const TImageF&, TImageF&, std::int32_t, float, std::int32_t, float, float,
                          float)>
    kEdgeMask{EdgeMaskPlain, EdgeMaskFast};
constexpr KernelPair<void(const TImageF&, TImageF&, std::int32_t)> kMaxDilate{MaxDilatePlain,
                                                                              MaxDilateFast};
constexpr KernelPair<void(TImageF&, const TImageF&, const TImageF&)> kMaskBlend{MaskBlendPlain,
                                                                                MaskBlendFast};

}  // namespace

void EdgeMaskFast(const TImageF& source, TImageF& mask, std::int32_t radius, float threshold,
                  std::int32_t measurement, float noise, float multiplier, float sigma) {
  // A window far beyond the plane would make the padded rows huge; the plain loop
  // needs no padding (and such a window costs (2 radius + 1)^2 comparisons anyway).
  if (radius > std::max(source.Width(), source.Height()) + 64) {
    EdgeMaskPlain(source, mask, radius, threshold, measurement, noise, multiplier, sigma);
    return;
  }
  // Measured with bench_edgemask (512 x 512, radius 6, "Maximum Variation",
  // RelWithDebInfo, AVX-512, one thread): 4.2 ms of CPU against 57 ms for
  // EdgeMaskPlain.
  CountWindows(MeasureFast(source, measurement), mask, radius, threshold, noise, multiplier,
               NeighbourProfile(radius, sigma));
}

void MaxDilateFast(const TImageF& source, TImageF& destination, std::int32_t radius) {
  if (!HasWork(source, destination)) return;
  const std::int32_t w = source.Width();
  const std::int32_t h = source.Height();
  radius = DilationReach(radius, w, h);
  const std::int32_t span = 2 * radius + 1;
  TImageF temp(w, h);
  const std::int64_t grain = RowGrain(std::int64_t{w} * span);
  ParallelFor(h, grain, [&](std::int64_t begin, std::int64_t end) {
    std::vector<float> p(static_cast<std::size_t>(w) + 2 * static_cast<std::size_t>(radius) +
                         kSlack);
    std::vector<float> out(static_cast<std::size_t>(w) + kSlack);
    for (auto y = static_cast<std::int32_t>(begin); y < end; ++y) {
      PadRow(source.Row(y), w, radius, p);
      edgemask_kernels::DilateRow(p.data(), out.data(), w, radius);
      std::memcpy(temp.Row(y), out.data(), sizeof(float) * static_cast<std::size_t>(w));
    }
  });
  // The source has been read completely, so it may be the destination.
  ParallelFor(h, grain, [&](std::int64_t begin, std::int64_t end) {
    std::vector<const float*> rows(static_cast<std::size_t>(span));
    for (auto y = static_cast<std::int32_t>(begin); y < end; ++y) {
      for (std::int32_t k = 0; k < span; ++k)
        rows[static_cast<std::size_t>(k)] =
            temp.Row(Clamp(static_cast<std::int32_t>(std::int64_t{y} + k - radius), h - 1));
      edgemask_kernels::DilateColumns(rows.data(), span, temp.Row(y), destination.Row(y), w);
    }
  });
}

void MaskBlendFast(TImageF& luma, const TImageF& untouched, const TImageF& mask) {
  if (!HasWork(luma, untouched) || !HasWork(luma, mask)) return;
  const std::int32_t w = luma.Width();
  const std::int32_t h = luma.Height();
  ParallelFor(h, RowGrain(4 * std::int64_t{w}), [&](std::int64_t begin, std::int64_t end) {
    for (auto y = static_cast<std::int32_t>(begin); y < end; ++y)
      edgemask_kernels::BlendRow(luma.Row(y), untouched.Row(y), mask.Row(y), w);
  });
}

void EdgeMask(const TImageF& source, TImageF& mask, std::int32_t radius, float threshold,
              std::int32_t measurement, float noise, float multiplier, float sigma) {
  RequireWindowRadius(radius);
  if (!HasWork(source, mask)) return;
  kEdgeMask(source, mask, radius, threshold, measurement, noise, multiplier, sigma);
}

void MaxDilate(const TImageF& source, TImageF& destination, std::int32_t radius) {
  kMaxDilate(source, destination, radius);
}

void MaskBlend(TImageF& luma, const TImageF& untouched, const TImageF& mask) {
  kMaskBlend(luma, untouched, mask);
}

}  // namespace tvq
