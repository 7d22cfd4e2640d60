// Files on Windows: the ANSI file functions of kernel32.
#include <windows.h>

#include "os/os.h"

namespace wendrake {
namespace os {

int LastError() {
  return static_cast<int>(GetLastError());
}

int PathTooLongError() {
  return ERROR_FILENAME_EXCED_RANGE;
}

Handle FileOpen(const char* path, unsigned access, unsigned share, Disposition disposition) {
  DWORD desired = 0;
  if (access & kAccessRead) desired |= GENERIC_READ;
  if (access & kAccessWrite) desired |= GENERIC_WRITE;
  DWORD shareMode = 0;
  if (share & kShareRead) shareMode |= FILE_SHARE_READ;
  if (share & kShareWrite) shareMode |= FILE_SHARE_WRITE;
  DWORD create = OPEN_ALWAYS;
  if (disposition == kOpenExisting) create = OPEN_EXISTING;
  if (disposition == kCreateAlways) create = CREATE_ALWAYS;
  // A reparse point (a symbolic link, a junction) in the place of one of
  // our files is refused, not followed: the file it leads to would be
  // emptied and written. Looked at before the open, so that not even the
  // link is changed; the open takes a link itself, never its target, and
  // the look after it refuses one planted in between.
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return kInvalidHandle;
  }
  HANDLE h = CreateFileA(path, desired, shareMode, nullptr, create,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  BY_HANDLE_FILE_INFORMATION information;
  if (h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &information) &&
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    CloseHandle(h);
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return kInvalidHandle;
  }
  return reinterpret_cast<Handle>(h);
}

std::int64_t FileSeekEnd(Handle file) {
  LARGE_INTEGER end;
  LARGE_INTEGER none = {};
  if (!SetFilePointerEx(reinterpret_cast<HANDLE>(file), none, &end, FILE_END)) return -1;
  return end.QuadPart;
}

bool FileSetEnd(Handle file) {
  return SetEndOfFile(reinterpret_cast<HANDLE>(file)) != 0;
}

bool FileWrite(Handle file, const void* data, std::size_t length) {
  DWORD written = 0;
  BOOL ok = WriteFile(reinterpret_cast<HANDLE>(file), data, static_cast<DWORD>(length), &written,
                      nullptr);
  return ok && written == length;
}

long FileRead(Handle file, void* data, std::size_t length) {
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(file), data, static_cast<DWORD>(length), &got, nullptr)) {
    return -1;
  }
  return static_cast<long>(got);
}

void FileClose(Handle file) {
  if (file != kInvalidHandle) CloseHandle(reinterpret_cast<HANDLE>(file));
}

bool FileHeldByAnother(int error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool FileExists(const char* path) {
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

FileState CheckFileState(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileState::kAbsent : FileState::kPresent;
  }
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileState::kAbsent
                                                                        : FileState::kUnknown;
}

bool FileDelete(const char* path) {
  return DeleteFileA(path) != 0;
}

bool FileRename(const char* source, const char* target) {
  return MoveFileA(source, target) != 0;
}

bool FileReplace(const char* source, const char* target) {
  return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool FileSwap(const char* /*first*/, const char* /*second*/) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return false;
}

}  // namespace os
}  // namespace wendrake
