// Progress on a terminal: one line on stderr with the stage caption, a bar and
// the percentage, redrawn in place. Silent when stderr is not a terminal or
// when quiet. Ctrl+C, SIGTERM and SIGHUP ask the running command to stop; a
// second one ends the program at once, after removing the temporary file of a
// save in progress.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "imaging/progress.h"

namespace tvq::cli {

class TerminalProgress : public Progress {
 public:
  explicit TerminalProgress(bool quiet);
  ~TerminalProgress() override;
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  void ShowProgress(const std::string& stage, std::int32_t position, std::int32_t maximum) override;
  // True once a signal asked to stop; a true answer is remembered (StopHonoured).
  bool StopRequested() override;
  const StopFlag* SharedStopFlag() const override;
  // Whether the work saw a stop through StopRequested() and so returned a result
  // cut short.
  bool StopHonoured() const { return honoured_.load(); }
  // A line of `caption`, a bar filled to `fraction` (0..1), the percentage and
  // `suffix`. Redrawn at most 20 times a second unless `force`.
  void ShowStatus(const std::string& caption, double fraction, const std::string& suffix,
                  bool force);
  // Ends the progress line so that later messages start on a fresh line.
  void Finish();
  // Erases the progress line, so that a message can take its place; the next
  // status draws it again.
  void Clear();

 private:
  bool enabled_;
  std::atomic<bool> honoured_{false};
  bool lineOpen_ = false;
  std::string lastLine_;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace tvq::cli
