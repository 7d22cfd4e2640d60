// Files on Linux: open(2) and friends. Windows share modes have no direct
// counterpart; the one the system relies on, "nobody else may write while I
// do", is kept with an exclusive flock taken at open.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "os/os.h"

namespace wendrake {
namespace os {

int LastError() {
  return errno;
}

int PathTooLongError() {
  return ENAMETOOLONG;
}

Handle FileOpen(const char* path, unsigned access, unsigned share, Disposition disposition) {
  // Started programs must not inherit our files. A link in the place of
  // one of them (our log or snapshot, in a start directory that others may
  // write) is refused, or whatever it leads to would be emptied and
  // overwritten with our records; none of our own files is ever a link.
  int flags = O_CLOEXEC | O_NOFOLLOW;
  if ((access & kAccessRead) && (access & kAccessWrite)) {
    flags |= O_RDWR;
  } else if (access & kAccessWrite) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  if ((access & kAccessWrite) && (access & kAccessAppend)) flags |= O_APPEND;
  if (disposition != kOpenExisting) flags |= O_CREAT;
  int fd = open(path, flags, 0666);
  if (fd < 0) return kInvalidHandle;

  if (((access & kAccessWrite) && !(share & kShareWrite)) || share == kShareNone) {
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int saved = errno;
      close(fd);
      errno = saved;
      return kInvalidHandle;
    }
  }
  // Emptied only once the lock is ours, so a refused open destroys nothing.
  if (disposition == kCreateAlways && ftruncate(fd, 0) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return kInvalidHandle;
  }
  return fd;
}

std::int64_t FileSeekEnd(Handle file) {
  return lseek(static_cast<int>(file), 0, SEEK_END);
}

bool FileSetEnd(Handle file) {
  int fd = static_cast<int>(file);
  off_t here = lseek(fd, 0, SEEK_CUR);
  struct stat st;
  if (here < 0 || fstat(fd, &st) != 0) return false;
  // Nothing to cut is not cut: a truncation is no cheap call on ext4 even
  // when the length stays.
  return st.st_size <= here || ftruncate(fd, here) == 0;
}

bool FileWrite(Handle file, const void* data, std::size_t length) {
  ssize_t written = write(static_cast<int>(file), data, length);
  return written >= 0 && static_cast<std::size_t>(written) == length;
}

long FileRead(Handle file, void* data, std::size_t length) {
  ssize_t got = read(static_cast<int>(file), data, length);
  return got < 0 ? -1 : static_cast<long>(got);
}

void FileClose(Handle file) {
  if (file == kInvalidHandle) return;
  int fd = static_cast<int>(file);
  // The lock belongs to the open file, not to this descriptor: a program
  // that another thread is starting at this moment holds a copy of it until
  // its exec, and close alone would leave the lock with that copy. The
  // scan that reopens the file at once (a snapshot file) would then be
  // refused and read it as empty. Given up here, the lock goes with the
  // close whatever copies exist. Harmless on a descriptor without one.
  flock(fd, LOCK_UN);
  close(fd);
}

bool FileHeldByAnother(int error) {
  return error == EWOULDBLOCK || error == EAGAIN;
}

bool FileExists(const char* path) {
  // The name itself, as Windows sees it: a link counts even where it leads
  // nowhere, so a stale one of ours is deleted rather than left in the way.
  struct stat st;
  return lstat(path, &st) == 0;
}

FileState CheckFileState(const char* path) {
  struct stat st;
  if (stat(path, &st) == 0) return S_ISREG(st.st_mode) ? FileState::kPresent : FileState::kAbsent;
  return errno == ENOENT || errno == ENOTDIR ? FileState::kAbsent : FileState::kUnknown;
}

bool FileDelete(const char* path) {
  return unlink(path) == 0;
}

bool FileRename(const char* source, const char* target) {
  // MoveFileA refuses an existing target; rename(2) would replace it.
  if (access(target, F_OK) == 0) {
    errno = EEXIST;
    return false;
  }
  return rename(source, target) == 0;
}

bool FileReplace(const char* source, const char* target) {
  return rename(source, target) == 0;
}

bool FileSwap(const char* first, const char* second) {
  // A folder or a link in the way is left for the caller's rename to
  // refuse or replace, as it would be without the swap.
  struct stat a;
  struct stat b;
  if (lstat(first, &a) != 0 || lstat(second, &b) != 0 || !S_ISREG(a.st_mode) ||
      !S_ISREG(b.st_mode)) {
    return false;
  }
  // Unlike a rename over an existing file, the swap does not make ext4
  // write the renamed file out at once (auto_da_alloc): snapshot files that
  // a later scan empties again need never reach the disk.
  return renameat2(AT_FDCWD, first, AT_FDCWD, second, RENAME_EXCHANGE) == 0;
}

bool FileStillNamed(Handle file, const char* path) {
  struct stat named;
  struct stat open;
  // A name we cannot look at is taken as still ours: reopening could not
  // reach it either.
  if (lstat(path, &named) != 0) return errno != ENOENT && errno != ENOTDIR;
  if (fstat(static_cast<int>(file), &open) != 0) return true;
  return named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

bool FileTakeOver(Handle file, Handle fresh) {
  // dup2 would drop close-on-exec, and every program started later would
  // inherit the file.
  bool taken = dup3(static_cast<int>(fresh), static_cast<int>(file), O_CLOEXEC) >= 0;
  int saved = errno;
  // Only the descriptor goes: the flock belongs to the open file, which
  // `file` now holds.
  close(static_cast<int>(fresh));
  errno = saved;
  return taken;
}

}  // namespace os
}  // namespace wendrake
