#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/machine_memory.h"
#include "platform/paths.h"
#include "platform/worker_threads.h"
#include "tests/support/file_text.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

class FileIo : public ::testing::Test {
 protected:
  std::string Put(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return (dir_ / name).string();
  }
  static std::string Get(const fs::path& p) { return teststate::FileText(p); }
  // Names in the folder besides the given ones: temporary files left behind.
  std::size_t EntryCount() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }
  teststate::TempFolder folder_;
  const fs::path dir_{folder_.path()};
};

TEST_F(FileIo, OnlyRegularFilesAreReadAndNeverWaitedOn) {
  std::string text = "left as it was";
  const std::string plain = Put("plain.txt", std::string("ab\0cd", 5));
  ASSERT_TRUE(platform::ReadRegularFile(plain, text, false));
  EXPECT_EQ(text, std::string("ab\0cd", 5));
  ASSERT_TRUE(platform::ReadRegularFile(plain, text, true));
  EXPECT_EQ(text, "ab");

  // Read in chunks: a NUL far into a large file still ends the text there.
  const std::string large = Put("large.txt", std::string(200000, 'x') + '\0' + "tail");
  ASSERT_TRUE(platform::ReadRegularFile(large, text, true));
  EXPECT_EQ(text, std::string(200000, 'x'));

  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0644), 0);
  text = "left as it was";
  for (const fs::path& refused : {dir_ / "fifo", dir_, dir_ / "missing", fs::path("/dev/zero")}) {
    EXPECT_FALSE(platform::ReadRegularFile(refused.string(), text, false)) << refused;
    EXPECT_EQ(text, "left as it was");
  }
}

// Every kind of thing that can stand where a file is expected gets its own
// answer and a message naming it; the text passed in stays untouched.
TEST_F(FileIo, EveryFileIsCheckedBeforeItIsReadAndReadWithinItsBound) {
  using platform::FileReadError;
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0644), 0);
  fs::create_symlink(dir_ / "loop_b", dir_ / "loop_a");
  fs::create_symlink(dir_ / "loop_a", dir_ / "loop_b");
  fs::create_symlink("/dev/zero", dir_ / "zero");
  fs::create_symlink(dir_ / "fifo", dir_ / "to_fifo");
  // A sparse file one byte above the bound: refused from its size, never read.
  {
    std::ofstream(dir_ / "sparse", std::ios::binary) << "";
    fs::resize_file(dir_ / "sparse", platform::kTableFileLimit + 1);
  }
  const std::string atBound = Put("at_bound", std::string(1000, 'a'));
  const std::string empty = Put("empty", "");
  struct Case {
    fs::path path;
    std::size_t bound;
    FileReadError error;
    std::string message;  // with the path in front of it, or "" for none
  } cases[] = {
      {dir_ / "fifo", platform::kTableFileLimit, FileReadError::NotRegular, " is not a regular file"},
      {dir_ / "to_fifo", platform::kTableFileLimit, FileReadError::NotRegular, " is not a regular file"},
      {dir_ / "zero", platform::kTableFileLimit, FileReadError::NotRegular, " is not a regular file"},
      {"/dev/zero", platform::kTableFileLimit, FileReadError::NotRegular, " is not a regular file"},
      {dir_, platform::kTableFileLimit, FileReadError::NotRegular, " is not a regular file"},
      {dir_ / "loop_a", platform::kTableFileLimit, FileReadError::CannotOpen, "could not open "},
      {dir_ / "missing", platform::kTableFileLimit, FileReadError::Missing, "could not open "},
      {dir_ / "sparse", platform::kTableFileLimit, FileReadError::TooLarge, " is larger than 64 MB, too large to be read"},
      {atBound, 999, FileReadError::TooLarge, " is larger than 999 bytes, too large to be read"},
      {atBound, 1000, FileReadError::None, ""},
      {empty, 0, FileReadError::None, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.string());
    std::string text = "left as it was";
    const FileReadError e = platform::ReadWholeFile(c.path.string(), text, c.bound);
    EXPECT_EQ(e, c.error);
    const std::string message = platform::FileReadErrorText(c.path.string(), e, c.bound);
    if (c.message.empty()) {
      EXPECT_EQ(message, "");
    } else if (c.message.rfind("could not", 0) == 0) {
      EXPECT_EQ(message, c.message + c.path.string());
    } else {
      EXPECT_EQ(message, c.path.string() + c.message);
    }
    if (e != FileReadError::None) {
      EXPECT_EQ(text, "left as it was");
    }
    // The stdio view refuses the same files, with the same message.
    const platform::CheckedInputFile in(c.path.string(), c.bound);
    EXPECT_EQ(in.error(), c.error);
    EXPECT_EQ(static_cast<bool>(in), c.error == FileReadError::None);
    EXPECT_EQ(in.ErrorText(), message);
  }
  std::string text;
  ASSERT_EQ(platform::ReadWholeFile(atBound, text, 1000), FileReadError::None);
  EXPECT_EQ(text, std::string(1000, 'a'));
}

