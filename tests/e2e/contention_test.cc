// The program against other processes: a writer or a reader that holds a
// file open in a watched folder, another process that holds an entry's lock,
// and both entries scanning many files at once. Only the log, the recorder's
// records and the exit code are looked at.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

#include "argv_record.h"
#include "program.h"
#include "test_util.h"
#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

// How another process holds an entry's lock.
enum class LockHolder {
  kProgram,  // lock_holder: a named mutex on Windows, the lock file on Linux
  kFlock,    // flock(1) on the lock file, as a Linux script would
};

class ContentionTest : public WatchingTest {
 protected:
  ~ContentionTest() override {
    // Whatever a failed test left holding lets go before the program ends.
    Release("file");
    Release("lock");
  }

  // Another process opens in/`name` in `mode` (see file_holder) and holds
  // it until Release("file").
  void HoldFile(const std::string& mode, const std::string& name) {
    holders_["file"].push_back(StartHelper(
        "file_holder",
        {mode, Path("in") + kSeparator + name, Path("file.held"), Path("file.release")}));
    ASSERT_NE(holders_["file"].back().id, 0);
    ASSERT_TRUE(PollUntil([&] { return fs::exists(At("file.held")); }));
  }

  // Another process takes entry 1's lock and holds it until Release("lock").
  void HoldLock(LockHolder how) {
    if (how == LockHolder::kProgram) {
#ifdef _WIN32
      std::string name = "KSFF01";  // mutex names are the same for every process
#else
      std::string name = Path("KSFF01");  // the lock file is in the start directory
#endif
      holders_["lock"].push_back(
          StartHelper("lock_holder", {name, Path("lock.held"), Path("lock.release")}));
      ASSERT_NE(holders_["lock"].back().id, 0);
    } else {
#ifndef _WIN32
      const char* script = "touch lock.held; while [ ! -e lock.release ]; do sleep 0.05; done";
      const char* argv[] = {"flock", "KSFF01.lock", "sh", "-c", script, nullptr};
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_addchdir_np(&actions, start_.str().c_str());
      pid_t pid = 0;
      int failed =
          posix_spawnp(&pid, "flock", &actions, nullptr, const_cast<char**>(argv), environ);
      posix_spawn_file_actions_destroy(&actions);
      ASSERT_EQ(failed, 0);
      flocks_.push_back(pid);
#endif
    }
    ASSERT_TRUE(PollUntil([&] { return fs::exists(At("lock.held")); }));
  }

  // Lets the holders of `what` ("file" or "lock") go and waits until they
  // have; true when each of them ended well.
  bool Release(const std::string& what) {
    WriteWholeFile(At(what + ".release"), "");
    bool ok = true;
    for (HelperProcess& helper : holders_[what]) {
      if (helper.id != 0) ok &= WaitHelper(helper) == 0;
    }
    holders_[what].clear();
#ifndef _WIN32
    if (what == "lock") {
      for (pid_t pid : flocks_) {
        int status = 0;
        ok &= waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
      }
      flocks_.clear();
    }
#endif
    fs::remove(At(what + ".held"));
    fs::remove(At(what + ".release"));
    return ok;
  }

  std::map<std::string, std::vector<HelperProcess>> holders_;  // "file", "lock"
#ifndef _WIN32
  std::vector<pid_t> flocks_;
#endif
};

std::vector<LockHolder> LockHolders() {
#ifdef _WIN32
  return {LockHolder::kProgram};
#else
  return {LockHolder::kProgram, LockHolder::kFlock};
#endif
}

constexpr char kEnqLine[] = "(01)...      -s- ENQ(KSFF01) OpenMutex";
constexpr char kEnqDoneLine[] = "(01)...      -e- ENQ(ok)";

// A copy in progress: the writer makes the file and keeps writing to it.
// Nothing is started while it is open; once it is closed the program is
// started once. Wine raises no notification at the close, so there the
// re-scan that follows a file left pending is what hands it on.
TEST_F(ContentionTest, CopyInProgressIsStartedOnceAfterTheWriterClosesIt) {
  StartWatching(Record("A", "in", "out"));
  HoldFile("create", "big.dat");
  ASSERT_TRUE(WaitForLog("(01)...      -s- File addition. (big.dat) in use.")) << Joined(Log());
  EXPECT_EQ(CountArgvRecords(At("out")), 0);
  ASSERT_TRUE(Release("file"));
  EXPECT_EQ(Started(Records("out", 1)), Lines{Expected("in", "big.dat", "-A")});
  EXPECT_EQ(Count(Log(), "(01)... ... ... ... Adition(big.dat)"), 1);
}

// A file that only a reader holds: its close raises no notification on
// either platform. The lock keeps the scan that the file's arrival woke
// waiting until the reader has it open.
TEST_F(ContentionTest, FileHeldByAReaderIsStartedOnceAfterTheReaderClosesIt) {
  StartWatching(Record("A", "in", "out"));
  HoldLock(LockHolder::kProgram);
  WriteWholeFile(At("in") / "read.dat", "complete");
  HoldFile("read", "read.dat");
  ASSERT_TRUE(Release("lock"));
  ASSERT_TRUE(WaitForLog("(01)...      -s- File addition. (read.dat) in use.")) << Joined(Log());
  EXPECT_EQ(CountArgvRecords(At("out")), 0);
  ASSERT_TRUE(Release("file"));
  EXPECT_EQ(Started(Records("out", 1)), Lines{Expected("in", "read.dat", "-A")});
  EXPECT_EQ(Count(Log(), "(01)... ... ... ... Adition(read.dat)"), 1);
}

