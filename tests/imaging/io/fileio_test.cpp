// Writing files: what is at the path decides how a write goes (replaced through a
// temporary file, streamed in place, refused), CheckWritable foretells it, writes
// below a batch's folder never follow a link, and temporary files that a killed run
// left are removed.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/files.h"
#include "common/images.h"
#include "imaging/io/fileio.h"

namespace tvq {
namespace {

namespace fs = std::filesystem;

const std::vector<std::uint8_t> kNew = {'n', 'e', 'w'};

// The cases' lambdas use the helpers through a WriteTest&, so they are public.
class WriteTest : public ::testing::Test {
 public:
  void SetUp() override {
    dir_ = test::TempPath(std::string("fileio_") +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir_, ec))
      if (fs::is_directory(e.symlink_status(ec)))
        fs::permissions(e.path(), fs::perms::owner_all, ec);
    fs::remove_all(dir_, ec);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Text(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Put(const std::string& name, const std::string& text) const {
    fs::create_directories(fs::path(Path(name)).parent_path());
    std::ofstream(Path(name), std::ios::binary) << text;
  }
  // Every name below the folder, links not followed.
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir_))
      names.push_back(e.path().lexically_relative(dir_).string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

constexpr auto ErrorOf = &test::MessageOf<FileError>;

// A Unix socket at path; false when none could be made.
bool MakeSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::copy(path.begin(), path.end(), address.sun_path);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  const bool bound =
      fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  if (fd >= 0) ::close(fd);
  return bound;
}

// A single file: the write and CheckWritable, which must foretell its refusals
// without changing anything.
TEST_F(WriteTest, WhatIsAtThePathDecidesTheWrite) {
  struct Case {
    const char* what;
    std::string name;  // the path written, below the test's folder
    std::function<void(WriteTest&)> make;
    std::string error;                      // after "PATH: "; empty when written
    std::function<bool(WriteTest&)> after;  // holds after the write
  } cases[] = {
      {"nothing", "out.png", [](WriteTest&) {}, "",
       [](WriteTest& t) { return t.Text("out.png") == "new"; }},
      {"a file, whose mode is kept", "out.png",
       [](WriteTest& t) {
         t.Put("out.png", "old");
         fs::permissions(t.Path("out.png"), fs::perms::owner_read | fs::perms::owner_write);
       },
       "",
       [](WriteTest& t) {
         return t.Text("out.png") == "new" &&
                (fs::status(t.Path("out.png")).permissions() & fs::perms::all) ==
                    (fs::perms::owner_read | fs::perms::owner_write);
       }},
      {"a link to a file, written through", "out.png",
       [](WriteTest& t) {
         t.Put("target.png", "old");
         fs::create_symlink("target.png", t.Path("out.png"));
       },
       "",
       [](WriteTest& t) {
         return fs::is_symlink(t.Path("out.png")) && t.Text("target.png") == "new";
       }},
      {"a link to nothing, replaced", "out.png",
       [](WriteTest& t) { fs::create_symlink("missing.png", t.Path("out.png")); }, "",
       [](WriteTest& t) {
         return !fs::is_symlink(t.Path("out.png")) && t.Text("out.png") == "new" &&
                !fs::exists(t.Path("missing.png"));
       }},
      {"a link to a device, written in place", "out.png",
       [](WriteTest& t) { fs::create_symlink("/dev/null", t.Path("out.png")); }, "",
       [](WriteTest& t) {
         return fs::is_symlink(t.Path("out.png")) && fs::is_character_file("/dev/null");
       }},
      {"a folder", "out.png", [](WriteTest& t) { fs::create_directory(t.Path("out.png")); },
       "is a folder, not a file", nullptr},
      {"a link to a folder", "out.png",
       [](WriteTest& t) {
         fs::create_directory(t.Path("folder"));
         fs::create_directory_symlink("folder", t.Path("out.png"));
       },
       "is a folder, not a file", nullptr},
      {"a socket", "out.png", [](WriteTest& t) { ASSERT_TRUE(MakeSocket(t.Path("out.png"))); },
       "is a socket; only files, FIFOs and character devices are written", nullptr},
      {"a loop of links", "out.png",
       [](WriteTest& t) {
         fs::create_symlink("loop.png", t.Path("out.png"));
         fs::create_symlink("out.png", t.Path("loop.png"));
       },
       "cannot write: Too many levels of symbolic links", nullptr},
      {"a read-only file", "out.png",
       [](WriteTest& t) {
         t.Put("out.png", "old");
         fs::permissions(t.Path("out.png"), fs::perms::owner_read);
       },
       "the file is read-only", nullptr},
      {"a missing folder", "no/out.png", [](WriteTest&) {},
       "cannot write: the folder " + Path("no") + " does not exist", nullptr},
      {"a file as the folder", "file/out.png", [](WriteTest& t) { t.Put("file", "x"); },
       "cannot write: " + Path("file") + " is not a folder", nullptr},
      // The superuser may write in any folder: tried only for other users.
      {"a folder that cannot be written", "ro/out.png",
       [](WriteTest& t) {
         fs::create_directory(t.Path("ro"));
         fs::permissions(t.Path("ro"), fs::perms::owner_read | fs::perms::owner_exec);
       },
       "cannot write in the folder " + Path("ro") + ": Permission denied", nullptr},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.name == "ro/out.png" && ::geteuid() == 0) continue;
    TearDown();
    fs::create_directories(dir_);
    c.make(*this);
    const std::string path = Path(c.name);
    const auto before = Listing();
    const std::string foretold = ErrorOf([&] { CheckWritable(path); });
    EXPECT_EQ(Listing(), before);
    const std::string error = ErrorOf([&] { WriteFileAtomically(path, kNew); });
    EXPECT_EQ(foretold, error);
    if (c.error.empty()) {
      EXPECT_EQ(error, "");
      EXPECT_TRUE(c.after(*this));
      // No temporary file stays: the names are those before, plus a new result.
      auto names = Listing();
      names.erase(std::remove(names.begin(), names.end(), c.name), names.end());
      auto old = before;
      old.erase(std::remove(old.begin(), old.end(), c.name), old.end());
      EXPECT_EQ(names, old);
    } else {
      EXPECT_EQ(error, path + ": " + c.error);
      EXPECT_EQ(Listing(), before);
    }
  }
}

// A FIFO, or a link to one, is written in place: a reader gets the bytes and the
// FIFO stays. CheckWritable does not open it (that would wait for a reader).
TEST_F(WriteTest, FifosAreStreamedInPlace) {
  ASSERT_EQ(::mkfifo(Path("pipe.png").c_str(), 0600), 0);
  fs::create_symlink("pipe.png", Path("link.png"));
  for (const char* name : {"pipe.png", "link.png"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ErrorOf([&] { CheckWritable(Path(name)); }), "");
    std::string got;
    std::thread reader([&] { got = Text("pipe.png"); });
    EXPECT_EQ(ErrorOf([&] { WriteFileAtomically(Path(name), kNew); }), "");
    reader.join();
    EXPECT_EQ(got, "new");
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(Path("pipe.png"))));
    EXPECT_TRUE(fs::is_symlink(Path("link.png")));
  }
  EXPECT_EQ(Listing(), (std::vector<std::string>{"link.png", "pipe.png"}));
}

