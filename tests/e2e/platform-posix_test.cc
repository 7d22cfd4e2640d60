// The Linux program as a command-line tool and a service: its options, its
// exit status and stderr, the journal copy of its log, a log rotated under
// it, a shared folder that raises no notification, and its package.
#include <poll.h>
#include <signal.h>
#include <stddef.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <tuple>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

using ShellTest = WatchingTest;

// Runs it with `args` in `directory` to its end, stdout and stderr each
// into a file of ours; with `journal` "out" or "err", JOURNAL_STREAM names
// that one by device and inode, as systemd names the journal's stream.
// `runner`'s words, when given, start it (as another user, say).
// Its exit status (-1: not ended after a minute), stdout and stderr.
std::tuple<int, std::string, std::string> RunProgram(const std::vector<std::string>& args,
                                                     const fs::path& directory,
                                                     const std::string& journal = "",
                                                     const std::vector<std::string>& runner = {}) {
  ScopedTempDir outputs;
  const std::string at = outputs.str() + "/";
  const char* script =
      "exec >\"${0}out\" 2>\"${0}err\"; unset JOURNAL_STREAM; "
      "[ -z \"$1\" ] || export JOURNAL_STREAM=$(stat -c %d:%i \"$0$1\"); shift; exec \"$@\"";
  std::vector<std::string> words = {"-c", script, at, journal};
  words.insert(words.end(), runner.begin(), runner.end());
  words.push_back(ProgramPath());
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
    auto [status, out, err] = RunProgram(c.args, here.path());
    EXPECT_EQ(status, c.status) << c.args.back();
    EXPECT_EQ(out.substr(0, out.find('\n') + 1), c.out);
    EXPECT_EQ(err, c.err);
    EXPECT_TRUE(fs::is_empty(here.path())) << c.args.back();
  }
}

// A run that cannot work logs as ever, ends as a signal would end it and
// says on stderr what is wrong and where the log is. Only when
// JOURNAL_STREAM names its own stderr does each log line go there first,
// as the journal wants it: the text without the stamp, one line each, an
// error's with the priority "<3>", as the closing line too.
TEST_F(ShellTest, RunThatCannotWorkEndsWithStatusOneAndSaysWhy) {
  const struct {
    const char* commandFile;  // nullptr: none
    std::string what;
    std::string journal;  // of RunProgram
  } cases[] = {
      {nullptr, " cannot be read; see ", ""},
      {nullptr, " cannot be read; see ", "err"},
      {"# nothing to watch\nACTION=A FOLDER=in\n", " gives no folder to watch; see ", "out"},
      {"ACTION=A FOLDER=in\n", " gives no folder to watch; see ", "err"},
  };
  for (const auto& c : cases) {
    fs::remove(At("Wendrake.log"));
    if (c.commandFile != nullptr) WriteWholeFile(At("WKCommand.txt"), c.commandFile);
    ScopedTempDir elsewhere;
    auto [status, out, err] =
        RunProgram({"--directory", start_.str()}, elsewhere.path(), c.journal);
    Lines log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Ended - AllEndThread");
    EXPECT_EQ(Count(log, "CmdFile Open error. FileName(" + Path("WKCommand.txt") + ")"),
              c.commandFile == nullptr ? 1 : 0);
    std::string copies;
    for (std::string text : log) {
      if (c.journal != "err") break;
      std::replace(text.begin(), text.end(), '\n', ' ');
      bool error = false;
      for (const char* head : {"CmdFile Open error.", "== Abnormal end.==", "Error format."})
        error = error || text.rfind(head, 0) == 0;
      copies += (error ? "<3>" : "") + text + "\n";
    }
    EXPECT_EQ(status, kCannotWork);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, copies + (c.journal == "err" ? "<3>" : "") + ProgramPath() + ": " +
                       Path("WKCommand.txt") + c.what + Path("Wendrake.log") + "\n");
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
  }
}

