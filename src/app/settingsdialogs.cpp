#include "app/settingsdialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <utility>

#include "app/parsefloat.h"
#include "commands/registry.h"

namespace tvq {

namespace {

template <typename T>
QString ShortestText(T value, bool pointZero) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  QString text = QString::fromLatin1(buffer, static_cast<int>(result.ptr - buffer));
  if (pointZero && !text.contains('.') && !text.contains('e') && !text.contains("inf") &&
      !text.contains("nan"))
    text += ".0";
  return text;
}

// The number in an edit box; FieldError naming the field and the text otherwise.
double Number(const QLineEdit* edit) {
  try {
    return ParseFloat(edit->text().toStdString());
  } catch (const ParseFloatError&) {
    // The edit of a spin box goes by the spin box's name.
    const QWidget* named = qobject_cast<QAbstractSpinBox*>(edit->parentWidget())
                               ? edit->parentWidget()
                               : static_cast<const QWidget*>(edit);
    const QString text =
        QStringLiteral("%1: \"%2\" is not a number.").arg(named->accessibleName(), edit->text());
    throw FieldError(text.toStdString(), const_cast<QLineEdit*>(edit));
  }
}

// The position of an up-down: the number in its edit, brought into its range
// (the edit may still hold a number typed beyond it); text that is no whole number
// leaves the last position.
int Position(const QSpinBox* spin) {
  bool isNumber = false;
  const qlonglong typed = SpinEdit(spin)->text().trimmed().toLongLong(&isNumber);
  if (!isNumber) return spin->value();
  return static_cast<int>(std::clamp<qlonglong>(typed, spin->minimum(), spin->maximum()));
}

// The iteration text of an up-down read as a number, truncated toward zero and kept
// within the edit's range (the solver's), not the up-down's.
std::int32_t TypedCount(const QSpinBox* spin) {
  const double count = std::trunc(Number(SpinEdit(spin)));
  return static_cast<std::int32_t>(std::clamp(count, static_cast<double>(spin->minimum()),
                                              static_cast<double>(spin->maximum())));
}

// A control of a dialog and the setting it shows: read as the number that the setting's
// binding stores in its field (commands/registry.h), so that the dialog, the command
// line and the library fill a settings struct the same way. An edit box is read as a
// number, an up-down as its position, a choice as its index; a control that shows no
// setting of the table reads into its field itself.
template <typename Params>
class Control {
 public:
  Control(const SettingDesc& setting, const QLineEdit* edit)
      : setting_(&setting), value_([edit] { return Number(edit); }) {}
  Control(const SettingDesc& setting, const QSpinBox* upDown)
      : setting_(&setting), value_([upDown] { return static_cast<double>(Position(upDown)); }) {}
  Control(const void* setting, std::function<double()> value)
      : setting_(setting), value_(std::move(value)) {}
  Control(std::function<void(Params&)> read) : read_(std::move(read)) {}

  // Reads the control into p; true when it is the control of a setting of the table.
  bool Read(const SettingsTable<Params>& table, Params& p) const {
    if (read_) {
      read_(p);
      return false;
    }
    for (const FieldBinding<Params>& field : table) {
      if (field.number == setting_ || field.choice == setting_) {
        field.set(p, value_());
        return true;
      }
    }
    throw std::logic_error("a dialog control shows no setting of its command");
  }

 private:
  const void* setting_ = nullptr;
  std::function<double()> value_;
  std::function<void(Params&)> read_;
};

// Reads the controls in the order given, so that the first number that does not parse
// is the one reported. Every setting of the table has exactly one control.
template <typename Params>
Params ReadControls(const SettingsTable<Params>& table,
                    std::initializer_list<Control<Params>> controls) {
  Params p;
  std::size_t settings = 0;
  for (const Control<Params>& control : controls) settings += control.Read(table, p) ? 1 : 0;
  if (settings != table.size())
    throw std::logic_error("a setting of the command has no control in its dialog");
  return p;
}

QStringList Captions(const ChoiceDesc& choice) {
  QStringList list;
  for (const char* caption : choice.captions) list << QString::fromUtf8(caption);
  return list;
}

QString Caption(const SettingDesc& setting) {
  return QString::fromUtf8(setting.caption);
}

void MakeBold(QWidget* widget) {
  QFont font = widget->font();
  font.setBold(true);
  widget->setFont(font);
}

// A captioned group whose content is a two-column grid of labels and edits.
QGridLayout* GroupGrid(QGroupBox* group) {
  auto* grid = new QGridLayout(group);
  grid->setColumnStretch(0, 1);
  return grid;
}

}  // namespace

