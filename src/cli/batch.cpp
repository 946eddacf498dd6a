#include "cli/batch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <system_error>

#include "cli/failure.h"
#include "cli/options.h"
#include "imaging/io/fileio.h"
#include "imaging/io/picture.h"
#include "imaging/parallel.h"

namespace tvq::cli {

namespace fs = std::filesystem;

namespace {

bool Hidden(const fs::path& path) {
  const std::string name = path.filename().string();
  return !name.empty() && name[0] == '.';
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code error;
  return fs::equivalent(a, b, error) && !error;
}

struct Found {
  fs::path input;
  fs::path relative;    // where its result goes below OUTDIR
  std::string problem;  // set for what cannot be an input: the line to report
};

// "a FIFO", "a character device", ... for messages.
std::string KindOf(fs::file_type type) {
  switch (type) {
    case fs::file_type::fifo:
      return "a FIFO";
    case fs::file_type::character:
      return "a character device";
    case fs::file_type::block:
      return "a block device";
    case fs::file_type::socket:
      return "a socket";
    default:
      return "a special file";
  }
}

// The problem of an entry with a picture extension found in a folder: "" for a file
// (or a link to one) to process, std::nullopt for a link to a folder, which is not
// followed.
std::optional<std::string> EntryProblem(const fs::directory_entry& entry) {
  std::error_code error;
  const fs::file_status own = entry.symlink_status(error);
  if (error) return "cannot be read (" + error.message() + ")";
  if (fs::is_regular_file(own)) return "";
  if (!fs::is_symlink(own)) return "is " + KindOf(own.type()) + ", not a picture file";
  const fs::file_status status = fs::status(entry.path(), error);
  if (status.type() == fs::file_type::not_found) {
    std::error_code ignored;
    return "is a link to nothing (" + fs::read_symlink(entry.path(), ignored).string() +
           " does not exist)";
  }
  if (error) return "cannot be read (" + error.message() + ")";
  if (fs::is_regular_file(status)) return "";
  if (fs::is_directory(status)) return std::nullopt;
  return "is a link to " + KindOf(status.type()) + ", not to a picture file";
}

// The files with a supported extension below `top`, hidden ones and OUTDIR left out;
// a folder that cannot be listed and an entry that is no file come with a problem.
void Walk(const fs::path& top, const fs::path& outDir, std::vector<Found>& found) {
  std::vector<fs::path> folders{top};
  while (!folders.empty()) {
    const fs::path folder = std::move(folders.back());
    folders.pop_back();
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
      const fs::path& path = it->path();
      if (Hidden(path)) continue;
      std::error_code typeError;
      if (it->is_directory(typeError) && !it->is_symlink(typeError)) {
        if (!SameFile(path, outDir)) folders.push_back(path);
        continue;
      }
      if (!FormatFromExtension(path.string())) continue;
      const std::optional<std::string> problem = EntryProblem(*it);
      if (!problem) continue;
      found.push_back({path, path.lexically_relative(top),
                       problem->empty() ? "" : path.string() + ": " + *problem});
    }
    if (error)
      found.push_back(
          {folder,
           {},
           folder.string() + ": the folder cannot be listed (" + error.message() + ")"});
  }
}

}  // namespace

std::string ExtensionList() {
  std::string list;
  for (const auto& e : PictureExtensions()) list += (list.empty() ? "" : " ") + e;
  return list;
}

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
  const fs::path outDir(options.outDir);
  std::error_code error;
  if (fs::exists(outDir, error) && !fs::is_directory(outDir, error))
    throw UsageError("-o " + options.outDir + ": not a folder");
  std::vector<Found> found;
  for (const auto& in : inputs) {
    const fs::path path(in);
    if (fs::is_directory(path, error)) {
      Walk(path, outDir, found);
    } else if (fs::exists(path, error)) {
      if (!FormatFromExtension(in))
        throw UsageError(in + ": not a picture extension (" + ExtensionList() + ")");
      found.push_back({path, path.filename(), ""});
    } else {
      throw UsageError(in + ": no such file or folder");
    }
  }
  std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return a.input.string() < b.input.string();
  });

  // Outputs of the whole list, so that every shard sees the same conflicts.
  std::vector<BatchItem> items;
  std::map<std::string, std::string> taken;  // output -> the input that writes it
  for (std::size_t i = 0; i < found.size(); ++i) {
    fs::path relative = found[i].relative;
    relative.replace_extension(options.extension ? fs::path(*options.extension)
                                                 : found[i].input.extension());
    BatchItem item{found[i].input.string(), (outDir / relative).lexically_normal().string(),
                   relative.lexically_normal().string(), found[i].problem};
    if (!item.conflict.empty()) {
      item.output.clear();
      item.relative.clear();
    } else if (const auto [it, fresh] = taken.emplace(item.output, item.input); !fresh)
      item.conflict =
          item.input + ": its output " + item.output + " is already the output of " + it->second;
    else if (SameFile(item.input, item.output))
      item.conflict = item.input + ": its output " + item.output + " would replace it";
    if (static_cast<std::int64_t>(i) % options.shards == options.shard)
      items.push_back(std::move(item));
  }
  return items;
}

