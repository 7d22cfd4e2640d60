#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

namespace fs = std::filesystem;
using os::WaitResult;
using testing::WriteWholeFile;

// Changes wake the wait, and so does one made during the scan that follows
// a wake-up; what came before the wake-up does not wake it again. Reads
// and the in-use probe do not wake it, or every scan would start another.
// On Linux a wake made only by writes through a handle still open says so,
// and names the file; a close after writing is another change.
TEST(ChangeWatchTest, ChangesWakeTheWaitAlsoDuringTheScanButReadsDoNot) {
  std::ofstream held;
  const struct {
    std::function<void(const fs::path&)> make;
    bool wakes;
    bool onlyWrites = false;
  } changes[] = {
      {[](const fs::path& d) { WriteWholeFile(d / "new.txt", "new"); }, true},
      {[](const fs::path& d) { std::ofstream(d / "old.txt", std::ios::app) << "more"; }, true},
      {[&held](const fs::path& d) {
         held.open(d / "old.txt", std::ios::app);
         held << "more" << std::flush;
       },
       true, true},
      {[](const fs::path& d) { fs::remove(d / "old.txt"); }, true},
      {[](const fs::path& d) { fs::rename(d / "old.txt", d / "new.txt"); }, true},
      {[](const fs::path& d) { testing::ReadWholeFile(d / "old.txt"); }, false},
      {[](const fs::path& d) {
         os::ProbeInfo info;
         EXPECT_EQ(os::ProbeExclusive((d / "old.txt").string().c_str(), &info),
                   os::ProbeResult::kFree);
       },
       false},
  };
  int round = 0;
  for (const auto& [make, wakes, onlyWrites] : changes) {
    SCOPED_TRACE(round++);
    testing::ScopedTempDir dir;
    WriteWholeFile(dir.path() / "old.txt", "old");
    os::Handle watch = os::ChangeWatchOpen(dir.str().c_str());
    ASSERT_NE(watch, os::kInvalidHandle);
    make(dir.path());
    if (!wakes) {
      EXPECT_EQ(os::ChangeWatchWait(watch, 300), WaitResult::kTimeout);
    } else {
      os::ChangeDetail detail;
      EXPECT_EQ(os::ChangeWatchWait(watch, 30000, &detail), WaitResult::kSignalled);
#ifndef _WIN32  // a notification there names no file
      EXPECT_EQ(detail.onlyWrites, onlyWrites);
      if (onlyWrites) {
        EXPECT_STREQ(detail.written[0], "old.txt");
      }
#endif
      held.close();
      WriteWholeFile(dir.path() / "during.txt", "");
      EXPECT_TRUE(os::ChangeWatchRearm(watch));
      EXPECT_EQ(os::ChangeWatchWait(watch, 30000), WaitResult::kSignalled);
#ifndef _WIN32  // the wake-up empties the inotify queue, or every later wait returns at once
      EXPECT_EQ(os::ChangeWatchWait(watch, 300), WaitResult::kTimeout);
#endif
    }
    os::ChangeWatchClose(watch);
  }
}

}  // namespace
}  // namespace wendrake
