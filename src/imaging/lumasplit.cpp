#include "imaging/lumasplit.h"

#include <cstdint>

#include "imaging/parallel.h"

namespace tvq {

namespace {

// channel = channel + sign * plane for channels 0..2 of every pixel (sign 1 or -1).
void AddSigned(TImageF4& colour, const TImageF& plane, double sign, const char* what) {
  CheckSameSize(colour, plane, what);
  ForEachRow(colour.Height(), [&](std::int32_t y) {
    float* c = colour.Row(y);
    const float* p = plane.Row(y);
    for (std::int32_t x = 0; x < colour.Width(); ++x, c += 4) {
      const double v = sign * static_cast<double>(p[x]);
      for (int k = 0; k < 3; ++k) c[k] = static_cast<float>(static_cast<double>(c[k]) + v);
    }
  });
}

}  // namespace

void SubtractLuma(TImageF4& colour, const TImageF& luma) {
  AddSigned(colour, luma, -1.0, "colour differences");
}

void AddToColour(TImageF4& colour, const TImageF& plane) {
  AddSigned(colour, plane, 1.0, "recombination");
}

}  // namespace tvq
