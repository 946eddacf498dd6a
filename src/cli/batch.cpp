#include "cli/batch.h"

#include <cctype>
#include <ostream>
#include <string>

#include "cli/failure.h"
#include "cli/options.h"
#include "imaging/io/picture.h"

namespace tvq::cli {

namespace {

// The terminal's side of a batch: the progress line, and each message on a line of
// its own once the progress line is cleared.
class TerminalBatchObserver : public BatchObserver {
 public:
  TerminalBatchObserver(TerminalProgress& terminal, std::ostream& err)
      : terminal_(terminal), err_(err) {}
  void ShowStatus(std::int64_t finished, std::int64_t total, const std::string& current,
                  double fraction, const std::string& left, bool force) override {
    terminal_.ShowStatus(std::to_string(finished) + "/" + std::to_string(total) + " " + current,
                         fraction, left, force);
  }
  void Message(const std::string& line) override {
    terminal_.Clear();
    err_ << Printable(line) << "\n" << std::flush;
  }
  bool StopRequested() override { return terminal_.StopRequested(); }
  const StopFlag* SharedStopFlag() const override { return terminal_.SharedStopFlag(); }

 private:
  TerminalProgress& terminal_;
  std::ostream& err_;
};

}  // namespace

std::pair<std::int32_t, std::int32_t> ParseShard(const std::string& text) {
  // A whole number of at most nine digits, or -1.
  const auto whole = [](const std::string& part) {
    if (part.empty() || part.size() > 9 ||
        part.find_first_not_of("0123456789") != std::string::npos)
      return -1;
    return std::stoi(part);
  };
  const auto slash = text.find('/');
  if (slash != std::string::npos) {
    const int k = whole(text.substr(0, slash));
    const int n = whole(text.substr(slash + 1));
    if (k >= 0 && k < n) return {k, n};
  }
  throw UsageError("--shard: '" + text + "' is not K/N with whole numbers 0 <= K < N");
}

std::string ParseExtension(const std::string& text) {
  const std::string extension = text.empty() || text[0] != '.' ? "." + text : text;
  std::string lower = extension;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const auto& e : PictureExtensions())
    if (e == lower) return lower;
  throw UsageError("--format: '" + text + "' is not one of " + ExtensionList());
}

std::vector<BatchItem> CollectBatch(const std::vector<std::string>& inputs,
                                    const BatchOptions& options) {
  try {
    return CollectBatchItems(inputs, options);
  } catch (const BatchInputError& e) {
    throw UsageError(e.what());
  }
}

int RunBatch(const std::vector<BatchItem>& items, const BatchOptions& options,
             const BatchRunner& runner, TerminalProgress& progress, std::ostream& err) {
  TerminalBatchObserver observer(progress, err);
  const BatchSummary summary = RunBatchItems(items, options, runner, observer);
  progress.Finish();
  const bool stopped = progress.StopRequested();
  if (stopped)
    err << "tvq: stopped; " << summary.unfinished
        << " file(s) not finished, no partial result written\n";
  err << SummaryLine(summary) << "\n";
  return stopped ? kExitStopped : summary.failed > 0 ? kExitFailure : 0;
}

}  // namespace tvq::cli
