// The main window: menu, picture, progress panel, status bar, and every command of
// the menu.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QSettings>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>

#include "app/commandrunner.h"
#include "app/history.h"
#include "app/picturefile.h"
#include "commands/batch.h"
#include "commands/sizes.h"
#include "imaging/bitmap.h"
#include "imaging/imagefmt.h"
#include "imaging/source.h"

class QAction;
class QGroupBox;
class QLabel;
class QMenu;

namespace tvq {

class PictureView;
class NoiseGenerator;
class ProgressPanel;
class SettingsDialog;
class StatusBar;
struct FailurePlace;

// The window caption.
inline constexpr const char* kMainCaption =
    "Resampling by Superresolution and Deringing using TVQ method";

// "TForm1". Commands read the displayed picture and replace it with their result;
// long commands run through the CommandRunner while the progress panel shows their
// stage, and the entries that would start another command are disabled meanwhile.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // The displayed picture; SetPicture replaces it and repaints.
  const Bitmap& Picture() const { return picture_; }
  void SetPicture(Bitmap picture, PictureExtras extras = {});
  // The alpha plane, colour profile and origin kept beside the picture.
  const PictureExtras& Extras() const { return extras_; }

  // File commands without their file dialogs. Failures are reported in a message
  // box naming the file and the problem; the picture then stays as it was. Each
  // asks "Save changes?" first when the picture has unsaved changes (false when
  // the user cancels).
  bool OpenFile(const QString& path);
  bool ReloadFile();
  // Opens the first file here and each other in a window of its own (a drop of
  // several files); false when none opened here.
  bool OpenFiles(const QStringList& paths);
  // The previous (-1) or next (+1) picture of the current file's folder, by name;
  // false when there is none or it did not open.
  bool OpenNeighbour(int direction);
  // Saves in the format the extension names (a name without one as a bitmap);
  // any other extension is refused in a message box and nothing is written. A saved
  // picture takes the file's name, as after Open. JPEG and WebP are written at
  // `quality`.
  bool SaveFile(const QString& path, int quality = 95);
  // Replaces the picture with the clipboard's (a picture, or the picture files a
  // file manager copied); false (after a message) when the clipboard holds neither.
  bool PasteFromClipboard();
  const QString& LastFileName() const { return lastFileName_; }

  // Stage caption and progress bar of the progress panel; while a command runs, also
  // its elapsed time and, once the position has advanced, an estimate of the time left.
  void ShowProgress(const QString& text, int position, int maximum);

  // Runs job on the worker thread (see CommandRunner): shows the progress panel
  // (when showPanel), forwards frames to the view when showIterations, and on
  // success replaces the picture with the job's result. A failure is shown in a
  // message box starting with `name`; the picture stays as it was. Returns false
  // when a command is running already.
  bool RunCommand(const QString& name, PictureJob job, bool showIterations, bool showPanel = true);
  bool CommandRunning() const { return runner_.Running(); }

  // The name the status bar and title give the picture: its file's, "Pasted
  // picture" or "Built-in picture".
  QString PictureName() const;

  // The grey snapshots of Downsampling and Store image 1 / 2 (null until set).
  const TImageF* ReferenceImage() const { return referenceImage_.get(); }
  const TImageF* StoredImage1() const { return storedImage1_.get(); }
  const TImageF* StoredImage2() const { return storedImage2_.get(); }

  // The flags the "Process" entries set before starting their command.
  bool DeringingFlag() const { return deringingFlag_; }
  bool MaskFlag() const { return maskFlag_; }

  // The parts of the status bar, each its own label so that screen readers read it:
  // the file name, width x height and bits per pixel, the zoom, the pixel under the
  // mouse, and the last command with its elapsed time.
  QLabel* FileStatus() const;
  QLabel* SizeStatus() const;
  QLabel* ZoomStatus() const;
  QLabel* PixelStatus() const;
  QLabel* CommandStatus() const;

  // The picture as it was before the last command that changed it (what Undo
  // would bring back); nullptr when there is none. HistoryChanged() is emitted
  // whenever it changes.
  const Bitmap* PreviousPicture() const;

  // From now on remembers the recent files, the file dialogs' folders, the geometry
  // and the View options in settings, and restores what it holds already. A window
  // without settings remembers nothing.
  void UseSettings(std::unique_ptr<QSettings> settings);
  // Set when a command or a paste changes the picture; cleared by Open, Reload and
  // a successful save. Closing the window then asks "Save changes?".
  bool HasUnsavedChanges() const { return unsaved_; }
  // Undo and Redo of the Edit menu; false when there is nothing to take back or
  // bring again, or while a command runs.
  bool UndoChange();
  bool RedoChange();
  const History& PictureHistory() const { return history_; }

