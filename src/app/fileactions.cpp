// The main window's file commands: open, reload, save, clipboard, paste and drop.
#include "app/mainwindow.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <exception>
#include <optional>

#include "app/failure.h"
#include "app/picture.h"
#include "app/progresspanel.h"
#include "app/settings.h"
#include "app/statusbar.h"
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

// The local picture files among URLs (dropped, or copied in a file manager).
QStringList PictureFiles(const QList<QUrl>& urls) {
  QStringList files;
  for (const QUrl& url : urls) {
    if (url.isLocalFile() && FormatOfName(url.toLocalFile())) files << url.toLocalFile();
  }
  return files;
}

QStringList DroppedPictures(const QMimeData* mime) {
  if (!mime || !mime->hasUrls()) return {};
  return PictureFiles(mime->urls());
}

// "JPEG (*.jpg *.jpeg)".
QString FilterText(const PictureFileFilter& filter) {
  return QStringLiteral("%1 (%2)").arg(QString::fromStdString(filter.name),
                                       QString::fromStdString(filter.patterns));
}

QString FormatFilter(PictureFormat format) {
  for (const PictureFileFilter& filter : PictureFileFilters())
    if (filter.format == format) return FilterText(filter);
  return {};
}

// One filter per format other than BMP, whose filter each dialog names itself.
QStringList OtherFormatFilters() {
  QStringList filters;
  for (const PictureFileFilter& filter : PictureFileFilters())
    if (filter.format != PictureFormat::kBmp) filters << FilterText(filter);
  return filters;
}

QString AllPicturesFilter() {
  return "All pictures (" + QString::fromStdString(PicturePatterns()) + ")";
}

// "13x7", and a note when the file's samples are deeper than the displayed bytes.
QString OpenedStatus(const Bitmap& picture, const PictureExtras& extras) {
  QString status = QStringLiteral("%1x%2").arg(picture.Width()).arg(picture.Height());
  if (extras.deep)
    status +=
        QStringLiteral(", %1 bits per channel are kept; shown as 8").arg(extras.bitsPerChannel);
  return status;
}

// The extension of a filter's first pattern: "PNG (*.png *.PNG)" -> ".png".
QString FilterExtension(const QString& filter) {
  return filter.section('(', 1).section(' ', 0, 0).remove(')').mid(1);
}

// A file name as the file system spells it.
std::string LocalPath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

}  // namespace

QString MainWindow::AskOpenPath() {
  const QStringList filters = QStringList{AllPicturesFilter(), FormatFilter(PictureFormat::kBmp)} +
                              OtherFormatFilters() + QStringList{"All files (*)"};
  const QString folder = settings_ ? LastFolder(*settings_, FileFolder::kOpen) : QString();
  return QFileDialog::getOpenFileName(this, "Open", folder, filters.join(";;"));
}

QString MainWindow::AskSavePath(const QString& suggested) {
  const QStringList filters =
      QStringList{"Bitmap (*.bmp)"} + OtherFormatFilters() + QStringList{AllPicturesFilter()};
  const std::optional<PictureFormat> format = FormatOfName(suggested);
  QString selected = filters[0];
  if (format && *format != PictureFormat::kBmp) selected = FormatFilter(*format);
  // SaveAs asks before replacing a file, once the name is complete. A name without
  // extension gets the one of the chosen format's filter (the bitmap's too); with the
  // all-pictures filter it stays as typed and is written as a bitmap.
  QString path = QFileDialog::getSaveFileName(this, "Save As", suggested, filters.join(";;"),
                                              &selected, QFileDialog::DontConfirmOverwrite);
  const int chosen = filters.indexOf(selected);
  if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty() && chosen >= 0 &&
      chosen < filters.size() - 1)
    path += FilterExtension(selected);
  return path;
}

