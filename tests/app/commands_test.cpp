// Long commands: dialogs in turn, flags, parse failures, and the command runner
// with a test pipeline on the worker thread.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <exception>
#include <new>
#include <thread>

#include "app/failure.h"
#include "app/parsefloat.h"
#include "app/pictureview.h"
#include "deringing/deringcommand.h"
#include "imaging/errors.h"
#include "imaging/imagebase.h"
#include "imaging/parallel.h"
#include "modaldriver.h"
#include "superres/resample.h"
#include "testwindow.h"

using tvq::Bitmap;
using tvq::Progress;
using tvq::test::ModalDriver;
using tvq::test::TestWindow;

namespace {

void Press(QWidget* dialog, const char* button) {
  dialog->findChild<QPushButton*>(button)->click();
}

// A job that reports progress until STOP, then returns a 4 x 3 picture.
struct LoopingJob {
  std::shared_ptr<std::atomic<bool>> sawStop = std::make_shared<std::atomic<bool>>(false);
  std::shared_ptr<std::atomic<int>> steps = std::make_shared<std::atomic<int>>(0);

  Bitmap operator()(Progress& progress) const {
    for (int i = 0; !progress.StopRequested(); ++i) {
      progress.ShowProgress("Testing", i % 1000, 1000);
      if (progress.WantsIterate() && i == 0) {
        tvq::TImageF frame(8, 6);
        for (int y = 0; y < 6; ++y)
          for (int x = 0; x < 8; ++x) frame.Row(y)[x] = 128.0f;
        progress.ShowIterate(frame);
      }
      ++*steps;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    *sawStop = true;
    return Bitmap(4, 3, 32);
  }
};

// Forwards to the runner's Progress and counts the calls that come from another thread
// than the one the job started on. The runner's Progress may only be used from there;
// the fast kernels run their chunks on other threads and must leave Progress alone.
class ThreadCheckingProgress : public Progress {
 public:
  ThreadCheckingProgress(Progress& inner, std::atomic<int>& calls, std::atomic<int>& strangers)
      : inner_(inner), calls_(calls), strangers_(strangers) {}
  void ShowProgress(const std::string& stage, std::int32_t position,
                    std::int32_t maximum) override {
    Note();
    inner_.ShowProgress(stage, position, maximum);
  }
  bool StopRequested() override {
    Note();
    return inner_.StopRequested();
  }
  bool WantsIterate() const override {
    Note();
    return inner_.WantsIterate();
  }
  void ShowIterate(const tvq::TImageF& iterate) override {
    Note();
    inner_.ShowIterate(iterate);
  }

 private:
  void Note() const {
    ++calls_;
    if (std::this_thread::get_id() != owner_) ++strangers_;
  }
  Progress& inner_;
  std::atomic<int>& calls_;
  std::atomic<int>& strangers_;
  const std::thread::id owner_ = std::this_thread::get_id();
};

// The picture one of the pipelines makes from `picture`: 0 = Resample (6 iterations),
// 1 = Deringing with the default method, 2 = masked "Global, modified" deringing.
Bitmap RunPipeline(int kind, const Bitmap& picture, Progress& progress) {
  tvq::ResampleParams resample;
  resample.iterations = 6;
  tvq::DeringParams dering;
  if (kind == 2) dering.method = 0;
  const tvq::EdgeMaskParams mask;
  const tvq::TImageF4 result =
      kind == 0 ? tvq::Resample(picture, resample, nullptr, nullptr, progress)
                : tvq::Dering(picture, dering, kind == 2 ? &mask : nullptr, progress);
  Bitmap out;
  tvq::ImageToBitmap(result, out);
  return out;
}

}  // namespace

class CommandsTest : public QObject {
  Q_OBJECT

 private slots:
  // ------------------------------------------------------------ runner

