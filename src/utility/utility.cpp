#include "utility/utility.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "filters/gauss.h"

namespace tvq {

namespace {

template <typename Image>
Image Read(const Bitmap& picture) {
  Image image;
  ImageFromBitmap(picture, Image::kFormat, image);
  return image;
}

// Sum over x (outer) and y (inner) of float(a - b)^2 in double.
double SquaredDifference(const TImageF& a, const TImageF& b) {
  const std::int32_t w = a.Width();
  const std::int32_t h = a.Height();
  std::uint8_t* const* rowsA = a.Rows();
  std::uint8_t* const* rowsB = b.Rows();
  double sum = 0.0;
  for (std::int32_t x = 0; x < w; ++x)
    for (std::int32_t y = 0; y < h; ++y) {
      const float d =
          static_cast<float>(static_cast<double>(reinterpret_cast<const float*>(rowsA[y])[x]) -
                             static_cast<double>(reinterpret_cast<const float*>(rowsB[y])[x]));
      sum += static_cast<double>(d) * static_cast<double>(d);
    }
  return sum;
}

std::int64_t PixelCount(const TImageBase& image) {
  return static_cast<std::int64_t>(image.Width()) * static_cast<std::int64_t>(image.Height());
}

}  // namespace

DownsampleResult Downsample(const Bitmap& picture) {
  // Halving drops an odd last column or row: a picture narrower or lower than two
  // pixels would become one without pixels, which no file can hold.
  if (picture.Width() < 2 || picture.Height() < 2)
    throw EZorException(ecBadSize, "a picture of " + std::to_string(picture.Width()) + " x " +
                                       std::to_string(picture.Height()) +
                                       " pixels is too small to halve (at least 2 x 2)");
  DownsampleResult result{Read<TImageF>(picture), {}};
  const TImageF4 source = Read<TImageF4>(picture);
  TImageF4 smoothed(source.Width(), source.Height());
  GaussSmooth(source, smoothed, 1.0f, 4);
  const std::int32_t w2 = result.reference.Width() / 2;
  const std::int32_t h2 = result.reference.Height() / 2;
  result.halved = TImageF4(w2, h2);
  for (std::int32_t y = 0; y < h2; ++y) {
    const float* from = smoothed.Row(2 * y);
    float* to = result.halved.Row(y);
    for (std::int32_t x = 0; x < w2; ++x) std::memcpy(to + 4 * x, from + 8 * x, 4 * sizeof(float));
  }
  return result;
}

double NoiseGenerator::Uniform() {
  state = state * 134775813u + 1u;
  return static_cast<double>(state) / 4294967296.0;
}

double NoiseGenerator::Normal(double mean, double deviation) {
  double u1, s;
  do {
    u1 = 2.0 * Uniform() - 1.0;
    const double u2 = 2.0 * Uniform() - 1.0;
    s = u1 * u1 + u2 * u2;
    // s == 0 would divide by zero; this generator never yields two successive draws of
    // exactly 1/2, so the extra rejection never changes the sequence.
  } while (s >= 1.0 || s == 0.0);
  return mean + deviation * u1 * std::sqrt(-2.0 * std::log(s) / s);
}

TImageF AddGaussianNoise(const Bitmap& picture, NoiseGenerator& generator) {
  TImageF image = Read<TImageF>(picture);
  const std::int32_t w = image.Width();
  const std::int32_t h = image.Height();
  for (std::int32_t x = 0; x < w; ++x)
    for (std::int32_t y = 0; y < h; ++y) {
      float& p = image.Row(y)[x];
      p = static_cast<float>(static_cast<double>(p) + generator.Normal(0.0, 5.0));
    }
  return image;
}

TImageF Greyscale(const Bitmap& picture) {
  return Read<TImageF>(picture);
}

TImageF GreyOf(const Bitmap& picture) {
  return Read<TImageF>(picture);
}

PsnrResult ComparePsnr(const TImageF& a, const TImageF& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height())
    throw std::invalid_argument("Dimensions of Image1 and Image2 must be equal (" +
                                std::to_string(a.Width()) + "x" + std::to_string(a.Height()) +
                                " against " + std::to_string(b.Width()) + "x" +
                                std::to_string(b.Height()) + ")");
  const std::int64_t count = PixelCount(a);
  if (count == 0 || !a.HasImage() || !b.HasImage())
    throw std::invalid_argument("Image1 and Image2 hold no pixels to compare");
  PsnrResult result;
  result.mse = SquaredDifference(a, b) / static_cast<double>(count);
  result.psnr = result.mse == 0.0 ? std::numeric_limits<double>::infinity()
                                  : 10.0 * std::log10(255.0 * 255.0 / result.mse);
  return result;
}

double RmseToReference(const TImageF* reference, const Bitmap& picture) {
  if (reference == nullptr || !reference->HasImage()) return 0.0;
  if (picture.Width() != reference->Width() || picture.Height() != reference->Height()) return 0.0;
  const std::int64_t count = PixelCount(*reference);
  if (count == 0) return 0.0;
  const TImageF current = Read<TImageF>(picture);
  return std::sqrt(SquaredDifference(current, *reference) / static_cast<double>(count));
}

}  // namespace tvq
