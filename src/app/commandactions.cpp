// The main window's commands: running them on the worker, their settings and results.
#include "app/mainwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <cmath>
#include <exception>
#include <initializer_list>
#include <optional>

#include "app/failure.h"
#include "app/picture.h"
#include "app/pictureview.h"
#include "app/progresspanel.h"
#include "app/settings.h"
#include "app/settingsdialogs.h"
#include "app/statusbar.h"
#include "commands/memoryestimate.h"
#include "commands/registry.h"
#include "commands/sizedrun.h"
#include "commands/sizes.h"
#include "deringing/dering.h"
#include "deringing/deringcommand.h"
#include "imaging/settingdesc.h"
#include "superres/resample.h"
#include "utility/utility.h"

namespace tvq {

namespace {

// Why a command must not start on the displayed picture: it would need more memory
// than the system has left (a copy of the picture, four floats per pixel more with
// alpha, and the command's working planes, as the command's entry in the registry
// counts them). std::nullopt when it fits; a size that cannot be made is left for the
// command to refuse.
std::optional<QString> MemoryRefusal(const QString& name, const Bitmap& picture,
                                     const PictureExtras& extras, const PreparedCommand& prepared) {
  MemoryFeatures features = prepared.features;
  features.alpha = !extras.alpha.empty();
  const std::uint64_t pixels =
      static_cast<std::uint64_t>(picture.Width()) * static_cast<std::uint64_t>(picture.Height());
  const std::uint64_t copy = static_cast<std::uint64_t>(picture.RowBytes()) *
                                 static_cast<std::uint64_t>(picture.Height()) +
                             (extras.alpha.empty() ? 0 : pixels * 9 * sizeof(float));
  const std::uint64_t need = prepared.Estimate(features, picture.Width(), picture.Height(), copy);
  const auto message = MemoryShortfall(name.toStdString(), need, SystemMemoryLimit(false));
  if (!message) return std::nullopt;
  return QString::fromStdString(*message);
}

// The registry's preparation of a command that has no settings.
PreparedCommand Prepared(std::string_view command) {
  return FindCommand(command)->prepare({}, Spelling::kCallers);
}

}  // namespace

bool MainWindow::RunCommand(const QString& name, PictureJob job, bool showIterations,
                            bool showPanel) {
  return RunPictureCommand(
      name,
      [job = std::move(job)](Progress& progress) {
        DisplayedPicture shown;
        shown.bitmap = job(progress);
        return shown;
      },
      showIterations, showPanel);
}

bool MainWindow::RunPictureCommand(const QString& name, DisplayedJob job, bool showIterations,
                                   bool showPanel) {
  if (runner_.Running()) return false;
  if (showPanel) {
    panel_->Begin(this);
  } else {
    QApplication::setOverrideCursor(Qt::BusyCursor);
  }
  onSuccess_ = nullptr;
  runningCommand_ = name;
  runningIterations_ = 0;
  lastStage_.clear();
  commandClock_.start();
  runner_.Start(std::move(job), showIterations);
  UpdateActions();
  return true;
}

void MainWindow::OnCommandFinished(std::shared_ptr<DisplayedPicture> result,
                                   std::exception_ptr error) {
  const qint64 elapsed = commandClock_.elapsed();
  const QString seconds = QString::number(elapsed / 1000.0, 'f', 1);
  if (runner_.StopRequested()) {
    // Say what the stop left: the solver's result so far, or the picture as it was.
    QString text = runningCommand_ + ": stopped";
    const QRegularExpressionMatch iteration =
        QRegularExpression(R"(^Iterations \[(\d+)\])").match(lastStage_);
    if (result && iteration.hasMatch()) {
      text += " at iteration " + iteration.captured(1);
      if (runningIterations_ > 0) text += QStringLiteral(" of %1").arg(runningIterations_);
    } else if (result && !lastStage_.isEmpty()) {
      text += " during " + lastStage_;
    }
    text += result ? " (result so far), " + seconds + " s"
                   : "; picture unchanged, after " + seconds + " s";
    statusBar_->ShowCommandText(text);
  } else {
    statusBar_->ShowCommandTime(runningCommand_, elapsed, result != nullptr);
  }
  if (panel_->isVisible()) {
    panel_->End();
  } else {
    QApplication::restoreOverrideCursor();
  }
  if (const std::shared_ptr<FolderOutcome> folder = std::exchange(folderOutcome_, nullptr)) {
    // A folder's run leaves the picture as it is; its summary says what it did.
    UpdateActions();
    emit CommandFinished();
    if (closePending_) {
      close();
      return;
    }
    if (folder->finished)
      ShowFolderOutcome(*folder, runner_.StopRequested());
    else if (error)
      ShowFailure(error, {runningCommand_});
    return;
  }
  if (result) {
    ShowResult(std::move(*result));
    if (onSuccess_) onSuccess_();
  } else {
    // The view may show an iterate; go back to the unchanged picture.
    view_->SetImage(DisplayImage(picture_, extras_.alpha));
  }
  onSuccess_ = nullptr;
  UpdateActions();
  emit CommandFinished();
  if (closePending_) {
    close();
    return;
  }
  if (error) ShowFailure(error, {runningCommand_});
}

void MainWindow::ShowResult(DisplayedPicture shown) {
  PictureState before = CurrentState();
  ShowDisplayed(std::move(shown), std::move(extras_));
  SetUnsaved(true);
  PushHistory(std::move(before));
}

void MainWindow::AttachPreview(SettingsDialog& dialog, PreviewMaker make) {
  QRect inView = view_->VisibleImageRect();
  if (view_->Image().size() != QSize(picture_.Width(), picture_.Height()))
    inView = QRect(0, 0, picture_.Width(), picture_.Height());
  QRect region(0, 0, std::min(256, inView.width()), std::min(256, inView.height()));
  region.moveCenter(inView.center());
  auto part = std::make_shared<std::pair<Bitmap, PictureExtras>>();
  try {
    CropPicture(picture_, extras_, region, part->first, part->second);
  } catch (...) {
    return;  // no preview for a picture that cannot be copied
  }
  previewBefore_ = DisplayImage(part->first, part->second.alpha);
  previewing_ = true;
  previewPending_ = false;
  QCheckBox* box = dialog.PreviewBox();
  startPreview_ = [this, box, make, part] {
    if (!box->isChecked()) return;
    if (previewRunner_.Running()) {
      // The values changed again: this run's result is out of date.
      previewRunner_.RequestStop();
      previewPending_ = true;
      return;
    }
    if (std::optional<DisplayedJob> job = make(CommandSource(part->first, part->second)))
      previewRunner_.Start(std::move(*job), false);
  };
  connect(&dialog, &SettingsDialog::ValuesChanged, previewTimer_, qOverload<>(&QTimer::start));
  connect(box, &QCheckBox::toggled, this, [this](bool on) {
    if (on) {
      previewTimer_->start();
      return;
    }
    previewRunner_.RequestStop();
    previewPending_ = false;
    if (previewShown_) {
      previewShown_ = false;
      view_->SetComparing(false);
      view_->SetComparisonCaptions("Previous", "Current");
      view_->SetImage(DisplayImage(picture_, extras_.alpha));
      UpdateComparison();
    }
  });
  if (box->isChecked()) previewTimer_->start();
}

void MainWindow::OnPreviewFinished(std::shared_ptr<DisplayedPicture> result) {
  if (!previewing_) return;
  if (previewPending_) {
    previewPending_ = false;
    if (startPreview_) startPreview_();
    return;
  }
  if (!result) return;
  // Before on the left of the divider, after on the right; the picture is untouched.
  view_->SetImage(DisplayImage(result->bitmap, result->alpha));
  view_->SetPreviousImage(previewBefore_);
  view_->SetComparisonCaptions("Before", "After");
  view_->SetComparing(true);
  previewShown_ = true;
}

void MainWindow::EndPreview() {
  if (!previewing_) return;
  previewing_ = false;
  previewPending_ = false;
  previewTimer_->stop();
  previewRunner_.RequestStop();
  startPreview_ = nullptr;
  previewBefore_ = QImage();
  if (previewShown_) {
    previewShown_ = false;
    view_->SetComparing(false);
    view_->SetComparisonCaptions("Previous", "Current");
    view_->SetImage(DisplayImage(picture_, extras_.alpha));
    // Back to comparing with the previous picture if that was on.
    const Bitmap* previous = PreviousPicture();
    const bool comparing = compare_->isChecked() && previous;
    view_->SetPreviousImage(comparing ? DisplayImage(*previous, {}) : QImage());
    view_->SetComparing(comparing);
  }
}

template <typename Dialog, typename Params>
bool MainWindow::AskSettings(
    Params& params,
    std::type_identity_t<std::function<DisplayedJob(const Params&, CommandSource)>> preview) {
  Dialog dialog(this);
  // The values last accepted, kept between runs; the dialog's defaults before.
  if (settings_) dialog.SetValues(DialogValues(*settings_, dialog.objectName()));
  // Dialogs with an output size show the result's size for the displayed picture.
  if constexpr (requires { dialog.SetInputSize(1, 1); })
    if (!folderAsking_) dialog.SetInputSize(picture_.Width(), picture_.Height());
  // A number that does not parse or a value outside its range is reported while the
  // dialog stays open, before any further dialog.
  dialog.SetCheck([this, &dialog, &params] {
    Params read = dialog.Read();
    read.Validate();
    if constexpr (requires { dialog.ReadSize(); }) askedSize_ = dialog.ReadSize();
    params = read;
  });
  // A dialog asked for after another (deringing after resampling) has no preview.
  if (!preview && dialog.PreviewBox()) dialog.PreviewBox()->hide();
  if (preview && dialog.PreviewBox()) {
    AttachPreview(dialog, [&dialog, preview](CommandSource source) -> std::optional<DisplayedJob> {
      try {
        Params read = dialog.Read();
        read.Validate();
        return preview(read, std::move(source));
      } catch (...) {
        return std::nullopt;  // a value that does not read yet: no preview
      }
    });
  }
  const int answer = dialog.exec();
  EndPreview();
  if (answer != QDialog::Accepted) return false;
  if (settings_) SetDialogValues(*settings_, dialog.objectName(), dialog.Values());
  return true;
}

void MainWindow::ResampleCommand(const QString& name) {
  ResampleParams resample;
  const auto previewResample = [](const ResampleParams& p, CommandSource source) -> DisplayedJob {
    ResampleParams quiet = p;
    quiet.showIterations = false;
    return [quiet, source](Progress& progress) mutable {
      source.Prepare();
      const TImageF4 result = Resample(source.Source(), quiet, nullptr, nullptr, progress);
      return source.SolverResult(result, AlphaTravel::kEnlarged, "");
    };
  };
  askedSize_.reset();
  if (!AskSettings<ResamplingSettingsDialog>(resample, previewResample)) return;
  const std::optional<OutputSizeParams> size = askedSize_;
  std::optional<DeringParams> dering;
  if (deringingFlag_ && !AskSettings<DeringingSettingsDialog>(dering.emplace())) return;
  std::optional<EdgeMaskParams> mask;
  if (maskFlag_ && !AskSettings<EdgeMaskSettingsDialog>(mask.emplace())) return;
  // The registry prepares the same work the command-line tool runs at this size, with
  // its memory model; messages name the settings by their captions.
  const PreparedCommand prepared = PrepareResample(
      resample, dering, mask, size.value_or(OutputSizeParams{}),
      static_cast<SizeRoute>(kSizeRouteSetting.defaultIndex), SettingNames::kCaptions);
  if (const auto refusal = MemoryRefusal(name, picture_, extras_, prepared)) {
    ShowMessage(*refusal, "Error", true);
    return;
  }
  if (size) {
    // Any other size runs as the command-line tool runs it: on the file picture, by the
    // direct solve or two-times passes and the reduction.
    const bool started = RunPictureCommand(
        name,
        [bitmap = picture_, extras = extras_, prepared](Progress& progress) {
          return DisplayFilePicture(
              prepared.work(PrepareInput(FilePictureOf(bitmap, extras)), progress));
        },
        resample.showIterations);
    if (started) runningIterations_ = resample.iterations;
    return;
  }
  // Two times runs on the displayed picture, whose result a stop may leave half-way and
  // which counts the enlargements.
  const bool started = RunPictureCommand(
      name,
      [source = CommandSource(picture_, extras_), resample, dering, mask,
       remedy = SolverRemedy(resample.convergence, SettingNames::kCaptions)](
          Progress& progress) mutable {
        source.Prepare();
        const TImageF4 result = Resample(source.Source(), resample, dering ? &*dering : nullptr,
                                         mask ? &*mask : nullptr, progress);
        return source.SolverResult(result, AlphaTravel::kEnlarged, remedy);
      },
      resample.showIterations);
  if (!started) return;
  runningIterations_ = resample.iterations;
  onSuccess_ = [this] { ++extras_.enlargements; };
}

void MainWindow::Resize() {
  ResizeSettings settings;
  if (!AskSettings<ResizeDialog>(settings)) return;
  const PreparedCommand prepared = PrepareResize(settings.size, settings.filter);
  if (const auto refusal = MemoryRefusal("Resize", picture_, extras_, prepared)) {
    ShowMessage(*refusal, "Error", true);
    return;
  }
  RunPictureCommand(
      "Resize",
      [bitmap = picture_, extras = extras_, prepared](Progress& progress) {
        return DisplayFilePicture(
            prepared.work(PrepareInput(FilePictureOf(bitmap, extras)), progress));
      },
      false);
}

void MainWindow::DeringCommand(const QString& name) {
  DeringParams dering;
  const auto previewDering = [](const DeringParams& p, CommandSource source) -> DisplayedJob {
    return [p, source](Progress& progress) mutable {
      source.Prepare();
      const TImageF4 result = Dering(source.Source(), p, nullptr, progress);
      return source.SolverResult(result, AlphaTravel::kSameSize, "");
    };
  };
  if (!AskSettings<DeringingSettingsDialog>(dering, previewDering)) return;
  std::optional<EdgeMaskParams> mask;
  if (maskFlag_ && !AskSettings<EdgeMaskSettingsDialog>(mask.emplace())) return;
  if (const auto refusal = MemoryRefusal(name, picture_, extras_,
                                         PrepareDering(dering, mask, SettingNames::kCaptions))) {
    ShowMessage(*refusal, "Error", true);
    return;
  }
  RunPictureCommand(
      name,
      [source = CommandSource(picture_, extras_), dering, mask](Progress& progress) mutable {
        source.Prepare();
        const TImageF4 result = Dering(source.Source(), dering, mask ? &*mask : nullptr, progress);
        return source.SolverResult(result, AlphaTravel::kSameSize,
                                   DeringRemedy(SettingNames::kCaptions));
      },
      false);
}

void MainWindow::EdgeMask() {
  EdgeMaskParams mask;
  if (!AskSettings<EdgeMaskSettingsDialog>(mask)) return;
  if (const auto refusal = MemoryRefusal("Egde Mask", picture_, extras_, PrepareEdgeMask(mask))) {
    ShowMessage(*refusal, "Error", true);
    return;
  }
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
  if (const auto refusal =
          MemoryRefusal("Downsampling", picture_, extras_, Prepared("downsample"))) {
    ShowMessage(*refusal, "Error", true);
    return;
  }
  // The grey picture before halving becomes the reference once the command succeeds.
  auto reference = std::make_shared<TImageF>();
  const bool started = RunPictureCommand(
      "Downsampling",
      [source = CommandSource(picture_, extras_), reference](Progress&) mutable {
        source.Prepare();
        DownsampleResult result = Downsample(source.Source());
        *reference = std::move(result.reference);
        return source.Result(result.halved, AlphaTravel::kFourthChannel);
      },
      false, false);
  if (started)
    onSuccess_ = [this, reference] {
      referenceImage_ = std::make_unique<TImageF>(std::move(*reference));
    };
}

void MainWindow::RunQuickGreyCommand(const QString& name, std::string_view command,
                                     const std::function<TImageF(const PictureSource&)>& run) {
  if (const auto refusal = MemoryRefusal(name, picture_, extras_, Prepared(command))) {
    ShowMessage(*refusal, "Error", true);
    return;
  }
  QElapsedTimer clock;
  clock.start();
  try {
    CommandSource source(picture_, extras_);
    source.Prepare();
    ShowResult(source.Result(run(source.Source()), AlphaTravel::kSameSize));
    statusBar_->ShowCommandTime(name, clock.elapsed(), true);
  } catch (...) {
    statusBar_->ShowCommandTime(name, clock.elapsed(), false);
    ShowFailure(std::current_exception(), {name});
  }
}

void MainWindow::AddGaussianNoise() {
  RunQuickGreyCommand("Add Gaussian Noise", "noise", [this](const PictureSource& source) {
    return tvq::AddGaussianNoise(source, *noise_);
  });
}

void MainWindow::Greyscale() {
  RunQuickGreyCommand("Greyscale", "grey",
                      [](const PictureSource& source) { return tvq::Greyscale(source); });
}

void MainWindow::StoreImage(int slot) {
  try {
    // A failed read keeps the slot's previous image.
    CommandSource source(picture_, extras_);
    source.Prepare();
    auto image = std::make_unique<TImageF>(tvq::Greyscale(source.Source()));
    std::unique_ptr<TImageF4> colour;
    if (slot == 1) colour = std::make_unique<TImageF4>(DisplayedColour());
    (slot == 1 ? storedImage1_ : storedImage2_) = std::move(image);
    if (slot == 1) storedColour1_ = std::move(colour);
  } catch (...) {
    ShowFailure(std::current_exception(), {QStringLiteral("Store image %1").arg(slot)});
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
  } catch (...) {
    ShowFailure(std::current_exception(), {"Get PSNR"});
  }
}

// ---------------------------------------------------------------- undo and redo

const Bitmap* MainWindow::PreviousPicture() const {
  const PictureState* previous = history_.Previous();
  return previous ? &previous->picture : nullptr;
}

PictureState MainWindow::CurrentState() const {
  return {picture_, extras_, lastFileName_, reloadAvailable_};
}

void MainWindow::PushHistory(PictureState before) {
  history_.Push(std::move(before));
  UpdateActions();
  emit HistoryChanged();
}

void MainWindow::RestoreState(PictureState state) {
  lastFileName_ = std::move(state.fileName);
  reloadAvailable_ = state.reloadAvailable;
  SetPicture(std::move(state.picture), std::move(state.extras));
  // Whatever was saved last, the picture shown now may not be it.
  SetUnsaved(true);
  UpdateActions();
  emit HistoryChanged();
}

bool MainWindow::UndoChange() {
  if (runner_.Running() || !history_.CanUndo()) return false;
  RestoreState(history_.Undo(CurrentState()));
  return true;
}

bool MainWindow::RedoChange() {
  if (runner_.Running() || !history_.CanRedo()) return false;
  RestoreState(history_.Redo(CurrentState()));
  return true;
}

}  // namespace tvq
