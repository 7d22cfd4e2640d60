// What the installation puts beside the program: the example command file
// must be accepted whole by the program it ships with, and on Linux the
// user unit must start that very program. Runs against an installed
// program ($WENDRAKE_PROGRAM, as the test command sets it).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "program.h"
#include "test_util.h"

namespace wendrake {
namespace testing {
namespace {

namespace fs = std::filesystem;

// The installation's root: the program sits in its bin folder.
fs::path InstallRoot() {
  return fs::path(ProgramPath()).parent_path().parent_path();
}

TEST(InstalledExampleTest, CommandFileIsAcceptedWhole) {
  fs::path example = InstallRoot() / "share" / "wendrake" / "WKCommand.txt";
  if (!fs::exists(example)) GTEST_SKIP() << "no installed example beside " << ProgramPath();
  ScopedTempDir start;
  fs::copy_file(example, start.path() / "WKCommand.txt");
  Program program;
  ASSERT_TRUE(program.Start(start.path()));
  auto log = [&] { return LogTexts(ReadWholeFile(start.path() / "Wendrake.log")); };
  ASSERT_TRUE(PollUntil([&] {
    for (const std::string& line : log()) {
      if (line == "-Ended- LoadCommandFile.") return true;
    }
    return false;
  }));
  ASSERT_TRUE(program.RequestEnd());
  int code = -1;
  ASSERT_TRUE(program.WaitForExit(30, &code));
  EXPECT_EQ(code, 0);

  std::vector<std::string> added;
  for (const std::string& line : log()) {
    EXPECT_NE(line.rfind("Error format.", 0), 0u) << line;
    if (line.find("... AddTabel ACTION=") != std::string::npos) added.push_back(line);
  }
  EXPECT_EQ(added.size(), 2u);  // both example records, the most there is room for
}

#ifndef _WIN32
TEST(InstalledExampleTest, UserUnitStartsTheInstalledProgram) {
  fs::path unit = InstallRoot() / "lib" / "systemd" / "user" / "wendrake.service";
  if (!fs::exists(unit)) GTEST_SKIP() << "no installed unit beside " << ProgramPath();
  std::ifstream in(unit);
  std::string line;
  std::string execStart;
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