// A start directory that cannot hold the run's log, locks and snapshots
// (one its user cannot write, a log that is a link, one where a program
// runs already) ends the run at once with one line on stderr: nothing is
// written there, nothing elsewhere.
TEST_F(ShellTest, StartDirectoryThatCannotHoldItsFilesOrIsTakenEndsWithStatusOneAndSaysWhy) {
  WriteWholeFile(At("WKCommand.txt"), Record("A", "in", "out"));
  ScopedTempDir elsewhere;
  const fs::path victim = elsewhere.path() / "victim";
  WriteWholeFile(victim, "precious");
  const std::vector<std::string> nobody = {"setpriv", "--reuid=65534", "--regid=65534",
                                           "--clear-groups"};
  const struct {
    bool asNobody;  // else the log is a link to the victim
    std::string err;
  } cases[] = {
      {true, Path("") + " cannot be written: Permission denied\n"},
      {false, Path("Wendrake.log") + " is a symbolic link, which is not followed\n"},
  };
  for (const auto& c : cases) {
    if (c.asNobody && geteuid() != 0) continue;  // only root can become nobody
    if (c.asNobody) fs::permissions(start_.path(), fs::perms(0555));
    if (!c.asNobody) fs::create_symlink(victim, At("Wendrake.log"));
    auto [status, out, err] =
        RunProgram({}, start_.path(), "", c.asNobody ? nobody : std::vector<std::string>{});
    fs::permissions(start_.path(), fs::perms(0755));
    EXPECT_EQ(status, kCannotWork);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, ProgramPath() + ": " + c.err);
    EXPECT_EQ(ReadWholeFile(victim), "precious");
    EXPECT_FALSE(fs::exists(At("KSFF01O.txt")));
    fs::remove(At("Wendrake.log"));
  }
  StartWatching(Record("A", "in", "out"));
  auto [status, out, err] = RunProgram({}, start_.path());
  EXPECT_EQ(status, kCannotWork);
  EXPECT_EQ(err,
            ProgramPath() + ": " + Path("") + ": another wendrake runs in this start directory\n");
  WriteWholeFile(At("in") / "a.txt", "a");
  EXPECT_EQ(Started("out", 1), Lines{Expected("in", "a.txt", "-A")});
  EXPECT_EQ(Count(Log(), "= Start program"), 1);
}

// Started with stdin, stdout and stderr closed, as some schedulers start
// it, it holds /dev/null there, never its own log, lock or watch, which
// the programs it starts would otherwise get as their standard streams.
TEST_F(ShellTest, StartedWithStandardStreamsClosedHoldsNullDeviceThere) {
  WriteWholeFile(At("WKCommand.txt"), Record("A", "in", "out"));
  program_ = StartProcess("sh", {"-c", "exec \"$0\" <&- >&- 2>&-", ProgramPath()}, start_.str());
  ASSERT_TRUE(WaitForLog("(01)...-Wait("));
  const std::string fds = "/proc/" + std::to_string(program_.id) + "/fd/";
  for (const char* fd : {"0", "1", "2"})
    EXPECT_EQ(fs::read_symlink(fds + fd).string(), "/dev/null") << fd;
}

// A link planted in the place of one of the program's own files (in a
// start directory that others may write) is refused with a log line; the
// file it leads to is neither made nor written.
TEST_F(ShellTest, LinksInThePlaceOfItsOwnFilesAreRefusedNotFollowed) {
  ScopedTempDir elsewhere;
  const fs::path victim = elsewhere.path() / "victim";
  WriteWholeFile(victim, "precious");
  fs::create_symlink(elsewhere.path() / "made", At("KSFF01.lock"));
  StartWatching(Record("A", "in", "out"));
  EXPECT_EQ(Count(Log(), "(01)...      Error CreateMutex. --Abnormal ended.--"), 1);
  fs::remove(At("KSFF01N.txt"));
  fs::create_symlink(victim, At("KSFF01N.txt"));
  WriteWholeFile(At("in") / "x", "x");
  EXPECT_TRUE(WaitForLog("(01)... PutFileNamesInDir. Write error(KSFF01N.txt) Error(40)"));
  EXPECT_EQ(ReadWholeFile(victim), "precious");
  EXPECT_FALSE(fs::exists(elsewhere.path() / "made"));
}

// A unix datagram socket in the place of systemd's notification socket:
// `name` is a path, or '@' and a name in the abstract namespace.
class NotifyListener {
 public:
  explicit NotifyListener(const std::string& name) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    name.copy(address.sun_path, sizeof address.sun_path - 1);
    if (name[0] == '@') address.sun_path[0] = '\0';
    auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() +
                                         (name[0] == '@' ? 0 : 1));
    EXPECT_EQ(bind(fd_, reinterpret_cast<const sockaddr*>(&address), length), 0) << name;
  }
  ~NotifyListener() { close(fd_); }

  // The next message, or "" when none comes within `seconds`.
  std::string Next(int seconds) const {
    pollfd ready = {fd_, POLLIN, 0};
    char message[256];
    ssize_t length = poll(&ready, 1, seconds * 1000) == 1 ? recv(fd_, message, 256, 0) : 0;
    return std::string(message, length > 0 ? length : 0);
  }

 private:
  int fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
};

