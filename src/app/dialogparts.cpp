#include "app/dialogparts.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

namespace tvq {

namespace {

// "Gauss rad:" -> "Gauss rad", the name a screen reader announces.
QString AccessibleFromLabel(QString label) {
  while (label.endsWith(':')) label.chop(1);
  return label.trimmed();
}

// An empty grid still reports one row.
int NextRow(const QGridLayout* grid) {
  return grid->count() == 0 ? 0 : grid->rowCount();
}

}  // namespace

QValidator::State UpDownSpinBox::validate(QString& text, int& pos) const {
  const QValidator::State state = QSpinBox::validate(text, pos);
  if (state != QValidator::Invalid) return state;
  bool isNumber = false;
  text.trimmed().toLongLong(&isNumber);
  return isNumber ? QValidator::Intermediate : QValidator::Invalid;
}

void UpDownSpinBox::fixup(QString& text) const {
  bool isNumber = false;
  const qlonglong value = text.trimmed().toLongLong(&isNumber);
  if (isNumber) text = QString::number(std::clamp<qlonglong>(value, minimum(), maximum()));
}

void UpDownSpinBox::stepBy(int steps) {
  // The up-down's own position is within its range, whatever the edit holds.
  const int position = std::clamp(value(), minimum(), StepMaximum());
  const qlonglong target = qlonglong(position) + qlonglong(steps) * singleStep();
  setValue(static_cast<int>(std::clamp<qlonglong>(target, minimum(), StepMaximum())));
  if (style()->styleHint(QStyle::SH_SpinBox_SelectOnStep, nullptr, this)) selectAll();
}

QAbstractSpinBox::StepEnabled UpDownSpinBox::stepEnabled() const {
  if (isReadOnly()) return StepNone;
  StepEnabled enabled = StepNone;
  if (value() < StepMaximum()) enabled |= StepUpEnabled;
  if (value() > minimum()) enabled |= StepDownEnabled;
  return enabled;
}

RadioGroup::RadioGroup(const QString& name, const QString& caption, const QStringList& items,
                       int itemIndex, QWidget* parent)
    : QGroupBox(caption, parent), buttons_(new QButtonGroup(this)) {
  setObjectName(name);
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(2);
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i], this);
    button->setObjectName(QStringLiteral("%1_%2").arg(name).arg(i));
    buttons_->addButton(button, i);
    layout->addWidget(button);
  }
  layout->addStretch(1);
  SetItemIndex(itemIndex);
}

int RadioGroup::ItemIndex() const {
  return buttons_->checkedId();
}

void RadioGroup::SetItemIndex(int index) {
  if (QAbstractButton* button = buttons_->button(index)) button->setChecked(true);
}

int RadioGroup::Count() const {
  return static_cast<int>(buttons_->buttons().size());
}

QRadioButton* RadioGroup::Item(int index) const {
  return qobject_cast<QRadioButton*>(buttons_->button(index));
}

SettingsDialog::SettingsDialog(const QString& name, const QString& title, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(name);
  setWindowTitle(title);
  setModal(true);
}

void SettingsDialog::Finish(QLayout* content) {
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("OKButton");
  ok->setDefault(true);
  ok->setAutoDefault(true);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("CancelButton");
  // Enter presses the focused button, so Enter on a focused "Cancel" cancels; once
  // the focus leaves it, "OK" is the default button again.
  cancel->setAutoDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);

  auto* outer = new QVBoxLayout(this);
  outer->addLayout(content);
  outer->addLayout(buttons);
  outer->setSizeConstraint(QLayout::SetFixedSize);
}

void SettingsDialog::AddRow(QGridLayout* grid, const QString& name, const QString& label,
                            QWidget* field, QLabel** labelOut) {
  const int row = NextRow(grid);
  auto* caption = new QLabel(label);
  caption->setObjectName(name + "Label");
  field->setAccessibleName(AccessibleFromLabel(label));
  field->setMaximumWidth(90);
  caption->setBuddy(field);
  grid->addWidget(caption, row, 0);
  grid->addWidget(field, row, 1);
  if (labelOut) *labelOut = caption;
}

QLineEdit* SettingsDialog::AddEdit(QGridLayout* grid, const QString& name, const QString& label,
                                   const QString& text, QLabel** labelOut) {
  auto* edit = new QLineEdit(text);
  edit->setObjectName(name);
  AddRow(grid, name, label, edit, labelOut);
  return edit;
}

UpDownSpinBox* SettingsDialog::AddUpDown(QGridLayout* grid, const QString& editName,
                                         const QString& upDownName, const QString& label,
                                         int minimum, int maximum, int position,
                                         QLabel** labelOut) {
  auto* spin = new UpDownSpinBox;
  spin->setObjectName(upDownName);
  spin->setRange(minimum, maximum);
  spin->setValue(position);
  if (QLineEdit* line = SpinEdit(spin)) {
    line->setObjectName(editName);
    line->setAccessibleName(AccessibleFromLabel(label));
  }
  AddRow(grid, editName, label, spin, labelOut);
  return spin;
}

UpDownSpinBox* SettingsDialog::AddUpDown(QGridLayout* grid, const QString& editName,
                                         const QString& upDownName, const SettingDesc& setting,
                                         int position, QLabel** labelOut) {
  return AddUpDown(grid, editName, upDownName, QString::fromUtf8(setting.caption),
                   static_cast<int>(setting.minimum), static_cast<int>(setting.maximum), position,
                   labelOut);
}

QLineEdit* SpinEdit(const QSpinBox* spin) {
  return spin->findChild<QLineEdit*>();
}

}  // namespace tvq