QString DefaultText(double value, bool pointZero) {
  return ShortestText(value, pointZero);
}
QString DefaultText(float value, bool pointZero) {
  return ShortestText(value, pointZero);
}

// ---------------------------------------------------------------- Resampling

ResamplingSettingsDialog::ResamplingSettingsDialog(QWidget* parent)
    : SettingsDialog("TForm3", "Resampling Settings", parent) {
  const ResampleParams defaults;

  // Left column: the two choices.
  stabilizer_ =
      new RadioGroup("RadioGroup1", kStabilizerSetting.caption, Captions(kStabilizerSetting),
                     static_cast<int>(defaults.stabilizer), this);
  initial_ = new RadioGroup("RadioGroup2", kInitialApproximationSetting.caption,
                            Captions(kInitialApproximationSetting),
                            static_cast<int>(defaults.initial), this);

  // Middle column: convergence and the solver's other options.
  auto* convergence = new QGroupBox(kConvergenceSetting.caption, this);
  convergence->setObjectName("GroupBox1");
  auto* convergenceGrid = GroupGrid(convergence);
  fixedSteps_ = new QRadioButton(kConvergenceSetting.captions[0], convergence);
  fixedSteps_->setObjectName("RadioButton1");
  exponential_ = new QRadioButton(kConvergenceSetting.captions[1], convergence);
  exponential_->setObjectName("RadioButton2");
  MakeBold(exponential_);
  conditional_ = new QRadioButton(kConvergenceSetting.captions[2], convergence);
  conditional_->setObjectName("RadioButton3");
  QRadioButton* const modes[] = {fixedSteps_, exponential_, conditional_};
  modes[static_cast<int>(defaults.convergence)]->setChecked(true);
  MakeRadioChoice({fixedSteps_, exponential_, conditional_});
  convergenceGrid->addWidget(fixedSteps_, 0, 0, 1, 2);
  convergenceGrid->addWidget(exponential_, 1, 0, 1, 2);
  convergenceGrid->addWidget(conditional_, 2, 0, 1, 2);
  initialStep_ = AddEdit(convergenceGrid, "Edit16", Caption(kInitialStepSetting),
                         DefaultText(defaults.initialStep, true));
  factor_ = AddEdit(convergenceGrid, "Edit17", Caption(kFactorSetting),
                    DefaultText(defaults.factor, true));
  // The edit takes any count the solver accepts; only its up-down stops at 200.
  UpDownSpinBox* iterations =
      AddUpDown(convergenceGrid, "Edit18", "UpDown1", kIterationsSetting, defaults.iterations);
  iterations->SetStepMaximum(ResampleParams::kDialogMaxIterations);
  iterations_ = iterations;

  auto* other = new QGroupBox("Other options", this);
  other->setObjectName("GroupBox3");
  auto* otherGrid = GroupGrid(other);
  btvBase_ =
      AddEdit(otherGrid, "Edit12", Caption(kBtvBaseSetting), DefaultText(defaults.btvBase, true));
  gaussRadius_ = AddEdit(otherGrid, "Edit13", Caption(kGaussRadiusSetting),
                         DefaultText(defaults.gaussRadius, true));
  norm_ = AddEdit(otherGrid, "Edit15", Caption(kNormSetting), DefaultText(defaults.norm, true));

  // Right column: regularization weights and the optional texture stage.
  auto* regularization = new QGroupBox("Regularization", this);
  regularization->setObjectName("GroupBox2");
  auto* regularizationGrid = GroupGrid(regularization);
  QLabel* maximumLabel = nullptr;
  maximum_ = AddEdit(regularizationGrid, "Edit14", Caption(kMaximumSetting),
                     DefaultText(defaults.maximum, false), &maximumLabel);
  MakeBold(maximumLabel);
  const QString hint = "Optimal values in 0.01 .. 0.5 range";
  maximumLabel->setToolTip(hint);
  maximum_->setToolTip(hint);
  minFactor_ = AddEdit(regularizationGrid, "Edit20", Caption(kMinFactorSetting),
                       DefaultText(defaults.minFactor, true), &minFactorLabel_);
  threshMin_ = AddEdit(regularizationGrid, "Edit21", Caption(kThreshMinSetting),
                       DefaultText(defaults.threshMin, false), &threshMinLabel_);
  threshMax_ = AddEdit(regularizationGrid, "Edit22", Caption(kThreshMaxSetting),
                       DefaultText(defaults.threshMax, false), &threshMaxLabel_);
  for (QWidget* w : std::initializer_list<QWidget*>{
           minFactor_, threshMin_, threshMax_, minFactorLabel_, threshMinLabel_, threshMaxLabel_})
    w->setEnabled(false);

  fractalGroup_ = new QGroupBox("Fractal substitution", this);
  fractalGroup_->setObjectName("GroupBox4");
  auto* fractalLayout = new QVBoxLayout(fractalGroup_);
  fractalEnabled_ = new QCheckBox("Enabled", fractalGroup_);
  fractalEnabled_->setObjectName("CheckBox1");
  fractalEnabled_->setChecked(defaults.fractalSubstitution);
  fractalLayout->addWidget(fractalEnabled_);
  // Hidden until "Advanced Features"; its place is kept so the dialog does not jump.
  QSizePolicy keepPlace = fractalGroup_->sizePolicy();
  keepPlace.setRetainSizeWhenHidden(true);
  fractalGroup_->setSizePolicy(keepPlace);
  fractalGroup_->setVisible(false);

  // Bottom row: the check boxes.
  showIterated_ = new QCheckBox("Show iterated image", this);
  showIterated_->setObjectName("CheckBox2");
  showIterated_->setChecked(defaults.showIterations);
  noRegularization_ = new QCheckBox("No regularization", this);
  noRegularization_->setObjectName("CheckBox3");
  advancedFeatures_ = new QCheckBox("Advanced Features", this);
  advancedFeatures_->setObjectName("CheckBox4");

  // An up-down that is never shown and never read; it has the deringing iterations' range
  // and default.
  upDown2_ = new QSpinBox(this);
  upDown2_->setObjectName("UpDown2");
  upDown2_->setRange(static_cast<int>(kDeringIterationsSetting.minimum),
                     static_cast<int>(kDeringIterationsSetting.maximum));
  upDown2_->setValue(static_cast<int>(kDeringIterationsSetting.defaultValue));
  upDown2_->setVisible(false);

  auto* columns = new QGridLayout;
  columns->addWidget(stabilizer_, 0, 0);
  columns->addWidget(initial_, 1, 0);
  columns->addWidget(convergence, 0, 1);
  columns->addWidget(other, 1, 1);
  columns->addWidget(regularization, 0, 2);
  columns->addWidget(fractalGroup_, 1, 2, Qt::AlignTop);
  auto* checks = new QHBoxLayout;
  checks->addWidget(showIterated_);
  checks->addWidget(noRegularization_);
  checks->addWidget(advancedFeatures_);
  checks->addStretch(1);
  // Below the solver's controls, so that the tab order reaches it after them.
  size_ = new OutputSizeGroup(true, this);
  auto* content = new QVBoxLayout;
  content->addLayout(columns);
  content->addLayout(checks);
  content->addWidget(size_, 0, Qt::AlignLeft);
  Finish(content, true);

  // Every change of state counts, a click as much as an assistive tool's "Toggle".
  connect(noRegularization_, &QCheckBox::toggled, this,
          &ResamplingSettingsDialog::NoRegularizationToggled);
  connect(advancedFeatures_, &QCheckBox::toggled, this,
          &ResamplingSettingsDialog::AdvancedFeaturesToggled);
}

