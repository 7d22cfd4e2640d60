// The program under faults that only Linux stages here: a log on a full
// file system, a kill in the middle of a scan, a flood of files, an
// overflow of the inotify queue and a file written while it is held open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "argv_record.h"
#include "program.h"
#include "test_util.h"
#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

class FaultPosixTest : public WatchingTest {
 protected:
  ~FaultPosixTest() override {
    Release("lock");
    // Lazily: the program may still hold its log there until it ends.
    if (mounted_) umount2(At("full").c_str(), MNT_DETACH);
  }

  std::string Name(const char* stem, int i) const {
    char name[32];
    std::snprintf(name, sizeof name, "%s%04d", stem, i);
    return name;
  }

  bool mounted_ = false;
};

// The log lies on a full file system: its lines are lost, the files are
// still started, and once there is room again the lines come back.
TEST_F(FaultPosixTest, LogOnAFullFileSystemLosesLinesButNoStart) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  fs::create_directory(At("full"));
  if (mount("tmpfs", At("full").c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "tmpfs cannot be mounted here: " << std::strerror(errno);
  }
  mounted_ = true;
  fs::create_symlink("full/Wendrake.log", At("Wendrake.log"));
  StartWatching(Record("A", "in", "out"));
  {
    std::ofstream filler(At("full") / "filler", std::ios::binary);
    std::string block(4096, 'x');
    for (int i = 0; i < 64 && filler.write(block.data(), block.size()).flush(); ++i) {
    }
  }
  // Starts until the log stops growing: its last page is full as well.
  int started = 0;
  for (std::uintmax_t size = 0; size != fs::file_size(At("Wendrake.log"));) {
    ASSERT_LT(started, 64) << "the log never filled up";
    size = fs::file_size(At("Wendrake.log"));
    WriteWholeFile(At("in") / Name("pad", started), "x");
    ++started;
    ASSERT_TRUE(PollUntil([&] { return CountArgvRecords(At("out")) == started; }, 60000));
  }
  // The log is read as bytes from here on: the line that met the full file
  // system may have been cut short.
  auto logged = [&](const char* name) {
    return ReadWholeFile(At("Wendrake.log")).find(std::string("Adition(") + name + ")") !=
           std::string::npos;
  };
  WriteWholeFile(At("in") / "lost.txt", "x");
  EXPECT_EQ(Started(Records("out", started + 1)).size(), static_cast<std::size_t>(started + 1));
  EXPECT_FALSE(logged("lost.txt"));

  fs::remove(At("full") / "filler");
  ClearRecords("out");
  WriteWholeFile(At("in") / "back.txt", "x");
  EXPECT_EQ(Started(Records("out", 1)), Lines{Expected("in", "back.txt", "-A")});
  EXPECT_TRUE(logged("back.txt"));
}

// Killed while it starts programs for a folder full of new files, the
// program leaves snapshot files and its lock behind. Started again it
// begins from a fresh snapshot: nothing of the cut scan is started, and the
// next change is.
TEST_F(FaultPosixTest, KilledMidScanStartsAgainFromAFreshSnapshot) {
  StartWatching(Record("AT", "in", "out"));
  for (int i = 0; i < 400; ++i) WriteWholeFile(At("in") / Name("f", i), "x");
  ASSERT_TRUE(WaitForLog("(01)... ... ... ... Adition("));
  ASSERT_TRUE(program_.RequestEnd(SIGKILL));
  int code = 0;
  ASSERT_TRUE(program_.WaitForExit(60, &code));
  EXPECT_EQ(code, 128 + SIGKILL);
  EXPECT_LT(CountStarting(Log(), "(01)... ... ... ... Adition("), 400) << "not killed mid-scan";
  // A program it was starting just then may hold a copy of the log (and its
  // lock) until its exec; started before that, the new run has no log.
  ASSERT_TRUE(PollUntil([&] {
    int fd = open(At("Wendrake.log").c_str(), O_RDONLY | O_CLOEXEC);
    bool free = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0) close(fd);
    return free;
  }));

  StartWatching(Record("A", "in", "out2"));
  WriteWholeFile(At("in") / "late.txt", "x");
  EXPECT_EQ(Started(Records("out2", 1)), Lines{Expected("in", "late.txt", "-A", "job")});
  EXPECT_EQ(ReadWholeFile(At("KSFF01N.txt")) + ReadWholeFile(At("KSFF01T.txt")), "");
}

