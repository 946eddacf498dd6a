#include "cli/terminal_progress.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <iterator>

#include "cli/failure.h"
#include "imaging/io/fileio.h"

namespace tvq::cli {

namespace {

StopFlag gInterrupted{false};

// The signals that ask to stop: Ctrl+C, kill's default and a closed terminal.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction gPrevious[std::size(kStopSignals)];

// Only async-signal-safe calls here: the flag, unlink and raise.
extern "C" void OnStopSignal(int signal) {
  if (gInterrupted.exchange(true)) {
    // A second signal: leave at once with the conventional status, removing the
    // temporary file of a save that was under way.
    RemovePendingTemporaryFiles();
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
  }
}

}  // namespace

TerminalProgress::TerminalProgress(bool quiet) : enabled_(!quiet && isatty(STDERR_FILENO)) {
  gInterrupted = false;
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
  action.sa_flags = SA_RESTART;  // reads and writes go on after the first signal
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
    sigaction(kStopSignals[i], &action, &gPrevious[i]);
}

TerminalProgress::~TerminalProgress() {
  Finish();
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
    sigaction(kStopSignals[i], &gPrevious[i], nullptr);
}

void TerminalProgress::ShowProgress(const std::string& stage, std::int32_t position,
                                    std::int32_t maximum) {
  if (!enabled_) return;
  const double fraction = maximum > 0 ? static_cast<double>(position) / maximum : 0.0;
  ShowStatus(stage, fraction, "", position == 0 || position >= maximum);
}

void TerminalProgress::ShowStatus(const std::string& caption, double fraction,
                                  const std::string& suffix, bool force) {
  if (!enabled_) return;
  fraction = std::clamp(fraction, 0.0, 1.0);
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(fraction * kWidth + 0.5);
  std::string line = Printable(caption);
  line.resize(std::max<std::size_t>(line.size(), 20), ' ');
  line += " [" + std::string(filled, '#') + std::string(kWidth - filled, '-') + "] ";
  line += std::to_string(static_cast<int>(fraction * 100.0 + 0.5)) + "%";
  if (!suffix.empty()) line += " " + suffix;
  // Redraw at most 20 times a second unless the text changed in substance.
  const auto now = std::chrono::steady_clock::now();
  if (line == lastLine_ || (now - lastDraw_ < std::chrono::milliseconds(50) && !force)) return;
  lastLine_ = line;
  lastDraw_ = now;
  std::fprintf(stderr, "\r%s\033[K", line.c_str());
  std::fflush(stderr);
  lineOpen_ = true;
}

bool TerminalProgress::StopRequested() {
  if (!gInterrupted.load()) return false;
  honoured_ = true;
  return true;
}

const StopFlag* TerminalProgress::SharedStopFlag() const {
  return &gInterrupted;
}

void TerminalProgress::Finish() {
  if (lineOpen_) {
    std::fputc('\n', stderr);
    lineOpen_ = false;
  }
}

void TerminalProgress::Clear() {
  if (lineOpen_) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    lineOpen_ = false;
    lastLine_.clear();
  }
}

}  // namespace tvq::cli
