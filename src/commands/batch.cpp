#include "commands/batch.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <ostream>
#include <set>
#include <system_error>

#include "imaging/errors.h"
#include "imaging/io/fileio.h"
#include "imaging/io/picture.h"
#include "imaging/parallel.h"

namespace tvq {

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

std::vector<BatchItem> CollectBatchItems(const std::vector<std::string>& inputs,
                                         const BatchOptions& options) {
  const fs::path outDir(options.outDir);
  std::error_code error;
  if (fs::exists(outDir, error) && !fs::is_directory(outDir, error))
    throw BatchInputError("-o " + options.outDir + ": not a folder");
  std::vector<Found> found;
  for (const auto& in : inputs) {
    const fs::path path(in);
    if (fs::is_directory(path, error)) {
      Walk(path, outDir, found);
    } else if (fs::exists(path, error)) {
      if (!FormatFromExtension(in))
        throw BatchInputError(in + ": not a picture extension (" + ExtensionList() + ")");
      found.push_back({path, path.filename(), ""});
    } else {
      throw BatchInputError(in + ": no such file or folder");
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

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  json.reserve(text.size() + 2);
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = byte(i);
    if (c < 0x80) {
      switch (c) {
        case '"':
          json += "\\\"";
          break;
        case '\\':
          json += "\\\\";
          break;
        case '\n':
          json += "\\n";
          break;
        case '\r':
          json += "\\r";
          break;
        case '\t':
          json += "\\t";
          break;
        default:
          if (c < 0x20 || c == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            json += escaped;
          } else {
            json += static_cast<char>(c);
          }
      }
      ++i;
      continue;
    }
    // A UTF-8 sequence: its length from the lead byte, and the range of its second
    // byte, which rules out overlong forms, surrogates and code points above U+10FFFF.
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xbf;
    if (c >= 0xc2 && c <= 0xdf) {
      length = 2;
    } else if (c >= 0xe0 && c <= 0xef) {
      length = 3;
      if (c == 0xe0) low = 0xa0;
      if (c == 0xed) high = 0x9f;
    } else if (c >= 0xf0 && c <= 0xf4) {
      length = 4;
      if (c == 0xf0) low = 0x90;
      if (c == 0xf4) high = 0x8f;
    }
    bool valid =
        length > 0 && i + length <= text.size() && byte(i + 1) >= low && byte(i + 1) <= high;
    for (std::size_t k = 2; valid && k < length; ++k)
      valid = byte(i + k) >= 0x80 && byte(i + k) <= 0xbf;
    if (valid) {
      json.append(text.substr(i, length));
      i += length;
    } else {
      json += "\\ufffd";
      ++i;
    }
  }
  return json + "\"";
}

namespace {

// --log: the file that gets one line per item. Lines are appended (O_APPEND), each
// in one write() under an exclusive flock(), so that the processes of a cluster job
// writing one log never interleave their lines, also where a line is longer than
// the PIPE_BUF bytes that a write is atomic for on a pipe. A file system without
// locks still gets one write() per line, atomic on a local file.
class BatchLog {
 public:
  explicit BatchLog(const std::string& path) : path_(path) {
    if (path.empty()) return;
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) throw FileError(path + ": cannot open the log (" + std::strerror(errno) + ")");
  }
  ~BatchLog() {
    if (fd_ >= 0) ::close(fd_);
  }
  BatchLog(const BatchLog&) = delete;
  BatchLog& operator=(const BatchLog&) = delete;

  // Appends `line` (with its newline); the problem, once, when it cannot.
  std::optional<std::string> Append(const std::string& line) {
    if (fd_ < 0) return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);  // flock() does not exclude our threads
    int locked;
    while ((locked = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
    }
    std::size_t written = 0;
    int error = 0;
    while (written < line.size()) {
      const ssize_t n = ::write(fd_, line.data() + written, line.size() - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error = n < 0 ? errno : EIO;
        break;
      }
      written += static_cast<std::size_t>(n);
    }
    if (locked == 0) ::flock(fd_, LOCK_UN);
    if (error == 0 || failed_) return std::nullopt;
    failed_ = true;
    return "tvq: warning: " + path_ + ": cannot write the log (" + std::strerror(error) +
           "); later lines are lost";
  }

 private:
  std::string path_;
  int fd_ = -1;
  std::mutex mutex_;
  bool failed_ = false;
};

// The process's peak resident memory in bytes since the last Reset(): the kernel's
// high-water mark (VmHWM), which writing 5 to /proc/self/clear_refs sets back to the
// present size. Where /proc is missing, the peak of the process's life.
class PeakMemory {
 public:
  // Called as an item starts: resets the mark when no other item is running, so that
  // the item's reading covers its own run (and those that overlap it), not the past.
  void Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_++ == 0) std::ofstream("/proc/self/clear_refs") << "5";
  }
  // The peak since the item started, or before; called as it ends.
  std::uint64_t Finish() {
    const std::uint64_t peak = Read();
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
    return peak;
  }

