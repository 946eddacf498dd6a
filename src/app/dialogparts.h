// Building blocks shared by the settings dialogs.
#pragma once

#include <QDialog>
#include <QGroupBox>
#include <QSpinBox>
#include <QStringList>
#include <QValidator>
#include <algorithm>
#include <limits>

#include "imaging/settingdesc.h"

class QButtonGroup;
class QGridLayout;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace tvq {

// A captioned group of radio buttons of which exactly one is checked; items are
// numbered from 0.
class RadioGroup : public QGroupBox {
  Q_OBJECT

 public:
  RadioGroup(const QString& name, const QString& caption, const QStringList& items, int itemIndex,
             QWidget* parent = nullptr);

  int ItemIndex() const;
  void SetItemIndex(int index);
  int Count() const;
  QRadioButton* Item(int index) const;

 private:
  QButtonGroup* buttons_;
};

// The spin box of an edit bound to an up-down control: a number typed beyond the
// range is accepted while typing and brought into the range when the edit is
// left (or the dialog confirmed), instead of refusing the keystroke.
//
// An edit may accept more than its up-down reaches: with SetStepMaximum, the
// arrows (keys, buttons, wheel) stop there while typed numbers up to maximum()
// stay as typed.
class UpDownSpinBox : public QSpinBox {
  Q_OBJECT

 public:
  using QSpinBox::QSpinBox;

  void SetStepMaximum(int stepMaximum) { stepMaximum_ = stepMaximum; }
  int StepMaximum() const { return std::min(stepMaximum_, maximum()); }

  void stepBy(int steps) override;

 protected:
  QValidator::State validate(QString& text, int& pos) const override;
  void fixup(QString& text) const override;
  StepEnabled stepEnabled() const override;

 private:
  int stepMaximum_ = std::numeric_limits<int>::max();
};

// A modal settings dialog: fixed frame, no title-bar buttons, "OK" as the default
// button (Enter) and "Cancel" as the cancel button (Escape); centred on its parent.
class SettingsDialog : public QDialog {
  Q_OBJECT

 public:
  SettingsDialog(const QString& name, const QString& title, QWidget* parent);

 protected:
  // Puts the OK/Cancel row below `content` and fixes the dialog's size.
  void Finish(QLayout* content);

  // Puts `field` in the next row of grid after its label, which is named `name` +
  // "Label", is its buddy and gives it its accessible name.
  static void AddRow(QGridLayout* grid, const QString& name, const QString& label, QWidget* field,
                     QLabel** labelOut);
  // A labelled edit box in the next row of grid; the label is its buddy.
  static QLineEdit* AddEdit(QGridLayout* grid, const QString& name, const QString& label,
                            const QString& text, QLabel** labelOut = nullptr);
  // A labelled edit box bound to an up-down control, as one spin box: the spin box
  // carries the up-down's name, its edit line the edit's name.
  static UpDownSpinBox* AddUpDown(QGridLayout* grid, const QString& editName,
                                  const QString& upDownName, const QString& label, int minimum,
                                  int maximum, int position, QLabel** labelOut = nullptr);
  // The same for a whole-number setting: its caption as the label, its range as the
  // up-down's.
  static UpDownSpinBox* AddUpDown(QGridLayout* grid, const QString& editName,
                                  const QString& upDownName, const SettingDesc& setting,
                                  int position, QLabel** labelOut = nullptr);
};

// The edit line inside a spin box (where the typed text is).
QLineEdit* SpinEdit(const QSpinBox* spin);

}  // namespace tvq
