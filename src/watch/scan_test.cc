// The matching and the outcomes, driven through whole scans of real folders.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>

#include "watch/outcomes.h"
#include "watch/scan_fixture_test.h"

namespace wendrake {
namespace {

const std::string kAt = "(01)...      ";

class ScanTest : public ScanFixture {
 protected:
  // One file of each outcome, in a folder armed with `action`: kept,
  // deleted, re-dated (-U), grown (-A), cut to zero, rewritten at the same
  // time (unchanged), and "C", added, which the unsigned key sorts first.
  // A merged file left by an earlier run must not leak into the snapshot.
  void ChangeOneOfEach(const char* action) {
    for (const auto& f : fs::directory_iterator(In(""))) fs::remove(f.path());
    for (const char* name : {"a", "dated", "grown", "same", "zero", "zz"}) Write(name, "1234");
    for (const char* name : {"dated", "grown", "zero"}) Age(name, 2);
    Arm(action);
    testing::WriteWholeFile(At("KSFF01T.txt"), std::string(9 * kRecordLength, 'g'));
    fs::remove(In("zz"));
    Age("dated", 1);
    Write("grown", "123456789");
    Write("zero", "");
    auto when = fs::last_write_time(In("same"));
    Write("same", "12345678");
    fs::last_write_time(In("same"), when);
    Write("C", "new");
  }