// Below a batch's folder "out": the folders on the way are created and may not be
// links, a link at the place is replaced as a link, and InspectBelow sees beforehand
// what the write will meet.
TEST_F(WriteTest, WritesBelowAFolderNeverFollowALink) {
  enum Seen { kNothing, kSomething, kRefused };
  struct Case {
    const char* what;
    std::string relative;
    std::function<void(WriteTest&)> make;
    Seen seen;          // InspectBelow without the writing checks
    std::string error;  // of the write and of InspectBelow for writing, after "PATH: "
  } cases[] = {
      {"new folders", "a/b/c.png", [](WriteTest&) {}, kNothing, ""},
      {"a file", "c.png", [](WriteTest& t) { t.Put("out/c.png", "old"); }, kSomething, ""},
      {"a link at the place", "c.png",
       [](WriteTest& t) {
         t.Put("out/keep", "");
         fs::create_symlink("../victim.txt", t.Path("out/c.png"));
       },
       kSomething, ""},
      {"OUTDIR itself a link", "c.png",
       [](WriteTest& t) {
         fs::create_directory(t.Path("real"));
         fs::create_directory_symlink("real", t.Path("out"));
       },
       kNothing, ""},
      {"a link among the folders", "sub/c.png",
       [](WriteTest& t) {
         fs::create_directories(t.Path("out"));
         fs::create_directory_symlink("../elsewhere", t.Path("out/sub"));
       },
       kRefused,
       "cannot write: " + Path("out/sub") +
           " is a symbolic link; results are not written through links"},
      {"a file among the folders", "sub/c.png", [](WriteTest& t) { t.Put("out/sub", "x"); },
       kRefused, "cannot write: " + Path("out/sub") + " is a file, not a folder"},
      {"a folder at the place", "c.png",
       [](WriteTest& t) { fs::create_directories(t.Path("out/c.png")); }, kRefused,
       "is a folder, not a file"},
      {"a FIFO at the place", "c.png",
       [](WriteTest& t) {
         fs::create_directories(t.Path("out"));
         ::mkfifo(t.Path("out/c.png").c_str(), 0600);
       },
       kRefused, "is a FIFO, not a file; a batch replaces only files and links"},
      {"a read-only file", "c.png",
       [](WriteTest& t) {
         t.Put("out/c.png", "old");
         fs::permissions(t.Path("out/c.png"), fs::perms::owner_read);
       },
       kSomething, "the file is read-only"},
      {"a way out", "../c.png", [](WriteTest&) {}, kRefused,
       "cannot write: the path leaves the output folder"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    fs::create_directories(dir_);
    Put("victim.txt", "victim");
    fs::create_directories(Path("elsewhere"));
    c.make(*this);
    const std::string root = Path("out");
    const std::string shown = (fs::path(root) / c.relative).lexically_normal().string();
    bool exists = false;
    const std::string seen = ErrorOf([&] { exists = InspectBelow(root, c.relative, false); });
    EXPECT_EQ(seen.empty() ? exists ? kSomething : kNothing : kRefused, c.seen) << seen;
    const auto before = Listing();
    EXPECT_EQ(ErrorOf([&] { InspectBelow(root, c.relative, true); }),
              c.error.empty() ? "" : shown + ": " + c.error);
    EXPECT_EQ(Listing(), before);  // InspectBelow creates nothing
    EXPECT_EQ(ErrorOf([&] { WriteFileBelow(root, c.relative, kNew); }),
              c.error.empty() ? "" : shown + ": " + c.error);
    if (c.error.empty()) {
      EXPECT_FALSE(fs::is_symlink(shown));
      EXPECT_EQ(Text(fs::path(shown).lexically_relative(dir_).string()), "new");
    }
    EXPECT_EQ(Text("victim.txt"), "victim");
    EXPECT_TRUE(fs::is_empty(Path("elsewhere")));
  }
}

// ".NAME.XXXXXXXX.tmp" files older than this process are a killed run's: the next
// write of NAME in their folder removes them (a batch's sweep before its writes),
// and nothing else.
TEST_F(WriteTest, LeftoversOfKilledRunsAreRemoved) {
  // The longest name a folder holds: its temporary files carry NAME cut short.
  const std::string longName = std::string(251, 'n') + ".png";
  const std::string cut = longName.substr(0, 255 - 14);
  struct File {
    std::string name;
    int age;  // seconds before now (negative: after, as a running program's file)
    bool removed;
  } files[] = {
      {".a.png.0123abcd.tmp", 3600, true},
      {"sub/.a.png.0123abcd.tmp", 3600, true},
      {"." + cut + ".89abcdef.tmp", 3600, true},
      {".a.png.89abcdef.tmp", -3600, false},  // newer than this process
      {".b.png.0123abcd.tmp", 3600, false},   // another output's
      {".a.png.0123ABCD.tmp", 3600, false},   // not the pattern
      {".a.png.0123abc.tmp", 3600, false},
      {".a.png.tmp", 3600, false},
  };
  const auto now = fs::file_time_type::clock::now();
  for (const File& f : files) {
    Put(f.name, "left");
    fs::last_write_time(Path(f.name), now - std::chrono::seconds(f.age));
  }
  WriteFileAtomically(Path("a.png"), kNew);
  WriteFileAtomically(Path(longName), kNew);
  RemoveLeftoversBelow(dir_.string(), {"sub/a.png"});
  for (const File& f : files) EXPECT_EQ(fs::exists(Path(f.name)), !f.removed) << f.name;
}

}  // namespace
}  // namespace tvq