// Started by systemd as a Type=notify service, it says READY=1 once every
// entry's watch is set (a path or an abstract socket), and STOPPING=1 at
// SIGTERM; a run that cannot work ends without READY=1, a failed start.
TEST_F(ShellTest, ServiceManagerIsToldWhenItIsReadyAndWhenItStops) {
  const std::string both = Record("A", "in", "out") + Record("A", "in2", "out2");
  const struct {
    std::string socket;
    std::string commandFile;
  } cases[] = {
      {Path("notify"), both},
      {"@wendrake-test-" + std::to_string(getpid()), both},
      {Path("notify"), "# nothing to watch\n"},
  };
  for (const auto& c : cases) {
    NotifyListener listener(c.socket);
    WriteWholeFile(At("WKCommand.txt"), c.commandFile);
    program_ = StartProcess("env", {"NOTIFY_SOCKET=" + c.socket, ProgramPath()}, start_.str());
    if (c.commandFile == both) {
      EXPECT_EQ(listener.Next(60), "READY=1") << c.socket;
      EXPECT_EQ(Count(Log(), "(02)...          Set FindFirstChangeNotification("), 1);
      EXPECT_EQ(listener.Next(1), "");
      EXPECT_TRUE(RequestEnd(program_));
      EXPECT_EQ(listener.Next(60), "STOPPING=1");
    }
    EXPECT_EQ(WaitHelper(program_, 60000), c.commandFile == both ? 0 : kCannotWork);
    program_ = {};
    EXPECT_EQ(listener.Next(0), "") << c.socket;
    fs::remove(At("Wendrake.log"));
    fs::remove(At("notify"));
  }
}

// A started program has a session of its own: Ctrl-C in the terminal
// (SIGINT to the program's process group) or a SIGTERM to that group ends
// the watcher alone, and a handler busy for 5 s finishes its work.
TEST_F(ShellTest, StartedProgramsOutliveItsEndAndFinishTheirWork) {
  const fs::path handler = At("handler");
  WriteWholeFile(handler,
                 "#!/bin/sh\nname=$(basename \"$1\")\n"
                 "touch \"$name.began\"; sleep 5; touch \"$name.done\"\n");
  fs::permissions(handler, fs::perms(0755));
  WriteWholeFile(At("WKCommand.txt"), "ACTION=A FOLDER=\"" + Path("in") + "\" EXECUTE=" +
                                          handler.string() + " CURRENT=\"" + Path("out") + "\"\n");
  for (int signal : {SIGINT, SIGTERM}) {
    const fs::path began = At("out") / (std::to_string(signal) + ".began");
    const fs::path done = At("out") / (std::to_string(signal) + ".done");
    // A process group of its own, as a terminal's job has: the test's is spared.
    program_ = StartProcess("setsid", {ProgramPath()}, start_.str());
    ASSERT_TRUE(WaitForLog("(01)...-Wait("));
    WriteWholeFile(At("in") / std::to_string(signal), "x");
    ASSERT_TRUE(PollUntil([&] { return fs::exists(began); }));
    kill(-static_cast<pid_t>(program_.id), signal);
    EXPECT_EQ(WaitHelper(program_, 60000), 0) << signal;
    program_ = {};
    fs::remove(At("Wendrake.log"));
    EXPECT_FALSE(fs::exists(done)) << "finished before the program ended";
    EXPECT_TRUE(PollUntil([&] { return fs::exists(done); }, 10000)) << signal;
  }
}

