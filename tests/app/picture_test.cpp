// Display conversion of every picture depth, and number parsing.
#include <QTest>

#include "app/parsefloat.h"
#include "app/picture.h"

using namespace tvq;

class PictureTest : public QObject {
  Q_OBJECT

 private slots:
  void palettedDepths() {
    // 1 bit: 10 pixels, alternating, MSB first.
    Bitmap one(10, 2, 1);
    one.Palette() = {0x00000000u, 0x00FF8040u};
    one.ScanLine(0)[0] = 0x55;  // 0101 0101
    one.ScanLine(0)[1] = 0xC0;  // pixels 8, 9 set
    QImage image = BitmapToQImage(one);
    QCOMPARE(image.size(), QSize(10, 2));
    QCOMPARE(image.pixel(0, 0), qRgb(0, 0, 0));
    QCOMPARE(image.pixel(1, 0), qRgb(0xFF, 0x80, 0x40));
    QCOMPARE(image.pixel(9, 0), qRgb(0xFF, 0x80, 0x40));
    QCOMPARE(image.pixel(1, 1), qRgb(0, 0, 0));

    // 4 bits: high nibble first; an index past the palette shows black.
    Bitmap four(3, 1, 4);
    four.Palette() = {0x00112233u, 0x00445566u};
    four.ScanLine(0)[0] = 0x10;
    four.ScanLine(0)[1] = 0x70;
    image = BitmapToQImage(four);
    QCOMPARE(image.pixel(0, 0), qRgb(0x44, 0x55, 0x66));
    QCOMPARE(image.pixel(1, 0), qRgb(0x11, 0x22, 0x33));
    QCOMPARE(image.pixel(2, 0), qRgb(0, 0, 0));

    Bitmap eight(2, 2, 8);
    eight.Palette() = {0x00000000u, 0x000000FFu};
    eight.ScanLine(1)[1] = 1;
    eight.ScanLine(0)[0] = 200;
    image = BitmapToQImage(eight);
    QCOMPARE(image.pixel(1, 1), qRgb(0, 0, 0xFF));  // row 1 is the bottom row
    QCOMPARE(image.pixel(0, 0), qRgb(0, 0, 0));
  }

  void sixteenBits() {
    Bitmap plain(2, 1, 16);  // zero masks: 5-5-5
    const std::uint16_t red = 0x7C00, mixed = (31 << 10) | (16 << 5) | 0;
    plain.ScanLine(0)[0] = red & 0xFF;
    plain.ScanLine(0)[1] = red >> 8;
    plain.ScanLine(0)[2] = mixed & 0xFF;
    plain.ScanLine(0)[3] = mixed >> 8;
    QImage image = BitmapToQImage(plain);
    QCOMPARE(image.pixel(0, 0), qRgb(255, 0, 0));
    QCOMPARE(image.pixel(1, 0), qRgb(255, 132, 0));  // 16 of 31 -> 132

    Bitmap masked(1, 1, 16);  // 5-6-5
    masked.Masks() = {0xF800u, 0x07E0u, 0x001Fu, 0u};
    const std::uint16_t green = 0x07E0;
    masked.ScanLine(0)[0] = green & 0xFF;
    masked.ScanLine(0)[1] = green >> 8;
    QCOMPARE(BitmapToQImage(masked).pixel(0, 0), qRgb(0, 255, 0));
  }

  void trueColourDepths() {
    Bitmap c24(2, 2, 24);
    std::uint8_t* p = c24.ScanLine(0);
    p[0] = 1, p[1] = 2, p[2] = 3;
    p = c24.ScanLine(1) + 3;
    p[0] = 10, p[1] = 20, p[2] = 30;
    QImage image = BitmapToQImage(c24);
    QCOMPARE(image.pixel(0, 0), qRgb(3, 2, 1));
    QCOMPARE(image.pixel(1, 1), qRgb(30, 20, 10));

    Bitmap c32(1, 2, 32);
    p = c32.ScanLine(1);
    p[0] = 7, p[1] = 8, p[2] = 9, p[3] = 0;  // the fourth byte is not alpha
    image = BitmapToQImage(c32);
    QCOMPARE(image.pixel(0, 1), qRgb(9, 8, 7));
    QCOMPARE(qAlpha(image.pixel(0, 1)), 255);
  }

  void greyFrames() {
    TImageF plane(3, 2);
    plane.Row(0)[0] = -5.0f;
    plane.Row(0)[1] = 127.5f;
    plane.Row(1)[2] = 300.0f;
    const QImage image = GreyToQImage(plane);
    QCOMPARE(image.size(), QSize(3, 2));
    QCOMPARE(qGray(image.pixel(0, 0)), 0);
    QCOMPARE(qGray(image.pixel(1, 0)), 128);
    QCOMPARE(qGray(image.pixel(2, 1)), 255);
  }

  void builtInPicture() {
    const Bitmap p = BuiltInPicture();
    QCOMPARE(p.Width(), 64);
    QCOMPARE(p.Height(), 64);
    QCOMPARE(p.BitsPerPixel(), 24);
    int black = 0, white = 0;
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x) (p.ScanLine(y)[3 * x] == 0 ? black : white)++;
    QVERIFY(black > 200 && white > 2000);
  }

  void parseFloatAccepts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("point") << "0.875" << 0.875;
    QTest::newRow("comma") << "0,875" << 0.875;
    QTest::newRow("integer") << "15" << 15.0;
    QTest::newRow("signs") << "-2,5" << -2.5;
    QTest::newRow("plus") << "+3" << 3.0;
    QTest::newRow("blanks") << "  1.5 " << 1.5;
    QTest::newRow("leading separator") << ".5" << 0.5;
    QTest::newRow("trailing separator") << "5." << 5.0;
    QTest::newRow("exponent") << "1,5e-3" << 0.0015;
  }
  void parseFloatAccepts() {
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(ParseFloat(text.toStdString()), value);
  }

  void parseFloatRejects_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("two separators") << "1.2.3";
    QTest::newRow("point and comma") << "1,2.3";
    QTest::newRow("empty") << "";
    QTest::newRow("blank") << "   ";
    QTest::newRow("letters") << "abc";
    QTest::newRow("trailing letters") << "1.5x";
    QTest::newRow("sign only") << "-";
    QTest::newRow("separator only") << ",";
    QTest::newRow("bare exponent") << "1e";
    QTest::newRow("infinity") << "inf";
    QTest::newRow("not a number") << "nan";
    QTest::newRow("too large") << "1e999";
    QTest::newRow("inner blank") << "1 5";
  }
  void parseFloatRejects() {
    QFETCH(QString, text);
    QVERIFY_THROWS_EXCEPTION(ParseFloatError, ParseFloat(text.toStdString()));
  }
};

QTEST_MAIN(PictureTest)
#include "picture_test.moc"