QList<QWidget*> ResamplingSettingsDialog::SolverControls() const {
  return {stabilizer_,           fixedSteps_, exponential_, conditional_, btvBase_,
          gaussRadius_,          maximum_,    norm_,        initialStep_, factor_,
          SpinEdit(iterations_), minFactor_,  threshMin_,   threshMax_,   iterations_};
}

void ResamplingSettingsDialog::NoRegularizationToggled(bool checked) {
  if (checked) {
    rememberedIterations_ = iterations_->value();
    iterations_->setValue(0);
  } else {
    iterations_->setValue(rememberedIterations_);
  }
  // Unchecking enables MinFactor, ThreshMin and ThreshMax whatever "Advanced
  // Features" says; their labels keep the state that box gave them.
  for (QWidget* w : SolverControls()) w->setEnabled(!checked);
}

void ResamplingSettingsDialog::AdvancedFeaturesToggled(bool checked) {
  for (QWidget* w : std::initializer_list<QWidget*>{
           minFactor_, threshMin_, threshMax_, minFactorLabel_, threshMinLabel_, threshMaxLabel_})
    w->setEnabled(checked);
  fractalGroup_->setVisible(checked);
}

ResampleParams ResamplingSettingsDialog::Read() const {
  using P = ResampleParams;
  P p = ReadControls<P>(
      ResampleTable(),
      {{kBtvBaseSetting, btvBase_},
       {kGaussRadiusSetting, gaussRadius_},
       {kMaximumSetting, maximum_},
       {kMinFactorSetting, minFactor_},
       {kNormSetting, norm_},
       {kInitialStepSetting, initialStep_},
       {kFactorSetting, factor_},
       {&kIterationsSetting, [this] { return static_cast<double>(TypedCount(iterations_)); }},
       {kThreshMinSetting, threshMin_},
       {kThreshMaxSetting, threshMax_},
       {&kInitialApproximationSetting, [this] { return initial_->ItemIndex(); }},
       {&kStabilizerSetting, [this] { return stabilizer_->ItemIndex(); }},
       {&kConvergenceSetting, [this] {
          const ConvergenceMode mode = fixedSteps_->isChecked()    ? ConvergenceMode::kFixedSteps
                                       : conditional_->isChecked() ? ConvergenceMode::kConditional
                                                                   : ConvergenceMode::kExponential;
          return static_cast<double>(mode);
        }}});
  p.fractalSubstitution = fractalEnabled_->isChecked();
  p.showIterations = showIterated_->isChecked();
  return p;
}

