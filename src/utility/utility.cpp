// The plain single-thread loops of the utility commands: the definition of every result
// (see utility.h for the orders). Their threaded twins are in utility_fast.cpp, which also
// holds the public entry points that choose between the two.
#include <cmath>
#include <cstring>

#include "filters/gauss.h"
#include "utility/utility.h"
#include "utility/utility_kernels.h"

namespace tvq {

namespace {

// The polar method's variate from an accepted attempt (u1, s).
inline double PolarVariate(double mean, double deviation, double u1, double s) {
  return mean + deviation * u1 * std::sqrt(-2.0 * std::log(s) / s);
}

}  // namespace

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
  return PolarVariate(mean, deviation, u1, s);
}

TImageF Greyscale(const PictureSource& picture) {
  return utility::Read<TImageF>(picture);
}

namespace utility {

// Sum over x (outer) and y (inner) of float(a - b)^2 in double: the plain loop.
double SquaredDifferencePlain(const TImageF& a, const TImageF& b) {
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

void AddNoisePlain(TImageF& image, NoiseGenerator& generator) {
  const std::int32_t w = image.Width();
  const std::int32_t h = image.Height();
  for (std::int32_t x = 0; x < w; ++x)
    for (std::int32_t y = 0; y < h; ++y) {
      float& p = image.Row(y)[x];
      p = static_cast<float>(static_cast<double>(p) + generator.Normal(0.0, 5.0));
    }
}

TImageF4 HalvedPlain(const TImageF4& source, std::int32_t w2, std::int32_t h2) {
  TImageF4 smoothed(source.Width(), source.Height());
  GaussSmooth(source, smoothed, 1.0f, 4);
  TImageF4 halved(w2, h2);
  for (std::int32_t y = 0; y < h2; ++y) {
    const float* from = smoothed.Row(2 * y);
    float* to = halved.Row(y);
    for (std::int32_t x = 0; x < w2; ++x) std::memcpy(to + 4 * x, from + 8 * x, 4 * sizeof(float));
  }
  return halved;
}

}  // namespace utility

}  // namespace tvq
