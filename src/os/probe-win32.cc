// The in-use probe on Windows: an open with no sharing at all fails while
// any other process has the file open, whatever sharing that process
// allowed.
#include <windows.h>

#include "os/os.h"

namespace wendrake {
namespace os {

ProbeResult ProbeExclusive(const char* path, ProbeInfo* info) {
  // OPEN_EXISTING: a file that vanished since the listing is not made
  // again, empty, in the watched folder; it is gone, not in use.
  HANDLE file =
      CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ProbeResult::kGone
                                                                          : ProbeResult::kInUse;
  }

  BY_HANDLE_FILE_INFORMATION data;
  FILETIME local;
  SYSTEMTIME parts;
  bool ok = GetFileInformationByHandle(file, &data) &&
            FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) &&
            FileTimeToSystemTime(&local, &parts);
  DWORD error = GetLastError();
  CloseHandle(file);
  if (!ok) {
    SetLastError(error);
    return ProbeResult::kNoInformation;
  }
  info->size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  info->lastWrite.year = parts.wYear;
  info->lastWrite.month = parts.wMonth;
  info->lastWrite.day = parts.wDay;
  info->lastWrite.hour = parts.wHour;
  info->lastWrite.minute = parts.wMinute;
  info->lastWrite.second = parts.wSecond;
  return ProbeResult::kFree;
}

}  // namespace os
}  // namespace wendrake
