// tvq_lowres IN OUT S: the low-resolution picture of the imaging model that the
// quality table enlarges back S times: a Gaussian blur of deviation S / 2, then the
// samples at (S * x, S * y) (bilinear between pixels for a factor that is not whole),
// floor(W / S) x floor(H / S) of them. For S = 3 that is the blur of deviation 1.5 and
// every third pixel. The picture is read and written by the tool's codecs.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "imaging/io/picture.h"

namespace {

using Plane = std::vector<double>;

// One separable Gaussian pass along rows (step 1) or columns (step width) of a
// width x height picture of `channels` samples a pixel; edges replicated.
std::vector<double> Blur(const std::vector<double>& in, int width, int height, int channels,
                         double deviation, bool alongRows) {
  const int radius = static_cast<int>(std::ceil(3.0 * deviation));
  std::vector<double> taps(static_cast<std::size_t>(2 * radius + 1));
  double sum = 0;
  for (int t = -radius; t <= radius; ++t)
    sum += taps[static_cast<std::size_t>(t + radius)] =
        std::exp(-0.5 * t * t / (deviation * deviation));
  for (double& t : taps) t /= sum;
  std::vector<double> out(in.size());
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) {
        double v = 0;
        for (int t = -radius; t <= radius; ++t) {
          const int sx = alongRows ? std::clamp(x + t, 0, width - 1) : x;
          const int sy = alongRows ? y : std::clamp(y + t, 0, height - 1);
          v += taps[static_cast<std::size_t>(t + radius)] *
               in[(static_cast<std::size_t>(sy) * width + sx) * channels + c];
        }
        out[(static_cast<std::size_t>(y) * width + x) * channels + c] = v;
      }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: tvq_lowres IN OUT FACTOR\n");
    return 2;
  }
  try {
    const double s = std::stod(argv[3]);
    tvq::Picture picture = tvq::ReadPicture(argv[1]);
    if (picture.bitmap) {
      std::fprintf(stderr, "tvq_lowres: convert BMP files to PNG first\n");
      return 1;
    }
    const int w = picture.width, h = picture.height, c = picture.channels;
    std::vector<double> v(picture.samples.begin(), picture.samples.end());
    v = Blur(Blur(v, w, h, c, s / 2, true), w, h, c, s / 2, false);
    const int lw = static_cast<int>(w / s), lh = static_cast<int>(h / s);
    std::vector<float> out(static_cast<std::size_t>(lw) * lh * c);
    const auto at = [&](int x, int y, int ch) {
      return v[(static_cast<std::size_t>(std::min(y, h - 1)) * w + std::min(x, w - 1)) * c + ch];
    };
    for (int y = 0; y < lh; ++y)
      for (int x = 0; x < lw; ++x) {
        const double px = s * x, py = s * y;
        const int x0 = static_cast<int>(px), y0 = static_cast<int>(py);
        const double fx = px - x0, fy = py - y0;
        for (int ch = 0; ch < c; ++ch)
          out[(static_cast<std::size_t>(y) * lw + x) * c + ch] = static_cast<float>(
              (1 - fy) * ((1 - fx) * at(x0, y0, ch) + fx * at(x0 + 1, y0, ch)) +
              fy * ((1 - fx) * at(x0, y0 + 1, ch) + fx * at(x0 + 1, y0 + 1, ch)));
      }
    picture.width = lw;
    picture.height = lh;
    picture.samples = std::move(out);
    tvq::WritePicture(picture, argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tvq_lowres: %s\n", e.what());
    return 1;
  }
  return 0;
}
