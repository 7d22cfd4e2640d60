// The program under faults that every platform can stage: an entry's lock
// that another process never gives back, and the start directory watched
// as a folder. Each fault is checked by what users see: the started
// programs, the log and the end of the run.
#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

using FaultTest = WatchingTest;

// The lock of entry 1 is never given back: its scan waits, entry 2 goes on
// working, and the end request still ends the run normally. On Windows the
// holder has the mutex through a handle that may only wait on it
// (SYNCHRONIZE), as an outside program that means no more may.
TEST_F(FaultTest, LockHeldForeverStallsOnlyItsEntryAndTheRunStillEnds) {
  StartWatching(Record("AT", "in", "out") + Record("A", "in2", "out2"), 2);
  HoldLock("synchronize");
  WriteWholeFile(At("in") / "x.txt", "x");
  ASSERT_TRUE(WaitForLog("(01)...      -s- ENQ(KSFF01) OpenMutex"));
  WriteWholeFile(At("in2") / "y.txt", "y");
  EXPECT_EQ(Started("out2", 1), Lines{Expected("in2", "y.txt", "-A")});

  // Within seconds: the watchers stop within one, and a shutdown that had
  // to give the waiting watcher up would take ten.
  ASSERT_TRUE(RequestEnd(program_));
  ASSERT_EQ(WaitHelper(program_, 5000), 0) << "the held lock kept the run from ending";
  EXPECT_EQ(Log().back(), "Ended - AllEndThread");
  EXPECT_EQ(Count(Log(), "(01)...      -e- ENQ(ok)"), 0);
  EXPECT_EQ(CountArgvRecords(At("out")), 0);
}

// The start directory watched as a folder: the log and the snapshot files
// that every scan writes there start nothing and wake no endless scans,
// and a file put there is still started, once per change.
TEST_F(FaultTest, StartDirectoryAsWatchedFolderReportsOnlyOtherFiles) {
  StartWatching(Record("AUD", "", "out"));
  WriteWholeFile(At("a.txt"), "first");
  EXPECT_EQ(Started("out", 1), Lines{Expected("", "a.txt", "-A")});
  EXPECT_TRUE(LogStaysStill()) << "scans go on by themselves";
  WriteWholeFile(At("a.txt"), "second, longer");
  EXPECT_EQ(Started("out", 2), Lines(2, Expected("", "a.txt", "-A")));
  fs::remove(At("a.txt"));
  EXPECT_EQ(Started("out", 3), (Lines{Expected("", "a.txt", "-A"), Expected("", "a.txt", "-A"),
                                      Expected("", "a.txt", "-D")}));
  EXPECT_TRUE(LogStaysStill()) << "scans go on by themselves";
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
