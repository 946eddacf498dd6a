#include "filters/filterbase.h"

#include <cstdint>

#include "filters/filterbase_kernels.h"

namespace tvq {

namespace filterpass {

template <class C>
void HorizontalPlain(std::int64_t w, std::int64_t y0, std::int64_t y1, std::uint8_t* const* srcRows,
                     std::uint8_t* const* dstRows, const float* kernel, std::int32_t size,
                     std::int32_t radius) {
  constexpr int L = C::kLaneCount;
  for (std::int64_t y = y0; y < y1; ++y) {
    const auto* s = SourceRow<C>(srcRows, y);
    for (std::int64_t x = 0; x < w; ++x)
      for (int c = 0; c < L; ++c) {
        float sum = 0.0f;
        for (std::int32_t k = 0; k < size; ++k)
          sum = Tap(sum, C::Load(s, Clamp(x + k - radius, w) * L + c), kernel[k]);
        Store<C>(dstRows[y], x * L + c, sum);
      }
  }
}

template void HorizontalPlain<CaseC4C4>(std::int64_t, std::int64_t, std::int64_t,
                                        std::uint8_t* const*, std::uint8_t* const*, const float*,
                                        std::int32_t, std::int32_t);
template void HorizontalPlain<CaseF4F4>(std::int64_t, std::int64_t, std::int64_t,
                                        std::uint8_t* const*, std::uint8_t* const*, const float*,
                                        std::int32_t, std::int32_t);
template void HorizontalPlain<CaseFF>(std::int64_t, std::int64_t, std::int64_t,
                                      std::uint8_t* const*, std::uint8_t* const*, const float*,
                                      std::int32_t, std::int32_t);
template void HorizontalPlain<CaseC4F>(std::int64_t, std::int64_t, std::int64_t,
                                       std::uint8_t* const*, std::uint8_t* const*, const float*,
                                       std::int32_t, std::int32_t);
template void HorizontalPlain<CaseByteF>(std::int64_t, std::int64_t, std::int64_t,
                                         std::uint8_t* const*, std::uint8_t* const*, const float*,
                                         std::int32_t, std::int32_t);

namespace {

template <class C>
void VerticalPlain(std::int64_t w, std::int64_t h, std::uint8_t* const* srcRows,
                   std::uint8_t* const* dstRows, const float* kernel, std::int32_t size,
                   std::int32_t radius) {
  constexpr int L = C::kLaneCount;
  for (std::int64_t y = 0; y < h; ++y)
    for (std::int64_t x = 0; x < w; ++x)
      for (int c = 0; c < L; ++c) {
        float sum = 0.0f;
        for (std::int32_t k = 0; k < size; ++k)
          sum = Tap(sum, C::Load(SourceRow<C>(srcRows, Clamp(y + k - radius, h)), x * L + c),
                    kernel[k]);
        Store<C>(dstRows[y], x * L + c, sum);
      }
}

}  // namespace

}  // namespace filterpass

using filterpass::HorizontalPlain;
using filterpass::RunPass;
using filterpass::VerticalPlain;

void HorizontalPassPlain(const TImageBase& source, TImageBase& target, const float* kernel,
                         std::int32_t size, std::int32_t radius) {
  RunPass(source, target, [&](auto c, std::uint8_t* const* srcRows, std::uint8_t* const* dstRows) {
    HorizontalPlain<decltype(c)>(source.Width(), 0, source.Height(), srcRows, dstRows, kernel, size,
                                 radius);
  });
}

void VerticalPassPlain(const TImageBase& source, TImageBase& target, const float* kernel,
                       std::int32_t size, std::int32_t radius) {
  RunPass(source, target, [&](auto c, std::uint8_t* const* srcRows, std::uint8_t* const* dstRows) {
    VerticalPlain<decltype(c)>(source.Width(), source.Height(), srcRows, dstRows, kernel, size,
                               radius);
  });
}

}  // namespace tvq