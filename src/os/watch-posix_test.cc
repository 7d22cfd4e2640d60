#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

// touch(1) sets both times, which inotify reports as an attribute change,
// not as a modification.
TEST(ChangeWatchPosixTest, TouchWakesTheWait) {
  testing::ScopedTempDir dir;
  testing::WriteWholeFile(dir.path() / "data.txt", "contents");
  os::Handle watch = os::ChangeWatchOpen(dir.str().c_str());
  ASSERT_NE(watch, os::kInvalidHandle);
  ASSERT_EQ(utimensat(AT_FDCWD, (dir.path() / "data.txt").c_str(), nullptr, 0), 0);
  EXPECT_EQ(os::ChangeWatchWait(watch, 30000), os::WaitResult::kSignalled);
  os::ChangeWatchClose(watch);
}

}  // namespace
}  // namespace wendrake
