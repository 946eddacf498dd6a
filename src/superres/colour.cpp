#include "superres/colour.h"

#include <cmath>
#include <string>
#include <utility>

#include "filters/gauss.h"
#include "imaging/parallel.h"
#include "interpolation/gradient.h"

namespace tvq {

LumaAndColour ReadLumaAndColour(const PictureSource& picture) {
  LumaAndColour result;
  picture.Read(ifF, result.luma);
  picture.Read(ifF4, result.colour);
  return result;
}

TImageF4 EnlargeColourDifferences(const TImageF4& colourDifferences, const StopFlag* stop) {
  TImageF4 enlarged(2 * colourDifferences.Width(), 2 * colourDifferences.Height());
  GradientUpscaleColor(colourDifferences, enlarged, 2, stop);
  return enlarged;
}

ColourPlanes ColourDifferencePlanes(const PictureSource& picture, const TImageF& luma) {
  // The four floats of a bitmap are an exact copy of its bytes; a four-float picture
  // holds them already, so it is read without a copy.
  TImageF4 copy;
  if (picture.AsColour() == nullptr) picture.Read(ifF4, copy);
  const TImageF4& colour = picture.AsColour() != nullptr ? *picture.AsColour() : copy;
  CheckSameSize(colour, luma, "colour differences");
  ColourPlanes result;
  result.width = colour.Width();
  result.height = colour.Height();
  const std::size_t w = static_cast<std::size_t>(result.width);
  for (auto& plane : result.planes) plane.resize(w * static_cast<std::size_t>(result.height));
  ForEachRow(result.height, [&](std::int32_t y) {
    const float* c = colour.Row(y);
    const float* l = luma.Row(y);
    for (std::size_t x = 0; x < w; ++x) {
      const double v = l[x];
      for (std::size_t k = 0; k < 3; ++k)
        result.planes[k][static_cast<std::size_t>(y) * w + x] =
            static_cast<float>(c[4 * x + k] - v);
    }
  });
  return result;
}

TImageF4 EnlargeColourPlanes(ColourPlanes&& differences, const StopFlag* stop) {
  const std::int32_t w = differences.width;
  const std::int32_t h = differences.height;
  const std::size_t width = 2 * static_cast<std::size_t>(w);
  const std::size_t n = width * 2 * static_cast<std::size_t>(h);
  // The result holds four floats a pixel. The three enlarged planes are written into
  // its last three quarters (plane k from float (k + 1) n on) and the pixels are then
  // interleaved in place, in increasing order. Pixel i is written over floats
  // 4i .. 4i + 3, so sample j of the plane at offset b is overwritten at pixel
  // floor((b + j) / 4): before it is read (at pixel j) only when j > b / 3. Those
  // samples of the first two planes (n - n/3 and n - 2n/3 floats, n in all) are copied
  // aside first; the third plane needs none. No plane of its own is held while the
  // enlarger's buffers are (1024 x 1024 input: peak resident memory of the whole
  // resample 114 MB, against 131 MB with the third plane beside the result;
  // /usr/bin/time). The enlarger's passes keep the estimates of two planes in the
  // result's first quarter, unused until the interleaving, and the differences are
  // freed as soon as the enlarger has read them: for a 1024 x 1024 input the passes
  // hold 28 MB less (two 8 MB estimate blocks and the 12 MB of differences).
  TImageF4 result(2 * w, 2 * h);
  const TImageDesc desc = result.GetDesc();
  if (desc.stride != static_cast<std::ptrdiff_t>(sizeof(float) * 4 * width))
    throw EZorException(ecBufferState, "colour enlargement needs a compact result");
  float* all = result.Row(0);
  UpscaleMemory memory;
  memory.scratch = all;
  memory.scratchFloats = n;
  ColourPlanes sources = std::move(differences);
  memory.sourcesRead = [&sources] { sources = ColourPlanes(); };
  GradientUpscalePlanes3(sources.planes[0].data(), sources.planes[1].data(),
                         sources.planes[2].data(), static_cast<std::uint32_t>(w),
                         static_cast<std::uint32_t>(h), all + n, all + 2 * n, all + 3 * n, 2, stop,
                         memory);
  const std::size_t split0 = n / 3;
  const std::size_t split1 = 2 * n / 3;
  std::vector<float> aside(n - split0 + n - split1);
  float* const aside0 = aside.data();
  float* const aside1 = aside.data() + (n - split0);
  std::copy(all + n + split0, all + 2 * n, aside0);
  std::copy(all + 2 * n + split1, all + 3 * n, aside1);
  for (std::size_t i = 0; i < n; ++i) {
    const float c0 = i < split0 ? all[n + i] : aside0[i - split0];
    const float c1 = i < split1 ? all[2 * n + i] : aside1[i - split1];
    const float c2 = all[3 * n + i];
    all[4 * i] = c0;
    all[4 * i + 1] = c1;
    all[4 * i + 2] = c2;
    all[4 * i + 3] = 0.0f;
  }
  return result;
}

float LowWeight(float maximum, float minFactor, bool blackStart) {
  if (!blackStart) return maximum;
  return static_cast<float>(static_cast<double>(maximum) * static_cast<double>(minFactor));
}

TImageF SmoothedCurvature(const TImageF& e) {
  TImageF c(e.Width(), e.Height());
  ForEachRow(e.Height(), [&](std::int32_t y) {
    const float* up = e.Pixel(0, y - 1);
    const float* mid = e.Row(y);
    const float* down = e.Pixel(0, y + 1);
    float* out = c.Row(y);
    const std::int32_t last = e.Width() - 1;
    for (std::int32_t x = 0; x <= last; ++x) {
      const double centre = 2.0 * static_cast<double>(mid[x]);
      const double left = mid[x > 0 ? x - 1 : 0];
      const double right = mid[x < last ? x + 1 : last];
      const float horizontal = static_cast<float>(std::fabs(left - centre + right));
      const float vertical =
          static_cast<float>(std::fabs(static_cast<double>(up[x]) - centre + down[x]));
      out[x] = static_cast<float>(static_cast<double>(horizontal) + vertical);
    }
  });
  GaussSmooth(c, c, 2.0f, 3);
  return c;
}

void WeightRamp(TImageF& c, const WeightMapParams& params) {
  const double maximum = params.maximum;
  const double low = params.lowWeight;
  const double span = static_cast<double>(params.threshMax) - params.threshMin;
  ForEachRow(c.Height(), [&](std::int32_t y) {
    float* row = c.Row(y);
    for (std::int32_t x = 0; x < c.Width(); ++x) {
      const float v = row[x];
      if (v < params.threshMin) {
        row[x] = params.lowWeight;
      } else if (v > params.threshMax) {
        row[x] = params.maximum;
      } else if (span == 0.0) {
        // threshMin == threshMax == v: the top of the ramp instead of 0 / 0.
        row[x] = params.maximum;
      } else {
        row[x] = static_cast<float>(low + (static_cast<double>(v) - params.threshMin) / span *
                                              (maximum - low));
      }
    }
  });
}

bool WeightsAreConstant(const WeightMapParams& params) {
  // Below ThreshMin and above ThreshMax the ramp gives lowWeight and maximum; between
  // them low + q * (maximum - low) with 0 <= q <= 1, which is low + (+0). With low
  // equal to maximum every branch gives maximum, except that -0 + (+0) is +0.
  return params.lowWeight == params.maximum && !std::signbit(params.maximum);
}

TImageF WeightMap(const TImageF& y, TImageF& x, const WeightMapParams& params) {
  CheckTwiceSize(y, x, "weight map");
  GradientUpscale(y, x, 2);
  TImageF w = SmoothedCurvature(x);
  WeightRamp(w, params);
  return w;
}

}  // namespace tvq
