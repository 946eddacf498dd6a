#include "app/commandrunner.h"

#include <exception>

#include "app/picture.h"

namespace tvq {

RunnerProgress::RunnerProgress(const std::atomic<bool>& stop, bool wantsIterate)
    : stop_(stop), wantsIterate_(wantsIterate) {}

void RunnerProgress::ShowProgress(const std::string& stage, std::int32_t position,
                                  std::int32_t maximum) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.stage = QString::fromStdString(stage);
    state_.position = position;
    state_.maximum = maximum;
  }
  if (!progressPending_.exchange(true)) emit ProgressPending();
}

void RunnerProgress::ShowIterate(const TImageF& iterate) {
  if (!wantsIterate_) return;
  // Skip the conversion while the previous frame has not been shown yet.
  if (framePending_.load()) return;
  QImage frame = GreyToQImage(iterate);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    frame_ = std::move(frame);
  }
  if (!framePending_.exchange(true)) emit FramePending();
}

RunnerProgress::State RunnerProgress::TakeProgress() {
  progressPending_.store(false);
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

QImage RunnerProgress::TakeFrame() {
  QImage frame;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    frame = std::move(frame_);
    frame_ = QImage();
  }
  framePending_.store(false);
  return frame;
}

CommandRunner::CommandRunner(QObject* parent) : QObject(parent) {}

CommandRunner::~CommandRunner() {
  stop_.store(true);
  if (worker_.joinable()) worker_.join();
}

bool CommandRunner::Start(DisplayedJob job, bool wantsIterate) {
  if (running_) return false;
  if (worker_.joinable()) worker_.join();
  stop_.store(false);
  running_ = true;
  progress_ = std::make_unique<RunnerProgress>(stop_, wantsIterate);
  connect(progress_.get(), &RunnerProgress::ProgressPending, this, &CommandRunner::DeliverProgress,
          Qt::QueuedConnection);
  connect(progress_.get(), &RunnerProgress::FramePending, this, &CommandRunner::DeliverFrame,
          Qt::QueuedConnection);

  RunnerProgress* progress = progress_.get();
  worker_ = std::thread([this, job = std::move(job), progress] {
    std::shared_ptr<DisplayedPicture> result;
    std::exception_ptr error;
    try {
      result = std::make_shared<DisplayedPicture>(job(*progress));
    } catch (...) {
      // Worded on the user-interface thread (see failure.h).
      error = std::current_exception();
    }
    // Queued after every progress notice of this run, so it is delivered last.
    QMetaObject::invokeMethod(
        this, [this, result, error] { Complete(result, error); }, Qt::QueuedConnection);
  });
  return true;
}

void CommandRunner::DeliverProgress() {
  if (!progress_) return;
  const RunnerProgress::State state = progress_->TakeProgress();
  emit ProgressChanged(state.stage, state.position, state.maximum);
}

void CommandRunner::DeliverFrame() {
  if (!progress_) return;
  QImage frame = progress_->TakeFrame();
  if (!frame.isNull()) emit FrameShown(frame);
}

void CommandRunner::Complete(std::shared_ptr<DisplayedPicture> result, std::exception_ptr error) {
  if (worker_.joinable()) worker_.join();
  running_ = false;
  emit Finished(std::move(result), error);
}

}  // namespace tvq