void ResamplingSettingsDialog::SetInputSize(int width, int height) {
  size_->SetInputSize(width, height);
}

std::optional<OutputSizeParams> ResamplingSettingsDialog::ReadSize() const {
  return size_->Read();
}

// ---------------------------------------------------------------- Resize

ResizeDialog::ResizeDialog(QWidget* parent) : SettingsDialog("ResizeDialog", "Resize", parent) {
  size_ = new OutputSizeGroup(false, this);
  auto* filterRow = new QGridLayout;
  auto* caption = new QLabel("&Filter:", this);
  caption->setObjectName("ResizeFilterLabel");
  filter_ = new NamedComboBox(this);
  filter_->setObjectName("ResizeFilter");
  filter_->addItems(Captions(kResizeFilterSetting));
  filter_->setCurrentIndex(kResizeFilterSetting.defaultIndex);
  filter_->setAccessibleName("Filter");
  caption->setBuddy(filter_);
  filterRow->addWidget(caption, 0, 0);
  filterRow->addWidget(filter_, 0, 1);
  auto* content = new QVBoxLayout;
  content->addWidget(size_);
  content->addLayout(filterRow);
  Finish(content, false);
}

void ResizeDialog::SetInputSize(int width, int height) {
  size_->SetInputSize(width, height);
}

ResizeSettings ResizeDialog::Read() const {
  ResizeSettings settings;
  // Resize takes any scale in its range, 2 included.
  if (const std::optional<OutputSizeParams> size = size_->Read()) settings.size = *size;
  settings.filter = static_cast<ResizeFilter>(filter_->currentIndex());
  return settings;
}

// ---------------------------------------------------------------- Deringing

DeringingSettingsDialog::DeringingSettingsDialog(QWidget* parent)
    : SettingsDialog("TForm4", "Deringing Settings", parent) {
  const DeringParams defaults;

  auto* group = new QGroupBox("Deringing", this);
  group->setObjectName("GroupBox1");
  auto* grid = GroupGrid(group);

  auto addCombo = [&](const QString& name, const QString& label, const QStringList& items,
                      int index) {
    const int row = grid->count() == 0 ? 0 : grid->rowCount();
    auto* caption = new QLabel(label, group);
    caption->setObjectName(name + "Label");
    auto* combo = new NamedComboBox(group);
    combo->setObjectName(name);
    combo->setEditable(false);
    combo->addItems(items);
    combo->setCurrentIndex(index);
    combo->setAccessibleName(QString::fromStdString(CaptionName(label.toUtf8().constData())));
    caption->setBuddy(combo);
    grid->addWidget(caption, row, 0);
    grid->addWidget(combo, row, 1);
    return combo;
  };
  method_ = addCombo("ComboBox1", kDeringMethodSetting.caption, Captions(kDeringMethodSetting),
                     defaults.method);
  initial_ = addCombo("ComboBox2", kDeringInitialSetting.caption, Captions(kDeringInitialSetting),
                      defaults.initial);
  factor_ =
      AddEdit(grid, "Edit24", Caption(kDeringFactorSetting), DefaultText(defaults.factor, true));
  factor_->setMaximumWidth(QWIDGETSIZE_MAX);
  iterations_ = AddUpDown(grid, "Edit25", "UpDown2", kDeringIterationsSetting, defaults.iterations);
  iterations_->setMaximumWidth(QWIDGETSIZE_MAX);

  auto* content = new QVBoxLayout;
  content->addWidget(group);
  Finish(content, true);
}

