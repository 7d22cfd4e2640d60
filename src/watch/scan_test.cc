// The matching and the outcomes, driven through whole scans of real folders.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/thread_control.h"
#include "log/log.h"
#include "test_util.h"
#include "watch/outcomes.h"
#include "watch/scan_fixture_test.h"
#include "watch/snapshot.h"
#include "watch/watcher.h"

namespace wendrake {
namespace {

using ScanTest = ScanFixture;

// The day and time of a probe's trace lines differ per run; only their
// shape is checked.
Lines MaskProbeTimes(Lines lines) {
  for (std::string& line : lines) {
    for (const char* label : {"CheckNowAddUse(UDate:", "CheckNowAddUse(UTime:"}) {
      std::size_t at = line.find(label);
      if (at != std::string::npos) line = line.substr(0, at + std::string(label).size()) + "*)";
    }
  }
  return lines;
}

TEST_F(ScanTest, RenameIsADeletionAndAnAdditionInKeyOrderWithTheFullTrace) {
  Write("a.txt", "a");
  Write("b.txt", "b");
  Write("c.txt", "c");
  Arm("T");
  fs::rename(In("b.txt"), In("d.txt"));
  EXPECT_EQ(MaskProbeTimes(Scan()), (Lines{
                                        "(01)...      -s- ENQ(KSFF01) OpenMutex",
                                        "(01)...      -e- ENQ(ok)",
                                        "(01)...      Scanning folder(" + folder_ + ")",
                                        "(01)...              TemFile(KSFF01N.txt)",
                                        "(01)...      MatchingKey  OLD(a.txt) NEW(a.txt)",
                                        "(01)...      -s- Action (   T):NonChanged(a.txt)",
                                        "(01)...      MatchingKey  OLD(b.txt) NEW(c.txt)",
                                        "(01)...      -s- Action(   T):Delete  (b.txt)",
                                        "(01)...      MatchingKey  OLD(c.txt) NEW(c.txt)",
                                        "(01)...      -s- Action (   T):NonChanged(c.txt)",
                                        "(01)...      MatchingKey  OLD(-high-) NEW(d.txt)",
                                        "(01)...      -s- CheckNowAddUse(d.txt) non use.",
                                        "(01)...      -s- CheckNowAddUse(Size:1)",
                                        "(01)...      -s- CheckNowAddUse(UDate:*)",
                                        "(01)...      -s- CheckNowAddUse(UTime:*)",
                                        "(01)...      -s- Action(   T):Addition (d.txt)",
                                        "(01)...      -s- DEQ(KSFF01) ReleaseMutex",
                                        "(01)...      -e- DEQ(ok)",
                                    }));
  EXPECT_EQ(OldSnapshot(),
            (Lines{"a.txt 000000000001", "c.txt 000000000001", "d.txt 000000000001"}));
  EXPECT_FALSE(fs::exists(start_.path() / "KSFF01N.txt"));
  EXPECT_FALSE(fs::exists(start_.path() / "KSFF01T.txt"));
}

TEST_F(ScanTest, WithoutTraceOnlyTheAlwaysLinesAreWritten) {
  Write("a.txt", "a");
  Write("b.txt", "b");
  Arm("");
  fs::rename(In("b.txt"), In("d.txt"));
  EXPECT_EQ(Scan(), Lines{"(01)...      -s- Action(    ):Delete  (b.txt)"});
  EXPECT_EQ(Scan(), Lines{});
}

TEST_F(ScanTest, RenameThatOnlyChangesCaseDeletesTheUpperCaseNameFirst) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine keeps a file's old letter case when it is renamed to a case-only variant";
#endif
  Write("Report.txt", "r");
  Arm("AD");
  fs::rename(In("Report.txt"), In("report.txt"));
  Lines lines = Scan();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "(01)...      -s- Action(A D ):Delete  (Report.txt)");
  EXPECT_EQ(lines[1], "(01)... ... ... ... Delete(Report.txt)");
  EXPECT_EQ(Count(lines, "(01)... ... ... ... Adition(report.txt)"), 1);
  EXPECT_EQ(OldSnapshot(), Lines{"report.txt 000000000001"});
}

TEST_F(ScanTest, EmptyFolderBothTimesCallsNoHandlerAndLeavesAnEmptySnapshot) {
  Arm("AUDT");
  Lines lines = Scan();
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("MatchingKey"), std::string::npos) << line;
    EXPECT_EQ(line.find("Action"), std::string::npos) << line;
  }
  ASSERT_TRUE(fs::exists(start_.path() / "KSFF01O.txt"));
  EXPECT_EQ(fs::file_size(start_.path() / "KSFF01O.txt"), 0u);
}

