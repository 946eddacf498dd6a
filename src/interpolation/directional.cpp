#include "interpolation/directional.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "imaging/parallel.h"
#include "interpolation/directional_kernels.h"
#include "interpolation/interpolation.h"

namespace tvq {

namespace {

// Weights of the four diagonal neighbours TL, TR, BL, BR by the index (0-based)
// of the largest luminance difference.
constexpr double kDiagonalWeights[6][4] = {{0.05, 0.45, 0.45, 0.05}, {0.45, 0.05, 0.05, 0.45},
                                           {0.15, 0.35, 0.35, 0.15}, {0.35, 0.15, 0.15, 0.35},
                                           {0.15, 0.35, 0.35, 0.15}, {0.35, 0.15, 0.15, 0.35}};

inline void Store(std::uint8_t* target, const PixelC4& value) {
  for (int k = 0; k < 4; ++k) target[k] = value[k];
}

// Source pixel with its luminance byte.
inline void PlaceWithLuminance(const std::uint8_t* s, std::uint8_t* d) {
  const std::uint32_t packed =
      static_cast<std::uint32_t>(s[0]) | static_cast<std::uint32_t>(s[1]) << 8 |
      static_cast<std::uint32_t>(s[2]) << 16 | static_cast<std::uint32_t>(s[3]) << 24;
  d[0] = s[0];
  d[1] = s[1];
  d[2] = s[2];
  d[3] = ClampToByte(static_cast<float>(ColorToGrey(packed)));
}

// Diagonal estimate of pixel (x, y); at(dx, dy) is the (clamped) pixel dx, dy away.
template <typename At>
inline PixelC4 DiagonalEstimate(At at) {
  const double inverseSqrt2 = 1.0 / std::sqrt(2.0);
  const double inverseSqrt10 = 1.0 / std::sqrt(10.0);
  const auto L = [&at](std::int32_t dx, std::int32_t dy) {
    return static_cast<std::int32_t>(at(dx, dy)[3]);
  };
  const double differences[6] = {std::fabs((L(-1, -1) - L(1, 1)) * inverseSqrt2),
                                 std::fabs((L(-1, 1) - L(1, -1)) * inverseSqrt2),
                                 std::fabs((L(-1, -3) - L(1, 3)) * inverseSqrt10),
                                 std::fabs((L(1, -3) - L(-1, 3)) * inverseSqrt10),
                                 std::fabs((L(-3, -1) - L(3, 1)) * inverseSqrt10),
                                 std::fabs((L(3, -1) - L(-3, 1)) * inverseSqrt10)};
  int chosen = 0;
  double largest = -1.0;
  for (int d = 0; d < 6; ++d) {
    if (differences[d] > largest) {
      largest = differences[d];
      chosen = d;
    }
  }
  const double* weight = kDiagonalWeights[chosen];
  return WeightedSumC4(at(-1, -1), weight[0], at(1, -1), weight[1], at(-1, 1), weight[2], at(1, 1),
                       weight[3]);
}

// Axis estimate of pixel (x, y) with x + y odd; at(dx, dy) as above.
template <typename At>
inline PixelC4 AxisEstimate(At at) {
  const std::int32_t dh =
      std::abs(static_cast<std::int32_t>(at(-1, 0)[3]) - static_cast<std::int32_t>(at(1, 0)[3]));
  const std::int32_t dv =
      std::abs(static_cast<std::int32_t>(at(0, -1)[3]) - static_cast<std::int32_t>(at(0, 1)[3]));
  if (dv > dh) return AverageC4(at(1, 0), at(-1, 0));
  return AverageC4(at(0, 1), at(0, -1));
}

// Rows of the fast kernels per parallel chunk: 16 rows of 1024 pixels take about
// 20 us (the whole 512 x 512 enlargement 2.3 ms on one thread in bench_interpolation),
// several times the cost of a task.
constexpr std::int64_t kRowGrain = 16;

// Row pointers of rows y - radius .. y + radius clamped into the image, and the
// accessor of the pixel dx, dy away from (x, y) with x clamped too.
template <typename Image, int kRadius>
struct ClampedRows {
  ClampedRows(const Image& image, std::int32_t y) : width(image.Width()) {
    for (int d = -kRadius; d <= kRadius; ++d)
      rows[d + kRadius] = image.Row(std::clamp(y + d, 0, image.Height() - 1));
  }
  std::uint8_t* At(std::int32_t x, std::int32_t dx, std::int32_t dy) const {
    return rows[dy + kRadius] + 4 * static_cast<std::ptrdiff_t>(std::clamp(x + dx, 0, width - 1));
  }
  std::int32_t width;
  std::uint8_t* rows[2 * kRadius + 1];
};

}  // namespace

PixelC4 AverageC4(const std::uint8_t* p, const std::uint8_t* q) {
  PixelC4 result;
  for (int k = 0; k < 4; ++k) result[k] = static_cast<std::uint8_t>((p[k] + q[k]) >> 1);
  return result;
}

PixelC4 WeightedSumC4(const std::uint8_t* p1, double w1, const std::uint8_t* p2, double w2,
                      const std::uint8_t* p3, double w3, const std::uint8_t* p4, double w4) {
  PixelC4 result;
  for (int k = 0; k < 4; ++k)
    result[k] = ClampToByte(static_cast<float>(p1[k] * w1 + p2[k] * w2 + p3[k] * w3 + p4[k] * w4));
  return result;
}

void PlaceSourceWithLuminance(const TImageC4& src, TImageC4& dst) {
  const std::int32_t w = src.Width(), h = src.Height();
  if (ReferenceKernels()) {
    for (std::int32_t y = 0; y < h; ++y)
      for (std::int32_t x = 0; x < w; ++x)
        PlaceWithLuminance(src.Pixel(x, y), dst.Pixel(2 * x, 2 * y));
    return;
  }
  // Every destination pixel comes from its own source pixel: rows in parallel.
  ParallelFor(h, kRowGrain, [&](std::int64_t begin, std::int64_t end) {
    for (std::int32_t y = static_cast<std::int32_t>(begin); y < end; ++y) {
      const std::uint8_t* s = src.Row(y);
      std::uint8_t* d = dst.Row(2 * y);
      const auto done =
          static_cast<std::int32_t>(directionalsimd::PlaceRow(s, d, static_cast<std::size_t>(w)));
      for (std::int32_t x = done; x < w; ++x) PlaceWithLuminance(s + 4 * x, d + 8 * x);
    }
  });
}

void DirectionalDiagonalFill(const TImageC4& src, TImageC4& dst, const StopFlag* stop) {
  if (!IsTwiceSize(src, dst)) return;
  PlaceSourceWithLuminance(src, dst);
  const std::int32_t w = src.Width(), h = src.Height();
  if (ReferenceKernels()) {
    for (std::int32_t i = 1; i < h; ++i) {
      ThrowIfStopped(stop);
      for (std::int32_t j = 1; j < w; ++j) {
        const std::int32_t x = 2 * j - 1, y = 2 * i - 1;
        Store(dst.Pixel(x, y), DiagonalEstimate([&](std::int32_t dx, std::int32_t dy) {
                return static_cast<const std::uint8_t*>(dst.Pixel(x + dx, y + dy));
              }));
      }
    }
    return;
  }
  // Each estimate reads the placed source pixels (even, even) and, through the
  // clamped reads at the last row and column, pixels (odd, even) and (even, odd);
  // none of them is written here, so rows run in parallel.
  if (h < 2) return;
  ParallelFor(h - 1, kRowGrain, [&](std::int64_t begin, std::int64_t end) {
    for (std::int32_t i = static_cast<std::int32_t>(begin) + 1; i <= end; ++i) {
      ThrowIfStopped(stop);
      const std::int32_t y = 2 * i - 1;
      const ClampedRows<TImageC4, 3> rows(dst, y);
      // Vectors for the pixels whose columns need no clamping (2 <= j <= w - 2).
      const std::int32_t vectorEnd =
          w >= 4 ? static_cast<std::int32_t>(directionalsimd::DiagonalRow(
                       rows.rows, rows.rows[3], 2, static_cast<std::size_t>(w - 1)))
                 : 2;
      for (std::int32_t j = 1; j < w; ++j) {
        if (j == 2) j = std::max(j, vectorEnd);
        if (j >= w) break;
        const std::int32_t x = 2 * j - 1;
        Store(rows.At(x, 0, 0), DiagonalEstimate([&](std::int32_t dx, std::int32_t dy) {
                return static_cast<const std::uint8_t*>(rows.At(x, dx, dy));
              }));
      }
    }
  });
}

void DirectionalAxisFill(TImageC4& img, const StopFlag* stop) {
  const std::int32_t W = img.Width(), H = img.Height();
  if (ReferenceKernels()) {
    for (std::int32_t y = 0; y < H; ++y) {
      ThrowIfStopped(stop);
      for (std::int32_t x = (y % 2 == 0) ? 1 : 0; x < W; x += 2) {
        Store(img.Pixel(x, y), AxisEstimate([&](std::int32_t dx, std::int32_t dy) {
                return static_cast<const std::uint8_t*>(img.Pixel(x + dx, y + dy));
              }));
      }
    }
    return;
  }
  // A pixel with x + y odd reads its four axis neighbours (x + y even, never
  // written here) or, clamped at the borders, itself before it is written, so the
  // order of the pixels does not matter. The vector kernel rewrites whole rows
  // (the pixels it does not change with their own values), and a row's neighbours
  // read it: even rows run in parallel first, then odd rows.
  for (const std::int32_t parity : {0, 1})
    ParallelFor((H + 1 - parity) / 2, kRowGrain / 2, [&](std::int64_t begin, std::int64_t end) {
      for (std::int32_t t = static_cast<std::int32_t>(begin); t < end; ++t) {
        ThrowIfStopped(stop);
        const std::int32_t y = 2 * t + parity;
        const ClampedRows<TImageC4, 1> rows(img, y);
        // Vectors for the pixels whose columns need no clamping: pairs [0, W/2 - 1) of an
        // even row, [1, W/2) of an odd one; the rest one by one.
        const bool evenRow = y % 2 == 0;
        const std::size_t pairs = static_cast<std::size_t>(W / 2);
        std::int32_t vectorBegin = 0, vectorEnd = 0;
        if (W % 2 == 0 && pairs >= 2) {
          const std::size_t begin = evenRow ? 0 : 1;
          const std::size_t end = evenRow ? pairs - 1 : pairs;
          const std::size_t done = directionalsimd::AxisRow(rows.rows[0], rows.rows[1],
                                                            rows.rows[2], evenRow, begin, end);
          vectorBegin = static_cast<std::int32_t>(2 * begin + (evenRow ? 1 : 0));
          vectorEnd = static_cast<std::int32_t>(2 * done + (evenRow ? 1 : 0));
        }
        for (std::int32_t x = evenRow ? 1 : 0; x < W; x += 2) {
          if (x == vectorBegin && vectorEnd > vectorBegin) x = vectorEnd;
          if (x >= W) break;
          Store(rows.At(x, 0, 0), AxisEstimate([&](std::int32_t dx, std::int32_t dy) {
                  return static_cast<const std::uint8_t*>(rows.At(x, dx, dy));
                }));
        }
      }
    });
}

void DirectionalUpscaleC4(const TImageC4& src, TImageC4& dst) {
  DirectionalUpscaleC4(src, dst, nullptr);
}

void DirectionalUpscaleC4(const TImageC4& src, TImageC4& dst, const StopFlag* stop) {
  if (!IsTwiceSize(src, dst)) return;
  DirectionalDiagonalFill(src, dst, stop);
  DirectionalAxisFill(dst, stop);
}

}  // namespace tvq
