#include "imaging/imagebase.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/images.h"
#include "imaging/imagefmt.h"

namespace tvq {
namespace {

TImageDesc DescOf(std::vector<std::uint8_t>& bytes, int w, int h, std::ptrdiff_t stride, int format,
                  bool bottomUp = false) {
  TImageDesc d;
  d.width = w;
  d.height = h;
  d.pixelSize = FormatPixelSize(format);
  d.format = format;
  d.stride = bottomUp ? -stride : stride;
  d.origin = bytes.data() + (bottomUp ? (h - 1) * stride : 0);
  return d;
}

using test::CodeOf;

TEST(FormatTest, PixelSizes) {
  const int expected[] = {0, 4, 16, 1, 4, 4, 1, 3, 4, 16, 4, 1, 0};
  for (int f = 0; f <= 12; ++f) EXPECT_EQ(FormatPixelSize(f), expected[f]) << f;
  EXPECT_EQ(FormatPixelSize(-1), 0);
}

TEST(FormatTest, ClampToByteRoundsHalfUpAndSaturates) {
  const float in[] = {-3.2f, 0.0f, 127.5f, 254.49f, 255.0f, 255.01f, 1e9f, 0.49999997f};
  const int out[] = {0, 0, 128, 254, 255, 255, 255, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ClampToByte(in[i]), out[i]) << in[i];
  EXPECT_EQ(ClampToByte(std::numeric_limits<float>::quiet_NaN()), 0);
}

TEST(FormatTest, ColourHelpers) {
  EXPECT_NEAR(ColorToGrey(0x0000FF), 29.07, 1e-12);
  EXPECT_NEAR(ColorToGrey(0xFF0000), 76.245, 1e-12);
  EXPECT_EQ(ColorToGreyByte(0xFF0000), 76);
  EXPECT_EQ(GreyToColor(-1.0f), 0x00000000u);
  EXPECT_EQ(GreyToColor(300.0f), 0xFFFFFFFFu);
  EXPECT_EQ(GreyToColor(100.4f), 0x64646464u);
}

TEST(ConvertTest, FloatToColourBytes) {
  const float values[] = {-3.2f, 0.0f, 127.5f, 254.49f, 255.0f, 255.01f, 1e9f};
  std::vector<std::uint8_t> src(sizeof values), dst(7 * 4, 0xAB);
  std::memcpy(src.data(), values, sizeof values);
  ConvertPixels(DescOf(src, 7, 1, 28, ifF), DescOf(dst, 7, 1, 28, ifC4));
  const int expected[] = {0, 0, 128, 254, 255, 255, 255};
  for (int x = 0; x < 7; ++x)
    for (int k = 0; k < 4; ++k) EXPECT_EQ(dst[x * 4 + k], expected[x]);
}

TEST(ConvertTest, KernelsByPair) {
  // C4 -> F: grey of blue 255 and of red 255.
  std::vector<std::uint8_t> c4 = {255, 0, 0, 7, 0, 0, 255, 9};
  std::vector<std::uint8_t> f(8), f4(32);
  ConvertPixels(DescOf(c4, 2, 1, 8, ifC4), DescOf(f, 2, 1, 8, ifF));
  float g[2];
  std::memcpy(g, f.data(), 8);
  EXPECT_FLOAT_EQ(g[0], 29.07f);
  EXPECT_FLOAT_EQ(g[1], 76.245f);
  // C4 -> F4 carries the fourth byte; C3 -> F4 gives 0 there.
  ConvertPixels(DescOf(c4, 2, 1, 8, ifC4), DescOf(f4, 2, 1, 32, ifF4));
  float v[8];
  std::memcpy(v, f4.data(), 32);
  EXPECT_EQ(v[3], 7.0f);
  EXPECT_EQ(v[6], 255.0f);
  EXPECT_EQ(v[7], 9.0f);
  std::vector<std::uint8_t> c3 = {1, 2, 3, 4, 5, 6};
  ConvertPixels(DescOf(c3, 2, 1, 8, ifC3), DescOf(f4, 2, 1, 32, ifF4));
  std::memcpy(v, f4.data(), 32);
  EXPECT_EQ(v[0], 1.0f);
  EXPECT_EQ(v[3], 0.0f);
  EXPECT_EQ(v[6], 6.0f);
  EXPECT_EQ(v[7], 0.0f);
  // Mask -> C4.
  std::vector<std::uint8_t> mask = {0, 1, 200}, out(12);
  ConvertPixels(DescOf(mask, 3, 1, 3, ifMask), DescOf(out, 3, 1, 12, ifC4));
  std::uint32_t words[3];
  std::memcpy(words, out.data(), 12);
  EXPECT_EQ(words[0], 0u);
  EXPECT_EQ(words[1], 0xFFFFFFFFu);
  EXPECT_EQ(words[2], 0xFFFFFFFFu);
}

TEST(ConvertTest, FailuresWriteNothing) {
  std::vector<std::uint8_t> a(400), b(440, 0x5A);
  EXPECT_EQ(
      CodeOf([&] { ConvertPixels(DescOf(a, 10, 10, 10, ifByte), DescOf(b, 10, 10, 40, ifF)); }),
      ecFormatMismatch);
  EXPECT_EQ(
      CodeOf([&] { ConvertPixels(DescOf(a, 10, 10, 40, ifC4), DescOf(b, 10, 10, 10, ifMask)); }),
      ecFormatMismatch);
  EXPECT_EQ(CodeOf([&] { ConvertPixels(DescOf(a, 10, 10, 40, ifF), DescOf(b, 10, 11, 40, ifF)); }),
            ecBadSize);
  for (std::uint8_t byte : b) ASSERT_EQ(byte, 0x5A);
  // Empty rectangles succeed for a kernel pair and for an equal-size pair.
  EXPECT_EQ(CodeOf([&] { ConvertPixels(DescOf(a, 0, 0, 0, ifF4), DescOf(b, 0, 0, 0, ifC4)); }), 0);
  EXPECT_EQ(CodeOf([&] { ConvertPixels(DescOf(a, 5, 0, 5, ifByte), DescOf(b, 5, 0, 5, ifMask)); }),
            0);
}

TEST(ConvertTest, RowsMatchByIndexAcrossStridesAndPaddingStaysUntouched) {
  // Source 3x2 floats stored bottom-up with padded rows, target top-down padded.
  std::vector<std::uint8_t> src(2 * 16), dst(2 * 20, 0xEE);
  TImageDesc s = DescOf(src, 3, 2, 16, ifF, true);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      const float v = static_cast<float>(10 * y + x);
      std::memcpy(s.Row(y) + 4 * x, &v, 4);
    }
  TImageDesc t = DescOf(dst, 3, 2, 20, ifFAlt);
  ConvertPixels(s, t);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      float v;
      std::memcpy(&v, t.Row(y) + 4 * x, 4);
      EXPECT_EQ(v, 10 * y + x);
    }
    for (int k = 12; k < 20; ++k) EXPECT_EQ(t.Row(y)[k], 0xEE);
  }
}

