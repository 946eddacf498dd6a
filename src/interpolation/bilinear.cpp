#include "interpolation/bilinear.h"

#include "interpolation/bilinear_kernels.h"

namespace tvq {

void BilinearUpscalePlain(const TImageF& src, TImageF& dst, const StopFlag* stop) {
  const std::int32_t w = src.Width(), h = src.Height();
  for (std::int32_t x = 0; x < w; ++x) {
    ThrowIfStopped(stop);
    for (std::int32_t y = 0; y < h; ++y) {
      const double p00 = *src.Pixel(x, y);
      const double p10 = *src.Pixel(x + 1, y);
      const double p01 = *src.Pixel(x, y + 1);
      const double p11 = *src.Pixel(x + 1, y + 1);
      *dst.Pixel(2 * x, 2 * y) = *src.Pixel(x, y);
      *dst.Pixel(2 * x + 1, 2 * y) = static_cast<float>((p10 + p00) * 0.5);
      *dst.Pixel(2 * x, 2 * y + 1) = static_cast<float>((p01 + p00) * 0.5);
      *dst.Pixel(2 * x + 1, 2 * y + 1) = static_cast<float>((p11 + (p01 + (p10 + p00))) * 0.25);
    }
  }
}

}  // namespace tvq
