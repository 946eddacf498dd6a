#include "app/sizegroup.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <exception>

#include "app/dialogparts.h"
#include "app/parsefloat.h"

namespace tvq {

namespace {

// A label with a mnemonic in the grid's next row, its field beside it as its buddy;
// the field is announced by the label's words.
void AddLabelled(QGridLayout* grid, const QString& name, const QString& label,
                 const QString& spoken, QWidget* field) {
  const int row = grid->rowCount();
  auto* caption = new QLabel(label);
  caption->setObjectName(name + "Label");
  caption->setBuddy(field);
  field->setObjectName(name);
  field->setAccessibleName(spoken);
  field->setMaximumWidth(90);
  grid->addWidget(caption, row, 0);
  grid->addWidget(field, row, 1);
}

QSpinBox* SideBox() {
  auto* box = new QSpinBox;
  box->setRange(1, 65535);
  box->setSuffix(" px");
  return box;
}

}  // namespace

OutputSizeGroup::OutputSizeGroup(bool enlarging, QWidget* parent)
    : QGroupBox("Output size", parent), enlarging_(enlarging) {
  setObjectName("OutputSizeGroup");
  auto* grid = new QGridLayout(this);
  grid->setColumnStretch(0, 1);
  byScale_ = new QRadioButton("By s&cale", this);
  byScale_->setObjectName("SizeByScale");
  byScale_->setChecked(true);
  grid->addWidget(byScale_, 0, 0, 1, 2);
  scale_ = new QLineEdit("2", this);
  AddLabelled(grid, "SizeScaleEdit", "&Scale:", "Scale", scale_);
  bySize_ = new QRadioButton("By si&ze", this);
  bySize_->setObjectName("SizeBySize");
  grid->addWidget(bySize_, grid->rowCount(), 0, 1, 2);
  width_ = SideBox();
  AddLabelled(grid, "SizeWidth", "&Width:", "Width", width_);
  height_ = SideBox();
  AddLabelled(grid, "SizeHeight", "&Height:", "Height", height_);
  keepAspect_ = new QCheckBox("&Keep aspect ratio", this);
  keepAspect_->setObjectName("SizeKeepAspect");
  keepAspect_->setChecked(true);
  grid->addWidget(keepAspect_, grid->rowCount(), 0, 1, 2);
  result_ = new QLabel(this);
  result_->setObjectName("SizeResult");
  result_->setWordWrap(true);
  result_->setMinimumWidth(180);
  grid->addWidget(result_, grid->rowCount(), 0, 1, 2);
  MakeRadioChoice({byScale_, bySize_});

  // Every change counts, typed, clicked or set through an assistive tool.
  connect(byScale_, &QRadioButton::toggled, this, [this] { UpdateState(); });
  connect(scale_, &QLineEdit::textChanged, this, [this] { UpdateState(); });
  connect(keepAspect_, &QCheckBox::toggled, this, [this] {
    FollowAspect();
    UpdateState();
  });
  for (QSpinBox* side : {width_, height_}) {
    connect(side, &QSpinBox::valueChanged, this, [this, side] {
      if (following_) return;
      heightLeads_ = side == height_;
      FollowAspect();
      UpdateState();
    });
  }
  UpdateState();
}

void OutputSizeGroup::SetInputSize(int width, int height) {
  inputWidth_ = width;
  inputHeight_ = height;
  FollowAspect();
  UpdateState();
}

OutputSizeParams OutputSizeGroup::Params() const {
  OutputSizeParams params;
  params.enlarging = enlarging_;
  if (byScale_->isChecked()) {
    try {
      params.scale = ParseFloat(scale_->text().toStdString());
    } catch (const ParseFloatError&) {
      throw FieldError(
          QStringLiteral("Scale: \"%1\" is not a number.").arg(scale_->text()).toStdString(),
          scale_);
    }
  } else if (keepAspect_->isChecked()) {
    params.geometry = Geometry{.width = heightLeads_ ? 0 : width_->value(),
                               .height = heightLeads_ ? height_->value() : 0};
  } else {
    params.geometry = Geometry{.width = width_->value(), .height = height_->value(), .exact = true};
  }
  params.Validate();
  return params;
}

std::optional<OutputSizeParams> OutputSizeGroup::Read() const {
  const OutputSizeParams params = Params();
  if (enlarging_ && params.scale == 2.0) return std::nullopt;
  return params;
}

QString OutputSizeGroup::ResultText() const {
  try {
    const OutputSizeParams params = Params();
    if (inputWidth_ <= 0 || inputHeight_ <= 0) return {};
    const OutputSize size = ComputeOutputSize(params, inputWidth_, inputHeight_);
    return QStringLiteral("Result: %1 x %2 pixels").arg(size.width).arg(size.height);
  } catch (const std::exception& e) {
    return QString::fromStdString(e.what());
  }
}

void OutputSizeGroup::FollowAspect() {
  if (inputWidth_ <= 0 || inputHeight_ <= 0) return;
  // By scale the sides show the scaled size; by size with the aspect kept, the side
  // not typed last follows the one that was.
  if (!byScale_->isChecked() && !keepAspect_->isChecked()) return;
  OutputSize size;
  try {
    size = ComputeOutputSize(Params(), inputWidth_, inputHeight_);
  } catch (const std::exception&) {
    return;  // nothing to follow until the values make a size
  }
  following_ = true;
  width_->setValue(size.width);
  height_->setValue(size.height);
  following_ = false;
}

void OutputSizeGroup::UpdateState() {
  const bool scaled = byScale_->isChecked();
  scale_->setEnabled(scaled);
  for (QWidget* w : std::initializer_list<QWidget*>{width_, height_, keepAspect_})
    w->setEnabled(!scaled);
  if (scaled) FollowAspect();
  result_->setText(ResultText());
}

}  // namespace tvq
