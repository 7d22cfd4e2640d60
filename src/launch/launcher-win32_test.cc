// Windows: the program parses its arguments from the command line, which
// must arrive exactly as made.
#include <gtest/gtest.h>

#include "launch/launcher_test_util.h"

namespace wendrake {
namespace {

namespace fs = std::filesystem;

TEST_F(LauncherTest, CommandLineAndWorkingDirectoryArriveExactly) {
  const char* cases[][3] = {
      // name, ARGUMENT, what follows the quoted path
      {"a.dat", "", " -A"},
      {"my file.txt", "PROD", " -A PROD"},
      {"100% done.txt", "-q \"two words\"", " -A -q \"two words\""},
  };
  int run = 0;
  for (const auto& c : cases) {
    fs::path current = dir_.path() / ("current" + std::to_string(run++));
    fs::create_directory(current);
    Set(1, Folder("in"), Recorder(), current.string(), c[1]);
    BuildAndLaunch(1, c[0]);
    testing::ArgvRecord record;
    ASSERT_TRUE(testing::WaitForArgvRecord(current, &record)) << c[0];
    EXPECT_EQ(record["cmd"], Lines{Recorder() + " \"" + Folder("in") + "\\" + c[0] + "\"" + c[2]});
    ASSERT_EQ(record["cwd"].size(), 1u);
    EXPECT_TRUE(fs::equivalent(record["cwd"][0], current)) << record["cwd"][0];
  }
}

}  // namespace
}  // namespace wendrake
