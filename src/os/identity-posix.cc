// Folder identity on Linux: the device and inode of the folder a path
// leads to.
#include <sys/stat.h>

#include <cerrno>

#include "os/os.h"

namespace wendrake {
namespace os {

bool GetFolderId(const char* path, FolderId* id) {
  struct stat status;
  if (stat(path, &status) != 0) return false;
  if (!S_ISDIR(status.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  id->volume = static_cast<std::uint64_t>(status.st_dev);
  id->index = static_cast<std::uint64_t>(status.st_ino);
  return true;
}

bool IsAbsolutePath(const char* path) {
  return path[0] == '/';
}

}  // namespace os
}  // namespace wendrake
