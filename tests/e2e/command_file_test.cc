// Command files that name their folders in other ways than one plain
// absolute path: each row is one run of the program, a file made, and the
// starts and log lines that follow.
#include <string>
#include <vector>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

struct CommandFileCase {
  const char* what;
  std::vector<std::string> folders;  // FOLDER as written; an '@' is the start directory
  std::string in;                    // where the file is made: "" the start directory
  std::string logLine;               // a line the log must hold, '@' as above; "" none
  std::string startedIn;             // the folder the start names it in, as `in`
};

class CommandFileTest : public WatchingTest, public ::testing::WithParamInterface<CommandFileCase> {
 protected:
  std::string Spelt(std::string text) const {
    std::size_t at = text.find('@');
    return at == std::string::npos ? text : text.replace(at, 1, Path(""));
  }
};

// The file is started for once, under its absolute path with single
// separators, and nothing more: the program's own files in a watched start
// directory, however it is spelt, wake no scan after scan.
TEST_P(CommandFileTest, FileIsStartedOnceUnderItsAbsolutePath) {
  const CommandFileCase& c = GetParam();
#ifndef _WIN32
  fs::create_directory_symlink(Path(""), At("link"));
#endif
  std::string commandFile;
  for (const std::string& folder : c.folders) {
    commandFile += "ACTION=A FOLDER=\"" + Spelt(folder) +
                   "\" EXECUTE=" + HelperProgram("argv_recorder") + " CURRENT=\"" + Path("out") +
                   "\" ARGUMENT=job\n";
  }
  StartWatching(commandFile);
  if (HasFatalFailure()) return;
  WriteWholeFile(At(c.in) / "a.txt", "a");
  EXPECT_EQ(Started("out", 1), Lines{Expected(c.startedIn, "a.txt", "-A")});
  if (!c.logLine.empty()) {
    EXPECT_TRUE(WaitForLog(Spelt(c.logLine)));
  }
  EXPECT_TRUE(LogStaysStill()) << "scans without end";
}

const std::string kSep(1, kSeparator);

INSTANTIATE_TEST_SUITE_P(
    Folders, CommandFileTest,
    ::testing::Values(
        CommandFileCase{
            "relative", {"in2"}, "in2", "(01)... AddTabel FOLDER=(@" + kSep + "in2)", "in2"},
        CommandFileCase{"relative through a dot", {"." + kSep + "in" + kSep + "."}, "in", "", "in"},
        CommandFileCase{"twice, once with a separator at its end",
                        {"@" + kSep + "in" + kSep, "@" + kSep + "in"},
                        "in",
                        "(01)... Duplcate folder - bypassed.",
                        "in"},
        CommandFileCase{"the start directory as a dot", {"." + kSep + "."}, "", "", ""}
#ifndef _WIN32
        ,
        CommandFileCase{"the start directory through a link", {"@/link"}, "", "", "link"},
        CommandFileCase{"twice, once through a link",
                        {"@/in", "@/link/in"},
                        "in",
                        "(01)... Duplcate folder - bypassed.",
                        "in"}
#endif
        ),
    [](const ::testing::TestParamInfo<CommandFileCase>& info) {
      return "Case" + std::to_string(info.index);
    });

}  // namespace
}  // namespace testing
}  // namespace wendrake
