// Main window: menus, file commands, view and About.
#include <QClipboard>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QUrl>
#include <fstream>

#include "app/pictureview.h"
#include "buildversion.h"
#include "imaging/io/bmp.h"
#include "modaldriver.h"
#include "testwindow.h"

using tvq::Bitmap;
using tvq::test::ModalDriver;
using tvq::test::TestWindow;

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString Path(const QString& name) const { return dir_.filePath(name); }

  // Writes a picture to a file in the temporary folder and returns its path.
  QString WriteFixture(const QString& name, const Bitmap& picture) {
    const QString path = Path(name);
    tvq::WriteBmp(picture, path.toStdString());
    return path;
  }

 private slots:
  void captionAndStartPicture() {
    TestWindow window;
    QCOMPARE(window.windowTitle(),
             QString("Resampling by Superresolution and Deringing using TVQ method"));
    QCOMPARE(window.objectName(), QString("TForm1"));
    QCOMPARE(window.Picture().Width(), 64);
    QCOMPARE(window.Picture().Height(), 64);
    QCOMPARE(window.Picture().BitsPerPixel(), 24);
    QVERIFY(!window.View()->Image().isNull());
    QVERIFY(window.ProgressPanel()->isHidden());
    QCOMPARE(window.ProgressPanel()->title(), QString("Progress"));
    QCOMPARE(window.Status(), QString("Idle"));
    QVERIFY(window.findChild<QPushButton*>("StopButton")->text() == "STOP");
    QVERIFY(window.ProgressPanel()->width() >= 153 && window.ProgressPanel()->height() >= 105);
  }

  void menuStructure() {
    TestWindow window;
    struct Expected {
      const char* menu;
      const char* title;
      QStringList items;  // "name=caption", "N1" for a separator
    };
    const Expected expected[] = {
        {"Image1",
         "Image",
         {"Open1=Open...", "OpenRecent1=Open Recent", "Reload1=Reload", "SaveAs1=Save As...",
          "ProcessFolder1=Process Folder...", "N1", "Exit1=Exit"}},
        {"Edit1",
         "Edit",
         {"Copytoclipboard1=Copy to clipboard", "Undo1=Undo", "Redo1=Redo", "Paste1=Paste"}},
        {"View1",
         "View",
         {"Stretch1=Stretch", "ZoomIn1=Zoom In", "ZoomOut1=Zoom Out", "ActualSize1=Actual Size",
          "CompareSeparator", "ComparewithPrevious1=Compare with Previous",
          "StoreForComparison1=Store Image for Comparison",
          "ComparewithStored1=Compare with Stored Image...", "FolderSeparator",
          "PreviousPicture1=Previous Picture in Folder", "NextPicture1=Next Picture in Folder",
          "FullScreen1=Full Screen"}},
        {"Process1",
         "Process",
         {"Re1=Resampling", "Deringing1=Deringing", "MaskedDeringing1=Masked Deringing",
          "ResamplingDeringing1=Resampling + Deringing",
          "ResamplingMaskedDeringing1=Resampling + Masked Deringing", "Resize1=Resize...", "N2",
          "Downsam1=Downsampling", "AddNoise1=Add Gaussian Noise"}},
        {"Debug1",
         "Debug",
         {"EgdeMask1=Egde Mask", "Greyscale1=Greyscale", "Storeimage11=Store image 1",
          "Storeimage21=Store image 2", "GetPSNR1=Get PSNR"}},
        {"Help1", "Help", {"About1=About"}},
    };
    const QList<QAction*> bar = window.menuBar()->actions();
    QCOMPARE(bar.size(), 6);
    for (int m = 0; m < 6; ++m) {
      QMenu* menu = bar[m]->menu();
      QVERIFY(menu);
      QCOMPARE(menu->objectName(), QString(expected[m].menu));
      // Captions as given; only the mnemonic's "&" is added.
      QCOMPARE(menu->title().remove('&'), QString(expected[m].title));
      QStringList items;
      for (QAction* a : menu->actions())
        items << (a->isSeparator() ? a->objectName()
                                   : a->objectName() + "=" + a->text().remove('&'));
      QCOMPARE(items, expected[m].items);
      // Only the Debug menu is hidden.
      QCOMPARE(bar[m]->isVisible(), QString(expected[m].menu) != "Debug1");
    }
    QVERIFY(window.Action("Stretch1")->isCheckable());
    QVERIFY(window.Action("Stretch1")->isChecked());
  }

  void shortcuts() {
    TestWindow window;
    QCOMPARE(window.Action("Open1")->shortcut(), QKeySequence(QKeySequence::Open));
    QCOMPARE(window.Action("Reload1")->shortcut(), QKeySequence("Ctrl+R"));
    QCOMPARE(window.Action("SaveAs1")->shortcut(), QKeySequence("Ctrl+S"));
    QCOMPARE(window.Action("Copytoclipboard1")->shortcut(), QKeySequence(QKeySequence::Copy));
    QCOMPARE(window.Action("Exit1")->shortcut(), QKeySequence("Ctrl+Q"));
    QCOMPARE(window.Action("Paste1")->shortcut(), QKeySequence(QKeySequence::Paste));
  }

  void openEnablesReloadAndShowsSize() {
    const QString path = WriteFixture("gradient.bmp", tvq::test::GradientPicture(13, 7));
    TestWindow window;
    QVERIFY(!window.Action("Reload1")->isEnabled());
    window.openPath = path;
    window.Action("Open1")->trigger();
    QCOMPARE(window.openAsked, 1);
    QCOMPARE(window.Picture().Width(), 13);
    QCOMPARE(window.Picture().Height(), 7);
    QCOMPARE(window.Picture().BitsPerPixel(), 24);
    QVERIFY(window.Action("Reload1")->isEnabled());
    QCOMPARE(window.LastFileName(), path);
    QCOMPARE(window.Status(), QString("13x7"));
    QVERIFY(window.ProgressPanel()->isHidden());
  }

  void cancelledOpenChangesNothing() {
    TestWindow window;
    const Bitmap before = window.Picture();
    window.openPath.clear();
    window.Action("Open1")->trigger();
    QCOMPARE(window.openAsked, 1);
    QVERIFY(window.Picture() == before);
    QVERIFY(!window.Action("Reload1")->isEnabled());
    QVERIFY(window.LastFileName().isEmpty());
  }

  void unreadableFileIsReportedAndChangesNothing() {
    const QString path = Path("not-a-picture.bmp");
    {
      std::ofstream out(path.toStdString(), std::ios::binary);
      out << "this is text, not a bitmap";
    }
    TestWindow window;
    const Bitmap before = window.Picture();
    QString title, text;
    ModalDriver driver;
    driver.ThenMessage(&title, &text);
    window.openPath = path;
    window.Action("Open1")->trigger();
    QVERIFY(driver.Done());
    QVERIFY2(text.contains(path), qPrintable(text));
    QVERIFY(text.size() > path.size() + 3);  // the problem is named too
    QVERIFY(window.Picture() == before);
    QVERIFY(!window.Action("Reload1")->isEnabled());
    QVERIFY(window.LastFileName().isEmpty());

    // A missing file likewise.
    driver.ThenMessage(&title, &text);
    QVERIFY(!window.OpenFile(Path("missing.bmp")));
    QVERIFY(text.contains("missing.bmp"));
    QVERIFY(window.Picture() == before);
  }

  void saveAsWrites32BitThatReadsBackEqual() {
    TestWindow window;
    window.SetPicture(tvq::test::GradientPicture(9, 6));
    window.Action("Greyscale1")->trigger();  // any command leaves a 32-bit picture
    QCOMPARE(window.Picture().BitsPerPixel(), 32);
    window.savePath = Path("saved");  // no extension is added
    window.Action("SaveAs1")->trigger();
    QCOMPARE(window.saveAsked, 1);
    QVERIFY(QFile::exists(Path("saved")));
    const Bitmap back = tvq::ReadBmp(Path("saved").toStdString());
    QCOMPARE(back.BitsPerPixel(), 32);
    QCOMPARE(back.Width(), 9);
    QCOMPARE(back.Height(), 6);
    for (int y = 0; y < 6; ++y)
      QVERIFY(std::equal(back.ScanLine(y), back.ScanLine(y) + 9 * 4, window.Picture().ScanLine(y)));

    // Saving again over the file replaces it once confirmed.
    window.SetPicture(tvq::test::GradientPicture(4, 3));
    ModalDriver driver;
    driver.Then(
        [](QWidget* box) { qobject_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->click(); });
    window.Action("SaveAs1")->trigger();
    QVERIFY(driver.Done());
    QCOMPARE(tvq::ReadBmp(Path("saved").toStdString()).Width(), 4);
    QCOMPARE(tvq::ReadBmp(Path("saved").toStdString()).BitsPerPixel(), 24);
  }

  void saveFailureIsReported() {
    TestWindow window;
    QString title, text;
    ModalDriver driver;
    driver.ThenMessage(&title, &text);
    window.savePath = Path("no-such-folder/out.bmp");
    window.Action("SaveAs1")->trigger();
    QVERIFY(driver.Done());
    QVERIFY2(text.contains("no-such-folder/out.bmp"), qPrintable(text));
  }

  void reloadRestoresFileDepthAfterCommand() {
    const Bitmap original = tvq::test::GradientPicture(10, 8);
    const QString path = WriteFixture("reload.bmp", original);
    TestWindow window;
    QVERIFY(window.OpenFile(path));
    window.Action("Greyscale1")->trigger();
    QCOMPARE(window.Picture().BitsPerPixel(), 32);
    // The changed picture is given up at the question Reload asks first.
    ModalDriver driver;
    driver.Then(
        [](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(QMessageBox::Discard)->click(); });
    window.Action("Reload1")->trigger();
    QVERIFY(driver.Done());
    QCOMPARE(window.Picture().BitsPerPixel(), 24);
    for (int y = 0; y < 8; ++y)
      QVERIFY(std::equal(original.ScanLine(y), original.ScanLine(y) + 30,
                         window.Picture().ScanLine(y)));
  }

  void stretchToggles() {
    TestWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QAction* stretch = window.Action("Stretch1");
    QVERIFY(window.View()->Stretch());
    // Stretched, the 64 x 64 picture fills the view's height or width, square.
    const QRect stretched = window.View()->ImageRect();
    QCOMPARE(stretched.width(), stretched.height());
    QVERIFY(stretched.width() > 64);
    stretch->trigger();
    QVERIFY(!stretch->isChecked());
    QVERIFY(!window.View()->Stretch());
    QCOMPARE(window.View()->ImageRect().size(), QSize(64, 64));
    stretch->trigger();
    QVERIFY(stretch->isChecked());
    QCOMPARE(window.View()->ImageRect(), stretched);
  }

  void largePictureIsShownAtActualSizeWithoutStretch() {
    TestWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.SetPicture(tvq::test::SolidPicture(2000, 500, 24, 1, 2, 3));
    window.Action("Stretch1")->trigger();
    // One picture pixel on one device pixel, the rest reached by scrolling.
    tvq::PictureView* view = window.View();
    const double ratio = view->viewport()->devicePixelRatioF();
    QCOMPARE(view->ImageRect().size(), QSize(qRound(2000 / ratio), qRound(500 / ratio)));
    QTRY_VERIFY(view->horizontalScrollBar()->isVisible());
    QCOMPARE(view->horizontalScrollBar()->maximum(),
             qRound(2000 / ratio) - view->viewport()->width());
    QCOMPARE(window.ZoomStatus()->text(), QString("100%"));
  }

  void copyPutsThePictureOnTheClipboard() {
    TestWindow window;
    window.SetPicture(tvq::test::GradientPicture(7, 4));
    window.Action("Copytoclipboard1")->trigger();
    const QImage copied = QApplication::clipboard()->image();
    QCOMPARE(copied.size(), QSize(7, 4));
    const std::uint8_t* p = window.Picture().ScanLine(2) + 3 * 5;
    QCOMPARE(copied.pixel(5, 2), qRgb(p[2], p[1], p[0]));
  }

  void aboutBox() {
    TestWindow window;
    window.show();
    QStringList lines;
    bool modal = false;
    QString title;
    ModalDriver driver;
    driver.Then([&](QWidget* w) {
      title = w->windowTitle();
      modal = w->isModal();
      for (QLabel* label : w->findChildren<QLabel*>()) lines << label->text();
      QVERIFY(!(w->windowFlags() & Qt::WindowCloseButtonHint));
      w->findChild<QPushButton*>("OKButton")->click();
    });
    window.Action("About1")->trigger();
    QVERIFY(driver.Done());
    QCOMPARE(title, QString("About"));
    QVERIFY(modal);
    QCOMPARE(lines, QStringList({"Image Resampling by Superresolution",
                                 "Image deringing bt TVQ method", "Version " TVQ_VERSION_TEXT}));
  }

  void droppingBmpOpensIt() {
    const QString path = WriteFixture("dropped.bmp", tvq::test::GradientPicture(5, 3));
    TestWindow window;
    QVERIFY(tvq::test::DropFile(window, path));
    QCOMPARE(window.Picture().Width(), 5);
    QCOMPARE(window.LastFileName(), path);
    // Other files are refused.
    QVERIFY(!tvq::test::DropFile(window, Path("notes.txt")));
  }
};

QTEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"
