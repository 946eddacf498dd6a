// The plain loops and fast twins of the local routines (deringlocal.cpp,
// deringlocal_fast.cpp) and what they share; internal to the folder.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "deringing/deringlocal.h"
#include "deringing/runningsum.h"
#include "deringing/tvqline.h"
#include "imaging/dispatch.h"
#include "imaging/parallel.h"

namespace tvq {

// SettingError naming the routine for a window length below 1, or for a block side
// below 1 or a step outside 1 .. side.
void RequireWindow(std::int32_t window, const char* routine);
void RequireBlock(std::int32_t side, std::int32_t step, const char* routine);

// image(x, y) = pixel(x) with pixel = row(y), for every pixel (rows on all threads
// unless the reference loops are selected; every pixel is computed on its own).
template <typename Row>
void WritePixels(TImageF& image, Row row) {
  auto rows = [&](std::int64_t first, std::int64_t last) {
    for (auto y = static_cast<std::int32_t>(first); y < last; ++y) {
      float* dst = image.Row(y);
      const auto pixel = row(y);
      for (std::int32_t x = 0; x < image.Width(); ++x) dst[x] = pixel(x);
    }
  };
  RunKernels([&] { rows(0, image.Height()); }, [&] { ParallelFor(image.Height(), 16, rows); });
}

// image(x, y) = acc(x, y) * 0.5 for every pixel.
void WriteHalf(TImageF& image, const TImageF& acc);

// The tent-weighted sums of the deringed blocks: a block at (x0, y0) adds
// sample(a, b) * wa * wb into num and wa * wb into den at pixel (x0 + a, y0 + b)
// (coordinates clamped into the image), and the image becomes num / den.
class BlockSums {
 public:
  BlockSums(std::int32_t w, std::int32_t h, std::int32_t side)
      : num_(w, h), den_(w, h), weight_(TentWeights(side)) {}

  template <typename Sample>
  void Add(std::int32_t x0, std::int32_t y0, Sample sample) {
    const auto side = static_cast<std::int32_t>(weight_.size());
    for (std::int32_t a = 0; a < side; ++a) {
      for (std::int32_t b = 0; b < side; ++b) {
        const double wa = weight_[a];
        const double wb = weight_[b];
        float* n = num_.Pixel(x0 + a, y0 + b);
        float* d = den_.Pixel(x0 + a, y0 + b);
        *n = Accumulate(*n, static_cast<double>(sample(a, b)) * wa * wb);
        *d = Accumulate(*d, wa * wb);
      }
    }
  }

  void WriteQuotient(TImageF& image) const {
    WritePixels(image, [&](std::int32_t y) {
      return [pn = num_.Row(y), pd = den_.Row(y)](std::int32_t x) {
        return static_cast<float>(static_cast<double>(pn[x]) / pd[x]);
      };
    });
  }

 private:
  TImageF num_;
  TImageF den_;
  std::vector<float> weight_;
};

// Blocks of a step over the image: the count (64-bit: a step of 1 on the largest
// planes would overflow 32 bits; the catalogue's steps of 2 and more cannot) and the
// count shown by the progress bar.
inline std::int64_t BlockCount(std::int32_t w, std::int32_t h, std::int32_t step) {
  return static_cast<std::int64_t>((w + step - 1) / step) * ((h + step - 1) / step);
}

inline std::int32_t ShownCount(std::int64_t count) {
  return static_cast<std::int32_t>(std::min<std::int64_t>(count, INT32_MAX));
}

// The budgets of the four image pixels of reference pixel (i, j) of the guided windows:
// the reference windows' variations at (i, j) for the even pixel, interpolated with the
// right, lower and diagonal neighbours for the odd ones. Calls fit(x, y, th, tv) for
// (2i, 2j), (2i, 2j + 1), (2i + 1, 2j), (2i + 1, 2j + 1) in that order.
template <typename RowVariation, typename ColumnVariation, typename Fit>
void GuidedPixelBudgets(std::int32_t i, std::int32_t j, RowVariation rv, ColumnVariation cv,
                        Fit fit) {
  const double r00 = rv(i, j), r10 = rv(i + 1, j), r01 = rv(i, j + 1), r11 = rv(i + 1, j + 1);
  const double c00 = cv(i, j), c10 = cv(i + 1, j), c01 = cv(i, j + 1), c11 = cv(i + 1, j + 1);
  fit(2 * i, 2 * j, static_cast<float>(r00), static_cast<float>(c00));
  fit(2 * i, 2 * j + 1, static_cast<float>(0.5 * (r00 + r01)),
      static_cast<float>(0.5 * (c00 + c01)));
  fit(2 * i + 1, 2 * j, static_cast<float>(0.5 * (r00 + r10)),
      static_cast<float>(0.5 * (c00 + c10)));
  fit(2 * i + 1, 2 * j + 1, static_cast<float>(0.25 * (r00 + r10 + r01 + r11)),
      static_cast<float>(0.25 * (c00 + c10 + c01 + c11)));
}

// The routines after their checks. The plain ones are the definition; the fast twins
// give the same bits. With "Source", the per-pixel windows are one chain over the whole
// image: PixelWindowsSerial runs it with the given one-line kernel.
void PixelWindowsSerial(TImageF& image, const DeringShape& shape, const DeringFit& fit,
                        LineKernel kernel, Progress& progress);
void PixelWindowsPlain(TImageF& image, const DeringShape& shape, const DeringFit& fit,
                       Progress& progress);
void PixelWindowsFast(TImageF& image, const DeringShape& shape, const DeringFit& fit,
                      Progress& progress);
void PixelWindowsGuidedPlain(TImageF& image, const TImageF& reference, const DeringShape& shape,
                             const DeringFit& fit, Progress& progress);
void PixelWindowsGuidedFast(TImageF& image, const TImageF& reference, const DeringShape& shape,
                            const DeringFit& fit, Progress& progress);
void BlocksPlain(TImageF& image, const DeringShape& shape, const DeringFit& fit,
                 Progress& progress);
void BlocksFast(TImageF& image, const DeringShape& shape, const DeringFit& fit, Progress& progress);
void BlocksGuidedPlain(TImageF& image, const TImageF& reference, const DeringShape& shape,
                       const DeringFit& fit, Progress& progress);
void BlocksGuidedFast(TImageF& image, const TImageF& reference, const DeringShape& shape,
                      const DeringFit& fit, Progress& progress);

}  // namespace tvq
