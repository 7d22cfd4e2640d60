// The Linux program as a command-line tool and a service: a log rotated
// under it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

using ShellTest = WatchingTest;

// logrotate's copytruncate empties the log while the program runs: the
// next line lands at offset 0, not after a hole as long as the old log.
TEST_F(ShellTest, LogEmptiedWhileRunningGoesOnFromItsStart) {
  StartWatching(Record("A", "in", "out"));
  fs::resize_file(At("Wendrake.log"), 0);
  DropIn("in", "x");
  // Log() fails the test on a line that does not start with a stamp.
  ASSERT_TRUE(PollUntil([&] { return !Log().empty(); }));
  EXPECT_EQ(ReadWholeFile(At("Wendrake.log")).find('\0'), std::string::npos);
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