  void runnerShowsProgressAndStops() {
    TestWindow window;
    window.show();
    const Bitmap before = window.Picture();
    LoopingJob job;
    QSignalSpy finished(&window, &tvq::MainWindow::CommandFinished);
    QVERIFY(window.RunCommand("Test command", job, true));
    QVERIFY(window.CommandRunning());
    QVERIFY(window.ProgressPanel()->isVisible());
    // Placed from the window's outer size.
    QCOMPARE(window.ProgressPanel()->pos(), QPoint(window.frameGeometry().width() / 2 - 75,
                                                   window.frameGeometry().height() / 2 - 50));
    QTRY_COMPARE(window.Status(), QString("Testing"));
    auto* bar = window.findChild<QProgressBar*>("ProgressBar");
    QTRY_COMPARE(bar->maximum(), 1000);
    // The frame reaches the view while the picture stays as it was.
    QTRY_COMPARE(window.View()->Image().size(), QSize(8, 6));
    QCOMPARE(window.View()->Image().pixelColor(3, 3), QColor(128, 128, 128));
    QVERIFY(window.Picture() == before);

    // Nothing else can start meanwhile; Save As and Copy stay usable.
    for (const char* name :
         {"Open1", "Reload1", "Re1", "Deringing1", "MaskedDeringing1", "ResamplingDeringing1",
          "ResamplingMaskedDeringing1", "Downsam1", "AddNoise1", "EgdeMask1", "Greyscale1",
          "Storeimage11", "Storeimage21", "GetPSNR1"})
      QVERIFY2(!window.Action(name)->isEnabled(), name);
    QVERIFY(window.Action("SaveAs1")->isEnabled());
    QVERIFY(window.Action("Copytoclipboard1")->isEnabled());
    QVERIFY(!window.RunCommand("Second", LoopingJob(), false));

    window.findChild<QPushButton*>("StopButton")->click();
    QTRY_VERIFY(!window.CommandRunning());
    QCOMPARE(finished.size(), 1);
    QVERIFY(job.sawStop->load());
    QVERIFY(job.steps->load() > 0);
    QVERIFY(!window.ProgressPanel()->isVisible());
    QCOMPARE(window.Status(), QString("Idle"));
    QCOMPARE(window.Picture().Width(), 4);
    QCOMPARE(window.Picture().Height(), 3);
    QCOMPARE(window.View()->Image().size(), QSize(4, 3));
    QVERIFY(window.Action("Open1")->isEnabled());
    QVERIFY(window.Action("Downsam1")->isEnabled());
    QVERIFY(!window.Action("Reload1")->isEnabled());  // still never opened
  }

  // A job stopped before it has a result, as an enlarger is: the picture stays and no
  // message box appears.
  void stopWithoutResultKeepsThePictureSilently() {
    TestWindow window;
    window.show();
    const Bitmap before = window.Picture();
    const auto job = [](Progress& progress) -> Bitmap {
      for (;;) {
        tvq::ThrowIfStopped(progress.SharedStopFlag());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    };
    QVERIFY(window.RunCommand("Test command", job, true));
    QString boxText;
    ModalDriver driver;
    driver.ThenMessage(nullptr, &boxText);
    window.findChild<QPushButton*>("StopButton")->click();
    QTRY_VERIFY(!window.CommandRunning());
    QTest::qWait(200);
    QVERIFY2(!driver.Done(), qPrintable("a message appeared: " + boxText));
    QVERIFY(window.Picture() == before);
  }

  // The pipelines on several threads through the runner: every Progress call stays on
  // the job's thread, and the picture equals the plain reference loops' bit for bit.
  void runnerKeepsProgressOnTheJobThread_data() {
    QTest::addColumn<int>("kind");
    QTest::newRow("resampling") << 0;
    QTest::newRow("deringing") << 1;
    QTest::newRow("masked global deringing") << 2;
  }
  void runnerKeepsProgressOnTheJobThread() {
    QFETCH(int, kind);
    const Bitmap picture = tvq::test::GradientPicture(61, 47);
    Bitmap expected;
    {
      tvq::SetReferenceKernels(true);
      tvq::NullProgress quiet;
      expected = RunPipeline(kind, picture, quiet);
      tvq::SetReferenceKernels(false);
    }
    tvq::SetThreadCount(3);
    TestWindow window;
    window.show();
    auto calls = std::make_shared<std::atomic<int>>(0);
    auto strangers = std::make_shared<std::atomic<int>>(0);
    QSignalSpy finished(&window, &tvq::MainWindow::CommandFinished);
    QVERIFY(window.RunCommand(
        "Test command",
        [kind, picture, calls, strangers](Progress& progress) {
          ThreadCheckingProgress checked(progress, *calls, *strangers);
          return RunPipeline(kind, picture, checked);
        },
        true));
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);
    tvq::SetThreadCount(0);
    QVERIFY(calls->load() > 0);
    QCOMPARE(strangers->load(), 0);
    QVERIFY(window.Picture() == expected);
  }

