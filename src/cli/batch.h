// Batch runs of the picture commands: `tvq COMMAND [options] IN... -o OUTDIR`.
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
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "cli/terminal_progress.h"
#include "commands/batch.h"

namespace tvq::cli {

// The engine lives in commands/batch.h, shared with the application.
using tvq::BatchItem;
using tvq::BatchOptions;
using tvq::BatchRunner;
using tvq::ExtensionList;
using tvq::JsonString;

// "K/N" with 0 <= K < N as (K, N); UsageError otherwise.
std::pair<std::int32_t, std::int32_t> ParseShard(const std::string& text);
// ".png" from "png", ".png" or "PNG"; UsageError naming the supported extensions for
// any other.
std::string ParseExtension(const std::string& text);

// CollectBatchItems with its refusals as UsageError.
std::vector<BatchItem> CollectBatch(const std::vector<std::string>& inputs,
                                    const BatchOptions& options);

// Runs the items, options.jobs at a time, each failure one line "tvq: error: ..."
// on err. Before its work, an item fails whose output place cannot be written (a
// folder there, a link among OUTDIR's folders, a read-only file) and, with
// skipExisting, one whose output exists is skipped. The run ends with the line
// "N done, M failed, K skipped" on err. Ctrl+C (seen through progress) starts no
// further item; the running ones stop without writing. Returns the exit status: 130
// when stopped, 1 when an item failed, 0 otherwise. With options.log, the log is opened
// (created when missing) before any item, FileError when it cannot be.
int RunBatch(const std::vector<BatchItem>& items, const BatchOptions& options,
             const BatchRunner& runner, TerminalProgress& progress, std::ostream& err);

}  // namespace tvq::cli
