// The settings dialogs: controls, defaults, ranges, enabling rules and reading.
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <memory>

#include "app/parsefloat.h"
#include "app/settingsdialogs.h"

using namespace tvq;

namespace {

template <typename T>
T* Get(QWidget* dialog, const char* name) {
  T* w = dialog->findChild<T*>(name);
  if (!w) qFatal("no control %s", name);
  return w;
}

QLineEdit* Edit(QWidget* d, const char* name) {
  return Get<QLineEdit>(d, name);
}
QSpinBox* UpDown(QWidget* d, const char* name) {
  return Get<QSpinBox>(d, name);
}

// The label whose buddy is w.
QLabel* LabelOf(QWidget* dialog, QWidget* w) {
  for (QLabel* label : dialog->findChildren<QLabel*>())
    if (label->buddy() == w) return label;
  return nullptr;
}

QStringList Items(QGroupBox* group) {
  QStringList items;
  for (QRadioButton* b : group->findChildren<QRadioButton*>()) items << b->text();
  return items;
}

int CheckedItem(QGroupBox* group) {
  const auto buttons = group->findChildren<QRadioButton*>();
  for (int i = 0; i < buttons.size(); ++i)
    if (buttons[i]->isChecked()) return i;
  return -1;
}

// Every visible edit and spin box has a label as buddy and an accessible name.
void CheckLabelled(QWidget* dialog) {
  for (QWidget* w : dialog->findChildren<QWidget*>()) {
    if (!qobject_cast<QLineEdit*>(w) && !qobject_cast<QSpinBox*>(w) && !qobject_cast<QComboBox*>(w))
      continue;
    if (qobject_cast<QSpinBox*>(w->parentWidget())) continue;  // the spin box's own line
    if (w->isHidden()) continue;
    QVERIFY2(LabelOf(dialog, w), qPrintable(w->objectName()));
    QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
  }
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void resamplingDefaults() {
    ResamplingSettingsDialog d;
    QCOMPARE(d.objectName(), QString("TForm3"));
    QCOMPARE(d.windowTitle(), QString("Resampling Settings"));
    QVERIFY(!(d.windowFlags() & Qt::WindowCloseButtonHint));

    auto* stabilizer = Get<QGroupBox>(&d, "RadioGroup1");
    QCOMPARE(stabilizer->title(), QString("Stabilizer"));
    QCOMPARE(
        Items(stabilizer),
        QStringList({"Laplas (norm 2)", "Total Variation (norm 1)", "Bilateral TV 3x3 (norm 1)",
                     "Bilateral TV 5x5 (norm 1)", "Bilateral TV 3x3 (mixed)"}));
    QCOMPARE(CheckedItem(stabilizer), 2);
    auto* initial = Get<QGroupBox>(&d, "RadioGroup2");
    QCOMPARE(initial->title(), QString("Initial approximation"));
    QCOMPARE(Items(initial), QStringList({"Black image", "Bilinear", "Gradient", "NEDI 4px",
                                          "Lanczos3 (ringing)"}));
    QCOMPARE(CheckedItem(initial), 2);

    QCOMPARE(Get<QRadioButton>(&d, "RadioButton1")->text(), QString("Fixed steps"));
    QCOMPARE(Get<QRadioButton>(&d, "RadioButton2")->text(), QString("Exponential"));
    QCOMPARE(Get<QRadioButton>(&d, "RadioButton3")->text(), QString("Conditional"));
    QVERIFY(!Get<QRadioButton>(&d, "RadioButton1")->isChecked());
    QVERIFY(Get<QRadioButton>(&d, "RadioButton2")->isChecked());
    QVERIFY(Get<QRadioButton>(&d, "RadioButton2")->font().bold());
    QVERIFY(!Get<QRadioButton>(&d, "RadioButton3")->isChecked());

    struct Field {
      const char* name;
      const char* label;
      const char* text;
      bool enabled;
    };
    const Field fields[] = {
        {"Edit16", "Initial step", "5.0", true}, {"Edit17", "Factor", "0.875", true},
        {"Edit14", "Maximum:", "0.05", true},    {"Edit20", "MinFactor:", "1.0", false},
        {"Edit21", "ThreshMin:", "5", false},    {"Edit22", "ThreshMax:", "15", false},
        {"Edit12", "BTV base", "0.8", true},     {"Edit13", "Gauss rad:", "1.0", true},
        {"Edit15", "Norm:", "1.0", true},
    };
    for (const Field& f : fields) {
      QLineEdit* edit = Edit(&d, f.name);
      QCOMPARE(edit->text(), QString(f.text));
      QCOMPARE(edit->isEnabled(), f.enabled);
      QLabel* label = LabelOf(&d, edit);
      QVERIFY(label);
      QCOMPARE(label->text(), QString(f.label));
      QCOMPARE(label->isEnabled(), f.enabled);
    }
    QVERIFY(LabelOf(&d, Edit(&d, "Edit14"))->font().bold());
    QCOMPARE(Edit(&d, "Edit14")->toolTip(), QString("Optimal values in 0.01 .. 0.5 range"));
    QCOMPARE(LabelOf(&d, Edit(&d, "Edit14"))->toolTip(),
             QString("Optimal values in 0.01 .. 0.5 range"));

    QSpinBox* iterations = UpDown(&d, "UpDown1");
    QCOMPARE(iterations->minimum(), 0);
    // The edit takes what the solver takes; the up-down stops at 200 (below).
    QCOMPARE(iterations->maximum(), ResampleParams::kMaxIterations);
    QCOMPARE(iterations->value(), 40);
    QCOMPARE(Edit(&d, "Edit18")->text(), QString("40"));
    QCOMPARE(LabelOf(&d, iterations)->text(), QString("Iterations"));

    auto* fractal = Get<QGroupBox>(&d, "GroupBox4");
    QCOMPARE(fractal->title(), QString("Fractal substitution"));
    QVERIFY(fractal->isHidden());
    QCOMPARE(Get<QCheckBox>(&d, "CheckBox1")->text(), QString("Enabled"));
    QVERIFY(!Get<QCheckBox>(&d, "CheckBox1")->isChecked());
    QCOMPARE(Get<QCheckBox>(&d, "CheckBox2")->text(), QString("Show iterated image"));
    QVERIFY(Get<QCheckBox>(&d, "CheckBox2")->isChecked());
    QCOMPARE(Get<QCheckBox>(&d, "CheckBox3")->text(), QString("No regularization"));
    QVERIFY(!Get<QCheckBox>(&d, "CheckBox3")->isChecked());
    QCOMPARE(Get<QCheckBox>(&d, "CheckBox4")->text(), QString("Advanced Features"));
    QVERIFY(!Get<QCheckBox>(&d, "CheckBox4")->isChecked());

    QSpinBox* hidden = UpDown(&d, "UpDown2");
    QCOMPARE(hidden->minimum(), 50);
    QCOMPARE(hidden->maximum(), 32767);
    QCOMPARE(hidden->value(), 200);
    QVERIFY(hidden->isHidden());

    CheckLabelled(&d);

    // Read() of the untouched dialog gives the parameter defaults.
    const ResampleParams read = d.Read();
    const ResampleParams defaults;
    QCOMPARE(read.stabilizer, defaults.stabilizer);
    QCOMPARE(read.initial, defaults.initial);
    QCOMPARE(read.convergence, defaults.convergence);
    QCOMPARE(read.initialStep, defaults.initialStep);
    QCOMPARE(read.factor, defaults.factor);
    QCOMPARE(read.iterations, defaults.iterations);
    QCOMPARE(read.maximum, defaults.maximum);
    QCOMPARE(read.minFactor, defaults.minFactor);
    QCOMPARE(read.threshMin, defaults.threshMin);
    QCOMPARE(read.threshMax, defaults.threshMax);
    QCOMPARE(read.btvBase, defaults.btvBase);
    QCOMPARE(read.gaussRadius, defaults.gaussRadius);
    QCOMPARE(read.norm, defaults.norm);
    QCOMPARE(read.fractalSubstitution, defaults.fractalSubstitution);
    QCOMPARE(read.showIterations, defaults.showIterations);
  }

  void resamplingReadsEveryControl() {
    ResamplingSettingsDialog d;
    Get<QRadioButton>(&d, "RadioGroup1_0")->setChecked(true);
    Get<QRadioButton>(&d, "RadioGroup2_4")->setChecked(true);
    Get<QRadioButton>(&d, "RadioButton3")->setChecked(true);
    Edit(&d, "Edit16")->setText("2,5");
    Edit(&d, "Edit17")->setText("0.5");
    Edit(&d, "Edit14")->setText("0.1");
    Edit(&d, "Edit20")->setText("2");
    Edit(&d, "Edit21")->setText("3");
    Edit(&d, "Edit22")->setText("4");
    Edit(&d, "Edit12")->setText("0.7");
    Edit(&d, "Edit13")->setText("0");
    Edit(&d, "Edit15")->setText("2");
    Get<QCheckBox>(&d, "CheckBox1")->setChecked(true);
    Get<QCheckBox>(&d, "CheckBox2")->setChecked(false);
    UpDown(&d, "UpDown1")->setValue(7);
    const ResampleParams p = d.Read();
    QCOMPARE(p.stabilizer, Stabilizer::kLaplace);
    QCOMPARE(p.initial, InitialApproximation::kLanczos);
    QCOMPARE(p.convergence, ConvergenceMode::kConditional);
    QCOMPARE(p.initialStep, 2.5);
    QCOMPARE(p.factor, 0.5);
    QCOMPARE(p.maximum, 0.1f);
    QCOMPARE(p.minFactor, 2.0f);
    QCOMPARE(p.threshMin, 3.0f);
    QCOMPARE(p.threshMax, 4.0f);
    QCOMPARE(p.btvBase, 0.7);
    QCOMPARE(p.gaussRadius, 0.0);
    QCOMPARE(p.norm, 2.0);
    QCOMPARE(p.iterations, 7);
    QVERIFY(p.fractalSubstitution);
    QVERIFY(!p.showIterations);
  }

  void resamplingIterationTextIsTruncatedAndClamped_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("iterations");
    QTest::newRow("in range") << "12" << 12;
    QTest::newRow("fraction truncated") << "12.9" << 12;
    QTest::newRow("above the up-down") << "500" << 500;
    QTest::newRow("above the solver's bound") << "200000" << ResampleParams::kMaxIterations;
    QTest::newRow("negative") << "-3" << 0;
  }
  void resamplingIterationTextIsTruncatedAndClamped() {
    QFETCH(QString, text);
    QFETCH(int, iterations);
    ResamplingSettingsDialog d;
    // Set directly, past the spin box's own key filter: the text is what is read.
    Edit(&d, "Edit18")->setText(text);
    QCOMPARE(d.Read().iterations, iterations);
  }