namespace {

std::string Duration(double seconds) {
  const long long s = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%lldh%02lldm", s / 3600, s % 3600 / 60);
  else if (s >= 60)
    std::snprintf(text, sizeof text, "%lldm%02llds", s / 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%llds", s);
  return text;
}

// The batch's progress line and messages, shared by the jobs: files finished of the
// total, the most recently reported file and stage, the overall bar and time left.
class BatchProgress {
 public:
  BatchProgress(TerminalProgress& terminal, std::ostream& err, std::int64_t total)
      : terminal_(terminal), err_(err), total_(total) {}

  void Report(std::int64_t item, const std::string& name, const std::string& stage,
              double fraction) {
    std::lock_guard<std::mutex> lock(mutex_);
    running_[item] = std::clamp(fraction, 0.0, 1.0);
    current_ = name + ": " + stage;
    Draw(false);
  }
  void Finished(std::int64_t item) {
    std::lock_guard<std::mutex> lock(mutex_);
    running_.erase(item);
    ++finished_;
    Draw(true);
  }
  void Message(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    terminal_.Clear();
    err_ << Printable(line) << "\n" << std::flush;
  }
  bool StopRequested() { return terminal_.StopRequested(); }
  const StopFlag* SharedStopFlag() const { return terminal_.SharedStopFlag(); }

 private:
  void Draw(bool force) {
    double work = static_cast<double>(finished_);
    for (const auto& [item, fraction] : running_) work += fraction;
    const double fraction = total_ > 0 ? work / static_cast<double>(total_) : 1.0;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::string left;
    if (fraction > 0.0 && fraction < 1.0 && elapsed >= 1.0)
      left = Duration(elapsed * (1.0 - fraction) / fraction) + " left";
    terminal_.ShowStatus(std::to_string(finished_) + "/" + std::to_string(total_) + " " + current_,
                         fraction, left, force);
  }

  TerminalProgress& terminal_;
  std::ostream& err_;
  const std::int64_t total_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::mutex mutex_;
  std::map<std::int64_t, double> running_;  // item -> fraction of its current stage
  std::int64_t finished_ = 0;
  std::string current_;
};

// One job's Progress: forwards to the shared batch progress.
class JobProgress : public Progress {
 public:
  JobProgress(BatchProgress& batch, std::int64_t item, std::string name)
      : batch_(batch), item_(item), name_(std::move(name)) {}
  void ShowProgress(const std::string& stage, std::int32_t position,
                    std::int32_t maximum) override {
    batch_.Report(item_, name_, stage, maximum > 0 ? static_cast<double>(position) / maximum : 0.0);
  }
  bool StopRequested() override { return batch_.StopRequested(); }
  const StopFlag* SharedStopFlag() const override { return batch_.SharedStopFlag(); }

 private:
  BatchProgress& batch_;
  std::int64_t item_;
  std::string name_;
};

}  // namespace

int RunBatch(const std::vector<BatchItem>& items, const BatchOptions& options,
             const BatchRunner& runner, TerminalProgress& progress, std::ostream& err) {
  BatchProgress batch(progress, err, static_cast<std::int64_t>(items.size()));
  std::atomic<std::int64_t> done{0}, failed{0}, skipped{0}, unfinished{0};
  const auto warn = [&batch](const std::string& line) { batch.Message(line); };
  // Temporary files that a killed run left for these results, in one pass.
  std::vector<std::string> relatives;
  for (const BatchItem& item : items)
    if (item.conflict.empty()) relatives.push_back(item.relative);
  RemoveLeftoversBelow(options.outDir, relatives);
  ParallelJobs(static_cast<std::int64_t>(items.size()), options.jobs, [&](std::int64_t i) {
    const BatchItem& item = items[static_cast<std::size_t>(i)];
    if (batch.StopRequested()) {
      ++unfinished;
      return;
    }
    std::string problem = item.conflict;
    bool skip = false;
    // The output's place is looked at before the work: a result that could not be
    // written is not computed.
    if (problem.empty()) {
      try {
        skip = options.skipExisting && InspectBelow(options.outDir, item.relative, false);
        if (!skip) InspectBelow(options.outDir, item.relative, true);
      } catch (const FileError& e) {
        problem = e.what();
      }
    }
    if (problem.empty() && !skip) {
      JobProgress job(batch, i, fs::path(item.input).filename().string());
      try {
        if (!runner(item, job, warn))
          ++unfinished;
        else
          ++done;
      } catch (...) {
        const Failure failure = CurrentFailure();
        if (failure.status == kExitStopped)
          ++unfinished;
        else  // The runner's messages name the file already, but for missing memory.
          problem = failure.outOfMemory ? failure.About(item.input) : failure.what;
      }
    }
    if (skip) ++skipped;
    if (!problem.empty()) {
      ++failed;
      batch.Message("tvq: error: " + problem);
    }
    batch.Finished(i);
  });
  progress.Finish();
  const bool stopped = progress.StopRequested();
  if (stopped)
    err << "tvq: stopped; " << unfinished.load()
        << " file(s) not finished, no partial result written\n";
  err << done.load() << " done, " << failed.load() << " failed, " << skipped.load() << " skipped\n";
  return stopped ? kExitStopped : failed.load() > 0 ? kExitFailure : 0;
}

}  // namespace tvq::cli