QString MainWindow::SuggestedSaveName() const {
  QString folder = settings_ ? LastFolder(*settings_, FileFolder::kSave) : QString();
  QString base = "picture";
  QString extension = ".png";
  if (!lastFileName_.isEmpty()) {
    const QFileInfo file(lastFileName_);
    if (folder.isEmpty()) folder = file.absolutePath();
    base = file.completeBaseName();
    if (!file.suffix().isEmpty()) extension = "." + file.suffix();
  } else if (extras_.pasted) {
    base = "pasted";
  } else {
    extension = ".bmp";
  }
  if (extras_.enlargements > 0 && extras_.enlargements < 31)
    base += QStringLiteral("_%1x").arg(1 << extras_.enlargements);
  const QString name = base + extension;
  return folder.isEmpty() ? name : QDir(folder).filePath(name);
}

DisplayedPicture MainWindow::LoadPicture(const QString& path, PictureExtras& extras) {
  tvq::Picture file = ReadPicture(LocalPath(path));
  extras = PictureExtras();
  extras.icc = std::move(file.icc);
  extras.format = file.format;
  extras.bitsPerChannel = file.bitsPerChannel;
  // A BMP's depth is its bitmap's; other files keep theirs only beyond 8 bits.
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
  if (runner_.Running() || !MayDropChanges("Open")) return false;
  return LoadFile(path);
}

bool MainWindow::LoadFile(const QString& path) {
  if (runner_.Running()) return false;
  if (!ShowFile(path, "Open", "Opening")) return false;
  reloadAvailable_ = true;
  lastFileName_ = path;
  RememberOpenedFile(path);
  // Another file starts a history of its own: nothing to undo into or compare with.
  history_.Clear();
  statusBar_->CommandPart()->clear();
  UpdateActions();
  emit HistoryChanged();
  ShowProgress(OpenedStatus(picture_, extras_), 0, 100);
  return true;
}

bool MainWindow::OpenFiles(const QStringList& paths) {
  if (paths.isEmpty() || !OpenFile(paths.front())) return false;
  for (qsizetype i = 1; i < paths.size(); ++i) {
    MainWindow* window = NewWindow();
    window->move(pos() + QPoint(32, 32) * static_cast<int>(i));
    if (!window->LoadFile(paths[i])) {
      window->deleteLater();
      continue;
    }
    window->show();
  }
  return true;
}

bool MainWindow::OpenUrls(const QList<QUrl>& urls) {
  const QStringList files = PictureFiles(urls);
  if (files.isEmpty()) return false;
  OpenFiles(files);
  return true;
}

MainWindow* MainWindow::NewWindow() {
  auto* window = new MainWindow;
  window->setAttribute(Qt::WA_DeleteOnClose);
  if (settings_)
    window->UseSettings(std::make_unique<QSettings>(settings_->fileName(), settings_->format()));
  return window;
}

