// Linux: the program is started from an argv, never through a shell, so
// whatever a file name holds it arrives as one argument and runs nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "launch/launcher_test_util.h"

namespace wendrake {
namespace {

namespace fs = std::filesystem;
using testing::ArgvRecord;

TEST_F(LauncherTest, EveryNameArrivesAsOneArgumentOfTheProgramAndNothingElseRuns) {
  auto check = [&](const std::string& execute, const std::string& name, const std::string& first) {
    fs::remove_all(current_);
    fs::create_directory(current_);
    Set(1, Folder("in"), execute, current_.string(), "PROD  \"two\"");
    BuildAndLaunch(1, name);
    ArgvRecord record;
    EXPECT_TRUE(testing::WaitForArgvRecord(current_, &record)) << name;
    EXPECT_EQ(testing::CountArgvRecords(current_), 1) << name;
    EXPECT_EQ(record["arg"], (Lines{first, Folder("in") + "/" + name, "-A", "PROD", "\"two\""}))
        << execute << " " << name;
    EXPECT_EQ(record["cwd"], Lines{current_.string()});
    EXPECT_FALSE(fs::exists(current_ / "pwned") || fs::exists(dir_.path() / "pwned")) << name;
  };
  for (const char* name :
       {"my file.txt", "it's \"quoted\" $(touch pwned) `touch pwned`", "a;b&c|touch pwned",
        "100%s%n%%", "line\nbreak", "-rf", "\xff\xfe\x80 not utf-8", "\" -A PROD  \"two\""}) {
    check(Recorder(), name, Recorder());
  }
  // A bare program name is looked up in PATH, a relative path is counted
  // from our directory, not from CURRENT.
  check("env " + Recorder(), "a", Recorder());
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
  BuildAndLaunch(1, "a");
  sigaction(SIGCHLD, &previousChild, nullptr);
  pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
  close(leaky);

  ArgvRecord record;
  ASSERT_TRUE(testing::WaitForArgvRecord(current_, &record));
  EXPECT_EQ(record["fd"], Lines{});
  EXPECT_EQ(record["sig"], Lines{});
}

}  // namespace
}  // namespace wendrake
