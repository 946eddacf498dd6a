#include <cstddef>

#include "utility/metrics_kernels.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "utility/metrics_simd.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace tvq {
namespace metricssimd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void AddScaledImpl(double* HWY_RESTRICT acc, const double* HWY_RESTRICT src, double w,
                   std::size_t n) {
  const hn::ScalableTag<double> dd;
  const std::size_t lanes = hn::Lanes(dd);
  const auto weight = hn::Set(dd, w);
  std::size_t i = 0;
  for (; i + lanes <= n; i += lanes)
    hn::StoreU(hn::Add(hn::LoadU(dd, acc + i), hn::Mul(weight, hn::LoadU(dd, src + i))), dd,
               acc + i);
  for (; i < n; ++i) acc[i] = acc[i] + w * src[i];
}

}  // namespace HWY_NAMESPACE
}  // namespace metricssimd
}  // namespace tvq
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tvq::metricssimd {

HWY_EXPORT(AddScaledImpl);

void AddScaled(double* acc, const double* src, double w, std::size_t n) {
  HWY_DYNAMIC_DISPATCH(AddScaledImpl)(acc, src, w, n);
}

}  // namespace tvq::metricssimd
#endif
