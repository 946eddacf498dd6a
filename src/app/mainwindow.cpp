// The main window: its widgets, menus and progress panel. File commands are in
// fileactions.cpp, the processing commands in commandactions.cpp.
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
#include <QStatusBar>
#include <QTimer>
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
#include "app/settings.h"
#include "app/settingsdialogs.h"
#include "deringing/deringcommand.h"
#include "imaging/io/bmp.h"
#include "imaging/io/picture.h"
#include "superres/resample.h"
#include "utility/utility.h"
namespace tvq {

namespace {

// Menu entries of the long commands, with the flags they set.
struct ProcessEntry {
  const char* name;
  const char* caption;
  bool resample;  // Resample command (else Deringing command)
  bool dering;    // deringing flag (Resample command only)
  bool mask;      // mask flag
  QKeyCombination shortcut;
};
// Ctrl+R is Reload's, so resampling goes with Shift; E (enlarge) for the
// resampling with deringing.
constexpr ProcessEntry kProcessEntries[] = {
    {"Re1", "Resampling", true, false, false, Qt::CTRL | Qt::SHIFT | Qt::Key_R},
    {"Deringing1", "Deringing", false, false, false, Qt::CTRL | Qt::Key_D},
    {"MaskedDeringing1", "Masked Deringing", false, false, true, Qt::CTRL | Qt::SHIFT | Qt::Key_D},
    {"ResamplingDeringing1", "Resampling + Deringing", true, true, false, Qt::CTRL | Qt::Key_E},
    {"ResamplingMaskedDeringing1", "Resampling + Masked Deringing", true, true, true,
     Qt::CTRL | Qt::SHIFT | Qt::Key_E},
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
  CreateStatusBar();
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
  // The stage caption stays as the pipeline words it; the times go below it, each
  // on its own line. Sample texts give the panel its size.
  elapsedLabel_ = new QLabel("Elapsed 0:00", panel_);
  elapsedLabel_->setObjectName("ElapsedLabel");
  elapsedLabel_->setAccessibleName("Elapsed time");
  remainingLabel_ = new QLabel("About 00:00 left", panel_);
  remainingLabel_->setObjectName("RemainingLabel");
  remainingLabel_->setAccessibleName("Time remaining");
  panelClock_ = new QTimer(panel_);
  panelClock_->setInterval(250);
  connect(panelClock_, &QTimer::timeout, this, &MainWindow::UpdateTimeLabels);
  stopButton_ = new QPushButton("STOP", panel_);
  stopButton_->setObjectName("StopButton");
  connect(stopButton_, &QPushButton::clicked, this, [this] {
    runner_.RequestStop();
    stopButton_->setEnabled(false);
  });
  layout->addWidget(progressBar_);
  layout->addWidget(statusLabel_);
  layout->addWidget(elapsedLabel_);
  layout->addWidget(remainingLabel_);
  layout->addWidget(stopButton_);
  panel_->setFixedSize(panel_->sizeHint().expandedTo(QSize(153, 105)));
  elapsedLabel_->clear();
  remainingLabel_->clear();
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
  CreateRecentMenu(image);
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
  undo_ = AddAction(edit, "Undo1", "&Undo");
  undo_->setShortcut(QKeySequence::Undo);
  connect(undo_, &QAction::triggered, this, &MainWindow::UndoChange);
  redo_ = AddAction(edit, "Redo1", "&Redo");
  redo_->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  connect(redo_, &QAction::triggered, this, &MainWindow::RedoChange);
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
  CreateViewActions(view);

  processMenu_ = menuBar()->addMenu("Process");
  processMenu_->setObjectName("Process1");
  for (const ProcessEntry& entry : kProcessEntries) {
    QAction* action = AddAction(processMenu_, entry.name, entry.caption);
    action->setShortcut(entry.shortcut);
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
  downsample->setShortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_H);  // halve
  connect(downsample, &QAction::triggered, this, &MainWindow::Downsampling);
  QAction* noise = AddAction(processMenu_, "AddNoise1", "Add Gaussian Noise");
  noise->setShortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_N);
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

