// The batch form's --log: one JSON line per file, escaped names, whole lines when
// several processes append to one log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/cli_run.h"
#include "common/files.h"
#include "common/pictures.h"
#include "imaging/io/fileio.h"

namespace tvq {
namespace {

namespace fs = std::filesystem;
using test::ReadText;
using test::RunResult;

TEST(BatchLogTest, JsonStringEscapesAndReplacesInvalidUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"in/a b.png", R"("in/a b.png")"},
      {"q\"b\\s/", R"("q\"b\\s/")"},
      {"\n\r\t\x01\x1f\x7f", R"("\n\r\t\u0001\u001f\u007f")"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9d\x84\x9e",
       "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9d\x84\x9e\""},
      {"a\xff"
       "b",
       R"("a\ufffdb")"},                                      // no lead byte
      {"\xe2\x82", R"("\ufffd\ufffd")"},                      // cut short
      {"\xc0\xaf", R"("\ufffd\ufffd")"},                      // overlong "/"
      {"\xed\xa0\x80", R"("\ufffd\ufffd\ufffd")"},            // a surrogate
      {"\xf4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},  // above U+10FFFF
      {"\xc3", R"("\ufffd")"},
      {std::string("n\0l", 3), R"("n\u0000l")"},
  };
  for (const auto& [text, json] : cases) EXPECT_EQ(cli::JsonString(text), json) << json;
}

class BatchLogRun : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::TempPath(::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string MakeFile(const std::string& name) const {
    fs::create_directories(fs::path(Path(name)).parent_path());
    WritePicture(
        test::MakePicture(5, 4, 3, 8, [](int x, int y, int k) { return 30 * x + 9 * y + k; }),
        Path(name));
    return Path(name);
  }
  std::vector<std::string> Lines(const std::string& name) const {
    std::vector<std::string> lines;
    const std::string text = ReadText(Path(name));
    for (std::size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos;
         begin = end + 1)
      lines.push_back(text.substr(begin, end - begin));
    EXPECT_TRUE(text.empty() || text.back() == '\n') << text;
    return lines;
  }

  fs::path dir_;
};

// Whether `line` is the log's line for these fields, its measured ones matched
// loosely: seconds with three decimals, and `peak` "number" (a positive whole number)
// or "null". (Plain string checks: std::regex trips a false warning of this compiler
// in the sanitizer builds.)
bool IsLogLine(const std::string& line, const std::string& input, const std::string& output,
               const std::string& status, const std::string& message, const std::string& peak) {
  const std::string head = "{\"input\":" + cli::JsonString(input) +
                           ",\"output\":" + cli::JsonString(output) + ",\"status\":\"" + status +
                           "\",\"message\":" + cli::JsonString(message) + ",\"seconds\":";
  if (line.rfind(head, 0) != 0) return false;
  const auto digits = [&line](std::size_t at) {
    std::size_t end = at;
    while (end < line.size() && line[end] >= '0' && line[end] <= '9') ++end;
    return end - at;
  };
  std::size_t at = head.size();
  const std::size_t whole = digits(at);
  if (whole == 0 || line.compare(at + whole, 1, ".") != 0 || digits(at + whole + 1) != 3)
    return false;
  at += whole + 4;
  const std::string rss = ",\"peak_rss\":";
  if (line.compare(at, rss.size(), rss) != 0) return false;
  at += rss.size();
  const std::size_t count = peak == "number" ? digits(at) : 0;
  const std::string value = peak == "number" ? line.substr(at, count) : "null";
  if (value.empty() || value[0] == '0' || line.compare(at, value.size(), value) != 0) return false;
  return line.size() == at + value.size() + 1 && line.back() == '}';
}

TEST_F(BatchLogRun, EachFileGetsOneLineAsItEnds) {
  const std::string good = MakeFile("in/a.bmp");
  std::ofstream(Path("in/b.png")) << "not a picture";
  const std::string bad = Path("in/b.png");
  const std::string log = Path("log.jsonl");
  const std::string out = Path("out");
  RunResult r = test::RunTvq("grey --log", {log, Path("in"), "-o", out});
  EXPECT_EQ(r.status, 1) << r.err;
  const std::string error = r.err.substr(0, r.err.find('\n'));
  ASSERT_EQ(error.rfind("tvq: error: " + bad + ": ", 0), 0u) << r.err;
  r = test::RunTvq("grey --skip-existing --log", {log, Path("in"), "-o", out});
  EXPECT_EQ(r.status, 1) << r.err;

  const std::vector<std::string> lines = Lines("log.jsonl");
  const struct {
    std::string input, output, status, message, peak;
  } expected[] = {
      {good, out + "/a.bmp", "done", "", "number"},
      {bad, out + "/b.png", "failed", error, "number"},
      {good, out + "/a.bmp", "skipped", "its output exists", "null"},
      {bad, out + "/b.png", "failed", error, "number"},
  };
  ASSERT_EQ(lines.size(), std::size(expected)) << ReadText(log);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto& e = expected[i];
    EXPECT_TRUE(IsLogLine(lines[i], e.input, e.output, e.status, e.message, e.peak)) << lines[i];
  }

  // A log that cannot be opened fails the batch before any file is read.
  r = test::RunTvq("grey --log", {Path("no/log.jsonl"), Path("in"), "-o", Path("out2")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tvq: error: " + Path("no/log.jsonl") +
                       ": cannot open the log (No such file or directory)\n");
  EXPECT_FALSE(fs::exists(Path("out2")));
}

// Two shards, two jobs each, append to one log at once; their lines are longer than
// PIPE_BUF (4096 bytes), so only whole-line writes under a lock keep them apart.
TEST_F(BatchLogRun, ShardsAppendWholeLinesToOneLog) {
  std::string deep = "in";
  for (int i = 0; i < 10; ++i) deep += "/" + std::string(200, static_cast<char>('a' + i));
  for (int i = 0; i < 12; ++i) MakeFile(deep + "/p" + std::to_string(i) + ".bmp");
  const std::string log = Path("log.jsonl");
  std::string command;
  for (const char* shard : {"0/2", "1/2"})
    command += test::Quoted(TVQ_BINARY) + " grey --quiet --jobs 2 --shard " + shard + " --log " +
               test::Quoted(log) + " " + test::Quoted(Path("in")) + " -o " +
               test::Quoted(Path("out")) + " 2>/dev/null & ";
  ASSERT_EQ(std::system((command + "wait").c_str()), 0);

  std::map<std::string, int> seen;
  for (const std::string& line : Lines("log.jsonl")) {
    EXPECT_GT(line.size(), 4096u);
    // The input's name: "/pN.bmp" at the end of the first field.
    const std::size_t end = line.find(".bmp\",");
    const std::size_t start = line.rfind("/p", end);
    ASSERT_TRUE(end != std::string::npos && start != std::string::npos) << line.substr(0, 100);
    const std::string picture = line.substr(start + 1, end - start - 1);
    EXPECT_TRUE(IsLogLine(line, Path(deep + "/" + picture + ".bmp"),
                          Path("out/" + deep.substr(3) + "/" + picture + ".bmp"), "done", "",
                          "number"))
        << line.substr(0, 100);
    ++seen[picture];
  }
  EXPECT_EQ(seen.size(), 12u);
  for (const auto& [picture, count] : seen) EXPECT_EQ(count, 1) << picture;
}

}  // namespace
}  // namespace tvq
