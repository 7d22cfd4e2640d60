// Named locks on Linux: an flock on the lock file "<name>.lock" in the
// current directory, which is the start directory. The kernel releases it
// when its holder dies (as an abandoned mutex is owned by the next waiter),
// and a script can hold a scan off with flock(1) on the same file.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>

#include "os/internal-posix.h"
#include "os/os.h"

namespace wendrake {
namespace os {

namespace {

// Opens the lock file of `name` with `flags` added; kInvalidHandle on
// failure.
Handle OpenLockFile(const char* name, int flags) {
  char path[272];
  int length = std::snprintf(path, sizeof path, "%s%s", name, kLockFileSuffix);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) {
    errno = ENAMETOOLONG;
    return kInvalidHandle;
  }
  // Read-only is enough for flock and works on a lock file that another
  // user made. A link there is refused: created through it, the lock file
  // would appear wherever the link points.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | flags, 0666);
  return fd < 0 ? kInvalidHandle : fd;
}

}  // namespace

Handle LockCreate(const char* name) {
  return OpenLockFile(name, O_CREAT);
}

// A missing lock file fails, as OpenMutexA does for a mutex nobody made.
Handle LockOpen(const char* name) {
  return OpenLockFile(name, 0);
}

bool LockAcquire(Handle lock) {
  if (lock == kInvalidHandle) return !StopRequested();  // no lock to wait for
  int fd = static_cast<int>(lock);
  for (;;) {
    if (StopRequested()) return false;
    if (flock(fd, LOCK_EX) == 0) break;
    // EINTR: ThreadEnd's wake signal (the loop then sees the stop) or any
    // other handled signal (the wait goes on).
    if (errno != EINTR) {
      // A wait that cannot be made at all lets the scan go on without the
      // lock, as the Windows watcher does with a wait whose result it does
      // not examine.
      return true;
    }
  }
  if (StopRequested()) {
    // Got it just as the run ended: nothing may be scanned any more.
    flock(fd, LOCK_UN);
    return false;
  }
  return true;
}

void LockRelease(Handle lock) {
  flock(static_cast<int>(lock), LOCK_UN);
}

void LockClose(Handle lock) {
  if (lock != kInvalidHandle) close(static_cast<int>(lock));
}

}  // namespace os
}  // namespace wendrake
