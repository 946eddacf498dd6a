// The utility commands of the Process and Debug menus.
#include <QTest>
#include <cstddef>
#include <string>

#include "modaldriver.h"
#include "testwindow.h"

using tvq::Bitmap;
using tvq::test::ModalDriver;
using tvq::test::SolidPicture;
using tvq::test::TestWindow;

namespace {

struct Message {
  QString title, text;
};

// Triggers an action and collects the message boxes it shows (up to `count`).
QList<Message> MessagesOf(QAction* action, int count) {
  QList<Message> messages(count);
  ModalDriver driver;
  for (Message& m : messages) driver.ThenMessage(&m.title, &m.text);
  action->trigger();
  // A command on the worker reports its failure when it ends.
  const bool ended = QTest::qWaitFor(
      [] {
        for (QWidget* w : QApplication::topLevelWidgets())
          if (auto* window = qobject_cast<tvq::MainWindow*>(w); window && window->CommandRunning())
            return false;
        return true;
      },
      60000);
  messages.resize(driver.Handled());
  if (!ended) messages.append({QString(), "<the command did not end>"});
  return messages;
}

// True when every pixel of a 32-bit picture has equal blue, green and red bytes.
bool IsGrey(const Bitmap& picture) {
  for (int y = 0; y < picture.Height(); ++y) {
    const std::uint8_t* row = picture.ScanLine(y);
    for (int x = 0; x < picture.Width(); ++x)
      if (row[4 * x] != row[4 * x + 1] || row[4 * x] != row[4 * x + 2]) return false;
  }
  return true;
}

}  // namespace

class UtilityTest : public QObject {
  Q_OBJECT

 private slots:
  void downsamplingHalvesAndKeepsReference() {
    TestWindow window;
    window.SetPicture(tvq::test::GradientPicture(7, 5));
    QVERIFY(!window.ReferenceImage());
    QVERIFY(window.Run("Downsam1"));
    QCOMPARE(window.Picture().Width(), 3);
    QCOMPARE(window.Picture().Height(), 2);
    QCOMPARE(window.Picture().BitsPerPixel(), 32);
    QVERIFY(window.ReferenceImage());
    QCOMPARE(window.ReferenceImage()->Width(), 7);
    QCOMPARE(window.ReferenceImage()->Height(), 5);

    // A second run keeps the picture from before it.
    QVERIFY(window.Run("Downsam1"));
    QCOMPARE(window.Picture().Width(), 1);
    QCOMPARE(window.ReferenceImage()->Width(), 3);
    QCOMPARE(window.ReferenceImage()->Height(), 2);
  }

