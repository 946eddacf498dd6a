// The threaded steps of the directional upscaler with their rows in vector lanes, and the
// choice between them and the plain loops of directional.cpp.
#include <algorithm>

#include "imaging/dispatch.h"
#include "imaging/parallel.h"
#include "interpolation/directional.h"
#include "interpolation/directional_kernels.h"
#include "interpolation/interpolation.h"

namespace tvq {

using directional::AxisEstimate;
using directional::DiagonalEstimate;
using directional::PlaceWithLuminance;
using directional::Store;

namespace {

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

void PlaceSourceWithLuminanceFast(const TImageC4& src, TImageC4& dst) {
  const std::int32_t w = src.Width(), h = src.Height();
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

void DirectionalDiagonalFillFast(const TImageC4& src, TImageC4& dst, const StopFlag* stop) {
  const std::int32_t w = src.Width(), h = src.Height();
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

void DirectionalAxisFillFast(TImageC4& img, const StopFlag* stop) {
  const std::int32_t W = img.Width(), H = img.Height();
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

namespace {

constexpr KernelPair<void(const TImageC4&, TImageC4&)> kPlaceSource{PlaceSourceWithLuminancePlain,
                                                                    PlaceSourceWithLuminanceFast};
constexpr KernelPair<void(const TImageC4&, TImageC4&, const StopFlag*)> kDiagonalFill{
    DirectionalDiagonalFillPlain, DirectionalDiagonalFillFast};
constexpr KernelPair<void(TImageC4&, const StopFlag*)> kAxisFill{DirectionalAxisFillPlain,
                                                                 DirectionalAxisFillFast};

}  // namespace

void PlaceSourceWithLuminance(const TImageC4& src, TImageC4& dst) {
  kPlaceSource(src, dst);
}

void DirectionalDiagonalFill(const TImageC4& src, TImageC4& dst, const StopFlag* stop) {
  if (!IsTwiceSize(src, dst)) return;
  PlaceSourceWithLuminance(src, dst);
  kDiagonalFill(src, dst, stop);
}

void DirectionalAxisFill(TImageC4& img, const StopFlag* stop) {
  kAxisFill(img, stop);
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
