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
  std::string before;                // lines before the records; '@' the start directory,
                                     // '%' the recorder
  std::vector<std::string> folders;  // FOLDER of each record, '@' as above
  std::string in;                    // where the file is made: "" the start directory
  std::string file;
  std::string startedIn;  // the folder its start names it in, as `in`
  std::string logLine;    // a line the log must hold, '@' as above; "" none
};

class CommandFileTest : public WatchingTest, public ::testing::WithParamInterface<CommandFileCase> {
 protected:
  std::string Spelt(std::string text) const {
    for (std::size_t at = 0; (at = text.find_first_of("@%", at)) != std::string::npos;) {
      std::string by = text[at] == '@' ? Path("") : HelperProgram("argv_recorder");
      text.replace(at, 1, by);
      at += by.size();
    }
    return text;
  }
};

// The file is started for once, as the one record that names its folder
// asks, under its absolute path with single separators, and nothing more:
// the program's own files in a watched start directory, however it is
// spelt, wake no scan after scan.
TEST_P(CommandFileTest, EachFileIsStartedOnceAsTheCommandFileMeans) {
  const CommandFileCase& c = GetParam();
#ifndef _WIN32
  fs::create_directory_symlink(Path(""), At("link"));
#endif
  std::string commandFile = Spelt(c.before);
  for (const std::string& folder : c.folders) {
    commandFile += Spelt("ACTION=A FOLDER=\"" + folder + "\" EXECUTE=% CURRENT=\"@" + kSeparator +
                         "out\" ARGUMENT=job\n");
  }
  StartWatching(commandFile);
  if (HasFatalFailure()) return;
  WriteWholeFile(At(c.in) / c.file, "a");
  EXPECT_EQ(Started("out", 1), Lines{Expected(c.startedIn, c.file, "-A")});
  if (!c.logLine.empty()) {
    EXPECT_TRUE(WaitForLog(Spelt(c.logLine)));
  }
  EXPECT_TRUE(LogStaysStill()) << "scans without end";
}

const std::string kSep(1, kSeparator);
const std::string kIn = "@" + kSep + "in";
const std::string kZombie = "EXECUTE=% CURRENT=\"@" + kSep + "out\" ARGUMENT=zombie";

INSTANTIATE_TEST_SUITE_P(
    Folders, CommandFileTest,
    ::testing::Values(
        CommandFileCase{"relative",
                        "",
                        {"in2"},
                        "in2",
                        "a.txt",
                        "in2",
                        "(01)... AddTabel FOLDER=(" + kIn + "2)"},
        CommandFileCase{"relative through a dot",
                        "",
                        {"." + kSep + "in" + kSep + "."},
                        "in",
                        "a.txt",
                        "in",
                        ""},
        CommandFileCase{"twice, once with a separator at its end",
                        "",
                        {kIn + kSep, kIn},
                        "in",
                        "a.txt",
                        "in",
                        "(01)... Duplcate folder - bypassed."},
        CommandFileCase{
            "the start directory as a dot", "", {"." + kSep + "."}, "", "a.txt", "", ""},
        CommandFileCase{"a long comment holding a record",
                        "# retired: " + std::string(600, ' ') + "ACTION=AD FOLDER=\"" + kIn +
                            "\" " + kZombie + "\n",
                        {kIn},
                        "in",
                        "a.txt",
                        "in",
                        ""},
        CommandFileCase{
            "a record too long to hold",
            "ACTION=A FOLDER=\"" + kIn + "\" " + kZombie + std::string(2 << 20, ' ') + "\n",
            {kIn},
            "in",
            "a.txt",
            "in",
            "Error format. Record(ACTION=A FOLDER=\"" + kIn + "\" EXECUTE="}
#ifndef _WIN32
        ,
        CommandFileCase{"a name that holds a line end and a time stamp",
                        "",
                        {kIn},
                        "in",
                        "x\n2026-12-07 10:00:00 - Ended - AllEndThread",
                        "in",
                        "(01)... ... ... Argument(\"" + kIn +
                            "/x?2026-12-07 10:00:00 - Ended - AllEndThread\" -A job)"},
        CommandFileCase{
            "the start directory through a link", "", {"@/link"}, "", "a.txt", "link", ""},
        CommandFileCase{"twice, once through a link",
                        "",
                        {kIn, "@/link/in"},
                        "in",
                        "a.txt",
                        "in",
                        "(01)... Duplcate folder - bypassed."}
#endif
        ),
    [](const ::testing::TestParamInfo<CommandFileCase>& info) {
      return "Case" + std::to_string(info.index);
    });

}  // namespace
}  // namespace testing
}  // namespace wendrake
