// The program under faults that every platform can stage: an entry's lock
// that another process never gives back, a snapshot file that cannot take
// its name, the start directory watched as a folder, a watched folder that
// goes and comes back, and two instances in one start directory. Each fault
// is checked by what users see: the started programs, the log and the end
// of the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "argv_record.h"
#include "program.h"
#include "test_util.h"
#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

using FaultTest = WatchingTest;

// The lock of entry 1 is never given back: its scan waits, entry 2 goes on
// working, and the end request still ends the run normally.
TEST_F(FaultTest, LockHeldForeverStallsOnlyItsEntryAndTheRunStillEnds) {
  StartWatching(Record("AT", "in", "out") + Record("A", "in2", "out2"), 2);
  HoldLock();
  DropIn("in", "x.txt");
  ASSERT_TRUE(WaitForLog("(01)...      -s- ENQ(KSFF01) OpenMutex")) << Joined(Log());
  DropIn("in2", "y.txt");
  EXPECT_EQ(Started(Records("out2", 1)), Lines{Expected("in2", "y.txt", "-A")});
  EXPECT_EQ(CountArgvRecords(At("out")), 0);

  ASSERT_TRUE(program_.RequestEnd());
  int code = -1;
  ASSERT_TRUE(program_.WaitForExit(60, &code)) << "the held lock kept the run from ending";
  EXPECT_EQ(code, 0);
  Lines log = Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "Ended - AllEndThread");
  EXPECT_EQ(Count(log, "(01)...      -e- ENQ(ok)"), 0);
  ASSERT_TRUE(Release("lock"));
  EXPECT_EQ(CountArgvRecords(At("out")), 0);
}

#ifdef _WIN32
// An outside program keeps the scans off through a handle that may only
// wait on the mutex (SYNCHRONIZE): the scan waits while it is held, then runs.
TEST_F(FaultTest, LockHeldThroughAWaitOnlyHandleHoldsTheScanOffUntilGivenBack) {
  StartWatching(Record("AT", "in", "out"));
  const std::string enq = "(01)...      -s- ENQ(KSFF01) OpenMutex", ok = "(01)...      -e- ENQ(ok)";
  int scans = CountStarting(Log(), enq), owned = Count(Log(), ok);
  HoldLock("synchronize");
  DropIn("in", "x.txt");
  ASSERT_TRUE(WaitForLog(enq, scans + 1)) << Joined(Log());
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(Count(Log(), ok), owned);
  EXPECT_EQ(CountArgvRecords(At("out")), 0);
  ASSERT_TRUE(Release("lock")) << "the holder could not give the mutex back";
  EXPECT_EQ(Started(Records("out", 1)), Lines{Expected("in", "x.txt", "-A")});
}
#endif

// A folder where the old snapshot file must go: the merged snapshot cannot
// take its name, so each scan finds every file added again and says why in
// three lines. Once the folder is gone the next scan starts over from an
// empty snapshot and the one after it reports only what changed.
TEST_F(FaultTest, SnapshotThatCannotTakeItsNameIsRecoveredOnceTheWayIsFree) {
  StartWatching(Record("AD", "in", "out"));
  fs::remove(At("KSFF01O.txt"));
  fs::create_directory(At("KSFF01O.txt"));
  const std::string moveError = "...ReanameFile. MoveFile error(KSFF01T.txt) Error(";

  struct Step {
    const char* added;
    bool blocked;   // the folder is still in the way
    Lines started;  // names started with "-A"
  };
  const Step steps[] = {
      {"b", true, {"b"}},
      {"c", true, {"b", "c"}},
      {"d", false, {"b", "c", "d"}},
      {"e", false, {"e"}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.added);
    if (!step.blocked && fs::is_directory(At("KSFF01O.txt"))) fs::remove(At("KSFF01O.txt"));
    int errors = CountStarting(Log(), moveError);
    DropIn("in", step.added);
    Lines expected;
    for (const std::string& name : step.started) expected.push_back(Expected("in", name, "-A"));
    EXPECT_EQ(Started(Records("out", expected.size())), expected);
    ClearRecords("out");
    EXPECT_EQ(CountStarting(Log(), moveError), errors + (step.blocked ? 1 : 0));
  }
  EXPECT_TRUE(fs::is_regular_file(At("KSFF01O.txt")));
  EXPECT_TRUE(LogStaysStill());
}

