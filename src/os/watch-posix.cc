// Folder change notification on Linux: one inotify instance per watched
// folder. Only the events that FILE_NOTIFY_CHANGE_FILE_NAME and
// FILE_NOTIFY_CHANGE_LAST_WRITE stand for on Windows are asked for, plus an
// attribute change (a touch changes the last-write time) and the folder's
// own removal. Opens, reads and closes without a write are left out: the
// in-use probe opens files in the folder, and that must never wake another
// scan.
#include <errno.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "os/internal-posix.h"
#include "os/os.h"

namespace wendrake {
namespace os {

namespace {

constexpr std::uint32_t kWatchedEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                         IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF |
                                         IN_MOVE_SELF;

// A writer that never stops could keep the queue from ever running dry;
// after this many reads the rest stays queued and wakes the next wait.
constexpr int kMaxDrainReads = 64;

// Empties the queue: the wake-up stands for everything queued so far, and
// what happens from now on (during the scan that follows) wakes the next
// wait. The events themselves are not looked at; an overflow of the queue
// is just one more wake-up.
void Drain(int fd) {
  alignas(struct inotify_event) char buffer[4096];
  for (int reads = 0; reads < kMaxDrainReads; ++reads) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) continue;
    if (got < 0 && errno == EINTR) continue;
    return;  // EAGAIN: nothing more queued
  }
}

}  // namespace

Handle ChangeWatchOpen(const char* folder) {
  int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return kInvalidHandle;
  fd = OffStdin(fd);
  if (fd < 0) return kInvalidHandle;
  if (inotify_add_watch(fd, folder, kWatchedEvents | IN_ONLYDIR) < 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return kInvalidHandle;
  }
  return fd;
}

WaitResult ChangeWatchWait(Handle watch, int timeoutMs) {
  // A folder that is not watched never wakes its waiter (on Windows the
  // wait on INVALID_HANDLE_VALUE, the process itself, never ends either);
  // only the stop or the time limit ends the wait, with no CPU spent.
  int fd = watch > 0 ? static_cast<int>(watch) : -1;
  std::int64_t start = MonotonicMs();
  for (;;) {
    if (StopRequested()) return WaitResult::kStopped;
    struct pollfd fds[2] = {{fd, POLLIN, 0}, {StopFd(), POLLIN, 0}};
    int n = poll(fds, 2, RemainingMs(start, timeoutMs));
    if (n < 0) {
      if (errno == EINTR) continue;  // the wake signal, or another; the stop is checked above
      return WaitResult::kFailed;
    }
    if (fds[1].revents != 0) return WaitResult::kStopped;
    if (n == 0) return WaitResult::kTimeout;
    if (fds[0].revents & POLLIN) {
      Drain(fd);
      return WaitResult::kSignalled;
    }
    errno = EBADF;  // POLLNVAL or POLLERR: not a usable watch
    return WaitResult::kFailed;
  }
}

// Nothing to do: the inotify queue keeps collecting events while a scan
// runs, and the next wait takes them.
bool ChangeWatchRearm(Handle watch) {
  return watch >= 0;
}

void ChangeWatchClose(Handle watch) {
  if (watch > 0) close(static_cast<int>(watch));
}

}  // namespace os
}  // namespace wendrake
