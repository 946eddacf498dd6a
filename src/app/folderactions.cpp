// Process Folder: a folder of pictures through one command, by the command-line tool's
// batch engine (commands/batch.h) on the worker, with the tool's settings for the
// command as its dialogs give them.
#include <QMessageBox>
#include <mutex>

#include "app/failure.h"
#include "app/folderdialog.h"
#include "app/mainwindow.h"
#include "app/progresspanel.h"
#include "app/settings.h"
#include "app/settingsdialogs.h"
#include "app/statusbar.h"
#include "commands/batch.h"
#include "commands/filepicture.h"
#include "commands/memoryestimate.h"
#include "commands/processable.h"
#include "commands/registry.h"
#include "imaging/errors.h"
#include "imaging/io/fileio.h"
#include "imaging/io/picture.h"

namespace tvq {

namespace {

// The values of a settings struct as the registry reads them: every field of its
// table by its command-line name (with `prefix`), a choice as its index.
template <typename Params>
void AddSettings(SettingInputs& inputs, const SettingsTable<Params>& table, const Params& params,
                 const std::string& prefix, const ChoiceDesc* leaveOut = nullptr) {
  for (const FieldBinding<Params>& field : table)
    if (!leaveOut || field.choice != leaveOut) inputs[prefix + field.Flag()] = field.get(params);
}

void AddSize(SettingInputs& inputs, const OutputSizeParams& size) {
  if (size.geometry)
    inputs["size"] = GeometryText(*size.geometry);
  else if (size.scale != 0.0)
    inputs["scale"] = size.scale;
}

// The "File 3 of 10: a.png: Reduction (1m05s left)" line of the progress panel, from
// the batch engine on the worker thread.
class PanelObserver : public BatchObserver {
 public:
  PanelObserver(Progress& progress, std::vector<std::string>& messages)
      : progress_(progress), messages_(messages) {}
  void ShowStatus(std::int64_t finished, std::int64_t total, const std::string& current,
                  double fraction, const std::string& left, bool) override {
    std::string line =
        "File " + std::to_string(std::min(finished + 1, total)) + " of " + std::to_string(total);
    if (!current.empty()) line += ": " + current;
    if (!left.empty()) line += " (" + left + ")";
    progress_.ShowProgress(line, static_cast<std::int32_t>(fraction * 1000.0 + 0.5), 1000);
  }
  void Message(const std::string& line) override { messages_.push_back(line); }
  bool StopRequested() override { return progress_.StopRequested(); }
  const StopFlag* SharedStopFlag() const override { return progress_.SharedStopFlag(); }