TEST_F(ScanTest, EmptiedFolderDeletesEveryFileInKeyOrder) {
  for (const char* name : {"b", "a", "C"}) Write(name, "x");
  Arm("");
  for (const char* name : {"b", "a", "C"}) fs::remove(In(name));
  EXPECT_EQ(Scan(), (Lines{"(01)...      -s- Action(    ):Delete  (C)",
                           "(01)...      -s- Action(    ):Delete  (a)",
                           "(01)...      -s- Action(    ):Delete  (b)"}));
  EXPECT_EQ(OldSnapshot(), Lines{});
}

// Each outcome starts the program only when its flag is set, and the next
// old snapshot is kept the same way with or without flags.
TEST_F(ScanTest, EachOutcomeStartsTheProgramOnlyWithItsFlag) {
  struct Case {
    const char* action;
    int additions, updates, deletions;
  };
  const Case cases[] = {
      {"AUD", 2, 1, 1}, {"A", 2, 0, 0}, {"U", 0, 1, 0}, {"D", 0, 0, 1}, {"X", 0, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    for (const char* name : {"same", "dated", "grown", "gone"}) Write(name, "1234");
    Age("dated", 2);
    Age("grown", 2);
    Age("same", 2);
    Arm(c.action);
    Write("added", "new");
    Age("dated", 1);              // same size, other time: -U
    Write("grown", "123456789");  // other size and time: -A
    fs::remove(In("gone"));       // -D
    Lines lines = Scan();
    EXPECT_EQ(Count(lines, "(01)... ... ... ... Adition(added)") +
                  Count(lines, "(01)... ... ... ... Adition(grown)"),
              c.additions);
    EXPECT_EQ(Count(lines, "(01)... ... ... ... Update(dated)"), c.updates);
    EXPECT_EQ(Count(lines, "(01)... ... ... ... Delete(gone)"), c.deletions);
    EXPECT_EQ(Count(lines, "(01)... ... CreateProcess(Normal complete)"),
              c.additions + c.updates + c.deletions)
        << ::testing::PrintToString(lines);
    EXPECT_EQ(OldSnapshot(), (Lines{"added 000000000003", "dated 000000000004",
                                    "grown 000000000009", "same 000000000004"}));
    EXPECT_EQ(Scan(), Lines{});  // nothing changed since: nothing started
    for (const auto& f : fs::directory_iterator(start_.path() / "in")) fs::remove(f.path());
    os::LockClose(lock_);
    lock_ = 0;
  }
}

TEST_F(ScanTest, SameDateAndTimeWithAnotherSizeIsUnchanged) {
  Write("f", "1234");
  Arm("AUD");
  auto when = fs::last_write_time(In("f"));
  Write("f", "12345678");
  fs::last_write_time(In("f"), when);
  EXPECT_EQ(Scan(), Lines{});
  EXPECT_EQ(OldSnapshot(), Lines{"f 000000000008"});
}

TEST_F(ScanTest, FileCutToZeroIsMetAgainAsAnAddition) {
  Write("z", "12345");
  Age("z", 1);
  Arm("A");
  Write("z", "");
  bool pending = false;
  EXPECT_EQ(Scan(&pending), Lines{"(01)...      -s- Action (A   ):ChangeSize(zero)(z)"});
  EXPECT_TRUE(pending);
  EXPECT_EQ(OldSnapshot(), Lines{});
  Lines again = Scan(&pending);
  EXPECT_FALSE(pending);
  EXPECT_EQ(Count(again, "(01)... ... ... ... Adition(z)"), 1);
  EXPECT_EQ(OldSnapshot(), Lines{"z 000000000000"});
}

// A file that grows while its writer holds it open is marked, and handed on
// once it is free, even when its writer stopped before the marking scan.
TEST_F(ScanTest, SizeChangeWhileInUseIsHandedOnOnceTheFileIsFree) {
  Write("g", "1234");
  Age("g", 1);
  Arm("A");
  bool pending = false;
  {
    std::ofstream writer(In("g"), std::ios::binary | std::ios::app);
    writer << "56789";
    writer.flush();
    EXPECT_EQ(Scan(&pending), Lines{});
    EXPECT_TRUE(pending);
    EXPECT_EQ(OldSnapshot(), Lines{"g -00000000001"});
  }
  Lines lines = Scan(&pending);
  EXPECT_FALSE(pending);
  EXPECT_EQ(Count(lines, "(01)... ... ... ... Adition(g)"), 1);
  EXPECT_EQ(OldSnapshot(), Lines{"g 000000000009"});
  EXPECT_EQ(Scan(), Lines{});
}

TEST_F(ScanTest, LeftoverMergedFileNeverReachesTheNextSnapshot) {
  Write("a", "1");
  Arm("");
  testing::WriteWholeFile(start_.path() / "KSFF01T.txt", std::string(3 * kRecordLength, 'g'));
  Scan();
  EXPECT_EQ(OldSnapshot(), Lines{"a 000000000001"});
}

// An old snapshot damaged on disk: a record of "a" whose fields have lost
// their NULs, then one whose key lies above the high value. The scan ends,
// traces only each field's own bytes and drops the record it cannot place.
TEST_F(ScanTest, DamagedOldSnapshotIsDrainedAndTracedWithinItsFields) {
  Write("a", "1");
  Arm("T");
  std::string damaged = "a" + std::string(kNameLength - 1, ' ') + std::string(1, '\0') +
                        std::string(kCrOffset - kSizeOffset, '9') + "\r\n";
  testing::WriteWholeFile(start_.path() / "KSFF01O.txt",
                          damaged + std::string(kRecordLength, '\xFF'));
  Lines lines = Scan();
  EXPECT_EQ(Count(lines,
                  "(01)... ... ... Old FileName(a) (Size:999999999999) (Date:9999999999) "
                  "(Time:99999999)"),
            1);
  EXPECT_EQ(OldSnapshot(), Lines{"a 000000000001"});
}

TEST_F(ScanTest, MissingOldSnapshotMakesEveryFileAnAddition) {
  Write("a", "1");
  Write("b", "2");
  Arm("A");
  fs::remove(start_.path() / "KSFF01O.txt");
  Lines lines = Scan();
  EXPECT_EQ(Count(lines, "(01)... ... ... ... Adition(a)"), 1);
  EXPECT_EQ(Count(lines, "(01)... ... ... ... Adition(b)"), 1);
}

TEST_F(ScanTest, WithoutItsLockTheScanRunsAndSaysSo) {
  Write("a", "1");
  Arm("D");
  os::LockClose(lock_);
  lock_ = 0;
#ifndef _WIN32
  fs::remove(start_.path() / "KSFF01.lock");  // a named mutex goes with its last handle
#endif
  fs::remove(In("a"));
  Lines lines = Scan();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "(01)...      -e- error(FALSE OpenMutex) -error. -error.");
  EXPECT_EQ(lines[1], "(01)...      -s- Action(  D ):Delete  (a)");
}

