#include "interpolation/lanczos.h"

#include <algorithm>

#include "interpolation/lanczos_kernels.h"

namespace tvq {

namespace {

// The six-tap sum of samples v[0..5], in double, stored as float.
inline float HalfSample(const float (&v)[6]) {
  double sum = 0.0;
  for (int t = 0; t < 6; ++t)
    sum = sum + static_cast<double>(kLanczosTaps[t]) * static_cast<double>(v[t]);
  return static_cast<float>(sum);
}

}  // namespace

void LanczosUpscalePlain(const TImageF& src, TImageF& dst, const StopFlag* stop) {
  const std::int32_t w = src.Width(), h = src.Height();
  for (std::int32_t x = 0; x < w; ++x) {
    ThrowIfStopped(stop);
    for (std::int32_t y = 0; y < h; ++y) {
      *dst.Pixel(2 * x, 2 * y) = *src.Pixel(x, y);
      const float v[6] = {*src.Pixel(x - 2, y), *src.Pixel(x - 1, y), *src.Pixel(x, y),
                          *src.Pixel(x + 1, y), *src.Pixel(x + 2, y), *src.Pixel(x + 3, y)};
      *dst.Pixel(2 * x + 1, 2 * y) = HalfSample(v);
    }
  }
  // Even destination row of source row k, k clamped to the source rows.
  const auto even = [&](std::int32_t x, std::int32_t k) {
    return *dst.Pixel(x, 2 * std::clamp(k, 0, h - 1));
  };
  for (std::int32_t x = 0; x < 2 * w; ++x) {
    ThrowIfStopped(stop);
    for (std::int32_t j = 0; j < h; ++j) {
      const float v[6] = {even(x, j - 2), even(x, j - 1), even(x, j),
                          even(x, j + 1), even(x, j + 2), even(x, j + 3)};
      *dst.Pixel(x, 2 * j + 1) = HalfSample(v);
    }
  }
}

}  // namespace tvq
