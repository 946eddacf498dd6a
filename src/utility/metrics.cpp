#include "utility/metrics.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "imaging/errors.h"
#include "imaging/parallel.h"
#include "utility/metrics_kernels.h"

namespace tvq {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string SizeOf(std::int32_t w, std::int32_t h) {
  return std::to_string(w) + "x" + std::to_string(h);
}

void CheckSameSize(std::int32_t wa, std::int32_t ha, std::int32_t wb, std::int32_t hb) {
  if (wa != wb || ha != hb)
    throw SettingError("the pictures differ in size (" + SizeOf(wa, ha) + " against " +
                       SizeOf(wb, hb) + ")");
}

void CheckShave(std::int32_t w, std::int32_t h, std::int32_t shave) {
  if (shave < 0 || shave > 32767)
    throw SettingError("the border to shave must be 0 to 32767 pixels, not " +
                       std::to_string(shave));
  if (2 * static_cast<std::int64_t>(shave) >= std::min(w, h))
    throw SettingError("a border of " + std::to_string(shave) + " pixels leaves nothing of the " +
                       SizeOf(w, h) + " pictures");
}

// The sum of the row sums in row order (the one order of every mean here).
double SumRows(const std::vector<double>& rows) {
  double sum = 0.0;
  for (double r : rows) sum += r;
  return sum;
}

double PsnrOf(double mse) {
  return mse == 0.0 ? std::numeric_limits<double>::infinity()
                    : 10.0 * std::log10(255.0 * 255.0 / mse);
}

LumaPlane BlankPlane(std::int32_t w, std::int32_t h) {
  LumaPlane plane;
  plane.width = w;
  plane.height = h;
  plane.values.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0.0);
  return plane;
}

// Mean SSIM and mean contrast-structure term of two planes of one size; NaN for planes
// smaller than the window.
metrics::SsimTerms SsimMeans(const LumaPlane& a, const LumaPlane& b) {
  if (a.width < metrics::kWindow || a.height < metrics::kWindow) return {kNaN, kNaN};
  const auto rows = static_cast<std::size_t>(a.height - (metrics::kWindow - 1));
  std::vector<double> ssim(rows), cs(rows);
  metrics::SsimRows(a, b, {ssim.data(), cs.data()});
  const double count = static_cast<double>(rows) * (a.width - (metrics::kWindow - 1));
  return {SumRows(ssim) / count, SumRows(cs) / count};
}

// MS-SSIM's step between scales: the 2 x 2 block mean, the last row and column repeated
// for odd sides; ceil(W / 2) x ceil(H / 2).
LumaPlane HalveRepeated(const LumaPlane& p) {
  LumaPlane half = BlankPlane((p.width + 1) / 2, (p.height + 1) / 2);
  ForEachRow(half.height, [&](std::int32_t y) {
    const double* r0 = p.Row(2 * y);
    const double* r1 = p.Row(std::min(2 * y + 1, p.height - 1));
    double* to = half.Row(y);
    for (std::int32_t x = 0; x < half.width; ++x) {
      const std::int32_t x0 = 2 * x;
      const std::int32_t x1 = std::min(2 * x + 1, p.width - 1);
      to[x] = (r0[x0] + r0[x1] + r1[x0] + r1[x1]) * 0.25;
    }
  });
  return half;
}

// GMSD's step: the 2 x 2 block mean with zeros beyond the picture.
LumaPlane HalveZero(const LumaPlane& p) {
  LumaPlane half = BlankPlane((p.width + 1) / 2, (p.height + 1) / 2);
  ForEachRow(half.height, [&](std::int32_t y) {
    const double* r0 = p.Row(2 * y);
    const double* r1 = 2 * y + 1 < p.height ? p.Row(2 * y + 1) : nullptr;
    double* to = half.Row(y);
    for (std::int32_t x = 0; x < half.width; ++x) {
      const std::int32_t x0 = 2 * x;
      const bool right = x0 + 1 < p.width;
      const double s = r0[x0] + (right ? r0[x0 + 1] : 0.0) + (r1 ? r1[x0] : 0.0) +
                       (r1 && right ? r1[x0 + 1] : 0.0);
      to[x] = s * 0.25;
    }
  });
  return half;
}