DeringParams DeringingSettingsDialog::Read() const {
  return ReadControls<DeringParams>(
      DeringTable(), {{&kDeringMethodSetting, [this] { return method_->currentIndex(); }},
                      {&kDeringInitialSetting, [this] { return initial_->currentIndex(); }},
                      {kDeringIterationsSetting, iterations_},
                      {kDeringFactorSetting, factor_}});
}

// ---------------------------------------------------------------- Edge mask

EdgeMaskSettingsDialog::EdgeMaskSettingsDialog(QWidget* parent)
    : SettingsDialog("TForm5", "Edge Mask Settings", parent) {
  const EdgeMaskParams defaults;

  measurement_ = new RadioGroup("RadioGroup1", kEdgeMeasurementSetting.caption,
                                Captions(kEdgeMeasurementSetting),
                                static_cast<int>(defaults.measurement), this);

  auto* conditions = new QGroupBox("Mask Conditions", this);
  conditions->setObjectName("GroupBox1");
  auto* conditionsGrid = GroupGrid(conditions);
  gaussRadius_ = AddEdit(conditionsGrid, "Edit1", Caption(kMaskGaussSetting),
                         DefaultText(defaults.gaussRadius, true));
  filterRadius_ = AddUpDown(conditionsGrid, "Edit2", "UpDown1", kMaskFilterRadiusSetting,
                            defaults.filterRadius);
  multiplier_ = AddEdit(conditionsGrid, "Edit3", Caption(kMaskMultiplierSetting),
                        DefaultText(defaults.multiplier, true));
  noiseLevel_ = AddEdit(conditionsGrid, "Edit4", Caption(kMaskNoiseLevelSetting),
                        DefaultText(defaults.noiseLevel, false));

  auto* processing = new QGroupBox("Mask Processing", this);
  processing->setObjectName("GroupBox2");
  auto* processingGrid = GroupGrid(processing);
  QLabel* blockLabel = nullptr;
  minimumBlockSize_ = AddUpDown(processingGrid, "Edit5", "UpDown2", kMaskMinimumBlockSizeSetting,
                                defaults.minimumBlockSize, &blockLabel);
  minimumBlockSize_->setEnabled(false);
  blockLabel->setEnabled(false);
  dilationRadius_ =
      AddUpDown(processingGrid, "Edit6", "UpDown3", kMaskDilationSetting, defaults.dilationRadius);
  smoothRadius_ = AddEdit(processingGrid, "Edit7", Caption(kMaskSmoothSetting),
                          DefaultText(defaults.smoothRadius, true));
  threshold_ = AddEdit(processingGrid, "Edit8", Caption(kMaskThresholdSetting),
                       DefaultText(defaults.threshold, false));

  auto* columns = new QGridLayout;
  columns->addWidget(measurement_, 0, 0, 2, 1);
  columns->addWidget(conditions, 0, 1);
  columns->addWidget(processing, 1, 1);
  auto* content = new QVBoxLayout;
  content->addLayout(columns);
  Finish(content);
}

EdgeMaskParams EdgeMaskSettingsDialog::Read() const {
  using P = EdgeMaskParams;
  return ReadControls<P>(EdgeMaskTable(),
                         {{&kEdgeMeasurementSetting, [this] { return measurement_->ItemIndex(); }},
                          {kMaskGaussSetting, gaussRadius_},
                          {kMaskFilterRadiusSetting, filterRadius_},
                          {kMaskMultiplierSetting, multiplier_},
                          {kMaskNoiseLevelSetting, noiseLevel_},
                          {kMaskSmoothSetting, smoothRadius_},
                          // Read and range-checked with the rest, though no step of the mask uses
                          // it (and the command line has no option for it).
                          {[this](P& q) { q.minimumBlockSize = Position(minimumBlockSize_); }},
                          {kMaskDilationSetting, dilationRadius_},
                          {kMaskThresholdSetting, threshold_}});
}

}  // namespace tvq
