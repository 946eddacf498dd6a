#include "app/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>
#include <exception>
#include <new>
#include <optional>
#include <stdexcept>

#include "app/aboutbox.h"
#include "app/imageview.h"
#include "app/parsefloat.h"
#include "app/picture.h"
#include "app/settingsdialogs.h"
#include "deringing/deringcommand.h"
#include "imaging/io/bmp.h"
#include "imaging/io/picture.h"
#include "superres/resample.h"
#include "utility/utility.h"

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

// Menu entries of the long commands, with the flags they set.
struct ProcessEntry {
  const char* name;
  const char* caption;
  bool resample;  // Resample command (else Deringing command)
  bool dering;    // deringing flag (Resample command only)
  bool mask;      // mask flag
};
constexpr ProcessEntry kProcessEntries[] = {
    {"Re1", "Resampling", true, false, false},
    {"Deringing1", "Deringing", false, false, false},
    {"MaskedDeringing1", "Masked Deringing", false, false, true},
    {"ResamplingDeringing1", "Resampling + Deringing", true, true, false},
    {"ResamplingMaskedDeringing1", "Resampling + Masked Deringing", true, true, true},
};

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setObjectName("TForm1");
  setWindowTitle(kMainCaption);
  setAcceptDrops(true);

  auto* central = new QWidget(this);
  central->setObjectName("ClientArea");
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(8, 8, 8, 8);
  view_ = new ImageView(central);
  layout->addWidget(view_);
  setCentralWidget(central);

  CreateProgressPanel();
  CreateMenus();

  noise_ = std::make_unique<NoiseGenerator>();

  connect(&runner_, &CommandRunner::ProgressChanged, this,
          [this](const QString& stage, int position, int maximum) {
            ShowProgress(stage, position, maximum);
          });
  connect(&runner_, &CommandRunner::FrameShown, this,
          [this](const QImage& frame) { view_->SetImage(frame); });
  connect(&runner_, &CommandRunner::Finished, this, &MainWindow::OnCommandFinished);

  SetPicture(BuiltInPicture());
  resize(575, 509);
  move(258, 125);
}

MainWindow::~MainWindow() = default;

void MainWindow::CreateProgressPanel() {
  panel_ = new QGroupBox("Progress", centralWidget());
  panel_->setObjectName("ProgressPanel");
  // Drawn over the picture, so it paints its own background.
  panel_->setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(panel_);
  layout->setContentsMargins(8, 4, 8, 6);
  layout->setSpacing(3);
  progressBar_ = new QProgressBar(panel_);
  progressBar_->setObjectName("ProgressBar");
  progressBar_->setRange(0, 10000);
  progressBar_->setValue(0);
  progressBar_->setTextVisible(false);
  progressBar_->setFixedSize(137, 25);
  progressBar_->setAccessibleName("Progress");
  statusLabel_ = new QLabel("Idle", panel_);
  statusLabel_->setObjectName("StatusLabel");
  stopButton_ = new QPushButton("STOP", panel_);
  stopButton_->setObjectName("StopButton");
  connect(stopButton_, &QPushButton::clicked, this, [this] {
    runner_.RequestStop();
    stopButton_->setEnabled(false);
  });
  layout->addWidget(progressBar_);
  layout->addWidget(statusLabel_);
  layout->addWidget(stopButton_);
  panel_->setFixedSize(panel_->sizeHint().expandedTo(QSize(153, 105)));
  panel_->hide();
}

QAction* MainWindow::AddAction(QMenu* menu, const QString& name, const QString& caption) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(name);
  return action;
}