// Prewitt gradient magnitudes with zeros beyond the picture.
LumaPlane PrewittMagnitude(const LumaPlane& p) {
  LumaPlane m = BlankPlane(p.width, p.height);
  auto at = [&](std::int32_t x, std::int32_t y) {
    return x < 0 || y < 0 || x >= p.width || y >= p.height ? 0.0 : p.At(x, y);
  };
  ForEachRow(p.height, [&](std::int32_t y) {
    double* to = m.Row(y);
    for (std::int32_t x = 0; x < p.width; ++x) {
      const double gx = ((at(x + 1, y - 1) + at(x + 1, y) + at(x + 1, y + 1)) -
                         (at(x - 1, y - 1) + at(x - 1, y) + at(x - 1, y + 1))) /
                        3.0;
      const double gy = ((at(x - 1, y + 1) + at(x, y + 1) + at(x + 1, y + 1)) -
                         (at(x - 1, y - 1) + at(x, y - 1) + at(x + 1, y - 1))) /
                        3.0;
      to[x] = std::sqrt(gx * gx + gy * gy);
    }
  });
  return m;
}

// Square dilation of a 0/1 mask by `radius` (chessboard distance), rows then columns.
std::vector<std::uint8_t> Dilate(const std::vector<std::uint8_t>& mask, std::int32_t w,
                                 std::int32_t h, std::int32_t radius) {
  std::vector<std::uint8_t> across(mask.size()), out(mask.size());
  const auto index = [w](std::int32_t x, std::int32_t y) {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x);
  };
  ForEachRow(h, [&](std::int32_t y) {
    for (std::int32_t x = 0; x < w; ++x) {
      std::uint8_t v = 0;
      for (std::int32_t i = std::max(0, x - radius); i <= std::min(w - 1, x + radius) && !v; ++i)
        v = mask[index(i, y)];
      across[index(x, y)] = v;
    }
  });
  ForEachRow(h, [&](std::int32_t y) {
    for (std::int32_t x = 0; x < w; ++x) {
      std::uint8_t v = 0;
      for (std::int32_t j = std::max(0, y - radius); j <= std::min(h - 1, y + radius) && !v; ++j)
        v = across[index(x, j)];
      out[index(x, y)] = v;
    }
  });
  return out;
}

// The minimum (or maximum) of the plane over the 5 x 5 window clipped to the picture.
LumaPlane Extreme5x5(const LumaPlane& p, bool maximum) {
  LumaPlane across = BlankPlane(p.width, p.height);
  LumaPlane out = BlankPlane(p.width, p.height);
  auto pick = [maximum](double a, double b) { return maximum ? std::max(a, b) : std::min(a, b); };
  ForEachRow(p.height, [&](std::int32_t y) {
    for (std::int32_t x = 0; x < p.width; ++x) {
      double v = p.At(x, y);
      for (std::int32_t i = std::max(0, x - 2); i <= std::min(p.width - 1, x + 2); ++i)
        v = pick(v, p.At(i, y));
      across.Row(y)[x] = v;
    }
  });
  ForEachRow(p.height, [&](std::int32_t y) {
    for (std::int32_t x = 0; x < p.width; ++x) {
      double v = across.At(x, y);
      for (std::int32_t j = std::max(0, y - 2); j <= std::min(p.height - 1, y + 2); ++j)
        v = pick(v, across.At(x, j));
      out.Row(y)[x] = v;
    }
  });
  return out;
}

void CheckEdgeOptions(const EdgeBandOptions& o) {
  if (!(o.threshold >= 0.0) || !std::isfinite(o.threshold))
    throw SettingError("the edge threshold must be a finite number of at least 0");
  if (o.inner < 1 || o.inner > o.outer || o.outer > 50)
    throw SettingError("the edge band must satisfy 1 <= inner <= outer <= 50 (got " +
                       std::to_string(o.inner) + " to " + std::to_string(o.outer) + ")");
}

}  // namespace

