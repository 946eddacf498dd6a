// The tools around the commands: the output size of the resampling and resize dialogs
// (the same pixels as the command-line tool), Process Folder, and Compare with Stored
// Image.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

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
};

QTEST_MAIN(ToolsTest)
#include "tools_test.moc"