void MainWindow::CreateMenus() {
  QMenu* image = menuBar()->addMenu("Image");
  image->setObjectName("Image1");
  open_ = AddAction(image, "Open1", "Open...");
  open_->setShortcut(QKeySequence::Open);
  connect(open_, &QAction::triggered, this, &MainWindow::Open);
  reload_ = AddAction(image, "Reload1", "Reload");
  reload_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  reload_->setEnabled(false);
  connect(reload_, &QAction::triggered, this, &MainWindow::Reload);
  QAction* saveAs = AddAction(image, "SaveAs1", "Save As...");
  saveAs->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  connect(saveAs, &QAction::triggered, this, &MainWindow::SaveAs);
  image->addSeparator()->setObjectName("N1");
  QAction* exit = AddAction(image, "Exit1", "Exit");
  exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  exit->setMenuRole(QAction::QuitRole);
  connect(exit, &QAction::triggered, this, &QWidget::close);

  QMenu* edit = menuBar()->addMenu("Edit");
  edit->setObjectName("Edit1");
  QAction* copy = AddAction(edit, "Copytoclipboard1", "Copy to clipboard");
  copy->setShortcut(QKeySequence::Copy);
  connect(copy, &QAction::triggered, this, &MainWindow::CopyToClipboard);
  paste_ = AddAction(edit, "Paste1", "Paste");
  paste_->setShortcut(QKeySequence::Paste);
  connect(paste_, &QAction::triggered, this, &MainWindow::Paste);
  connect(QApplication::clipboard(), &QClipboard::dataChanged, this, &MainWindow::UpdateActions);

  QMenu* view = menuBar()->addMenu("View");
  view->setObjectName("View1");
  stretch_ = AddAction(view, "Stretch1", "Stretch");
  stretch_->setCheckable(true);
  stretch_->setChecked(true);
  connect(stretch_, &QAction::toggled, this, [this](bool on) { view_->SetStretch(on); });

  processMenu_ = menuBar()->addMenu("Process");
  processMenu_->setObjectName("Process1");
  for (const ProcessEntry& entry : kProcessEntries) {
    QAction* action = AddAction(processMenu_, entry.name, entry.caption);
    const QString caption = entry.caption;
    if (entry.resample) {
      connect(action, &QAction::triggered, this, [this, entry, caption] {
        deringingFlag_ = entry.dering;
        maskFlag_ = entry.mask;
        ResampleCommand(caption);
      });
    } else {
      connect(action, &QAction::triggered, this, [this, entry, caption] {
        maskFlag_ = entry.mask;
        DeringCommand(caption);
      });
    }
  }
  processMenu_->addSeparator()->setObjectName("N2");
  QAction* downsample = AddAction(processMenu_, "Downsam1", "Downsampling");
  connect(downsample, &QAction::triggered, this, &MainWindow::Downsampling);
  QAction* noise = AddAction(processMenu_, "AddNoise1", "Add Gaussian Noise");
  connect(noise, &QAction::triggered, this, &MainWindow::AddGaussianNoise);

  debugMenu_ = menuBar()->addMenu("Debug");
  debugMenu_->setObjectName("Debug1");
  QAction* mask = AddAction(debugMenu_, "EgdeMask1", "Egde Mask");
  connect(mask, &QAction::triggered, this, &MainWindow::EdgeMask);
  QAction* grey = AddAction(debugMenu_, "Greyscale1", "Greyscale");
  connect(grey, &QAction::triggered, this, &MainWindow::Greyscale);
  QAction* store1 = AddAction(debugMenu_, "Storeimage11", "Store image 1");
  connect(store1, &QAction::triggered, this, [this] { StoreImage(1); });
  QAction* store2 = AddAction(debugMenu_, "Storeimage21", "Store image 2");
  connect(store2, &QAction::triggered, this, [this] { StoreImage(2); });
  QAction* psnr = AddAction(debugMenu_, "GetPSNR1", "Get PSNR");
  connect(psnr, &QAction::triggered, this, &MainWindow::GetPsnr);
  // The debug commands exist but are not reachable from the menu bar.
  debugMenu_->menuAction()->setVisible(false);

  QMenu* help = menuBar()->addMenu("Help");
  help->setObjectName("Help1");
  QAction* about = AddAction(help, "About1", "About");
  connect(about, &QAction::triggered, this, &MainWindow::About);

  UpdateActions();
}

void MainWindow::UpdateActions() {
  const bool idle = !runner_.Running();
  open_->setEnabled(idle);
  reload_->setEnabled(idle && reloadAvailable_);
  const QMimeData* clipboard = QApplication::clipboard()->mimeData();
  paste_->setEnabled(idle && clipboard && clipboard->hasImage());
  for (QMenu* menu : {processMenu_, debugMenu_}) {
    for (QAction* action : menu->actions()) {
      if (action->isSeparator()) continue;
      action->setEnabled(idle);
    }
  }
}

void MainWindow::SetPicture(Bitmap picture, PictureExtras extras) {
  picture_ = std::move(picture);
  extras_ = std::move(extras);
  if (extras_.alpha.size() != static_cast<std::size_t>(picture_.Width()) * picture_.Height())
    extras_.alpha.clear();
  view_->SetImage(DisplayImage(picture_, extras_.alpha));
}