  void runnerReportsExceptions_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("expected");
    QTest::newRow("library") << 0 << "Test command failed: ";
    QTest::newRow("memory") << 1 << "Test command failed: there is not enough memory";
    QTest::newRow("standard") << 2 << "Test command failed: bad argument";
  }
  void runnerReportsExceptions() {
    QFETCH(int, kind);
    QFETCH(QString, expected);
    TestWindow window;
    window.show();
    const Bitmap before = window.Picture();
    QString title, text;
    ModalDriver driver;
    driver.ThenMessage(&title, &text);
    QSignalSpy finished(&window, &tvq::MainWindow::CommandFinished);
    window.RunCommand(
        "Test command",
        [kind](Progress& progress) -> Bitmap {
          progress.ShowProgress("Failing", 1, 2);
          tvq::TImageF frame(5, 5);
          progress.ShowIterate(frame);
          if (kind == 0) throw tvq::EZorException(tvq::ecFormatMismatch, "broken test picture");
          if (kind == 1) throw std::bad_alloc();
          throw std::invalid_argument("bad argument");
        },
        true);
    QTRY_VERIFY(driver.Done());
    QCOMPARE(finished.size(), 1);
    QCOMPARE(title, QString("Error"));
    QVERIFY2(text.startsWith(expected), qPrintable(text));
    if (kind == 0) QVERIFY(text.contains("broken test picture"));
    QVERIFY(window.Picture() == before);
    QCOMPARE(window.View()->Image().size(), QSize(64, 64));
    QVERIFY(!window.ProgressPanel()->isVisible());
    QVERIFY(!window.CommandRunning());
    QVERIFY(window.Action("Open1")->isEnabled());
  }

  // Each exception type in the one place that words failures: where it happened decides
  // the caption and whether the command's name comes first; a stop shows no box.
  void failuresAreWordedByPlace_data() {
    QTest::addColumn<std::exception_ptr>("error");
    QTest::addColumn<bool>("inSettings");
    QTest::addColumn<QString>("fileCaption");
    QTest::addColumn<QString>("text");  // empty: no message box
    QTest::addColumn<QString>("caption");
    const auto file = std::make_exception_ptr(tvq::FileError("a.png: damaged"));
    const auto setting = std::make_exception_ptr(tvq::SettingError("Factor: bad"));
    QTest::newRow("stop") << std::make_exception_ptr(tvq::OperationStopped()) << false << ""
                          << ""
                          << "";
    QTest::newRow("parse") << std::make_exception_ptr(tvq::ParseFloatError("x")) << true << ""
                           << "Error parsing float number"
                           << "Error";
    QTest::newRow("file, opening") << file << false << "Open"
                                   << "a.png: damaged"
                                   << "Open";
    QTest::newRow("file, command") << file << false << ""
                                   << "Cmd failed: a.png: damaged"
                                   << "Error";
    QTest::newRow("setting, dialog") << setting << true << ""
                                     << "Factor: bad"
                                     << "Error";
    QTest::newRow("setting, command") << setting << false << ""
                                      << "Cmd failed: Factor: bad"
                                      << "Error";
    QTest::newRow("memory") << std::make_exception_ptr(std::bad_alloc()) << false << ""
                            << "Cmd failed: there is not enough memory for this picture."
                            << "Error";
    QTest::newRow("other") << std::make_exception_ptr(42) << false << ""
                           << "Cmd failed for an unknown reason."
                           << "Error";
  }
  void failuresAreWordedByPlace() {
    QFETCH(std::exception_ptr, error);
    QFETCH(bool, inSettings);
    QFETCH(QString, fileCaption);
    QFETCH(QString, text);
    QFETCH(QString, caption);
    const auto message = tvq::FailureMessageOf(
        error, inSettings ? tvq::FailurePlace::Settings() : tvq::FailurePlace("Cmd", fileCaption));
    QCOMPARE(message.has_value(), !text.isEmpty());
    if (!message) return;
    QCOMPARE(message->text, text);
    QCOMPARE(message->caption, caption);
  }