namespace metrics {

void SsimRowsPlain(const LumaPlane& a, const LumaPlane& b, SsimRowSums out) {
  const std::array<double, kWindow> taps = SsimTaps();
  const std::int32_t ow = a.width - (kWindow - 1);
  const std::int32_t oh = a.height - (kWindow - 1);
  // Moment m of pixel (x, y): a, b, a^2, b^2, a b.
  auto source = [&](std::int32_t m, std::int32_t x, std::int32_t y) {
    const double va = a.At(x, y);
    const double vb = b.At(x, y);
    switch (m) {
      case 0:
        return va;
      case 1:
        return vb;
      case 2:
        return va * va;
      case 3:
        return vb * vb;
      default:
        return va * vb;
    }
  };
  std::vector<LumaPlane> across(5, BlankPlane(ow, a.height));
  for (std::int32_t m = 0; m < 5; ++m)
    for (std::int32_t y = 0; y < a.height; ++y)
      for (std::int32_t x = 0; x < ow; ++x) {
        double s = 0.0;
        for (std::int32_t k = 0; k < kWindow; ++k)
          s = s + taps[static_cast<std::size_t>(k)] * source(m, x + k, y);
        across[static_cast<std::size_t>(m)].Row(y)[x] = s;
      }
  for (std::int32_t y = 0; y < oh; ++y) {
    double ssim = 0.0;
    double cs = 0.0;
    for (std::int32_t x = 0; x < ow; ++x) {
      double mo[5];
      for (std::int32_t m = 0; m < 5; ++m) {
        double s = 0.0;
        for (std::int32_t k = 0; k < kWindow; ++k)
          s = s +
              taps[static_cast<std::size_t>(k)] * across[static_cast<std::size_t>(m)].At(x, y + k);
        mo[m] = s;
      }
      const SsimTerms t = SsimAt(mo[0], mo[1], mo[2], mo[3], mo[4]);
      ssim += t.ssim;
      cs += t.cs;
    }
    out.ssim[y] = ssim;
    out.cs[y] = cs;
  }
}

}  // namespace metrics

LumaPlane Luma(const TImageF4& picture, std::int32_t shave) {
  CheckShave(picture.Width(), picture.Height(), shave);
  LumaPlane plane = BlankPlane(picture.Width() - 2 * shave, picture.Height() - 2 * shave);
  ForEachRow(plane.height, [&](std::int32_t y) {
    const float* from = picture.Row(y + shave) + 4 * static_cast<std::ptrdiff_t>(shave);
    double* to = plane.Row(y);
    for (std::int32_t x = 0; x < plane.width; ++x) {
      const double b = from[4 * x];
      const double g = from[4 * x + 1];
      const double r = from[4 * x + 2];
      to[x] = 16.0 + (65.481 * r + 128.553 * g + 24.966 * b) / 255.0;
    }
  });
  return plane;
}

PsnrFigures PsnrRgb(const TImageF4& reference, const TImageF4& test, std::int32_t shave) {
  CheckSameSize(reference.Width(), reference.Height(), test.Width(), test.Height());
  CheckShave(reference.Width(), reference.Height(), shave);
  const std::int32_t w = reference.Width() - 2 * shave;
  const std::int32_t h = reference.Height() - 2 * shave;
  std::vector<double> rows(static_cast<std::size_t>(h));
  ForEachRow(h, [&](std::int32_t y) {
    const float* a = reference.Row(y + shave) + 4 * static_cast<std::ptrdiff_t>(shave);
    const float* b = test.Row(y + shave) + 4 * static_cast<std::ptrdiff_t>(shave);
    double sum = 0.0;
    for (std::int32_t i = 0; i < 4 * w; ++i) {
      if (i % 4 == 3) continue;
      const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
      sum += d * d;
    }
    rows[static_cast<std::size_t>(y)] = sum;
  });
  PsnrFigures result;
  result.mse = SumRows(rows) / (3.0 * static_cast<double>(w) * static_cast<double>(h));
  result.psnr = PsnrOf(result.mse);
  return result;
}

PsnrFigures PsnrLuma(const LumaPlane& reference, const LumaPlane& test) {
  CheckSameSize(reference.width, reference.height, test.width, test.height);
  if (reference.values.empty()) throw SettingError("the pictures hold no pixels to compare");
  std::vector<double> rows(static_cast<std::size_t>(reference.height));
  ForEachRow(reference.height, [&](std::int32_t y) {
    const double* a = reference.Row(y);
    const double* b = test.Row(y);
    double sum = 0.0;
    for (std::int32_t x = 0; x < reference.width; ++x) sum += (a[x] - b[x]) * (a[x] - b[x]);
    rows[static_cast<std::size_t>(y)] = sum;
  });
  PsnrFigures result;
  result.mse = SumRows(rows) / static_cast<double>(reference.values.size());
  result.psnr = PsnrOf(result.mse);
  return result;
}

double Ssim(const LumaPlane& reference, const LumaPlane& test) {
  CheckSameSize(reference.width, reference.height, test.width, test.height);
  return SsimMeans(reference, test).ssim;
}

