// The tools around the commands: the output size of the resampling and resize dialogs
// (the same pixels as the command-line tool), Process Folder, and Compare with Stored
// Image.
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "app/folderdialog.h"
#include "app/settingsdialogs.h"
#include "app/sizegroup.h"
#include "commands/filepicture.h"
#include "commands/registry.h"
#include "common/pictures.h"
#include "common/progress.h"
#include "imaging/io/picture.h"
#include "modaldriver.h"
#include "testwindow.h"

using tvq::test::ModalDriver;
using tvq::test::TestWindow;

namespace {

// A colour picture with detail in every pixel.
tvq::Picture Detailed(int width, int height) {
  return tvq::test::MakePicture(width, height, 3, 8, [](int x, int y, int c) {
    return float((x * 37 + y * 23 + c * 71 + x * y * 5) % 256);
  });
}

// What the command-line tool makes of the file at `path` with these settings: the
// registry's work on the file's picture.
tvq::Picture ToolResult(const std::string& command, const tvq::SettingInputs& settings,
                        const std::string& path) {
  const tvq::PreparedCommand prepared =
      tvq::FindCommand(command)->prepare(settings, tvq::Spelling::kCallers);
  tvq::test::RecordingProgress progress;
  return prepared.work(tvq::PrepareInput(tvq::ReadPicture(path)), progress);
}

}  // namespace

class ToolsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString Path(const QString& name) const { return dir_.filePath(name); }

 private slots:
  void sizeGroupShowsTheResultAsTyped_data() {
    QTest::addColumn<bool>("enlarging");
    QTest::addColumn<bool>("bySize");
    QTest::addColumn<QString>("scale");
    QTest::addColumn<int>("width");   // typed last when height is 0
    QTest::addColumn<int>("height");  // typed last when not 0
    QTest::addColumn<bool>("keepAspect");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QSize>("sides");  // the width and height boxes afterwards
    QTest::newRow("scale 3") << true << false << "3" << 0 << 0 << true << "Result: 300 x 150 pixels"
                             << QSize(300, 150);
    QTest::newRow("scale 2.5 rounds half away") << true << false << "2.5" << 0 << 0 << true
                                                << "Result: 250 x 125 pixels" << QSize(250, 125);
    QTest::newRow("width, aspect kept")
        << true << true << "2" << 333 << 0 << true << "Result: 333 x 167 pixels" << QSize(333, 167);
    QTest::newRow("height, aspect kept")
        << true << true << "2" << 0 << 120 << true << "Result: 240 x 120 pixels" << QSize(240, 120);
    QTest::newRow("both sides exactly")
        << false << true << "2" << 40 << 90 << false << "Result: 40 x 90 pixels" << QSize(40, 90);
    QTest::newRow("resize reduces")
        << false << false << "0.5" << 0 << 0 << true << "Result: 50 x 25 pixels" << QSize(50, 25);
    QTest::newRow("enlarging refuses a reduction")
        << true << false << "0.5" << 0 << 0 << true << "" << QSize(200, 100);
    // The sides keep the size the last number typed made ("3").
    QTest::newRow("not a number") << true << false << "3x" << 0 << 0 << true << ""
                                  << QSize(300, 150);
  }

  void sizeGroupShowsTheResultAsTyped() {
    QFETCH(bool, enlarging);
    QFETCH(bool, bySize);
    QFETCH(QString, scale);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, keepAspect);
    QFETCH(QString, result);
    QFETCH(QSize, sides);
    tvq::OutputSizeGroup group(enlarging);
    group.SetInputSize(100, 50);
    auto* line = group.findChild<QLabel*>("SizeResult");
    QCOMPARE(line->text(), QString("Result: 200 x 100 pixels"));
    group.findChild<QRadioButton*>(bySize ? "SizeBySize" : "SizeByScale")->setChecked(true);
    group.findChild<QCheckBox*>("SizeKeepAspect")->setChecked(keepAspect);
    // Typed keys, as a user types them.
    group.ScaleEdit()->selectAll();
    QTest::keyClicks(group.ScaleEdit(), scale);
    if (width) group.WidthBox()->setValue(width);
    if (height) group.HeightBox()->setValue(height);
    if (result.isEmpty()) {
      QVERIFY2(!line->text().startsWith("Result"), qPrintable(line->text()));
      QVERIFY(!line->text().isEmpty());
      QVERIFY_THROWS_EXCEPTION(std::exception, group.Read());
    } else {
      QCOMPARE(line->text(), result);
      const std::optional<tvq::OutputSizeParams> read = group.Read();
      // Twice the size by scale is the commands' own size: no size is asked for.
      QCOMPARE(read.has_value(), !enlarging || bySize || scale != "2");
    }
    QCOMPARE(QSize(group.WidthBox()->value(), group.HeightBox()->value()), sides);
    // By scale, the sides only show the size; by size, the scale is not read.
    QCOMPARE(group.WidthBox()->isEnabled(), bySize);
    QCOMPARE(group.ScaleEdit()->isEnabled(), !bySize);
  }

  void sizeGroupIsLabelledAndInLayoutOrder() {
    tvq::ResamplingSettingsDialog dialog;
    auto* group = dialog.findChild<tvq::OutputSizeGroup*>();
    QVERIFY(group);
    QStringList keys;
    for (QWidget* field : std::initializer_list<QWidget*>{group->ScaleEdit(), group->WidthBox(),
                                                          group->HeightBox()}) {
      QLabel* label = nullptr;
      for (QLabel* l : dialog.findChildren<QLabel*>())
        if (l->buddy() == field) label = l;
      QVERIFY2(label, qPrintable(field->objectName()));
      QVERIFY(!field->accessibleName().isEmpty());
      keys << label->text().mid(label->text().indexOf('&') + 1, 1).toLower();
    }
    keys
        << group->findChild<QCheckBox*>("SizeKeepAspect")->text().section('&', 1).left(1).toLower();
    QCOMPARE(keys, QStringList({"s", "w", "h", "k"}));
    // Tab goes from the dialog's last check box into the group (to its checked radio
    // button only) and on to the buttons.
    QList<QWidget*> chain;
    for (QWidget* w = dialog.findChild<QCheckBox*>("CheckBox4")->nextInFocusChain();
         w != dialog.findChild<QPushButton*>("OKButton"); w = w->nextInFocusChain())
      if (w->focusPolicy() & Qt::TabFocus) chain << w;
    const QList<QWidget*> expected{group->findChild<QRadioButton*>("SizeByScale"),
                                   group->ScaleEdit(), group->WidthBox(), group->HeightBox(),
                                   group->findChild<QCheckBox*>("SizeKeepAspect")};
    for (int i = 0, at = -1; i < expected.size(); ++i) {
      const int next = chain.indexOf(expected[i]);
      QVERIFY2(next > at, qPrintable(expected[i]->objectName()));
      at = next;
    }
  }

  // The application and the command-line tool give the same pixels at three times.
  void threeTimesAsTheTool_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("command");
    QTest::newRow("Resampling") << "Re1"
                                << "resample";
    QTest::newRow("Resize") << "Resize1"
                            << "resize";
  }

  void threeTimesAsTheTool() {
    QFETCH(QString, action);
    QFETCH(QString, command);
    const QString path = Path("detail.png");
    tvq::WritePicture(Detailed(23, 17), path.toStdString());
    TestWindow window;
    QVERIFY(window.OpenFile(path));
    ModalDriver driver;
    driver.Then([](QWidget* w) {
      auto* scale = w->findChild<QLineEdit*>("SizeScaleEdit");
      QVERIFY(scale);
      scale->setText("3");
      qobject_cast<QDialog*>(w)->accept();
    });
    QVERIFY(window.Run(qPrintable(action)));
    QVERIFY(driver.Done());
    QCOMPARE(window.Picture().Width(), 69);
    QCOMPARE(window.Picture().Height(), 51);
    // Both as written to a file: the tool's result through WritePicture as the tool
    // writes it, the application's through Save As.
    tvq::WritePicture(ToolResult(command.toStdString(), {{"scale", 3.0}}, path.toStdString()),
                      Path("tool.png").toStdString());
    QVERIFY(window.SaveFile(Path("app.png")));
    const tvq::Picture tool = tvq::ReadPicture(Path("tool.png").toStdString());
    const tvq::Picture shown = tvq::ReadPicture(Path("app.png").toStdString());
    QCOMPARE(shown.channels, tool.channels);
    QVERIFY(shown.samples == tool.samples);
  }

  // A folder through Resize at three times: each picture as the tool makes it, in its
  // place below the output folder; a file that does not read fails alone and is listed;
  // a second run with "Skip files whose result exists" skips the results made.
  void processFolderRunsEachFileAsTheTool() {
    QDir(dir_.path()).mkpath("in/sub");
    tvq::WritePicture(Detailed(9, 7), Path("in/a.png").toStdString());
    tvq::WritePicture(Detailed(6, 11), Path("in/sub/b.png").toStdString());
    QFile bad(Path("in/bad.png"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("not a picture");
    bad.close();
    TestWindow window;
    const tvq::Bitmap before = window.Picture();
    for (const bool skip : {false, true}) {
      QString summary, failures;
      ModalDriver driver;
      driver
          .Then([this, skip](QWidget* w) {
            QCOMPARE(w->objectName(), QString("ProcessFolderDialog"));
            w->findChild<QLineEdit*>("InputFolder")->setText(Path("in"));
            w->findChild<QLineEdit*>("OutputFolder")->setText(Path("out"));
            w->findChild<QComboBox*>("FolderCommand")->setCurrentText("Resize");
            w->findChild<QCheckBox*>("SkipExisting")->setChecked(skip);
            qobject_cast<QDialog*>(w)->accept();
          })
          .Then([](QWidget* w) {
            QCOMPARE(w->objectName(), QString("ResizeDialog"));
            // No displayed picture is sized for a folder.
            QVERIFY(w->findChild<QLabel*>("SizeResult")->text().isEmpty());
            w->findChild<QLineEdit*>("SizeScaleEdit")->setText("3");
            qobject_cast<QDialog*>(w)->accept();
          })
          .Then([&summary, &failures](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            summary = box->text();
            failures = box->informativeText();
            box->accept();
          });
      QVERIFY(window.Run("ProcessFolder1"));
      QVERIFY(driver.Done());
      QCOMPARE(summary, skip ? QString("0 done, 1 failed, 2 skipped.")
                             : QString("2 done, 1 failed, 0 skipped."));
      QVERIFY2(failures.startsWith("Failed:\n" + Path("in/bad.png") + ": "), qPrintable(failures));
      QVERIFY2(window.CommandStatus()->text().contains(summary.chopped(1)),
               qPrintable(window.CommandStatus()->text()));
    }
    // The displayed picture is not touched.
    QVERIFY(window.Picture().Width() == before.Width() && !window.HasUnsavedChanges());
    for (const char* name : {"a.png", "sub/b.png"}) {
      const std::string in = Path(QString("in/") + name).toStdString();
      tvq::WritePicture(ToolResult("resize", {{"scale", 3.0}}, in), Path("tool.png").toStdString());
      const tvq::Picture tool = tvq::ReadPicture(Path("tool.png").toStdString());
      const tvq::Picture made = tvq::ReadPicture(Path(QString("out/") + name).toStdString());
      QCOMPARE(made.width, tool.width);
      QVERIFY2(made.samples == tool.samples, name);
    }
    QVERIFY(!QFile::exists(Path("out/bad.png")));
  }

  // The settings the dialogs give reach the registry as the tool's defaults do.
  void processFolderCommandsAsTheTool_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("dialogs");  // settings dialogs after the folder's
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("switches");
    QTest::newRow("resampling") << "Resampling" << 1 << "resample" << QStringList();
    QTest::newRow("resampling, masked deringing")
        << "Resampling + Masked Deringing" << 3 << "resample" << QStringList({"dering", "mask"});
    QTest::newRow("deringing") << "Deringing" << 1 << "dering" << QStringList();
    QTest::newRow("masked deringing")
        << "Masked Deringing" << 2 << "dering" << QStringList({"mask"});
  }

  void processFolderCommandsAsTheTool() {
    QFETCH(QString, caption);
    QFETCH(int, dialogs);
    QFETCH(QString, command);
    QFETCH(QStringList, switches);
    QDir(Path("cmd")).removeRecursively();
    QDir(dir_.path()).mkpath("cmd/in");
    const std::string in = Path("cmd/in/c.png").toStdString();
    tvq::WritePicture(Detailed(14, 12), in);
    TestWindow window;
    ModalDriver driver;
    driver.Then([this, caption](QWidget* w) {
      w->findChild<QLineEdit*>("InputFolder")->setText(Path("cmd/in"));
      w->findChild<QLineEdit*>("OutputFolder")->setText(Path("cmd/out"));
      w->findChild<QComboBox*>("FolderCommand")->setCurrentText(caption);
      w->findChild<QComboBox*>("FolderFormat")->setCurrentText(".png");
      qobject_cast<QDialog*>(w)->accept();
    });
    for (int i = 0; i < dialogs; ++i)
      driver.Then([](QWidget* w) { qobject_cast<QDialog*>(w)->accept(); });
    QString summary;
    driver.ThenMessage(nullptr, &summary);
    QVERIFY(window.Run("ProcessFolder1"));
    QVERIFY(driver.Done());
    QCOMPARE(summary, QString("1 done, 0 failed, 0 skipped."));
    tvq::SettingInputs settings;
    for (const QString& name : switches) settings[name.toStdString()] = true;
    tvq::WritePicture(ToolResult(command.toStdString(), settings, in),
                      Path("cmd/tool.png").toStdString());
    QVERIFY(tvq::ReadPicture(Path("cmd/out/c.png").toStdString()).samples ==
            tvq::ReadPicture(Path("cmd/tool.png").toStdString()).samples);
  }

  // The dialog refuses what cannot run, naming the field, and stays open.
  void processFolderDialogRefusesMissingFolders_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("field");
    QTest::newRow("no folder") << ""
                               << "out"
                               << "InputFolder";
    QTest::newRow("no such folder") << "nowhere"
                                    << "out"
                                    << "InputFolder";
    QTest::newRow("no output") << "."
                               << ""
                               << "OutputFolder";
    QTest::newRow("output is a file") << "."
                                      << "file.txt"
                                      << "OutputFolder";
  }

  void processFolderDialogRefusesMissingFolders() {
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(QString, field);
    QFile file(Path("file.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    tvq::ProcessFolderDialog dialog;
    const auto at = [this](const QString& name) { return name.isEmpty() ? name : Path(name); };
    dialog.findChild<QLineEdit*>("InputFolder")->setText(at(input));
    dialog.findChild<QLineEdit*>("OutputFolder")->setText(at(output));
    try {
      dialog.Read();
      QFAIL("read");
    } catch (const tvq::FieldError& e) {
      QCOMPARE(e.Field()->objectName(), field);
    }
  }

  // Every measure of the displayed picture against Store image 1, as the tool measures
  // the two files; Copy puts the report on the clipboard; the difference map becomes
  // the picture, and Undo takes it back.
  void compareWithStoredImage_data() {
    QTest::addColumn<QString>("change");  // the action run after storing; empty: none
    QTest::addColumn<QString>("psnr");    // empty: as the tool measures the files
    QTest::newRow("identical") << ""
                               << "inf";
    QTest::newRow("greyscale") << "Greyscale1"
                               << "";
    QTest::newRow("noise") << "AddNoise1"
                           << "";
  }

  void compareWithStoredImage() {
    QFETCH(QString, change);
    QFETCH(QString, psnr);
    const QString path = Path("reference.png");
    tvq::WritePicture(Detailed(24, 20), path.toStdString());
    TestWindow window;
    QVERIFY(window.OpenFile(path));
    QVERIFY(window.Run("StoreForComparison1"));
    if (!change.isEmpty()) QVERIFY(window.Run(qPrintable(change)));
    QVERIFY(window.SaveFile(Path("test.png")));
    if (psnr.isEmpty()) {
      const auto colour = [](const QString& file) {
        tvq::TImageF4 image;
        tvq::PrepareInput(tvq::ReadPicture(file.toStdString())).Source().Read(tvq::ifF4, image);
        return image;
      };
      const tvq::ComparedPictures tool =
          tvq::ComparePictures(colour(path), colour(Path("test.png")), 0, false, "a", "b");
      QVERIFY(std::isfinite(tool.metrics.rgb.psnr));
      psnr = QString::number(tool.metrics.rgb.psnr, 'f', 4);
    }
    QString report;
    ModalDriver driver;
    driver.Then([&report](QWidget* w) {
      QCOMPARE(w->objectName(), QString("CompareDialog"));
      report = w->findChild<QPlainTextEdit*>("CompareReport")->toPlainText();
      w->findChild<QPushButton*>("CopyButton")->click();
      w->findChild<QPushButton*>("DifferenceMapButton")->click();
    });
    QVERIFY(window.Run("ComparewithStored1"));
    QVERIFY(driver.Done());
    QVERIFY2(report.contains("PSNR RGB       " + psnr + " dB"), qPrintable(report));
    for (const char* measure :
         {"PSNR Y ", "SSIM Y ", "MS-SSIM Y ", "GMSD Y ", "Edge PSNR Y ", "Edge overshoot "})
      QVERIFY2(report.contains(measure), measure);
    QCOMPARE(QApplication::clipboard()->text(), report);
    // The map: one colour (viridis at 0) for identical pictures, more otherwise.
    QCOMPARE(window.Picture().Width(), 24);
    QSet<std::uint32_t> colours;
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 24; ++x) {
        const std::uint8_t* p = window.Picture().ScanLine(y) + 3 * x;
        colours.insert(p[0] | p[1] << 8 | p[2] << 16);
      }
    QCOMPARE(colours.size() == 1, change.isEmpty());
    QVERIFY(window.UndoChange());
    QVERIFY(window.SaveFile(Path("undone.png")));
    QVERIFY(tvq::ReadPicture(Path("undone.png").toStdString()).samples ==
            tvq::ReadPicture(Path("test.png").toStdString()).samples);
  }

  void compareWithoutStoredImageSaysSo() {
    TestWindow window;
    QString title, text;
    ModalDriver driver;
    driver.ThenMessage(&title, &text);
    QVERIFY(window.Run("ComparewithStored1"));
    QCOMPARE(title, QString("Compare with Stored Image"));
    QVERIFY2(text.startsWith("Store a picture first"), qPrintable(text));
  }
};

QTEST_MAIN(ToolsTest)
#include "tools_test.moc"