  void closingStopsTheRunFirst() {
    TestWindow window;
    window.show();
    LoopingJob job;
    window.RunCommand("Test command", job, false);
    QTRY_COMPARE(window.Status(), QString("Testing"));
    window.close();
    QTRY_VERIFY(!window.CommandRunning());
    QVERIFY(job.sawStop->load());
    QTRY_VERIFY(!window.isVisible());
  }

  // ------------------------------------------------------------ dialogs in turn

  void cancelInFirstDialogChangesNothing() {
    TestWindow window;
    window.show();
    const Bitmap before = window.Picture();
    for (const char* entry : {"Re1", "Deringing1", "MaskedDeringing1", "ResamplingDeringing1",
                              "ResamplingMaskedDeringing1", "EgdeMask1"}) {
      QVERIFY2(window.Action(entry)->isEnabled(), entry);
      QString seen;
      ModalDriver driver;
      driver.Then([&](QWidget* d) {
        seen = d->objectName();
        Press(d, "CancelButton");
      });
      window.Action(entry)->trigger();
      QVERIFY(driver.Done());
      QVERIFY2(seen.startsWith("TForm"), entry);
      QVERIFY(!window.CommandRunning());
      QVERIFY(window.ProgressPanel()->isHidden());
      QVERIFY(window.Picture() == before);
    }
  }

  void cancelInLaterDialogChangesNothing() {
    TestWindow window;
    window.show();
    const Bitmap before = window.Picture();
    QStringList seen;
    ModalDriver driver;
    driver
        .Then([&](QWidget* d) {
          seen << d->objectName();
          Press(d, "OKButton");
        })
        .Then([&](QWidget* d) {
          seen << d->objectName();
          Press(d, "OKButton");
        })
        .Then([&](QWidget* d) {
          seen << d->objectName();
          Press(d, "CancelButton");
        });
    window.Action("ResamplingMaskedDeringing1")->trigger();
    QVERIFY(driver.Done());
    QCOMPARE(seen, QStringList({"TForm3", "TForm4", "TForm5"}));
    QVERIFY(window.DeringingFlag());
    QVERIFY(window.MaskFlag());
    QVERIFY(!window.CommandRunning());
    QVERIFY(window.Picture() == before);

    // "Resampling" afterwards asks only for the resampling settings.
    seen.clear();
    driver.Then([&](QWidget* d) {
      seen << d->objectName();
      Press(d, "CancelButton");
    });
    window.Action("Re1")->trigger();
    QCOMPARE(seen, QStringList({"TForm3"}));
    QVERIFY(!window.DeringingFlag());
    QVERIFY(!window.MaskFlag());
  }

  void maskedDeringingAsksForMaskSettings() {
    TestWindow window;
    window.show();
    QStringList seen;
    ModalDriver driver;
    driver
        .Then([&](QWidget* d) {
          seen << d->objectName();
          Press(d, "OKButton");
        })
        .Then([&](QWidget* d) {
          seen << d->objectName();
          Press(d, "CancelButton");
        });
    window.Action("MaskedDeringing1")->trigger();
    QCOMPARE(seen, QStringList({"TForm4", "TForm5"}));
    QVERIFY(window.MaskFlag());
    QVERIFY(!window.CommandRunning());
  }