void MainWindow::ShowPicture(DisplayedPicture shown) {
  PictureExtras extras = std::move(extras_);
  extras.alpha = std::move(shown.alpha);
  extras.grey = extras.grey || shown.grey;
  SetPicture(std::move(shown.bitmap), std::move(extras));
}

void MainWindow::ShowProgress(const QString& text, int position, int maximum) {
  statusLabel_->setText(text);
  progressBar_->setMaximum(maximum);
  progressBar_->setValue(position);
}

void MainWindow::ShowMessage(const QString& text, const QString& caption, bool error) {
  QMessageBox box(error ? QMessageBox::Warning : QMessageBox::Information, caption, text,
                  QMessageBox::Ok, this);
  box.exec();
}

void MainWindow::ShowFailure(const QString& command, const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) {
    ShowMessage(command + " failed: there is not enough memory for this picture.", "Error", true);
  } else {
    ShowMessage(command + " failed: " + QString::fromUtf8(e.what()), "Error", true);
  }
}

// ---------------------------------------------------------------- files

QString MainWindow::AskOpenPath() {
  const QStringList filters =
      QStringList{AllPicturesFilter(), "BMP (*.bmp)"} + OtherFormatFilters();
  return QFileDialog::getOpenFileName(this, "Open", QString(), filters.join(";;"));
}

