#include "launch/launcher.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

#include "config/thread_control.h"
#include "log/log.h"
#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class LauncherTest : public ::testing::Test {
 protected:
  LauncherTest() : dir_(true) { fs::create_directory(current_); }
  ~LauncherTest() override { ResetLogForTesting(); }

  std::string Folder(const std::string& name) const { return (dir_.path() / name).string(); }

  // Builds and launches, into a fresh log, entry 1's addition of `name` (at
  // most 255 bytes), as the command file and a snapshot record would give them.
  void Launch(const std::string& folder, const std::string& execute, const std::string& current,
              const std::string& argument, const std::string& name = "n") {
    ResetLogForTesting();
    std::remove(kLogFileName);
    entry_ = ThreadControlEntry{};
    entry_.index = 1;
    std::snprintf(entry_.folder, sizeof entry_.folder, "%s", folder.c_str());
    std::snprintf(entry_.execute, sizeof entry_.execute, "%s", execute.c_str());
    std::snprintf(entry_.current, sizeof entry_.current, "%s", current.c_str());
    std::snprintf(entry_.argument, sizeof entry_.argument, "%s", argument.c_str());
    // The builder reads the name alone of the record.
    const std::string record = name + std::string(kRecordLength - name.size(), ' ');
    Command command;
    BuildCommand(entry_, ChangeKind::kAddition,
                 reinterpret_cast<const unsigned char*>(record.data()), &command);
    LaunchCommand(entry_, command);
  }

  // The lines of that launch with `code` (0: started), as the log cuts them;
  // the argument string is left empty when it would not fit.
  Lines Expected(const std::string& name, int code, bool fits = true) const {
    std::string argumentString = "\"" + std::string(entry_.folder) + os::kPathSeparator + name +
                                 "\" -A" + (entry_.argument[0] ? " " : "") + entry_.argument;
    Lines lines = {"(01)... ... ... ... Adition(" + name + ")",
                   code == 0 ? "(01)... ... CreateProcess(Normal complete)"
                             : "(01)... CreateProcess(Error) Code(" + std::to_string(code) + ")",
                   "(01)... ... ... Folder(" + std::string(entry_.folder) + ")",
                   "(01)... ... ... Execute(" + std::string(entry_.execute) + ")",
                   "(01)... ... ... Argument(" + (fits ? argumentString : "") + ")",
                   "(01)... ... ... Current(" + std::string(entry_.current) + ")",
                   ""};
    for (std::string& line : lines) line = line.substr(0, kLogTextMax);
    return lines;
  }

  // What the one program started in `current_` since the last call recorded.
  testing::ArgvRecord Started() {
    testing::ArgvRecord record;
    EXPECT_TRUE(testing::WaitForArgvRecord(current_, &record));
    // Its files alone: the folder may still be a batch file's.
    for (const auto& file : fs::directory_iterator(current_)) fs::remove(file.path());
    return record;
  }

  testing::ScopedTempDir dir_;
  const fs::path current_ = dir_.path() / "current";
  const std::string recorder_ = testing::HelperProgram("argv_recorder");
  ThreadControlEntry entry_;
};

// The longest folder, name, EXECUTE and ARGUMENT together reach the
// program whole; only a path longer than the system can open is refused,
// never cut: on Windows one of MAX_PATH (260) bytes or more.
TEST_F(LauncherTest, EveryLaunchLogsItsOutcomeAndDetailsAndOnlyGoodOnesStart) {
  // A file that is no program is never handed to a shell instead: the
  // start fails.
  const std::string script = Folder("no-interpreter.exe");
  testing::WriteWholeFile(script, "touch pwned\n");
  fs::permissions(script, fs::perms::owner_all);
#ifdef _WIN32
  const int kNoProgram = 193, kNoDirectory = 267;  // BAD_EXE_FORMAT, DIRECTORY
  const int kLongPath = os::PathTooLongError();
#else
  const int kNoProgram = ENOEXEC, kNoDirectory = ENOENT, kLongPath = 0;
#endif
  // EXECUTE of 255 bytes (trailing blanks end no word), ARGUMENT of 255,
  // and names that make a full path of 259 and 260 bytes in the folder in.
  const std::string current = current_.string(), in = Folder("in");
  const std::string longExecute = recorder_ + std::string(255 - recorder_.size(), ' '),
                    longArgument(255, 'g'), name259(258 - in.size(), 'n'),
                    name260(259 - in.size(), 'n');
  const struct {
    std::string folder, execute, current, argument, name;
    int code;
  } cases[] = {
      {in, Folder("no-such.exe"), current, "", "n", 2},
      {in, script, current, "", "n", kNoProgram},
      {in, recorder_, Folder("none"), "", "n", kNoDirectory},
      {in, longExecute, current, longArgument, name259, 0},
      {in, longExecute, current, longArgument, name260, kLongPath},
      {std::string(255, 'f'), longExecute, current, longArgument, std::string(255, 'n'), kLongPath},
  };
  for (const auto& c : cases) {
    Launch(c.folder, c.execute, c.current, c.argument, c.name);
    const bool refused = c.code != 0 && c.code == kLongPath;
    EXPECT_EQ(testing::CurrentLogTexts(), Expected(c.name, c.code, !refused)) << &c - cases;
    if (c.code == 0) {
      const std::string path = c.folder + os::kPathSeparator + c.name;
      EXPECT_EQ(Started()["arg"], (Lines{recorder_, path, "-A", longArgument})) << &c - cases;
    }
  }
}

