// A photographer's day with the application: nothing changed is lost without a
// question, 16-bit files and alpha come back out as they went in, each file has its
// own history, a stop says what it left, titles name the file, and screen readers
// read the values.
#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "app/pictureview.h"
#include "app/settings.h"
#include "app/startup.h"
#include "commands/filepicture.h"
#include "imaging/io/picture.h"
#include "imaging/progress.h"
#include "modaldriver.h"
#include "testwindow.h"
#include "utility/utility.h"

using tvq::Bitmap;
using tvq::test::ModalDriver;
using tvq::test::TestWindow;

namespace {

// A 16-bit colour picture whose samples are not whole bytes.
tvq::Picture DeepPicture() {
  return tvq::test::MakePicture(12, 10, 3, 16, [](int x, int y, int c) {
    return float((x * 4099 + y * 1237 + c * 9001 + 13) % 65536 / 257.0);
  });
}

// A picture with alpha below 255 in places.
tvq::Picture AlphaPicture() {
  return tvq::test::MakePicture(6, 4, 4, 8, [](int x, int y, int c) {
    return float(c == 3 ? 40 * x : 30 * x + 20 * y + 50 * c);
  });
}

// Presses a button of the message box (or dialog) w by its standard button.
void Answer(QWidget* w, QMessageBox::StandardButton button) {
  auto* box = qobject_cast<QMessageBox*>(w);
  QVERIFY2(box, qPrintable(w->objectName()));
  box->button(button)->click();
}

QString AccessibleName(QObject* object) {
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
  return face ? face->text(QAccessible::Name) : QString();
}

}  // namespace

class WorkflowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString Path(const QString& name) const { return dir_.filePath(name); }
  QString Write(const QString& name, const tvq::Picture& picture) {
    tvq::WritePicture(picture, Path(name).toStdString());
    return Path(name);
  }
  // A window showing first.png changed by a command.
  void OpenChanged(TestWindow& window) {
    QVERIFY(window.OpenFile(Write("first.png", DeepPicture())));
    QVERIFY(window.Run("Greyscale1"));
    QVERIFY(window.HasUnsavedChanges());
  }

 private slots:
  void init() {
    QImage clip(3, 2, QImage::Format_RGB32);
    clip.fill(qRgb(10, 200, 30));
    QApplication::clipboard()->setImage(clip);
  }

  // Every action that replaces or closes a changed picture asks first; Cancel keeps
  // the picture, Discard lets the action go on, Save saves and then goes on.
  void changedPictureIsNotLostWithoutAQuestion_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("caption");
    for (const char* action : {"open", "openMenu", "reload", "paste", "drop", "close"}) {
      const QString caption = QString(action) == "openMenu" || QString(action) == "drop"
                                  ? "Open"
                                  : QString(action).replace(0, 1, QString(action)[0].toUpper());
      QTest::addRow("%s, cancel", action) << action << int(QMessageBox::Cancel) << caption;
      QTest::addRow("%s, discard", action) << action << int(QMessageBox::Discard) << caption;
    }
    QTest::addRow("open, save") << "open" << int(QMessageBox::Save) << "Open";
  }
  void changedPictureIsNotLostWithoutAQuestion() {
    QFETCH(QString, action);
    QFETCH(int, answer);
    QFETCH(QString, caption);
    TestWindow window;
    window.show();
    OpenChanged(window);
    const Bitmap changed = window.Picture();
    const QString second = Write("second.png", AlphaPicture());
    window.openPath = second;
    window.savePath = Path("saved.png");
    QFile::remove(window.savePath);

    QString title;
    ModalDriver driver;
    driver.Then([&](QWidget* w) {
      title = w->windowTitle();
      Answer(w, QMessageBox::StandardButton(answer));
    });
    if (action == "open") window.OpenFile(second);
    if (action == "openMenu") window.Action("Open1")->trigger();
    if (action == "reload") window.Action("Reload1")->trigger();
    if (action == "paste") window.Action("Paste1")->trigger();
    if (action == "drop") QVERIFY(tvq::test::DropFile(window, second));
    if (action == "close") window.close();
    QVERIFY(driver.Done());
    QCOMPARE(title, caption);

    if (answer == QMessageBox::Cancel) {
      QVERIFY(window.Picture() == changed);
      QVERIFY(window.HasUnsavedChanges());
      QVERIFY(window.isVisible());
      QCOMPARE(window.openAsked, 0);
      return;
    }
    QCOMPARE(QFileInfo::exists(window.savePath), answer == QMessageBox::Save);
    QVERIFY(window.Picture() != changed || action == "close");
    if (action == "close") QVERIFY(!window.isVisible());
    if (action == "paste") QCOMPARE(window.PictureName(), QString("Pasted picture"));
    if (action == "reload") QCOMPARE(window.PictureName(), QString("first.png"));
    if (action.startsWith("open") || action == "drop")
      QCOMPARE(window.PictureName(), QString("second.png"));
  }

  // A 16-bit file keeps its depth through a command and Save As, as the command-line
  // tool keeps it: the samples written are those of the tool's own path.
  void sixteenBitsSurviveCommandsAndSaving_data() {
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("command");
    for (const char* extension : {"png", "tif"}) {
      QTest::addRow("%s, as opened", extension) << extension << false;
      QTest::addRow("%s, downsampled", extension) << extension << true;
    }
  }
  void sixteenBitsSurviveCommandsAndSaving() {
    QFETCH(QString, extension);
    QFETCH(bool, command);
    const tvq::Picture original = DeepPicture();
    TestWindow window;
    QVERIFY(window.OpenFile(Write("deep." + extension, original)));
    QCOMPARE(window.SizeStatus()->text(),
             QString::fromUtf8("12 \u00d7 10, 48 bpp (16 bits per channel in the file)"));
    tvq::Picture expected = tvq::ReadPicture(Path("deep." + extension).toStdString());
    if (command) {
      QVERIFY(window.Run("Downsam1"));
      const tvq::CommandInput input = tvq::PrepareInput(expected);
      expected = tvq::ResultPicture(tvq::Downsample(input.Source()).halved, input,
                                    tvq::AlphaTravel::kFourthChannel);
    }
    const QString saved = Path("saved." + extension);
    QVERIFY(window.SaveFile(saved));
    const tvq::Picture back = tvq::ReadPicture(saved.toStdString());
    QCOMPARE(back.bitsPerChannel, 16);
    QCOMPARE(back.width, expected.width);
    QCOMPARE(back.samples.size(), expected.samples.size());
    for (std::size_t i = 0; i < back.samples.size(); ++i)
      QCOMPARE(std::lround(back.samples[i] * 257), std::lround(expected.samples[i] * 257));
  }

  // Alpha into a format without it asks first; Cancel writes nothing. JPEG then asks
  // for the quality, remembered for the next time.
  void transparencyIsNotDroppedSilently_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("saveAnyway");
    QTest::newRow("jpeg, save anyway") << "out.jpg" << true;
    QTest::newRow("jpeg, cancel") << "out.jpg" << false;
    QTest::newRow("bmp, save anyway") << "out.bmp" << true;
    QTest::newRow("bmp, cancel") << "out.bmp" << false;
  }
  void transparencyIsNotDroppedSilently() {
    QFETCH(QString, name);
    QFETCH(bool, saveAnyway);
    QTemporaryDir store;
    TestWindow window;
    window.UseSettings(std::make_unique<QSettings>(store.filePath("s.ini"), QSettings::IniFormat));
    QVERIFY(window.OpenFile(Write("alpha.png", AlphaPicture())));
    window.savePath = Path(name);
    QFile::remove(window.savePath);
    const bool jpeg = name.endsWith(".jpg");
    QString question;
    int shownQuality = 0;
    ModalDriver driver;
    driver.Then([&](QWidget* w) {
      question = qobject_cast<QMessageBox*>(w)->text();
      Answer(w, saveAnyway ? QMessageBox::Save : QMessageBox::Cancel);
    });
    if (saveAnyway && jpeg)
      driver.Then([&](QWidget* w) {
        auto* dialog = qobject_cast<QInputDialog*>(w);
        QVERIFY(dialog);
        shownQuality = dialog->intValue();
        dialog->setIntValue(70);
        dialog->accept();
      });
    window.Action("SaveAs1")->trigger();
    QVERIFY(driver.Done());
    QVERIFY2(question.contains("alpha"), qPrintable(question));
    QCOMPARE(QFileInfo::exists(window.savePath), saveAnyway);
    if (saveAnyway && jpeg) {
      QCOMPARE(shownQuality, 95);
      QCOMPARE(tvq::SaveQuality(QSettings(store.filePath("s.ini"), QSettings::IniFormat)), 70);
    }
  }

  // Opening a file starts its own history; the title names the file and marks a
  // change; the built-in picture keeps the caption alone; a pasted picture has no
  // file to reload.
  void eachFileHasItsOwnHistoryAndTitle() {
    TestWindow window;
    QCOMPARE(window.windowTitle(), QString(tvq::kMainCaption));
    const QString dash = QString::fromUtf8(" \u2014 ");
    OpenChanged(window);
    QCOMPARE(window.windowTitle(), "first.png*" + dash + tvq::kMainCaption);
    QVERIFY(window.Action("ComparewithPrevious1")->isEnabled());
    QVERIFY(window.Action("Undo1")->isEnabled());
    ModalDriver driver;
    driver.Then([](QWidget* w) { Answer(w, QMessageBox::Discard); });
    QVERIFY(window.OpenFile(Write("second.png", AlphaPicture())));
    QCOMPARE(window.windowTitle(), "second.png" + dash + tvq::kMainCaption);
    QVERIFY(!window.Action("ComparewithPrevious1")->isEnabled());
    QVERIFY(!window.Action("Undo1")->isEnabled());
    QVERIFY(window.PreviousPicture() == nullptr);

    QVERIFY(window.PasteFromClipboard());
    QCOMPARE(window.windowTitle(), "Pasted picture*" + dash + tvq::kMainCaption);
    QCOMPARE(window.FileStatus()->text(), QString("Pasted picture"));
    QVERIFY(!window.Action("Reload1")->isEnabled());
    QCOMPARE(window.SizeStatus()->text(), QString::fromUtf8("3 \u00d7 2, 24 bpp"));
  }

  // Save As suggests NAME_2x after an enlargement in the file's format; "No" to
  // replacing goes back to the file dialog; the saved file then names the window.
  void saveAsSuggestsAndReturnsToTheDialog() {
    TestWindow window;
    QVERIFY(window.OpenFile(Write("photo.png", AlphaPicture())));
    ModalDriver driver;
    driver.Then([](QWidget* w) { w->findChild<QPushButton*>("OKButton")->click(); });
    QVERIFY(window.Run("Re1"));
    QVERIFY(driver.Done());
    const QString taken = Write("taken.png", AlphaPicture());
    window.savePaths = {taken, Path("fresh.png")};
    driver.Then([](QWidget* w) { Answer(w, QMessageBox::No); });
    window.Action("SaveAs1")->trigger();
    QVERIFY(driver.Done());
    QCOMPARE(window.saveAsked, 2);
    QCOMPARE(window.suggestedPath, taken);  // the second question starts on the name typed
    QVERIFY(QFileInfo::exists(Path("fresh.png")));
    QCOMPARE(window.FileStatus()->text(), QString("fresh.png"));
    QVERIFY(!window.HasUnsavedChanges());
    window.Action("SaveAs1")->trigger();  // answered with an empty path: cancelled
    QCOMPARE(QFileInfo(window.suggestedPath).fileName(), QString("fresh.png"));
  }

  // STOP (or Escape) says what it left: the result so far with the iteration it
  // reached, or the picture unchanged.
  void stopSaysWhatItLeft_data() {
    QTest::addColumn<bool>("keepsResult");
    QTest::addColumn<QString>("expected");
    QTest::newRow("result so far") << true << "Job: stopped at iteration 8 (result so far), ";
    QTest::newRow("nothing") << false << "Job: stopped; picture unchanged, after ";
  }
  void stopSaysWhatItLeft() {
    QFETCH(bool, keepsResult);
    QFETCH(QString, expected);
    TestWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const Bitmap before = window.Picture();
    QVERIFY(window.RunCommand(
        "Job",
        [keepsResult](tvq::Progress& progress) {
          progress.ShowProgress("Iterations [8]", 8, 40);
          while (!progress.StopRequested())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          progress.ShowProgress("Idle", 100, 100);
          if (!keepsResult) throw tvq::OperationStopped();
          return tvq::test::SolidPicture(4, 4, 24, 1, 2, 3);
        },
        false));
    QTRY_COMPARE(window.Status(), QString("Iterations [8]"));
    QTest::keyClick(&window, Qt::Key_Escape);
    QVERIFY(QTest::qWaitFor([&] { return !window.CommandRunning(); }, 10000));
    QVERIFY2(window.CommandStatus()->text().startsWith(expected),
             qPrintable(window.CommandStatus()->text()));
    QCOMPARE(window.Picture() == before, !keepsResult);
  }

  // Files copied in a file manager paste as files: the first here, the others each
  // in a window of its own, as several dropped files open.
  void copiedFilesPasteAsFiles() {
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(Write("one.png", AlphaPicture())),
                   QUrl::fromLocalFile(Write("two.png", DeepPicture()))});
    QApplication::clipboard()->setMimeData(mime);
    TestWindow window;
    QVERIFY(window.Action("Paste1")->isEnabled());
    window.Action("Paste1")->trigger();
    QCOMPARE(window.PictureName(), QString("one.png"));
    QVERIFY(window.Action("Reload1")->isEnabled());
    QStringList others;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* other = qobject_cast<tvq::MainWindow*>(w);
      if (other && other != &window && other->isVisible()) {
        others << other->PictureName();
        other->close();
      }
    }
    QCOMPARE(others, QStringList{"two.png"});
  }

  // Command-line files that fail get no window of their own.
  void failedFilesGetNoWindow() {
    QFile bad(Path("bad.jpg"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("\xFF\xD8\xFF garbage");
    bad.close();
    ModalDriver driver;
    QString text;
    driver.ThenMessage(nullptr, &text);
    const auto windows = tvq::CreateStartWindows(
        {Write("good.png", AlphaPicture()), Path("bad.jpg")}, [] { return nullptr; });
    QVERIFY(driver.Done());
    QVERIFY(text.contains("bad.jpg"));
    QCOMPARE(windows.size(), std::size_t(1));
    QCOMPARE(windows[0]->PictureName(), QString("good.png"));
  }

  // Screen readers read the status bar's values with their names, the method combo
  // box by its label, and a radio choice as one Tab stop whose arrows select.
  void screenReadersReadValues() {
    TestWindow window;
    QVERIFY(window.OpenFile(Write("shot.png", AlphaPicture())));
    QCOMPARE(AccessibleName(window.FileStatus()), QString("File: shot.png"));
    QVERIFY(AccessibleName(window.ZoomStatus()).startsWith("Zoom: "));
    QVERIFY(AccessibleName(window.SizeStatus()).contains(QString::fromUtf8("6 \u00d7 4")));

    ModalDriver driver;
    driver.Then([](QWidget* d) {
      const auto close = qScopeGuard([d] { static_cast<QDialog*>(d)->reject(); });
      auto* method = d->findChild<QComboBox*>("ComboBox1");
      QAccessibleInterface* face = QAccessible::queryAccessibleInterface(method);
      QCOMPARE(face->text(QAccessible::Name), QString("Method"));
      QCOMPARE(face->text(QAccessible::Value), method->currentText());
      QCOMPARE(face->role(), QAccessible::ComboBox);
    });
    window.Action("Deringing1")->trigger();
    QVERIFY(driver.Done());

    driver.Then([](QWidget* d) {
      // Closed however the checks end, so that a failure cannot leave it open.
      const auto close = qScopeGuard([d] { static_cast<QDialog*>(d)->reject(); });
      auto* checked = d->findChild<QRadioButton*>("RadioButton2");  // the default mode
      auto* first = d->findChild<QRadioButton*>("RadioButton1");
      auto* last = d->findChild<QRadioButton*>("RadioButton3");
      QVERIFY(checked->isChecked());
      // Tab reaches the checked button only.
      QCOMPARE(first->focusPolicy() & Qt::TabFocus, 0);
      QVERIFY(checked->focusPolicy() & Qt::TabFocus);
      checked->setFocus();
      QTest::keyClick(checked, Qt::Key_Down);
      QVERIFY(last->isChecked());
      QCOMPARE(d->focusWidget(), last);
      QVERIFY(last->focusPolicy() & Qt::TabFocus);
      // A check made through the accessibility interface moves the Tab stop too.
      QAccessibleInterface* face = QAccessible::queryAccessibleInterface(first);
      face->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
      QTRY_VERIFY(first->isChecked());
      QVERIFY(first->focusPolicy() & Qt::TabFocus);
      QCOMPARE(last->focusPolicy() & Qt::TabFocus, 0);
    });
    window.Action("Re1")->trigger();
    QVERIFY(driver.Done());
  }

  // "Preview" runs the command on the part in view and shows before and after while
  // the dialog is open, again when a value changes; the picture never changes.
  void previewShowsBeforeAndAfter_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QSize>("previewSize");
    QTest::newRow("resampling") << "Re1"
                                << "Edit16" << QSize(40, 32);
    QTest::newRow("deringing") << "Deringing1"
                               << "Edit24" << QSize(20, 16);
  }
  void previewShowsBeforeAndAfter() {
    QFETCH(QString, entry);
    QFETCH(QString, edit);
    QFETCH(QSize, previewSize);
    TestWindow window;
    window.show();
    window.SetPicture(tvq::test::GradientPicture(20, 16));
    const Bitmap before = window.Picture();
    tvq::PictureView* view = window.View();
    bool shown = false, again = false, unchanged = false;
    ModalDriver driver;
    driver.Then([&](QWidget* d) {
      const auto close = qScopeGuard([d] { static_cast<QDialog*>(d)->reject(); });
      d->findChild<QCheckBox*>("PreviewCheck")->setChecked(true);
      shown = QTest::qWaitFor(
          [&] { return view->Comparing() && view->Image().size() == previewSize; }, 20000);
      const QImage first = view->Image();
      d->findChild<QLineEdit*>(edit)->setText("0.25");
      again = QTest::qWaitFor([&] { return view->Image() != first; }, 20000);
      unchanged = window.Picture() == before;
    });
    window.Action(entry.toLatin1().constData())->trigger();
    QVERIFY(driver.Done());
    QVERIFY(shown);
    QVERIFY(again);
    QVERIFY(unchanged);
    // Closed, the view shows the picture again.
    QVERIFY(!view->Comparing());
    QCOMPARE(view->Image().size(), QSize(20, 16));
    QVERIFY(!window.CommandRunning());
  }

  // A dialog opens on the values it was last accepted with; Defaults puts back its
  // own; a store without values opens on the defaults.
  void dialogsRememberTheirValues() {
    QTemporaryDir store;
    TestWindow window;
    window.UseSettings(std::make_unique<QSettings>(store.filePath("s.ini"), QSettings::IniFormat));
    QString firstText;
    ModalDriver driver;
    driver.Then([&](QWidget* d) {
      auto* edit = d->findChild<QLineEdit*>("Edit1");
      firstText = edit->text();
      edit->setText("2.5");
      d->findChild<QPushButton*>("OKButton")->click();
    });
    QVERIFY(window.Run("EgdeMask1"));
    QVERIFY(driver.Done());
    QString shown, restored;
    driver.Then([&](QWidget* d) {
      auto* edit = d->findChild<QLineEdit*>("Edit1");
      shown = edit->text();
      d->findChild<QPushButton*>("DefaultsButton")->click();
      restored = edit->text();
      static_cast<QDialog*>(d)->reject();
    });
    window.Action("EgdeMask1")->trigger();
    QVERIFY(driver.Done());
    QCOMPARE(shown, QString("2.5"));
    QCOMPARE(restored, firstText);
    QVERIFY(firstText != "2.5");
  }
};

QTEST_MAIN(WorkflowTest)
#include "workflow_test.moc"