  // Appends the lines of one start of the program for `name`.
  void Started(Lines& lines, const std::string& word, const std::string& name,
               const std::string& flag) const {
    lines.insert(
        lines.end(),
        {"(01)... ... ... ... " + word + "(" + name + ")",
         "(01)... ... CreateProcess(Normal complete)", "(01)... ... ... Folder(" + folder_ + ")",
         "(01)... ... ... Execute(" + testing::HelperProgram("open_probe") + ")",
         "(01)... ... ... Argument(\"" + folder_ + os::kPathSeparator + name + "\" " + flag + ")",
         "(01)... ... ... Current(" + start_.str() + ")", ""});
  }
};

// The dates and times of the trace differ per run; they are masked.
Lines Masked(Lines lines) {
  for (std::string& line : lines) {
    for (const char* label : {"Date:", "Time:"}) {
      for (std::size_t at = line.find(label); at != std::string::npos;
           at = line.find(label, at + 1)) {
        line.replace(at + 5, line.find(')', at) - at - 5, "*");
      }
    }
  }
  return lines;
}

TEST_F(ScanTest, EveryOutcomeWithTheFullTrace) {
  ChangeOneOfEach("AUDT");
  Lines expected = {
      kAt + "-s- ENQ(KSFF01) OpenMutex",        kAt + "-e- ENQ(ok)",
      kAt + "Scanning folder(" + folder_ + ")", "(01)...              TemFile(KSFF01N.txt)",
      kAt + "MatchingKey  OLD(a) NEW(C)",       kAt + "-s- CheckNowAddUse(C) non use.",
      kAt + "-s- CheckNowAddUse(Size:3)",       kAt + "-s- CheckNowAddUse(UDate:*)",
      kAt + "-s- CheckNowAddUse(UTime:*)",      kAt + "-s- Action(AUDT):Addition (C)"};
  Started(expected, "Adition", "C", "-A");
  expected.insert(
      expected.end(),
      {kAt + "MatchingKey  OLD(a) NEW(a)", kAt + "-s- Action (AUDT):NonChanged(a)",
       kAt + "MatchingKey  OLD(dated) NEW(dated)",
       "(01)... ... ... Old FileName(dated) (Size:000000000004) (Date:*) (Time:*)",
       "(01)... ... ... New FileName(dated) (Size:000000000004) (Date:*) (Time:*)",
       kAt + "-s- CheckNowUse(dated) non use.", kAt + "-s- Action (AUDT):ChangeDate(dated)"});
  Started(expected, "Update", "dated", "-U");
  expected.insert(
      expected.end(),
      {kAt + "MatchingKey  OLD(grown) NEW(grown)",
       "(01)... ... ... Old FileName(grown) (Size:000000000004) (Date:*) (Time:*)",
       "(01)... ... ... New FileName(grown) (Size:000000000009) (Date:*) (Time:*)",
       kAt + "-s- CheckNowUse(grown) non use.", kAt + "-s- Action (AUDT):ChangeSize(---)(grown)"});
  Started(expected, "Adition", "grown", "-A");
  expected.insert(
      expected.end(),
      {kAt + "MatchingKey  OLD(same) NEW(same)", kAt + "-s- Action (AUDT):NonChanged(same)",
       kAt + "MatchingKey  OLD(zero) NEW(zero)",
       "(01)... ... ... Old FileName(zero) (Size:000000000004) (Date:*) (Time:*)",
       "(01)... ... ... New FileName(zero) (Size:000000000000) (Date:*) (Time:*)",
       kAt + "-s- Action (AUDT):ChangeSize(zero)(zero)", kAt + "MatchingKey  OLD(zz) NEW(-high-)",
       kAt + "-s- Action(AUDT):Delete  (zz)"});
  Started(expected, "Delete", "zz", "-D");
  expected.insert(expected.end(), {kAt + "-s- DEQ(KSFF01) ReleaseMutex", kAt + "-e- DEQ(ok)"});
  EXPECT_EQ(Masked(Scan()), expected);
}

// The snapshot files each scan of a run of changes leaves: the old one holds
// the records of the files handed on, byte for byte those of a listing of
// the folder once nothing is pending, and nothing of a longer snapshot
// before it or of what the other two held; those two wait there empty.
TEST_F(ScanTest, EachScanLeavesTheOldSnapshotAsTheListingAndTheOthersEmpty) {
  for (const char* name : {"a", "b", "c"}) Write(name, name);
  Arm("AD");
  testing::WriteWholeFile(At("KSFF01N.txt"), std::string(20 * kRecordLength, 'n'));
  testing::WriteWholeFile(At("KSFF01T.txt"), std::string(20 * kRecordLength, 't'));
  std::ofstream holder;
  const struct {
    std::function<void()> change;
    Lines old;  // empty: the folder's own listing, nothing pending
  } steps[] = {
      {[&] { Write("d", "dddd"); }, {}},
      {[&] { Write("b", "bbbbbbb"), fs::remove(In("c")), fs::remove(In("d")); }, {}},
      {[&] { holder.open(In("e")), holder << "eee" << std::flush; },
       {"a 000000000001", "b 000000000007"}},
      {[&] { holder.close(); }, {}},
      {[&] { fs::remove_all(In("")), fs::create_directory(In("")); }, {}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(&step - steps);
    step.change();
    bool pending = false;
    Scan(&pending);
    EXPECT_EQ(pending, !step.old.empty());
    if (pending) {
      EXPECT_EQ(OldSnapshot(), step.old);
    } else {
      PutFileNamesInDir(1, "listing.txt", folder_.c_str());
      EXPECT_EQ(testing::ReadWholeFile(At("KSFF01O.txt")), testing::ReadWholeFile("listing.txt"));
    }
    EXPECT_EQ(testing::ReadWholeFile(At("KSFF01N.txt")) + testing::ReadWholeFile(At("KSFF01T.txt")),
              "");
  }
}

// Without T only the deletion and the cut to zero are logged, besides the
// starts; the file cut to zero is pending and met again as an addition;
// then the records are those the probes and the listing agree on.
TEST_F(ScanTest, EachOutcomeStartsTheProgramOnlyWithItsFlag) {
  for (auto [action, flags] : {std::pair<const char*, std::string>{"", "    "},
                               {"A", "A   "},
                               {"U", " U  "},
                               {"D", "  D "}}) {
    SCOPED_TRACE(action);
    ChangeOneOfEach(action);
    const std::string with = action;
    Lines expected, again;
    if (with == "A") Started(expected, "Adition", "C", "-A");
    if (with == "U") Started(expected, "Update", "dated", "-U");
    if (with == "A") Started(expected, "Adition", "grown", "-A");
    expected.push_back(kAt + "-s- Action (" + flags + "):ChangeSize(zero)(zero)");
    expected.push_back(kAt + "-s- Action(" + flags + "):Delete  (zz)");
    if (with == "D") Started(expected, "Delete", "zz", "-D");
    if (with == "A") Started(again, "Adition", "zero", "-A");
    bool pending = false;
    EXPECT_EQ(Scan(&pending), expected);
    EXPECT_TRUE(pending);
    EXPECT_EQ(Scan(&pending), again);
    EXPECT_FALSE(pending);
    EXPECT_EQ(Scan(), Lines{});
    EXPECT_EQ(OldSnapshot(),
              (Lines{"C 000000000003", "a 000000000004", "dated 000000000004", "grown 000000000009",
                     "same 000000000008", "zero 000000000000"}));
  }
}

// A file another handle holds open: a copy in progress, a complete file
// only a reader has open, one grown while held (with or without a new time
// after the close), one re-dated while held. Each is left pending, out of
// the snapshot, with the in-use size mark or with its old record, and once
// closed it is handed on once: grown or new as an addition, re-dated as an
// update.
TEST_F(ScanTest, FileHeldOpenIsHandedOnOnceAfterItIsClosed) {
  const std::string inUse = kAt + "-s- File addition. (f) in use.";
  const struct {
    bool there;           // "1234", two hours old, when armed
    const char* written;  // appended by the holder; none: it only reads
    int agedWhileHeld, agedAfter;
    Lines held, heldSnapshot;
    const char* size;
    const char* started = "Adition";
  } cases[] = {
      {false, "12345", 0, 0, {inUse}, {}, "000000000005"},
      {false, nullptr, 0, 0, {inUse}, {}, "000000000004"},
      {true, "5678", 0, 0, {}, {"f -00000000001"}, "000000000008"},
      {true, "5678", 0, 1, {}, {"f -00000000001"}, "000000000008"},
      {true,
       nullptr,
       1,
       0,
       {kAt + "-s- Action (AU  ):Logical error(f)"},
       {"f 000000000004"},
       "000000000004",
       "Update"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    fs::remove(In("f"));
    if (c.there) {
      Write("f", "1234");
      Age("f", 2);
    }
    Arm("AU");
    if (!c.there && c.written == nullptr) Write("f", "1234");
    std::fstream holder(In("f"),
                        c.written != nullptr ? std::ios::out | std::ios::app : std::ios::in);
    if (c.written != nullptr) holder << c.written << std::flush;
    if (c.agedWhileHeld != 0) Age("f", c.agedWhileHeld);
    bool pending = false;
    EXPECT_EQ(Scan(&pending), c.held);
    EXPECT_TRUE(pending);
    EXPECT_EQ(OldSnapshot(), c.heldSnapshot);
    holder.close();
    if (c.agedAfter != 0) Age("f", c.agedAfter);
    Lines lines = Scan(&pending);
    EXPECT_FALSE(pending);
    EXPECT_EQ(Count(lines, "(01)... ... ... ... " + std::string(c.started) + "(f)"), 1);
    EXPECT_EQ(Count(lines, "(01)... ... CreateProcess(Normal complete)"), 1);
    EXPECT_EQ(OldSnapshot(), Lines{std::string("f ") + c.size});
    EXPECT_EQ(Scan(), Lines{});
  }
}

// Surroundings a scan must survive: its lock gone, and an old snapshot
// damaged on disk (a record of "a" whose fields have lost their NULs, then
// one whose key lies above the high value). The scan runs and says so,
// ends, traces only each field's own bytes and drops what it cannot place.
TEST_F(ScanTest, ScanWithoutItsLockOverADamagedOldSnapshotEnds) {
  Write("a", "1");
  Arm("T");
  os::LockClose(lock_);
  lock_ = os::kInvalidHandle;
#ifndef _WIN32
  fs::remove(At("KSFF01.lock"));  // a named mutex goes with its last handle
#endif
  std::string damaged = "a" + std::string(kNameLength - 1, ' ') + std::string(1, '\0') +
                        std::string(kCrOffset - kSizeOffset, '9') + "\r\n";
  testing::WriteWholeFile(At("KSFF01O.txt"), damaged + std::string(kRecordLength, '\xFF'));
  Lines lines = Scan();
  EXPECT_EQ(Count(lines, kAt + "-e- error(FALSE OpenMutex) -error. -error."), 1);
  EXPECT_EQ(Count(lines,
                  "(01)... ... ... Old FileName(a) (Size:999999999999) "
                  "(Date:9999999999) (Time:99999999)"),
            1);
  EXPECT_EQ(OldSnapshot(), Lines{"a 000000000001"});
}

#ifndef _WIN32
// A listing that cannot reach the disk (a full one) gives the scan up with
// its line and leaves the old snapshot as it was: matched, it would report
// every file there as deleted. The scan is tried again later.
TEST_F(ScanTest, ListingThatCannotBeWrittenReportsNothing) {
  Write("a", "1");
  Arm("AD");
  fs::create_symlink("/dev/full", At("KSFF01N.txt"));
  bool pending = false;
  Lines lines = Scan(&pending);
  EXPECT_TRUE(pending);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("(01)... PutFileNamesInDir. Write error(KSFF01N.txt) Error(", 0), 0u);
  EXPECT_EQ(OldSnapshot(), Lines{"a 000000000001"});
}
#endif

// A file gone or replaced by a folder between listing and probe is not
// free, and the probe makes nothing; a path that would not fit is never
// cut to name another file.
TEST_F(ScanTest, ProbeOfAFileItCannotHaveCallsItInUse) {
  Arm("AT");
  fs::create_directory(In("sub"));
  unsigned char probe[kRecordLength];
  EXPECT_TRUE(CheckNowAddUse(EntryAt(1), "gone.dat", probe));
  EXPECT_TRUE(CheckNowAddUse(EntryAt(1), "sub", probe));
  ThreadControlEntry farAway = EntryAt(1);
  std::snprintf(farAway.folder, sizeof farAway.folder, "%s", std::string(255, 'f').c_str());
  EXPECT_TRUE(CheckNowUse(farAway, "name", probe));
  EXPECT_FALSE(fs::exists(In("gone.dat")));
  Lines lines = Scan();
  lines.resize(3);
  EXPECT_EQ(lines, (Lines{kAt + "-s- CheckNowAddUse(gone.dat) Now used.",
                          kAt + "-s- CheckNowAddUse(sub) Now used.",
                          kAt + "-s- CheckNowUse(name) Path too long."}));
}

}  // namespace
}  // namespace wendrake
