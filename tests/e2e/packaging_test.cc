// What the installation puts beside the program ($WENDRAKE_PROGRAM, as the
// test command sets it): the example command file must be accepted whole
// by the program it ships with.
#include <gtest/gtest.h>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

fs::path InstallRoot() {
  return fs::path(ProgramPath()).parent_path().parent_path();
}

using InstalledExampleTest = WatchingTest;

TEST_F(InstalledExampleTest, CommandFileIsAcceptedWhole) {
  fs::path example = InstallRoot() / "share" / "wendrake" / "WKCommand.txt";
  if (!fs::exists(example)) GTEST_SKIP() << "no installed example beside " << ProgramPath();
  fs::copy_file(example, At("WKCommand.txt"));
  ASSERT_TRUE(program_.Start(start_.path()));
  ASSERT_TRUE(WaitForLog("-Ended- LoadCommandFile."));
  EXPECT_EQ(CountStarting(Log(), "Error format."), 0);
  // Both example records, the most there is room for.
  EXPECT_EQ(CountStarting(Log(), "(01)... AddTabel ACTION="), 1);
  EXPECT_EQ(CountStarting(Log(), "(02)... AddTabel ACTION="), 1);
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
