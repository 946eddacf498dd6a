#include "app/dialogparts.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
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

// The accessible face of a NamedComboBox: its name, its current item as the value,
// and Press to open the list.
class NamedComboAccessible : public QAccessibleWidget {
 public:
  explicit NamedComboAccessible(QWidget* widget)
      : QAccessibleWidget(widget, QAccessible::ComboBox) {}

  QString text(QAccessible::Text t) const override {
    const auto* combo = static_cast<const QComboBox*>(widget());
    if (t == QAccessible::Value) return combo->currentText();
    if (t == QAccessible::Name && !combo->accessibleName().isEmpty())
      return combo->accessibleName();
    return QAccessibleWidget::text(t);
  }
  QStringList actionNames() const override {
    return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
  }
  void doAction(const QString& action) override {
    if (action == showMenuAction() || action == pressAction()) {
      static_cast<QComboBox*>(widget())->showPopup();
      return;
    }
    QAccessibleWidget::doAction(action);
  }
};

QAccessibleInterface* NamedComboFactory(const QString& key, QObject* object) {
  if (key == QLatin1String(NamedComboBox::staticMetaObject.className()) && object &&
      object->isWidgetType())
    return new NamedComboAccessible(static_cast<QWidget*>(object));
  return nullptr;
}

// The keys and focus of one choice of radio buttons (see MakeRadioChoice).
class RadioChoice : public QObject {
 public:
  RadioChoice(const QList<QRadioButton*>& buttons, QObject* parent)
      : QObject(parent), buttons_(buttons) {
    for (QRadioButton* button : buttons_) {
      button->installEventFilter(this);
      // A check made any way (click, key, assistive tool) moves the Tab stop.
      connect(button, &QAbstractButton::toggled, this, &RadioChoice::UpdateTabStop);
    }
    UpdateTabStop();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    int step = 0;
    if (key == Qt::Key_Down || key == Qt::Key_Right) step = 1;
    if (key == Qt::Key_Up || key == Qt::Key_Left) step = -1;
    const qsizetype at = buttons_.indexOf(static_cast<QRadioButton*>(watched));
    if (step == 0 || at < 0) return false;
    const qsizetype count = buttons_.size();
    for (qsizetype i = 1; i < count; ++i) {
      QRadioButton* next = buttons_[((at + step * i) % count + count) % count];
      if (!next->isEnabled() || !next->isVisible()) continue;
      next->setFocus(Qt::OtherFocusReason);
      next->click();
      break;
    }
    return true;
  }

 private:
  void UpdateTabStop() {
    const bool anyChecked = std::any_of(buttons_.begin(), buttons_.end(),
                                        [](const QRadioButton* b) { return b->isChecked(); });
    for (qsizetype i = 0; i < buttons_.size(); ++i) {
      const bool stop = anyChecked ? buttons_[i]->isChecked() : i == 0;
      buttons_[i]->setFocusPolicy(stop ? Qt::StrongFocus : Qt::ClickFocus);
    }
  }

  QList<QRadioButton*> buttons_;
};

}  // namespace

void MakeRadioChoice(const QList<QRadioButton*>& buttons) {
  if (buttons.isEmpty()) return;
  new RadioChoice(buttons, buttons.front()->parent());
}

NamedComboBox::NamedComboBox(QWidget* parent) : QComboBox(parent) {
  static const bool installed = [] {
    QAccessible::installFactory(NamedComboFactory);
    return true;
  }();
  (void)installed;
}

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
  QList<QRadioButton*> radios;
  for (QAbstractButton* button : buttons_->buttons()) radios << static_cast<QRadioButton*>(button);
  MakeRadioChoice(radios);
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

void SettingsDialog::Finish(QLayout* content, bool preview) {
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

  auto* defaults = new QPushButton("&Defaults", this);
  defaults->setObjectName("DefaultsButton");
  defaults->setAutoDefault(false);
  connect(defaults, &QPushButton::clicked, this, &SettingsDialog::RestoreDefaults);

  auto* buttons = new QHBoxLayout;
  if (preview) {
    preview_ = new QCheckBox("&Preview", this);
    preview_->setObjectName("PreviewCheck");
    preview_->setToolTip(
        "Runs the command on the part of the picture in view, before and after "
        "side by side in the window");
    buttons->addWidget(preview_);
  }
  buttons->addWidget(defaults);
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);

  auto* outer = new QVBoxLayout(this);
  outer->addLayout(content);
  outer->addLayout(buttons);
  outer->setSizeConstraint(QLayout::SetFixedSize);
  defaults_ = Values();
  for (QWidget* w : findChildren<QWidget*>()) {
    if (w == preview_) continue;
    if (auto* line = qobject_cast<QLineEdit*>(w)) {
      connect(line, &QLineEdit::textChanged, this, &SettingsDialog::ValuesChanged);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      if (button->isCheckable())
        connect(button, &QAbstractButton::toggled, this, &SettingsDialog::ValuesChanged);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
      connect(combo, &QComboBox::currentIndexChanged, this, &SettingsDialog::ValuesChanged);
    }
  }
}

