// Folder change notification on Linux: one inotify instance per watched
// folder. Only the events that FILE_NOTIFY_CHANGE_FILE_NAME and
// FILE_NOTIFY_CHANGE_LAST_WRITE stand for on Windows are asked for, plus an
// attribute change (a touch changes the last-write time) and the folder's
// own removal. Opens, reads and closes without a write are left out: the
// in-use probe opens files in the folder, and that must never wake another
// scan.
//
// A folder that is deleted, moved away or replaced by a file takes its
// inotify watch with it, and nothing would wake its waiter again. Such a
// folder, and one not there yet when the watch is opened, is looked for by
// its path every second instead; once a folder is
// there again it is watched anew and the waiter woken, so that a scan lists
// whatever the new folder already holds.
#include <errno.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

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

constexpr int kRewatchMs = 1000;

// What a wait needs to watch its folder anew. A slot is filled by the open
// (before the waiting thread exists) and then used by that one waiter; the
// other waiters only pass over it, while the shutdown may already be
// closing it.
struct Watch {
  std::atomic<int> fd{-1};  // the inotify descriptor, the Handle; -1: a free slot
  bool lost;                // the folder's watch is gone (IN_IGNORED)
  char folder[256];
};

constexpr int kMaxWatches = 8;
Watch watches[kMaxWatches];

Watch* FindWatch(int fd) {
  Watch* end = watches + kMaxWatches;
  Watch* found = std::find_if(watches, end, [fd](const Watch& watch) { return watch.fd == fd; });
  return found == end ? nullptr : found;
}

bool AddWatch(int fd, const char* folder) {
  return inotify_add_watch(fd, folder, kWatchedEvents | IN_ONLYDIR) >= 0;
}

// Notes a watch that its folder took with it. A folder moved away keeps
// its watch, on a folder the path no longer names: that watch is dropped
// here, so that the path is looked for instead.
void NoteLostWatch(int fd, const char* buffer, ssize_t length) {
  Watch* watch = FindWatch(fd);
  for (ssize_t at = 0; at < length;) {
    const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
    if (event->mask & IN_MOVE_SELF) inotify_rm_watch(fd, event->wd);
    if ((event->mask & (IN_IGNORED | IN_MOVE_SELF)) && watch != nullptr) watch->lost = true;
    at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
  }
}

// Tells whether the events were nothing but writes (IN_MODIFY) and names
// the files written. A file that another process keeps open and writes
// raises nothing else until it is closed (IN_CLOSE_WRITE).
void NoteWrites(const char* buffer, ssize_t length, ChangeDetail* detail) {
  for (ssize_t at = 0; at < length && detail->onlyWrites;) {
    const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
    at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
    if (event->mask != IN_MODIFY || event->len == 0) {
      detail->onlyWrites = false;
      break;
    }
    char(*end)[256] = detail->written + detail->writtenCount;
    auto same = [event](const char* name) { return std::strcmp(name, event->name) == 0; };
    if (std::find_if(detail->written, end, same) != end) continue;
    if (detail->writtenCount == kMaxWrittenNames) {
      detail->onlyWrites = false;
      break;
    }
    std::snprintf(*end, sizeof *end, "%s", event->name);
    ++detail->writtenCount;
  }
}

// Empties the queue: the wake-up stands for everything queued so far, and
// what happens from now on (during the scan that follows) wakes the next
// wait. The events are looked at for the loss of the folder's watch and for
// the detail; an overflow of the queue is one more wake-up of any kind.
void Drain(int fd, ChangeDetail* detail) {
  alignas(struct inotify_event) char buffer[4096];
  detail->onlyWrites = true;
  detail->writtenCount = 0;
  for (int reads = 0; reads < kMaxDrainReads; ++reads) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      NoteLostWatch(fd, buffer, got);
      NoteWrites(buffer, got, detail);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    break;  // EAGAIN: nothing more queued
  }
  if (detail->writtenCount == 0) detail->onlyWrites = false;
}

}  // namespace

Handle ChangeWatchOpen(const char* folder) {
  int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return kInvalidHandle;
  Watch* slot = FindWatch(-1);
  if (slot == nullptr || std::snprintf(slot->folder, sizeof slot->folder, "%s", folder) >=
                             static_cast<int>(sizeof slot->folder)) {
    close(fd);
    errno = slot == nullptr ? EMFILE : ENAMETOOLONG;
    return kInvalidHandle;
  }
  // A folder that is not there yet (a disk or share not up at start) is
  // looked for as one that went away.
  bool missing = false;
  if (!AddWatch(fd, folder)) {
    int saved = errno;
    missing = FolderGone(saved);
    if (!missing) {
      close(fd);
      errno = saved;
      return kInvalidHandle;
    }
  }
  slot->lost = missing;
  slot->fd = fd;
  return fd;
}

WaitResult ChangeWatchWait(Handle watch, int timeoutMs, ChangeDetail* detail) {
  ChangeDetail unused;
  if (detail == nullptr) detail = &unused;
  detail->onlyWrites = false;
  detail->writtenCount = 0;
  // A folder that is not watched never wakes its waiter (on Windows the
  // wait on INVALID_HANDLE_VALUE, the process itself, never ends either);
  // only the stop or the time limit ends the wait, with no CPU spent.
  int fd = static_cast<int>(watch);
  Watch* slot = fd >= 0 ? FindWatch(fd) : nullptr;
  std::int64_t start = MonotonicMs();
  for (;;) {
    if (StopRequested()) return WaitResult::kStopped;
    if (slot != nullptr && slot->lost && AddWatch(fd, slot->folder)) {
      slot->lost = false;
      return WaitResult::kSignalled;  // the folder is back: list what it holds
    }
    int remaining = RemainingMs(start, timeoutMs);
    bool lost = slot != nullptr && slot->lost;
    int step = lost && (remaining < 0 || remaining > kRewatchMs) ? kRewatchMs : remaining;
    struct pollfd fds[2] = {{fd, POLLIN, 0}, {StopFd(), POLLIN, 0}};
    int n = poll(fds, 2, step);
    if (n < 0) {
      if (errno == EINTR) continue;  // the wake signal, or another; the stop is checked above
      return WaitResult::kFailed;
    }
    if (fds[1].revents != 0) return WaitResult::kStopped;
    if (n == 0) {
      if (step != remaining) continue;  // only time to look for the folder again
      return WaitResult::kTimeout;
    }
    if (fds[0].revents & POLLIN) {
      Drain(fd, detail);
      return WaitResult::kSignalled;
    }
    errno = EBADF;  // POLLNVAL or POLLERR: not a usable watch
    return WaitResult::kFailed;
  }
}

// Nothing to do: the inotify queue keeps collecting events while a scan
// runs, and the next wait takes them.
bool ChangeWatchRearm(Handle watch) {
  return watch != kInvalidHandle;
}

void ChangeWatchClose(Handle watch) {
  if (watch == kInvalidHandle) return;
  Watch* slot = FindWatch(static_cast<int>(watch));
  if (slot != nullptr) slot->fd = -1;
  close(static_cast<int>(watch));
}

}  // namespace os
}  // namespace wendrake