  void iterationsAboveTheUpDownRunAsTyped() {
    ResamplingSettingsDialog d;
    d.show();
    QSpinBox* spin = UpDown(&d, "UpDown1");
    spin->setValue(199);
    spin->stepUp();
    spin->stepUp();
    QCOMPARE(spin->value(), 200);
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, "400");
    QTest::keyClick(spin, Qt::Key_Return);
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(SpinEdit(spin)->text(), QString("400"));
    QCOMPARE(d.Read().iterations, 400);
    spin->stepDown();  // from the up-down's own position
    QCOMPARE(spin->value(), 199);
  }

  void resamplingParseFailure() {
    ResamplingSettingsDialog d;
    Edit(&d, "Edit17")->setText("1.2.3");
    QVERIFY_THROWS_EXCEPTION(ParseFloatError, d.Read());
    Edit(&d, "Edit17")->setText("0.875");
    Edit(&d, "Edit22")->setText("");  // disabled edits are read too
    QVERIFY_THROWS_EXCEPTION(ParseFloatError, d.Read());
  }

  // A number outside its setting's range reads, and Validate refuses it naming the
  // caption, the value and the range, which the command shows in a box.
  void resamplingValueOutsideItsRangeIsRefused() {
    ResamplingSettingsDialog d;
    Edit(&d, "Edit16")->setText("1e308");
    const ResampleParams p = d.Read();
    try {
      p.Validate();
      QFAIL("accepted");
    } catch (const std::invalid_argument& e) {
      QCOMPARE(QString(e.what()),
               QString("Initial step: 1e+308 is too large: the range is 0 to 1000"));
    }
  }

  void noRegularizationSetsZeroAndRestores() {
    ResamplingSettingsDialog d;
    d.show();
    QSpinBox* iterations = UpDown(&d, "UpDown1");
    iterations->setValue(77);
    auto* box = Get<QCheckBox>(&d, "CheckBox3");
    box->click();
    QCOMPARE(iterations->value(), 0);
    QCOMPARE(Edit(&d, "Edit18")->text(), QString("0"));
    const char* disabled[] = {"RadioGroup1", "RadioButton1", "RadioButton2", "RadioButton3",
                              "Edit12",      "Edit13",       "Edit14",       "Edit15",
                              "Edit16",      "Edit17",       "Edit18",       "Edit20",
                              "Edit21",      "Edit22",       "UpDown1"};
    for (const char* name : disabled) QVERIFY2(!Get<QWidget>(&d, name)->isEnabled(), name);
    // The initial approximation stays selectable.
    QVERIFY(Get<QWidget>(&d, "RadioGroup2")->isEnabled());
    QCOMPARE(d.Read().iterations, 0);

    box->click();
    QCOMPARE(iterations->value(), 77);
    for (const char* name : disabled) QVERIFY2(Get<QWidget>(&d, name)->isEnabled(), name);
    // Without "Advanced Features" the three edits come back enabled, their labels not.
    for (const char* name : {"Edit20", "Edit21", "Edit22"})
      QVERIFY(!LabelOf(&d, Edit(&d, name))->isEnabled());
  }

  // A screen reader's "Toggle" changes the box without a click; the dialog follows.
  void assistiveToggleActsLikeAClick() {
    ResamplingSettingsDialog d;
    d.show();
    auto toggle = [&d](const char* name) {
      QAccessibleInterface* box = QAccessible::queryAccessibleInterface(Get<QCheckBox>(&d, name));
      if (!box || !box->actionInterface()) qFatal("%s has no accessible actions", name);
      box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    };
    UpDown(&d, "UpDown1")->setValue(77);
    toggle("CheckBox3");
    QVERIFY(Get<QCheckBox>(&d, "CheckBox3")->isChecked());
    QCOMPARE(UpDown(&d, "UpDown1")->value(), 0);
    QVERIFY(!Edit(&d, "Edit16")->isEnabled());
    toggle("CheckBox3");
    QCOMPARE(UpDown(&d, "UpDown1")->value(), 77);
    QVERIFY(Edit(&d, "Edit16")->isEnabled());

    toggle("CheckBox4");
    QVERIFY(Get<QGroupBox>(&d, "GroupBox4")->isVisible());
    QVERIFY(LabelOf(&d, Edit(&d, "Edit20"))->isEnabled());
    toggle("CheckBox4");
    QVERIFY(!Get<QGroupBox>(&d, "GroupBox4")->isVisible());
    QVERIFY(!Edit(&d, "Edit20")->isEnabled());
  }

  void advancedFeaturesThenNoRegularization() {
    ResamplingSettingsDialog d;
    d.show();
    auto* advanced = Get<QCheckBox>(&d, "CheckBox4");
    auto* fractal = Get<QGroupBox>(&d, "GroupBox4");
    advanced->click();
    QVERIFY(fractal->isVisible());
    for (const char* name : {"Edit20", "Edit21", "Edit22"}) {
      QVERIFY(Edit(&d, name)->isEnabled());
      QVERIFY(LabelOf(&d, Edit(&d, name))->isEnabled());
    }
    auto* noRegularization = Get<QCheckBox>(&d, "CheckBox3");
    noRegularization->click();
    for (const char* name : {"Edit20", "Edit21", "Edit22"}) QVERIFY(!Edit(&d, name)->isEnabled());
    noRegularization->click();
    for (const char* name : {"Edit20", "Edit21", "Edit22"}) {
      QVERIFY(Edit(&d, name)->isEnabled());
      QVERIFY(LabelOf(&d, Edit(&d, name))->isEnabled());
    }
    QCOMPARE(UpDown(&d, "UpDown1")->value(), 40);

    advanced->click();
    QVERIFY(!fractal->isVisible());
    for (const char* name : {"Edit20", "Edit21", "Edit22"}) {
      QVERIFY(!Edit(&d, name)->isEnabled());
      QVERIFY(!LabelOf(&d, Edit(&d, name))->isEnabled());
    }
  }

  void freshDialogShowsDefaultsAgain() {
    {
      ResamplingSettingsDialog d;
      Edit(&d, "Edit16")->setText("9");
      Get<QCheckBox>(&d, "CheckBox3")->click();
    }
    ResamplingSettingsDialog d;
    QCOMPARE(Edit(&d, "Edit16")->text(), QString("5.0"));
    QCOMPARE(UpDown(&d, "UpDown1")->value(), 40);
    QVERIFY(!Get<QCheckBox>(&d, "CheckBox3")->isChecked());
  }

  void deringingDefaults() {
    DeringingSettingsDialog d;
    QCOMPARE(d.objectName(), QString("TForm4"));
    QCOMPARE(d.windowTitle(), QString("Deringing Settings"));
    QCOMPARE(Get<QGroupBox>(&d, "GroupBox1")->title(), QString("Deringing"));
    auto* method = Get<QComboBox>(&d, "ComboBox1");
    QVERIFY(!method->isEditable());
    QCOMPARE(method->count(), 15);
    QCOMPARE(method->itemText(0), QString("Global, modified"));
    QCOMPARE(method->itemText(14), QString("Local, simpliest"));
    QCOMPARE(method->currentIndex(), 10);
    QCOMPARE(method->currentText(), QString("Local, 11x11, step 8"));
    QCOMPARE(LabelOf(&d, method)->text(), QString("Method:"));
    auto* initial = Get<QComboBox>(&d, "ComboBox2");
    QVERIFY(!initial->isEditable());
    QCOMPARE(initial->count(), 2);
    QCOMPARE(initial->itemText(0), QString("Zero init"));
    QCOMPARE(initial->itemText(1), QString("Source"));
    QCOMPARE(initial->currentIndex(), 0);
    QCOMPARE(LabelOf(&d, initial)->text(), QString("Initial:"));
    QCOMPARE(Edit(&d, "Edit24")->text(), QString("1.0"));
    QCOMPARE(LabelOf(&d, Edit(&d, "Edit24"))->text(), QString("Factor"));
    QSpinBox* iterations = UpDown(&d, "UpDown2");
    QCOMPARE(iterations->minimum(), 50);
    QCOMPARE(iterations->maximum(), 32767);
    QCOMPARE(iterations->value(), 200);
    QCOMPARE(Edit(&d, "Edit25")->text(), QString("200"));
    QCOMPARE(LabelOf(&d, iterations)->text(), QString("Iterations"));
    CheckLabelled(&d);

    const DeringParams p = d.Read();
    QCOMPARE(p.method, 10);
    QCOMPARE(p.initial, 0);
    QCOMPARE(p.iterations, 200);
    QCOMPARE(p.factor, 1.0f);
  }

  void deringingTypedIterations() {
    DeringingSettingsDialog d;
    d.show();
    QSpinBox* iterations = UpDown(&d, "UpDown2");
    iterations->setFocus();
    iterations->selectAll();
    QTest::keyClicks(iterations, "500");
    Get<QComboBox>(&d, "ComboBox1")->setCurrentIndex(14);
    Get<QComboBox>(&d, "ComboBox2")->setCurrentIndex(1);
    Edit(&d, "Edit24")->setText("0,25");
    QTest::keyClick(iterations, Qt::Key_Return);
    QCOMPARE(d.result(), int(QDialog::Accepted));
    const DeringParams p = d.Read();
    QCOMPARE(p.iterations, 500);
    QCOMPARE(p.method, 14);
    QCOMPARE(p.initial, 1);
    QCOMPARE(p.factor, 0.25f);
  }

  void typedBeyondTheRangeIsClamped_data() {
    QTest::addColumn<int>("dialog");  // 3, 4 or 5
    QTest::addColumn<QString>("upDown");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("expected");
    QTest::newRow("resampling iterations") << 3 << "UpDown1"
                                           << "200000" << ResampleParams::kMaxIterations;
    QTest::newRow("deringing iterations high") << 4 << "UpDown2"
                                               << "40000" << 32767;
    QTest::newRow("deringing iterations low") << 4 << "UpDown2"
                                              << "5" << 50;
    QTest::newRow("filter radius") << 5 << "UpDown1"
                                   << "99" << 20;
    QTest::newRow("dilation radius") << 5 << "UpDown3"
                                     << "21" << 20;
  }
  void typedBeyondTheRangeIsClamped() {
    QFETCH(int, dialog);
    QFETCH(QString, upDown);
    QFETCH(QString, typed);
    QFETCH(int, expected);
    std::unique_ptr<SettingsDialog> d;
    if (dialog == 3) d = std::make_unique<ResamplingSettingsDialog>();
    if (dialog == 4) d = std::make_unique<DeringingSettingsDialog>();
    if (dialog == 5) d = std::make_unique<EdgeMaskSettingsDialog>();
    d->show();
    QSpinBox* spin = UpDown(d.get(), upDown.toLatin1().constData());
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, typed);
    // Every keystroke is taken, read before the edit is left...
    QCOMPARE(SpinEdit(spin)->text(), typed);
    int read = 0;
    if (dialog == 3) read = static_cast<ResamplingSettingsDialog*>(d.get())->Read().iterations;
    if (dialog == 4) read = static_cast<DeringingSettingsDialog*>(d.get())->Read().iterations;
    if (dialog == 5) {
      const EdgeMaskParams p = static_cast<EdgeMaskSettingsDialog*>(d.get())->Read();
      read = upDown == "UpDown1" ? p.filterRadius : p.dilationRadius;
    }
    QCOMPARE(read, expected);
    // ...and confirming brings the edit into the range.
    QTest::keyClick(spin, Qt::Key_Return);
    QCOMPARE(d->result(), int(QDialog::Accepted));
    QCOMPARE(spin->value(), expected);
    QCOMPARE(SpinEdit(spin)->text(), QString::number(expected));
  }

  void edgeMaskDefaults() {
    EdgeMaskSettingsDialog d;
    QCOMPARE(d.objectName(), QString("TForm5"));
    QCOMPARE(d.windowTitle(), QString("Edge Mask Settings"));
    auto* measurement = Get<QGroupBox>(&d, "RadioGroup1");
    QCOMPARE(measurement->title(), QString("Measurement"));
    QCOMPARE(Items(measurement),
             QStringList({"Local Variation", "Maximum Variation", "Gradient Norm"}));
    QCOMPARE(CheckedItem(measurement), 1);
    QCOMPARE(Get<QGroupBox>(&d, "GroupBox1")->title(), QString("Mask Conditions"));
    QCOMPARE(Get<QGroupBox>(&d, "GroupBox2")->title(), QString("Mask Processing"));

    struct Field {
      const char* name;
      const char* label;
      const char* text;
    };
    for (const Field& f :
         {Field{"Edit1", "Gauss rad:", "4.0"}, Field{"Edit3", "Multiplier:", "2.0"},
          Field{"Edit4", "Noise Level:", "5"}, Field{"Edit7", "Gauss smooth rad.:", "3.0"},
          Field{"Edit8", "Threshold %:", "30"}}) {
      QCOMPARE(Edit(&d, f.name)->text(), QString(f.text));
      QCOMPARE(LabelOf(&d, Edit(&d, f.name))->text(), QString(f.label));
    }
    struct Spin {
      const char* upDown;
      const char* edit;
      const char* label;
      int minimum, maximum, value;
      bool enabled;
    };
    for (const Spin& s : {Spin{"UpDown1", "Edit2", "Filter rad:", 1, 20, 6, true},
                          Spin{"UpDown2", "Edit5", "Minimum block size:", 0, 10000, 10, false},
                          Spin{"UpDown3", "Edit6", "Dilation radius:", 0, 20, 3, true}}) {
      QSpinBox* spin = UpDown(&d, s.upDown);
      QCOMPARE(spin->minimum(), s.minimum);
      QCOMPARE(spin->maximum(), s.maximum);
      QCOMPARE(spin->value(), s.value);
      QCOMPARE(Edit(&d, s.edit)->text(), QString::number(s.value));
      QCOMPARE(spin->isEnabled(), s.enabled);
      QCOMPARE(Edit(&d, s.edit)->isEnabled(), s.enabled);
      QCOMPARE(LabelOf(&d, spin)->text(), QString(s.label));
      QCOMPARE(LabelOf(&d, spin)->isEnabled(), s.enabled);
    }
    CheckLabelled(&d);

    const EdgeMaskParams p = d.Read();
    const EdgeMaskParams defaults;
    QCOMPARE(p.measurement, defaults.measurement);
    QCOMPARE(p.gaussRadius, defaults.gaussRadius);
    QCOMPARE(p.filterRadius, defaults.filterRadius);
    QCOMPARE(p.multiplier, defaults.multiplier);
    QCOMPARE(p.noiseLevel, defaults.noiseLevel);
    QCOMPARE(p.minimumBlockSize, defaults.minimumBlockSize);
    QCOMPARE(p.dilationRadius, defaults.dilationRadius);
    QCOMPARE(p.smoothRadius, defaults.smoothRadius);
    QCOMPARE(p.threshold, defaults.threshold);

    Edit(&d, "Edit8")->setText("x");
    QVERIFY_THROWS_EXCEPTION(ParseFloatError, d.Read());
  }

  void okIsDefaultAndEscapeCancels() {
    EdgeMaskSettingsDialog d;
    d.show();
    QVERIFY(Get<QPushButton>(&d, "OKButton")->isDefault());
    QCOMPARE(Get<QPushButton>(&d, "OKButton")->text(), QString("OK"));
    QCOMPARE(Get<QPushButton>(&d, "CancelButton")->text(), QString("Cancel"));
    Edit(&d, "Edit1")->setFocus();
    QTest::keyClick(Edit(&d, "Edit1"), Qt::Key_Escape);
    QCOMPARE(d.result(), int(QDialog::Rejected));
    QVERIFY(!d.isVisible());
    d.show();
    QTest::keyClick(Edit(&d, "Edit1"), Qt::Key_Enter);
    QCOMPARE(d.result(), int(QDialog::Accepted));
  }

  // Enter presses the button that has the keyboard focus: on a focused "Cancel"
  // it cancels; back in an edit it confirms with "OK" again.
  void enterOnFocusedCancelCancels() {
    ResamplingSettingsDialog d3;
    DeringingSettingsDialog d4;
    EdgeMaskSettingsDialog d5;
    for (QDialog* d : std::initializer_list<QDialog*>{&d3, &d4, &d5}) {
      d->show();
      QVERIFY(QTest::qWaitForWindowExposed(d));
      auto* cancel = Get<QPushButton>(d, "CancelButton");
      cancel->setFocus(Qt::TabFocusReason);
      QTest::keyClick(cancel, Qt::Key_Return);
      QVERIFY2(!d->isVisible(), qPrintable(d->objectName()));
      QCOMPARE(d->result(), int(QDialog::Rejected));

      d->show();
      QVERIFY(QTest::qWaitForWindowExposed(d));
      QLineEdit* edit = d->findChild<QLineEdit*>();
      QVERIFY(edit);
      edit->setFocus(Qt::TabFocusReason);
      QVERIFY(Get<QPushButton>(d, "OKButton")->isDefault());
      QTest::keyClick(edit, Qt::Key_Return);
      QCOMPARE(d->result(), int(QDialog::Accepted));
    }
  }

  void tabOrderFollowsTheLayout() {
    // Column by column, top to bottom, then the check boxes and the buttons.
    const QStringList resampling = {
        "RadioGroup1_0", "RadioGroup1_1", "RadioGroup1_2", "RadioGroup1_3", "RadioGroup1_4",
        "RadioGroup2_0", "RadioGroup2_1", "RadioGroup2_2", "RadioGroup2_3", "RadioGroup2_4",
        "RadioButton1",  "RadioButton2",  "RadioButton3",  "Edit16",        "Edit17",
        "UpDown1",       "Edit12",        "Edit13",        "Edit15",        "Edit14",
        "Edit20",        "Edit21",        "Edit22",        "CheckBox1",     "CheckBox2",
        "CheckBox3",     "CheckBox4",     "OKButton",      "CancelButton"};
    const QStringList edgeMask = {"RadioGroup1_0", "RadioGroup1_1", "RadioGroup1_2", "Edit1",
                                  "UpDown1",       "Edit3",         "Edit4",         "UpDown2",
                                  "UpDown3",       "Edit7",         "Edit8",         "OKButton",
                                  "CancelButton"};
    const QStringList deringing = {"ComboBox1", "ComboBox2", "Edit24",
                                   "UpDown2",   "OKButton",  "CancelButton"};
    ResamplingSettingsDialog d3;
    DeringingSettingsDialog d4;
    EdgeMaskSettingsDialog d5;
    const std::pair<QWidget*, QStringList> cases[] = {
        {&d3, resampling}, {&d4, deringing}, {&d5, edgeMask}};
    for (const auto& [dialog, expected] : cases) {
      QStringList chain;
      for (QWidget* w = dialog->nextInFocusChain(); w != dialog; w = w->nextInFocusChain())
        if (expected.contains(w->objectName())) chain << w->objectName();
      QCOMPARE(chain, expected);
    }
  }

  void defaultTextFormatting() {
    QCOMPARE(DefaultText(5.0, true), QString("5.0"));
    QCOMPARE(DefaultText(0.875, true), QString("0.875"));
    QCOMPARE(DefaultText(0.05f, false), QString("0.05"));
    QCOMPARE(DefaultText(15.0f, false), QString("15"));
  }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