TEST(ContainerTest, SizeAndFormatChecks) {
  EXPECT_EQ(CodeOf([] { TImageContainer c(65535, 0, ifF); }), 0);
  EXPECT_EQ(CodeOf([] { TImageContainer c(65536, 1, ifF); }), ecBadSize);
  EXPECT_EQ(CodeOf([] { TImageContainer c(-1, 1, ifF); }), ecBadSize);
  EXPECT_EQ(CodeOf([] { TImageContainer c(1, 70000, ifF); }), ecBadSize);
  EXPECT_EQ(CodeOf([] { TImageContainer c(4, 4, 0); }), ecBadFormat);
  EXPECT_EQ(CodeOf([] { TImageContainer c(4, 4, 12); }), ecBadFormat);
  TImageContainer c(3, 2, ifF4);
  EXPECT_EQ(c.GetDesc().stride, 48);
  for (int i = 0; i < 96; ++i) ASSERT_EQ(c.GetDesc().origin[i], 0);
}

TEST(ContainerTest, CloneOfBottomUpViewIsTopDown) {
  std::vector<std::uint8_t> rows(2 * 8);
  TImageDesc bottomUp = DescOf(rows, 2, 2, 8, ifC4, true);
  bottomUp.Row(0)[0] = 11;
  bottomUp.Row(1)[0] = 22;
  TImageContainer clone(bottomUp, true);
  EXPECT_EQ(clone.GetDesc().stride, 8);
  EXPECT_EQ(clone.GetDesc().Row(0)[0], 11);
  EXPECT_EQ(clone.GetDesc().Row(1)[0], 22);
}