void SettingsDialog::accept() {
  if (!check_) {
    QDialog::accept();
    return;
  }
  QString message;
  QWidget* field = nullptr;
  try {
    check_();
    QDialog::accept();
    return;
  } catch (const FieldError& e) {
    message = QString::fromUtf8(e.what());
    field = e.Field();
  } catch (const std::exception& e) {
    message = QString::fromUtf8(e.what());
    field = FieldOf(e);
  }
  QMessageBox box(QMessageBox::Warning, "Error", message, QMessageBox::Ok, this);
  box.setObjectName("SettingErrorBox");
  box.exec();
  if (!field) return;
  // Back to the field, its text selected to be typed over.
  field->setFocus(Qt::OtherFocusReason);
  if (auto* line = qobject_cast<QLineEdit*>(field)) line->selectAll();
  if (auto* spin = qobject_cast<QSpinBox*>(field)) spin->selectAll();
}

QWidget* SettingsDialog::FieldOf(const std::exception& error) const {
  // A refused setting's message starts with its caption ("Factor: ...").
  const QString message = QString::fromUtf8(error.what());
  QWidget* best = nullptr;
  qsizetype bestLength = 0;
  for (QWidget* w : findChildren<QWidget*>()) {
    if (!qobject_cast<QLineEdit*>(w) && !qobject_cast<QSpinBox*>(w)) continue;
    if (qobject_cast<QAbstractSpinBox*>(w->parentWidget())) continue;
    const QString name = w->accessibleName();
    if (!name.isEmpty() && message.startsWith(name + ":") && name.size() > bestLength) {
      best = w;
      bestLength = name.size();
    }
  }
  return best;
}

QVariantMap SettingsDialog::Values() const {
  QVariantMap values;
  for (QWidget* w : findChildren<QWidget*>()) {
    const QString name = w->objectName();
    if (name.isEmpty() || name.startsWith("qt_")) continue;
    if (auto* spin = qobject_cast<QSpinBox*>(w)) {
      values[name] = SpinEdit(spin)->text();
    } else if (auto* line = qobject_cast<QLineEdit*>(w)) {
      if (!qobject_cast<QAbstractSpinBox*>(line->parentWidget())) values[name] = line->text();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      if (button->isCheckable()) values[name] = button->isChecked();
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
      values[name] = combo->currentIndex();
    }
  }
  return values;
}

void SettingsDialog::SetValues(const QVariantMap& values) {
  // Check boxes and choices first: toggling one may set an edit, which then gets
  // the value it had.
  const QList<QWidget*> widgets = findChildren<QWidget*>();
  for (QWidget* w : widgets) {
    const auto value = values.find(w->objectName());
    if (w->objectName().isEmpty() || value == values.end()) continue;
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      if (!button->isCheckable()) continue;
      // A radio button is unchecked by checking another.
      if (value->toBool() || !qobject_cast<QRadioButton*>(w)) button->setChecked(value->toBool());
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
      bool ok = false;
      const int index = value->toInt(&ok);
      if (ok && index >= 0 && index < combo->count()) combo->setCurrentIndex(index);
    }
  }
  for (QWidget* w : widgets) {
    const auto value = values.find(w->objectName());
    if (w->objectName().isEmpty() || value == values.end()) continue;
    if (auto* spin = qobject_cast<QSpinBox*>(w)) {
      bool ok = false;
      const int number = value->toString().trimmed().toInt(&ok);
      if (ok) spin->setValue(std::clamp(number, spin->minimum(), spin->maximum()));
      // The text as it was typed, which may lie beyond the up-down's range.
      SpinEdit(spin)->setText(value->toString());
    } else if (auto* line = qobject_cast<QLineEdit*>(w)) {
      if (!qobject_cast<QAbstractSpinBox*>(line->parentWidget())) line->setText(value->toString());
    }
  }
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