  PictureView* View() const { return view_; }
  QGroupBox* ProgressPanel() const;

 signals:
  // Emitted after a command run has ended, however it ended.
  void CommandFinished();
  // Emitted when the undo history (and so PreviousPicture()) has changed.
  void HistoryChanged();

 protected:
  // The file dialogs; tests override them. An empty path means cancelled.
  // AskSavePath starts from `suggested`, with its format's filter selected.
  virtual QString AskOpenPath();
  virtual QString AskSavePath(const QString& suggested);
  // A window like this one (its settings store copied) for another file.
  virtual MainWindow* NewWindow();

  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void CreateMenus();
  // Open Recent, the menus' mnemonics and F10 (sessionactions.cpp).
  QMenu* CreateRecentMenu(QMenu* image);
  void UpdateRecentMenu();
  void OpenRecent(const QString& path);
  void RememberOpenedFile(const QString& path);
  void CreateMenuKeys();
  // "Save changes?" for an unsaved picture, with `caption` (the action asking) as
  // its title: true when it was saved or may go.
  bool MayDropChanges(const QString& caption);
  bool ConfirmOverwrite(const QString& path);
  // Before writing a picture with alpha in a format without: "Save anyway" or not.
  bool ConfirmDropAlpha(const QString& path, PictureFormat format);
  // The quality for JPEG and WebP, asked with the last one as the default; nullopt
  // when cancelled.
  std::optional<int> AskQuality(PictureFormat format);
  // The name Save As suggests: the file's name (with "_2x" after an enlargement) in
  // its format, in the last folder saved to.
  QString SuggestedSaveName() const;
  void SetUnsaved(bool unsaved);
  void UpdateWindowTitle();
  // OpenFile without the question.
  bool LoadFile(const QString& path);
  // Opens the local picture files among urls (OpenFiles); false when there are none.
  bool OpenUrls(const QList<QUrl>& urls);
  void ToggleFullScreen();
  // The zoom and comparison items of the View menu (viewactions.cpp).
  void CreateViewActions(QMenu* view);
  // Enables "Compare with Previous" when there is a previous picture and hands it
  // to the view while comparing.
  void UpdateComparison();
  // Fills the file and size parts of the status bar from the picture.
  void UpdatePictureStatus();
  // The displayed picture and the file Reload would read, for the history.
  PictureState CurrentState() const;
  // Remembers the state from before a change, once the new picture is shown.
  void PushHistory(PictureState before);
  // Shows a state from the history.
  void RestoreState(PictureState state);
  QAction* AddAction(QMenu* menu, const QString& name, const QString& caption);
  void UpdateActions();
  void ShowMessage(const QString& text, const QString& caption, bool error);
  // The message box for what a command, file command or dialog threw (see failure.h);
  // none after a stop.
  void ShowFailure(std::exception_ptr error, const FailurePlace& place);
  // Runs a quick same-size command that makes a grey picture on this thread, with its
  // time, its undo step and a message box on failure.
  // `command`: the registry's name of the command, whose memory model is checked first.
  void RunQuickGreyCommand(const QString& name, std::string_view command,
                           const std::function<TImageF(const PictureSource&)>& run);
  void OnCommandFinished(std::shared_ptr<DisplayedPicture> result, std::exception_ptr error);
  // Shows a picture as displayed with what is kept beside it: its alpha plane goes
  // into extras, and it is grey when either says so.
  void ShowDisplayed(DisplayedPicture shown, PictureExtras extras);
  // Shows a command's result as an unsaved change that Undo takes back; the colour
  // profile and origin stay.
  void ShowResult(DisplayedPicture shown);
  // RunCommand for a job whose result is a displayed picture (its alpha plane and
  // grey flag with it); RunCommand passes its bitmap jobs through here.
  bool RunPictureCommand(const QString& name, DisplayedJob job, bool showIterations,
                         bool showPanel = true);
  // Reads a file of any supported format for Open and Reload.
  DisplayedPicture LoadPicture(const QString& path, PictureExtras& extras);
  // Loads a file and shows it as saved; false after a message box (`caption` for
  // file errors, "`failure` path" for others) with the picture unchanged.
  bool ShowFile(const QString& path, const QString& caption, const QString& failure);