// A log renamed away while the program logs some 1,000 lines a second,
// 20 times, as logrotate's default and mv rotate it: a new Wendrake.log
// follows each time, and every line is in exactly one of the files, whole.
// A hangup has it follow at once.
TEST_F(ShellTest, LogRenamedAwayUnderLoadOrHangupIsOpenedAnewLosingAndDoublingNoLine) {
  StartWatching(Record("A", "in", "out"));
  constexpr int kRotations = 20;
  constexpr int kFilesEach = 150;  // some 8 lines each, over about a second
  for (int r = 1; r <= kRotations; ++r) {
    for (int i = 0; i < kFilesEach; ++i) {
      WriteWholeFile(At("in") / ("f" + std::to_string(r * kFilesEach + i)), "");
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(fs::exists(At("Wendrake.log"))) << "no new log after rotation " << r - 1;
    fs::rename(At("Wendrake.log"), At("Wendrake.log." + std::to_string(r)));
  }
  ASSERT_TRUE(
      PollUntil([&] { return CountArgvRecords(At("out")) == kRotations * kFilesEach; }, 120000));
  ASSERT_TRUE(LogStaysStill());
  std::map<std::string, int> seen;  // each file's start line
  for (int r = 1; r <= kRotations + 1; ++r) {
    const std::string name = r > kRotations ? "Wendrake.log" : "Wendrake.log." + std::to_string(r);
    for (const std::string& text : LogTexts(ReadWholeFile(At(name)))) {
      if (text.rfind("(01)... ... ... ... Adition(", 0) == 0) ++seen[text];
    }
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kRotations * kFilesEach));
  for (const auto& [text, count] : seen) EXPECT_EQ(count, 1) << text;
  // SIGHUP, as logrotate's postrotate or systemctl reload sends it, has the
  // log opened anew at once, with nothing to log; the run goes on.
  fs::rename(At("Wendrake.log"), At("Wendrake.log.hup"));
  ASSERT_EQ(kill(static_cast<pid_t>(program_.id), SIGHUP), 0);
  EXPECT_TRUE(PollUntil([&] { return fs::exists(At("Wendrake.log")); }));
}