bool MainWindow::OpenNeighbour(int direction) {
  if (lastFileName_.isEmpty() || runner_.Running()) return false;
  const QFileInfo current(lastFileName_);
  QStringList patterns;
  for (const std::string& extension : PictureExtensions())
    patterns << "*" + QString::fromStdString(extension);
  QDir folder = current.absoluteDir();
  const QStringList names = folder.entryList(patterns, QDir::Files | QDir::Readable,
                                             QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
  qsizetype at = names.indexOf(current.fileName());
  if (at < 0) {
    // The file is gone: start from where its name would stand.
    at = 0;
    while (at < names.size() &&
           QString::localeAwareCompare(names[at].toLower(), current.fileName().toLower()) < 0)
      ++at;
    if (direction > 0) --at;
  }
  const qsizetype target = at + direction;
  if (target < 0 || target >= names.size()) {
    ShowProgress(
        direction > 0 ? "The last picture of the folder" : "The first picture of the folder", 0,
        100);
    return false;
  }
  return OpenFile(folder.filePath(names[target]));
}

bool MainWindow::ReloadFile() {
  if (runner_.Running() || !reloadAvailable_ || !MayDropChanges("Reload")) return false;
  PictureState before = CurrentState();
  if (!ShowFile(lastFileName_, "Reload", "Reloading")) return false;
  PushHistory(std::move(before));
  UpdateWindowTitle();
  return true;
}

bool MainWindow::SaveFile(const QString& path, int quality) {
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
      WritePicture(FilePictureOf(picture_, extras_), LocalPath(path), WriteOptions{quality});
    }
  } catch (...) {
    ShowFailure(std::current_exception(), {"Saving " + path, "Save As"});
    return false;
  }
  // The picture is now that file's: Reload reads it, Open Recent lists it.
  lastFileName_ = QFileInfo(path).absoluteFilePath();
  reloadAvailable_ = true;
  extras_.pasted = false;
  extras_.format = *format;
  extras_.enlargements = 0;
  RememberOpenedFile(lastFileName_);
  SetUnsaved(false);
  UpdateActions();
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
  // Files copied in a file manager arrive as a list of URIs.
  if (image.isNull() && mime && !DroppedPictures(mime).isEmpty()) {
    return OpenFiles(DroppedPictures(mime));
  }
  if (image.isNull()) {
    ShowMessage("The clipboard holds no picture.", "Paste", true);
    return false;
  }
  if (!MayDropChanges("Paste")) return false;
  PictureState before = CurrentState();
  try {
    PictureExtras extras;
    extras.pasted = true;
    DisplayedPicture shown = DisplayClipboardImage(image, &extras.icc);
    ShowDisplayed(std::move(shown), std::move(extras));
  } catch (...) {
    ShowFailure(std::current_exception(), {"Paste"});
    return false;
  }
  // A pasted picture has no file: Reload has nothing to read.
  lastFileName_.clear();
  reloadAvailable_ = false;
  SetUnsaved(true);
  PushHistory(std::move(before));
  ShowProgress(OpenedStatus(picture_, extras_), 0, 100);
  return true;
}

void MainWindow::Open() {
  // Asked before the file dialog, as a cancelled question should cost no browsing.
  if (runner_.Running() || !MayDropChanges("Open")) return;
  const QString path = AskOpenPath();
  if (!path.isEmpty() && LoadFile(path) && settings_)
    SetLastFolder(*settings_, FileFolder::kOpen, path);
}

void MainWindow::Reload() {
  ReloadFile();
}

bool MainWindow::SaveAs() {
  QString suggested = SuggestedSaveName();
  for (;;) {
    const QString path = AskSavePath(suggested);
    if (path.isEmpty()) return false;
    // "No" to replacing goes back to the file dialog, on the name typed.
    if (QFileInfo::exists(path) && !ConfirmOverwrite(path)) {
      suggested = path;
      continue;
    }
    const std::optional<PictureFormat> format =
        QFileInfo(path).suffix().isEmpty() ? PictureFormat::kBmp : FormatOfName(path);
    if (format && !extras_.alpha.empty() && !FormatHoldsAlpha(*format) &&
        !ConfirmDropAlpha(path, *format))
      return false;
    int quality = WriteOptions().quality;
    if (format && FormatTakesQuality(*format)) {
      const std::optional<int> asked = AskQuality(*format);
      if (!asked) return false;
      quality = *asked;
    }
    if (!SaveFile(path, quality)) return false;
    if (settings_) SetLastFolder(*settings_, FileFolder::kSave, path);
    return true;
  }
}

void MainWindow::CopyToClipboard() {
  QApplication::clipboard()->setImage(BitmapToQImage(picture_));
}

void MainWindow::Paste() {
  PasteFromClipboard();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!runner_.Running() && !DroppedPictures(event->mimeData()).isEmpty())
    event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QStringList paths = DroppedPictures(event->mimeData());
  if (paths.isEmpty() || runner_.Running()) return;
  event->acceptProposedAction();
  OpenFiles(paths);
}

}  // namespace tvq