TEST_F(FileIo, TheStdioViewReadsExactlyTheFile) {
  const std::string content = "1.5 2.5\n3.5 4.5\nlast line without a break";
  const std::string path = Put("table.dat", content);
  const platform::CheckedInputFile in(path, platform::kTableFileLimit);
  ASSERT_TRUE(in);
  float a = 0, b = 0, c = 0, d = 0;
  ASSERT_EQ(std::fscanf(in.get(), "%f %f %f %f", &a, &b, &c, &d), 4);
  EXPECT_EQ(d, 4.5f);
  char rest[64] = {};
  ASSERT_NE(std::fgets(rest, sizeof rest, in.get()), nullptr);  // the line break after 4.5
  ASSERT_NE(std::fgets(rest, sizeof rest, in.get()), nullptr);
  EXPECT_STREQ(rest, "last line without a break");
  EXPECT_EQ(std::fgetc(in.get()), EOF);
  std::rewind(in.get());
  EXPECT_EQ(std::fgetc(in.get()), '1');

  const platform::CheckedInputFile none(Put("empty.dat", ""), platform::kTableFileLimit);
  ASSERT_TRUE(none);
  EXPECT_EQ(std::fgetc(none.get()), EOF);
}

TEST_F(FileIo, AFileWrittenThroughATemporaryNameIsWholeOrUntouched) {
  const std::string target = Put("result.dat", "earlier result\n");
  auto writer = [](const std::string& content, bool ok) {
    return [content, ok](const std::string& path) {
      std::ofstream(path, std::ios::binary) << content;
      return ok;
    };
  };
  // A writer that fails halfway: the earlier file stays, nothing is left beside it.
  EXPECT_FALSE(platform::WriteThroughTemporary(target, writer("cut", false)));
  EXPECT_EQ(Get(target), "earlier result\n");
  EXPECT_EQ(EntryCount(), 1u);

  // The temporary name is new, in the same folder, and not yet the target.
  std::string seen;
  ASSERT_TRUE(platform::WriteThroughTemporary(target, [&](const std::string& path) {
    seen = path;
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(Get(target), "earlier result\n");
    return writer("new result\n", true)(path);
  }));
  EXPECT_EQ(fs::path(seen).parent_path(), dir_);
  EXPECT_EQ(Get(target), "new result\n");
  EXPECT_EQ(EntryCount(), 1u);
  // Readable like any file the program writes (mkstemp alone makes it private).
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(fs::status(target).permissions(), static_cast<fs::perms>(0666 & ~mask));

  // A missing folder or a full disk fails without a trace.
  EXPECT_FALSE(platform::WriteThroughTemporary((dir_ / "no" / "x.dat").string(), writer("x", true)));
  EXPECT_FALSE(platform::WriteThroughTemporary(target, [](const std::string& path) {
    std::FILE* f = std::fopen("/dev/full", "w");
    const bool ok = f && std::fputs(path.c_str(), f) >= 0 && std::fflush(f) == 0;
    if (f) std::fclose(f);
    return ok;
  }));
  EXPECT_EQ(Get(target), "new result\n");
  EXPECT_EQ(EntryCount(), 1u);

  // A named pipe (or a device, or a folder) of that name stays what it is:
  // the writer is not even called.
  ASSERT_EQ(mkfifo((dir_ / "pipe").c_str(), 0644), 0);
  fs::create_directories(dir_ / "folder");
  fs::create_symlink("/dev/null", dir_ / "device");
  for (const char* name : {"pipe", "folder", "device"}) {
    bool called = false;
    EXPECT_FALSE(platform::WriteThroughTemporary((dir_ / name).string(), [&called](const std::string&) {
      called = true;
      return true;
    })) << name;
    EXPECT_FALSE(called) << name;
  }
  EXPECT_TRUE(fs::is_fifo(dir_ / "pipe"));
  EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
  EXPECT_TRUE(fs::is_character_file(dir_ / "device"));
  EXPECT_EQ(EntryCount(), 4u);
}

