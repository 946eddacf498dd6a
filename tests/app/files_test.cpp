// Picture files of every format in the application: open, save by extension, alpha
// and colour profile kept, alpha through commands, paste and drop.
#include <QClipboard>
#include <QColorSpace>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "../common/bmp_builder.h"
#include "app/pictureview.h"
#include "commands/filepicture.h"
#include "imaging/imagebase.h"
#include "imaging/io/picture.h"
#include "modaldriver.h"
#include "superres/resample.h"
#include "testwindow.h"
#include "utility/utility.h"

using tvq::Bitmap;
using tvq::test::ModalDriver;
using tvq::test::TestWindow;

namespace {

// A 7 x 5 colour picture with alpha: 0 in the first column, 255 in the last, steps
// between, and a colour under every alpha.
tvq::Picture AlphaPicture() {
  tvq::Picture picture;
  picture.width = 7;
  picture.height = 5;
  picture.channels = 4;
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x)
      picture.samples.insert(picture.samples.end(),
                             {float(200 - 20 * x), float(30 * y), float(10 * x + 5 * y),
                              float(x == 6 ? 255 : 40 * x)});
  return picture;
}

std::vector<std::uint8_t> FileBytes(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The displayed picture of the window as red, green, blue and alpha bytes.
std::vector<int> Rgba(const TestWindow& window) {
  const Bitmap& bitmap = window.Picture();
  const auto& alpha = window.Extras().alpha;
  std::vector<int> rgba;
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) {
      const std::uint8_t* p = bitmap.ScanLine(y) + 4 * x;
      rgba.insert(rgba.end(), {p[2], p[1], p[0],
                               alpha.empty() ? 255 : alpha[std::size_t(y) * bitmap.Width() + x]});
    }
  return rgba;
}

// The same bytes from a file picture (8 bits, colour, with alpha).
std::vector<int> Rgba(const tvq::Picture& picture) {
  std::vector<int> rgba;
  for (float v : picture.samples) rgba.push_back(tvq::ClampToByte(v));
  return rgba;
}

}  // namespace

class FilesTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString Path(const QString& name) const { return dir_.filePath(name); }

  QString WriteFixture(const QString& name, const tvq::Picture& picture) {
    const QString path = Path(name);
    tvq::WritePicture(picture, path.toStdString());
    return path;
  }

  // Opens the alpha picture from a PNG that also holds a colour profile.
  void OpenAlphaPicture(TestWindow& window) {
    tvq::Picture picture = AlphaPicture();
    const QByteArray icc = QColorSpace(QColorSpace::SRgb).iccProfile();
    picture.icc.assign(icc.begin(), icc.end());
    QVERIFY(window.OpenFile(WriteFixture("alpha.png", picture)));
  }

 private slots:
  void pngWithAlphaOpensAndSavesWithAlpha() {
    TestWindow window;
    OpenAlphaPicture(window);
    QCOMPARE(window.Picture().BitsPerPixel(), 32);
    QCOMPARE(window.Extras().alpha.size(), std::size_t(35));
    QCOMPARE(Rgba(window), Rgba(AlphaPicture()));
    QCOMPARE(window.Status(), QString("7x5"));
    // The view shows the alpha.
    QCOMPARE(qAlpha(window.View()->Image().pixel(1, 0)), 40);

    window.savePath = Path("saved.png");
    window.Action("SaveAs1")->trigger();
    const tvq::Picture back = tvq::ReadPicture(Path("saved.png").toStdString());
    QCOMPARE(back.channels, 4);
    QCOMPARE(Rgba(back), Rgba(AlphaPicture()));
    QVERIFY(!back.icc.empty());
  }

  void sixteenBitPngIsShownAsBytesAndSaysSo() {
    tvq::Picture picture;
    picture.width = 3;
    picture.height = 2;
    picture.channels = 3;
    picture.bitsPerChannel = 16;
    for (int i = 0; i < 18; ++i) picture.samples.push_back(float((i * 3001 + 7) / 257.0));
    TestWindow window;
    QVERIFY(window.OpenFile(WriteFixture("deep.png", picture)));
    QCOMPARE(window.Status(), QString("3x2, 16 bits per channel are kept; shown as 8"));
    QCOMPARE(window.FileStatus()->text(), QString("deep.png"));
    QCOMPARE(window.SizeStatus()->text(),
             QString::fromUtf8("3 \u00d7 2, 48 bpp (16 bits per channel in the file)"));
    QCOMPARE(window.Extras().bitsPerChannel, 16);
    QVERIFY(window.Extras().alpha.empty());
    const std::uint8_t* p = window.Picture().ScanLine(1) + 4 * 2;  // samples 15, 16, 17
    QCOMPARE(int(p[2]), int(tvq::ClampToByte(picture.samples[15])));
    QCOMPARE(int(p[0]), int(tvq::ClampToByte(picture.samples[17])));
    // A command on the worker reports its name and time.
    QVERIFY(window.Run("Downsam1"));
    QVERIFY(QRegularExpression("^Downsampling: \\d+\\.\\d s$")
                .match(window.CommandStatus()->text())
                .hasMatch());
    QVERIFY(window.SizeStatus()->text().startsWith(QString::fromUtf8("1 \u00d7 1, 48 bpp")));
    QVERIFY(window.Run("Greyscale1"));
    QVERIFY(window.CommandStatus()->text().startsWith("Greyscale: "));
  }

  // Save As writes the format the extension names; alpha and the colour profile go
  // where the format holds them, and a note says when alpha was dropped.
  void saveAsByExtension_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("format");
    for (const char* name :
         {"a.bmp", "a.png", "a.jpg", "a.JPEG", "a.tif", "a.tiff", "a.webp", "a.pfm", "noext"}) {
      const auto format = tvq::FormatFromExtension(name);
      QTest::newRow(name) << name << int(format.value_or(tvq::PictureFormat::kBmp));
    }
  }
  void saveAsByExtension() {
    QFETCH(QString, name);
    QFETCH(int, format);
    const auto expected = tvq::PictureFormat(format);
    TestWindow window;
    OpenAlphaPicture(window);
    window.savePath = Path(name);
    // Alpha into a format without it is saved anyway; JPEG and WebP take the quality
    // offered.
    ModalDriver driver;
    if (!tvq::FormatHoldsAlpha(expected))
      driver.Then(
          [](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(QMessageBox::Save)->click(); });
    if (expected == tvq::PictureFormat::kJpeg || expected == tvq::PictureFormat::kWebp)
      driver.Then([](QWidget* w) { qobject_cast<QDialog*>(w)->accept(); });
    window.Action("SaveAs1")->trigger();
    QVERIFY(driver.Done());
    const std::vector<std::uint8_t> bytes = FileBytes(Path(name));
    QVERIFY(tvq::SniffFormat(bytes.data(), bytes.size()) == expected);
    const tvq::Picture back = tvq::DecodePicture(bytes.data(), bytes.size());
    QCOMPARE(back.width, 7);
    const bool holdsAlpha = tvq::FormatHoldsAlpha(expected);
    QCOMPARE(!back.bitmap && back.HasAlpha(), holdsAlpha);
    QCOMPARE(window.Status().contains("without the alpha channel"), !holdsAlpha);
    const bool holdsIcc =
        expected != tvq::PictureFormat::kBmp && expected != tvq::PictureFormat::kPfm;
    QCOMPARE(!back.icc.empty(), holdsIcc);
  }

  void unknownExtensionIsRefusedAndWritesNothing() {
    TestWindow window;
    QString title, text;
    ModalDriver driver;
    driver.ThenMessage(&title, &text);
    window.savePath = Path("picture.gif");
    window.Action("SaveAs1")->trigger();
    QVERIFY(driver.Done());
    QVERIFY2(text.contains("picture.gif") && text.contains(".png") && text.contains(".webp"),
             qPrintable(text));
    QVERIFY(!QFile::exists(Path("picture.gif")));
  }

  void damagedFileIsReportedAndPictureStays() {
    const QString good = WriteFixture("whole.png", AlphaPicture());
    std::vector<std::uint8_t> bytes = FileBytes(good);
    bytes.resize(bytes.size() / 2);
    const QString path = Path("half.png");
    std::ofstream(path.toStdString(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    TestWindow window;
    OpenAlphaPicture(window);
    const Bitmap before = window.Picture();
    QString title, text;
    ModalDriver driver;
    driver.ThenMessage(&title, &text);
    QVERIFY(!window.OpenFile(path));
    QVERIFY2(text.contains(path) && text.size() > path.size() + 3, qPrintable(text));
    QVERIFY(window.Picture() == before);
    QCOMPARE(window.Extras().alpha.size(), std::size_t(35));

    // A small file that claims a huge picture is refused from its header, with the
    // command-line tool's default limit.
    tvq::bmptest::BmpBuilder bomb;
    bomb.width = bomb.height = 23000;
    bomb.bits = 8;
    bomb.compression = 1;
    bomb.palette.assign(256, 0);
    bomb.raw = {0, 1};
    const std::vector<std::uint8_t> bombBytes = bomb.Build();
    std::ofstream(Path("bomb.bmp").toStdString(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bombBytes.data()), std::streamsize(bombBytes.size()));
    ModalDriver bombDriver;
    bombDriver.ThenMessage(&title, &text);
    QVERIFY(!window.OpenFile(Path("bomb.bmp")));
    QVERIFY2(text.endsWith("23000x23000 is 529 megapixels; the limit is 100 megapixels"),
             qPrintable(text));
    QVERIFY(window.Picture() == before);
  }

  // Commands on a picture with alpha give what the command-line tool gives: the
  // premultiplied picture through the command, then alpha brought along.
  void commandsCarryAlpha_data() {
    QTest::addColumn<QString>("action");
    QTest::newRow("greyscale, same size") << "Greyscale1";
    QTest::newRow("downsampling, fourth channel") << "Downsam1";
    QTest::newRow("resampling, enlarged") << "Re1";
  }
  void commandsCarryAlpha() {
    QFETCH(QString, action);
    TestWindow window;
    OpenAlphaPicture(window);
    const tvq::CommandInput input = tvq::PrepareInput(AlphaPicture());
    tvq::Picture expected;
    if (action == "Greyscale1") {
      expected =
          tvq::ResultPicture(tvq::Greyscale(input.Source()), input, tvq::AlphaTravel::kSameSize);
      window.Action("Greyscale1")->trigger();
    } else if (action == "Downsam1") {
      expected = tvq::ResultPicture(tvq::Downsample(input.Source()).halved, input,
                                    tvq::AlphaTravel::kFourthChannel);
      QVERIFY(window.Run("Downsam1"));
    } else {
      tvq::NullProgress quiet;
      expected = tvq::ResultPicture(
          tvq::Resample(input.Source(), tvq::ResampleParams(), nullptr, nullptr, quiet), input,
          tvq::AlphaTravel::kEnlarged);
      QSignalSpy finished(&window, &tvq::MainWindow::CommandFinished);
      ModalDriver driver;
      driver.Then([](QWidget* d) { d->findChild<QPushButton*>("OKButton")->click(); });
      window.Action("Re1")->trigger();
      QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);
    }
    QCOMPARE(window.Picture().Width(), expected.width);
    QCOMPARE(window.Extras().alpha.size(), std::size_t(expected.width) * expected.height);
    // Grey results are one channel and alpha; spread them to compare.
    std::vector<int> rgba = Rgba(expected);
    if (expected.channels == 2) {
      std::vector<int> spread;
      for (std::size_t i = 0; i < rgba.size(); i += 2)
        spread.insert(spread.end(), {rgba[i], rgba[i], rgba[i], rgba[i + 1]});
      rgba = spread;
    }
    QCOMPARE(Rgba(window), rgba);
    QVERIFY(!window.Extras().icc.empty());  // the profile stays
  }

  void pasteTakesTheClipboardPicture() {
    TestWindow window;
    QImage image(4, 3, QImage::Format_ARGB32);
    image.fill(qRgba(10, 20, 30, 255));
    image.setPixel(2, 1, qRgba(40, 50, 60, 70));
    QApplication::clipboard()->setImage(image);
    QVERIFY(window.Action("Paste1")->isEnabled());
    window.Action("Paste1")->trigger();
    QCOMPARE(window.Picture().Width(), 4);
    QCOMPARE(window.Picture().BitsPerPixel(), 32);
    const std::vector<int> rgba = Rgba(window);
    QCOMPARE(std::vector<int>(rgba.begin() + 4 * 6, rgba.begin() + 4 * 7),
             std::vector<int>({40, 50, 60, 70}));
    QCOMPARE(std::vector<int>(rgba.begin(), rgba.begin() + 4), std::vector<int>({10, 20, 30, 255}));

    // An opaque picture brings no alpha plane (the pasted one goes unsaved).
    image.fill(qRgba(1, 2, 3, 255));
    QApplication::clipboard()->setImage(image);
    ModalDriver discard;
    discard.Then(
        [](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(QMessageBox::Discard)->click(); });
    window.Action("Paste1")->trigger();
    QVERIFY(discard.Done());
    QVERIFY(window.Extras().alpha.empty());
    QCOMPARE(Rgba(window)[2], 3);

    // Text is no picture: Paste is disabled, and asked anyway it says so.
    QApplication::clipboard()->setText("no picture");
    QVERIFY(!window.Action("Paste1")->isEnabled());
    QString title, text;
    ModalDriver driver;
    driver.ThenMessage(&title, &text);
    QVERIFY(!window.PasteFromClipboard());
    QVERIFY2(text.contains("no picture"), qPrintable(text));
    QCOMPARE(window.Picture().Width(), 4);
  }

  void droppingPngOpensIt() {
    const QString path = WriteFixture("dropped.png", AlphaPicture());
    TestWindow window;
    QVERIFY(tvq::test::DropFile(window, path));
    QCOMPARE(window.LastFileName(), path);
    QCOMPARE(Rgba(window), Rgba(AlphaPicture()));
  }
};

QTEST_MAIN(FilesTest)
#include "files_test.moc"
