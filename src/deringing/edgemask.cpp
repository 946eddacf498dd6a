#include "deringing/edgemask.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "deringing/edgemask_kernels.h"
#include "filters/gauss.h"
#include "imaging/errors.h"

namespace tvq {

namespace {

// The window side 2 * radius + 1 must be a 32-bit integer.
constexpr std::int32_t kMaxWindowRadius = (std::numeric_limits<std::int32_t>::max() - 1) / 2;

}  // namespace

void RequireWindowRadius(std::int32_t radius) {
  if (radius < 0 || radius > kMaxWindowRadius)
    throw SettingError("edge mask: window radius " + std::to_string(radius) + " is outside 0 .. " +
                       std::to_string(kMaxWindowRadius));
}

namespace {

// Stage 1: the variation measure of every pixel.
TImageF MeasurePlain(const TImageF& source, std::int32_t measurement) {
  const std::int32_t w = source.Width();
  const std::int32_t h = source.Height();
  TImageF m(w, h);
  if (measurement == kLocalVariation || measurement == kMaximumVariation) {
    // The border rows and columns have no four neighbours and stay 0.
    for (std::int32_t y = 1; y + 1 < h; ++y) {
      const float* up = source.Row(y - 1);
      const float* row = source.Row(y);
      const float* down = source.Row(y + 1);
      float* out = m.Row(y);
      for (std::int32_t x = 1; x + 1 < w; ++x) {
        const double c = row[x];
        const double left = std::fabs(c - row[x - 1]);
        const double right = std::fabs(c - row[x + 1]);
        const double top = std::fabs(c - up[x]);
        const double bottom = std::fabs(c - down[x]);
        if (measurement == kLocalVariation)
          out[x] = static_cast<float>(0.5 * (left + right + top + bottom));
        else
          out[x] = static_cast<float>(std::max(std::max(left, right), std::max(top, bottom)));
      }
    }
    return m;
  }
  TImageF gx(w, h);
  TImageF gy(w, h);
  GaussDerivX(source, gx, 1.0f, 3);
  GaussDerivY(source, gy, 1.0f, 3);
  for (std::int32_t y = 0; y < h; ++y) {
    const float* rx = gx.Row(y);
    const float* ry = gy.Row(y);
    float* out = m.Row(y);
    for (std::int32_t x = 0; x < w; ++x) {
      const double a = rx[x];
      const double b = ry[x];
      out[x] = static_cast<float>(std::sqrt(a * a + b * b));
    }
  }
  return m;
}

// Stage 3: the percentage threshold on the 0..255 scale, formed in single precision.
// A negative threshold keeps the counted fractions.
void ApplyThreshold(TImageF& mask, float threshold) {
  const float t = 2.55f * threshold;
  if (!(t >= 0.0f)) return;
  for (std::int32_t y = 0; y < mask.Height(); ++y) {
    float* row = mask.Row(y);
    for (std::int32_t x = 0; x < mask.Width(); ++x) row[x] = row[x] > t ? 255.0f : 0.0f;
  }
}

}  // namespace

// The unnormalised neighbour profile g[k + radius] = exp(-k^2 / (2 sigma^2)).
// For sigma 0 the exponent is 0/0 at the centre; the profile then takes its
// limit for sigma -> 0: 1 at the centre and 0 elsewhere.
std::vector<float> NeighbourProfile(std::int32_t radius, float sigma) {
  std::vector<float> g(static_cast<std::size_t>(2 * radius + 1), 0.0f);
  if (sigma == 0.0f) {
    g[static_cast<std::size_t>(radius)] = 1.0f;
    return g;
  }
  const double s = sigma;
  for (std::int32_t k = -radius; k <= radius; ++k)
    g[static_cast<std::size_t>(k + radius)] =
        static_cast<float>(std::exp(-(static_cast<double>(k) * k) / (2.0 * s * s)));
  return g;
}

void EdgeMaskParams::Validate() const {
  CheckChoices({{kEdgeMeasurementSetting, measurement}});
  CheckSettings({{kMaskGaussSetting, gaussRadius},
                 {kMaskFilterRadiusSetting, static_cast<double>(filterRadius)},
                 {kMaskMultiplierSetting, multiplier},
                 {kMaskNoiseLevelSetting, noiseLevel},
                 {kMaskMinimumBlockSizeSetting, static_cast<double>(minimumBlockSize)},
                 {kMaskDilationSetting, static_cast<double>(dilationRadius)},
                 {kMaskSmoothSetting, smoothRadius},
                 {kMaskThresholdSetting, threshold}});
}

void EdgeMaskPlain(const TImageF& source, TImageF& mask, std::int32_t radius, float threshold,
                   std::int32_t measurement, float noise, float multiplier, float sigma) {
  RequireWindowRadius(radius);
  if (!HasWork(source, mask)) return;
  const std::int32_t w = source.Width();
  const std::int32_t h = source.Height();
  const std::vector<float> g = NeighbourProfile(radius, sigma);
  const TImageF measure = MeasurePlain(source, measurement);
  const float windowSize = static_cast<float>(2 * radius + 1) * static_cast<float>(2 * radius + 1);
  for (std::int32_t x = 0; x < w; ++x)
    for (std::int32_t y = 0; y < h; ++y) {
      const float v = *measure.Pixel(x, y);
      std::int64_t count = 0;
      for (std::int32_t dx = -radius; dx <= radius; ++dx)
        for (std::int32_t dy = -radius; dy <= radius; ++dy) {
          const double lhs = static_cast<double>(v) * g[static_cast<std::size_t>(dx + radius)] *
                             g[static_cast<std::size_t>(dy + radius)];
          const double rhs = static_cast<double>(noise) +
                             static_cast<double>(multiplier) * *measure.Pixel(x + dx, y + dy);
          if (lhs > rhs) ++count;
        }
      mask.Row(y)[x] = static_cast<float>(static_cast<double>(count) * 255.0 / windowSize);
    }
  ApplyThreshold(mask, threshold);
}

void MaxDilatePlain(const TImageF& source, TImageF& destination, std::int32_t radius) {
  if (!HasWork(source, destination)) return;
  const std::int32_t w = source.Width();
  const std::int32_t h = source.Height();
  radius = DilationReach(radius, w, h);
  TImageF temp(w, h);
  for (std::int32_t y = 0; y < h; ++y) {
    const float* in = source.Row(y);
    float* out = temp.Row(y);
    for (std::int32_t x = 0; x < w; ++x) {
      float m = in[x];
      for (std::int32_t k = -radius; k <= radius; ++k) {
        const float v = in[Clamp(x + k, w - 1)];
        if (v > m) m = v;
      }
      out[x] = m;
    }
  }
  // The source has been read completely, so it may be the destination.
  for (std::int32_t y = 0; y < h; ++y) {
    float* out = destination.Row(y);
    for (std::int32_t x = 0; x < w; ++x) {
      float m = temp.Row(y)[x];
      for (std::int32_t k = -radius; k <= radius; ++k) {
        const float v = temp.Row(Clamp(y + k, h - 1))[x];
        if (v > m) m = v;
      }
      out[x] = m;
    }
  }
}

void MaskBlendPlain(TImageF& luma, const TImageF& untouched, const TImageF& mask) {
  if (!HasWork(luma, untouched) || !HasWork(luma, mask)) return;
  const std::int32_t w = luma.Width();
  const std::int32_t h = luma.Height();
  // The weights and the reciprocal of 255 are evaluated in long double
  // (extended precision on x86), then rounded once to float.
  constexpr long double kInv255 = 1.0L / 255.0L;
  for (std::int32_t y = 0; y < h; ++y) {
    float* l = luma.Row(y);
    const float* u = untouched.Row(y);
    const float* m = mask.Row(y);
    for (std::int32_t x = 0; x < w; ++x) {
      const long double mv = m[x];
      l[x] = static_cast<float>((mv * l[x] + (255.0L - mv) * u[x]) * kInv255);
    }
  }
}

TImageF ComputeEdgeMask(const TImageF& luma, const EdgeMaskParams& params, const StopFlag* stop) {
  params.Validate();
  TImageF mask(luma.Width(), luma.Height());
  if (luma.Width() == 0 || luma.Height() == 0) return mask;
  ThrowIfStopped(stop);
  EdgeMask(luma, mask, params.filterRadius, params.threshold, params.measurement, params.noiseLevel,
           params.multiplier, params.gaussRadius);
  ThrowIfStopped(stop);
  MaxDilate(mask, mask, params.dilationRadius);
  ThrowIfStopped(stop);
  GaussSmooth(mask, mask, params.smoothRadius, params.filterRadius);
  return mask;
}

}  // namespace tvq
