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

// A change that is reported at all is reported long before this.
constexpr int kChangeMs = 30000;

struct Change {
  const char* what;
  std::function<void(const fs::path&)> make;
  bool wakes;
};

// The in-use probe opens, reads nothing and closes: were that to wake the
// wait, every scan would start another.
const Change kChanges[] = {
    {"create", [](const fs::path& d) { WriteWholeFile(d / "new.txt", "new"); }, true},
    {"write", [](const fs::path& d) { std::ofstream(d / "old.txt", std::ios::app) << "more"; },
     true},
    {"delete", [](const fs::path& d) { fs::remove(d / "old.txt"); }, true},
    {"rename", [](const fs::path& d) { fs::rename(d / "old.txt", d / "new.txt"); }, true},
    {"read", [](const fs::path& d) { testing::ReadWholeFile(d / "old.txt"); }, false},
    {"probe",
     [](const fs::path& d) {
       os::ProbeInfo info;
       EXPECT_EQ(os::ProbeExclusive((d / "old.txt").string().c_str(), &info),
                 os::ProbeResult::kFree);
     },
     false},
};

// A change made during the scan that follows a wake-up wakes the next wait;
// what came before the wake-up does not wake it again.
TEST(ChangeWatchTest, ChangesWakeTheWaitAlsoDuringTheScanButReadsDoNot) {
  for (const Change& change : kChanges) {
    SCOPED_TRACE(change.what);
    testing::ScopedTempDir dir;
    WriteWholeFile(dir.path() / "old.txt", "old");
    os::Handle watch = os::ChangeWatchOpen(dir.str().c_str());
    ASSERT_NE(watch, os::kInvalidHandle);
    EXPECT_EQ(os::ChangeWatchWait(watch, 50), WaitResult::kTimeout);
    change.make(dir.path());
    if (!change.wakes) {
      EXPECT_EQ(os::ChangeWatchWait(watch, 300), WaitResult::kTimeout);
    } else {
      EXPECT_EQ(os::ChangeWatchWait(watch, kChangeMs), WaitResult::kSignalled);
      WriteWholeFile(dir.path() / "during.txt", "");
      EXPECT_TRUE(os::ChangeWatchRearm(watch));
      EXPECT_EQ(os::ChangeWatchWait(watch, kChangeMs), WaitResult::kSignalled);
#ifndef _WIN32  // the wake-up empties the inotify queue, or every later wait returns at once
      EXPECT_EQ(os::ChangeWatchWait(watch, 300), WaitResult::kTimeout);
#endif
    }
    os::ChangeWatchClose(watch);
  }
}

}  // namespace
}  // namespace wendrake
