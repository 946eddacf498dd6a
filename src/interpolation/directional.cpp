#include "interpolation/directional.h"

#include <cmath>
#include <cstdlib>

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
  for (std::int32_t y = 0; y < h; ++y) {
    for (std::int32_t x = 0; x < w; ++x) {
      const std::uint8_t* s = src.Pixel(x, y);
      const std::uint32_t packed =
          static_cast<std::uint32_t>(s[0]) | static_cast<std::uint32_t>(s[1]) << 8 |
          static_cast<std::uint32_t>(s[2]) << 16 | static_cast<std::uint32_t>(s[3]) << 24;
      std::uint8_t* d = dst.Pixel(2 * x, 2 * y);
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
      d[3] = ClampToByte(static_cast<float>(ColorToGrey(packed)));
    }
  }
}

void DirectionalDiagonalFill(const TImageC4& src, TImageC4& dst) {
  if (!IsTwiceSize(src, dst)) return;
  PlaceSourceWithLuminance(src, dst);
  const std::int32_t w = src.Width(), h = src.Height();
  const double inverseSqrt2 = 1.0 / std::sqrt(2.0);
  const double inverseSqrt10 = 1.0 / std::sqrt(10.0);
  const auto L = [&dst](std::int32_t x, std::int32_t y) {
    return static_cast<std::int32_t>(dst.Pixel(x, y)[3]);
  };
  for (std::int32_t i = 1; i < h; ++i) {
    for (std::int32_t j = 1; j < w; ++j) {
      const std::int32_t x = 2 * j - 1, y = 2 * i - 1;
      const double differences[6] = {
          std::fabs((L(x - 1, y - 1) - L(x + 1, y + 1)) * inverseSqrt2),
          std::fabs((L(x - 1, y + 1) - L(x + 1, y - 1)) * inverseSqrt2),
          std::fabs((L(x - 1, y - 3) - L(x + 1, y + 3)) * inverseSqrt10),
          std::fabs((L(x + 1, y - 3) - L(x - 1, y + 3)) * inverseSqrt10),
          std::fabs((L(x - 3, y - 1) - L(x + 3, y + 1)) * inverseSqrt10),
          std::fabs((L(x + 3, y - 1) - L(x - 3, y + 1)) * inverseSqrt10)};
      int chosen = 0;
      double largest = -1.0;
      for (int d = 0; d < 6; ++d) {
        if (differences[d] > largest) {
          largest = differences[d];
          chosen = d;
        }
      }
      const double* weight = kDiagonalWeights[chosen];
      Store(dst.Pixel(x, y),
            WeightedSumC4(dst.Pixel(x - 1, y - 1), weight[0], dst.Pixel(x + 1, y - 1), weight[1],
                          dst.Pixel(x - 1, y + 1), weight[2], dst.Pixel(x + 1, y + 1), weight[3]));
    }
  }
}

void DirectionalAxisFill(TImageC4& img) {
  const std::int32_t W = img.Width(), H = img.Height();
  const auto L = [&img](std::int32_t x, std::int32_t y) {
    return static_cast<std::int32_t>(img.Pixel(x, y)[3]);
  };
  for (std::int32_t y = 0; y < H; ++y) {
    for (std::int32_t x = (y % 2 == 0) ? 1 : 0; x < W; x += 2) {
      const std::int32_t dh = std::abs(L(x - 1, y) - L(x + 1, y));
      const std::int32_t dv = std::abs(L(x, y - 1) - L(x, y + 1));
      if (dv > dh)
        Store(img.Pixel(x, y), AverageC4(img.Pixel(x + 1, y), img.Pixel(x - 1, y)));
      else
        Store(img.Pixel(x, y), AverageC4(img.Pixel(x, y + 1), img.Pixel(x, y - 1)));
    }
  }
}

void DirectionalUpscaleC4(const TImageC4& src, TImageC4& dst) {
  if (!IsTwiceSize(src, dst)) return;
  DirectionalDiagonalFill(src, dst);
  DirectionalAxisFill(dst);
}

}  // namespace tvq
