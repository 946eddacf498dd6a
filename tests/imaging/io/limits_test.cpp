// Limits applied before decoding: a header that claims a huge picture is refused
// without allocating its pixels, in every format; RLE codes that cannot cover the
// picture are refused before it is allocated; endless inputs are not read on.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "common/bmp_builder.h"
#include "common/hostile_files.h"
#include "common/images.h"
#include "common/pictures.h"
#include "common/png_builder.h"
#include "imaging/io/picture.h"

// The largest single allocation made through operator new, so that a test can show
// that a refusal came before the picture's memory was allocated.
namespace {
std::atomic<std::size_t> largestAllocation{0};
}  // namespace

void* operator new(std::size_t size) {
  std::size_t seen = largestAllocation.load(std::memory_order_relaxed);
  while (size > seen && !largestAllocation.compare_exchange_weak(seen, size)) {
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// The replacement pair is malloc and free, which GCC cannot see through.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
#pragma GCC diagnostic pop

namespace tvq {
namespace {

using Bytes = std::vector<std::uint8_t>;
using F = PictureFormat;

Picture Pattern(std::int32_t width, std::int32_t height, std::int32_t channels) {
  return test::MakePicture(width, height, channels, 8, [](int, int, int) { return 100.0f; });
}

void PutBig16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v);
}

// A small JPEG whose frame header declares width x height.
Bytes JpegDeclaring(std::uint32_t width, std::uint32_t height) {
  Bytes jpeg = EncodePicture(Pattern(8, 8, 3), F::kJpeg);
  for (std::size_t at = 2; at + 9 < jpeg.size(); ++at)
    if (jpeg[at] == 0xFF && jpeg[at + 1] == 0xC0) {
      PutBig16(jpeg, at + 5, height);
      PutBig16(jpeg, at + 7, width);
      return jpeg;
    }
  ADD_FAILURE() << "no frame header";
  return jpeg;
}

// A small little-endian TIFF whose width and length tags say width x height.
Bytes TiffDeclaring(std::uint32_t width, std::uint32_t height) {
  Bytes tiff = EncodePicture(Pattern(8, 8, 3), F::kTiff);
  EXPECT_EQ(tiff[0], 'I');
  const auto get = [&](std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | tiff[at + i];
    return v;
  };
  const std::uint32_t ifd = get(4, 4);
  for (std::uint32_t i = 0; i < get(ifd, 2); ++i) {
    const std::size_t entry = ifd + 2 + 12 * i;
    const std::uint32_t tag = get(entry, 2);
    if (tag != 256 && tag != 257) continue;
    if (get(entry + 2, 2) == 3)
      bmptest::Put16(tiff, entry + 8, tag == 256 ? width : height);
    else
      bmptest::Put32(tiff, entry + 8, tag == 256 ? width : height);
  }
  return tiff;
}

// A small lossless WebP whose header declares width x height.
Bytes WebpDeclaring(std::uint32_t width, std::uint32_t height) {
  Bytes webp = EncodePicture(Pattern(8, 8, 3), F::kWebp, {100});
  EXPECT_EQ(std::string(webp.begin() + 12, webp.begin() + 16), "VP8L");
  const std::uint32_t kept = (webp[24] >> 4) << 28;  // alpha hint and version
  bmptest::Put32(webp, 21, (width - 1) | ((height - 1) << 14) | kept);
  return webp;
}

Bytes PfmDeclaring(std::uint32_t width, std::uint32_t height) {
  const std::string header =
      "Pf\n" + std::to_string(width) + " " + std::to_string(height) + "\n-1.0\n";
  Bytes pfm(header.begin(), header.end());
  pfm.resize(pfm.size() + 64, 0);
  return pfm;
}

// An 8-bit run-length coded BMP of width x height with the given codes.
Bytes Rle8(std::int32_t width, std::int32_t height, Bytes codes) {
  bmptest::BmpBuilder b;
  b.width = width;
  b.height = height;
  b.bits = 8;
  b.compression = 1;
  b.palette.assign(256, 0);
  b.raw = std::move(codes);
  return b.Build();
}

Bytes Bmp24Declaring(std::int32_t width, std::int32_t height) {
  bmptest::BmpBuilder b;
  b.width = width;
  b.height = height;
  b.rows = {Bytes(9, 50)};
  return b.Build();
}

TEST(DecodeLimitsTest, HugeHeadersAreRefusedBeforeThePixelsAreAllocated) {
  DecodeLimits raised;
  raised.maxPixels = 1'000'000'000;
  const std::string over = "12000x9000 is 108 megapixels; the limit is 100 megapixels";
  const struct {
    const char* name;
    Bytes bytes;
    DecodeLimits limits;
    std::string problem;
  } cases[] = {
      {"BMP", Bmp24Declaring(12000, 9000), {}, over},
      {"PFM", PfmDeclaring(12000, 9000), {}, over},
      {"PNG", pngtest::Declaring(12000, 9000), {}, over},
      {"JPEG", JpegDeclaring(12000, 9000), {}, over},
      {"TIFF", TiffDeclaring(12000, 9000), {}, over},
      {"WebP", WebpDeclaring(12000, 9000), {}, over},
      {"WebP animation canvas",
       test::AnimationWithCanvas(WebpDeclaring(2, 2), 12000, 9000),
       {},
       over},
      // 1,080 bytes whose end-of-bitmap code leaves every pixel at index 0.
      {"RLE8 bomb",
       Rle8(23000, 23000, {0, 1}),
       {},
       "23000x23000 is 529 megapixels; the limit is 100 megapixels"},
      {"RLE8 codes that end early", Rle8(23000, 23000, {255, 7, 255, 7, 0, 0, 255, 7}), raised,
       "the RLE data ends before its end-of-bitmap code"},
  };
  for (const auto& c : cases) {
    largestAllocation = 0;
    const std::string message = test::MessageOf<FileError>(
        [&] { DecodePicture(c.bytes.data(), c.bytes.size(), c.limits); });
    EXPECT_EQ(message.find(c.problem), 0u) << c.name << ": " << message;
    EXPECT_LT(largestAllocation.load(), std::size_t{16} << 20) << c.name;
  }
  EXPECT_EQ(Rle8(23000, 23000, {0, 1}).size(), 1080u);
}

TEST(DecodeLimitsTest, MessagesAndTheSizeCheck) {
  const struct {
    std::int64_t width, height;
    std::uint64_t maxPixels;
    const char* message;  // empty: accepted
  } cases[] = {
      {7, 5, 34, "7x5 is 35 pixels; the limit is 34 pixels"},
      {7, 5, 35, ""},
      {2000, 1000, 1'500'000, "2000x1000 is 2 megapixels; the limit is 1.5 megapixels"},
      // Equal when rounded: the exact counts say which is larger.
      {10001, 10000, 100'000'000, "10001x10000 is 100010000 pixels; the limit is 100000000 pixels"},
  };
  for (const auto& c : cases) {
    DecodeLimits limits;
    limits.maxPixels = c.maxPixels;
    EXPECT_EQ(
        test::MessageOf<PixelLimitError>([&] { CheckDecodeLimits(c.width, c.height, limits); }),
        c.message);
  }
  // The size check sees the header's sides; what it throws refuses the picture.
  DecodeLimits limits;
  limits.checkSize = [](std::int32_t width, std::int32_t height) {
    throw FileError(std::to_string(width) + " by " + std::to_string(height));
  };
  const Bytes png = EncodePicture(Pattern(6, 4, 3), F::kPng);
  EXPECT_EQ(test::MessageOf<FileError>([&] { DecodePicture(png.data(), png.size(), limits); }),
            "6 by 4");
}

TEST(DecodeLimitsTest, EndlessInputsAreNotReadOn) {
  // Bytes of no picture format are refused as soon as the first ones arrive.
  EXPECT_EQ(
      test::MessageOf<FileError>([] { ReadPicture("/dev/zero"); }),
      "/dev/zero: not a picture file of a supported format (BMP, PNG, JPEG, TIFF, WebP, PFM)");
  // Otherwise reading stops at the cap, counted as the bytes arrive.
  const std::string message =
      test::MessageOf<FileError>([] { ReadWholeFile("/dev/zero", 1 << 20); });
  EXPECT_EQ(message.find("/dev/zero: the input goes on beyond 1 MiB"), 0u) << message;
}

}  // namespace
}  // namespace tvq
