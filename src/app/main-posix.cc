// wendrake for Linux: the same watcher as the Windows program, without a
// window or tray. Started in its start directory (or given it with -C), it
// runs in the foreground until SIGINT or SIGTERM, which run the shutdown
// sequence; SIGHUP reopens its log. Unlike the Windows program it tells
// its caller how the run went: the exit status, and one line on stderr
// when it could not work.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/entry_checks.h"
#include "app/notify.h"
#include "app/options.h"
#include "app/startup.h"
#include "config/command_file.h"
#include "config/thread_control.h"
#include "log/log.h"
#include "os/os.h"

namespace {

constexpr int kCannotWork = 1;

// The log lines also go to stderr when someone reads it as they come: the
// systemd journal, which names the stream it gave us in JOURNAL_STREAM
// ("device:inode"; a child of ours with another stderr may inherit the
// variable, hence the comparison), or a terminal. A file or a pipe gets
// nothing extra, so redirections see what they always saw.
wendrake::LogCopy StderrCopy() {
  struct stat err;
  if (fstat(STDERR_FILENO, &err) != 0) return wendrake::LogCopy::kNone;
  const char* journal = std::getenv("JOURNAL_STREAM");
  unsigned long long device = 0, inode = 0;
  int end = 0;
  if (journal != nullptr && std::sscanf(journal, "%llu:%llu%n", &device, &inode, &end) == 2 &&
      journal[end] == '\0' && device == err.st_dev && inode == err.st_ino) {
    return wendrake::LogCopy::kTextOnly;
  }
  return isatty(STDERR_FILENO) ? wendrake::LogCopy::kStamped : wendrake::LogCopy::kNone;
}

// Whether the run has a controlling terminal. Closing a terminal takes it
// away from every process of its session before the hangup signal comes,
// which tells that SIGHUP apart from one sent to have the log reopened.
bool HasControllingTerminal() {
  int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return false;
  close(tty);
  return true;
}

// The one line on stderr of a run that could not work: what is wrong, and
// where the log that tells the whole story is. In the journal it is an
// error, as the log lines that led to it are.
void ReportCannotWork(const char* program, const char* what, wendrake::LogCopy copy) {
  const char* directory = wendrake::startDirectory[0] != '\0' ? wendrake::startDirectory : ".";
  std::fprintf(stderr, "%s%s: %s/%s %s; see %s/%s\n",
               copy == wendrake::LogCopy::kTextOnly ? "<3>" : "", program, directory,
               wendrake::kCommandFileName, what, directory, wendrake::kLogFileName);
}

// A scheduler may start us with stdin, stdout or stderr closed. The log,
// a lock file or the watch would then take that number, every program we
// start would get our log as its stdout or no stream at all, and a line
// meant for stderr would land in the log. Each gap gets /dev/null, before
// anything else is opened; false when that cannot be done.
bool FillStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number, which is this one; inherited by every start.
    int null = open("/dev/null", O_RDWR);
    if (null != fd) {
      if (null >= 0) close(null);
      return false;
    }
  }
  return true;
}

// Whether the start directory cannot hold this run's files, with `what`
// saying why: one that cannot be written keeps no log, lock or snapshot,
// and the program would watch nothing while looking healthy. A link in the
// place of the log is refused rather than followed, since the file it
// leads to would be written to.
bool StartDirectoryRefused(const char* directory, char* what, std::size_t capacity) {
  if (access(".", W_OK | X_OK) != 0) {
    std::snprintf(what, capacity, "%s cannot be written: %s", directory, std::strerror(errno));
    return true;
  }
  struct stat log;
  if (lstat(wendrake::kLogFileName, &log) == 0 && S_ISLNK(log.st_mode)) {
    std::snprintf(what, capacity, "%s/%s is a symbolic link, which is not followed", directory,
                  wendrake::kLogFileName);
    return true;
  }
  return false;
}

// Tells systemd (Type=notify) that the run has reached `state`. A message
// that cannot be sent is said on stderr, the journal, and the run goes on:
// a start not confirmed is ended by systemd's own timeout, not by us.
void NotifyServiceManager(const char* program, const char* state) {
  if (!wendrake::TellServiceManager(state)) {
    std::fprintf(stderr, "%s: cannot tell the service manager %s: %s\n", program, state,
                 std::strerror(errno));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (!FillStandardDescriptors()) return kCannotWork;
  int status = 0;
  if (!wendrake::ReadOptions(argc, argv, &status)) return status;
  char directory[wendrake::os::kLongestPath + 1];
  if (!wendrake::os::CurrentDirectory(directory, sizeof directory)) {
    std::snprintf(directory, sizeof directory, ".");
  }
  char refusal[sizeof directory + 128];  // the directory and the reason
  if (StartDirectoryRefused(directory, refusal, sizeof refusal)) {
    std::fprintf(stderr, "%s: %s\n", argv[0], refusal);
    return kCannotWork;
  }
  // Before the log is touched: that one is the other program's.
  if (!wendrake::ClaimStartDirectory()) {
    std::fprintf(stderr, "%s: %s: another wendrake runs in this start directory\n", argv[0],
                 directory);
    return kCannotWork;
  }
  wendrake::os::KeepFreedMemory();

  // Started programs are never waited for; the kernel reaps them.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  ignore.sa_flags = SA_NOCLDWAIT;
  sigaction(SIGCHLD, &ignore, nullptr);
  // A journal or terminal that goes away must cost the copies, not the run.
  ignore.sa_flags = 0;
  sigaction(SIGPIPE, &ignore, nullptr);

  // These signals are taken by sigwait below, on this thread only: blocked
  // before any watcher exists, so the watchers inherit the mask.
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &ending, nullptr);

  wendrake::TakeServiceManagerSocket();
  const wendrake::LogCopy copy = StderrCopy();
  wendrake::CopyLogLinesTo(STDERR_FILENO, copy);
  const char* failure = nullptr;
  if (!wendrake::LoadConfiguration()) {
    failure = "cannot be read";
  } else if (wendrake::entryCount == 0) {
    // Waiting for ever while watching nothing would help nobody: the run
    // ends as a signal would end it.
    failure = "gives no folder to watch";
  } else {
    // Where the log lines are not copied to stderr, its reader still learns
    // of a program or folder that is not there.
    wendrake::WarnOfMissingProgramsAndFolders(copy == wendrake::LogCopy::kNone ? stderr : nullptr,
                                              argv[0]);
    wendrake::ArmAllEntries();
    // Ready once every folder's watch and baseline are in place: a change
    // made after `systemctl start` returns is seen. A run that cannot work
    // ends before this, and its start fails.
    NotifyServiceManager(argv[0], "READY=1");
    int signal = 0;
    // SIGHUP is logrotate's postrotate or `systemctl reload` asking for the
    // log to be opened anew, and the run goes on. The hangup of the
    // terminal it was started from still ends it, or closing that window
    // would leave it running unseen.
    const bool fromTerminal = HasControllingTerminal();
    while (sigwait(&ending, &signal) == 0 && signal == SIGHUP &&
           (!fromTerminal || HasControllingTerminal())) {
      wendrake::ReopenLog();
    }
    NotifyServiceManager(argv[0], "STOPPING=1");
  }
  wendrake::AllEndThread();
  wendrake::CloseLog();
  if (failure == nullptr) return 0;
  ReportCannotWork(argv[0], failure, copy);
  return kCannotWork;
}
