// Folder listing on Windows: the ANSI directory search of kernel32 on
// "<folder>\*.*".
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "os/os.h"

namespace wendrake {
namespace os {
namespace {

// The pattern buffer: the folder, "\*.*" and the NUL.
constexpr int kPatternCapacity = 256;

void Fill(const WIN32_FIND_DATAA& found, DirEntry* out) {
  std::snprintf(out->name, sizeof out->name, "%s", found.cFileName);  // the long name
  // The ANSI search puts '?' for each character the code page lacks; no
  // lead or trail byte of a double-byte code page is '?'.
  out->nameNotInCodePage = std::strchr(found.cFileName, '?') != nullptr;
  out->isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  out->isSpecial = false;
  out->size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;

  // FileTimeToLocalFileTime applies the bias in force now, not the one of
  // the file's date: after a daylight-saving change every unchanged file
  // shows a time an hour off. The matching relies on listings and probes
  // converting alike, so both go this one way.
  FILETIME local;
  SYSTEMTIME parts = {};
  if (!FileTimeToLocalFileTime(&found.ftLastWriteTime, &local) ||
      !FileTimeToSystemTime(&local, &parts)) {
    parts = SYSTEMTIME{};
  }
  out->lastWrite.year = parts.wYear;
  out->lastWrite.month = parts.wMonth;
  out->lastWrite.day = parts.wDay;
  out->lastWrite.hour = parts.wHour;
  out->lastWrite.minute = parts.wMinute;
  out->lastWrite.second = parts.wSecond;  // milliseconds are dropped
}

}  // namespace

Handle DirSearchFirst(const char* folder, DirEntry* first) {
  char pattern[kPatternCapacity];
  int length = std::snprintf(pattern, sizeof pattern, "%s\\*.*", folder);
  if (length < 0 || length >= kPatternCapacity) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return kInvalidHandle;
  }
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return kInvalidHandle;
  Fill(found, first);
  return reinterpret_cast<Handle>(search);
}

DirStep DirSearchNext(Handle search, DirEntry* next) {
  WIN32_FIND_DATAA found;
  if (!FindNextFileA(reinterpret_cast<HANDLE>(search), &found)) {
    // A share that drops in the middle of a listing (ERROR_NETNAME_DELETED,
    // say) ends it as surely as the last entry does, but says nothing of
    // the entries not yet listed.
    return GetLastError() == ERROR_NO_MORE_FILES ? DirStep::kEnd : DirStep::kFailed;
  }
  Fill(found, next);
  return DirStep::kEntry;
}

bool FolderGone(int error) {
  // ERROR_FILE_NOT_FOUND: nothing matched "*.*", an empty drive root;
  // ERROR_PATH_NOT_FOUND: no folder there; ERROR_DIRECTORY: a file there.
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY;
}

void DirSearchClose(Handle search) {
  if (search != kInvalidHandle && search != 0) FindClose(reinterpret_cast<HANDLE>(search));
}

}  // namespace os
}  // namespace wendrake
