// Signals: every command of the built tvq program stops soon after Ctrl+C and says
// truthfully what it wrote; a signal during a save leaves no temporary file; the
// longest legal output name can be written.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "cli/terminal_progress.h"
#include "common/files.h"
#include "imaging/bitmap.h"
#include "imaging/io/bmp.h"
#include "imaging/io/fileio.h"

namespace tvq {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

#ifdef TVQ_SANITIZED
// The sanitizers make every command several (thread sanitizer: about ten) times slower.
constexpr double kStopLimitSeconds = 10.0;
#else
constexpr double kStopLimitSeconds = 1.0;
#endif

using test::ReadText;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Whether process pid has a handler for signal (its SigCgt mask in /proc).
bool CatchesSignal(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("SigCgt:", 0) == 0)
      return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1u;
  return false;
}

// Starts tvq with arguments, its stderr in errPath; returns the process id.
pid_t StartTvq(const std::vector<std::string>& arguments, const std::string& errPath) {
  const pid_t child = fork();
  if (child == 0) {
    if (std::freopen(errPath.c_str(), "w", stderr) == nullptr) _exit(126);
    std::vector<char*> argv{const_cast<char*>("tvq")};
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(TVQ_BINARY, argv.data());
    _exit(127);
  }
  return child;
}

class SignalsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = test::TempPath("signals");
    fs::create_directories(dir_);
    // A 2048 x 2048 picture with structure in every direction.
    Bitmap bmp(2048, 2048, 24);
    for (int y = 0; y < 2048; ++y)
      for (int x = 0; x < 2048; ++x)
        for (int k = 0; k < 3; ++k)
          bmp.ScanLine(y)[3 * x + k] =
              static_cast<std::uint8_t>((x * 7 + y * 13 + k * 50) ^ (x * y));
    WriteBmp(bmp, Path("in.bmp"));
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }
  static std::string Path(const std::string& name) { return (dir_ / name).string(); }
  static inline fs::path dir_;
};

struct StopCase {
  std::vector<std::string> arguments;  // IN and OUT are appended; OUT only with an output
  bool writes;                         // a picture command with an output file
};

// Ctrl+C once the program has installed its handler and has been at work for a moment:
// it exits within the limit, with 0 (its work was done: the whole result is written) or
// 130 and the message that says whether the result so far was written.
TEST_F(SignalsTest, EveryCommandStopsWithinASecondOfCtrlC) {
  const std::vector<StopCase> cases = {
      {{"info"}, false},
      {{"psnr", Path("in.bmp")}, false},
      {{"downsample"}, true},
      {{"noise"}, true},
      {{"grey"}, true},
      {{"canny"}, true},
      {{"upscale", "--method", "gradient"}, true},
      {{"upscale", "--method", "gradient-color"}, true},
      {{"upscale", "--method", "nedi"}, true},
      {{"upscale", "--method", "lanczos"}, true},
      {{"upscale", "--method", "bilinear"}, true},
      {{"upscale", "--method", "directional"}, true},
      {{"resample"}, true},
      {{"resample", "--init", "nedi", "--fractal"}, true},
      {{"dering"}, true},
      {{"dering", "--mask"}, true},
      {{"mask"}, true},
  };
  const std::string out = Path("out.bmp"), log = Path("stderr.txt");
  for (const StopCase& c : cases) {
    std::string name;
    for (const auto& a : c.arguments) name += a + " ";
    SCOPED_TRACE(name);
    fs::remove(out);
    std::vector<std::string> arguments = c.arguments;
    arguments.push_back(Path("in.bmp"));
    if (c.writes) arguments.push_back(out);
    const pid_t child = StartTvq(arguments, log);
    ASSERT_GT(child, 0);
    int raw = 0;
    pid_t ended = 0;
    for (int wait = 0; wait < 10000 && !CatchesSignal(child, SIGINT); ++wait) {
      ended = waitpid(child, &raw, WNOHANG);
      if (ended != 0) break;
      usleep(1000);
    }
    if (ended == 0) {
      usleep(100 * 1000);  // into the reading or the work of every command
      const auto signalled = Clock::now();
      kill(child, SIGINT);
      ASSERT_EQ(waitpid(child, &raw, 0), child);
      EXPECT_LE(std::chrono::duration<double>(Clock::now() - signalled).count(), kStopLimitSeconds);
    }
    ASSERT_TRUE(WIFEXITED(raw));
    const int status = WEXITSTATUS(raw);
    const std::string err = ReadText(log);
    if (status == 0) {
      EXPECT_EQ(fs::exists(out), c.writes);
    } else {
      ASSERT_EQ(status, 130) << err;
      const bool partial = EndsWith(err, "tvq: stopped early; the result so far was written\n");
      EXPECT_TRUE(partial || EndsWith(err, "tvq: stopped; nothing was written\n")) << err;
      EXPECT_EQ(fs::exists(out), partial);
    }
  }
}

