#include "filters/gauss.h"

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "filters/filterbase.h"
#include "imaging/errors.h"

namespace tvq {

namespace {

// Radii up to this keep 2 * radius + 1 inside 32 bits.
constexpr std::int32_t kMaxRadius = (std::numeric_limits<std::int32_t>::max() - 1) / 2;

void CheckRadius(std::int32_t radius) {
  if (radius < 0 || radius > kMaxRadius)
    throw SettingError("filter radius " + std::to_string(radius) + " must be 0 or positive");
}

// exp(-j*j / (sigma*sigma)) in double.
double GaussWeight(std::int32_t j, float sigma) {
  const double s = sigma;
  return std::exp(-static_cast<double>(j) * static_cast<double>(j) / (s * s));
}

// A blank image of the same size and format as desc, adopted by a plain view.
std::unique_ptr<TImageBase> TemporaryLike(const TImageDesc& desc) {
  auto image = std::make_unique<TImageBase>();
  image->Adopt(std::make_unique<TImageContainer>(desc, false));
  return image;
}

enum class Axis { kX, kY };

void GaussDeriv(const TImageBase& source, TImageBase& target, float sigma, std::int32_t radius,
                Axis axis) {
  TImageBase::CheckCompatible(source, target, false);
  if (sigma == 0.0f || !std::isfinite(sigma))
    throw SettingError("Gaussian derivative needs a non-zero finite sigma, not " +
                       std::to_string(sigma));
  CheckRadius(radius);
  const std::int32_t size = 2 * radius + 1;
  std::vector<float> g(static_cast<std::size_t>(size));
  std::vector<float> d(static_cast<std::size_t>(size));
  float sum = 0.0f;
  for (std::int32_t j = -radius; j <= radius; ++j) {
    const double e = GaussWeight(j, sigma);
    d[j + radius] = static_cast<float>(e * (static_cast<double>(j) / sigma) * -2.0);
    g[j + radius] = static_cast<float>(e);
    sum += g[j + radius];
  }
  for (std::int32_t k = 0; k < size; ++k) {
    d[k] /= sum;
    g[k] /= sum;
  }
  auto temporary = TemporaryLike(target.GetDesc());
  if (axis == Axis::kX) {
    HorizontalPass(source, *temporary, d.data(), size, radius);
    VerticalPass(*temporary, target, g.data(), size, radius);
  } else {
    HorizontalPass(source, *temporary, g.data(), size, radius);
    VerticalPass(*temporary, target, d.data(), size, radius);
  }
}

}  // namespace

std::vector<float> GaussKernel(float sigma, std::int32_t radius) {
  CheckRadius(radius);
  std::vector<float> g(static_cast<std::size_t>(2 * radius + 1));
  float sum = 0.0f;
  for (std::int32_t j = -radius; j <= radius; ++j) {
    g[j + radius] = static_cast<float>(GaussWeight(j, sigma));
    sum += g[j + radius];
  }
  for (float& weight : g) weight /= sum;
  return g;
}

void GaussSmooth(const TImageBase& source, TImageBase& target, float sigma, std::int32_t radius) {
  CheckRadius(radius);
  if (sigma == 0.0f) {
    sigma = 1.0f;
    radius = 0;
  }
  const std::int32_t size = 2 * radius + 1;
  const std::vector<float> g = GaussKernel(sigma, radius);
  auto temporary =
      TemporaryLike(target.PixelSize() > source.PixelSize() ? target.GetDesc() : source.GetDesc());
  HorizontalPass(source, *temporary, g.data(), size, radius);
  VerticalPass(*temporary, target, g.data(), size, radius);
}

void GaussDerivX(const TImageBase& source, TImageBase& target, float sigma, std::int32_t radius) {
  GaussDeriv(source, target, sigma, radius, Axis::kX);
}

void GaussDerivY(const TImageBase& source, TImageBase& target, float sigma, std::int32_t radius) {
  GaussDeriv(source, target, sigma, radius, Axis::kY);
}

}  // namespace tvq
