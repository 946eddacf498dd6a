// Internal to src/imaging: what the plain pixel conversions (imagebase.cpp) and their
// fast twins (imagebase_fast.cpp, with the vector rows of convert_simd.cpp) share.
#pragma once

#include <cstdint>

#include "imaging/imagebase.h"

namespace tvq::convert {

// A mask row as grey pixels: all four bytes 255 where the mask byte is set, else 0.
// Bound by its stores, it serves the plain and the fast conversion alike.
void MaskRowToPixels(const std::uint8_t* src, std::uint8_t* dst, std::int32_t w);

// EZorException(ecFormatMismatch) unless the two descriptions have one pixel size.
void CheckSamePixelSize(const TImageDesc& source, const TImageDesc& target);

// ConvertPixels for two descriptions of one size: the plain loops and their fast twin.
// A format pair without a conversion copies the bytes when the pixel sizes agree.
void ConvertPixelsPlain(const TImageDesc& source, const TImageDesc& target);
void ConvertPixelsFast(const TImageDesc& source, const TImageDesc& target);

}  // namespace tvq::convert
