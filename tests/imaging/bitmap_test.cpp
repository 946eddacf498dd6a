#include "imaging/bitmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "common/images.h"
#include "imaging/imagefmt.h"

namespace tvq {
namespace {

TEST(BitmapTest, RowsArePaddedAndBottomUp) {
  Bitmap bmp(5, 3, 24);
  EXPECT_EQ(bmp.RowBytes(), 16u);
  EXPECT_EQ(bmp.ScanLine(1) - bmp.ScanLine(0), -16);
  EXPECT_EQ(BitmapToDesc(bmp).stride, -16);
  EXPECT_EQ(BitmapRowBytes(3, 1), 4u);
  EXPECT_EQ(BitmapRowBytes(9, 4), 8u);
  EXPECT_THROW(Bitmap(65536, 1, 32), EZorException);
  EXPECT_THROW(Bitmap(1, 1, 15), EZorException);
}

// New pixels are zero however their memory was used before: small blocks reused from
// the heap and large ones mapped afresh, through SetSize, copies and images.
TEST(BitmapTest, NewPixelsAreZeroAfterMemoryWasWritten) {
  for (const auto& [w, h] : {std::pair{5, 3}, {300, 200}, {1500, 1200}}) {
    for (int round = 0; round < 3; ++round) {
      Bitmap used(w, h, 32);
      for (std::int32_t y = 0; y < h; ++y) std::fill_n(used.ScanLine(y), used.RowBytes(), 0xff);
      Bitmap copy = used;
      copy.SetSize(w, h, 24);
      TImageF4 image(w, h);
      image.Row(h - 1)[4 * w - 1] = 1.0f;
      image = TImageF4(w, h);
      const Bitmap fresh(w, h, 24);
      for (const Bitmap* b : {static_cast<const Bitmap*>(&copy), &fresh})
        for (std::int32_t y = 0; y < h; ++y)
          for (std::size_t i = 0; i < b->RowBytes(); ++i)
            ASSERT_EQ(b->ScanLine(y)[i], 0) << w << "x" << h << " row " << y << " byte " << i;
      for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < 4 * w; ++x) ASSERT_EQ(image.Row(y)[x], 0.0f);
    }
  }
}

TEST(BitmapTest, ReadTwentyFourBitsAsFloatColour) {
  Bitmap bmp(3, 2, 24);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      for (int k = 0; k < 3; ++k)
        bmp.ScanLine(y)[3 * x + k] = static_cast<std::uint8_t>(10 * y + 3 * x + k);
  TImageF4 img;
  ImageFromBitmap(bmp, ifF4, img);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(img.Pixel(x, y)[0], 10 * y + 3 * x);
      EXPECT_EQ(img.Pixel(x, y)[2], 10 * y + 3 * x + 2);
      EXPECT_EQ(img.Pixel(x, y)[3], 0.0f);
    }
  TImageC4 bytes;
  EXPECT_THROW(ImageFromBitmap(bmp, ifC4, bytes), EZorException);
  EXPECT_FALSE(bytes.HasImage());
}

TEST(BitmapTest, WriteFloatReplacesSizeAndDepth) {
  Bitmap bmp(640, 480, 24);
  TImageF grey(5, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) *grey.Pixel(x, y) = 50.0f * y + x + 0.25f;
  ImageToBitmap(grey, bmp);
  EXPECT_EQ(bmp.Width(), 5);
  EXPECT_EQ(bmp.Height(), 4);
  EXPECT_EQ(bmp.BitsPerPixel(), 32);
  TImageF back;
  ImageFromBitmap(bmp, ifF, back);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_NEAR(*back.Pixel(x, y), 50.0f * y + x, 1e-4);
}

TEST(BitmapTest, OneRowPicturesWork) {
  Bitmap bmp(4, 1, 32);
  bmp.ScanLine(0)[8] = 200;
  TImageF4 img;
  ImageFromBitmap(bmp, ifF4, img);
  EXPECT_EQ(img.Pixel(2, 0)[0], 200.0f);
  ImageToBitmap(img, bmp);
  EXPECT_EQ(bmp.Height(), 1);
  EXPECT_EQ(bmp.ScanLine(0)[8], 200);
}

TEST(BitmapTest, EightBitAndOtherDepthsFailWithFormatMismatch) {
  for (int bits : {1, 4, 8, 16}) {
    Bitmap bmp(2, 2, bits);
    TImageF img;
    EXPECT_EQ(test::CodeOf([&] { ImageFromBitmap(bmp, ifF, img); }), ecFormatMismatch) << bits;
    EXPECT_FALSE(img.HasImage());
  }
}

}  // namespace
}  // namespace tvq
