// The threaded edge map with its ridge searches in vector lanes, and the choice between
// it and the plain loops of canny.cpp.
#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "filters/canny.h"
#include "filters/canny_kernels.h"
#include "filters/gauss.h"
#include "imaging/convert_kernels.h"
#include "imaging/dispatch.h"
#include "imaging/errors.h"
#include "imaging/parallel.h"

namespace tvq {

namespace {

// Work items per parallel chunk of the per-pixel steps.
constexpr std::int64_t kChunkPixels = 8192;
// Fewest columns per chunk of the column scans, so that chunks rarely share the cache
// lines of the marks they write.
constexpr std::int64_t kMinColumns = 64;

// Marks the middle sample (two for an even length) of the run of ridge samples [s, e].
// This is where min(forward count, backward count) of ScanLine peaks: it rises by one per
// sample from each end of the run and is 0 outside it.
template <typename Mark>
inline void MarkMiddle(std::int64_t s, std::int64_t e, Mark& mark) {
  const std::int64_t length = e - s + 1;
  mark(s + (length - 1) / 2);
  if (length % 2 == 0) mark(s + length / 2);
}

// The first bit at or after `from` that is set (set == true) or clear, below n; n if none.
std::int64_t NextBit(const std::uint64_t* bits, std::int64_t from, std::int64_t n, bool set) {
  while (from < n) {
    std::uint64_t word = bits[from / 64];
    if (!set) word = ~word;
    word >>= from % 64;
    if (word != 0) return std::min(n, from + std::countr_zero(word));
    from = (from / 64 + 1) * 64;
  }
  return n;
}

// ScanLine's marks along a row: the ridge tests run in vector lanes into a bit row, and
// only the runs of set bits are visited. `bits` holds (n + 63) / 64 words. (Testing and
// branching per sample, the row and column scans were 24% of the fast edge map of a noisy
// 1024 x 1024 picture; with bit rows 7%, perf, one thread.)
template <typename Mark>
void MarkRowRidges(const float* m, std::int64_t n, std::uint64_t* bits, Mark mark) {
  if (n < 3) return;
  // Bit j stands for sample j + 1.
  const std::int64_t tested = n - 2;
  cannysimd::RidgeBits(m, m + 1, m + 2, static_cast<std::size_t>(tested), bits);
  for (std::int64_t s = NextBit(bits, 0, tested, true); s < tested;) {
    const std::int64_t e = NextBit(bits, s, tested, false);
    MarkMiddle(s + 1, e, mark);
    s = NextBit(bits, e, tested, true);
  }
}

// The same along the columns [x0, x1), walking the rows in order (rows are contiguous in
// memory, columns are not). Bit x - x0 of a row's ridge bits is column x; a run of a
// column opens where its bit turns on and closes where it turns off, so only those
// transitions are visited. start holds the open run of every column.
void MarkColumnRidges(const TImageF& m, std::uint8_t* const* marks, std::int32_t x0,
                      std::int32_t x1, std::vector<std::uint64_t>& bits,
                      std::vector<std::int64_t>& start) {
  const std::int32_t h = m.Height();
  if (h < 3) return;
  const std::int64_t n = x1 - x0;
  const std::size_t words = static_cast<std::size_t>((n + 63) / 64);
  bits.assign(2 * words, 0);
  start.assign(static_cast<std::size_t>(n), -1);
  std::uint64_t* previous = bits.data();
  std::uint64_t* current = bits.data() + words;
  auto close = [&](std::int64_t x, std::int64_t end) {
    auto mark = [&](std::int64_t i) { marks[i][x0 + x] = 1; };
    MarkMiddle(start[static_cast<std::size_t>(x)], end, mark);
  };
  for (std::int32_t y = 1; y <= h - 2; ++y) {
    cannysimd::RidgeBits(m.Row(y - 1) + x0, m.Row(y) + x0, m.Row(y + 1) + x0,
                         static_cast<std::size_t>(n), current);
    for (std::size_t k = 0; k < words; ++k) {
      for (std::uint64_t opened = current[k] & ~previous[k]; opened != 0; opened &= opened - 1)
        start[64 * k + static_cast<std::size_t>(std::countr_zero(opened))] = y;
      for (std::uint64_t closed = previous[k] & ~current[k]; closed != 0; closed &= closed - 1)
        close(static_cast<std::int64_t>(64 * k) + std::countr_zero(closed), y - 1);
    }
    std::swap(previous, current);
  }
  for (std::size_t k = 0; k < words; ++k)
    for (std::uint64_t open = previous[k]; open != 0; open &= open - 1)
      close(static_cast<std::int64_t>(64 * k) + std::countr_zero(open), h - 2);
}

}  // namespace

// The same steps on parallel chunks: every step is per pixel, per row or per column, and
// each chunk writes only its own pixels, rows or columns (the marks are only ever set to
// 1, so the row and the column marks do not depend on each other's order).
void CannyEdgeMapFast(TImageC4& src, TImageB& dst, double sigma, std::int32_t radius,
                      const StopFlag* stop) {
  const std::int32_t w = src.Width();
  const std::int32_t h = src.Height();
  const std::int64_t rowGrain = std::max<std::int64_t>(1, kChunkPixels / std::max(1, w));
  std::uint8_t* const* srcRows = src.Rows();
  ParallelFor(h, rowGrain, [&](std::int64_t y0, std::int64_t y1) {
    for (std::int64_t y = y0; y < y1; ++y)
      convertsimd::GreyIntoFourthByte(srcRows[y], static_cast<std::size_t>(w));
  });
  dst.Clear();
  ThrowIfStopped(stop);

  TImageF gx(w, h);
  TImageF gy(w, h);
  GaussDerivX(src, gx, static_cast<float>(sigma), radius);
  ThrowIfStopped(stop);
  GaussDerivY(src, gy, static_cast<float>(sigma), radius);
  ThrowIfStopped(stop);
  std::uint8_t* const* dstRows = dst.Rows();
  ParallelFor(h, rowGrain, [&](std::int64_t y0, std::int64_t y1) {
    std::vector<float> doubled(static_cast<std::size_t>(w));
    std::vector<std::uint64_t> bits(static_cast<std::size_t>((w + 63) / 64));
    for (std::int64_t y = y0; y < y1; ++y) {
      float* m = gx.Row(static_cast<std::int32_t>(y));
      cannysimd::Magnitude(m, gy.Row(static_cast<std::int32_t>(y)), static_cast<std::size_t>(w));
      if (w < 3) continue;
      MarkRowRidges(m, w, bits.data(), [&](std::int64_t i) { dstRows[y][i] = 1; });
      // Every sample but the first and last shows 2 * M in all four bytes.
      for (std::int32_t x = 1; x < w - 1; ++x) doubled[x] = 2.0f * m[x];
      convertsimd::FloatsToGreyPixels(doubled.data() + 1, srcRows[y] + 4,
                                      static_cast<std::size_t>(w - 2));
    }
  });
  ThrowIfStopped(stop);
  const std::int64_t columnGrain =
      std::max<std::int64_t>(kMinColumns, kChunkPixels / std::max(1, h));
  ParallelFor(w, columnGrain, [&](std::int64_t x0, std::int64_t x1) {
    std::vector<std::uint64_t> bits;
    std::vector<std::int64_t> start;
    MarkColumnRidges(gx, dstRows, static_cast<std::int32_t>(x0), static_cast<std::int32_t>(x1),
                     bits, start);
  });
}

void CannyEdgeMap(TImageC4& src, TImageB& dst, double sigma, const StopFlag* stop) {
  // int(2 * sigma + 1) must be a usable radius; a zero sigma has no derivative.
  if (!(sigma > 0.0) || !(sigma < 1.0e6))
    throw SettingError("edge detector sigma must be positive and below 1e6, not " +
                       std::to_string(sigma));
  const auto radius = static_cast<std::int32_t>(2.0 * sigma + 1.0);
  TImageBase::CheckCompatible(src, dst, false);
  RunKernels([&] { CannyEdgeMapPlain(src, dst, sigma, radius); },
             [&] { CannyEdgeMapFast(src, dst, sigma, radius, stop); });
}

}  // namespace tvq
