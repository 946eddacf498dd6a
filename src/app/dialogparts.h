// Building blocks shared by the settings dialogs.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QSpinBox>
#include <QStringList>
#include <QValidator>
#include <QVariantMap>
#include <algorithm>
#include <exception>
#include <functional>
#include <limits>
#include <string>

#include "app/parsefloat.h"

#include "imaging/settingdesc.h"

class QButtonGroup;
class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace tvq {

// Radio buttons of one choice as keyboards and screen readers expect them: Tab
// reaches only the checked button, and the arrow keys move to the previous or next
// button and check it. Works on the buttons as they are (parent stays the owner).
void MakeRadioChoice(const QList<QRadioButton*>& buttons);

// A combo box whose accessible name is its own (its label's), not its current
// item's: screen readers read "Method, Local (default)" rather than the item twice.
class NamedComboBox : public QComboBox {
  Q_OBJECT

 public:
  explicit NamedComboBox(QWidget* parent = nullptr);
};

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

// A number typed into a field that does not parse: the message names the field's
// caption and the text.
class FieldError : public ParseFloatError {
 public:
  FieldError(const std::string& message, QWidget* field)
      : ParseFloatError(message), field_(field) {}
  QWidget* Field() const { return field_; }

 private:
  QWidget* field_;
};

// A modal settings dialog: fixed frame, no title-bar buttons, "OK" as the default
// button (Enter), "Cancel" as the cancel button (Escape) and "Defaults", which puts
// back the values the dialog was built with; centred on its parent.
class SettingsDialog : public QDialog {
  Q_OBJECT

 public:
  SettingsDialog(const QString& name, const QString& title, QWidget* parent);

  // Run when OK is pressed, before the dialog closes: what it throws (a number that
  // does not parse, a setting out of its range) is shown in a message box and the
  // dialog stays open with the field concerned selected, its text as typed.
  void SetCheck(std::function<void()> check) { check_ = std::move(check); }
  void accept() override;

  // The state of every named edit, spin box, check box, radio button and combo box,
  // by object name, and setting it back (names it does not know are ignored).
  QVariantMap Values() const;
  void SetValues(const QVariantMap& values);
  void RestoreDefaults() { SetValues(defaults_); }

  // The "Preview" check box of dialogs whose command can be previewed; nullptr in
  // the others.
  QCheckBox* PreviewBox() const { return preview_; }

 signals:
  // A value of any control changed (typed, clicked, or set by an assistive tool).
  void ValuesChanged();

 protected:
  // Puts the OK/Cancel/Defaults row below `content` (with "Preview" when
  // `preview`), fixes the dialog's size and takes the values shown as the defaults.
  void Finish(QLayout* content, bool preview = false);

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

 private:
  // The field a failure names, found by its accessible name.
  QWidget* FieldOf(const std::exception& error) const;

  std::function<void()> check_;
  QVariantMap defaults_;
  QCheckBox* preview_ = nullptr;
};

// The edit line inside a spin box (where the typed text is).
QLineEdit* SpinEdit(const QSpinBox* spin);

}  // namespace tvq