TEST(ViewTest, StateMachine) {
  TImageF view;
  EXPECT_EQ(CodeOf([&] { view.Rows(); }), ecNoImage);
  EXPECT_EQ(CodeOf([&] { view.Release(); }), ecBufferState);
  EXPECT_EQ(CodeOf([&] { view.Adopt(std::make_unique<TImageContainer>(2, 2, ifF4)); }),
            ecBadFormat);
  EXPECT_FALSE(view.HasImage());
  view.Adopt(std::make_unique<TImageContainer>(2, 2, ifFAlt));
  auto* const* rows = view.Rows();
  EXPECT_EQ(rows, view.Rows());
  std::uint8_t* firstRow = rows[0];
  EXPECT_EQ(CodeOf([&] { view.Adopt(std::make_unique<TImageContainer>(5, 5, ifF)); }),
            ecBufferState);
  EXPECT_EQ(view.Width(), 2);
  EXPECT_EQ(view.Rows()[0], firstRow);
  view.Release();
  EXPECT_FALSE(view.HasImage());
  view.Adopt(std::make_unique<TImageContainer>(3, 1, ifF));
  EXPECT_EQ(view.Width(), 3);

  TImageF attached;
  std::vector<std::uint8_t> bytes(16);
  attached.Attach(DescOf(bytes, 2, 2, 8, ifF));
  EXPECT_EQ(CodeOf([&] { attached.Release(); }), ecBufferState);
  TImageB mask;
  EXPECT_EQ(CodeOf([&] { mask.Attach(DescOf(bytes, 2, 2, 2, ifByte)); }), ecBadFormat);
}

TEST(ViewTest, ClearZeroesExactlyThePixels) {
  std::vector<std::uint8_t> bytes(40, 0xFF);
  TImageF view;
  view.Attach(DescOf(bytes, 3, 2, 12, ifF));
  view.Clear();
  for (int i = 0; i < 24; ++i) EXPECT_EQ(bytes[i], 0);
  for (int i = 24; i < 40; ++i) EXPECT_EQ(bytes[i], 0xFF);
}

TEST(ViewTest, CheckCompatible) {
  TImageF a(4, 4);
  TImageF4 b(4, 4);
  TImageF c(4, 5);
  EXPECT_EQ(CodeOf([&] { TImageBase::CheckCompatible(a, b, false); }), 0);
  EXPECT_EQ(CodeOf([&] { TImageBase::CheckCompatible(a, b, true); }), ecFormatMismatch);
  EXPECT_EQ(CodeOf([&] { TImageBase::CheckCompatible(a, c, false); }), ecBadSize);
  EXPECT_EQ(CodeOf([&] { TImageBase::CheckCompatible(a, c, true); }), ecBadSize);
}

TEST(TypedImageTest, PixelClampsEachAxis) {
  TImageF img(10, 10);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) *img.Pixel(x, y) = static_cast<float>(100 * y + x);
  EXPECT_EQ(*img.Pixel(-5, 3), 300.0f);
  EXPECT_EQ(*img.Pixel(12, -1), 9.0f);
  EXPECT_EQ(*img.Pixel(10, 10), 909.0f);
  TImageF4 one(1, 1);
  EXPECT_EQ(one.Pixel(-7, 40), one.Pixel(0, 0));

  // A view of bottom-up rows: Pixel(0, 0) is the top-left pixel.
  std::vector<std::uint8_t> rows(2 * 4);
  TImageC4 view;
  view.Attach(DescOf(rows, 1, 2, 4, ifC4, true));
  EXPECT_EQ(view.Pixel(0, 0), rows.data() + 4);
}

TEST(TypedImageTest, CloneAndMove) {
  TImageF4 img(2, 3);
  img.Pixel(1, 2)[3] = 5.5f;
  TImageF4 copy = img.Clone();
  EXPECT_NE(copy.Row(0), img.Row(0));
  EXPECT_EQ(copy.Pixel(1, 2)[3], 5.5f);
  TImageF4 moved = std::move(copy);
  EXPECT_FALSE(copy.HasImage());
  EXPECT_EQ(moved.Pixel(1, 2)[3], 5.5f);
}

TEST(TypedImageTest, CopyFromKeepsTheImageUntilTheCopyIsMade) {
  TImageF img(3, 2);
  *img.Pixel(2, 1) = 7.25f;
  // Copying an image from itself (or from a view of its own pixels) reads the pixels
  // before the old buffer goes.
  img.CopyFrom(img);
  ASSERT_TRUE(img.OwnsBuffer());
  EXPECT_EQ(*img.Pixel(2, 1), 7.25f);
  TImageF view;
  view.Attach(img.GetDesc());
  img.CopyFrom(view);
  EXPECT_EQ(*img.Pixel(2, 1), 7.25f);

  // A refused format leaves the image as it was.
  const TImageF4 colour(3, 2);
  EXPECT_EQ(CodeOf([&] { img.CopyFrom(colour); }), ecBadFormat);
  ASSERT_TRUE(img.OwnsBuffer());
  EXPECT_EQ(*img.Pixel(2, 1), 7.25f);
}

}  // namespace
}  // namespace tvq
