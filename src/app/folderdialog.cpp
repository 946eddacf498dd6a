#include "app/folderdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "imaging/io/picture.h"

namespace tvq {

namespace {

constexpr const char* kCaptions[] = {
    "Resampling", "Resampling + Deringing", "Resampling + Masked Deringing",
    "Deringing",  "Masked Deringing",       "Resize"};

// A label with a mnemonic, its field as buddy, and an optional button after the field.
void AddFolderRow(QGridLayout* grid, const QString& name, const QString& label,
                  const QString& spoken, QWidget* field, QWidget* button = nullptr) {
  const int row = grid->rowCount();
  auto* caption = new QLabel(label);
  caption->setObjectName(name + "Label");
  caption->setBuddy(field);
  field->setObjectName(name);
  field->setAccessibleName(spoken);
  grid->addWidget(caption, row, 0);
  grid->addWidget(field, row, 1);
  if (button) grid->addWidget(button, row, 2);
}

}  // namespace

QString ProcessFolderDialog::CommandCaption(FolderCommand command) {
  return kCaptions[static_cast<int>(command)];
}

ProcessFolderDialog::ProcessFolderDialog(QWidget* parent)
    : SettingsDialog("ProcessFolderDialog", "Process Folder", parent) {
  auto* grid = new QGridLayout;
  input_ = new QLineEdit(this);
  input_->setMinimumWidth(320);
  auto* browseInput = new QPushButton("B&rowse...", this);
  browseInput->setObjectName("BrowseInput");
  browseInput->setAutoDefault(false);
  AddFolderRow(grid, "InputFolder", "&Folder:", "Folder", input_, browseInput);
  command_ = new NamedComboBox(this);
  for (const char* caption : kCaptions) command_->addItem(caption);
  AddFolderRow(grid, "FolderCommand", "&Command:", "Command", command_);
  output_ = new QLineEdit(this);
  auto* browseOutput = new QPushButton("Bro&wse...", this);
  browseOutput->setObjectName("BrowseOutput");
  browseOutput->setAutoDefault(false);
  AddFolderRow(grid, "OutputFolder", "&Output folder:", "Output folder", output_, browseOutput);
  format_ = new NamedComboBox(this);
  format_->addItem("Each file's own");
  for (const std::string& extension : PictureExtensions())
    format_->addItem(QString::fromStdString(extension));
  AddFolderRow(grid, "FolderFormat", "F&ormat:", "Format", format_);
  skipExisting_ = new QCheckBox("&Skip files whose result exists", this);
  skipExisting_->setObjectName("SkipExisting");
  grid->addWidget(skipExisting_, grid->rowCount(), 0, 1, 3);
  auto* note = new QLabel(
      "Pictures in the folder and its subfolders are processed one by one; each result "
      "keeps its name and place below the output folder. The command's settings are asked "
      "next.",
      this);
  note->setObjectName("FolderNote");
  note->setWordWrap(true);
  auto* content = new QVBoxLayout;
  content->addLayout(grid);
  content->addWidget(note);
  Finish(content, false);

  connect(browseInput, &QPushButton::clicked, this, [this] {
    const QString folder = Browse("Folder of pictures", input_->text());
    if (!folder.isEmpty()) input_->setText(folder);
  });
  connect(browseOutput, &QPushButton::clicked, this, [this] {
    const QString folder = Browse("Output folder", output_->text());
    if (!folder.isEmpty()) output_->setText(folder);
  });
}

QString ProcessFolderDialog::Browse(const QString& caption, const QString& start) {
  return QFileDialog::getExistingDirectory(this, caption, start);
}

FolderRequest ProcessFolderDialog::Read() const {
  FolderRequest request;
  request.inputFolder = input_->text().trimmed();
  request.outputFolder = output_->text().trimmed();
  if (request.inputFolder.isEmpty())
    throw FieldError("Folder: choose the folder of pictures to process.", input_);
  if (!QFileInfo(request.inputFolder).isDir())
    throw FieldError(
        QStringLiteral("Folder: \"%1\" is not a folder.").arg(request.inputFolder).toStdString(),
        input_);
  if (request.outputFolder.isEmpty())
    throw FieldError("Output folder: choose where the results go.", output_);
  const QFileInfo out(request.outputFolder);
  if (out.exists() && !out.isDir())
    throw FieldError(QStringLiteral("Output folder: \"%1\" is a file, not a folder.")
                         .arg(request.outputFolder)
                         .toStdString(),
                     output_);
  request.command = static_cast<FolderCommand>(command_->currentIndex());
  if (format_->currentIndex() > 0) request.extension = format_->currentText();
  request.skipExisting = skipExisting_->isChecked();
  return request;
}

}  // namespace tvq
