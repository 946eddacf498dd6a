// Small synthetic float planes and the checks the tests share: bit-exact planes and what
// a call throws.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "imaging/imagebase.h"
#include "imaging/imagefmt.h"

namespace tvq::test {

// Deterministic pseudo-random values in [0, 255).
inline float NoiseValue(std::uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return static_cast<float>((state >> 8) % 25500u) * 0.01f;
}

inline TImageF MakeImage(std::int32_t w, std::int32_t h,
                         const std::function<float(std::int32_t, std::int32_t)>& value) {
  TImageF image(w, h);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) *image.Pixel(x, y) = value(x, y);
  return image;
}

inline TImageF NoiseImage(std::int32_t w, std::int32_t h, std::uint32_t seed) {
  return MakeImage(w, h, [&seed](std::int32_t, std::int32_t) { return NoiseValue(seed); });
}

// A w x h plane holding `value` everywhere.
inline TImageF Filled(std::int32_t w, std::int32_t h, float value) {
  return MakeImage(w, h, [value](std::int32_t, std::int32_t) { return value; });
}

// True when every pixel of a and b holds the same value.
inline bool SamePixels(const TImageF& a, const TImageF& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (std::int32_t y = 0; y < a.Height(); ++y)
    for (std::int32_t x = 0; x < a.Width(); ++x)
      if (!(*a.Pixel(x, y) == *b.Pixel(x, y))) return false;
  return true;
}

// The code of the EZorException `call` throws (which must carry a message), 0 when it
// throws none.
inline int CodeOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const EZorException& e) {
    EXPECT_NE(std::string(e.what()), "");
    return e.Code;
  }
  return 0;
}

// The message of the Error `call` throws; empty when it throws none.
template <typename Error>
std::string MessageOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

}  // namespace tvq::test
