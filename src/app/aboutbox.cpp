#include "app/aboutbox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "buildversion.h"

namespace tvq {

AboutBox::AboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName("TForm2");
  setWindowTitle("About");
  setModal(true);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 18, 24, 12);
  const char* lines[] = {"Image Resampling by Superresolution", "Image deringing bt TVQ method",
                         "Version " TVQ_VERSION_TEXT};
  int n = 1;
  for (const char* line : lines) {
    auto* label = new QLabel(line, this);
    label->setObjectName(QStringLiteral("Label%1").arg(n++));
    label->setAlignment(Qt::AlignHCenter);
    layout->addWidget(label);
  }
  layout->addSpacing(10);
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("OKButton");
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace tvq
