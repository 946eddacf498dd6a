// Undo and redo, their bounds, Downsampling on the worker, and the times of the
// progress panel.
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/history.h"
#include "imaging/io/bmp.h"
#include "modaldriver.h"
#include "testwindow.h"
#include "utility/utility.h"

using tvq::Bitmap;
using tvq::History;
using tvq::PictureState;
using tvq::test::ModalDriver;
using tvq::test::TestWindow;

namespace {

// A 4 x 4 32-bit state of 64 bytes named by its file name.
PictureState NamedState(int id, int width = 4) {
  return {Bitmap(width, 4, 32), {}, QString::number(id), true};
}

}  // namespace

class HistoryTest : public QObject {
  Q_OBJECT

 private slots:
  void boundsDropTheOldest_data() {
    QTest::addColumn<int>("maxSteps");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<int>("pushes");
    QTest::addColumn<int>("kept");
    QTest::newRow("steps") << 20 << 1 << 25 << 20;
    QTest::newRow("bytes") << 20 << 3 * 64 << 5 << 3;
  }
  void boundsDropTheOldest() {
    QFETCH(int, maxSteps);
    QFETCH(int, maxBytes);
    QFETCH(int, pushes);
    QFETCH(int, kept);
    // maxBytes 1 stands for no byte bound in the steps row.
    History history(maxSteps, maxBytes == 1 ? History::kMaxBytes : std::size_t(maxBytes));
    for (int i = 0; i < pushes; ++i) history.Push(NamedState(i));
    QCOMPARE(history.UndoSteps(), kept);
    QCOMPARE(history.Bytes(), std::size_t(64) * kept);
    // The newest are kept: undoing all of them ends at the oldest one left.
    PictureState current = NamedState(pushes);
    for (int i = 0; i < kept; ++i) current = history.Undo(std::move(current));
    QVERIFY(!history.CanUndo());
    QCOMPARE(current.fileName, QString::number(pushes - kept));
    QCOMPARE(history.RedoSteps(), kept);
  }

  // The picture Undo sets aside counts too: an enlarged current picture pushes out the
  // oldest step.
  void undoKeepsTheByteBound() {
    History history(20, 3 * 64);
    for (int i = 0; i < 3; ++i) history.Push(NamedState(i));
    const PictureState shown = history.Undo(NamedState(3, 8));  // 128 bytes
    QCOMPARE(shown.fileName, QString("2"));
    QCOMPARE(history.UndoSteps(), 1);
    QCOMPARE(history.Previous()->fileName, QString("1"));
    QCOMPARE(history.RedoSteps(), 1);
    QCOMPARE(history.Bytes(), std::size_t(64 + 128));
  }