  CreateMenuKeys();
  UpdateActions();
}

void MainWindow::UpdateActions() {
  const bool idle = !runner_.Running();
  open_->setEnabled(idle);
  reload_->setEnabled(idle && reloadAvailable_);
  const QMimeData* clipboard = QApplication::clipboard()->mimeData();
  paste_->setEnabled(idle && clipboard && clipboard->hasImage());
  recentMenu_->menuAction()->setEnabled(idle && settings_ && !RecentFiles(*settings_).isEmpty());
  undo_->setEnabled(idle && history_.CanUndo());
  redo_->setEnabled(idle && history_.CanRedo());
  for (QMenu* menu : {processMenu_, debugMenu_}) {
    for (QAction* action : menu->actions()) {
      if (action->isSeparator()) continue;
      action->setEnabled(idle);
    }
  }
  UpdatePictureStatus();
}

void MainWindow::CreateStatusBar() {
  auto* bar = new QStatusBar(this);
  bar->setObjectName("StatusBar");
  auto part = [bar](QLabel*& label, const char* name, const char* accessibleName, int stretch) {
    label = new QLabel(bar);
    label->setObjectName(name);
    label->setAccessibleName(accessibleName);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bar->addWidget(label, stretch);
  };
  part(fileStatus_, "FileStatus", "File", 1);
  part(sizeStatus_, "SizeStatus", "Size and bits per pixel", 0);
  part(zoomStatus_, "ZoomStatus", "Zoom", 0);
  part(pixelStatus_, "PixelStatus", "Pixel", 0);
  part(commandStatus_, "CommandStatus", "Last command", 1);
  setStatusBar(bar);
}

void MainWindow::UpdatePictureStatus() {
  fileStatus_->setText(lastFileName_.isEmpty() ? QStringLiteral("Built-in picture")
                                               : QFileInfo(lastFileName_).fileName());
  fileStatus_->setToolTip(lastFileName_);
  QString size = QStringLiteral("%1 \u00d7 %2, %3 bpp")
                     .arg(picture_.Width())
                     .arg(picture_.Height())
                     .arg(picture_.BitsPerPixel());
  if (!extras_.alpha.empty()) size += QStringLiteral(", alpha");
  if (extras_.format && *extras_.format != PictureFormat::kBmp && extras_.bitsPerChannel > 8)
    size += QStringLiteral(" (%1 bits per channel in the file)").arg(extras_.bitsPerChannel);
  sizeStatus_->setText(size);
}

void MainWindow::SetPicture(Bitmap picture, PictureExtras extras) {
  picture_ = std::move(picture);
  extras_ = std::move(extras);
  if (extras_.alpha.size() != static_cast<std::size_t>(picture_.Width()) * picture_.Height())
    extras_.alpha.clear();
  view_->SetImage(DisplayImage(picture_, extras_.alpha));
  UpdatePictureStatus();
}

void MainWindow::ShowPicture(DisplayedPicture shown) {
  PictureExtras extras = std::move(extras_);
  extras.alpha = std::move(shown.alpha);
  extras.grey = extras.grey || shown.grey;
  SetPicture(std::move(shown.bitmap), std::move(extras));
  unsaved_ = true;
}

void MainWindow::ShowProgress(const QString& text, int position, int maximum) {
  statusLabel_->setText(text);
  progressBar_->setMaximum(maximum);
  progressBar_->setValue(position);
  if (!runner_.Running()) return;
  // A new maximum or a step back starts a stage whose rate is measured afresh.
  if (maximum != stageMaximum_ || position < stagePosition_) {
    stageClock_.start();
    stageStart_ = position;
    stageMaximum_ = maximum;
  }
  stagePosition_ = position;
  UpdateTimeLabels();
}

namespace {

// "0:07", "12:40", "1:02:03".
QString Duration(qint64 milliseconds) {
  const qint64 seconds = milliseconds / 1000;
  const QString secondsPart = QStringLiteral("%1").arg(seconds % 60, 2, 10, QChar('0'));
  if (seconds < 3600) return QStringLiteral("%1:%2").arg(seconds / 60).arg(secondsPart);
  return QStringLiteral("%1:%2:%3")
      .arg(seconds / 3600)
      .arg(seconds / 60 % 60, 2, 10, QChar('0'))
      .arg(secondsPart);
}

}  // namespace

void MainWindow::UpdateTimeLabels() {
  elapsedLabel_->setText("Elapsed " + Duration(commandClock_.elapsed()));
  // Linear in the position: the rest of the stage at the rate seen so far.
  const int done = stagePosition_ - stageStart_;
  if (done <= 0 || stageMaximum_ <= stagePosition_) {
    remainingLabel_->clear();
    return;
  }
  const double left =
      static_cast<double>(stageClock_.elapsed()) * (stageMaximum_ - stagePosition_) / done;
  remainingLabel_->setText("About " + Duration(static_cast<qint64>(left) + 999) + " left");
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

// ---------------------------------------------------------------- progress panel

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

void MainWindow::closeEvent(QCloseEvent* event) {
  // Asked once, when the user closes; a close that waited for a run to stop
  // comes back here without asking again.
  if (!closePending_ && !MayDropChanges()) {
    event->ignore();
    return;
  }
  if (runner_.Running()) {
    // Stop the run first; the window closes when it has ended.
    closePending_ = true;
    runner_.RequestStop();
    statusLabel_->setText("Stopping...");
    event->ignore();
    return;
  }
  if (settings_) SaveWindowState(*settings_, *this);
  event->accept();
}

}  // namespace tvq
