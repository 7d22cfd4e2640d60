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
// A folder that goes (deleted, replaced by a file, moved away) takes its
// notification with it: the wait wakes for that, then neither spins nor
// wakes for the moved folder's changes, and a folder made again under the
// path wakes it and is watched from then on.
TEST(ChangeWatchTest, ChangesAndTheFolderGoingWakeTheWaitButReadsDoNot) {
  std::ofstream held;
  const struct {
    std::function<void(const fs::path&)> make;
    bool wakes;
    bool onlyWrites = false;
    bool goes = false;
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
         os::ProbeExclusive((d / "old.txt").string().c_str(), &info);
       },
       false},
      {[](const fs::path& d) { fs::remove_all(d); }, true, false, true},
      {[](const fs::path& d) {
         fs::remove_all(d);
         WriteWholeFile(d, "not a folder");
       },
       true, false, true},
#ifndef _WIN32  // Windows may go on watching a folder that was moved
      {[](const fs::path& d) {
         fs::rename(d, d.string() + ".old");
         WriteWholeFile(d.string() + ".old/unseen", "");
       },
       true, false, true},
#endif
  };
  int round = 0;
  for (const auto& [make, wakes, onlyWrites, goes] : changes) {
    SCOPED_TRACE(round++);
    testing::ScopedTempDir top;
    const fs::path dir = top.path() / "in";
    fs::create_directory(dir);
    WriteWholeFile(dir / "old.txt", "old");  // Windows tells a folder's going by its files' alone
    os::Handle watch = os::ChangeWatchOpen(dir.string().c_str());
    ASSERT_NE(watch, os::kInvalidHandle);
    make(dir);
    if (!wakes) {
      EXPECT_EQ(os::ChangeWatchWait(watch, 300), WaitResult::kTimeout);
    } else {
      os::ChangeDetail detail;
      EXPECT_EQ(os::ChangeWatchWait(watch, 30000, &detail), WaitResult::kSignalled);
#ifndef _WIN32  // a notification there names no file
      EXPECT_EQ(detail.onlyWrites && detail.written[0] == std::string("old.txt"), onlyWrites);
#endif
      held.close();
      if (goes) {
        EXPECT_EQ(os::ChangeWatchWait(watch, 1500), WaitResult::kTimeout);
        fs::remove(dir);
        fs::create_directory(dir);
      }
      WriteWholeFile(dir / "during.txt", "");
      EXPECT_EQ(os::ChangeWatchWait(watch, 30000), WaitResult::kSignalled);
#ifndef _WIN32  // the wake-up empties the inotify queue, or every later wait returns at once
      EXPECT_EQ(os::ChangeWatchWait(watch, 300), WaitResult::kTimeout);
#endif
      WriteWholeFile(dir / "after.txt", "");
      EXPECT_EQ(os::ChangeWatchWait(watch, 30000), WaitResult::kSignalled);
    }
    os::ChangeWatchClose(watch);
  }
}

#ifndef _WIN32
// Changes made while nothing reads the queue (a scan held off by another
// process's lock) overflow it: that is one more wake-up, and the watch
// works on after it.
TEST(ChangeWatchTest, QueueOverflowIsOneMoreWakeUp) {
  testing::ScopedTempDir dir;
  os::Handle watch = os::ChangeWatchOpen(dir.str().c_str());
  ASSERT_NE(watch, os::kInvalidHandle);
  int queued = 16384;
  std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queued;
  for (int i = 0; i < queued; ++i) std::ofstream(dir.path() / "f", std::ios::app) << 'y';
  EXPECT_EQ(os::ChangeWatchWait(watch, 30000), WaitResult::kSignalled);
  while (os::ChangeWatchWait(watch, 0) == WaitResult::kSignalled) {
  }
  WriteWholeFile(dir.path() / "after", "");
  EXPECT_EQ(os::ChangeWatchWait(watch, 30000), WaitResult::kSignalled);
  os::ChangeWatchClose(watch);
}
#endif

}  // namespace
}  // namespace wendrake
