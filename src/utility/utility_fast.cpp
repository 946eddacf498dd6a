// The threaded and vectorised twins of the plain loops in utility.cpp, which give the
// same bits, and the public entry points, which run the plain or the fast routine as
// ReferenceKernels() says.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "filters/filterbase_kernels.h"
#include "filters/gauss.h"
#include "imaging/dispatch.h"
#include "imaging/errors.h"
#include "imaging/parallel.h"
#include "utility/utility.h"
#include "utility/utility_kernels.h"

namespace tvq {

namespace utility {

namespace {

// Terms per band of the fast squared difference (512 KB of doubles): small enough that
// the first band, whose terms nothing overlaps, is a small part of the work.
constexpr std::int64_t kBandTerms = std::int64_t{1} << 16;
// Rows per parallel chunk of a band's terms.
constexpr std::int64_t kTermRows = 16;

// Distance in doubles between two columns of a band buffer: the column length rounded up
// to 4 KB plus one cache line, so that the columns a row scatters into fall into different
// cache sets. (An 8 KB distance put every column of a 1024-row band into one set: the
// scatter took 1.9 of 6.2 ms for 1024 x 1024 floats, 1 thread, perf.)
std::int64_t ColumnStride(std::int64_t h) {
  return (h + 511) / 512 * 512 + 8;
}

// One draw of the generator from the state it produced.
inline double Draw(std::uint32_t state) {
  return static_cast<double>(state) / 4294967296.0;
}

constexpr std::uint32_t kLcgMultiplier = 134775813u;
constexpr std::uint32_t kLcgIncrement = 1u;

// The generator's step applied n times, as one affine map state -> a * state + c (mod 2^32).
struct Affine {
  std::uint32_t a = 1;
  std::uint32_t c = 0;
};

Affine Then(Affine first, Affine second) {
  return {second.a * first.a, second.a * first.c + second.c};
}

std::uint32_t Advance(std::uint32_t state, std::uint64_t steps) {
  Affine total;
  Affine power{kLcgMultiplier, kLcgIncrement};
  for (; steps != 0; steps >>= 1) {
    if (steps & 1u) total = Then(total, power);
    power = Then(power, power);
  }
  return total.a * state + total.c;
}

// Attempts (pairs of draws) per unit of the fast noise. Testing them in vector lanes took
// the attempts from 28% to 8% of the fast noise of 1024 x 1024 (perf, one thread); the
// rest is mostly std::log, which stays scalar.
constexpr std::int64_t kUnitPairs = 1024;
// Pixels per segment: the segment's accepted attempts are kept until they are used.
// 2^16 pixels keep the buffers near 1.5 MB: 10.4 ms against 15 ms with 2^18 for the fast
// noise of 1024 x 1024 (one thread, CPU time, same run; the reference 16.4 ms).
constexpr std::int64_t kSegmentPixels = std::int64_t{1} << 16;

// One attempt of the polar method from the generator state before it: advances the state
// by two draws, stores (u1, s) at `kept` and moves `kept` on when the attempt is accepted.
struct AttemptStore {
  double* u1;
  double* s;
};

inline void Attempt(std::uint32_t& state, std::int64_t& kept, AttemptStore out) {
  const std::uint32_t draw1 = state * kLcgMultiplier + kLcgIncrement;
  const std::uint32_t draw2 = draw1 * kLcgMultiplier + kLcgIncrement;
  state = draw2;
  const double u1 = 2.0 * Draw(draw1) - 1.0;
  const double u2 = 2.0 * Draw(draw2) - 1.0;
  const double s = u1 * u1 + u2 * u2;
  out.u1[kept] = u1;
  out.s[kept] = s;
  kept += (s >= 1.0 || s == 0.0) ? 0 : 1;
}

// The accepted attempts of units [0, count.size()): unit u covers attempts
// [u * kUnitPairs, (u + 1) * kUnitPairs) from the segment's start state and keeps its
// accepted ones in order at [u * kUnitPairs, ...).
struct Attempts {
  std::vector<double> u1;
  std::vector<double> s;
  std::vector<std::int64_t> count;
};

// Generates units [first, last) in parallel, each in vector lanes (every lane its own
// jumped-ahead chain of attempts).
void GenerateUnits(std::uint32_t start, std::int64_t first, std::int64_t last, Attempts& out) {
  const auto size = static_cast<std::size_t>(last * kUnitPairs);
  out.u1.resize(size);
  out.s.resize(size);
  out.count.resize(static_cast<std::size_t>(last));
  ParallelFor(last - first, 4, [&](std::int64_t u0, std::int64_t u1) {
    for (std::int64_t u = first + u0; u < first + u1; ++u) {
      const auto at = static_cast<std::size_t>(u * kUnitPairs);
      out.count[static_cast<std::size_t>(u)] = static_cast<std::int64_t>(
          utilitysimd::AcceptedAttempts(Advance(start, 2 * static_cast<std::uint64_t>(at)),
                                        kUnitPairs, out.u1.data() + at, out.s.data() + at));
    }
  });
}

// The attempt number (from the segment's start) of the accepted attempt `index` of a unit.
std::int64_t AcceptedAttempt(std::uint32_t start, std::int64_t unit, std::int64_t index) {
  std::uint32_t state = Advance(start, 2 * static_cast<std::uint64_t>(unit * kUnitPairs));
  double u1 = 0.0, s = 0.0;
  for (std::int64_t j = 0;; ++j) {
    std::int64_t kept = 0;
    Attempt(state, kept, {&u1, &s});
    if (kept == 1 && index-- == 0) return unit * kUnitPairs + j;
  }
}

}  // namespace

// The same sum. The double sum depends on its order, so it stays one chain in x-outer,
// y-inner order; what runs in parallel and in vector lanes is the terms, computed row by
// row over a band of columns and scattered into a column-major band buffer, which the
// chain then reads in memory order (the reference reads both images down their columns).
// The chain over one band runs while the other threads compute the next band's terms.
double SquaredDifferenceFast(const TImageF& a, const TImageF& b) {
  const std::int64_t w = a.Width();
  const std::int64_t h = a.Height();
  if (w == 0 || h == 0) return 0.0;
  const std::int64_t stride = ColumnStride(h);
  const std::int64_t bandColumns = std::clamp<std::int64_t>(kBandTerms / stride, 1, w);
  const std::int64_t bands = (w + bandColumns - 1) / bandColumns;
  std::vector<double> buffers[2];
  for (auto& buffer : buffers) buffer.resize(static_cast<std::size_t>(bandColumns * stride));
  auto columnsOf = [&](std::int64_t band) { return std::min(w - band * bandColumns, bandColumns); };
  auto computeTerms = [&](std::int64_t band) {
    const std::int64_t x0 = band * bandColumns;
    const std::int64_t columns = columnsOf(band);
    double* terms = buffers[band % 2].data();
    ParallelFor(h, kTermRows, [&](std::int64_t y0, std::int64_t y1) {
      std::vector<double> row(static_cast<std::size_t>(columns));
      for (std::int64_t y = y0; y < y1; ++y) {
        const auto iy = static_cast<std::int32_t>(y);
        utilitysimd::SquaredDifferences(a.Row(iy) + x0, b.Row(iy) + x0, row.data(), row.size());
        for (std::int64_t c = 0; c < columns; ++c) terms[c * stride + y] = row[c];
      }
    });
  };
  double sum = 0.0;
  computeTerms(0);
  for (std::int64_t band = 0; band < bands; ++band) {
    // Item 0 adds this band's terms, item 1 computes the next band's.
    ParallelFor(2, 1, [&](std::int64_t i0, std::int64_t i1) {
      for (std::int64_t item = i0; item < i1; ++item) {
        if (item == 0) {
          const double* terms = buffers[band % 2].data();
          for (std::int64_t c = 0; c < columnsOf(band); ++c)
            for (std::int64_t y = 0; y < h; ++y) sum += terms[c * stride + y];
        } else if (band + 1 < bands) {
          computeTerms(band + 1);
        }
      }
    });
  }
  return sum;
}

// The noise of the plain loop, with its sequence: pixel number p = x * h + y takes the
// p-th accepted attempt. An attempt always takes two draws, so attempt j uses draws 2j and
// 2j + 1 whatever came before, and the generator can jump to any attempt (Advance). The
// attempts are generated and tested in parallel chains, the p-th accepted one is found by
// counting, and the variates (std::log, std::sqrt) are computed in parallel.
void AddNoiseFast(TImageF& image, NoiseGenerator& generator) {
  const std::int64_t w = image.Width();
  const std::int64_t h = image.Height();
  if (w == 0 || h == 0) return;
  const std::int64_t stride = ColumnStride(h);
  const std::int64_t bandColumns = std::clamp<std::int64_t>(kSegmentPixels / stride, 1, w);
  std::vector<double> values(static_cast<std::size_t>(bandColumns * stride));
  Attempts attempts;
  std::vector<std::int64_t> offset;
  for (std::int64_t x0 = 0; x0 < w; x0 += bandColumns) {
    const std::int64_t columns = std::min(w - x0, bandColumns);
    const std::int64_t pixels = columns * h;
    const std::uint32_t start = generator.state;
    // About 4 / pi attempts per pixel; generate more units until enough are accepted.
    std::int64_t units = 0;
    std::int64_t accepted = 0;
    offset.clear();
    while (accepted < pixels) {
      const std::int64_t missing = pixels - accepted;
      std::int64_t more = (missing * 13 / 10 + 64 + kUnitPairs - 1) / kUnitPairs;
      GenerateUnits(start, units, units + more, attempts);
      for (std::int64_t u = units; u < units + more; ++u) {
        offset.push_back(accepted);
        accepted += attempts.count[static_cast<std::size_t>(u)];
      }
      units += more;
    }
    // The unit holding the segment's last pixel fixes where the generator stops.
    const std::int64_t lastUnit =
        std::upper_bound(offset.begin(), offset.end(), pixels - 1) - offset.begin() - 1;
    const std::int64_t lastAttempt =
        AcceptedAttempt(start, lastUnit, pixels - 1 - offset[static_cast<std::size_t>(lastUnit)]);
    generator.state = Advance(start, 2 * static_cast<std::uint64_t>(lastAttempt + 1));

    // Pixel q of the segment (column q / h, row q % h) is kept column-major.
    ParallelFor(lastUnit + 1, 4, [&](std::int64_t unitBegin, std::int64_t unitEnd) {
      std::vector<double> logS(kUnitPairs);
      std::vector<double> variates(kUnitPairs);
      for (std::int64_t u = unitBegin; u < unitEnd; ++u) {
        const std::int64_t base = offset[static_cast<std::size_t>(u)];
        const auto n = static_cast<std::size_t>(
            std::min(attempts.count[static_cast<std::size_t>(u)], pixels - base));
        const double* u1 = attempts.u1.data() + u * kUnitPairs;
        const double* s = attempts.s.data() + u * kUnitPairs;
        for (std::size_t k = 0; k < n; ++k) logS[k] = std::log(s[k]);
        utilitysimd::PolarVariates(u1, s, logS.data(), n, 0.0, 5.0, variates.data());
        std::int64_t column = base / h;
        std::int64_t row = base % h;
        for (std::size_t k = 0; k < n; ++k) {
          values[static_cast<std::size_t>(column * stride + row)] = variates[k];
          if (++row == h) {
            row = 0;
            ++column;
          }
        }
      }
    });
    ParallelFor(h, std::max<std::int64_t>(1, 4096 / columns),
                [&](std::int64_t y0, std::int64_t y1) {
                  for (std::int64_t y = y0; y < y1; ++y) {
                    float* row = image.Row(static_cast<std::int32_t>(y)) + x0;
                    for (std::int64_t c = 0; c < columns; ++c)
                      row[c] = static_cast<float>(static_cast<double>(row[c]) +
                                                  values[static_cast<std::size_t>(c * stride + y)]);
                  }
                });
  }
}

// The smoothing of Downsampling (GaussSmooth, sigma 1, radius 4: rows, then columns) at
// the kept pixels only: the row pass at even columns of every row, the column pass at even
// rows. Each kept pixel is the same pair of running sums as in the full smoothing, in the
// same tap order, so the bits are the same; the work is a quarter of the column pass and
// half of the row pass. A padded row is split into its even and odd pixels so that the
// taps of even columns read consecutive lanes. (1024 x 1024, one thread, CPU time: the
// whole command 30 ms against 40 ms with the full smoothing; the reference 130 ms.)
TImageF4 HalvedFast(const TImageF4& source, std::int32_t w2, std::int32_t h2) {
  constexpr std::int32_t kRadius = 4;
  constexpr std::int32_t kSize = 2 * kRadius + 1;
  const std::vector<float> g = GaussKernel(1.0f, kRadius);
  const std::int64_t w = source.Width();
  const std::int64_t h = source.Height();
  const auto lanes = static_cast<std::size_t>(4 * w2);
  auto clamp = [](std::int64_t v, std::int64_t n) { return std::clamp<std::int64_t>(v, 0, n - 1); };
  TImageF4 across(w2, static_cast<std::int32_t>(h));
  const std::int64_t grain = std::max<std::int64_t>(1, 4096 / std::max<std::int32_t>(1, w2));
  ParallelFor(h, grain, [&](std::int64_t y0, std::int64_t y1) {
    // Padded pixel j is source pixel clamp(j - radius); even ones in `even`, odd in `odd`.
    const std::int64_t padded = w + kSize - 1;
    std::vector<double> even(static_cast<std::size_t>(4 * ((padded + 1) / 2)));
    std::vector<double> odd(static_cast<std::size_t>(4 * (padded / 2)));
    for (std::int64_t y = y0; y < y1; ++y) {
      const float* row = source.Row(static_cast<std::int32_t>(y));
      // One pixel at a time (a dispatched call per pixel was a fifth of the work, perf).
      for (std::int64_t j = 0; j < padded; ++j) {
        const float* pixel = row + 4 * clamp(j - kRadius, w);
        double* to = (j % 2 ? odd : even).data() + 4 * (j / 2);
        for (int c = 0; c < 4; ++c) to[c] = static_cast<double>(pixel[c]);
      }
      float* acc = across.Row(static_cast<std::int32_t>(y));
      std::fill(acc, acc + lanes, 0.0f);
      for (std::int32_t k = 0; k < kSize; ++k)
        filtersimd::TapRun(acc, (k % 2 ? odd : even).data() + 4 * (k / 2), lanes, g[k]);
    }
  });
  TImageF4 halved(w2, h2);
  ParallelFor(h2, grain, [&](std::int64_t i0, std::int64_t i1) {
    std::vector<double> samples(lanes);
    for (std::int64_t i = i0; i < i1; ++i) {
      float* acc = halved.Row(static_cast<std::int32_t>(i));
      std::fill(acc, acc + lanes, 0.0f);
      for (std::int32_t k = 0; k < kSize; ++k) {
        filtersimd::Promote(across.Row(static_cast<std::int32_t>(clamp(2 * i + k - kRadius, h))),
                            samples.data(), lanes);
        filtersimd::TapRun(acc, samples.data(), lanes, g[k]);
      }
    }
  });
  return halved;
}

}  // namespace utility

namespace {

constexpr KernelPair<double(const TImageF&, const TImageF&)> kSquaredDifference{
    utility::SquaredDifferencePlain, utility::SquaredDifferenceFast};
constexpr KernelPair<void(TImageF&, NoiseGenerator&)> kAddNoise{utility::AddNoisePlain,
                                                                utility::AddNoiseFast};
constexpr KernelPair<TImageF4(const TImageF4&, std::int32_t, std::int32_t)> kHalved{
    utility::HalvedPlain, utility::HalvedFast};

}  // namespace

DownsampleResult Downsample(const PictureSource& picture, const StopFlag* stop) {
  // Halving drops an odd last column or row: a picture narrower or lower than two
  // pixels would become one without pixels, which no file can hold.
  if (picture.Width() < 2 || picture.Height() < 2)
    throw EZorException(ecBadSize, "a picture of " + std::to_string(picture.Width()) + " x " +
                                       std::to_string(picture.Height()) +
                                       " pixels is too small to halve (at least 2 x 2)");
  DownsampleResult result{utility::Read<TImageF>(picture), {}};
  ThrowIfStopped(stop);
  // A four-float picture is smoothed where it is; a bitmap through its four floats.
  TImageF4 copy;
  if (picture.AsColour() == nullptr) copy = utility::Read<TImageF4>(picture);
  ThrowIfStopped(stop);
  const TImageF4& source = picture.AsColour() != nullptr ? *picture.AsColour() : copy;
  const std::int32_t w2 = result.reference.Width() / 2;
  const std::int32_t h2 = result.reference.Height() / 2;
  result.halved = kHalved(source, w2, h2);
  return result;
}

TImageF AddGaussianNoise(const PictureSource& picture, NoiseGenerator& generator) {
  TImageF image = utility::Read<TImageF>(picture);
  kAddNoise(image, generator);
  return image;
}

PsnrResult ComparePsnr(const TImageF& a, const TImageF& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height())
    throw SettingError("Dimensions of Image1 and Image2 must be equal (" +
                       std::to_string(a.Width()) + "x" + std::to_string(a.Height()) + " against " +
                       std::to_string(b.Width()) + "x" + std::to_string(b.Height()) + ")");
  const std::int64_t count = utility::PixelCount(a);
  if (count == 0 || !a.HasImage() || !b.HasImage())
    throw SettingError("Image1 and Image2 hold no pixels to compare");
  PsnrResult result;
  result.mse = kSquaredDifference(a, b) / static_cast<double>(count);
  result.psnr = result.mse == 0.0 ? std::numeric_limits<double>::infinity()
                                  : 10.0 * std::log10(255.0 * 255.0 / result.mse);
  return result;
}

double RmseToReference(const TImageF* reference, const PictureSource& picture) {
  if (reference == nullptr || !reference->HasImage()) return 0.0;
  if (picture.Width() != reference->Width() || picture.Height() != reference->Height()) return 0.0;
  const std::int64_t count = utility::PixelCount(*reference);
  if (count == 0) return 0.0;
  const TImageF current = utility::Read<TImageF>(picture);
  return std::sqrt(kSquaredDifference(current, *reference) / static_cast<double>(count));
}

}  // namespace tvq