// A watched folder on a FUSE file system (bindfs over a backing folder),
// written through the backing folder as another machine writes a share:
// no notification reaches the program, only its timer.
class SharePosixTest : public WatchingTest {
 protected:
  // "in" becomes the mount of "back".
  void SetUp() override {
    if (access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "no usable /dev/fuse: no FUSE mount";
    fs::create_directory(At("back"));
    HelperProcess bindfs = StartProcess("bindfs", {At("back").string(), At("in").string()});
    ASSERT_EQ(WaitHelper(bindfs, 30000), 0) << "bindfs (scripts/install-deps.sh) did not mount";
  }
  ~SharePosixTest() override { umount2(At("in").c_str(), MNT_DETACH); }

  // The CPU seconds the program has spent: utime and stime, all threads.
  double CpuSeconds() const {
    std::istringstream stat(ReadWholeFile("/proc/" + std::to_string(program_.id) + "/stat"));
    std::string field[15];
    for (std::string& f : field) stat >> f;
    return (std::stod(field[13]) + std::stod(field[14])) / sysconf(_SC_CLK_TCK);
  }
};

// Each change behind the mount is started within 4 s (the timer's 2 s and
// a scan); a file written over 4 s once, when it is complete (handed on
// before, it would come again as an update), 200 files once each; then an
// idle share adds nothing to the log and costs no CPU.
TEST_F(SharePosixTest, ChangesBehindTheMountAreHandedOnOnceByTheTimerThenAllIsQuiet) {
  StartWatching(Record("AUD", "in", "out"));
  EXPECT_EQ(Count(Log(),
                  "(01)...      Polling(every 2 s) -a shared file system: writes from other "
                  "machines raise no notification."),
            1);
  WriteWholeFile(At("back") / "a.dat", "a");
  EXPECT_TRUE(PollUntil([&] { return CountArgvRecords(At("out")) == 1; }, 4000)) << "-A late";
  fs::remove(At("back") / "a.dat");
  WriteWholeFile(At("in") / "local.dat", "through the mount");
  EXPECT_TRUE(PollUntil([&] { return CountArgvRecords(At("out")) == 3; }, 4000)) << "late";
  // 64 KB pieces over 4 s: the file changes between any two of the
  // program's listings, which are a second or more apart.
  std::ofstream slow(At("back") / "slow.dat", std::ios::binary);
  for (int i = 0; i < 40; ++i) {
    slow.write(std::string(64 * 1024, 's').data(), 64 * 1024).flush();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  slow.close();
  Lines expected = {Expected("in", "a.dat", "-A"), Expected("in", "a.dat", "-D"),
                    Expected("in", "local.dat", "-A"), Expected("in", "slow.dat", "-A")};
  for (int i = 0; i < 200; ++i) {
    WriteWholeFile(At("back") / ("many" + std::to_string(i)), "m");
    expected.push_back(Expected("in", "many" + std::to_string(i), "-A"));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Started("out", expected.size()), expected);

  std::uintmax_t logSize = fs::file_size(At("Wendrake.log"));
  double cpu = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(10));
  EXPECT_EQ(fs::file_size(At("Wendrake.log")), logSize) << "an idle share wrote to the log";
  EXPECT_LT(CpuSeconds() - cpu, 0.1);
}

// What a shell command prints on stdout.
std::string Output(const std::string& command) {
  ScopedTempDir here;
  EXPECT_EQ(std::system((command + " >" + here.str() + "/out").c_str()), 0) << command;
  return ReadWholeFile(here.path() / "out");
}

// The Debian package, made from the build that made the program under
// test, holds all the installation puts beside the program where Debian
// wants it, the units starting the program it holds; lintian finds no
// error or warning in it that its overrides do not explain, and systemd
// none in its units (scripts/install-deps.sh installs both tools).
TEST(PackageTest, DebianPackageHoldsProgramExamplesUnitsAndManualAndPassesLintian) {
  if (std::system("command -v cpack dpkg-deb >/dev/null") != 0) GTEST_SKIP() << "no cpack";
  ScopedTempDir out;
  // Its stderr, if any, shows in the test's output.
  Output("cpack -G DEB --config '" WENDRAKE_BINARY_DIR "/CPackConfig.cmake' -B '" + out.str() +
         "'");
  std::string arch = Output("dpkg --print-architecture");
  arch.pop_back();  // its newline
  // Named after its control fields, the revision the changelog's.
  std::string deb = Output("ls '" + out.str() + "'/*.deb");
  deb.pop_back();
  EXPECT_EQ(fs::path(deb).filename().string().rfind("wendrake_" WENDRAKE_VERSION "-", 0), 0u);
  EXPECT_EQ(deb.substr(deb.rfind('_')), "_" + arch + ".deb");

  std::istringstream contents(Output("dpkg-deb -c '" + deb + "'"));
  Lines files;
  for (std::string line; std::getline(contents, line);) {
    if (line[0] == '-') files.push_back(line.substr(line.rfind(' ') + 1));
  }
  EXPECT_EQ(
      files,
      (Lines{"./usr/bin/wendrake", "./usr/lib/systemd/system/wendrake@.service",
             "./usr/lib/systemd/user/wendrake.service",
             "./usr/share/doc/wendrake/changelog.Debian.gz", "./usr/share/doc/wendrake/copyright",
             "./usr/share/lintian/overrides/wendrake", "./usr/share/man/man1/wendrake.1.gz",
             "./usr/share/wendrake/WKCommand.txt", "./usr/share/wendrake/wendrake.logrotate"}));
  // Found by dpkg-shlibdeps in the program itself, not written by hand.
  EXPECT_NE(Output("dpkg-deb -f '" + deb + "' Depends").find("libc6 (>= "), std::string::npos);
  EXPECT_EQ(Output("lintian --fail-on error,warning '" + deb + "' 2>/dev/null"), "");

  // Staged under /usr, so each unit names the program where the package
  // puts it; verified against the unpacked package, with the program's
  // path there put in and its manual page found there.
  Output("dpkg-deb -x '" + deb + "' '" + out.str() + "/root'");
  const fs::path units = out.path() / "units";
  fs::create_directories(units / "runtime");
  fs::permissions(units / "runtime", fs::perms::owner_all);
  for (const char* unit : {"system/wendrake@.service", "user/wendrake.service"}) {
    std::string text = ReadWholeFile(out.path() / "root/usr/lib/systemd" / unit);
    const std::string line = "\nExecStart=/usr/bin/wendrake -C ";
    ASSERT_NE(text.find(line), std::string::npos) << text;
    text.replace(text.find(line) + 11, 17, out.str() + "/root/usr/bin/wendrake");
    const std::string name = fs::path(unit).filename().string();
    WriteWholeFile(units / name, text);
    EXPECT_EQ(
        Output("cd '" + units.string() + "' && MANPATH='" + out.str() +
               "/root/usr/share/man' XDG_RUNTIME_DIR=\"$PWD/runtime\" systemd-analyze " +
               (name == "wendrake.service" ? "--user " : "") + "verify ./" + name + " 2>&1 | cat"),
        "")
        << unit;
  }
}
}  // namespace
}  // namespace testing
}  // namespace wendrake
