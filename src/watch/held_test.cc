// Scans of files that another process holds open: real holder processes,
// whole scans, and the old snapshot that each scan leaves for the next.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "config/thread_control.h"
#include "log/log.h"
#include "test_util.h"
#include "watch/scan_fixture_test.h"
#include "watch/snapshot.h"
#include "watch/watcher.h"

namespace wendrake {
namespace {

using testing::PollUntil;

class HeldFileTest : public ScanFixture {
 protected:
  ~HeldFileTest() override { Release(); }

  // Another process opens the file in `mode` (file_holder) and keeps it
  // open until Release.
  void Hold(const std::string& mode, const std::string& name) {
    holder_ = testing::StartHelper(
        "file_holder", {mode, In(name).string(), At("held").string(), At("release").string()});
    ASSERT_NE(holder_.id, 0);
    ASSERT_TRUE(PollUntil([&] { return fs::exists(At("held")); }));
  }

  void Release() {
    if (holder_.id == 0) return;
    testing::WriteWholeFile(At("release"), "");
    EXPECT_EQ(testing::WaitHelper(holder_), 0);
    fs::remove(At("held"));
    fs::remove(At("release"));
  }

  testing::HelperProcess holder_;
};

// A copy in progress, and a file that only a reader has open: both stay out
// of the snapshot, pending, while held, and are added once after the close.
TEST_F(HeldFileTest, FileHeldAtItsAdditionIsAddedOnceAfterItIsClosed) {
  for (std::string mode : {"create", "write", "read"}) {
    SCOPED_TRACE(mode);
    Arm("A");
    if (mode != "create") testing::WriteWholeFile(In("f.dat"), "12345");
    Hold(mode, "f.dat");
    bool pending = false;
    for (int scan = 0; scan < 2; ++scan) {
      EXPECT_EQ(Scan(&pending), Lines{"(01)...      -s- File addition. (f.dat) in use."});
      EXPECT_TRUE(pending);
      EXPECT_EQ(OldSnapshot(), Lines{});
    }
    Release();
    Lines lines = Scan(&pending);
    EXPECT_FALSE(pending);
    EXPECT_EQ(Count(lines, "(01)... ... ... ... Adition(f.dat)"), 1);
    EXPECT_EQ(Count(lines, "(01)... ... CreateProcess(Normal complete)"), 1);
    // The record is the probe's, made after the close: the final size.
    char size[16];
    std::snprintf(size, sizeof size, "%012d", static_cast<int>(fs::file_size(In("f.dat"))));
    EXPECT_EQ(OldSnapshot(), Lines{std::string("f.dat ") + size});
    EXPECT_EQ(Scan(&pending), Lines{});
    fs::remove(In("f.dat"));
    os::LockClose(lock_);
    lock_ = 0;
  }
}

// Grown while held: recorded with the in-use size mark and left pending,
// and handed on as a size change ("-A") once free, whether its date and
// time moved again after the close or not.
TEST_F(HeldFileTest, FileGrownWhileHeldCarriesTheInUseMarkUntilItIsFree) {
  for (bool changedAgain : {true, false}) {
    SCOPED_TRACE(changedAgain ? "changed again" : "left as it is");
    testing::WriteWholeFile(In("g.dat"), "1234");
    Age("g.dat", 2);
    Arm("AU");
    Hold("write", "g.dat");  // appends four bytes: another size, another time
    bool pending = false;
    EXPECT_EQ(Scan(&pending), Lines{});
    EXPECT_TRUE(pending);
    EXPECT_EQ(OldSnapshot(), Lines{"g.dat -00000000001"});
    Release();

    if (changedAgain) Age("g.dat", 1);  // the size the held file had
    Lines lines = Scan(&pending);
    EXPECT_FALSE(pending);
    EXPECT_EQ(Count(lines, "(01)... ... ... ... Adition(g.dat)"), 1);
    EXPECT_EQ(Count(lines, "(01)... ... ... ... Update(g.dat)"), 0);
    EXPECT_EQ(OldSnapshot(), Lines{"g.dat 000000000008"});
    EXPECT_EQ(Scan(&pending), Lines{});
    fs::remove(In("g.dat"));
    os::LockClose(lock_);
    lock_ = 0;
  }
}

// A new time at the same size while a reader holds the file: nothing is
// recorded, and once free the file comes back as an addition, not "-U".
TEST_F(HeldFileTest, DateChangedWhileHeldIsALogicalErrorAndThenAnAddition) {
  testing::WriteWholeFile(In("d.dat"), "1234");
  Arm("AU");
  Hold("read", "d.dat");
  Age("d.dat", 1);
  bool pending = false;
  EXPECT_EQ(Scan(&pending), Lines{"(01)...      -s- Action (AU  ):Logical error(d.dat)"});
  EXPECT_TRUE(pending);
  EXPECT_EQ(OldSnapshot(), Lines{});
  Release();
  Lines lines = Scan(&pending);
  EXPECT_FALSE(pending);
  EXPECT_EQ(Count(lines, "(01)... ... ... ... Adition(d.dat)"), 1);
  EXPECT_EQ(Count(lines, "(01)... ... ... ... Update(d.dat)"), 0);
  EXPECT_EQ(OldSnapshot(), Lines{"d.dat 000000000004"});
}

}  // namespace
}  // namespace wendrake