double MsSsim(const LumaPlane& reference, const LumaPlane& test) {
  CheckSameSize(reference.width, reference.height, test.width, test.height);
  // The coarsest scale must still hold one window.
  std::int32_t w = reference.width, h = reference.height;
  for (int scale = 1; scale < 5; ++scale) w = (w + 1) / 2, h = (h + 1) / 2;
  if (w < metrics::kWindow || h < metrics::kWindow) return kNaN;
  LumaPlane a = reference, b = test;
  double result = 1.0;
  for (int scale = 0; scale < 5; ++scale) {
    const metrics::SsimTerms means = SsimMeans(a, b);
    const double term = scale < 4 ? means.cs : means.ssim;
    result *= std::pow(std::max(term, 0.0), kMsSsimWeights[scale]);
    if (scale < 4) {
      a = HalveRepeated(a);
      b = HalveRepeated(b);
    }
  }
  return result;
}

double Gmsd(const LumaPlane& reference, const LumaPlane& test) {
  CheckSameSize(reference.width, reference.height, test.width, test.height);
  if (reference.values.empty()) return kNaN;
  const LumaPlane mr = PrewittMagnitude(HalveZero(reference));
  const LumaPlane mt = PrewittMagnitude(HalveZero(test));
  const auto n = static_cast<double>(mr.values.size());
  if (mr.values.size() < 2) return kNaN;
  constexpr double kT = 170.0;
  LumaPlane map = BlankPlane(mr.width, mr.height);
  std::vector<double> rows(static_cast<std::size_t>(mr.height));
  ForEachRow(mr.height, [&](std::int32_t y) {
    double sum = 0.0;
    for (std::int32_t x = 0; x < mr.width; ++x) {
      const double r = mr.At(x, y), t = mt.At(x, y);
      const double q = (2.0 * r * t + kT) / (r * r + t * t + kT);
      map.Row(y)[x] = q;
      sum += q;
    }
    rows[static_cast<std::size_t>(y)] = sum;
  });
  const double mean = SumRows(rows) / n;
  ForEachRow(mr.height, [&](std::int32_t y) {
    double sum = 0.0;
    for (std::int32_t x = 0; x < mr.width; ++x) {
      const double d = map.At(x, y) - mean;
      sum += d * d;
    }
    rows[static_cast<std::size_t>(y)] = sum;
  });
  return std::sqrt(SumRows(rows) / (n - 1.0));
}

EdgeBandFigures EdgeBand(const LumaPlane& reference, const LumaPlane& test,
                         const EdgeBandOptions& options) {
  CheckSameSize(reference.width, reference.height, test.width, test.height);
  CheckEdgeOptions(options);
  const std::int32_t w = reference.width, h = reference.height;
  EdgeBandFigures result;
  if (reference.values.empty()) {
    result.mse = result.psnr = result.overshoot = kNaN;
    return result;
  }
  const auto index = [w](std::int32_t x, std::int32_t y) {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x);
  };
  auto at = [&](std::int32_t x, std::int32_t y) {
    return reference.At(std::clamp(x, 0, w - 1), std::clamp(y, 0, h - 1));
  };
  std::vector<std::uint8_t> edges(reference.values.size());
  ForEachRow(h, [&](std::int32_t y) {
    for (std::int32_t x = 0; x < w; ++x) {
      const double gx = (at(x + 1, y - 1) + 2.0 * at(x + 1, y) + at(x + 1, y + 1)) -
                        (at(x - 1, y - 1) + 2.0 * at(x - 1, y) + at(x - 1, y + 1));
      const double gy = (at(x - 1, y + 1) + 2.0 * at(x, y + 1) + at(x + 1, y + 1)) -
                        (at(x - 1, y - 1) + 2.0 * at(x, y - 1) + at(x + 1, y - 1));
      edges[index(x, y)] = std::sqrt(gx * gx + gy * gy) / 8.0 > options.threshold ? 1 : 0;
    }
  });
  const std::vector<std::uint8_t> outer = Dilate(edges, w, h, options.outer);
  const std::vector<std::uint8_t> inner =
      options.inner > 1 ? Dilate(edges, w, h, options.inner - 1) : edges;
  const LumaPlane low = Extreme5x5(reference, false);
  const LumaPlane high = Extreme5x5(reference, true);
  std::vector<double> squares(static_cast<std::size_t>(h)), overshoots(static_cast<std::size_t>(h));
  std::vector<std::int64_t> counts(static_cast<std::size_t>(h)), edgeCounts(counts);
  ForEachRow(h, [&](std::int32_t y) {
    double square = 0.0, over = 0.0;
    std::int64_t count = 0, edgeCount = 0;
    for (std::int32_t x = 0; x < w; ++x) {
      edgeCount += edges[index(x, y)];
      if (!outer[index(x, y)] || inner[index(x, y)]) continue;
      const double t = test.At(x, y);
      const double d = reference.At(x, y) - t;
      square += d * d;
      over += std::max(0.0, t - high.At(x, y)) + std::max(0.0, low.At(x, y) - t);
      ++count;
    }
    squares[static_cast<std::size_t>(y)] = square;
    overshoots[static_cast<std::size_t>(y)] = over;
    counts[static_cast<std::size_t>(y)] = count;
    edgeCounts[static_cast<std::size_t>(y)] = edgeCount;
  });
  for (std::int32_t y = 0; y < h; ++y) {
    result.bandPixels += counts[static_cast<std::size_t>(y)];
    result.edgePixels += edgeCounts[static_cast<std::size_t>(y)];
  }
  if (result.bandPixels == 0) {
    result.mse = result.psnr = result.overshoot = kNaN;
    return result;
  }
  const auto n = static_cast<double>(result.bandPixels);
  result.mse = SumRows(squares) / n;
  result.psnr = PsnrOf(result.mse);
  result.overshoot = SumRows(overshoots) / n;
  return result;
}

