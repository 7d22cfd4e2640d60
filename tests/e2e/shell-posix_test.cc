// The Linux program as a command-line tool and a service: its options, its
// exit status and stderr, the journal copy of its log, and a log rotated
// under it.

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

using ShellTest = WatchingTest;

// Each answer or refusal comes before anything is logged: the folder the
// program was started in stays empty.
TEST_F(ShellTest, OptionsAreAnsweredOrRefusedBeforeAnythingIsWritten) {
  const std::string program = ProgramPath();
  const std::string hint = "Try '" + program + " --help' for more information.\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;  // its first line
    std::string err;
  } cases[] = {
      {{"--help"}, 0, "Usage: wendrake [OPTION]...\n", ""},
      {{"-h"}, 0, "Usage: wendrake [OPTION]...\n", ""},
      {{"--version"}, 0, "wendrake " WENDRAKE_VERSION "\n", ""},
      {{"-V"}, 0, "wendrake " WENDRAKE_VERSION "\n", ""},
      {{"--bogus"}, 2, "", program + ": unrecognized option '--bogus'\n" + hint},
      {{"-x"}, 2, "", program + ": invalid option -- 'x'\n" + hint},
      {{"--directory"}, 2, "", program + ": option '--directory' requires an argument\n" + hint},
      {{"-C", ".", "stray"}, 2, "", program + ": unexpected argument 'stray'\n" + hint},
      {{"-C", "absent"},
       2,
       "",
       program + ": cannot change to directory 'absent': No such file or directory\n"},
  };
  for (const auto& c : cases) {
    ScopedTempDir here;
    Finished run = RunProgram(c.args, here.path());
    EXPECT_EQ(run.status, c.status) << c.args.back();
    EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1), c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_TRUE(fs::is_empty(here.path())) << c.args.back();
  }
}

// A run that cannot work logs as ever, ends as a signal would end it and
// says on stderr what is wrong and where the log is. Only when
// JOURNAL_STREAM names its own stderr does each log line go there first,
// as the journal wants it: the text without the stamp, one line each.
TEST_F(ShellTest, RunThatCannotWorkEndsWithStatusOneAndSaysWhy) {
  const struct {
    const char* commandFile;  // nullptr: none
    std::string what;
  } cases[] = {
      {nullptr, " cannot be read; see "},
      {"# nothing to watch\nACTION=A FOLDER=in\n", " gives no folder to watch; see "},
  };
  for (const auto& c : cases) {
    for (JournalStream journal :
         {JournalStream::kUnset, JournalStream::kStdout, JournalStream::kStderr}) {
      fs::remove(At("Wendrake.log"));
      fs::remove(At("WKCommand.txt"));
      if (c.commandFile != nullptr) WriteWholeFile(At("WKCommand.txt"), c.commandFile);
      ScopedTempDir elsewhere;
      Finished run = RunProgram({"--directory", start_.str()}, elsewhere.path(), journal);
      Lines log = Log();
      ASSERT_FALSE(log.empty());
      EXPECT_EQ(log.back(), "Ended - AllEndThread");
      std::string copies;
      for (std::string text : log) {
        if (journal != JournalStream::kStderr) break;
        std::replace(text.begin(), text.end(), '\n', ' ');
        copies += text + "\n";
      }
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err, copies + ProgramPath() + ": " + Path("WKCommand.txt") + c.what +
                             Path("Wendrake.log") + "\n");
      EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    }
  }
}

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