// A file first seen free that then grows while another process writes to
// it: marked as in use in the snapshot while held, and started once with
// "-A" when free, though neither platform notices the close.
TEST_F(ContentionTest, FileGrownWhileHeldIsStartedOnceWhenItIsFree) {
  WriteWholeFile(At("in") / "grow.dat", "1234");
  // An hour back, so that the writer's append gives it another time.
  fs::last_write_time(At("in") / "grow.dat",
                      fs::last_write_time(At("in") / "grow.dat") - std::chrono::hours(1));
  StartWatching(Record("A", "in", "out"));
  HoldFile("write", "grow.dat");
  ASSERT_TRUE(PollUntil(
      [&] {
        std::string old = ReadWholeFile(At("KSFF01O.txt"));
        return old.size() == 99 && old.compare(64, 12, "-00000000001") == 0;
      },
      60000))
      << Joined(Log());
  EXPECT_EQ(CountArgvRecords(At("out")), 0);
  ASSERT_TRUE(Release("file"));
  EXPECT_EQ(Started(Records("out", 1)), Lines{Expected("in", "grow.dat", "-A")});
}

TEST_F(ContentionTest, LockHeldByAnotherProcessHoldsTheScanOffUntilItIsGivenBack) {
  StartWatching(Record("AT", "in", "out"));
  int round = 0;
  for (LockHolder how : LockHolders()) {
    SCOPED_TRACE(how == LockHolder::kProgram ? "lock_holder" : "flock(1)");
    std::string name = "x" + std::to_string(round++) + ".txt";
    Lines before = Log();
    HoldLock(how);
    WriteWholeFile(At("in") / name, "x");
    ASSERT_TRUE(WaitForLog(kEnqLine, CountStarting(before, kEnqLine) + 1)) << Joined(Log());
    // Time enough for a scan that the lock failed to hold off to show.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(Count(Log(), kEnqDoneLine), Count(before, kEnqDoneLine));
    EXPECT_EQ(CountArgvRecords(At("out")), 0);
    ASSERT_TRUE(Release("lock"));
    EXPECT_EQ(Started(Records("out", 1)), Lines{Expected("in", name, "-A")});
    for (const auto& record : fs::directory_iterator(At("out"))) fs::remove(record.path());
  }
}

// The shutdown does not wait for a lock that another process holds: the
// waiting watcher is ended where it waits, nothing is started, and the
// program ends normally.
TEST_F(ContentionTest, EndRequestWhileAScanWaitsForTheLockEndsTheProgramNormally) {
  for (LockHolder how : LockHolders()) {
    SCOPED_TRACE(how == LockHolder::kProgram ? "lock_holder" : "flock(1)");
    Lines before = Log();
    StartWatching(Record("AT", "in", "out"));
    HoldLock(how);
    WriteWholeFile(At("in") / "late.txt", "x");
    ASSERT_TRUE(WaitForLog(kEnqLine, CountStarting(before, kEnqLine) + 1)) << Joined(Log());
    ASSERT_TRUE(program_.RequestEnd());
    int code = -1;
    ASSERT_TRUE(program_.WaitForExit(60, &code));
    EXPECT_EQ(code, 0);
    Lines log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Ended - AllEndThread");
    EXPECT_EQ(Count(log, "(01)... ... ... ... Adition(late.txt)"), 0);
    ASSERT_TRUE(Release("lock"));
    EXPECT_EQ(CountArgvRecords(At("out")), 0);
    fs::remove(At("in") / "late.txt");
  }
}

// Both watchers scan many files at the same moment, with the trace on so
// that both write lines all the time: every line is whole (LogTexts fails
// the test on a broken one), and every file is started exactly once.
TEST_F(ContentionTest, TwoEntriesScanningManyFilesAtOnceKeepTheLogWholeAndStartEveryFile) {
  constexpr int kFiles = 60;
  StartWatching(Record("AT", "in", "out") + Record("AT", "in2", "out2"), 2);
  Lines expected[2];
  std::vector<std::thread> writers;
  for (int entry = 0; entry < 2; ++entry) {
    std::string in = entry == 0 ? "in" : "in2";
    for (int i = 0; i < kFiles; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "f%03d.dat", i);
      expected[entry].push_back(Expected(in, name, "-A"));
    }
    std::sort(expected[entry].begin(), expected[entry].end());
    writers.emplace_back([this, in] {
      for (int i = 0; i < kFiles; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%03d.dat", i);
        WriteWholeFile(At(in) / name, std::string(static_cast<std::size_t>(i), 'x'));
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  EXPECT_EQ(Started(Records("out", kFiles, 180)), expected[0]);
  EXPECT_EQ(Started(Records("out2", kFiles, 180)), expected[1]);

  Lines log = Log();
  for (const std::string& line : log) {
    // A line broken by another thread's write would show as a continuation.
    if (line.rfind("(0", 0) == 0) {
      EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    }
  }
  for (int i = 0; i < kFiles; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%03d.dat", i);
    for (const char* entry : {"(01)", "(02)"}) {
      EXPECT_EQ(Count(log, std::string(entry) + "... ... ... ... Adition(" + name + ")"), 1)
          << entry << " " << name;
    }
  }
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