// The one path every writer takes: the file appears whole or not at all,
// whatever stood at the name before stays when the write fails, and a pipe,
// a folder or a device at the name is never opened (so never waited on).
TEST_F(FileIo, CheckedOutputFilesAppearWholeOrNotAtAll) {
  alarm(60);  // a writer that waits on a pipe fails the test instead of hanging it
  const std::string target = Put("result.dat", "earlier result\n");
  {
    platform::CheckedOutputFile out(target);
    ASSERT_TRUE(out);
    std::fputs("new result\n", out.get());
    EXPECT_EQ(Get(target), "earlier result\n");  // nothing shows before the commit
    ASSERT_TRUE(out.Commit());
    EXPECT_FALSE(out.Commit());  // once only
  }
  EXPECT_EQ(Get(target), "new result\n");
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(fs::status(target).permissions(), static_cast<fs::perms>(0666 & ~mask));
  {
    // Left without a commit (an early return): nothing changes, nothing is left.
    platform::CheckedOutputFile out(target);
    std::fputs("abandoned", out.get());
  }
  EXPECT_EQ(Get(target), "new result\n");
  EXPECT_EQ(EntryCount(), 1u);

  // A full disk: a file-size limit makes every write past it fail.
  const std::string big(100000, 'x');
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto* const previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit tight = old;
  tight.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
  const bool wholeWritten = platform::WriteWholeFile(target, big);
  const bool streamed = [&] {
    platform::CheckedOutputFile cut(target);
    return cut && std::fputs(big.c_str(), cut.get()) >= 0 && cut.Commit();
  }();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(wholeWritten);
  EXPECT_FALSE(streamed);
  EXPECT_EQ(Get(target), "new result\n");
  EXPECT_EQ(EntryCount(), 1u);

  // A missing folder or no name at all.
  EXPECT_FALSE(platform::WriteWholeFile((dir_ / "no" / "x.dat").string(), "x"));
  EXPECT_FALSE(platform::WriteWholeFile("", "x"));

  ASSERT_EQ(mkfifo((dir_ / "pipe").c_str(), 0644), 0);
  fs::create_directories(dir_ / "folder");
  fs::create_symlink("/dev/full", dir_ / "device");
  for (const char* name : {"pipe", "folder", "device"}) {
    platform::CheckedOutputFile out((dir_ / name).string());
    EXPECT_FALSE(out) << name;
    EXPECT_FALSE(out.Commit()) << name;
    EXPECT_FALSE(platform::WriteWholeFile((dir_ / name).string(), "x")) << name;
  }
  EXPECT_TRUE(fs::is_fifo(dir_ / "pipe"));
  EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
  EXPECT_EQ(EntryCount(), 4u);
  alarm(0);
}

// Every name the folder takes can be written, a file written through a
// temporary name by a writer that itself writes through one included; a
// file rewritten keeps its permissions, and a link at the name is replaced,
// never written through.
TEST_F(FileIo, AnyNameThatFitsIsWrittenAndARewriteKeepsTheFilesMode) {
  for (const std::size_t length : {std::size_t{200}, std::size_t{247}, std::size_t{248}, std::size_t{255}}) {
    SCOPED_TRACE(length);
    const std::string target = (dir_ / std::string(length, 'n')).string();
    EXPECT_TRUE(platform::WriteWholeFile(target, "one layer\n"));
    EXPECT_EQ(Get(target), "one layer\n");
    // The flag file of a run: its writer writes through its own temporary name.
    EXPECT_TRUE(platform::WriteThroughTemporary(
        target, [](const std::string& temporary) { return platform::WriteWholeFile(temporary, "two layers\n"); }));
    EXPECT_EQ(Get(target), "two layers\n");
    fs::remove(target);
  }
  EXPECT_FALSE(platform::WriteWholeFile((dir_ / std::string(256, 'n')).string(), "x"));  // no such name
  EXPECT_EQ(EntryCount(), 0u);

  for (const fs::perms mode : {fs::perms::owner_read, fs::perms::owner_read | fs::perms::owner_write |
                                                          fs::perms::group_read,
                               fs::perms::owner_all}) {
    const std::string target = Put("kept.dat", "earlier\n");
    fs::permissions(target, mode);
    EXPECT_TRUE(platform::WriteWholeFile(target, "rewritten\n"));
    EXPECT_EQ(fs::status(target).permissions(), mode);
    EXPECT_TRUE(platform::WriteThroughTemporary(
        target, [](const std::string& temporary) { return platform::WriteWholeFile(temporary, "again\n"); }));
    EXPECT_EQ(fs::status(target).permissions(), mode);
    EXPECT_EQ(Get(target), "again\n");
  }

  // Links at the name, to a file that must not change: the link is replaced.
  const std::string input = Put("input.xml", "the user's input\n");
  fs::create_symlink("input.xml", dir_ / "linked.dat");
  fs::create_hard_link(dir_ / "input.xml", dir_ / "hard.dat");
  for (const char* name : {"linked.dat", "hard.dat"}) {
    EXPECT_TRUE(platform::WriteWholeFile((dir_ / name).string(), "result\n")) << name;
    EXPECT_EQ(Get(dir_ / name), "result\n") << name;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir_ / name))) << name;
  }
  EXPECT_EQ(Get(input), "the user's input\n");
  EXPECT_EQ(fs::hard_link_count(input), 1u);
}

