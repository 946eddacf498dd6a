// The "Output size" group of the dialogs of the commands that change a picture's size:
// a scale, or a width and height with "Keep aspect ratio", and a line that shows the
// result's size for the displayed picture as the values are typed.
#pragma once

#include <QGroupBox>
#include <optional>

#include "commands/sizes.h"

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace tvq {

class OutputSizeGroup : public QGroupBox {
  Q_OBJECT

 public:
  // `enlarging`: the resampling commands (a scale above 1, results not smaller than
  // the input); otherwise resize (both directions).
  explicit OutputSizeGroup(bool enlarging, QWidget* parent = nullptr);

  // The size of the picture the command will run on; the result line follows it, and
  // so does the side that "Keep aspect ratio" derives.
  void SetInputSize(int width, int height);

  // The size asked for; std::nullopt for the scale of 2 of the enlarging commands
  // (their own size: today's result, by today's route). Throws FieldError for a
  // scale that does not parse and SettingError for one out of range.
  std::optional<OutputSizeParams> Read() const;

  // "Result: 1536 x 1024", or what is wrong with the values.
  QString ResultText() const;

  QLineEdit* ScaleEdit() const { return scale_; }
  QSpinBox* WidthBox() const { return width_; }
  QSpinBox* HeightBox() const { return height_; }

 private:
  // The params as typed, without the nullopt shortcut.
  OutputSizeParams Params() const;
  void UpdateState();
  // With "Keep aspect ratio": the other side from the one typed last.
  void FollowAspect();

  const bool enlarging_;
  int inputWidth_ = 0;
  int inputHeight_ = 0;
  bool heightLeads_ = false;  // the height was typed last
  bool following_ = false;    // FollowAspect is setting a side
  QRadioButton* byScale_;
  QRadioButton* bySize_;
  QLineEdit* scale_;
  QSpinBox* width_;
  QSpinBox* height_;
  QCheckBox* keepAspect_;
  QLabel* result_;
};

}  // namespace tvq
