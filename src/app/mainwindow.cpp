// The main window: its widgets and menus, the displayed picture, and closing. File
// commands are in fileactions.cpp, the processing commands in commandactions.cpp, the
// progress panel and the status bar in their own files.
#include "app/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QShortcut>
#include <QVBoxLayout>
#include <cstddef>

#include "app/aboutbox.h"
#include "app/failure.h"
#include "app/picture.h"
#include "app/pictureview.h"
#include "app/progresspanel.h"
#include "app/settings.h"
#include "app/statusbar.h"
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
  view_ = new PictureView(central);
  layout->addWidget(view_);
  setCentralWidget(central);

  panel_ = new tvq::ProgressPanel(central);
  connect(panel_, &tvq::ProgressPanel::StopPressed, this, [this] {
    runner_.RequestStop();
    panel_->ShowText("Stopping...");
  });
  // Escape stops a run as STOP does, and otherwise leaves full screen.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setObjectName("EscapeShortcut");
  connect(escape, &QShortcut::activated, this, [this] {
    if (runner_.Running()) {
      panel_->PressStop();
    } else if (isFullScreen()) {
      ToggleFullScreen();
    }
  });
  statusBar_ = new StatusBar(this);
  setStatusBar(statusBar_);
  CreateMenus();

  noise_ = std::make_unique<NoiseGenerator>();

  connect(&runner_, &CommandRunner::ProgressChanged, this,
          [this](const QString& stage, int position, int maximum) {
            ShowProgress(stage, position, maximum);
          });
  connect(&runner_, &CommandRunner::FrameShown, this,
          [this](const QImage& frame) { view_->SetImage(frame); });
  connect(&runner_, &CommandRunner::Finished, this, &MainWindow::OnCommandFinished);
  previewTimer_ = new QTimer(this);
  previewTimer_->setSingleShot(true);
  previewTimer_->setInterval(250);  // typing a number changes it several times
  connect(previewTimer_, &QTimer::timeout, this, [this] {
    if (startPreview_) startPreview_();
  });
  connect(&previewRunner_, &CommandRunner::Finished, this,
          [this](std::shared_ptr<DisplayedPicture> result, std::exception_ptr) {
            OnPreviewFinished(std::move(result));
          });

  SetPicture(BuiltInPicture());
  resize(575, 509);
  move(258, 125);
}

MainWindow::~MainWindow() = default;

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
  QAction* folder = AddAction(image, "ProcessFolder1", "Process Folder...");
  folder->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
  connect(folder, &QAction::triggered, this, &MainWindow::ProcessFolder);
  processFolder_ = folder;
  image->addSeparator()->setObjectName("N1");
  QAction* exit = AddAction(image, "Exit1", "Exit");
  exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  exit->setMenuRole(QAction::QuitRole);
  // Every window closes, each asking for its own unsaved picture; a Cancel stops there.
  connect(exit, &QAction::triggered, qApp, &QApplication::closeAllWindows);

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
  stretch_->setShortcut(QKeySequence(Qt::Key_F));  // fit, as in common viewers
  connect(stretch_, &QAction::toggled, this, [this](bool on) { view_->SetStretch(on); });
  CreateViewActions(view);
  view->addSeparator()->setObjectName("FolderSeparator");
  QAction* previous = AddAction(view, "PreviousPicture1", "Previous Picture in Folder");
  previous->setShortcut(QKeySequence(Qt::Key_PageUp));
  connect(previous, &QAction::triggered, this, [this] { OpenNeighbour(-1); });
  QAction* next = AddAction(view, "NextPicture1", "Next Picture in Folder");
  next->setShortcut(QKeySequence(Qt::Key_PageDown));
  connect(next, &QAction::triggered, this, [this] { OpenNeighbour(1); });
  fullScreen_ = AddAction(view, "FullScreen1", "Full Screen");
  fullScreen_->setCheckable(true);
  fullScreen_->setShortcut(QKeySequence(Qt::Key_F11));
  connect(fullScreen_, &QAction::triggered, this, &MainWindow::ToggleFullScreen);

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
  QAction* resize = AddAction(processMenu_, "Resize1", "Resize...");
  resize->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_I));  // image size
  connect(resize, &QAction::triggered, this, &MainWindow::Resize);
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
  processFolder_->setEnabled(idle);
  reload_->setEnabled(idle && reloadAvailable_);
  const QMimeData* clipboard = QApplication::clipboard()->mimeData();
  paste_->setEnabled(idle && clipboard && (clipboard->hasImage() || clipboard->hasUrls()));
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