// Two runs writing the same name at the same time each write under a name
// of their own: the file ends as one of them wrote it, never a mixture.
TEST_F(FileIo, InterleavedWritersLeaveOneWholeVersion) {
  const std::string target = (dir_ / "sdist.RA1").string();
  platform::CheckedOutputFile a(target), b(target);
  ASSERT_TRUE(a && b);
  for (int i = 0; i < 1000; ++i) {
    std::fprintf(a.get(), "a%d\n", i);
    std::fprintf(b.get(), "b%d\n", i);
  }
  ASSERT_TRUE(b.Commit());
  const std::string fromB = Get(target);
  ASSERT_TRUE(a.Commit());
  const std::string fromA = Get(target);
  EXPECT_EQ(fromB.find('a'), std::string::npos);
  EXPECT_EQ(fromA.find('b'), std::string::npos);
  EXPECT_EQ(std::count(fromA.begin(), fromA.end(), '\n'), 1000);
  EXPECT_EQ(EntryCount(), 1u);
}

// A log grows while the program runs: opened for appending, emptied when
// asked, and refused at once when a pipe (with or without a reader), a
// folder or a device stands at its name.
TEST_F(FileIo, LogsAppendToRegularFilesAndRefuseEverythingElse) {
  alarm(60);
  const std::string log = Put("automation.log", "earlier run\n");
  std::FILE* f = platform::OpenRegularForAppend(log, false);
  ASSERT_NE(f, nullptr);
  std::fputs("more\n", f);
  std::fclose(f);
  EXPECT_EQ(Get(log), "earlier run\nmore\n");
  f = platform::OpenRegularForAppend(log, true);
  ASSERT_NE(f, nullptr);
  std::fputs("new run\n", f);
  std::fclose(f);
  EXPECT_EQ(Get(log), "new run\n");
  f = platform::OpenRegularForAppend((dir_ / "fresh.log").string(), false);
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(fs::is_regular_file(dir_ / "fresh.log"));

  // A log started at a link (symbolic or hard) to an input is a new file:
  // the input keeps every byte; appending never goes through a link.
  const std::string input = Put("params.xml", "<the user's parameters/>\n");
  fs::create_symlink("params.xml", dir_ / "linked.log");
  fs::create_hard_link(dir_ / "params.xml", dir_ / "hard.log");
  for (const char* name : {"linked.log", "hard.log"})
    EXPECT_EQ(platform::OpenRegularForAppend((dir_ / name).string(), false), nullptr) << name;
  for (const char* name : {"linked.log", "hard.log"}) {
    f = platform::OpenRegularForAppend((dir_ / name).string(), true);
    ASSERT_NE(f, nullptr) << name;
    std::fputs("log line\n", f);
    std::fclose(f);
    EXPECT_EQ(Get(dir_ / name), "log line\n") << name;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir_ / name))) << name;
    // Appended to afterwards as its own file.
    f = platform::OpenRegularForAppend((dir_ / name).string(), false);
    ASSERT_NE(f, nullptr) << name;
    std::fclose(f);
  }
  EXPECT_EQ(Get(input), "<the user's parameters/>\n");
  EXPECT_EQ(fs::hard_link_count(input), 1u);

  ASSERT_EQ(mkfifo((dir_ / "pipe").c_str(), 0644), 0);
  fs::create_directories(dir_ / "folder");
  for (const fs::path& p : {dir_ / "pipe", dir_ / "folder", fs::path("/dev/null"), dir_ / "no" / "x.log"})
    EXPECT_EQ(platform::OpenRegularForAppend(p.string(), true), nullptr) << p;
  // Nothing left beside: no temporary file of a refused log.
  for (const auto& e : fs::directory_iterator(dir_)) EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
  // A pipe that has a reader opens without waiting, and is refused all the same.
  const int reader = open((dir_ / "pipe").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(platform::OpenRegularForAppend((dir_ / "pipe").string(), false), nullptr);
  close(reader);
  EXPECT_TRUE(fs::is_fifo(dir_ / "pipe"));
  alarm(0);
}

