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

#include "argv_record.h"
#include "config/thread_control.h"
#include "log/log.h"
#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using testing::CurrentLogTexts;

std::string Recorder() {
  return testing::HelperProgram("argv_recorder");
}

ThreadControlEntry entry;  // entry 1, as the command file would fill it

void Set(const std::string& folder, const std::string& execute, const std::string& current,
         const std::string& argument) {
  entry = ThreadControlEntry{};
  entry.index = 1;
  std::snprintf(entry.folder, sizeof entry.folder, "%s", folder.c_str());
  std::snprintf(entry.execute, sizeof entry.execute, "%s", execute.c_str());
  std::snprintf(entry.current, sizeof entry.current, "%s", current.c_str());
  std::snprintf(entry.argument, sizeof entry.argument, "%s", argument.c_str());
}

// Builds the entry's addition of `name` (at most 63 bytes) from a 99-byte
// record and, with `launch`, launches it; returns the argument string.
std::string BuildAddition(const std::string& name, bool launch = true) {
  char record[100];
  std::snprintf(record, sizeof record, "%-63s%c%012d%c%s%c%s%c\r\n", name.c_str(), 0, 42, 0,
                "2026-12-07", 0, "08:04:09", 0);
  Command command;
  BuildCommand(entry, ChangeKind::kAddition, reinterpret_cast<const unsigned char*>(record),
               &command);
  if (launch) LaunchCommand(entry, command);
  return command.argumentString;
}

// The lines of the entry's addition of `name` and its launch with `code`
// (0: started), as the log cuts them.
Lines Expected(const std::string& name, int code, const std::string& argumentString) {
  const ThreadControlEntry& e = entry;
  Lines lines = {"(01)... ... ... ... Adition(" + name + ")",
                 code == 0 ? "(01)... ... CreateProcess(Normal complete)"
                           : "(01)... CreateProcess(Error) Code(" + std::to_string(code) + ")",
                 "(01)... ... ... Folder(" + std::string(e.folder) + ")",
                 "(01)... ... ... Execute(" + std::string(e.execute) + ")",
                 "(01)... ... ... Argument(" + argumentString + ")",
                 "(01)... ... ... Current(" + std::string(e.current) + ")",
                 ""};
  for (std::string& line : lines) line = line.substr(0, kLogTextMax);
  return lines;
}

class LauncherTest : public ::testing::Test {
 protected:
  LauncherTest() : dir_(true), current_(dir_.path() / "current") {
    FreshLog();
    fs::create_directory(current_);
    Set(Folder("in"), Recorder(), current_.string(), "");
  }
  ~LauncherTest() override { ResetLogForTesting(); }

  static void FreshLog() {
    ResetLogForTesting();
    std::remove(kLogFileName);
  }
  std::string Folder(const std::string& name) const { return (dir_.path() / name).string(); }

  testing::ScopedTempDir dir_;
  fs::path current_;
};

TEST_F(LauncherTest, OverlongArgumentStringIsLeftEmptyNotCut) {
  // Folder and ARGUMENT lengths, and that of the string built:
  // '"' folder separator "n" "\" -A" [' ' argument].
  const std::size_t cases[][3] = {
      {248, 0, 255}, {249, 0, 0}, {200, 47, 255}, {200, 48, 0}, {255, 0, 0}};
  for (const auto& c : cases) {
    Set(std::string(c[0], 'f'), Recorder(), current_.string(), std::string(c[1], 'g'));
    EXPECT_EQ(BuildAddition("n", false).size(), c[2]) << c[0];
  }
}

