// The About box.
#pragma once

#include <QDialog>

namespace tvq {

// "About" (TForm2): three lines and an "OK" button; modal, no title-bar buttons,
// centred on its parent. Created for each showing.
class AboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit AboutBox(QWidget* parent = nullptr);
};

}  // namespace tvq