  // Open, Greyscale, Open, Downsampling; undo and redo bring back the pictures and the
  // file Reload reads; a new command ends the redo steps.
  void undoAndRedoAcrossCommands() {
    QTemporaryDir dir;
    const QString a = dir.filePath("a.bmp"), b = dir.filePath("b.bmp");
    tvq::WriteBmp(tvq::test::GradientPicture(8, 6), a.toStdString());
    tvq::WriteBmp(tvq::test::GradientPicture(10, 8), b.toStdString());
    TestWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(!window.Action("Undo1")->isEnabled());
    QVERIFY(!window.Action("Redo1")->isEnabled());
    QVERIFY(!window.PreviousPicture());
    QSignalSpy changed(&window, &tvq::MainWindow::HistoryChanged);

    QVERIFY(window.OpenFile(a));
    const Bitmap opened = window.Picture();
    QVERIFY(window.Run("Greyscale1"));
    const Bitmap grey = window.Picture();
    QVERIFY(window.Run("Downsam1"));
    const Bitmap halved = window.Picture();
    QCOMPARE(halved.Width(), 4);
    QCOMPARE(changed.size(), 3);
    QVERIFY(*window.PreviousPicture() == grey);

    // Ctrl+Z twice: back to the picture as opened, with nothing before it.
    QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(window.Picture() == grey);
    QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(window.Picture() == opened);
    QCOMPARE(window.LastFileName(), a);
    QCOMPARE(window.FileStatus()->text(), QString("a.bmp"));
    QVERIFY(!window.PreviousPicture());
    QVERIFY(!window.UndoChange());
    QCOMPARE(changed.size(), 5);
    // Redo by both of its keys.
    QVERIFY(window.Action("Redo1")->isEnabled());
    QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(window.Picture() == grey);
    QTest::keyClick(&window, Qt::Key_Y, Qt::ControlModifier);
    QVERIFY(window.Picture() == halved);
    QVERIFY(!window.Action("Redo1")->isEnabled());

    // Back to the grey picture, then a new command: nothing is left to redo.
    QVERIFY(window.UndoChange());
    QVERIFY(window.Picture() == grey);
    QVERIFY(window.Run("AddNoise1"));
    QVERIFY(!window.Action("Redo1")->isEnabled());
    QVERIFY(!window.RedoChange());
    QCOMPARE(window.PictureHistory().UndoSteps(), 2);
    QVERIFY(window.UndoChange());
    QVERIFY(window.Picture() == grey);

    // Another file starts a history of its own (the change is given up when asked).
    ModalDriver driver;
    driver.Then(
        [](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(QMessageBox::Discard)->click(); });
    QVERIFY(window.OpenFile(b));
    QVERIFY(driver.Done());
    QVERIFY(!window.PreviousPicture());
    QVERIFY(!window.Action("Undo1")->isEnabled());
    QVERIFY(!window.Action("Redo1")->isEnabled());
  }

  // Downsampling runs through the runner: the picture changes only when it ends.
  void downsamplingRunsOnTheWorker() {
    TestWindow window;
    window.SetPicture(tvq::test::GradientPicture(9, 7));
    QVERIFY(window.Run("Greyscale1"));
    const Bitmap picture = window.Picture();
    QVERIFY(window.Action("Undo1")->isEnabled());
    QSignalSpy finished(&window, &tvq::MainWindow::CommandFinished);
    window.Action("Downsam1")->trigger();
    QVERIFY(window.CommandRunning());
    QVERIFY(window.Picture() == picture);
    // No undo while a command runs.
    QVERIFY(!window.Action("Undo1")->isEnabled());
    QVERIFY(!window.UndoChange());
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);
    const tvq::DownsampleResult expected = tvq::Downsample(picture);
    Bitmap halved;
    tvq::ImageToBitmap(expected.halved, halved);
    QVERIFY(window.Picture() == halved);
    QCOMPARE(window.ReferenceImage()->Width(), 9);
    QVERIFY(window.PreviousPicture() && *window.PreviousPicture() == picture);
  }

  void progressPanelShowsTheTimes() {
    TestWindow window;
    window.show();
    QVERIFY(window.RunCommand(
        "Test command",
        [](tvq::Progress& progress) {
          for (int i = 0; !progress.StopRequested(); ++i) {
            progress.ShowProgress("Testing", i % 100000, 100000);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
          return Bitmap(2, 2, 32);
        },
        false));
    auto* elapsed = window.findChild<QLabel*>("ElapsedLabel");
    auto* remaining = window.findChild<QLabel*>("RemainingLabel");
    QVERIFY(elapsed->isVisible() && remaining->isVisible());
    QCOMPARE(elapsed->accessibleName(), QString("Elapsed time"));
    QCOMPARE(remaining->accessibleName(), QString("Time remaining"));
    QTRY_VERIFY(QRegularExpression("^Elapsed 0:0[1-9]$").match(elapsed->text()).hasMatch());
    QVERIFY2(QRegularExpression("^About \\d+:\\d\\d left$").match(remaining->text()).hasMatch(),
             qPrintable(remaining->text()));
    QCOMPARE(window.Status(), QString("Testing"));
    window.findChild<QPushButton*>("StopButton")->click();
    QTRY_VERIFY(!window.CommandRunning());
    QVERIFY(!elapsed->isVisible());
  }
};

QTEST_MAIN(HistoryTest)
#include "history_test.moc"