// The start directory watched as a folder: the log and the snapshot files
// that every scan writes there start nothing and wake no endless scans,
// and a file put there is still started, once per change.
TEST_F(FaultTest, StartDirectoryAsWatchedFolderReportsOnlyOtherFiles) {
  std::string record = Record("AUD", "in", "out");
  record.replace(record.find(Path("in")), Path("in").size(), start_.str());
  StartWatching(record);
  auto expected = [&](const char* flag) {
    std::string line = Expected("in", "a.txt", flag);
    return line.replace(line.find(Path("in")), Path("in").size(), start_.str());
  };
  WriteWholeFile(At("a.txt"), "first");
  EXPECT_EQ(Started(Records("out", 1)), Lines{expected("-A")});
  EXPECT_TRUE(LogStaysStill()) << "scans go on by themselves";
  ClearRecords("out");
  WriteWholeFile(At("a.txt"), "second, longer");
  EXPECT_EQ(Started(Records("out", 1)), Lines{expected("-A")});
  fs::remove(At("a.txt"));
  EXPECT_EQ(Started(Records("out", 2)), (Lines{expected("-A"), expected("-D")}));
  EXPECT_TRUE(LogStaysStill()) << "scans go on by themselves";
}

// The watched folder moved away, deleted, replaced by a file, and made
// again after each: its files are reported deleted when it goes, what is
// put into it is reported when it comes back, and while a file stands in
// its place nothing runs.
TEST_F(FaultTest, WatchedFolderThatGoesAndComesBackIsWatchedAgain) {
  StartWatching(Record("AD", "in", "out"));
  const fs::path in = At("in");
  struct Step {
    const char* what;
    void (*act)(const fs::path& in);
    Lines started;  // flag and name
  };
  const Step steps[] = {
      {"added", [](const fs::path& in) { WriteWholeFile(in / "a", "1"); }, {"-A a"}},
#ifndef _WIN32
      // Windows may go on watching the folder that was moved, if the new
      // one is there before the notification has been looked at.
      {"moved away and made again",
       [](const fs::path& in) {
         fs::rename(in, in.string() + ".old");
         fs::create_directory(in);
         WriteWholeFile(in / "b", "2");
         WriteWholeFile(in.string() + ".old/unseen", "3");
       },
       {"-A b", "-D a"}},
      {"deleted", [](const fs::path& in) { fs::remove_all(in); }, {"-D b"}},
#else
      {"deleted", [](const fs::path& in) { fs::remove_all(in); }, {"-D a"}},
#endif
      {"made again",
       [](const fs::path& in) {
         fs::create_directory(in);
         WriteWholeFile(in / "c", "4");
       },
       {"-A c"}},
      {"replaced by a file",
       [](const fs::path& in) {
         fs::remove_all(in);
         WriteWholeFile(in, "not a folder");
       },
       {"-D c"}},
      {"made again from a file",
       [](const fs::path& in) {
         fs::remove(in);
         fs::create_directory(in);
         WriteWholeFile(in / "d", "5");
       },
       {"-A d"}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.act(in);
    Lines expected;
    for (const std::string& started : step.started) {
      expected.push_back(Expected("in", started.substr(3), started.substr(0, 2)));
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Started(Records("out", expected.size())), expected);
    ClearRecords("out");
    if (fs::is_regular_file(in)) {
      EXPECT_TRUE(LogStaysStill()) << "retries fill the log";
    }
  }
}

// A second instance started in the same start directory shares the named
// lock and the snapshot files of the first: every change is still started
// once, and the second runs without a log, which the first holds.
TEST_F(FaultTest, SecondInstanceInTheSameStartDirectoryStartsNothingTwice) {
  StartWatching(Record("AD", "in", "out"));
  // The second instance's first snapshot replaces the old snapshot file;
  // an old time on the first one's shows when that has happened.
  auto marked = fs::last_write_time(At("KSFF01O.txt")) - std::chrono::hours(24);
  fs::last_write_time(At("KSFF01O.txt"), marked);
  Program second;
  ASSERT_TRUE(second.Start(start_.path()));
  ASSERT_TRUE(PollUntil(
      [&] {
        std::error_code error;
        return fs::last_write_time(At("KSFF01O.txt"), error) > marked;
      },
      60000));

  Lines expected;
  for (const char* name : {"f1", "f2", "f3", "f4", "f5"}) {
    DropIn("in", name);
    expected.push_back(Expected("in", name, "-A"));
  }
  EXPECT_EQ(Started(Records("out", expected.size())), expected);
  ClearRecords("out");
  fs::remove(At("in") / "f3");
  EXPECT_EQ(Started(Records("out", 1)), Lines{Expected("in", "f3", "-D")});
  EXPECT_EQ(Count(Log(), "= Start program ==========="), 1);

  ASSERT_TRUE(second.RequestEnd());
  int code = -1;
  ASSERT_TRUE(second.WaitForExit(60, &code));
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
