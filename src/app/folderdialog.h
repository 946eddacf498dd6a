// "Process Folder": the folder of pictures, the command, the output folder and the
// format of the results.
#pragma once

#include <QString>

#include "app/dialogparts.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace tvq {

// The commands a folder can go through, in the order of the dialog's list.
enum class FolderCommand : int {
  kResampling,
  kResamplingDeringing,
  kResamplingMaskedDeringing,
  kDeringing,
  kMaskedDeringing,
  kResize,
};

struct FolderRequest {
  QString inputFolder;
  QString outputFolder;
  FolderCommand command = FolderCommand::kResampling;
  QString extension;  // ".png"; empty: each file's own
  bool skipExisting = false;
};

class ProcessFolderDialog : public SettingsDialog {
  Q_OBJECT

 public:
  explicit ProcessFolderDialog(QWidget* parent = nullptr);

  // The request as the dialog shows it; throws FieldError for a folder field that is
  // empty, an input folder that does not exist, or an output folder that is a file.
  FolderRequest Read() const;

  // The command's caption in the list ("Resampling + Deringing").
  static QString CommandCaption(FolderCommand command);

 private:
  QString Browse(const QString& caption, const QString& start);

  QLineEdit* input_;
  QLineEdit* output_;
  QComboBox* command_;
  QComboBox* format_;
  QCheckBox* skipExisting_;
};

}  // namespace tvq