  void parseFailureShowsMessageAndChangesNothing_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("badDialog");  // which dialog in turn gets the bad number
    QTest::addColumn<QString>("edit");
    QTest::newRow("resampling") << "Re1" << 0 << "Edit17";
    QTest::newRow("deringing") << "Deringing1" << 0 << "Edit24";
    QTest::newRow("resampling + deringing") << "ResamplingDeringing1" << 1 << "Edit24";
    QTest::newRow("masked deringing") << "MaskedDeringing1" << 1 << "Edit8";
    QTest::newRow("edge mask") << "EgdeMask1" << 0 << "Edit1";
  }
  void parseFailureShowsMessageAndChangesNothing() {
    QFETCH(QString, entry);
    QFETCH(int, badDialog);
    QFETCH(QString, edit);
    TestWindow window;
    window.show();
    const Bitmap before = window.Picture();
    QString title, text, caption, kept;
    bool selected = false;
    ModalDriver driver;
    for (int i = 0; i < badDialog; ++i) driver.Then([](QWidget* d) { Press(d, "OKButton"); });
    driver
        .Then([&](QWidget* d) {
          QLineEdit* line = d->findChild<QLineEdit*>(edit);
          QVERIFY(line);
          caption = line->accessibleName();
          line->setText("1.2.3");
          // Pressed once this handler has returned: the message box it brings is
          // the driver's next modal widget.
          QTimer::singleShot(0, d, [d] { Press(d, "OKButton"); });
        })
        .ThenMessage(&title, &text)
        // The dialog is still there, the text as typed and selected to be typed over.
        .Then([&](QWidget* d) {
          QLineEdit* line = d->findChild<QLineEdit*>(edit);
          kept = line->text();
          selected = d->focusWidget() == line && line->selectedText() == "1.2.3";
          Press(d, "CancelButton");
        });
    window.Action(entry.toLatin1().constData())->trigger();
    QVERIFY(driver.Done());
    QCOMPARE(text, caption + ": \"1.2.3\" is not a number.");
    QCOMPARE(title, QString("Error"));
    QCOMPARE(kept, QString("1.2.3"));
    QVERIFY(selected);
    QVERIFY(!window.CommandRunning());
    QVERIFY(window.ProgressPanel()->isHidden());
    QVERIFY(window.Picture() == before);
  }

  void invalidParametersAreReportedAtOnce() {
    TestWindow window;
    window.show();
    const Bitmap before = window.Picture();
    QString title, text;
    QWidget* focused = nullptr;
    ModalDriver driver;
    driver
        .Then([&](QWidget* d) {
          d->findChild<QLineEdit*>("Edit17")->setText("0");  // the factor must be positive
          QTimer::singleShot(0, d, [d] { Press(d, "OKButton"); });
        })
        .ThenMessage(&title, &text)
        .Then([&](QWidget* d) {
          focused = d->focusWidget() == d->findChild<QLineEdit*>("Edit17") ? d : nullptr;
          Press(d, "CancelButton");
        });
    // Reported while its dialog is open, on the field, before the deringing dialog.
    window.Action("ResamplingDeringing1")->trigger();
    QVERIFY(driver.Done());
    QVERIFY(focused);
    QCOMPARE(title, QString("Error"));
    QVERIFY2(text.startsWith("Factor: 0 is too small"), qPrintable(text));
    QVERIFY(!window.CommandRunning());
    QVERIFY(window.Picture() == before);
  }

  // ------------------------------------------------------------ pipelines end to end

  void resamplingDoublesThePicture() {
    TestWindow window;
    window.show();
    window.SetPicture(tvq::test::GradientPicture(12, 10));
    QSignalSpy finished(&window, &tvq::MainWindow::CommandFinished);
    ModalDriver driver;
    driver.Then([&](QWidget* d) {
      d->findChild<QSpinBox*>("UpDown1")->setValue(3);
      Press(d, "OKButton");
    });
    window.Action("Re1")->trigger();
    QVERIFY(driver.Done());
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);
    QCOMPARE(window.Picture().Width(), 24);
    QCOMPARE(window.Picture().Height(), 20);
    QCOMPARE(window.Picture().BitsPerPixel(), 32);
    QVERIFY(window.ProgressPanel()->isHidden());
  }

  // The Conditional mode with a tiny factor grows the step until the estimate is no
  // longer finite: a box says so and the picture stays.
  void divergedResamplingKeepsThePicture() {
    TestWindow window;
    window.show();
    window.SetPicture(tvq::test::GradientPicture(12, 10));
    const Bitmap before = window.Picture();
    QSignalSpy finished(&window, &tvq::MainWindow::CommandFinished);
    QString title, text;
    ModalDriver driver;
    driver
        .Then([&](QWidget* d) {
          d->findChild<QRadioButton*>("RadioButton3")->setChecked(true);  // Conditional
          d->findChild<QLineEdit*>("Edit17")->setText("1e-10");
          Press(d, "OKButton");
        })
        .ThenMessage(&title, &text);
    window.Action("Re1")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(driver.Done(), 60000);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(title, QString("Error"));
    QCOMPARE(text, QString("Resampling failed: the solver diverged (its result is not finite); "
                           "lower \"Initial step\", \"Maximum\" or \"BTV base\", or raise "
                           "\"Factor\""));
    QVERIFY(window.Picture() == before);
  }

  void resamplingShowsIteratesAndStops() {
    TestWindow window;
    window.show();
    window.SetPicture(tvq::test::GradientPicture(240, 180));
    QSignalSpy finished(&window, &tvq::MainWindow::CommandFinished);
    ModalDriver driver;
    driver.Then([&](QWidget* d) {
      d->findChild<QSpinBox*>("UpDown1")->setValue(200);
      Press(d, "OKButton");
    });
    window.Action("Re1")->trigger();
    QVERIFY(driver.Done());
    QTRY_VERIFY_WITH_TIMEOUT(window.Status().startsWith("Iterations ["), 30000);
    // The grey iterate at the new size, while the picture itself is unchanged.
    QTRY_COMPARE(window.View()->Image().format(), QImage::Format_Grayscale8);
    QCOMPARE(window.View()->Image().size(), QSize(480, 360));
    QCOMPARE(window.Picture().Width(), 240);
    window.findChild<QPushButton*>("StopButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);
    // Stopped early, the run still delivers its colour result.
    QCOMPARE(window.Picture().Width(), 480);
    QCOMPARE(window.Picture().Height(), 360);
    QCOMPARE(window.Picture().BitsPerPixel(), 32);
    QVERIFY(window.View()->Image().format() != QImage::Format_Grayscale8);
  }

  void deringingStops() {
    TestWindow window;
    window.show();
    window.SetPicture(tvq::test::GradientPicture(200, 150));
    QSignalSpy finished(&window, &tvq::MainWindow::CommandFinished);
    ModalDriver driver;
    driver.Then([&](QWidget* d) {
      d->findChild<QComboBox*>("ComboBox1")->setCurrentIndex(0);  // "Global, modified"
      d->findChild<QSpinBox*>("UpDown2")->setValue(32767);
      Press(d, "OKButton");
    });
    window.Action("Deringing1")->trigger();
    QVERIFY(driver.Done());
    QTRY_VERIFY_WITH_TIMEOUT(window.Status() == "Deringing" || finished.size() == 1, 30000);
    window.findChild<QPushButton*>("StopButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);
    QCOMPARE(window.Picture().Width(), 200);
    QCOMPARE(window.Picture().BitsPerPixel(), 32);
  }

  void simplestDeringingKeepsThePicture() {
    TestWindow window;
    window.show();
    const Bitmap original = tvq::test::GradientPicture(20, 14);
    window.SetPicture(original);
    QSignalSpy finished(&window, &tvq::MainWindow::CommandFinished);
    ModalDriver driver;
    driver.Then([&](QWidget* d) {
      d->findChild<QComboBox*>("ComboBox1")->setCurrentIndex(14);  // "Local, simpliest"
      Press(d, "OKButton");
    });
    window.Action("Deringing1")->trigger();
    QVERIFY(driver.Done());
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);
    const Bitmap& result = window.Picture();
    QCOMPARE(result.BitsPerPixel(), 32);
    for (int y = 0; y < 14; ++y)
      for (int x = 0; x < 20; ++x)
        for (int c = 0; c < 3; ++c)
          QVERIFY(qAbs(int(result.ScanLine(y)[4 * x + c]) - int(original.ScanLine(y)[3 * x + c])) <=
                  1);
  }

  void deringingKeepsTheSize() {
    TestWindow window;
    window.show();
    window.SetPicture(tvq::test::GradientPicture(16, 12));
    QSignalSpy finished(&window, &tvq::MainWindow::CommandFinished);
    ModalDriver driver;
    driver.Then([&](QWidget* d) { Press(d, "OKButton"); }).Then([&](QWidget* d) {
      Press(d, "OKButton");
    });
    window.Action("MaskedDeringing1")->trigger();
    QVERIFY(driver.Done());
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);
    QCOMPARE(window.Picture().Width(), 16);
    QCOMPARE(window.Picture().Height(), 12);
    QCOMPARE(window.Picture().BitsPerPixel(), 32);
  }

  void edgeMaskShowsGreyMask() {
    TestWindow window;
    window.show();
    QSignalSpy finished(&window, &tvq::MainWindow::CommandFinished);
    ModalDriver driver;
    driver.Then([&](QWidget* d) { Press(d, "OKButton"); });
    window.Action("EgdeMask1")->trigger();
    QVERIFY(driver.Done());
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);
    QCOMPARE(window.Picture().Width(), 64);
    QCOMPARE(window.Picture().BitsPerPixel(), 32);
    QVERIFY(window.ProgressPanel()->isHidden());
  }
};

QTEST_MAIN(CommandsTest)
#include "commands_test.moc"
