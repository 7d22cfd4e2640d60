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

// Fills `out` from the next readdir entry. Entries that vanish between
// readdir and fstatat are passed over: a name that is already gone would
// only make the matching report a file that no longer exists.
bool ReadEntry(DIR* dir, DirEntry* out) {
  for (;;) {
    errno = 0;
    struct dirent* entry = readdir(dir);
    if (entry == nullptr) return false;

    struct stat st;
    // Links are followed, as the Windows search reports what a link points
    // at; a dangling link is still a name in the folder, so it is listed
    // from the link itself, as a file.
    if (fstatat(dirfd(dir), entry->d_name, &st, 0) != 0 &&
        fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      continue;
    }
    // A bounded copy, cut as "%s" into the buffer would cut it: this runs
    // for every file of every scan.
    std::size_t length = strnlen(entry->d_name, sizeof out->name - 1);
    std::memcpy(out->name, entry->d_name, length);
    out->name[length] = '\0';
    out->isDirectory = S_ISDIR(st.st_mode);  // "." and ".." too, as on Windows
    out->nameNotInCodePage = false;          // the name is the bytes on disk
    out->sizeLow = static_cast<std::uint32_t>(st.st_size);

    // The zone rules of the file's own date apply here; Windows applies the
    // bias in force at the moment of the scan instead.
    if (!LocalTimeOfSeconds(st.st_mtime, &out->lastWrite)) out->lastWrite = LocalTime{};
    return true;
  }
}

}  // namespace

Handle DirSearchFirst(const char* folder, DirEntry* first) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) return kInvalidHandle;
  if (!ReadEntry(dir, first)) {
    // An empty result is a failed search on Windows too (ERROR_FILE_NOT_FOUND).
    int saved = errno == 0 ? ENOENT : errno;
    closedir(dir);
    errno = saved;
    return kInvalidHandle;
  }
  return reinterpret_cast<Handle>(dir);
}

bool DirSearchNext(Handle search, DirEntry* next) {
  if (search == kInvalidHandle || search == 0) return false;
  return ReadEntry(AsDir(search), next);
}

void DirSearchClose(Handle search) {
  if (search != kInvalidHandle && search != 0) closedir(AsDir(search));
}

}  // namespace os
}  // namespace wendrake
