// Folder listing on Linux: opendir/readdir, with each entry's size and time
// from fstatat on the folder's descriptor, so a name is never joined to a
// path that might not fit.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdio>
#include <cstring>

#include "os/internal-posix.h"
#include "os/os.h"

namespace wendrake {
namespace os {
namespace {

DIR* AsDir(Handle search) {
  return reinterpret_cast<DIR*>(search);  // NOLINT(performance-no-int-to-ptr): the handle holds it
}

// Fills `out` from the next readdir entry: kEnd at the end of the folder,
// kFailed (errno set) when readdir or an entry's fstatat fails for any
// reason but the entry having gone. An entry that vanishes between readdir
// and fstatat is passed over: a name that is already gone would only make
// the matching report a file that no longer exists.
DirStep ReadEntry(DIR* dir, DirEntry* out) {
  for (;;) {
    errno = 0;
    struct dirent* entry = readdir(dir);
    if (entry == nullptr) return errno == 0 ? DirStep::kEnd : DirStep::kFailed;

    struct stat st;
    // Links are followed, as the Windows search reports what a link points
    // at; a link that leads nowhere is still a name in the folder, and is
    // told by the link itself.
    if (fstatat(dirfd(dir), entry->d_name, &st, 0) != 0) {
      if (errno != ENOENT) return DirStep::kFailed;
      if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) continue;
        return DirStep::kFailed;
      }
    }
    // A bounded copy, cut as "%s" into the buffer would cut it: this runs
    // for every file of every scan.
    std::size_t length = strnlen(entry->d_name, sizeof out->name - 1);
    std::memcpy(out->name, entry->d_name, length);
    out->name[length] = '\0';
    out->isDirectory = S_ISDIR(st.st_mode);  // "." and ".." too, as on Windows
    // A FIFO, a socket, a device or a dangling link has no contents to hand
    // on, and opening some of them has effects of its own.
    out->isSpecial = !out->isDirectory && !S_ISREG(st.st_mode);
    out->nameNotInCodePage = false;  // the name is the bytes on disk
    out->size = st.st_size < 0 ? 0 : static_cast<std::uint64_t>(st.st_size);

    // The zone rules of the file's own date apply here; Windows applies the
    // bias in force at the moment of the scan instead.
    if (!LocalTimeOfSeconds(st.st_mtime, &out->lastWrite)) out->lastWrite = LocalTime{};
    return DirStep::kEntry;
  }
}

}  // namespace

Handle DirSearchFirst(const char* folder, DirEntry* first) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) return kInvalidHandle;
  DirStep step = ReadEntry(dir, first);
  if (step != DirStep::kEntry) {
    // An empty result is a failed search on Windows too (ERROR_FILE_NOT_FOUND):
    // a folder deleted while it is read lists nothing, not even ".".
    int saved = step == DirStep::kEnd ? ENOENT : errno;
    closedir(dir);
    errno = saved;
    return kInvalidHandle;
  }
  return reinterpret_cast<Handle>(dir);
}

DirStep DirSearchNext(Handle search, DirEntry* next) {
  if (search == kInvalidHandle || search == 0) {
    errno = EBADF;
    return DirStep::kFailed;
  }
  return ReadEntry(AsDir(search), next);
}

bool FolderGone(int error) {
  return error == ENOENT || error == ENOTDIR;
}

void DirSearchClose(Handle search) {
  if (search != kInvalidHandle && search != 0) closedir(AsDir(search));
}

}  // namespace os
}  // namespace wendrake
