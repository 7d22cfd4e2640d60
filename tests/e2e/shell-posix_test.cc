// The Linux program as a command-line tool and a service: its options, its
// exit status and stderr, the journal copy of its log, and a log rotated
// under it.

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

using ShellTest = WatchingTest;

// A run of the program to its end, with what it wrote.
struct Finished {
  int status = -1;  // -1: it had not ended after a minute
  std::string out, err;
};

// Runs it with `args` in `directory` to its end, stdout and stderr each
// into a file of ours; with `journal` "out" or "err", JOURNAL_STREAM names
// that one by device and inode, as systemd names the journal's stream.
Finished RunProgram(const std::vector<std::string>& args, const fs::path& directory,
                    const std::string& journal = "") {
  ScopedTempDir outputs;
  const std::string at = outputs.str() + "/";
  const char* script =
      "exec >\"${0}out\" 2>\"${0}err\"; unset JOURNAL_STREAM; "
      "[ -z \"$1\" ] || export JOURNAL_STREAM=$(stat -c %d:%i \"$0$1\"); shift; exec \"$@\"";
  std::vector<std::string> words = {"-c", script, at, journal, ProgramPath()};
  words.insert(words.end(), args.begin(), args.end());
  HelperProcess process = StartProcess("sh", words, directory.string());
  int status = WaitHelper(process, 60000);
  if (process.id != 0) Kill(process);
  return {status, ReadWholeFile(at + "out"), ReadWholeFile(at + "err")};
}

// Each answer or refusal comes before anything is logged: the folder the
// program was started in stays empty.
TEST_F(ShellTest, OptionsAreAnsweredOrRefusedBeforeAnythingIsWritten) {
  const std::string self = ProgramPath();
  const std::string hint = "Try '" + self + " --help' for more information.\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;  // its first line
    std::string err;
  } cases[] = {
      {{"-h"}, 0, "Usage: wendrake [OPTION]...\n", ""},
      {{"--version"}, 0, "wendrake " WENDRAKE_VERSION "\n", ""},
      {{"--bogus"}, 2, "", self + ": unrecognized option '--bogus'\n" + hint},
      {{"--directory"}, 2, "", self + ": option '--directory' requires an argument\n" + hint},
      {{"-C", ".", "stray"}, 2, "", self + ": unexpected argument 'stray'\n" + hint},
      {{"-C", "a"}, 2, "", self + ": cannot change to directory 'a': No such file or directory\n"},
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
    std::string journal;  // of RunProgram
  } cases[] = {
      {nullptr, " cannot be read; see ", ""},
      {nullptr, " cannot be read; see ", "err"},
      {"# nothing to watch\nACTION=A FOLDER=in\n", " gives no folder to watch; see ", "out"},
  };
  for (const auto& c : cases) {
    fs::remove(At("Wendrake.log"));
    if (c.commandFile != nullptr) WriteWholeFile(At("WKCommand.txt"), c.commandFile);
    ScopedTempDir elsewhere;
    Finished run = RunProgram({"--directory", start_.str()}, elsewhere.path(), c.journal);
    Lines log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Ended - AllEndThread");
    std::string copies;
    for (std::string text : log) {
      if (c.journal != "err") break;
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

// logrotate's copytruncate empties the log while the program runs: the
// next line lands at offset 0, not after a hole as long as the old log.
TEST_F(ShellTest, LogEmptiedWhileRunningGoesOnFromItsStart) {
  StartWatching(Record("A", "in", "out"));
  fs::resize_file(At("Wendrake.log"), 0);
  WriteWholeFile(At("in") / "x", "x");
  // Log() fails the test on a line that does not start with a stamp.
  ASSERT_TRUE(PollUntil([&] { return !Log().empty(); }));
  EXPECT_EQ(ReadWholeFile(At("Wendrake.log")).find('\0'), std::string::npos);
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