  // Shows a settings dialog on the values last accepted and reads it; false when it
  // was cancelled. With `preview`, its "Preview" check box runs the job that
  // preview makes from the values on the part of the picture in view.
  template <typename Dialog, typename Params>
  bool AskSettings(Params& params,
                   std::type_identity_t<std::function<DisplayedJob(const Params&, CommandSource)>>
                       preview = nullptr);
  // While a settings dialog is open: whenever its values change (and "Preview" is
  // checked), stops the running preview and runs `make`'s job on at most 256 x 256
  // pixels in the middle of the part in view, then shows before and after in the
  // view. `make` gives nothing while the values do not read.
  using PreviewMaker = std::function<std::optional<DisplayedJob>(CommandSource)>;
  void AttachPreview(SettingsDialog& dialog, PreviewMaker make);
  // Stops the preview and shows the picture again.
  void EndPreview();
  void OnPreviewFinished(std::shared_ptr<DisplayedPicture> result);

  // Menu commands.
  void Open();
  void Reload();
  // Asks for the path (and before replacing a file); true when the picture was saved.
  bool SaveAs();
  void CopyToClipboard();
  void Paste();
  void About();
  void ResampleCommand(const QString& name);
  void DeringCommand(const QString& name);
  void Resize();
  void ProcessFolder();
  // The summary of a Process Folder run: in the status bar and a message box that
  // lists the failures.
  struct FolderOutcome {
    QString command;  // the caption of the folder's command
    BatchSummary summary;
    std::vector<std::string> messages;  // every error and warning line, in order
    bool finished = false;              // the batch ran (its files were collected)
  };
  void ShowFolderOutcome(const FolderOutcome& outcome, bool stopped);
  void EdgeMask();
  void Downsampling();
  void AddGaussianNoise();
  void Greyscale();
  void StoreImage(int slot);
  void GetPsnr();
  // Every measure of the displayed picture against Store image 1, with Copy and the
  // difference map (compareactions.cpp).
  void CompareWithStored();
  // The displayed picture's colour as the command-line tool reads its file.
  TImageF4 DisplayedColour() const;

  Bitmap picture_;
  PictureExtras extras_;
  PictureView* view_ = nullptr;
  tvq::ProgressPanel* panel_ = nullptr;
  StatusBar* statusBar_ = nullptr;
  // Run on the user-interface thread when the running command succeeds.
  std::function<void()> onSuccess_;
  // The running command's name and clock, for its elapsed time in the status bar.
  QString runningCommand_;
  QElapsedTimer commandClock_;

  QAction* open_ = nullptr;
  QAction* reload_ = nullptr;
  QAction* processFolder_ = nullptr;
  QAction* paste_ = nullptr;
  QAction* undo_ = nullptr;
  QAction* redo_ = nullptr;
  QAction* stretch_ = nullptr;
  QAction* compare_ = nullptr;
  QAction* fullScreen_ = nullptr;
  QMenu* processMenu_ = nullptr;
  QMenu* debugMenu_ = nullptr;

  // The last progress stage of the running command and how many iterations it was
  // set to run (0 when it has no iteration count), for what a stop reports.
  QString lastStage_;
  int runningIterations_ = 0;

  QString lastFileName_;
  bool reloadAvailable_ = false;
  // The output size the resampling dialog was accepted with (nullopt: two times).
  std::optional<OutputSizeParams> askedSize_;
  // Settings dialogs asked for Process Folder: no displayed picture to size.
  bool folderAsking_ = false;
  // What the running Process Folder reports when it ends; null for other commands.
  std::shared_ptr<FolderOutcome> folderOutcome_;
  bool deringingFlag_ = false;
  bool maskFlag_ = false;
  bool closePending_ = false;
  bool unsaved_ = false;
  QMenu* recentMenu_ = nullptr;
  std::unique_ptr<QSettings> settings_;

  std::unique_ptr<TImageF> referenceImage_;
  std::unique_ptr<TImageF> storedImage1_;
  std::unique_ptr<TImageF> storedImage2_;
  // Store image 1 in colour, the reference of Compare with Stored Image.
  std::unique_ptr<TImageF4> storedColour1_;
  std::unique_ptr<NoiseGenerator> noise_;

  History history_;
  CommandRunner runner_;

  // The preview of an open settings dialog (see AttachPreview).
  CommandRunner previewRunner_;
  QTimer* previewTimer_ = nullptr;
  std::function<void()> startPreview_;
  QImage previewBefore_;
  bool previewing_ = false;
  bool previewPending_ = false;
  bool previewShown_ = false;
};

}  // namespace tvq
