// Which folders lie on shared file systems, on Windows: a UNC path, or a
// drive the system calls remote. A server may send no change notification
// at all, or drop them when its buffer overflows.
#include <windows.h>

#include <cstring>

#include "os/os.h"

namespace wendrake {
namespace os {

namespace {

bool IsSlash(char c) {
  return c == '\\' || c == '/';
}

}  // namespace

bool FolderNeedsPolling(const char* folder) {
  if (IsSlash(folder[0]) && IsSlash(folder[1])) {
    // \\server\share\..., also as \\?\UNC\server\share\...; \\?\C:\... and
    // \\.\C:\... name a drive.
    bool prefixed = (folder[2] == '?' || folder[2] == '.') && IsSlash(folder[3]);
    if (!prefixed || _strnicmp(folder + 4, "UNC", 3) == 0) return true;
    folder += 4;
  }
  if (folder[0] == '\0' || folder[1] != ':') {
    // A relative path lies on the current directory's drive.
    return GetDriveTypeA(nullptr) == DRIVE_REMOTE;
  }
  char root[4] = {folder[0], ':', '\\', '\0'};
  return GetDriveTypeA(root) == DRIVE_REMOTE;
}

}  // namespace os
}  // namespace wendrake