QString MainWindow::AskSavePath() {
  const QStringList filters =
      QStringList{"Bitmap (*.bmp)"} + OtherFormatFilters() + QStringList{AllPicturesFilter()};
  QString selected;
  // An existing file is replaced without asking. A name without extension gets the
  // one of the chosen format's filter, except for the bitmap and all-pictures filters,
  // whose names stay as typed (and are written as bitmaps).
  QString path = QFileDialog::getSaveFileName(this, "Save As", QString(), filters.join(";;"),
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

bool MainWindow::OpenFile(const QString& path) {
  if (runner_.Running()) return false;
  try {
    PictureExtras extras;
    DisplayedPicture shown = LoadPicture(path, extras);
    extras.alpha = std::move(shown.alpha);
    extras.grey = shown.grey;
    SetPicture(std::move(shown.bitmap), std::move(extras));
  } catch (const FileError& e) {
    // The message names the file and the problem already.
    ShowMessage(QString::fromUtf8(e.what()), "Open", true);
    return false;
  } catch (const std::exception& e) {
    ShowFailure("Opening " + path, e);
    return false;
  }
  reloadAvailable_ = true;
  lastFileName_ = path;
  UpdateActions();
  ShowProgress(OpenedStatus(picture_, extras_), 0, 100);
  return true;
}

bool MainWindow::ReloadFile() {
  if (runner_.Running() || !reloadAvailable_) return false;
  try {
    PictureExtras extras;
    DisplayedPicture shown = LoadPicture(lastFileName_, extras);
    extras.alpha = std::move(shown.alpha);
    extras.grey = shown.grey;
    SetPicture(std::move(shown.bitmap), std::move(extras));
  } catch (const FileError& e) {
    ShowMessage(QString::fromUtf8(e.what()), "Reload", true);
    return false;
  } catch (const std::exception& e) {
    ShowFailure("Reloading " + lastFileName_, e);
    return false;
  }
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
  } catch (const FileError& e) {
    ShowMessage(QString::fromUtf8(e.what()), "Save As", true);
    return false;
  } catch (const std::exception& e) {
    ShowFailure("Saving " + path, e);
    return false;
  }
  if (!extras_.alpha.empty() && !FormatHoldsAlpha(*format))
    statusLabel_->setText(QStringLiteral("Saved without the alpha channel, which %1 cannot hold")
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
  try {
    PictureExtras extras;
    DisplayedPicture shown = DisplayClipboardImage(image, &extras.icc);
    extras.alpha = std::move(shown.alpha);
    SetPicture(std::move(shown.bitmap), std::move(extras));
  } catch (const std::exception& e) {
    ShowFailure("Paste", e);
    return false;
  }
  ShowProgress(OpenedStatus(picture_, extras_), 0, 100);
  return true;
}

void MainWindow::Open() {
  const QString path = AskOpenPath();
  if (!path.isEmpty()) OpenFile(path);
}

void MainWindow::Reload() {
  ReloadFile();
}

void MainWindow::SaveAs() {
  const QString path = AskSavePath();
  if (!path.isEmpty()) SaveFile(path);
}

void MainWindow::CopyToClipboard() {
  QApplication::clipboard()->setImage(BitmapToQImage(picture_));
}

void MainWindow::Paste() {
  PasteFromClipboard();
}

void MainWindow::About() {
  AboutBox box(this);
  box.exec();
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

// ---------------------------------------------------------------- long commands

void MainWindow::PlaceProgressPanel() {
  // Centred on the window, from its outer size.
  const QSize outer = frameGeometry().size();
  panel_->move(outer.width() / 2 - 75, outer.height() / 2 - 50);
  panel_->raise();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (panel_->isVisible()) PlaceProgressPanel();
}

bool MainWindow::RunCommand(const QString& name, PictureJob job, bool showIterations,
                            bool showPanel) {
  if (runner_.Running()) return false;
  if (showPanel) {
    stopButton_->setEnabled(true);
    PlaceProgressPanel();
    panel_->show();
  } else {
    QApplication::setOverrideCursor(Qt::BusyCursor);
  }
  pendingResult_.reset();
  runner_.Start(name, std::move(job), showIterations);
  UpdateActions();
  return true;
}

bool MainWindow::RunPictureCommand(const QString& name, DisplayedJob job, bool showIterations,
                                   bool showPanel) {
  auto slot = std::make_shared<DisplayedPicture>();
  PictureJob bitmapJob = [job = std::move(job), slot](Progress& progress) {
    DisplayedPicture shown = job(progress);
    slot->alpha = std::move(shown.alpha);
    slot->grey = shown.grey;
    return std::move(shown.bitmap);
  };
  if (!RunCommand(name, std::move(bitmapJob), showIterations, showPanel)) return false;
  // The runner hands the result over after the worker has ended, so the slot is
  // complete when OnCommandFinished reads it.
  pendingResult_ = std::move(slot);
  return true;
}

void MainWindow::OnCommandFinished(std::shared_ptr<Bitmap> result, const QString& error) {
  if (panel_->isVisible()) {
    ShowProgress("Idle", 100, 100);
    panel_->hide();
  } else {
    QApplication::restoreOverrideCursor();
  }
  if (result) {
    DisplayedPicture shown;
    if (pendingResult_) shown = std::move(*pendingResult_);
    shown.bitmap = std::move(*result);
    ShowPicture(std::move(shown));
  } else {
    // The view may show an iterate; go back to the unchanged picture.
    view_->SetImage(DisplayImage(picture_, extras_.alpha));
  }
  pendingResult_.reset();
  UpdateActions();
  emit CommandFinished();
  if (closePending_) {
    close();
    return;
  }
  if (!result) ShowMessage(error, "Error", true);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (runner_.Running()) {
    // Stop the run first; the window closes when it has ended.
    closePending_ = true;
    runner_.RequestStop();
    statusLabel_->setText("Stopping...");
    event->ignore();
    return;
  }
  event->accept();
}

template <typename Dialog, typename Params>
bool MainWindow::AskSettings(Params& params) {
  bool parsed = true;
  {
    Dialog dialog(this);
    if (dialog.exec() != QDialog::Accepted) return false;
    try {
      params = dialog.Read();
    } catch (const ParseFloatError&) {
      parsed = false;
    }
  }  // the dialog is gone before the message shows
  if (!parsed) {
    ShowMessage(kParseErrorText, kParseErrorCaption, true);
    return false;
  }
  // A value outside its range is reported at once, before any further dialog.
  try {
    params.Validate();
  } catch (const std::invalid_argument& e) {
    ShowMessage(QString::fromUtf8(e.what()), "Error", true);
    return false;
  }
  return true;
}

void MainWindow::ResampleCommand(const QString& name) {
  ResampleParams resample;
  if (!AskSettings<ResamplingSettingsDialog>(resample)) return;
  std::optional<DeringParams> dering;
  if (deringingFlag_ && !AskSettings<DeringingSettingsDialog>(dering.emplace())) return;
  std::optional<EdgeMaskParams> mask;
  if (maskFlag_ && !AskSettings<EdgeMaskSettingsDialog>(mask.emplace())) return;
  RunPictureCommand(
      name,
      [source = CommandSource(picture_, extras_), resample, dering,
       mask](Progress& progress) mutable {
        source.Prepare();
        const TImageF4 result = Resample(source.Source(), resample, dering ? &*dering : nullptr,
                                         mask ? &*mask : nullptr, progress);
        return source.Result(result, AlphaTravel::kEnlarged);
      },
      resample.showIterations);
}

void MainWindow::DeringCommand(const QString& name) {
  DeringParams dering;
  if (!AskSettings<DeringingSettingsDialog>(dering)) return;
  std::optional<EdgeMaskParams> mask;
  if (maskFlag_ && !AskSettings<EdgeMaskSettingsDialog>(mask.emplace())) return;
  RunPictureCommand(
      name,
      [source = CommandSource(picture_, extras_), dering, mask](Progress& progress) mutable {
        source.Prepare();
        const TImageF4 result = Dering(source.Source(), dering, mask ? &*mask : nullptr, progress);
        return source.Result(result, AlphaTravel::kSameSize);
      },
      false);
}

void MainWindow::EdgeMask() {
  EdgeMaskParams mask;
  if (!AskSettings<EdgeMaskSettingsDialog>(mask)) return;
  // Quick enough to need no progress panel; the worker keeps the window responsive.
  RunPictureCommand(
      "Egde Mask",
      [source = CommandSource(picture_, extras_), mask](Progress&) mutable {
        source.Prepare();
        const TImageF result = EdgeMaskCommand(source.Source(), mask);
        return source.Result(result, AlphaTravel::kSameSize);
      },
      false, false);
}

// ---------------------------------------------------------------- utility commands

void MainWindow::Downsampling() {
  try {
    // Halving a picture one pixel wide or high would leave a picture without pixels.
    if (picture_.Width() < 2 || picture_.Height() < 2)
      throw std::invalid_argument(
          QStringLiteral("a picture of %1 x %2 pixels is too small to halve (at least 2 x 2).")
              .arg(picture_.Width())
              .arg(picture_.Height())
              .toStdString());
    CommandSource source(picture_, extras_);
    source.Prepare();
    DownsampleResult result = Downsample(source.Source());
    DisplayedPicture shown = source.Result(result.halved, AlphaTravel::kFourthChannel);
    referenceImage_ = std::make_unique<TImageF>(std::move(result.reference));
    ShowPicture(std::move(shown));
  } catch (const std::exception& e) {
    ShowFailure("Downsampling", e);
  }
}

void MainWindow::AddGaussianNoise() {
  try {
    CommandSource source(picture_, extras_);
    source.Prepare();
    const TImageF noisy = tvq::AddGaussianNoise(source.Source(), *noise_);
    ShowPicture(source.Result(noisy, AlphaTravel::kSameSize));
  } catch (const std::exception& e) {
    ShowFailure("Add Gaussian Noise", e);
  }
}

void MainWindow::Greyscale() {
  try {
    CommandSource source(picture_, extras_);
    source.Prepare();
    const TImageF grey = tvq::Greyscale(source.Source());
    ShowPicture(source.Result(grey, AlphaTravel::kSameSize));
  } catch (const std::exception& e) {
    ShowFailure("Greyscale", e);
  }
}

void MainWindow::StoreImage(int slot) {
  try {
    // A failed read keeps the slot's previous image.
    CommandSource source(picture_, extras_);
    source.Prepare();
    auto image = std::make_unique<TImageF>(GreyOf(source.Source()));
    (slot == 1 ? storedImage1_ : storedImage2_) = std::move(image);
  } catch (const std::exception& e) {
    ShowFailure(QStringLiteral("Store image %1").arg(slot), e);
  }
}

void MainWindow::GetPsnr() {
  if (!storedImage1_ || !storedImage2_) {
    ShowMessage("Specify Image1 and Image2 for comparsion", "Error", true);
    return;
  }
  if (storedImage1_->Width() != storedImage2_->Width() ||
      storedImage1_->Height() != storedImage2_->Height()) {
    ShowMessage("Dimensions of Image1 and Image2 must be equal", "Error", true);
    return;
  }
  try {
    const PsnrResult result = ComparePsnr(*storedImage1_, *storedImage2_);
    ShowMessage("MSE = " + QString::number(result.mse, 'g', 15), "Result", false);
    // Identical images have no finite ratio.
    ShowMessage(std::isinf(result.psnr)
                    ? QStringLiteral("PSNR = infinite (the images are identical)")
                    : "PSNR = " + QString::number(result.psnr, 'g', 15),
                "Result", false);
  } catch (const std::exception& e) {
    ShowFailure("Get PSNR", e);
  }
}

}  // namespace tvq