TEST(WriteFailures, EachPathIsSaidOnceASession) {
  EXPECT_FALSE(platform::WriteFailureSaid("/said/once.txt"));
  EXPECT_TRUE(platform::FirstWriteFailure("/said/once.txt"));
  EXPECT_FALSE(platform::FirstWriteFailure("/said/once.txt"));
  EXPECT_TRUE(platform::WriteFailureSaid("/said/once.txt"));
  EXPECT_TRUE(platform::FirstWriteFailure("/said/other.txt"));
  platform::ForgetWriteFailures();
  EXPECT_FALSE(platform::WriteFailureSaid("/said/once.txt"));
  EXPECT_TRUE(platform::FirstWriteFailure("/said/once.txt"));
  EXPECT_FALSE(platform::FirstWriteFailure("/said/once.txt"));
}

TEST(WorkerThreads, CountsStayBetweenOneAndTheCap) {
  const int cap = platform::MaxWorkerThreads();
  EXPECT_GE(cap, 4);
  EXPECT_EQ(cap % 4, 0);
  for (auto [asked, got] : {std::pair<int, int>{-5, 1}, {0, 1}, {1, 1}, {3, 3}, {cap, cap},
                            {cap + 1, cap}, {2147483647, cap}})
    EXPECT_EQ(platform::CapWorkerThreads(asked), got) << asked;
}

}  // namespace

// The memory a job's control group allows, read from a fake hierarchy: the
// smallest limit along the process's group and the groups above it, v2's
// memory.max beside v1's memory.limit_in_bytes, "max" and missing files no
// limit, and every other controller passed over.
TEST_F(FileIo, TheControlGroupsMemoryLimitIsTheSmallestAlongTheGroupsPath) {
  const fs::path root = dir_ / "cgroup";
  auto limit = [&](const std::string& folder, const char* file, const std::string& value) {
    fs::create_directories(root / folder);
    std::ofstream(root / folder / file) << value << "\n";
  };
  limit("job.slice/step_0", "memory.max", "max");
  limit("job.slice", "memory.max", "629145600");  // 600 MB requested for the job
  limit("", "memory.max", "8000000000");
  limit("memory/batch/job7", "memory.limit_in_bytes", "9223372036854771712");  // v1's "unlimited"
  limit("memory/batch", "memory.limit_in_bytes", "400000000");
  limit("memory/other", "memory.limit_in_bytes", "1000");
  const struct {
    const char* cgroup;
    double expected;
  } cases[] = {
      {"0::/job.slice/step_0\n", 629145600.0},
      {"0::/job.slice/step_0/\n", 629145600.0},
      {"0::/\n", 8000000000.0},
      {"0::/elsewhere/deeper\n", 8000000000.0},  // groups not mounted here: the root's limit holds
      {"4:memory:/batch/job7\n0::/\n", 400000000.0},
      {"4:cpu,memory,pids:/batch/job7\n", 400000000.0},
      {"4:memory:/batch/job7\n0::/job.slice/step_0\n", 400000000.0},
      {"3:cpuset:/other\n2:cpu:/other\n", HUGE_VAL},
      {"4:memory:/batch/job7:with:colons\n", 400000000.0},
      {"garbage\n\n4:memory\n", HUGE_VAL},
      {"", HUGE_VAL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cgroup);
    EXPECT_EQ(platform::ControlGroupMemoryLimit(Put("cgroup.txt", c.cgroup), root.string()), c.expected);
  }
  // No hierarchy at all, or no /proc entry: no limit.
  EXPECT_EQ(platform::ControlGroupMemoryLimit(Put("cgroup.txt", "0::/job.slice\n"), (dir_ / "none").string()),
            HUGE_VAL);
  EXPECT_EQ(platform::ControlGroupMemoryLimit((dir_ / "missing").string(), root.string()), HUGE_VAL);
  // The program's bound never exceeds what its own groups allow.
  EXPECT_LE(platform::MemoryForTheProgram(), platform::ControlGroupMemoryLimit());
}