Metrics CompareMetrics(const TImageF4& reference, const TImageF4& test,
                       const MetricsOptions& options) {
  CheckSameSize(reference.Width(), reference.Height(), test.Width(), test.Height());
  CheckShave(reference.Width(), reference.Height(), options.shave);
  CheckEdgeOptions(options.edges);
  Metrics m;
  const LumaPlane a = Luma(reference, options.shave);
  const LumaPlane b = Luma(test, options.shave);
  m.width = a.width;
  m.height = a.height;
  m.rgb = PsnrRgb(reference, test, options.shave);
  m.y = PsnrLuma(a, b);
  m.ssim = Ssim(a, b);
  m.msSsim = MsSsim(a, b);
  m.gmsd = Gmsd(a, b);
  m.edges = EdgeBand(a, b, options.edges);
  return m;
}

void Viridis(double t, double rgb[3]) {
  // Degree-6 polynomial fit of viridis per channel (constant term first).
  static constexpr double kCoefficients[3][7] = {
      {0.2777273272234177, 0.1050930431085774, -0.3308618287255563, -4.634230498983486,
       6.228269936347081, 4.776384997670288, -5.435455855934631},
      {0.005407344544966578, 1.404613529898575, 0.214847559468213, -5.799100973351585,
       14.17993336680509, -13.74514537774601, 4.645852612178535},
      {0.3340998053353061, 1.384590162594685, 0.09509516302823659, -19.33244095627987,
       56.69055260068105, -65.35303263337234, 26.3124352495832}};
  t = std::isnan(t) ? 0.0 : std::clamp(t, 0.0, 1.0);
  for (int c = 0; c < 3; ++c) {
    double v = kCoefficients[c][6];
    for (int k = 5; k >= 0; --k) v = kCoefficients[c][k] + t * v;
    rgb[c] = std::clamp(v, 0.0, 1.0);
  }
}

TImageF4 DifferenceMap(const LumaPlane& reference, const LumaPlane& test, double fullScale) {
  CheckSameSize(reference.width, reference.height, test.width, test.height);
  if (!(fullScale > 0.0) || !std::isfinite(fullScale))
    throw SettingError("the difference map's full scale must be a finite number above 0");
  TImageF4 map(reference.width, reference.height);
  ForEachRow(reference.height, [&](std::int32_t y) {
    float* to = map.Row(y);
    for (std::int32_t x = 0; x < reference.width; ++x) {
      double rgb[3];
      Viridis(std::abs(reference.At(x, y) - test.At(x, y)) / fullScale, rgb);
      to[4 * x] = static_cast<float>(std::round(255.0 * rgb[2]));
      to[4 * x + 1] = static_cast<float>(std::round(255.0 * rgb[1]));
      to[4 * x + 2] = static_cast<float>(std::round(255.0 * rgb[0]));
      to[4 * x + 3] = 255.0f;
    }
  });
  return map;
}

}  // namespace tvq
