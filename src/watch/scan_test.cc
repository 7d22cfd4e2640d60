// The matching and the outcomes, driven through whole scans of real folders.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>

#include "watch/outcomes.h"
#include "watch/scan_fixture_test.h"

namespace wendrake {
namespace {

const std::string kAt = "(01)...      ";

Lines operator+(Lines lines, const Lines& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

// The dates and times of the trace differ per run; they are masked.
Lines Masked(Lines lines) {
  for (std::string& line : lines)
    line = std::regex_replace(line, std::regex("(Date:|Time:)[^)]*"), "$1*");
  return lines;
}

class ScanTest : public ScanFixture {
 protected:
  // One file of each outcome, in a folder armed with `action`: kept,
  // deleted, re-dated (-U), grown (-A), cut to zero, rewritten to another
  // size within the same second of its time stamp (-A: a one-second stamp
  // cannot tell that write apart, its size can), and "C", added, which the
  // unsigned key sorts first;
  // and two held open by another handle while they change: one grown, which
  // the snapshot keeps with the in-use size mark, and one re-dated, which it
  // keeps with its old record, so that each is handed on once when free.
  // A merged file left by an earlier run must not leak into the snapshot.
  void ChangeOneOfEach(const char* action) {
    for (const auto& f : fs::directory_iterator(In(""))) fs::remove(f.path());
    for (const char* name : {"a", "dated", "growing", "grown", "redated", "same", "zero", "zz"})
      Write(name, "1234");
    for (const char* name : {"dated", "growing", "grown", "zero"}) Age(name, 2);
    Arm(action);
    testing::WriteWholeFile("KSFF01T.txt", std::string(9 * kRecordLength, 'g'));
    fs::remove(In("zz"));
    Age("dated", 1);
    Write("grown", "123456789");
    Write("zero", "");
    auto when = fs::last_write_time(In("same"));
    Write("same", "12345678");
    fs::last_write_time(In("same"), when);
    Write("C", "new");
    growing_.open(In("growing"), std::ios::app);
    growing_ << "5678" << std::flush;
    redated_.open(In("redated"));
    Age("redated", 1);
  }

  // The lines of one start of the program for `name`; none when the
  // armed action lacks the flag's letter.
  Lines Started(const std::string& word, const std::string& name, const std::string& flag) const {
    if (action_.find(flag[1]) == std::string::npos) return {};
    return {
        "(01)... ... ... ... " + word + "(" + name + ")",
        "(01)... ... CreateProcess(Normal complete)",
        "(01)... ... ... Folder(" + folder_ + ")",
        "(01)... ... ... Execute(" + testing::HelperProgram("open_probe") + ")",
        "(01)... ... ... Argument(\"" + folder_ + os::kPathSeparator + name + "\" " + flag + ")",
        "(01)... ... ... Current(" + start_.str() + ")",
        ""};
  }

  // The trace of a file in both snapshots whose date or size has moved.
  static Lines Moved(const std::string& name, const char* oldSize, const char* newSize) {
    const std::string fields = ") (Date:*) (Time:*)";
    return {kAt + "MatchingKey  OLD(" + name + ") NEW(" + name + ")",
            "(01)... ... ... Old FileName(" + name + ") (Size:00000000000" + oldSize + fields,
            "(01)... ... ... New FileName(" + name + ") (Size:00000000000" + newSize + fields};
  }

  std::ofstream growing_;
  std::ifstream redated_;
};

TEST_F(ScanTest, EveryOutcomeWithTheFullTrace) {
  ChangeOneOfEach("AUDT");
  const Lines expected =
      Lines{kAt + "-s- ENQ(KSFF01) OpenMutex",        kAt + "-e- ENQ(ok)",
            kAt + "Scanning folder(" + folder_ + ")", "(01)...              TemFile(KSFF01N.txt)",
            kAt + "MatchingKey  OLD(a) NEW(C)",       kAt + "-s- CheckNowAddUse(C) non use.",
            kAt + "-s- CheckNowAddUse(Size:3)",       kAt + "-s- CheckNowAddUse(UDate:*)",
            kAt + "-s- CheckNowAddUse(UTime:*)",      kAt + "-s- Action(AUDT):Addition (C)"} +
      Started("Adition", "C", "-A") +
      Lines{kAt + "MatchingKey  OLD(a) NEW(a)", kAt + "-s- Action (AUDT):NonChanged(a)"} +
      Moved("dated", "4", "4") +
      Lines{kAt + "-s- CheckNowUse(dated) non use.", kAt + "-s- Action (AUDT):ChangeDate(dated)"} +
      Started("Update", "dated", "-U") + Moved("growing", "4", "8") +
      Lines{kAt + "-s- CheckNowUse(growing) Now used.",
            kAt + "-s- Action (AUDT):ChangeSize(Use)(growing)"} +
      Moved("grown", "4", "9") +
      Lines{kAt + "-s- CheckNowUse(grown) non use.",
            kAt + "-s- Action (AUDT):ChangeSize(---)(grown)"} +
      Started("Adition", "grown", "-A") + Moved("redated", "4", "4") +
      Lines{kAt + "-s- CheckNowUse(redated) Now used.",
            kAt + "-s- Action (AUDT):Logical error(redated)"} +
      Moved("same", "4", "8") +
      Lines{kAt + "-s- CheckNowUse(same) non use.",
            kAt + "-s- Action (AUDT):ChangeSize(---)(same)"} +
      Started("Adition", "same", "-A") + Moved("zero", "4", "0") +
      Lines{kAt + "-s- Action (AUDT):ChangeSize(zero)(zero)",
            kAt + "MatchingKey  OLD(zz) NEW(-high-)", kAt + "-s- Action(AUDT):Delete  (zz)"} +
      Started("Delete", "zz", "-D") +
      Lines{kAt + "-s- DEQ(KSFF01) ReleaseMutex", kAt + "-e- DEQ(ok)"};
  EXPECT_EQ(Masked(Scan()), expected);
}

// Without T only the re-dated held file, the cut to zero and the deletion
// are logged besides the starts, each start made only with its own flag.
// The held files and the file cut to zero are pending; once the handles
// are gone each is handed on once, the one cut to zero as an addition, and
// the old snapshot holds the records the probes and the listing agree on.
TEST_F(ScanTest, EachOutcomeStartsTheProgramOnlyWithItsFlag) {
  for (const char* action : {"", "A", "U", "D"}) {
    SCOPED_TRACE(action);
    ChangeOneOfEach(action);
    const std::string flags = EntryAt(1).actionFlags;
    const Lines logged = {kAt + "-s- Action (" + flags + "):Logical error(redated)",
                          kAt + "-s- Action (" + flags + "):ChangeSize(zero)(zero)",
                          kAt + "-s- Action(" + flags + "):Delete  (zz)"};
    EXPECT_EQ(Scan(), (Started("Adition", "C", "-A") + Started("Update", "dated", "-U") +
                       Started("Adition", "grown", "-A") + Lines{logged[0]} +
                       Started("Adition", "same", "-A") + Lines{logged[1], logged[2]} +
                       Started("Delete", "zz", "-D")));
    EXPECT_EQ(Lines(left_.names, left_.names + left_.count), (Lines{"growing", "redated", "zero"}));
    growing_.close();
    redated_.close();
    // Free right after they were in use, the held files wait a moment, in
    // case their writer renames or deletes them now.
    EXPECT_EQ(Scan(), Lines{logged[0]} + Started("Adition", "zero", "-A"));
    EXPECT_TRUE(pending_);
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
    EXPECT_EQ(Scan(), Started("Adition", "growing", "-A") + Started("Update", "redated", "-U"));
    EXPECT_FALSE(pending_);
    EXPECT_EQ(Scan(), Lines{});
    EXPECT_EQ(OldSnapshot(),
              (Lines{"C 000000000003", "a 000000000004", "dated 000000000004",
                     "growing 000000000008", "grown 000000000009", "redated 000000000004",
                     "same 000000000008", "zero 000000000000"}));
  }
}

// The snapshot files each scan of a run of changes leaves, and what it
// starts: the old one holds the records of the files handed on, byte for
// byte those of a listing of the folder once nothing is pending, and
// nothing of a longer snapshot before it or of what the other two held;
// those two wait there empty. A file still being written is left out and
// pending on its own; one cut to zero is kept with the emptied mark, so
// that its deletion is still reported. A listing that cannot reach the
// disk leaves the old snapshot as it was and the scan pending: matched, it
// would report every file there as deleted. A merged snapshot that cannot
// (a folder in its way) is kept in memory, so that its starts are not
// made again. An old snapshot gone or damaged makes the listing the
// baseline, reporting nothing.
TEST_F(ScanTest, EachScanLeavesTheOldSnapshotAsTheListingAndTheOthersEmpty) {
  for (const char* name : {"a", "b", "c"}) Write(name, name);
  Arm("AD");
  for (const char* name : {"KSFF01N.txt", "KSFF01T.txt"})
    testing::WriteWholeFile(name, std::string(20 * kRecordLength, 'x'));
  std::ofstream holder;
  const Lines held = {"a 000000000001", "b 000000000007", "f 000000000001"};
  const struct {
    std::function<void()> change;
    Lines started;
    Lines old;  // empty: the folder's own listing, nothing pending
  } steps[] = {
      {[&] { Write("d", "dddd"); }, {"Adition(d)"}, {}},
      {[&] { Write("b", "bbbbbbb"), fs::remove(In("c")), fs::remove(In("d")); },
       {"Adition(b)", "Delete(c)", "Delete(d)"},
       {}},
#ifndef _WIN32
      {[&] { fs::remove("KSFF01N.txt"), fs::create_symlink("/dev/full", "KSFF01N.txt"); },
       {},
       {"a 000000000001", "b 000000000007"}},
#endif
      {[&] { fs::remove("KSFF01T.txt"), fs::create_directory("KSFF01T.txt"), Write("f", "f"); },
       {"Adition(f)"},
       {"a 000000000001", "b 000000000007"}},
      {[&] { fs::remove("KSFF01T.txt"); }, {}, {}},
      {[&] { holder.open(In("e")), holder << "eee" << std::flush; }, {}, held},
      {[&] { holder.close(); }, {}, held},  // settling
      {[&] { std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs)); },
       {"Adition(e)"},
       {}},
      {[&] { Write("b", ""), Age("b", 1); },
       {},
       {"a 000000000001", "b -00000000002", "e 000000000003", "f 000000000001"}},
      {[&] { fs::remove(In("b")); }, {"Delete(b)"}, {}},
      {[&] { fs::remove("KSFF01O.txt"), Write("g", "g"); }, {}, {}},
      {[&] {
         std::string old = testing::ReadWholeFile("KSFF01O.txt");
         testing::WriteWholeFile("KSFF01O.txt", old.insert(kRecordLength + 10, "garbage"));
       },
       {},
       {}},
      {[&] { fs::remove_all(In("")), fs::create_directory(In("")); },
       {"Delete(a)", "Delete(e)", "Delete(f)", "Delete(g)"},
       {}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(&step - steps);
    step.change();
    Lines started;
    for (const std::string& line : Scan()) {
      if (line.rfind("(01)... ... ... ... ", 0) == 0) started.push_back(line.substr(20));
    }
    EXPECT_EQ(started, step.started);
    EXPECT_EQ(pending_, !step.old.empty());
    if (pending_) {
      EXPECT_EQ(OldSnapshot(), step.old);
    } else {
      PutFileNamesInDir(1, "listing.txt", folder_.c_str());
      EXPECT_EQ(testing::ReadWholeFile("KSFF01O.txt"), testing::ReadWholeFile("listing.txt"));
    }
    EXPECT_EQ(testing::ReadWholeFile("KSFF01N.txt") + testing::ReadWholeFile("KSFF01T.txt"), "");
  }
}

// What a scan must survive: its lock gone, an old snapshot damaged on disk
// (a record of "a" whose fields have lost their NULs, then one whose key
// lies above the high value), and files its probes cannot have: one gone,
// a folder, and a path of 260 bytes, which Windows cannot open and never
// cuts to name another file, while Linux probes it whole.
// The scan runs and says so, ends, and hands no damaged record to an
// outcome: the folder as listed is the baseline. The probes make nothing,
// and call the gone files gone and the others in use.
TEST_F(ScanTest, ScanOverWhatItCannotUseEnds) {
  Write("a", "1");
  Arm("T");
  os::LockClose(lock_);
  lock_ = os::kInvalidHandle;
#ifndef _WIN32
  fs::remove("KSFF01.lock");  // a named mutex goes with its last handle
#endif
  std::string damaged = "a" + std::string(kNameLength - 1, ' ') + std::string(1, '\0') +
                        std::string(kCrOffset - kSizeOffset, '9') + "\r\n";
  testing::WriteWholeFile("KSFF01O.txt", damaged + std::string(kRecordLength, '\xFF'));
  fs::create_directory(In("sub"));
  unsigned char probe[kRecordLength];
  CheckNowAddUse(EntryAt(1), "gone.dat", probe);
  CheckNowAddUse(EntryAt(1), "sub", probe);
  ThreadControlEntry farAway = EntryAt(1);
  std::snprintf(farAway.folder, sizeof farAway.folder, "%s", std::string(255, 'f').c_str());
  CheckNowUse(farAway, "name", probe);
#ifdef _WIN32
  const std::string farAwayLine = kAt + "-s- CheckNowUse(name) Path too long.";
#else
  const std::string farAwayLine = kAt + "-s- CheckNowUse(name) gone.";
#endif
  Lines lines = Scan();
  EXPECT_EQ(lines.at(6),
            "(01)... Old snapshot damaged(KSFF01O.txt) Record(1) -the folder as listed now is the "
            "baseline; nothing reported.");
  EXPECT_EQ(lines.size(), 11u) << ::testing::PrintToString(lines);
  lines.resize(5);
  EXPECT_EQ(lines, (Lines{kAt + "-s- CheckNowAddUse(gone.dat) gone.",
                          kAt + "-s- CheckNowAddUse(sub) Now used.", farAwayLine,
                          kAt + "-s- ENQ(KSFF01) OpenMutex",
                          kAt + "-e- error(FALSE OpenMutex) -error. -error."}));
  EXPECT_EQ(OldSnapshot(), Lines{"a 000000000001"});
}

}  // namespace
}  // namespace wendrake
