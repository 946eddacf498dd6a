// tvq_strip OUT X Y W H ZOOM IN... [/ IN...]: the W x H region at (X, Y) of each picture,
// enlarged ZOOM times by repeating pixels, side by side with 4-pixel white gaps; "/"
// starts a second row. For the crop strips of the quality report (bench/report.sh).
// Pictures are read and written by the tool's codecs; a region reaching beyond a
// picture is filled with white there.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "commands/filepicture.h"
#include "imaging/io/picture.h"

namespace {

constexpr int kGap = 4;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 8) {
    std::fprintf(stderr, "usage: tvq_strip OUT X Y W H ZOOM IN... [/ IN...]\n");
    return 2;
  }
  try {
    const int x0 = std::stoi(argv[2]), y0 = std::stoi(argv[3]);
    const int w = std::stoi(argv[4]), h = std::stoi(argv[5]), zoom = std::stoi(argv[6]);
    if (w < 1 || h < 1 || zoom < 1 || w * zoom > 4096 || h * zoom > 4096) {
      std::fprintf(stderr, "tvq_strip: the region or zoom is out of range\n");
      return 2;
    }
    std::vector<std::vector<std::string>> rows(1);
    for (int i = 7; i < argc; ++i) {
      if (std::string(argv[i]) == "/")
        rows.emplace_back();
      else
        rows.back().push_back(argv[i]);
    }
    std::size_t columns = 0;
    for (const auto& row : rows) columns = std::max(columns, row.size());
    if (columns == 0 || columns > 32) {
      std::fprintf(stderr, "tvq_strip: give 1 to 32 pictures a row\n");
      return 2;
    }
    const int tileW = w * zoom, tileH = h * zoom;
    tvq::Picture out;
    out.width = static_cast<int>(columns) * (tileW + kGap) - kGap;
    out.height = static_cast<int>(rows.size()) * (tileH + kGap) - kGap;
    out.channels = 3;
    out.samples.assign(static_cast<std::size_t>(out.width) * out.height * 3, 255.0f);
    for (std::size_t r = 0; r < rows.size(); ++r)
      for (std::size_t c = 0; c < rows[r].size(); ++c) {
        const tvq::CommandInput input = tvq::PrepareInput(tvq::ReadPicture(rows[r][c]));
        tvq::TImageF4 colour;
        input.Source().Read(tvq::ifF4, colour);
        for (int y = 0; y < tileH; ++y)
          for (int x = 0; x < tileW; ++x) {
            const int sx = x0 + x / zoom, sy = y0 + y / zoom;
            if (sx >= colour.Width() || sy >= colour.Height()) continue;
            const float* p = colour.Row(sy) + 4 * sx;
            const std::size_t at = (static_cast<std::size_t>(r * (tileH + kGap) + y) * out.width +
                                    c * (tileW + kGap) + x) *
                                   3;
            for (int k = 0; k < 3; ++k) out.samples[at + k] = p[2 - k];
          }
      }
    tvq::WritePicture(out, argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tvq_strip: %s\n", e.what());
    return 1;
  }
  return 0;
}
