#include "deringing/dering.h"

#include "deringing/dering_kernels.h"
#include "deringing/deringglobal.h"
#include "deringing/deringlocal.h"

namespace tvq {

void DeringParams::Validate() const {
  CheckChoices({{kDeringMethodSetting, method}, {kDeringInitialSetting, initial}});
  CheckSettings({{kDeringIterationsSetting, static_cast<double>(iterations)},
                 {kDeringFactorSetting, factor}});
}

void DeringLuma(TImageF& luma, const DeringParams& params, Progress& progress) {
  params.Validate();
  RequirePixels(luma, "DeringLuma", "image");
  const DeringMethod& m = kDeringMethods[static_cast<std::size_t>(params.method)];
  const DeringFit fit = params.Fit();
  switch (m.family) {
    case DeringFamily::kGlobal:
      DeringGlobal(luma, fit, true, progress);
      break;
    case DeringFamily::kGlobalFixed:
      DeringGlobalFixed(luma, fit, progress);
      break;
    case DeringFamily::kWindows:
      DeringPixelWindows(luma, m.shape, fit, progress);
      break;
    case DeringFamily::kBlocks:
      DeringBlocks(luma, m.shape, fit, progress);
      break;
    case DeringFamily::kSimplest:  // a low-resolution clamp; nothing to do without a reference
      break;
  }
}

void DeringEnlargedLuma(TImageF& enlarged, const TImageF& reference, const DeringParams& params,
                        Progress& progress) {
  params.Validate();
  RequireDoubleSize(enlarged, reference, "DeringEnlargedLuma");
  const DeringMethod& m = kDeringMethods[static_cast<std::size_t>(params.method)];
  const DeringFit fit = params.Fit();
  switch (m.family) {
    case DeringFamily::kGlobal:
      DeringGlobalGuided(enlarged, reference, fit, true, progress);
      break;
    case DeringFamily::kGlobalFixed:
      DeringGlobalGuidedFixed(enlarged, reference, fit, progress);
      break;
    case DeringFamily::kWindows:
      DeringPixelWindowsGuided(enlarged, reference, m.shape, fit, progress);
      break;
    case DeringFamily::kBlocks:
      DeringBlocksGuided(enlarged, reference, m.shape, fit, progress);
      break;
    case DeringFamily::kSimplest:
      LowResRangeClamp(enlarged, reference);
      break;
  }
}

void LowResRangeClampPlain(TImageF& enlarged, const TImageF& reference) {
  auto y = [&](std::int32_t px, std::int32_t py) { return *reference.Pixel(px, py); };
  for (std::int32_t x = 0; x < reference.Width(); ++x) {
    for (std::int32_t v = 0; v < reference.Height(); ++v) {
      const float c = y(x, v);
      ClampInto(enlarged.Pixel(2 * x, 2 * v),
                {c, y(x - 1, v), y(x + 1, v), y(x, v - 1), y(x, v + 1)});
      ClampInto(enlarged.Pixel(2 * x + 1, 2 * v), {c, y(x + 1, v)});
      ClampInto(enlarged.Pixel(2 * x, 2 * v + 1), {c, y(x, v + 1)});
      ClampInto(enlarged.Pixel(2 * x + 1, 2 * v + 1),
                {c, y(x + 1, v), y(x, v + 1), y(x + 1, v + 1)});
    }
  }
}

}  // namespace tvq
