// The main window's file commands: open, reload, save, clipboard, paste and drop.
#include "app/mainwindow.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <exception>
#include <optional>

#include "app/failure.h"
#include "app/picture.h"
#include "app/progresspanel.h"
#include "app/settings.h"
#include "imaging/io/bmp.h"
#include "imaging/io/picture.h"

namespace tvq {

namespace {

// The format a file name's extension names; a name without extension names none.
std::optional<PictureFormat> FormatOfName(const QString& path) {
  const QString suffix = QFileInfo(path).suffix();
  if (suffix.isEmpty()) return std::nullopt;
  return FormatFromExtension(("picture." + suffix).toStdString());
}

// The first local picture file among dropped URLs, or an empty string.
QString DroppedPicture(const QMimeData* mime) {
  if (!mime || !mime->hasUrls()) return QString();
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile() && FormatOfName(url.toLocalFile())) return url.toLocalFile();
  }
  return QString();
}

// "*.png *.jpg ..." for the extensions of one format, or of all when format is unset.
QString Patterns(std::optional<PictureFormat> format) {
  QStringList patterns;
  for (const std::string& extension : PictureExtensions()) {
    if (!format || FormatFromExtension(extension) == format)
      patterns << "*" + QString::fromStdString(extension);
  }
  return patterns.join(' ');
}

// One filter per format other than BMP, whose filter each dialog names itself.
QStringList OtherFormatFilters() {
  QStringList filters;
  for (PictureFormat format : {PictureFormat::kPng, PictureFormat::kJpeg, PictureFormat::kTiff,
                               PictureFormat::kWebp, PictureFormat::kPfm}) {
    filters << QStringLiteral("%1 (%2)").arg(PictureFormatName(format), Patterns(format));
  }
  return filters;
}

QString AllPicturesFilter() {
  return "All pictures (" + Patterns(std::nullopt) + ")";
}

// "13x7", and a note when the file's samples are deeper than the displayed bytes.
QString OpenedStatus(const Bitmap& picture, const PictureExtras& extras) {
  QString status = QStringLiteral("%1x%2").arg(picture.Width()).arg(picture.Height());
  if (extras.format && *extras.format != PictureFormat::kBmp && extras.bitsPerChannel > 8)
    status += QStringLiteral(", %1 bits per channel are shown and processed as 8")
                  .arg(extras.bitsPerChannel);
  return status;
}

// A file name as the file system spells it.
std::string LocalPath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

}  // namespace

QString MainWindow::AskOpenPath() {
  const QStringList filters =
      QStringList{AllPicturesFilter(), "BMP (*.bmp)"} + OtherFormatFilters();
  const QString folder = settings_ ? LastFolder(*settings_, FileFolder::kOpen) : QString();
  return QFileDialog::getOpenFileName(this, "Open", folder, filters.join(";;"));
}

QString MainWindow::AskSavePath() {
  const QStringList filters =
      QStringList{"Bitmap (*.bmp)"} + OtherFormatFilters() + QStringList{AllPicturesFilter()};
  QString selected;
  // SaveAs asks before replacing a file, once the name is complete. A name without
  // extension gets the one of the chosen format's filter, except for the bitmap and
  // all-pictures filters, whose names stay as typed (and are written as bitmaps).
  const QString folder = settings_ ? LastFolder(*settings_, FileFolder::kSave) : QString();
  QString path = QFileDialog::getSaveFileName(this, "Save As", folder, filters.join(";;"),
                                              &selected, QFileDialog::DontConfirmOverwrite);
  const int chosen = filters.indexOf(selected);
  if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty() && chosen > 0 &&
      chosen < filters.size() - 1) {
    // "PNG (*.png)": the first pattern's extension.
    const QString pattern = selected.section('(', 1).section(' ', 0, 0).remove(')');
    path += pattern.mid(1);
  }
  return path;
}

DisplayedPicture MainWindow::LoadPicture(const QString& path, PictureExtras& extras) {
  tvq::Picture file = ReadPicture(LocalPath(path));
  extras = PictureExtras();
  extras.icc = std::move(file.icc);
  extras.format = file.format;
  extras.bitsPerChannel = file.bitsPerChannel;
  return DisplayFilePicture(std::move(file));
}

