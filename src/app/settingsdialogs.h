// The three settings dialogs of the long commands and the reading of their values.
//
// Every command creates a fresh dialog on the defaults (the member defaults of the
// parameter structs), which then shows the values last accepted when the
// application remembers them (SettingsDialog::SetValues); "Defaults" brings the
// defaults back. The dialog is read when OK is pressed, and closes only once every
// value reads and is within its range. Numbers typed into edit boxes are read with
// ParseFloat (ParseFloatError when one does not parse); edit boxes bound to an
// up-down control are read as the up-down's position.
#pragma once

#include <cstdint>
#include <optional>

#include "app/dialogparts.h"
#include "app/sizegroup.h"
#include "commands/sizes.h"
#include "deringing/dering.h"
#include "deringing/edgemask.h"
#include "superres/resample.h"
#include "utility/resize.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace tvq {

// "Resampling Settings" (TForm3).
class ResamplingSettingsDialog : public SettingsDialog {
  Q_OBJECT

 public:
  explicit ResamplingSettingsDialog(QWidget* parent = nullptr);

  // The values in the order the command reads them: BTV base, Gauss rad, Maximum,
  // MinFactor, Norm, Initial step, Factor, Iterations (its text, truncated toward
  // zero and kept within 0..kMaxIterations; only the up-down stops at 200), ThreshMin, ThreshMax,
  // the check boxes, the initial approximation, the stabilizer, the convergence mode.
  ResampleParams Read() const;

  // The "Output size" group: the size of the displayed picture, and the size asked
  // for (std::nullopt: twice the input, as the commands have always made it).
  void SetInputSize(int width, int height);
  std::optional<OutputSizeParams> ReadSize() const;

 private:
  void NoRegularizationToggled(bool checked);
  void AdvancedFeaturesToggled(bool checked);
  // The controls that "No regularization" disables and enables again.
  QList<QWidget*> SolverControls() const;

  RadioGroup* stabilizer_;
  RadioGroup* initial_;
  QRadioButton* fixedSteps_;
  QRadioButton* exponential_;
  QRadioButton* conditional_;
  QLineEdit* initialStep_;
  QLineEdit* factor_;
  QSpinBox* iterations_;
  QLineEdit* maximum_;
  QLineEdit* minFactor_;
  QLineEdit* threshMin_;
  QLineEdit* threshMax_;
  QLabel* minFactorLabel_;
  QLabel* threshMinLabel_;
  QLabel* threshMaxLabel_;
  QLineEdit* btvBase_;
  QLineEdit* gaussRadius_;
  QLineEdit* norm_;
  QGroupBox* fractalGroup_;
  QCheckBox* fractalEnabled_;
  QCheckBox* showIterated_;
  QCheckBox* noRegularization_;
  QCheckBox* advancedFeatures_;
  QSpinBox* upDown2_;
  OutputSizeGroup* size_;
  // The iteration count shown before "No regularization" was checked.
  int rememberedIterations_ = 0;
};

// "Deringing Settings" (TForm4).
class DeringingSettingsDialog : public SettingsDialog {
  Q_OBJECT

 public:
  explicit DeringingSettingsDialog(QWidget* parent = nullptr);

  // Method index, initial index, iterations, factor.
  DeringParams Read() const;

 private:
  QComboBox* method_;
  QComboBox* initial_;
  QLineEdit* factor_;
  QSpinBox* iterations_;
};

// "Edge Mask Settings" (TForm5).
class EdgeMaskSettingsDialog : public SettingsDialog {
  Q_OBJECT

 public:
  explicit EdgeMaskSettingsDialog(QWidget* parent = nullptr);

  // Measurement, Gauss rad, Filter rad, Multiplier, Noise Level, Gauss smooth rad,
  // Minimum block size (kept, unused), Dilation radius, Threshold %.
  EdgeMaskParams Read() const;

 private:
  RadioGroup* measurement_;
  QLineEdit* gaussRadius_;
  QSpinBox* filterRadius_;
  QLineEdit* multiplier_;
  QLineEdit* noiseLevel_;
  QSpinBox* minimumBlockSize_;
  QSpinBox* dilationRadius_;
  QLineEdit* smoothRadius_;
  QLineEdit* threshold_;
};

// What the Resize dialog asks for: the output size and the filter.
struct ResizeSettings {
  OutputSizeParams size;
  ResizeFilter filter = static_cast<ResizeFilter>(kResizeFilterSetting.defaultIndex);
  // The size was checked as it was read; nothing is left to refuse.
  void Validate() const {}
};

// "Resize": the output size (a scale of 2 by default) and the filter.
class ResizeDialog : public SettingsDialog {
  Q_OBJECT

 public:
  explicit ResizeDialog(QWidget* parent = nullptr);

  void SetInputSize(int width, int height);
  ResizeSettings Read() const;

 private:
  OutputSizeGroup* size_;
  QComboBox* filter_;
};

// A default number as a dialog shows it: the shortest text that reads back as the
// value, with ".0" appended to whole numbers when pointZero ("5.0" but "15").
QString DefaultText(double value, bool pointZero);
QString DefaultText(float value, bool pointZero);

}  // namespace tvq
