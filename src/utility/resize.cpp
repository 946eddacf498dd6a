#include "utility/resize.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "imaging/errors.h"
#include "imaging/parallel.h"

namespace tvq {

namespace {

double Sinc(double t) {
  if (t == 0.0) return 1.0;
  const double a = std::numbers::pi * t;
  return std::sin(a) / a;
}

// The taps of every output pixel along one axis: the source pixels first .. first +
// count - 1 (clamped when read) and their weights, which sum to 1.
struct AxisTaps {
  std::vector<std::int32_t> first;
  std::vector<std::int32_t> count;
  std::vector<std::size_t> offset;
  std::vector<double> weights;
};

AxisTaps MakeTaps(std::int32_t sourceSize, std::int32_t size, double scale, ResizeFilter filter) {
  AxisTaps taps;
  const double stretch = scale < 1.0 ? 1.0 / scale : 1.0;
  const double radius = ResizeFilterRadius(filter) * stretch;
  taps.first.resize(static_cast<std::size_t>(size));
  taps.count.resize(static_cast<std::size_t>(size));
  taps.offset.resize(static_cast<std::size_t>(size));
  std::vector<double> row;
  for (std::int32_t i = 0; i < size; ++i) {
    const double centre = static_cast<double>(i) / scale;
    const auto lo = static_cast<std::int32_t>(std::ceil(centre - radius));
    const auto hi = static_cast<std::int32_t>(std::floor(centre + radius));
    row.clear();
    double sum = 0.0;
    for (std::int32_t j = lo; j <= hi; ++j) {
      const double w = ResizeFilterValue(filter, (centre - j) / stretch);
      row.push_back(w);
      sum += w;
    }
    const auto index = static_cast<std::size_t>(i);
    taps.offset[index] = taps.weights.size();
    if (row.empty() || !(std::fabs(sum) > 1e-12)) {
      // No tap reaches a source pixel with weight: the nearest one.
      taps.first[index] = static_cast<std::int32_t>(std::lround(centre));
      taps.count[index] = 1;
      taps.weights.push_back(1.0);
      continue;
    }
    taps.first[index] = lo;
    taps.count[index] = static_cast<std::int32_t>(row.size());
    for (const double w : row) taps.weights.push_back(w / sum);
  }
  (void)sourceSize;
  return taps;
}

void CheckResize(std::int32_t width, std::int32_t height, double scaleX, double scaleY) {
  if (width < 1 || height < 1)
    throw SettingError("a resized picture must be at least 1 x 1 pixels, not " +
                       std::to_string(width) + " x " + std::to_string(height));
  for (const double s : {scaleX, scaleY})
    if (!(s > 0.0) || !std::isfinite(s))
      throw SettingError("the scale of a resize must be a positive number");
}

// Both passes over images of `channels` floats a pixel: along rows into a picture of
// the new width, then along columns into the new height.
template <typename Image>
Image ResizeChannels(const Image& source, std::int32_t width, std::int32_t height, double scaleX,
                     double scaleY, ResizeFilter filter, const StopFlag* stop,
                     std::int32_t channels) {
  CheckResize(width, height, scaleX, scaleY);
  if (!source.HasImage() || source.Width() < 1 || source.Height() < 1)
    throw EZorException(ecBadSize, "a picture with no pixels cannot be resized");
  const std::int32_t sw = source.Width();
  const std::int32_t sh = source.Height();
  const AxisTaps across = MakeTaps(sw, width, scaleX, filter);
  const AxisTaps down = MakeTaps(sh, height, scaleY, filter);
  const auto c = static_cast<std::size_t>(channels);

  Image rows(width, sh);
  ForEachRow(sh, [&](std::int32_t y) {
    ThrowIfStopped(stop);
    const float* in = source.Row(y);
    float* out = rows.Row(y);
    std::vector<double> sum(c);
    for (std::int32_t x = 0; x < width; ++x) {
      const auto i = static_cast<std::size_t>(x);
      std::fill(sum.begin(), sum.end(), 0.0);
      const double* w = across.weights.data() + across.offset[i];
      for (std::int32_t k = 0; k < across.count[i]; ++k) {
        const auto j = static_cast<std::size_t>(std::clamp(across.first[i] + k, 0, sw - 1));
        for (std::size_t ch = 0; ch < c; ++ch)
          sum[ch] += w[k] * static_cast<double>(in[j * c + ch]);
      }
      for (std::size_t ch = 0; ch < c; ++ch) out[i * c + ch] = static_cast<float>(sum[ch]);
    }
  });

  Image result(width, height);
  const std::size_t rowFloats = static_cast<std::size_t>(width) * c;
  ForEachRow(height, [&](std::int32_t y) {
    ThrowIfStopped(stop);
    const auto i = static_cast<std::size_t>(y);
    std::vector<double> sum(rowFloats, 0.0);
    const double* w = down.weights.data() + down.offset[i];
    for (std::int32_t k = 0; k < down.count[i]; ++k) {
      const float* in = rows.Row(std::clamp(down.first[i] + k, 0, sh - 1));
      for (std::size_t n = 0; n < rowFloats; ++n) sum[n] += w[k] * static_cast<double>(in[n]);
    }
    float* out = result.Row(y);
    for (std::size_t n = 0; n < rowFloats; ++n) out[n] = static_cast<float>(sum[n]);
  });
  return result;
}

}  // namespace

double ResizeFilterValue(ResizeFilter filter, double t) {
  const double a = std::fabs(t);
  switch (filter) {
    case ResizeFilter::kLanczos3:
      return a < 3.0 ? Sinc(t) * Sinc(t / 3.0) : 0.0;
    case ResizeFilter::kMitchell: {
      constexpr double b = 1.0 / 3.0, c = 1.0 / 3.0;
      if (a < 1.0)
        return ((12 - 9 * b - 6 * c) * a * a * a + (-18 + 12 * b + 6 * c) * a * a + (6 - 2 * b)) /
               6.0;
      if (a < 2.0)
        return ((-b - 6 * c) * a * a * a + (6 * b + 30 * c) * a * a + (-12 * b - 48 * c) * a +
                (8 * b + 24 * c)) /
               6.0;
      return 0.0;
    }
    case ResizeFilter::kBox:
      // Ties at the edge split evenly, so the box stays symmetric about its centre.
      return a < 0.5 ? 1.0 : a == 0.5 ? 0.5 : 0.0;
  }
  throw SettingError("unknown resize filter");
}

double ResizeFilterRadius(ResizeFilter filter) {
  switch (filter) {
    case ResizeFilter::kLanczos3:
      return 3.0;
    case ResizeFilter::kMitchell:
      return 2.0;
    case ResizeFilter::kBox:
      return 0.5;
  }
  throw SettingError("unknown resize filter");
}

TImageF Resize(const TImageF& source, std::int32_t width, std::int32_t height, double scaleX,
               double scaleY, ResizeFilter filter, const StopFlag* stop) {
  return ResizeChannels(source, width, height, scaleX, scaleY, filter, stop, 1);
}

TImageF4 Resize(const TImageF4& source, std::int32_t width, std::int32_t height, double scaleX,
                double scaleY, ResizeFilter filter, const StopFlag* stop) {
  return ResizeChannels(source, width, height, scaleX, scaleY, filter, stop, 4);
}

}  // namespace tvq
