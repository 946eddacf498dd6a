#include "commands/processable.h"

#include <cmath>
#include <cstddef>

#include "imaging/errors.h"

namespace tvq {

std::optional<std::string> UnprocessableReason(const Picture& picture) {
  // Samples of 8- and 16-bit files are whole numbers brought to 0..255; only float
  // samples can be anything else.
  if (picture.bitsPerChannel <= 16 || picture.channels <= 0 || picture.width <= 0) return {};
  const std::vector<float>& samples = picture.samples;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (std::isfinite(samples[i])) continue;
    const std::size_t pixel = i / static_cast<std::size_t>(picture.channels);
    const std::size_t width = static_cast<std::size_t>(picture.width);
    return "the picture holds values that are not finite (NaN or infinity), the first at "
           "pixel (" +
           std::to_string(pixel % width) + ", " + std::to_string(pixel / width) + ")";
  }
  return {};
}

void CheckProcessable(const Picture& picture) {
  if (const auto reason = UnprocessableReason(picture)) throw FileError(*reason);
}

}  // namespace tvq
