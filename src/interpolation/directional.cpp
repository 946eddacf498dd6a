#include "interpolation/directional.h"

#include "interpolation/directional_kernels.h"

namespace tvq {

using directional::AxisEstimate;
using directional::DiagonalEstimate;
using directional::PlaceWithLuminance;
using directional::Store;

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

void PlaceSourceWithLuminancePlain(const TImageC4& src, TImageC4& dst) {
  const std::int32_t w = src.Width(), h = src.Height();
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x)
      PlaceWithLuminance(src.Pixel(x, y), dst.Pixel(2 * x, 2 * y));
}

void DirectionalDiagonalFillPlain(const TImageC4& src, TImageC4& dst, const StopFlag* stop) {
  const std::int32_t w = src.Width(), h = src.Height();
  for (std::int32_t i = 1; i < h; ++i) {
    ThrowIfStopped(stop);
    for (std::int32_t j = 1; j < w; ++j) {
      const std::int32_t x = 2 * j - 1, y = 2 * i - 1;
      Store(dst.Pixel(x, y), DiagonalEstimate([&](std::int32_t dx, std::int32_t dy) {
              return static_cast<const std::uint8_t*>(dst.Pixel(x + dx, y + dy));
            }));
    }
  }
}

void DirectionalAxisFillPlain(TImageC4& img, const StopFlag* stop) {
  const std::int32_t W = img.Width(), H = img.Height();
  for (std::int32_t y = 0; y < H; ++y) {
    ThrowIfStopped(stop);
    for (std::int32_t x = (y % 2 == 0) ? 1 : 0; x < W; x += 2) {
      Store(img.Pixel(x, y), AxisEstimate([&](std::int32_t dx, std::int32_t dy) {
              return static_cast<const std::uint8_t*>(img.Pixel(x + dx, y + dy));
            }));
    }
  }
}

}  // namespace tvq
