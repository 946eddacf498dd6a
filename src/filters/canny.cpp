#include "filters/canny.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "filters/canny_kernels.h"
#include "filters/gauss.h"
#include "imaging/errors.h"

namespace tvq {

namespace {

// Calls mark(i, isMiddle) for i = 1 .. n - 2 of a line of n magnitudes m[0 .. n - 1];
// isMiddle is true at the middle of a run of ridge samples. forward and backward are
// run counters of at least n entries.
template <typename Mark>
void ScanLine(const float* m, std::int64_t n, std::int32_t* forward, std::int32_t* backward,
              Mark mark) {
  if (n < 3) return;  // a ridge sample needs two neighbours
  auto ridge = [m](std::int64_t i) {
    return m[i] >= m[i - 1] && m[i] >= m[i + 1] && std::fabs(m[i]) > 8.0f;
  };
  forward[0] = forward[n - 1] = backward[0] = backward[n - 1] = 0;
  for (std::int64_t i = 1; i <= n - 2; ++i) forward[i] = ridge(i) ? forward[i - 1] + 1 : 0;
  for (std::int64_t i = n - 2; i >= 1; --i) backward[i] = ridge(i) ? backward[i + 1] + 1 : 0;
  for (std::int64_t i = 0; i < n; ++i) forward[i] = std::min(forward[i], backward[i]);
  for (std::int64_t i = 1; i <= n - 2; ++i)
    mark(i, forward[i] >= forward[i - 1] && forward[i] >= forward[i + 1] && forward[i] > 0);
}

}  // namespace

void MarkRidgeLine(const float* magnitude, std::int32_t n, std::uint8_t* marks) {
  if (n < 3) return;
  std::vector<std::int32_t> forward(static_cast<std::size_t>(n));
  std::vector<std::int32_t> backward(static_cast<std::size_t>(n));
  ScanLine(magnitude, n, forward.data(), backward.data(), [marks](std::int64_t i, bool middle) {
    if (middle) marks[i] = 1;
  });
}

// The plain single-thread edge map, step by step as documented in the header.
void CannyEdgeMapPlain(TImageC4& src, TImageB& dst, double sigma, std::int32_t radius) {
  const std::int32_t w = src.Width();
  const std::int32_t h = src.Height();

  std::uint8_t* const* srcRows = src.Rows();
  for (std::int32_t y = 0; y < h; ++y) {
    std::uint8_t* p = srcRows[y];
    for (std::int32_t x = 0; x < w; ++x, p += 4) {
      const std::uint32_t packed = p[0] | (p[1] << 8) | (p[2] << 16);
      p[3] = static_cast<std::uint8_t>(ColorToGreyByte(packed));
    }
  }
  dst.Clear();

  // Horizontal derivative, then the gradient magnitude, in gx; vertical derivative in gy.
  TImageF gx(w, h);
  TImageF gy(w, h);
  GaussDerivX(src, gx, static_cast<float>(sigma), radius);
  GaussDerivY(src, gy, static_cast<float>(sigma), radius);
  for (std::int32_t y = 0; y < h; ++y) {
    float* a = gx.Row(y);
    const float* b = gy.Row(y);
    for (std::int32_t x = 0; x < w; ++x)
      a[x] = static_cast<float>(
          std::sqrt(static_cast<double>(a[x]) * a[x] + static_cast<double>(b[x]) * b[x]));
  }

  std::vector<std::int32_t> forward(static_cast<std::size_t>(w) + h);
  std::vector<std::int32_t> backward(forward.size());
  std::uint8_t* const* dstRows = dst.Rows();
  for (std::int32_t y = 0; y < h; ++y) {
    const float* m = gx.Row(y);
    ScanLine(m, w, forward.data(), backward.data(), [&](std::int64_t i, bool middle) {
      if (middle) dstRows[y][i] = 1;
      const std::uint32_t grey = GreyToColor(2.0f * m[i]);
      std::memcpy(srcRows[y] + 4 * i, &grey, 4);
    });
  }
  std::vector<float> column(static_cast<std::size_t>(h));
  for (std::int32_t x = 0; x < w; ++x) {
    for (std::int32_t y = 0; y < h; ++y) column[y] = gx.Row(y)[x];
    ScanLine(column.data(), h, forward.data(), backward.data(), [&](std::int64_t i, bool middle) {
      if (middle) dstRows[i][x] = 1;
    });
  }
}

}  // namespace tvq
