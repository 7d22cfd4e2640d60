// The in-use probe on Linux. Windows answers "in use" when an open with no
// sharing fails; Linux has no share modes, so "in use" means that another
// open file description exists for the file. A write lease answers that in
// one call: F_SETLEASE F_WRLCK fails with EAGAIN while any other descriptor,
// reader or writer, is open. Where a lease is not permitted (a file of
// another owner, a file system without leases) the descriptors in /proc are
// looked through instead, and where those of some process cannot be read
// the probe cannot tell.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "os/internal-posix.h"
#include "os/os.h"

namespace wendrake {
namespace os {

namespace {

pthread_once_t leaseSignalOnce = PTHREAD_ONCE_INIT;

// Any open of the file by anyone while the probe holds its lease breaks the
// lease, and the kernel tells the holder with SIGIO, whose default action
// ends the process. Nothing here wants to be told: the lease is given back
// at once anyway.
void IgnoreLeaseBreakSignal() {
  struct sigaction current;
  if (sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGIO, &ignore, nullptr);
  }
}

bool IsNumber(const char* text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

// Whether one process (`pid`, a folder of /proc) has the file open.
Holders HasOpen(int procFd, const char* pid, std::uint64_t device, std::uint64_t inode) {
  char folder[48];
  std::snprintf(folder, sizeof folder, "%.32s/fd", pid);
  int fdsFd = openat(procFd, folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // Gone meanwhile holds nothing; another user's descriptors cannot be
  // read at all (EACCES), and may hold the file.
  if (fdsFd < 0) return errno == ENOENT || errno == ESRCH ? Holders::kNone : Holders::kUnseen;
  DIR* fds = fdopendir(fdsFd);
  if (fds == nullptr) {
    close(fdsFd);
    return Holders::kUnseen;
  }
  bool found = false;
  while (!found) {
    struct dirent* entry = readdir(fds);
    if (entry == nullptr) break;
    if (!IsNumber(entry->d_name)) continue;
    struct stat st;
    // Following the link reaches the open file itself, deleted or not.
    found = fstatat(fdsFd, entry->d_name, &st, 0) == 0 &&
            static_cast<std::uint64_t>(st.st_dev) == device &&
            static_cast<std::uint64_t>(st.st_ino) == inode;
  }
  closedir(fds);
  return found ? Holders::kFound : Holders::kNone;
}

ProbeResult InUse(int fd, int error) {
  if (fd >= 0) close(fd);
  errno = error;
  return ProbeResult::kInUse;
}

}  // namespace

Holders OtherProcessHoldsOpen(std::uint64_t device, std::uint64_t inode) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return Holders::kUnseen;  // nothing to go by
  char self[32];
  std::snprintf(self, sizeof self, "%ld", static_cast<long>(getpid()));
  Holders holders = Holders::kNone;
  while (holders != Holders::kFound) {
    struct dirent* entry = readdir(proc);
    if (entry == nullptr) break;
    if (!IsNumber(entry->d_name) || std::strcmp(entry->d_name, self) == 0) continue;
    Holders one = HasOpen(dirfd(proc), entry->d_name, device, inode);
    if (one != Holders::kNone) holders = one;
  }
  closedir(proc);
  return holders;
}

ProbeResult ProbeExclusive(const char* path, ProbeInfo* info) {
  pthread_once(&leaseSignalOnce, IgnoreLeaseBreakSignal);

  // Only a regular file is opened: opening a FIFO would release a writer
  // that waits for a reader, and a device may act on an open. Neither is a
  // file to hand on, and Windows cannot open a folder this way either.
  struct stat st;
  if (stat(path, &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return ProbeResult::kGone;  // never made again
    return InUse(-1, errno);
  }
  if (!S_ISREG(st.st_mode)) return InUse(-1, EISDIR);

  // Non-blocking, so that a lease held by someone else fails the open
  // instead of holding the scan up.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) return ProbeResult::kGone;
  if (fd < 0) return InUse(-1, errno);
  if (fstat(fd, &st) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return ProbeResult::kNoInformation;
  }
  if (!S_ISREG(st.st_mode)) return InUse(fd, EISDIR);  // replaced since the stat

  ProbeResult result = ProbeResult::kFree;
  if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
    fcntl(fd, F_SETLEASE, F_UNLCK);
  } else if (errno == EAGAIN) {
    return InUse(fd, EBUSY);  // refused because another descriptor is open
  } else {
    // No lease is allowed here (a file of another owner, without
    // CAP_LEASE). /proc shows the holders it lets this process see; a
    // writer of another user is not among them, and "free" would hand its
    // file on half written.
    switch (OtherProcessHoldsOpen(st.st_dev, st.st_ino)) {
      case Holders::kFound:
        return InUse(fd, EBUSY);
      case Holders::kUnseen:
        result = ProbeResult::kCannotTell;
        break;
      case Holders::kNone:
        break;
    }
  }

  if (!LocalTimeOfSeconds(st.st_mtime, &info->lastWrite)) {
    close(fd);
    return ProbeResult::kNoInformation;
  }
  info->size = st.st_size < 0 ? 0 : static_cast<std::uint64_t>(st.st_size);
  close(fd);
  return result;
}

}  // namespace os
}  // namespace wendrake