TEST_F(LauncherTest, EveryLaunchLogsItsOutcomeAndDetailsAndOnlyGoodOnesStart) {
  // The command line is EXECUTE, '"', the folder, "/n", "\" -A" and two
  // blanks: a folder of this length makes it 255 bytes.
  std::size_t folderFor255 = 255 - Recorder().size() - 8;
  // A file that is no program is never handed to a shell instead.
  const std::string script = Folder("no-interpreter.exe");
  testing::WriteWholeFile(script, "touch pwned\n");
  fs::permissions(script, fs::perms::owner_all);
#ifdef _WIN32
  const int kNoProgram = 193, kNoDirectory = 267;  // BAD_EXE_FORMAT, DIRECTORY
#else
  const int kNoProgram = ENOEXEC, kNoDirectory = ENOENT;
#endif
  struct Case {
    std::string folder, execute, current;
    int code;
  };
  const Case cases[] = {
      {Folder("in"), Folder("no-such.exe"), current_.string(), 2},
      {Folder("in"), script, current_.string(), kNoProgram},
      {Folder("in"), Recorder(), Folder("none"), kNoDirectory},
      {std::string(250, 'f'), Recorder(), current_.string(), os::PathTooLongError()},
      {std::string(folderFor255 + 1, 'f'), Recorder(), current_.string(), os::PathTooLongError()},
      {std::string(folderFor255, 'f'), Recorder(), current_.string(), 0},
  };
  for (const Case& c : cases) {
    FreshLog();
    Set(c.folder, c.execute, c.current, "");
    std::string argumentString = BuildAddition("n");
    EXPECT_EQ(CurrentLogTexts(), Expected("n", c.code, argumentString)) << c.execute;
  }
  testing::ArgvRecord record;
  ASSERT_TRUE(testing::WaitForArgvRecord(current_, &record));
  EXPECT_EQ(testing::CountArgvRecords(current_), 1);
  EXPECT_FALSE(fs::exists(current_ / "pwned"));
}

#ifdef _WIN32
// A batch file as the program: CreateProcess hands the whole line to
// cmd.exe, which expands %NAME% even inside quotes and, for some forms of
// EXECUTE, strips the quotes around the path and runs what follows a '&':
// a path holding either is refused, any other arrives whole.
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
    Set(Folder("in"), execute, current.string(), "job");
    FreshLog();
    std::string argumentString = BuildAddition(name);
    EXPECT_EQ(CurrentLogTexts(), Expected(name, refused ? 123 : 0, argumentString)) << execute;
    if (refused) continue;
    // A line that cmd.exe had cut anywhere would not reach the recorder whole.
    testing::ArgvRecord record;
    ASSERT_TRUE(testing::WaitForArgvRecord(current, &record)) << execute << " " << name;
    EXPECT_EQ(record["cmd"],
              Lines{"\"" + Recorder() + "\" \"" + Folder("in") + "\\" + name + "\" -A job"});
  }
}
#else
// The program is started from an argv, never through a shell: a name
// arrives as one argument (the end-to-end hostile names try many), ARGUMENT
// is split at blanks, a bare EXECUTE is looked up in PATH, a relative one
// counted from our directory.
TEST_F(LauncherTest, EveryNameArrivesAsOneArgumentOfTheProgramAndNothingElseRuns) {
  auto check = [&](const std::string& execute, const std::string& name, const std::string& first) {
    fs::remove_all(current_);
    fs::create_directory(current_);
    Set(Folder("in"), execute, current_.string(), "PROD  \"two\"");
    BuildAddition(name);
    testing::ArgvRecord record;
    EXPECT_TRUE(testing::WaitForArgvRecord(current_, &record)) << name;
    EXPECT_EQ(testing::CountArgvRecords(current_), 1) << name;
    EXPECT_EQ(record["arg"], (Lines{first, Folder("in") + "/" + name, "-A", "PROD", "\"two\""}))
        << execute << " " << name;
    EXPECT_EQ(record["cwd"], Lines{current_.string()});
    EXPECT_FALSE(fs::exists(current_ / "pwned") || fs::exists(dir_.path() / "pwned")) << name;
  };
  check(Recorder(), "it's \"q\" $(touch pwned);touch pwned", Recorder());
  check(Recorder(), "\" -A PROD  \"two\"", Recorder());
  check("  env  " + Recorder() + "  ", "a", Recorder());
  std::string relative = fs::relative(Recorder(), dir_.path()).string();
  check(relative, "a", relative);
}

TEST_F(LauncherTest, ProgramInheritsNoDescriptorBlockedSignalOrIgnoredChildSignal) {
  int leaky = open("/dev/null", O_RDONLY);  // no O_CLOEXEC
  sigset_t usr1, previousMask;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &usr1, &previousMask);
  struct sigaction ignore = {}, previousChild;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGCHLD, &ignore, &previousChild);
  BuildAddition("a");
  sigaction(SIGCHLD, &previousChild, nullptr);
  pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
  close(leaky);
  testing::ArgvRecord record;
  ASSERT_TRUE(testing::WaitForArgvRecord(current_, &record));
  EXPECT_EQ(record["fd"], Lines{});
  EXPECT_EQ(record["sig"], Lines{});
}
#endif

}  // namespace
}  // namespace wendrake