void MainWindow::UpdatePictureStatus() {
  statusBar_->ShowPicture(PictureName(), lastFileName_, picture_, extras_);
  UpdateWindowTitle();
}

QString MainWindow::PictureName() const {
  if (!lastFileName_.isEmpty()) return QFileInfo(lastFileName_).fileName();
  return extras_.pasted ? QStringLiteral("Pasted picture") : QStringLiteral("Built-in picture");
}

void MainWindow::SetUnsaved(bool unsaved) {
  unsaved_ = unsaved;
  UpdateWindowTitle();
}

void MainWindow::UpdateWindowTitle() {
  // The built-in picture, unchanged, has the caption alone.
  if (lastFileName_.isEmpty() && !extras_.pasted && !unsaved_) {
    setWindowTitle(kMainCaption);
    return;
  }
  setWindowTitle(PictureName() + (unsaved_ ? "*" : "") + QStringLiteral(" \u2014 ") + kMainCaption);
}

void MainWindow::ToggleFullScreen() {
  if (isFullScreen()) {
    showNormal();
  } else {
    showFullScreen();
  }
  fullScreen_->setChecked(isFullScreen());
}

QLabel* MainWindow::FileStatus() const {
  return statusBar_->FilePart();
}
QLabel* MainWindow::SizeStatus() const {
  return statusBar_->SizePart();
}
QLabel* MainWindow::ZoomStatus() const {
  return statusBar_->ZoomPart();
}
QLabel* MainWindow::PixelStatus() const {
  return statusBar_->PixelPart();
}
QLabel* MainWindow::CommandStatus() const {
  return statusBar_->CommandPart();
}
QGroupBox* MainWindow::ProgressPanel() const {
  return panel_;
}

void MainWindow::SetPicture(Bitmap picture, PictureExtras extras) {
  picture_ = std::move(picture);
  extras_ = std::move(extras);
  if (extras_.alpha.size() != static_cast<std::size_t>(picture_.Width()) * picture_.Height())
    extras_.alpha.clear();
  view_->SetImage(DisplayImage(picture_, extras_.alpha));
  UpdatePictureStatus();
}

void MainWindow::ShowDisplayed(DisplayedPicture shown, PictureExtras extras) {
  extras.alpha = std::move(shown.alpha);
  extras.deep = std::move(shown.deep);
  extras.grey = extras.grey || shown.grey;
  SetPicture(std::move(shown.bitmap), std::move(extras));
}

void MainWindow::ShowProgress(const QString& text, int position, int maximum) {
  if (runner_.Running()) {
    // The pipeline's last word is "Idle" however it ended; while it winds down after
    // a stop the panel keeps saying so.
    if (text != "Idle") lastStage_ = text;
    if (runner_.StopRequested()) {
      panel_->ShowText("Stopping...");
      return;
    }
  }
  panel_->ShowProgress(text, position, maximum, runner_.Running());
}

void MainWindow::About() {
  AboutBox box(this);
  box.exec();
}

void MainWindow::ShowMessage(const QString& text, const QString& caption, bool error) {
  QMessageBox box(error ? QMessageBox::Warning : QMessageBox::Information, caption, text,
                  QMessageBox::Ok, this);
  box.exec();
}

void MainWindow::ShowFailure(std::exception_ptr error, const FailurePlace& place) {
  if (const auto message = FailureMessageOf(error, place))
    ShowMessage(message->text, message->caption, true);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (panel_->isVisible()) panel_->Place(this);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Asked once, when the user closes; a close that waited for a run to stop
  // comes back here without asking again.
  if (!closePending_ && !MayDropChanges("Close")) {
    event->ignore();
    return;
  }
  if (runner_.Running()) {
    // Stop the run first; the window closes when it has ended.
    closePending_ = true;
    runner_.RequestStop();
    panel_->ShowText("Stopping...");
    event->ignore();
    return;
  }
  if (settings_) SaveWindowState(*settings_, *this);
  event->accept();
}

}  // namespace tvq