// 10,000 files at once (dropped while the entry's lock is held, so that
// the first scan meets them all): the snapshot holds 3000, each listing
// logs every file left out, and the program goes on working.
TEST_F(FaultPosixTest, TenThousandFilesAtOnceKeepTheListingAt3000) {
  constexpr char kOverflow[] = "(01)... PutFileNamesInDir. Table max ovser. max(3000)";
  StartWatching(Record("X", "in", "out"));
  HoldLock();
  // Names of one file: made fast, and each a file of its own to a listing.
  WriteWholeFile(At("one"), "");
  for (int i = 0; i < 10000; ++i) fs::create_hard_link(At("one"), At("in") / Name("f", i));
  ASSERT_TRUE(Release("lock"));
  ASSERT_TRUE(PollUntil([&] { return LogStaysStill(); }, 60000));
  EXPECT_EQ(fs::file_size(At("KSFF01O.txt")), 3000u * 99u);
  int before = Count(Log(), kOverflow);
  EXPECT_GE(before, 7000);
  // One rename, one scan.
  WriteWholeFile(At("one-more"), "");
  fs::rename(At("one-more"), At("in") / "one-more");
  ASSERT_TRUE(PollUntil([&] { return Count(Log(), kOverflow) >= before + 7001; }, 60000));
  ASSERT_TRUE(PollUntil([&] { return LogStaysStill(); }, 60000));
  EXPECT_EQ(Count(Log(), kOverflow), before + 7001);
  EXPECT_EQ(fs::file_size(At("KSFF01O.txt")), 3000u * 99u);
}

// Changes made while another process holds the entry's lock overflow the
// inotify queue (the waiting scan reads nothing of it): once the lock is
// given back every file changed or added meanwhile is started once.
TEST_F(FaultPosixTest, QueueOverflowWhileTheLockIsHeldLosesNoChange) {
  constexpr int kFiles = 100;
  Lines expected;
  for (int i = 0; i < kFiles; ++i) {
    WriteWholeFile(At("in") / Name("f", i), "x");
    // An hour back, so that the appends below give them another time.
    fs::last_write_time(At("in") / Name("f", i),
                        fs::last_write_time(At("in") / Name("f", i)) - std::chrono::hours(1));
    expected.push_back(Expected("in", Name("f", i), "-A"));
    expected.push_back(Expected("in", Name("g", i), "-A"));
  }
  std::sort(expected.begin(), expected.end());
  StartWatching(Record("AUD", "in", "out"));
  HoldLock();

  // Each append queues a modification and a close after writing.
  int queued = 16384;
  std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queued;
  for (int round = 0; round * 2 * kFiles <= queued + 1000; ++round) {
    for (int i = 0; i < kFiles; ++i) {
      std::ofstream(At("in") / Name("f", i), std::ios::app) << 'y';
    }
  }
  for (int i = 0; i < kFiles; ++i) WriteWholeFile(At("in") / Name("g", i), "new");
  ASSERT_TRUE(Release("lock"));
  EXPECT_EQ(Started(Records("out", expected.size())), expected);
}

// A file held open and written 50 times a second for 5 s, as a database or
// a log is: its writes are gathered into at most about four scans a second
// (one wait line after each, besides the scan of its creation), and its
// close is still started at once.
TEST_F(FaultPosixTest, FileWrittenWhileHeldOpenCostsAFewScansASecond) {
  using Clock = std::chrono::steady_clock;
  StartWatching(Record("A", "in", "out"));
  int waits = CountStarting(Log(), "(01)...-Wait(");
  Clock::time_point began = Clock::now();
  HoldFile("stream", "held.db");
  std::this_thread::sleep_for(std::chrono::seconds(5));
  std::chrono::duration<double> held = Clock::now() - began;
  EXPECT_LE(CountStarting(Log(), "(01)...-Wait(") - waits, 4 * held.count() + 3);
  Clock::time_point closing = Clock::now();
  ASSERT_TRUE(Release("file"));
  ASSERT_TRUE(PollUntil([&] { return CountArgvRecords(At("out")) > 0; }));
  EXPECT_LT(Clock::now() - closing, std::chrono::seconds(1));
  EXPECT_EQ(Started(Records("out", 1)), Lines{Expected("in", "held.db", "-A")});
}

// The listing cannot reach the disk (the new snapshot file leads to
// /dev/full): the scan is given up with a line, not matched against an
// empty listing that would report every file there as deleted, and is
// tried again.
TEST_F(FaultPosixTest, ListingThatCannotBeWrittenReportsNoFileDeleted) {
  WriteWholeFile(At("in") / "a.txt", "a");
  StartWatching(Record("AUD", "in", "out"));
  fs::remove(At("KSFF01N.txt"));  // made ready, empty, at the start
  fs::create_symlink("/dev/full", At("KSFF01N.txt"));
  WriteWholeFile(At("in") / "b.txt", "b");
  EXPECT_TRUE(WaitForLog("(01)... PutFileNamesInDir. Write error(KSFF01N.txt) Error("));
  EXPECT_EQ(Started(Records("out", 1)), Lines{Expected("in", "b.txt", "-A")});
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
