// The fast SSIM: the plain loops' arithmetic per pixel (metrics_kernels.h), in bands of
// output rows that fill every core, with the filter taps in vector lanes.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/dispatch.h"
#include "imaging/parallel.h"
#include "utility/metrics_kernels.h"

namespace tvq::metrics {

namespace {

// Output rows per band: the band's row-filtered moments (5 x (band + 10) rows) stay in
// the cache for the column pass; 10 rows of the row pass are done twice per band.
constexpr std::int32_t kBandRows = 64;

}  // namespace

void SsimRowsFast(const LumaPlane& a, const LumaPlane& b, SsimRowSums out) {
  const std::array<double, kWindow> taps = SsimTaps();
  const std::int32_t outWidth = a.width - (kWindow - 1);
  const std::int32_t outHeight = a.height - (kWindow - 1);
  const auto w = static_cast<std::size_t>(outWidth);
  // moments[m][r]: moment m of band row r filtered along the row.
  std::vector<double> filtered(5 * static_cast<std::size_t>(kBandRows + kWindow - 1) * w);
  auto moment = [&](std::int32_t m, std::int32_t r) {
    return filtered.data() +
           (static_cast<std::size_t>(m) * (kBandRows + kWindow - 1) + static_cast<std::size_t>(r)) *
               w;
  };
  for (std::int32_t y0 = 0; y0 < outHeight; y0 += kBandRows) {
    const std::int32_t rows = std::min(kBandRows, outHeight - y0);
    const std::int32_t inputRows = rows + kWindow - 1;
    ParallelFor(inputRows, 4, [&](std::int64_t r0, std::int64_t r1) {
      std::vector<double> products(3 * static_cast<std::size_t>(a.width));
      for (auto r = static_cast<std::int32_t>(r0); r < r1; ++r) {
        const double* ra = a.Row(y0 + r);
        const double* rb = b.Row(y0 + r);
        double* aa = products.data();
        double* bb = aa + a.width;
        double* ab = bb + a.width;
        for (std::int32_t x = 0; x < a.width; ++x) {
          aa[x] = ra[x] * ra[x];
          bb[x] = rb[x] * rb[x];
          ab[x] = ra[x] * rb[x];
        }
        const double* sources[5] = {ra, rb, aa, bb, ab};
        for (std::int32_t m = 0; m < 5; ++m) {
          double* to = moment(m, r);
          std::fill(to, to + w, 0.0);
          for (std::int32_t k = 0; k < kWindow; ++k)
            metricssimd::AddScaled(to, sources[m] + k, taps[static_cast<std::size_t>(k)], w);
        }
      }
    });
    ParallelFor(rows, 4, [&](std::int64_t r0, std::int64_t r1) {
      std::vector<double> sums(5 * w);
      for (auto r = static_cast<std::int32_t>(r0); r < r1; ++r) {
        std::fill(sums.begin(), sums.end(), 0.0);
        for (std::int32_t m = 0; m < 5; ++m)
          for (std::int32_t k = 0; k < kWindow; ++k)
            metricssimd::AddScaled(sums.data() + m * w, moment(m, r + k),
                                   taps[static_cast<std::size_t>(k)], w);
        double ssim = 0.0;
        double cs = 0.0;
        for (std::size_t x = 0; x < w; ++x) {
          const SsimTerms t =
              SsimAt(sums[x], sums[w + x], sums[2 * w + x], sums[3 * w + x], sums[4 * w + x]);
          ssim += t.ssim;
          cs += t.cs;
        }
        out.ssim[y0 + r] = ssim;
        out.cs[y0 + r] = cs;
      }
    });
  }
}

constexpr KernelPair<void(const LumaPlane&, const LumaPlane&, SsimRowSums)> kSsimRows{SsimRowsPlain,
                                                                                      SsimRowsFast};

void SsimRows(const LumaPlane& a, const LumaPlane& b, SsimRowSums out) {
  kSsimRows(a, b, out);
}

}  // namespace tvq::metrics
