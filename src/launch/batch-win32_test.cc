// Windows: a batch file as the program. CreateProcess hands the whole line
// to cmd.exe, which expands %NAME% even inside quotes and, for some forms
// of EXECUTE, strips the quotes around the path and runs what follows a
// '&': a path holding either is refused, any other arrives whole.
#include <gtest/gtest.h>

#include <tuple>

#include "launch/launcher_test_util.h"

namespace wendrake {
namespace {

namespace fs = std::filesystem;

TEST_F(LauncherTest, BatchFileGetsTheQuotedPathWholeOrTheStartIsRefused) {
  const std::string script = Folder("record.cmd");
  testing::WriteWholeFile(script, "@\"" + Recorder() + "\" %*\r\n");
  const std::string direct = script, quoted = "\"" + script + "\"", viaCmd = "cmd /c " + script,
                    stripped = "CMD.EXE /c \"" + script + "\"";
  const char* const kStarts = "(a) ^md pwned! (b)";
  const std::tuple<std::string, const char*, bool> cases[] = {
      // EXECUTE, name, refused
      {direct, kStarts, false},          {quoted, kStarts, false},
      {viaCmd, kStarts, false},          {direct, "it's;,=!x!`$(md pwned)`", false},
      {direct, "a&md pwned&.txt", true}, {stripped, "a&md pwned&.txt", true},
      {viaCmd, "%PATH%.txt", true},      {quoted, "x%.txt", true},
      {stripped, "%0%1.txt", true},
  };
  int run = 0;
  for (const auto& [execute, name, refused] : cases) {
    fs::path current = dir_.path() / ("current" + std::to_string(run++));
    fs::create_directory(current);
    Set(1, Folder("in"), execute, current.string(), "job");
    FreshLog();
    std::string argumentString = BuildAndLaunch(1, name);
    EXPECT_EQ(testing::CurrentLogTexts(), Expected(name, refused ? 123 : 0, argumentString))
        << execute;
    if (refused) continue;
    // A line that cmd.exe had cut anywhere would not reach the recorder whole.
    testing::ArgvRecord record;
    ASSERT_TRUE(testing::WaitForArgvRecord(current, &record)) << execute << " " << name;
    EXPECT_EQ(record["cmd"],
              Lines{"\"" + Recorder() + "\" \"" + Folder("in") + "\\" + name + "\" -A job"});
  }
}

}  // namespace
}  // namespace wendrake
