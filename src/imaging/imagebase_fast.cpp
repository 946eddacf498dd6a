// The fast pixel conversions: the vector row kernels of convert_simd.cpp (bit-identical
// to the plain loops of imagebase.cpp) on parallel chunks of rows, and ConvertPixels,
// which runs the plain or the fast conversion as ReferenceKernels() says.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "imaging/convert_kernels.h"
#include "imaging/dispatch.h"
#include "imaging/imagebase.h"
#include "imaging/imagebase_kernels.h"
#include "imaging/parallel.h"

namespace tvq {

namespace convert {

namespace {

// Pixels per parallel chunk of a conversion: rows are cheap, so a chunk takes many of
// them to outweigh its scheduling.
constexpr std::int64_t kConvertChunkPixels = 32768;

// Converts rows [y0, y1) with the row kernel, in parallel chunks of rows. Every row is
// converted on its own, so the result does not depend on the chunks.
template <typename Kernel>
void ParallelRows(const TImageDesc& s, const TImageDesc& t, Kernel kernel) {
  const std::int64_t grain =
      std::max<std::int64_t>(1, kConvertChunkPixels / std::max<std::int64_t>(1, s.width));
  ParallelFor(s.height, grain, [&](std::int64_t y0, std::int64_t y1) {
    for (std::int64_t y = y0; y < y1; ++y) {
      const auto i = static_cast<std::int32_t>(y);
      kernel(s.Row(i), t.Row(i), s.width);
    }
  });
}

// The fast conversions: vector row kernels (bit-identical to the plain loops above) on
// parallel chunks of rows.
bool RunKernelFast(const TImageDesc& s, const TImageDesc& t) {
  namespace cs = convertsimd;
  const std::int32_t from = s.format;
  const std::int32_t to = t.format;
  auto asFloats = [](std::uint8_t* p) { return reinterpret_cast<float*>(p); };
  auto asConstFloats = [](const std::uint8_t* p) { return reinterpret_cast<const float*>(p); };
  if (from == ifC4 && to == ifF4) {
    ParallelRows(s, t, [&](const std::uint8_t* src, std::uint8_t* dst, std::int32_t w) {
      cs::BytesToFloats(src, asFloats(dst), 4 * static_cast<std::size_t>(w));
    });
  } else if (from == ifC4 && to == ifF) {
    ParallelRows(s, t, [&](const std::uint8_t* src, std::uint8_t* dst, std::int32_t w) {
      cs::GreyOfPacked(src, asFloats(dst), static_cast<std::size_t>(w));
    });
  } else if (from == ifC3 && to == ifF) {
    ParallelRows(s, t, [&](const std::uint8_t* src, std::uint8_t* dst, std::int32_t w) {
      cs::GreyOfThreeBytes(src, asFloats(dst), static_cast<std::size_t>(w));
    });
  } else if (from == ifF4 && to == ifC4) {
    ParallelRows(s, t, [&](const std::uint8_t* src, std::uint8_t* dst, std::int32_t w) {
      cs::FloatsToBytes(asConstFloats(src), dst, 4 * static_cast<std::size_t>(w));
    });
  } else if (from == ifF4 && to == ifF) {
    ParallelRows(s, t, [&](const std::uint8_t* src, std::uint8_t* dst, std::int32_t w) {
      cs::GreyOfFloats(asConstFloats(src), asFloats(dst), static_cast<std::size_t>(w));
    });
  } else if (from == ifF && to == ifC4) {
    ParallelRows(s, t, [&](const std::uint8_t* src, std::uint8_t* dst, std::int32_t w) {
      cs::FloatsToGreyPixels(asConstFloats(src), dst, static_cast<std::size_t>(w));
    });
  } else if (from == ifMask && to == ifC4) {
    ParallelRows(s, t, MaskRowToPixels);
  } else if (from == ifC3 && to == ifF4) {
    // Bound by writing 16 bytes per pixel: the plain loop on parallel rows (widening to
    // four bytes for the vector kernel measured no faster, 1024 x 1024, 1 thread).
    ParallelRows(s, t, [](const std::uint8_t* src, std::uint8_t* dst, std::int32_t w) {
      for (std::int32_t x = 0; x < w; ++x, src += 3, dst += 16) {
        const float pixel[4] = {static_cast<float>(src[0]), static_cast<float>(src[1]),
                                static_cast<float>(src[2]), 0.0f};
        std::memcpy(dst, pixel, sizeof pixel);
      }
    });
  } else {
    return false;
  }
  return true;
}

}  // namespace

void ConvertPixelsFast(const TImageDesc& source, const TImageDesc& target) {
  if (RunKernelFast(source, target)) return;
  CheckSamePixelSize(source, target);
  const std::size_t bytes =
      static_cast<std::size_t>(source.width) * static_cast<std::size_t>(source.pixelSize);
  if (bytes == 0) return;
  ParallelRows(source, target, [bytes](const std::uint8_t* src, std::uint8_t* dst, std::int32_t) {
    std::memcpy(dst, src, bytes);
  });
}

}  // namespace convert

namespace {

constexpr KernelPair<void(const TImageDesc&, const TImageDesc&)> kConvertPixels{
    convert::ConvertPixelsPlain, convert::ConvertPixelsFast};

}  // namespace

void ConvertPixels(TImageDesc source, TImageDesc target) {
  if (source.width != target.width || source.height != target.height)
    throw EZorException(ecBadSize, "cannot convert " + std::to_string(source.width) + "x" +
                                       std::to_string(source.height) + " pixels into " +
                                       std::to_string(target.width) + "x" +
                                       std::to_string(target.height));
  kConvertPixels(source, target);
}

}  // namespace tvq