TEST_F(ScanTest, ProbeOfAVanishedFileReportsItInUseAndDoesNotRecreateIt) {
  Arm("AT");
  unsigned char probe[kRecordLength];
  EXPECT_TRUE(CheckNowAddUse(1, folder_.c_str(), "gone.dat", probe));
  EXPECT_FALSE(fs::exists(In("gone.dat")));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(probe) + kSizeOffset), "000000000000");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(probe) + kDateOffset), "0000-00-00");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(probe) + kTimeOffset), "00:00:00");
  Lines lines = Scan();
  ASSERT_EQ(lines.size(), 7u);  // the probe's, then ENQ, listing and DEQ trace lines
  EXPECT_EQ(lines[0], "(01)...      -s- CheckNowAddUse(gone.dat) Now used.");
}

TEST_F(ScanTest, ProbePathTooLongIsInUseAndLogged) {
  Arm("A");
  std::string name(kNameLength, 'n');
  std::string folder(250, 'f');
  unsigned char probe[kRecordLength];
  EXPECT_TRUE(CheckNowUse(1, folder.c_str(), name.c_str(), probe));
  Lines lines = Scan();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "(01)...      -s- CheckNowUse(" + name + ") Path too long.");
}

TEST(NextWaitLimitTest, OneSecondAfterANotificationThenDoublingToAMinute) {
  EXPECT_EQ(NextWaitLimit(-1, false, false), -1);
  EXPECT_EQ(NextWaitLimit(8000, true, false), -1);
  EXPECT_EQ(NextWaitLimit(-1, false, true), 1000);
  EXPECT_EQ(NextWaitLimit(8000, false, true), 1000);
  int limit = NextWaitLimit(-1, false, true);
  std::vector<int> seen;
  for (int i = 0; i < 8; ++i) seen.push_back(limit = NextWaitLimit(limit, true, true));
  EXPECT_EQ(seen, (std::vector<int>{2000, 4000, 8000, 16000, 32000, 64000, 64000, 64000}));
}

}  // namespace
}  // namespace wendrake