#ifdef _WIN32
// A batch file as the program: CreateProcess hands the whole line to
// cmd.exe, which expands %NAME% even inside quotes and, for some forms of
// EXECUTE, strips the quotes around the path and runs what follows a '&':
// a path holding either is refused, any other arrives whole.
TEST_F(LauncherTest, BatchFileGetsTheQuotedPathWholeOrTheStartIsRefused) {
  const std::string script = Folder("record.cmd");
  testing::WriteWholeFile(script, "@\"" + recorder_ + "\" %*\r\n");
  const std::string direct = script, quoted = "\"" + script + "\"", viaCmd = "cmd /c " + script,
                    stripped = "CMD.EXE /c \"" + script + "\"";
  const char* const kStarts = "(a) ^md pwned! (b)";
  const std::tuple<std::string, std::string, bool> cases[] = {
      // EXECUTE, name, refused
      {direct, kStarts, false},          {quoted, kStarts, false},
      {viaCmd, kStarts, false},          {direct, "it's;,=!x!`$(md pwned)`", false},
      {direct, "a&md pwned&.txt", true}, {stripped, "a&md pwned&.txt", true},
      {viaCmd, "%PATH%.txt", true},      {quoted, "x%.txt", true},
      {stripped, "%0%1.txt", true},
  };
  for (const auto& [execute, name, refused] : cases) {
    SCOPED_TRACE(execute + " " + name);
    Launch(Folder("in"), execute, current_.string(), "job", name);
    EXPECT_EQ(testing::CurrentLogTexts(), Expected(name, refused ? 123 : 0));
    // A line that cmd.exe had cut anywhere would not reach the recorder whole.
    if (!refused) {
      EXPECT_EQ(Started()["cmd"],
                Lines{"\"" + recorder_ + "\" \"" + Folder("in") + "\\" + name + "\" -A job"});
    }
  }
}
#else
// The program gets its words as its argv, never through a shell, and none
// of what we hold: ARGUMENT is split at blanks, a bare EXECUTE is looked up
// in PATH, a relative one counted from our directory; no descriptor,
// blocked signal or ignored SIGCHLD of ours reaches it.
TEST_F(LauncherTest, ProgramGetsItsWordsAsItsArgvAndNothingElseOfOurs) {
  int leaky = open("/dev/null", O_RDONLY);  // no O_CLOEXEC
  sigset_t all, previousMask;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previousMask);
  auto previousChild = signal(SIGCHLD, SIG_IGN);
  const std::string relative = fs::relative(recorder_, dir_.path()).string();
  // EXECUTE, and the program's argv[0]
  const std::pair<std::string, std::string> cases[] = {{"  env  " + recorder_ + "  ", recorder_},
                                                       {relative, relative}};
  for (const auto& [execute, first] : cases) {
    Launch(Folder("in"), execute, current_.string(), "PROD  \"two\"");
    testing::ArgvRecord record = Started();
    EXPECT_EQ(record["arg"], (Lines{first, Folder("in") + "/n", "-A", "PROD", "\"two\""}))
        << execute;
    EXPECT_EQ(record["fd"], Lines{});
    EXPECT_EQ(record["sig"], Lines{});
  }
  signal(SIGCHLD, previousChild);
  pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
  close(leaky);
}
#endif

}  // namespace
}  // namespace wendrake