 private:
  Progress& progress_;
  std::vector<std::string>& messages_;
};

// One file of the folder as the tool processes it: read within the default limits
// (a size the command cannot make is refused from the header), the command's work,
// and the result written below the output folder; failures name the file.
BatchRunner FolderRunner(const PreparedCommand& prepared, const std::string& outDir) {
  return [prepared, outDir](const BatchItem& item, Progress& progress,
                            const std::function<void(const std::string&)>& warn) {
    const auto naming = [&item](const std::string& path, auto work) {
      try {
        return work();
      } catch (const OperationStopped&) {
        throw;
      } catch (const std::bad_alloc&) {
        throw;
      } catch (const std::exception& e) {
        const std::string what = e.what();
        throw FileError(what.rfind(path, 0) == 0 ? what : path + ": " + what);
      }
    };
    // The memory the system has now, checked from the header before the pixels are
    // decoded and again from the picture, as the tool checks it.
    const MemoryLimit memory = SystemMemoryLimit();
    DecodeLimits limits;
    limits.checkSize = [&prepared](std::int32_t width, std::int32_t height) {
      prepared.CheckSize(width, height);
    };
    limits.checkHeader = [&](std::int32_t width, std::int32_t height,
                             std::optional<PictureFormat> format) {
      CheckMemory(
          item.input,
          EstimateMemoryFromHeader(prepared.memory, prepared.features, width, height, format).least,
          memory);
    };
    Picture picture = naming(item.input, [&] { return ReadPicture(item.input, limits); });
    for (const std::string& warning : picture.warnings)
      warn("tvq: warning: " + item.input + ": " + warning);
    const CommandInput input = naming(item.input, [&] {
      CheckProcessable(picture);
      return PrepareInput(std::move(picture));
    });
    const Picture result = naming(item.input, [&] {
      prepared.CheckSize(input.Width(), input.Height());
      MemoryFeatures features = prepared.features;
      features.alpha = input.alpha.HasImage();
      CheckMemory(item.input,
                  prepared.Estimate(features, input.Width(), input.Height(), InputBytes(input)),
                  memory);
      return prepared.work(input, progress);
    });
    // A stopped file's result is incomplete: it is not written.
    if (progress.StopRequested()) return false;
    const std::optional<PictureFormat> format = FormatFromExtension(item.output);
    if (!format) throw FileError(item.output + ": not a picture extension");
    const std::vector<std::uint8_t> bytes =
        naming(item.output, [&] { return EncodePicture(result, *format, WriteOptions{}); });
    WriteFileBelow(outDir, item.relative, bytes);
    // What the format could not keep, in the tool's words.
    if (input.alpha.HasImage() && !FormatHoldsAlpha(*format))
      warn("tvq: warning: " + item.output + ": " + PictureFormatName(*format) +
           " holds no alpha; the picture's transparency was dropped");
    if (FormatHoldsProfile(*format) && !ProfileSuitsPicture(result))
      warn("tvq: warning: " + item.output + ": a grey picture takes no " +
           ProfileColourSpace(result.icc) + " colour profile; the input's profile was dropped");
    return true;
  };
}

}  // namespace

void MainWindow::ProcessFolder() {
  if (runner_.Running()) return;
  ProcessFolderDialog dialog(this);
  if (settings_) dialog.SetValues(DialogValues(*settings_, dialog.objectName()));
  FolderRequest request;
  dialog.SetCheck([&dialog, &request] { request = dialog.Read(); });
  if (dialog.exec() != QDialog::Accepted) return;
  if (settings_) SetDialogValues(*settings_, dialog.objectName(), dialog.Values());

  // The command's settings, asked with its own dialogs (no preview: there is no
  // picture of the folder to show; no result size: the files' sizes vary).
  SettingInputs inputs;
  std::string command = "resample";
  folderAsking_ = true;
  const auto asked = [&]() -> bool {
    const FolderCommand c = request.command;
    const bool resampling = c == FolderCommand::kResampling ||
                            c == FolderCommand::kResamplingDeringing ||
                            c == FolderCommand::kResamplingMaskedDeringing;
    const bool masked =
        c == FolderCommand::kResamplingMaskedDeringing || c == FolderCommand::kMaskedDeringing;
    if (c == FolderCommand::kResize) {
      command = "resize";
      ResizeSettings resize;
      if (!AskSettings<ResizeDialog>(resize)) return false;
      AddSize(inputs, resize.size);
      inputs[kResizeFilterSetting.flag] = static_cast<double>(resize.filter);
      return true;
    }
    if (resampling) {
      ResampleParams resample;
      askedSize_.reset();
      if (!AskSettings<ResamplingSettingsDialog>(resample)) return false;
      AddSettings(inputs, ResampleTable(), resample, "");
      if (resample.fractalSubstitution) inputs["fractal"] = true;
      if (askedSize_) AddSize(inputs, *askedSize_);
    } else {
      command = "dering";
    }
    if (!resampling || c == FolderCommand::kResamplingDeringing || masked) {
      DeringParams dering;
      if (!AskSettings<DeringingSettingsDialog>(dering)) return false;
      if (resampling) {
        // Resample's "dering" is the method; the other fields carry its prefix.
        inputs["dering"] = static_cast<double>(dering.method);
        AddSettings(inputs, DeringTable(), dering, "dering-", &kDeringMethodSetting);
      } else {
        AddSettings(inputs, DeringTable(), dering, "");
      }
    }
    if (masked) {
      EdgeMaskParams mask;
      if (!AskSettings<EdgeMaskSettingsDialog>(mask)) return false;
      inputs["mask"] = true;
      AddSettings(inputs, EdgeMaskTable(), mask, "");
    }
    return true;
  }();
  folderAsking_ = false;
  if (!asked) return;

  const QString name = "Process Folder";
  PreparedCommand prepared;
  try {
    prepared = FindCommand(command)->prepare(inputs, Spelling::kCallers);
  } catch (...) {
    ShowFailure(std::current_exception(), FailurePlace(name));
    return;
  }
  BatchOptions options;
  options.outDir = request.outputFolder.toStdString();
  if (!request.extension.isEmpty()) options.extension = request.extension.toStdString();
  options.skipExisting = request.skipExisting;
  auto outcome = std::make_shared<FolderOutcome>();
  outcome->command = ProcessFolderDialog::CommandCaption(request.command);
  const bool started = RunPictureCommand(
      name,
      [outcome, options, folder = request.inputFolder.toStdString(),
       runner = FolderRunner(prepared, options.outDir)](Progress& progress) {
        const std::vector<BatchItem> items = CollectBatchItems({folder}, options);
        PanelObserver observer(progress, outcome->messages);
        outcome->summary = RunBatchItems(items, options, runner, observer);
        outcome->finished = true;
        return DisplayedPicture();
      },
      false);
  if (started) folderOutcome_ = std::move(outcome);
}

void MainWindow::ShowFolderOutcome(const FolderOutcome& outcome, bool stopped) {
  QString text = QString::fromStdString(SummaryLine(outcome.summary));
  if (stopped)
    text = QStringLiteral("Stopped; %1 file(s) not finished, no partial result written. ")
               .arg(outcome.summary.unfinished) +
           text;
  statusBar_->ShowCommandText("Process Folder (" + outcome.command + "): " + text);
  QMessageBox box(outcome.summary.failed > 0 ? QMessageBox::Warning : QMessageBox::Information,
                  "Process Folder", text + ".", QMessageBox::Ok, this);
  box.setObjectName("FolderSummaryBox");
  const std::vector<std::string>& failures = outcome.summary.failures;
  if (!failures.empty()) {
    // The first few in the box; every failure and warning under "Show Details".
    constexpr std::size_t kShown = 8;
    QString list = "Failed:";
    for (std::size_t i = 0; i < failures.size() && i < kShown; ++i)
      list += "\n" + QString::fromStdString(failures[i]);
    if (failures.size() > kShown)
      list += QStringLiteral("\n... and %1 more").arg(failures.size() - kShown);
    box.setInformativeText(list);
  }
  if (!outcome.messages.empty()) {
    QString details;
    for (const std::string& line : outcome.messages) details += QString::fromStdString(line) + "\n";
    box.setDetailedText(details);
  }
  box.exec();
}

}  // namespace tvq
