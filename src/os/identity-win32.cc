// Folder identity on Windows: the volume serial number and file index of
// the folder a path leads to, read through a handle on the folder itself.
#include <windows.h>

#include "os/os.h"

namespace wendrake {
namespace os {

bool GetFolderId(const char* path, FolderId* id) {
  // FILE_FLAG_BACKUP_SEMANTICS opens a folder; no access right is needed
  // to read its identity, and every sharing is left to others.
  HANDLE folder = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  BOOL read = GetFileInformationByHandle(folder, &info);
  DWORD error = GetLastError();
  CloseHandle(folder);
  if (!read) {
    SetLastError(error);
    return false;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    SetLastError(ERROR_DIRECTORY);
    return false;
  }
  id->volume = info.dwVolumeSerialNumber;
  id->index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

bool IsAbsolutePath(const char* path) {
  bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
               path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  bool unc = (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/');
  return drive || unc;
}

}  // namespace os
}  // namespace wendrake