bool MainWindow::ShowFile(const QString& path, const QString& caption, const QString& failure) {
  try {
    PictureExtras extras;
    DisplayedPicture shown = LoadPicture(path, extras);
    ShowDisplayed(std::move(shown), std::move(extras));
  } catch (...) {
    ShowFailure(std::current_exception(), {failure + " " + path, caption});
    return false;
  }
  unsaved_ = false;
  return true;
}

bool MainWindow::OpenFile(const QString& path) {
  if (runner_.Running()) return false;
  PictureState before = CurrentState();
  if (!ShowFile(path, "Open", "Opening")) return false;
  reloadAvailable_ = true;
  lastFileName_ = path;
  RememberOpenedFile(path);
  PushHistory(std::move(before));
  ShowProgress(OpenedStatus(picture_, extras_), 0, 100);
  return true;
}

bool MainWindow::ReloadFile() {
  if (runner_.Running() || !reloadAvailable_) return false;
  PictureState before = CurrentState();
  if (!ShowFile(lastFileName_, "Reload", "Reloading")) return false;
  PushHistory(std::move(before));
  return true;
}

bool MainWindow::SaveFile(const QString& path) {
  // A name without extension is written as a bitmap, as it always was.
  const std::optional<PictureFormat> format =
      QFileInfo(path).suffix().isEmpty() ? PictureFormat::kBmp : FormatOfName(path);
  if (!format) {
    QStringList extensions;
    for (const std::string& extension : PictureExtensions())
      extensions << QString::fromStdString(extension);
    ShowMessage(QStringLiteral("%1: the extension names no supported format. Use one of %2.")
                    .arg(path, extensions.join(", ")),
                "Save As", true);
    return false;
  }
  try {
    if (*format == PictureFormat::kBmp) {
      // The picture's own depth, byte for byte as always.
      WriteBmp(picture_, LocalPath(path));
    } else {
      WritePicture(FilePictureOf(picture_, extras_), LocalPath(path));
    }
  } catch (...) {
    ShowFailure(std::current_exception(), {"Saving " + path, "Save As"});
    return false;
  }
  unsaved_ = false;
  if (!extras_.alpha.empty() && !FormatHoldsAlpha(*format))
    panel_->ShowText(QStringLiteral("Saved without the alpha channel, which %1 cannot hold")
                         .arg(PictureFormatName(*format)));
  return true;
}

bool MainWindow::PasteFromClipboard() {
  if (runner_.Running()) return false;
  const QMimeData* mime = QApplication::clipboard()->mimeData();
  const QImage image =
      mime && mime->hasImage() ? qvariant_cast<QImage>(mime->imageData()) : QImage();
  if (image.isNull()) {
    ShowMessage("The clipboard holds no picture.", "Paste", true);
    return false;
  }
  PictureState before = CurrentState();
  try {
    PictureExtras extras;
    DisplayedPicture shown = DisplayClipboardImage(image, &extras.icc);
    ShowDisplayed(std::move(shown), std::move(extras));
  } catch (...) {
    ShowFailure(std::current_exception(), {"Paste"});
    return false;
  }
  unsaved_ = true;
  PushHistory(std::move(before));
  ShowProgress(OpenedStatus(picture_, extras_), 0, 100);
  return true;
}

void MainWindow::Open() {
  const QString path = AskOpenPath();
  if (!path.isEmpty() && OpenFile(path) && settings_)
    SetLastFolder(*settings_, FileFolder::kOpen, path);
}

void MainWindow::Reload() {
  ReloadFile();
}

bool MainWindow::SaveAs() {
  const QString path = AskSavePath();
  if (path.isEmpty()) return false;
  if (QFileInfo::exists(path) && !ConfirmOverwrite(path)) return false;
  if (!SaveFile(path)) return false;
  if (settings_) SetLastFolder(*settings_, FileFolder::kSave, path);
  return true;
}

void MainWindow::CopyToClipboard() {
  QApplication::clipboard()->setImage(BitmapToQImage(picture_));
}

void MainWindow::Paste() {
  PasteFromClipboard();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!runner_.Running() && !DroppedPicture(event->mimeData()).isEmpty())
    event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QString path = DroppedPicture(event->mimeData());
  if (path.isEmpty() || runner_.Running()) return;
  event->acceptProposedAction();
  OpenFile(path);
}

}  // namespace tvq
