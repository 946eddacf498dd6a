// The SIMD row kernel of the four-float recombination (deringcommand_kernels.h),
// compiled for every instruction set Highway dispatches to.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "deringing/deringcommand_simd.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include <cstdint>

#include "deringing/deringcommand_kernels.h"

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// out = (src - u) + l for blue, green and red of each of w four-float pixels, the
// fourth float copied: float operations, lane by lane.
void ColourRecombineRow(const float* HWY_RESTRICT src, const float* HWY_RESTRICT u,
                        const float* HWY_RESTRICT l, float* HWY_RESTRICT out, std::int32_t w) {
  std::int32_t x = 0;
#if HWY_TARGET != HWY_SCALAR
  const hn::ScalableTag<float> df;
  const std::int32_t n = static_cast<std::int32_t>(hn::Lanes(df));
  for (; x + n <= w; x += n) {
    hn::Vec<decltype(df)> b, g, r, a;
    hn::LoadInterleaved4(df, src + 4 * x, b, g, r, a);
    const auto ux = hn::LoadU(df, u + x);
    const auto lx = hn::LoadU(df, l + x);
    hn::StoreInterleaved4(hn::Add(hn::Sub(b, ux), lx), hn::Add(hn::Sub(g, ux), lx),
                          hn::Add(hn::Sub(r, ux), lx), a, df, out + 4 * x);
  }
#endif
  for (; x < w; ++x) {
    for (std::int32_t k = 0; k < 3; ++k) out[4 * x + k] = (src[4 * x + k] - u[x]) + l[x];
    out[4 * x + 3] = src[4 * x + 3];
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq {

HWY_EXPORT(ColourRecombineRow);

void ColourRecombineRow(const float* src, const float* u, const float* l, float* out,
                        std::int32_t w) {
  HWY_DYNAMIC_DISPATCH(ColourRecombineRow)(src, u, l, out, w);
}

}  // namespace tvq
#endif  // HWY_ONCE
