#include "superres/fractal.h"

#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>

#include "filters/gauss.h"
#include "interpolation/gradient.h"

namespace tvq {

namespace {

constexpr std::int32_t kBlock = 16;     // spectrum block side
constexpr std::int32_t kBlockStep = 8;  // block origins
constexpr std::int32_t kSectors = 16;   // directions of the directional energies
constexpr float kSuppressLow = 12.0f;   // anisotropy up to which texture is kept whole
constexpr float kSuppressHigh = 24.0f;  // anisotropy from which texture is dropped
constexpr double kGain = 1.3;
constexpr float kDetailSigma = 2.0f;
constexpr std::int32_t kDetailRadius = 10;
constexpr std::int32_t kSearch = 3;  // match offsets -3 .. 3 on the half-resolution plane
// Paste window along one axis; any two taps 4 apart sum to 1.
constexpr std::array<float, 8> kPasteWindow = {0.2f, 0.4f, 0.6f, 0.8f, 0.8f, 0.6f, 0.4f, 0.2f};

// Fixed tables of the anisotropy measure.
struct SpectrumTables {
  std::array<float, kBlock> window;                  // sin^2 taper of the overlap-add
  std::array<std::complex<double>, kBlock> twiddle;  // exp(-2 pi i n / 16)
  // exp(-t^2 / 9) of sector a at spectrum position (i, j), t the distance of (i, j)
  // from the line through the centre (8, 8) at angle a pi / 16.
  std::array<std::array<std::array<double, kBlock>, kBlock>, kSectors> sector;
};

const SpectrumTables& Tables() {
  static const SpectrumTables tables = [] {
    SpectrumTables t;
    for (std::int32_t k = 0; k < kBlock; ++k) {
      const std::int32_t q = k <= 7 ? k + 1 : 16 - k;
      const double s = std::sin(std::numbers::pi * q / 18.0);
      t.window[k] = static_cast<float>(s * s);
      const double angle = -2.0 * std::numbers::pi * k / kBlock;
      t.twiddle[k] = {std::cos(angle), std::sin(angle)};
    }
    for (std::int32_t a = 0; a < kSectors; ++a) {
      const double theta = a * std::numbers::pi / kSectors;
      for (std::int32_t i = 0; i < kBlock; ++i)
        for (std::int32_t j = 0; j < kBlock; ++j) {
          const double d = (j - 8) * std::sin(theta) + (i - 8) * std::cos(theta);
          t.sector[a][i][j] = std::exp(-(d * d) / 9.0);
        }
    }
    return t;
  }();
  return tables;
}

// Anisotropy of the 16 x 16 block at (x0, y0) of y (clamped reads, no taper).
float BlockAnisotropy(const TImageF& y, std::int32_t x0, std::int32_t y0, const SpectrumTables& t) {
  // Unnormalised DFT in double: along x for every row, then along y.
  std::array<std::array<std::complex<double>, kBlock>, kBlock> rows;  // [j][u]
  for (std::int32_t j = 0; j < kBlock; ++j) {
    std::array<double, kBlock> line;
    for (std::int32_t i = 0; i < kBlock; ++i) line[i] = *y.Pixel(x0 + i, y0 + j);
    for (std::int32_t u = 0; u < kBlock; ++u) {
      std::complex<double> sum = 0.0;
      for (std::int32_t i = 0; i < kBlock; ++i) sum += line[i] * t.twiddle[(u * i) % kBlock];
      rows[j][u] = sum;
    }
  }
  // Magnitudes from float real and imaginary parts, zero frequency moved to (8, 8):
  // m[i][j] = 0.25 |F((i + 8) mod 16, (j + 8) mod 16)|, i the x frequency.
  std::array<std::array<float, kBlock>, kBlock> m;
  for (std::int32_t u = 0; u < kBlock; ++u)
    for (std::int32_t v = 0; v < kBlock; ++v) {
      std::complex<double> sum = 0.0;
      for (std::int32_t j = 0; j < kBlock; ++j) sum += rows[j][u] * t.twiddle[(v * j) % kBlock];
      const double re = static_cast<float>(sum.real());
      const double im = static_cast<float>(sum.imag());
      m[(u + 8) % kBlock][(v + 8) % kBlock] =
          static_cast<float>(0.25 * std::sqrt(re * re + im * im));
    }

  float maximum = 0.0f;
  float mean = 0.0f;
  for (std::int32_t a = 0; a < kSectors; ++a) {
    float sum = 0.0f;
    for (std::int32_t i = 0; i < kBlock; ++i)
      for (std::int32_t j = 0; j < kBlock; ++j) {
        if (i == 8 && j == 8) continue;
        sum = static_cast<float>(static_cast<double>(sum) +
                                 t.sector[a][i][j] * static_cast<double>(m[i][j]));
      }
    const float energy = static_cast<float>(0.25 * static_cast<double>(sum));
    if (energy > maximum) maximum = energy;
    mean = static_cast<float>(static_cast<double>(mean) + static_cast<double>(energy) * 0.0625);
  }
  return static_cast<float>((static_cast<double>(maximum) - mean) * 0.125);
}

}  // namespace

void AnisotropyMap(const TImageF& y, TImageF& a, const StopFlag* stop) {
  CheckSameSize(y, a, "anisotropy map");
  if (y.Width() < 1 || y.Height() < 1) return;
  const SpectrumTables& t = Tables();
  for (std::int32_t x0 = 0; x0 < y.Width(); x0 += kBlockStep) {
    ThrowIfStopped(stop);
    for (std::int32_t y0 = 0; y0 < y.Height(); y0 += kBlockStep) {
      const double anisotropy = BlockAnisotropy(y, x0, y0, t);
      for (std::int32_t i = 0; i < kBlock; ++i)
        for (std::int32_t j = 0; j < kBlock; ++j) {
          float* target = a.Pixel(x0 + i, y0 + j);
          *target = static_cast<float>(static_cast<double>(*target) +
                                       anisotropy * t.window[i] * t.window[j]);
        }
    }
  }
}

TImageF SuppressionMap(const TImageF& anisotropy, const StopFlag* stop) {
  TImageF d(2 * anisotropy.Width(), 2 * anisotropy.Height());
  GradientUpscale(anisotropy, d, 2, stop);
  const double span = static_cast<double>(kSuppressHigh) - kSuppressLow;
  for (std::int32_t y = 0; y < d.Height(); ++y) {
    float* row = d.Row(y);
    for (std::int32_t x = 0; x < d.Width(); ++x) {
      if (row[x] < kSuppressLow)
        row[x] = 0.0f;
      else if (row[x] > kSuppressHigh)
        row[x] = 1.0f;
      else
        row[x] = static_cast<float>((static_cast<double>(row[x]) - kSuppressLow) / span);
    }
  }
  GaussSmooth(d, d, 2.0f, 3);
  return d;
}

void FractalSubstitution(TImageF& y, TImageF& texture, Progress& progress, const StopFlag* stop) {
  const std::int32_t w = y.Width();
  const std::int32_t h = y.Height();
  if (w < 2 || h < 2)
    throw EZorException(ecBadSize,
                        "fractal substitution needs a luminance of at least 2x2 "
                        "pixels, not " +
                            std::to_string(w) + "x" + std::to_string(h));
  CheckTwiceSize(y, texture, "fractal substitution (texture)");

  TImageF anisotropy(w, h);
  AnisotropyMap(y, anisotropy, stop);
  const TImageF suppression = SuppressionMap(anisotropy, stop);

  // Smoothed luminance S and detail Y - S; Y becomes S.
  TImageF smooth(w, h);
  GaussSmooth(y, smooth, kDetailSigma, kDetailRadius);
  TImageF detail(w, h);
  for (std::int32_t row = 0; row < h; ++row) {
    float* yr = y.Row(row);
    const float* sr = smooth.Row(row);
    float* dr = detail.Row(row);
    for (std::int32_t col = 0; col < w; ++col) {
      dr[col] = static_cast<float>(static_cast<double>(yr[col]) - sr[col]);
      yr[col] = sr[col];
    }
  }

  TImageF pasted(2 * w, 2 * h);
  TImageF half(w / 2, h / 2);
  for (std::int32_t row = 0; row < h / 2; ++row)
    for (std::int32_t col = 0; col < w / 2; ++col)
      half.Row(row)[col] = smooth.Row(2 * row)[2 * col];

  progress.ShowProgress("Fractal substitution", 0, 100);
  std::int32_t start = 0;
  for (std::int32_t bx = 0; bx < 2 * w; bx += 4) {
    ThrowIfStopped(stop);
    for (std::int32_t by = start; by < 2 * h; by += 4) {
      const std::int32_t qx = bx / 2, qy = by / 2;
      const std::int32_t px = qx / 2, py = qy / 2;
      // The block of the input (smoothed plus detail).
      std::array<double, 16> block;
      for (std::int32_t i = 0; i < 4; ++i)
        for (std::int32_t j = 0; j < 4; ++j)
          block[4 * i + j] = static_cast<double>(*smooth.Pixel(qx + i, qy + j)) +
                             static_cast<double>(*detail.Pixel(qx + i, qy + j));
      float best = 1e10f;
      std::int32_t bestR = 0, bestT = 0;
      for (std::int32_t r = -kSearch; r <= kSearch; ++r)
        for (std::int32_t t = -kSearch; t <= kSearch; ++t) {
          float score = 0.0f;
          for (std::int32_t i = 0; i < 4; ++i)
            for (std::int32_t j = 0; j < 4; ++j)
              score =
                  static_cast<float>(static_cast<double>(score) +
                                     std::fabs(block[4 * i + j] - static_cast<double>(*half.Pixel(
                                                                      px + r + i, py + t + j))));
          if (score < best) {
            best = score;
            bestR = r;
            bestT = t;
          }
        }
      for (std::int32_t i = 0; i < 8; ++i)
        for (std::int32_t j = 0; j < 8; ++j) {
          float* target = pasted.Pixel(bx + i, by + j);
          const double value =
              static_cast<double>(kPasteWindow[j]) *
              (static_cast<double>(*detail.Pixel(qx + 2 * bestR + i, qy + 2 * bestT + j)) *
               static_cast<double>(kPasteWindow[i]));
          *target = static_cast<float>(static_cast<double>(*target) + value);
        }
    }
    start = (start + 2) % 4;
    progress.ShowProgress("Fractal substitution", bx, 2 * w);
  }

  for (std::int32_t row = 0; row < 2 * h; ++row) {
    const float* f = pasted.Row(row);
    const float* d = suppression.Row(row);
    float* out = texture.Row(row);
    for (std::int32_t col = 0; col < 2 * w; ++col)
      out[col] = static_cast<float>(
          kGain * (static_cast<double>(f[col]) * (1.0 - static_cast<double>(d[col]))));
  }
}

}  // namespace tvq