// The temporary file of a save, and the pipe its test hook reports on.
int gHookPipe = -1;

// Reports the temporary file, then waits for signals, reporting each one handled.
// SIGTERM stays blocked outside sigsuspend, so that none arrives unseen between a
// report and the wait.
void PauseInSave(const char*) {
  sigset_t term, others;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  sigprocmask(SIG_BLOCK, &term, &others);
  for (;;) {
    if (write(gHookPipe, "t", 1) != 1) _exit(125);
    sigsuspend(&others);
  }
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  return names;
}

// SIGTERM during a save: the first asks to stop, the second ends the program, and
// the half-written temporary file goes with it.
TEST_F(SignalsTest, SecondSignalDuringASaveRemovesTheTemporaryFile) {
  const fs::path folder = dir_ / "save";
  fs::create_directories(folder);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(fds[0]);
    alarm(30);  // never left waiting when the test fails
    gHookPipe = fds[1];
    SetTemporaryFileHookForTesting(PauseInSave);
    cli::TerminalProgress progress(true);
    WriteFileAtomically((folder / "picture.bmp").string(), std::vector<std::uint8_t>(1 << 20));
    _exit(0);
  }
  close(fds[1]);
  char note = 0;
  ASSERT_EQ(read(fds[0], &note, 1), 1);  // the temporary file exists
  const std::vector<std::string> during = Names(folder);
  ASSERT_EQ(during.size(), 1u);
  EXPECT_TRUE(during[0].rfind(".picture.bmp.", 0) == 0 && EndsWith(during[0], ".tmp")) << during[0];
  kill(child, SIGTERM);
  ASSERT_EQ(read(fds[0], &note, 1), 1);  // the first signal was handled
  kill(child, SIGTERM);
  int raw = 0;
  ASSERT_EQ(waitpid(child, &raw, 0), child);
  close(fds[0]);
  ASSERT_TRUE(WIFSIGNALED(raw));
  EXPECT_EQ(WTERMSIG(raw), SIGTERM);
  EXPECT_TRUE(Names(folder).empty());
}

// A name of 255 bytes, the most a folder holds, fits although its temporary file
// would be 14 bytes longer.
TEST_F(SignalsTest, OutputNameOfTheLongestLegalLength) {
  const std::string name = std::string(251, 'n') + ".bmp";
  const std::string log = Path("stderr.txt");
  const pid_t child = StartTvq({"grey", "--quiet", Path("in.bmp"), Path(name)}, log);
  int raw = 0;
  ASSERT_EQ(waitpid(child, &raw, 0), child);
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 0) << ReadText(log);
  EXPECT_TRUE(fs::exists(Path(name)));
  for (const auto& file : Names(dir_)) EXPECT_NE(file[0], '.') << file;
  fs::remove(Path(name));
}

}  // namespace
}  // namespace tvq
