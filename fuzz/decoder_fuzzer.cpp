// Fuzzes one file decoder, chosen when compiling with TVQ_FUZZ_FORMAT (a format's name
// in lower case such as "png", as FormatFromName takes it): inputs whose first bytes name another
// format are skipped, so that the fuzzer spends its time inside the one codec; the header reader
// sees each input before the decoder. A decoded picture goes on through PrepareInput, so that the
// conversions a command starts with are covered too. Pictures above a few megapixels are refused
// from the header by the pixel limit, so that the fuzzer's memory stays bounded however large a
// size an input claims.
//
// A decoder may refuse an input only with FileError, and PrepareInput only with the
// library's EZorException; any other exception escapes and counts as a crash.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

#include "commands/filepicture.h"
#include "imaging/imagebase.h"
#include "imaging/io/fileio.h"
#include "imaging/io/picture.h"

namespace {

constexpr std::uint64_t kFuzzMaxPixels = 4'000'000;

tvq::PictureFormat HarnessFormat() {
  static const std::optional<tvq::PictureFormat> format = tvq::FormatFromName(TVQ_FUZZ_FORMAT);
  if (!format) {
    std::fprintf(stderr, "no picture format is named \"%s\"\n", TVQ_FUZZ_FORMAT);
    std::abort();
  }
  return *format;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (tvq::SniffFormat(data, size) != HarnessFormat()) return 0;
  try {
    tvq::DecodeLimits limits;
    limits.maxPixels = kFuzzMaxPixels;
    // The header reader first: it meets the same bytes without decoding pixels.
    try {
      tvq::DecodePictureHeader(data, size, limits);
    } catch (const tvq::FileError&) {
    }
    tvq::Picture picture = tvq::DecodePicture(data, size, limits);
    tvq::PrepareInput(std::move(picture));
  } catch (const tvq::FileError&) {
  } catch (const tvq::EZorException&) {
  }
  return 0;
}
