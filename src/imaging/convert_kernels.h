// Vector kernels of the pixel conversions (one row each), compiled for every instruction
// set Highway supports and chosen at run time. Each computes, per pixel, exactly the IEEE
// operations of the plain conversion loop in the same order, so results are bit-identical
// on every target (the one-lane portable version included).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvq::convertsimd {

// dst[i] = float(src[i]) for i < n.
void BytesToFloats(const std::uint8_t* src, float* dst, std::size_t n);
// Grey levels of n pixels of four bytes (blue, green, red, fourth ignored):
// dst[i] = float(0.114 * b + 0.587 * g + 0.299 * r), evaluated in double left to right.
void GreyOfPacked(const std::uint8_t* src, float* dst, std::size_t n);
// The same for n pixels of three bytes (blue, green, red).
void GreyOfThreeBytes(const std::uint8_t* src, float* dst, std::size_t n);
// The same for n pixels of four floats (blue, green, red, fourth).
void GreyOfFloats(const float* src, float* dst, std::size_t n);
// dst[i] = ClampToByte(src[i]) for i < n.
void FloatsToBytes(const float* src, std::uint8_t* dst, std::size_t n);
// All four bytes of pixel i (dst + 4 * i) receive ClampToByte(src[i]).
void FloatsToGreyPixels(const float* src, std::uint8_t* dst, std::size_t n);

// The fourth byte of each of n four-byte pixels receives the rounded grey level of its
// blue, green and red bytes: int(0.114 * b + 0.587 * g + 0.299 * r + 0.5) in double.
void GreyIntoFourthByte(std::uint8_t* pixels, std::size_t n);

}  // namespace tvq::convertsimd
