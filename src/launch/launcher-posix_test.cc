// Linux: the program is started from an argv, never through a shell, so
// whatever a file name holds it arrives as one argument and runs nothing.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "launch/launcher_test_util.h"

namespace wendrake {
namespace {

namespace fs = std::filesystem;
using testing::ArgvRecord;

// Launches the addition of `name` with `current`, emptied, as entry 1's
// CURRENT and returns what the recorder saw there.
ArgvRecord LaunchInFreshCurrent(const fs::path& current, const std::string& name) {
  fs::remove_all(current);
  fs::create_directory(current);
  std::snprintf(EntryAt(1).current, kSettingCapacity, "%s", current.c_str());
  BuildAndLaunch(1, name);
  ArgvRecord record;
  EXPECT_TRUE(testing::WaitForArgvRecord(current, &record)) << name;
  EXPECT_EQ(testing::CountArgvRecords(current), 1) << name;
  return record;
}

TEST_F(LauncherTest, EveryNameArrivesAsOneArgumentAndNothingElseRuns) {
  const std::string names[] = {"my file.txt",
                               "it's \"quoted\" $(touch pwned) `touch pwned`",
                               "a;b&c|touch pwned",
                               "100%s%n%%",
                               "line\nbreak",
                               "-rf",
                               "\xff\xfe\x80 not utf-8",
                               "\" -A PROD  \"two\""};
  Set(1, Folder("in"), Recorder(), current_.string(), "PROD  \"two\"");
  for (const std::string& name : names) {
    ArgvRecord record = LaunchInFreshCurrent(current_, name);
    EXPECT_EQ(record["arg"],
              (Lines{Recorder(), Folder("in") + "/" + name, "-A", "PROD", "\"two\""}))
        << name;
    EXPECT_EQ(record["cwd"], Lines{current_.string()});
    EXPECT_FALSE(fs::exists(current_ / "pwned") || fs::exists(dir_.path() / "pwned")) << name;
  }
}

TEST_F(LauncherTest, ProgramIsFoundByPathOrFromTheStartDirectory) {
  std::string relative = fs::relative(Recorder(), dir_.path()).string();
  const std::pair<std::string, std::string> cases[] = {
      {"env " + Recorder(), Recorder()},  // a bare name is looked up in PATH
      {"  env  " + Recorder() + "  ", Recorder()},
      {relative, relative},  // counted from our directory, not from CURRENT
  };
  for (const auto& c : cases) {
    Set(1, Folder("in"), c.first, current_.string(), "");
    EXPECT_EQ(LaunchInFreshCurrent(current_, "a")["arg"],
              (Lines{c.second, Folder("in") + "/a", "-A"}))
        << c.first;
  }
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

TEST_F(LauncherTest, FailuresInTheChildAreReportedWithItsErrno) {
  std::string script = Folder("no-interpreter");
  testing::WriteWholeFile(script, "touch pwned\n");
  chmod(script.c_str(), 0755);
  const std::pair<std::string, int> cases[] = {
      {script, ENOEXEC},  // no fallback to a shell
      {Recorder(), ENOTDIR},
  };
  for (const auto& c : cases) {
    FreshLog();
    Set(1, Folder("in"), c.first, c.second == ENOTDIR ? script : current_.string(), "");
    std::string argumentString = BuildAndLaunch(1, "a");
    EXPECT_EQ(testing::CurrentLogTexts(), Expected("a", c.second, argumentString));
  }
  EXPECT_FALSE(fs::exists(current_ / "pwned"));
}

}  // namespace
}  // namespace wendrake
