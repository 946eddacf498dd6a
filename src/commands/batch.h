// Batch runs of the picture commands: `tvq COMMAND [options] IN... -o OUTDIR` and the
// application's Process Folder.
//
// Folders among the inputs are walked recursively for files with a supported
// extension; hidden files and folders (names starting with a dot) are skipped, and so
// is OUTDIR when it lies inside an input folder. Links to files are followed, links
// to folders are not. A folder that cannot be listed, and an entry with a supported
// extension that is no file (a link to nothing, a FIFO, a device or a link to one),
// is an item that fails with its problem. Each result goes to OUTDIR under its path
// relative to the input that named it (a file named itself: OUTDIR/its name),
// keeping its base name, with the extension of --format or else its own; it is
// written below OUTDIR only, never through a link among its folders or at its place.
// The list is sorted by input path; --shard K/N takes the items whose position in it
// is K modulo N. When two inputs map to one output, the later one in the list fails.
//
// --log FILE appends one JSON object per item, on one line, as each item ends:
//   {"input":"in/a.png","output":"out/a.png","status":"done","message":"",
//    "seconds":1.234,"peak_rss":52428800}
// status is done, failed, skipped or stopped (stopped while running, or not started
// because the batch was stopped); message holds the lines the item printed (its error,
// its warnings), newline-separated; output is null for an item that has none. peak_rss
// is the process's peak resident memory, in bytes, while the item ran (null when it did
// no work), measured rather than estimated so that it can size a scheduler's memory
// request: the kernel's high-water mark is reset when an item starts with no other
// running, so with --jobs 1 it is that item's own peak (the program's base included),
// and with more jobs the peak of the items that overlapped it. A run that ends, or is
// stopped, logs every item of its shard once; a killed run keeps the lines of the
// items it finished. Several processes may append to one log (the shards of a cluster
// job): each line is one write() under an exclusive flock(), so lines never interleave.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/progress.h"

namespace tvq {

struct BatchOptions {
  std::string outDir;
  std::optional<std::string> extension;  // with its dot; none: the input's own
  std::int32_t jobs = 1;
  bool skipExisting = false;
  std::int32_t shard = 0;
  std::int32_t shards = 1;
  std::string log;  // --log FILE; empty for none
};

struct BatchItem {
  std::string input;
  std::string output;
  std::string relative;  // output below OUTDIR
  // Set when the item must fail without being read: the problem, in one line.
  std::string conflict;
};

// What CollectBatch refuses: the command line's usage errors, the application's
// message boxes.
class BatchInputError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// The supported extensions, separated by spaces, for messages.
std::string ExtensionList();

// `text` as a JSON string, quotes included: quote, backslash and control characters
// escaped, valid UTF-8 kept as it is, and each byte that is not part of valid UTF-8
// (a file name is any bytes) replaced by \ufffd, so that every line is valid JSON.
std::string JsonString(std::string_view text);

// The items of this shard, in list order. BatchInputError for an input that does not
// exist, a named file whose extension no codec knows, or an OUTDIR that is a file.
std::vector<BatchItem> CollectBatchItems(const std::vector<std::string>& inputs,
                                         const BatchOptions& options);

// Processes one item: reads item.input and writes item.output (item.relative below
// OUTDIR, with WriteFileBelow), reporting through `progress` and printing warnings
// through `warn`. Throws on failure; returns false when the user stopped it and
// nothing was written.
using BatchRunner = std::function<bool(const BatchItem&, Progress& progress,
                                       const std::function<void(const std::string&)>& warn)>;

// Where a batch's progress goes while it runs. The jobs call it one call at a time.
class BatchObserver {
 public:
  virtual ~BatchObserver() = default;
  // Files finished of the total, the most recently reported file and stage ("a.png:
  // Reduction"), the fraction of the whole batch done, and the time left ("1m05s
  // left"; empty in the first second and at the ends). `force`: a file has ended.
  virtual void ShowStatus(std::int64_t finished, std::int64_t total, const std::string& current,
                          double fraction, const std::string& left, bool force) = 0;
  // A line to show as it is: an item's error ("tvq: error: ...") or warning.
  virtual void Message(const std::string& line) = 0;
  virtual bool StopRequested() = 0;
  virtual const StopFlag* SharedStopFlag() const = 0;
};

// How a batch ended.
struct BatchSummary {
  std::int64_t done = 0;
  std::int64_t failed = 0;
  std::int64_t skipped = 0;
  std::int64_t unfinished = 0;  // stopped while running, or not started after a stop
  // The problem of each failed item, in the order they failed ("in/a.png: ...").
  std::vector<std::string> failures;
};

// "N done, M failed, K skipped".
std::string SummaryLine(const BatchSummary& summary);

// Runs the items, options.jobs at a time, each failure one line "tvq: error: ..."
// through observer.Message. Before its work, an item fails whose output place cannot
// be written (a folder there, a link among OUTDIR's folders, a read-only file) and,
// with skipExisting, one whose output exists is skipped. A stop (seen through the
// observer) starts no further item; the running ones stop without writing. With
// options.log, the log is opened (created when missing) before any item, FileError
// when it cannot be.
BatchSummary RunBatchItems(const std::vector<BatchItem>& items, const BatchOptions& options,
                           const BatchRunner& runner, BatchObserver& observer);

}  // namespace tvq
