// What the installation puts beside the program ($WENDRAKE_PROGRAM, as the
// test command sets it): the example command file must be accepted whole
// by the program it ships with, and on Linux the user unit must start that
// very program.
#include <gtest/gtest.h>

#include <fstream>

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

#ifndef _WIN32
TEST(InstalledUnitTest, UserUnitStartsTheInstalledProgram) {
  fs::path unit = InstallRoot() / "lib" / "systemd" / "user" / "wendrake.service";
  if (!fs::exists(unit)) GTEST_SKIP() << "no installed unit beside " << ProgramPath();
  std::ifstream in(unit);
  std::string line, execStart;
  while (std::getline(in, line)) {
    if (line.rfind("ExecStart=", 0) == 0) execStart = line.substr(10);
  }
  // Written at install time from the final prefix; systemd wants it absolute.
  EXPECT_TRUE(fs::path(execStart).is_absolute()) << execStart;
  std::error_code error;
  EXPECT_TRUE(fs::equivalent(execStart, ProgramPath(), error)) << execStart;
}
#endif

}  // namespace
}  // namespace testing
}  // namespace wendrake