 private:
  static std::uint64_t Read() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("VmHWM:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10) * 1024;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
  }

  std::mutex mutex_;
  std::int64_t running_ = 0;
};

// One line of the log.
std::string LogLine(const BatchItem& item, const char* status, const std::string& message,
                    double seconds, std::optional<std::uint64_t> peak) {
  char number[32];
  std::snprintf(number, sizeof number, "%.3f", seconds);
  return "{\"input\":" + JsonString(item.input) +
         ",\"output\":" + (item.output.empty() ? "null" : JsonString(item.output)) +
         ",\"status\":\"" + status + "\",\"message\":" + JsonString(message) +
         ",\"seconds\":" + number + ",\"peak_rss\":" + (peak ? std::to_string(*peak) : "null") +
         "}\n";
}

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

// The batch's progress and messages, shared by the jobs: files finished of the total,
// the most recently reported file and stage, the overall fraction and time left.
class BatchProgress {
 public:
  BatchProgress(BatchObserver& observer, std::int64_t total) : observer_(observer), total_(total) {}

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
    observer_.Message(line);
  }
  bool StopRequested() { return observer_.StopRequested(); }
  const StopFlag* SharedStopFlag() const { return observer_.SharedStopFlag(); }

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
    observer_.ShowStatus(finished_, total_, current_, fraction, left, force);
  }

  BatchObserver& observer_;
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

std::string SummaryLine(const BatchSummary& summary) {
  return std::to_string(summary.done) + " done, " + std::to_string(summary.failed) + " failed, " +
         std::to_string(summary.skipped) + " skipped";
}

BatchSummary RunBatchItems(const std::vector<BatchItem>& items, const BatchOptions& options,
                           const BatchRunner& runner, BatchObserver& observer) {
  BatchLog log(options.log);
  BatchProgress batch(observer, static_cast<std::int64_t>(items.size()));
  PeakMemory peakMemory;
  std::atomic<std::int64_t> done{0}, failed{0}, skipped{0}, unfinished{0};
  std::mutex failuresMutex;
  std::vector<std::string> failures;
  const auto record = [&](const BatchItem& item, const char* status, const std::string& message,
                          double seconds, std::optional<std::uint64_t> peak) {
    if (const auto problem = log.Append(LogLine(item, status, message, seconds, peak)))
      batch.Message(*problem);
  };
  // Temporary files that a killed run left for these results, in one pass.
  std::vector<std::string> relatives;
  for (const BatchItem& item : items)
    if (item.conflict.empty()) relatives.push_back(item.relative);
  RemoveLeftoversBelow(options.outDir, relatives);
  ParallelJobs(static_cast<std::int64_t>(items.size()), options.jobs, [&](std::int64_t i) {
    const BatchItem& item = items[static_cast<std::size_t>(i)];
    if (batch.StopRequested()) {
      ++unfinished;
      record(item, "stopped", "not started: the batch was stopped", 0.0, std::nullopt);
      return;
    }
    const auto start = std::chrono::steady_clock::now();
    std::string problem = item.conflict;
    std::string messages;  // the item's warnings, for the log
    const char* status = "done";
    std::optional<std::uint64_t> peak;
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
      const auto warn = [&](const std::string& line) {
        batch.Message(line);
        messages += (messages.empty() ? "" : "\n") + line;
      };
      peakMemory.Start();
      try {
        if (!runner(item, job, warn)) {
          ++unfinished;
          status = "stopped";
        } else {
          ++done;
        }
      } catch (const OperationStopped&) {
        ++unfinished;
        status = "stopped";
      } catch (const std::bad_alloc&) {
        // The runner's messages name the file already, but for missing memory.
        problem = item.input + ": not enough memory for this picture";
      } catch (const std::exception& e) {
        problem = e.what();
      }
      peak = peakMemory.Finish();
    }
    if (skip) {
      ++skipped;
      status = "skipped";
      messages = "its output exists";
    }
    if (!problem.empty()) {
      ++failed;
      status = "failed";
      {
        std::lock_guard<std::mutex> lock(failuresMutex);
        failures.push_back(problem);
      }
      const std::string line = "tvq: error: " + problem;
      batch.Message(line);
      messages += (messages.empty() ? "" : "\n") + line;
    } else if (status == std::string_view("stopped")) {
      messages += (messages.empty() ? "" : "\n") + std::string("stopped; nothing written");
    }
    record(item, status, messages,
           std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), peak);
    batch.Finished(i);
  });
  return {done.load(), failed.load(), skipped.load(), unfinished.load(), std::move(failures)};
}

}  // namespace tvq