  // A picture too small to halve stays as it is, and so does the reference.
  void downsamplingTooSmallIsReported_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("one pixel") << 1 << 1;
    QTest::newRow("one column") << 1 << 6;
    QTest::newRow("one row") << 6 << 1;
  }
  void downsamplingTooSmallIsReported() {
    QFETCH(int, width);
    QFETCH(int, height);
    TestWindow window;
    window.SetPicture(tvq::test::GradientPicture(4, 4));
    QVERIFY(window.Run("Downsam1"));
    const tvq::TImageF* reference = window.ReferenceImage();
    QVERIFY(reference);
    const Bitmap small = tvq::test::GradientPicture(width, height);
    window.SetPicture(small);
    const QList<Message> messages = MessagesOf(window.Action("Downsam1"), 1);
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].title, QString("Error"));
    QVERIFY2(messages[0].text.startsWith("Downsampling failed: "), qPrintable(messages[0].text));
    QVERIFY(window.Picture() == small);
    QCOMPARE(window.ReferenceImage(), reference);
    QCOMPARE(window.ReferenceImage()->Width(), 4);
  }

  void downsamplingUniformGreyKeepsLevel() {
    TestWindow window;
    window.SetPicture(SolidPicture(10, 8, 24, 90, 90, 90));
    QVERIFY(window.Run("Downsam1"));
    const Bitmap& p = window.Picture();
    QCOMPARE(p.Width(), 5);
    for (int y = 0; y < p.Height(); ++y)
      for (int x = 0; x < p.Width(); ++x) QCOMPARE(int(p.ScanLine(y)[4 * x + 1]), 90);
  }

  void failingCommandIsReportedAndChangesNothing() {
    TestWindow window;
    const Bitmap oneColumn = tvq::test::GradientPicture(1, 6);
    window.SetPicture(oneColumn);
    const QList<Message> messages = MessagesOf(window.Action("Downsam1"), 1);
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].title, QString("Error"));
    QVERIFY2(messages[0].text.startsWith("Downsampling failed: "), qPrintable(messages[0].text));
    QVERIFY(window.Picture() == oneColumn);
    QVERIFY(!window.ReferenceImage());
  }

  // Palette and 16-bit pictures are converted to 32 bits and processed.
  void lowDepthPicturesAreProcessed_data() {
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("level");  // of every pixel: palette entries are 0x808080
    QTest::newRow("1 bit") << 1 << 128;
    QTest::newRow("4 bits") << 4 << 128;
    QTest::newRow("8 bits") << 8 << 128;
    QTest::newRow("16 bits") << 16 << 0;
  }
  void lowDepthPicturesAreProcessed() {
    QFETCH(int, bits);
    QFETCH(int, level);
    for (const char* action : {"Greyscale1", "Downsam1"}) {
      TestWindow window;
      Bitmap picture(6, 4, bits);
      if (bits <= 8) picture.Palette().assign(std::size_t{1} << bits, 0x00808080u);
      window.SetPicture(picture);
      QCOMPARE(MessagesOf(window.Action(action), 1).size(), 0);
      const Bitmap& result = window.Picture();
      QCOMPARE(result.BitsPerPixel(), 32);
      QCOMPARE(result.Width(), action == std::string("Downsam1") ? 3 : 6);
      QVERIFY(IsGrey(result));
      QCOMPARE(int(result.ScanLine(1)[4]), level);
    }
  }

  void noiseAndGreyscaleGiveGrey() {
    TestWindow window;
    window.SetPicture(tvq::test::GradientPicture(12, 9));
    window.Action("AddNoise1")->trigger();
    QCOMPARE(window.Picture().BitsPerPixel(), 32);
    QCOMPARE(window.Picture().Width(), 12);
    QVERIFY(IsGrey(window.Picture()));
    const Bitmap noisy = window.Picture();
    // The generator continues its sequence: a second use gives other noise.
    window.SetPicture(tvq::test::GradientPicture(12, 9));
    window.Action("AddNoise1")->trigger();
    QVERIFY(!(window.Picture() == noisy));

    window.SetPicture(SolidPicture(4, 4, 24, 10, 20, 200));
    window.Action("Greyscale1")->trigger();
    QVERIFY(IsGrey(window.Picture()));
    // 0.114 * 10 + 0.587 * 20 + 0.299 * 200 = 72.68
    QCOMPARE(int(window.Picture().ScanLine(0)[0]), 73);
  }

  void psnrNeedsBothImages() {
    TestWindow window;
    QList<Message> m = MessagesOf(window.Action("GetPSNR1"), 1);
    QCOMPARE(m.size(), 1);
    QCOMPARE(m[0].title, QString("Error"));
    QCOMPARE(m[0].text, QString("Specify Image1 and Image2 for comparsion"));

    window.Action("Storeimage11")->trigger();
    QVERIFY(window.StoredImage1());
    m = MessagesOf(window.Action("GetPSNR1"), 1);
    QCOMPARE(m[0].text, QString("Specify Image1 and Image2 for comparsion"));
  }

  void psnrNeedsEqualSizes() {
    TestWindow window;
    window.SetPicture(SolidPicture(10, 10, 24, 1, 1, 1));
    window.Action("Storeimage11")->trigger();
    window.SetPicture(SolidPicture(10, 11, 24, 1, 1, 1));
    window.Action("Storeimage21")->trigger();
    const QList<Message> m = MessagesOf(window.Action("GetPSNR1"), 1);
    QCOMPARE(m[0].title, QString("Error"));
    QCOMPARE(m[0].text, QString("Dimensions of Image1 and Image2 must be equal"));
  }

  void psnrValues_data() {
    QTest::addColumn<int>("difference");
    QTest::addColumn<QString>("mse");
    QTest::addColumn<QString>("psnrPrefix");
    QTest::newRow("1") << 1 << "MSE = 1"
                       << "PSNR = 48.1308";
    QTest::newRow("5") << 5 << "MSE = 25"
                       << "PSNR = 34.1514";
  }
  void psnrValues() {
    QFETCH(int, difference);
    QFETCH(QString, mse);
    QFETCH(QString, psnrPrefix);
    TestWindow window;
    window.SetPicture(SolidPicture(8, 6, 24, 100, 100, 100));
    window.Action("Storeimage11")->trigger();
    const std::uint8_t v = static_cast<std::uint8_t>(100 + difference);
    window.SetPicture(SolidPicture(8, 6, 24, v, v, v));
    window.Action("Storeimage21")->trigger();
    const QList<Message> m = MessagesOf(window.Action("GetPSNR1"), 2);
    QCOMPARE(m.size(), 2);
    QCOMPARE(m[0].title, QString("Result"));
    QCOMPARE(m[0].text, mse);
    QCOMPARE(m[1].title, QString("Result"));
    QVERIFY2(m[1].text.startsWith(psnrPrefix), qPrintable(m[1].text));
  }

  void psnrOfIdenticalImages() {
    TestWindow window;
    window.Action("Storeimage11")->trigger();
    window.Action("Storeimage21")->trigger();
    const QList<Message> m = MessagesOf(window.Action("GetPSNR1"), 2);
    QCOMPARE(m.size(), 2);
    QCOMPARE(m[0].text, QString("MSE = 0"));
    QVERIFY2(m[1].text.startsWith("PSNR = infinite"), qPrintable(m[1].text));
  }
};

QTEST_MAIN(UtilityTest)
#include "utility_test.moc"
