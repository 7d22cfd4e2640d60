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
TEST(ChangeWatchTest, ChangesWakeTheWaitAlsoDuringTheScanButReadsDoNot) {
  const std::pair<std::function<void(const fs::path&)>, bool> changes[] = {
      {[](const fs::path& d) { WriteWholeFile(d / "new.txt", "new"); }, true},
      {[](const fs::path& d) { std::ofstream(d / "old.txt", std::ios::app) << "more"; }, true},
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
  for (const auto& [make, wakes] : changes) {
    SCOPED_TRACE(round++);
    testing::ScopedTempDir dir;
    WriteWholeFile(dir.path() / "old.txt", "old");
    os::Handle watch = os::ChangeWatchOpen(dir.str().c_str());
    ASSERT_NE(watch, os::kInvalidHandle);
    make(dir.path());
    if (!wakes) {
      EXPECT_EQ(os::ChangeWatchWait(watch, 300), WaitResult::kTimeout);
    } else {
      EXPECT_EQ(os::ChangeWatchWait(watch, 30000), WaitResult::kSignalled);
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
