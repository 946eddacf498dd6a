// Shared by the tests that prove fast kernels equal their plain reference loops bit
// for bit: a guard that sets the process-wide kernel selection and restores it, the
// configurations every comparison runs under, and a bitwise plane comparison.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "imaging/imagefmt.h"
#include "imaging/parallel.h"

namespace tvq::test {

// One kernel selection: the reference loops, or the fast kernels on `threads`
// threads with or without SIMD.
struct KernelConfig {
  bool reference = false;
  std::int32_t threads = 0;
  bool simd = true;

  std::string Name() const {
    if (reference) return "reference";
    return std::to_string(threads) + (threads == 1 ? " thread" : " threads") +
           (simd ? ", SIMD" : ", no SIMD");
  }
};

// Sets a configuration for its lifetime and restores the previous one.
class ScopedKernels {
 public:
  explicit ScopedKernels(const KernelConfig& config)
      : reference_(ReferenceKernels()), threads_(ThreadCount()), simd_(SimdEnabled()) {
    SetReferenceKernels(config.reference);
    SetThreadCount(config.threads);
    SetSimdEnabled(config.simd);
  }
  ~ScopedKernels() {
    SetReferenceKernels(reference_);
    SetThreadCount(threads_);
    SetSimdEnabled(simd_);
  }
  ScopedKernels(const ScopedKernels&) = delete;
  ScopedKernels& operator=(const ScopedKernels&) = delete;

 private:
  bool reference_;
  std::int32_t threads_;
  bool simd_;
};

// The fast configurations every kernel is compared under: 1, 2, 3 and 8 threads with
// SIMD, and 1 and 3 threads without.
inline std::vector<KernelConfig> FastConfigs() {
  return {{false, 1, true}, {false, 2, true},  {false, 3, true},
          {false, 8, true}, {false, 1, false}, {false, 3, false}};
}

// Runs `make()` (which returns the result to compare, anything with operator== or a
// plane) once with the reference loops and once under every fast configuration, and
// hands each fast result with the reference result and the configuration's name to
// `expectSame(reference, fast, name)`.
template <typename Make, typename ExpectSame>
void CompareWithReference(Make make, ExpectSame expectSame) {
  auto expected = [&] {
    ScopedKernels guard({true, 1, true});
    return make();
  }();
  for (const KernelConfig& config : FastConfigs()) {
    ScopedKernels guard(config);
    auto actual = make();
    expectSame(expected, actual, config.Name());
  }
}

// Bitwise equality of two float planes (NaN payloads and the sign of zero included);
// reports the first differing pixel.
inline ::testing::AssertionResult SameBits(const TImageF& a, const TImageF& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height())
    return ::testing::AssertionFailure() << "sizes differ: " << a.Width() << "x" << a.Height()
                                         << " and " << b.Width() << "x" << b.Height();
  for (std::int32_t y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.Row(y), b.Row(y), sizeof(float) * static_cast<std::size_t>(a.Width())) != 0)
      for (std::int32_t x = 0; x < a.Width(); ++x)
        if (std::memcmp(a.Row(y) + x, b.Row(y) + x, sizeof(float)) != 0)
          return ::testing::AssertionFailure()
                 << "pixel (" << x << ", " << y << ") differs: " << a.Row(y)[x] << " and "
                 << b.Row(y)[x];
  return ::testing::AssertionSuccess();
}

// The same for four-channel float and byte images.
template <typename Image>
::testing::AssertionResult SameBytes(const Image& a, const Image& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height())
    return ::testing::AssertionFailure() << "sizes differ";
  const std::size_t bytes =
      static_cast<std::size_t>(a.Width()) * static_cast<std::size_t>(a.PixelSize());
  for (std::int32_t y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.Row(y), b.Row(y), bytes) != 0)
      return ::testing::AssertionFailure() << "row " << y << " differs";
  return ::testing::AssertionSuccess();
}

// A w x h plane of values 0..255 from a fixed seed; with `ties`, the values are
// whole numbers from a small set, so that equal neighbours (sign 0, equal maxima)
// are common.
inline TImageF RandomPlane(std::int32_t w, std::int32_t h, std::uint32_t seed, bool ties = false) {
  TImageF plane(w, h);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> value(0.0f, 255.0f);
  std::uniform_int_distribution<int> level(0, 3);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x)
      plane.Row(y)[x] = ties ? 64.0f * static_cast<float>(level(rng)) : value(rng);
  return plane;
}

// A view of a copy of `plane` with rows stored bottom-up and `pad` spare floats after
// each row (a negative stride larger than the row), kept in `storage`.
inline TImageF BottomUpView(const TImageF& plane, std::vector<float>& storage,
                            std::int32_t pad = 3) {
  const std::int32_t w = plane.Width();
  const std::int32_t h = plane.Height();
  const std::size_t pitch = static_cast<std::size_t>(w + pad);
  storage.assign(pitch * static_cast<std::size_t>(h), -7.0f);
  for (std::int32_t y = 0; y < h; ++y)
    std::memcpy(storage.data() + pitch * static_cast<std::size_t>(h - 1 - y), plane.Row(y),
                sizeof(float) * static_cast<std::size_t>(w));
  TImageDesc desc;
  desc.width = w;
  desc.height = h;
  desc.origin =
      reinterpret_cast<std::uint8_t*>(storage.data() + pitch * static_cast<std::size_t>(h - 1));
  desc.stride = -static_cast<std::ptrdiff_t>(pitch * sizeof(float));
  desc.pixelSize = sizeof(float);
  desc.format = ifF;
  TImageF view;
  view.Attach(desc);
  return view;
}

// A view of `bytes` (resized to fit, every byte `fill`) with `pad` spare bytes after
// each row, optionally stored bottom-up.
inline TImageDesc PaddedDesc(std::vector<std::uint8_t>& bytes, int w, int h, int format, int pad,
                             bool bottomUp, std::uint8_t fill = 0) {
  TImageDesc d;
  d.width = w;
  d.height = h;
  d.pixelSize = FormatPixelSize(format);
  d.format = format;
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(w) * d.pixelSize + pad;
  bytes.assign(static_cast<std::size_t>(stride * h), fill);
  d.stride = bottomUp ? -stride : stride;
  d.origin = bytes.data() + (bottomUp ? (h - 1) * stride : 0);
  return d;
}

// The sizes every comparison covers: 1 x 1, 2 x 2, odd and uneven sizes, and one
// larger than a vector and a parallel chunk.
inline std::vector<std::pair<std::int32_t, std::int32_t>> ComparisonSizes() {
  return {{1, 1}, {2, 2}, {3, 5}, {17, 9}, {33, 31}, {130, 67}};
}

}  // namespace tvq::test
