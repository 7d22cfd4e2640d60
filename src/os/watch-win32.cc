// Folder change notification on Windows: a find-change notification on the
// folder alone, for changes of file names and of last-write times.
//
// The notification is asked for again the moment a wait returns, not after
// the scan: Wine forgets a change made while no request is pending (and a
// second request in a row drops one that is already noted), so a file that
// arrives during a scan would wait for some later change to be seen. Asked
// for at once, the change during the scan satisfies the next wait on
// Windows and on Wine alike, just as the inotify queue does on Linux, and
// ChangeWatchRearm has nothing left to do.
#include <windows.h>

#include "os/internal-win32.h"
#include "os/os.h"

namespace wendrake {
namespace os {

namespace {

// Notifications that could not be asked for again (their folder was
// deleted, say): waited on like a folder that was never watched, rather
// than returning at once on every pass.
constexpr int kMaxBroken = 8;
PVOID brokenWatches[kMaxBroken];

bool IsBroken(HANDLE watch) {
  for (PVOID& slot : brokenWatches) {
    if (InterlockedCompareExchangePointer(&slot, nullptr, nullptr) == watch) return true;
  }
  return false;
}

void SetBroken(HANDLE watch, bool broken) {
  for (PVOID& slot : brokenWatches) {
    if (broken ? InterlockedCompareExchangePointer(&slot, watch, nullptr) == nullptr
               : InterlockedCompareExchangePointer(&slot, nullptr, watch) == watch) {
      return;
    }
  }
}

}  // namespace

Handle ChangeWatchOpen(const char* folder) {
  // 17: FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE, not
  // the sub-folders. A failure returns INVALID_HANDLE_VALUE, kInvalidHandle.
  HANDLE watch = FindFirstChangeNotificationA(
      folder, FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE);
  return reinterpret_cast<Handle>(watch);
}

WaitResult ChangeWatchWait(Handle watch, int timeoutMs) {
  if (StopRequested()) return WaitResult::kStopped;
  HANDLE handle = reinterpret_cast<HANDLE>(watch);
  HANDLE stop = static_cast<HANDLE>(StopEvent());
  DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  // A folder that is not watched (or no longer can be) never wakes its
  // waiter; only the stop or the time limit ends the wait.
  if (watch == 0 || watch == kInvalidHandle || IsBroken(handle)) {
    if (stop == nullptr) {
      Sleep(limit);
      return WaitResult::kTimeout;
    }
    return WaitForSingleObject(stop, limit) == WAIT_OBJECT_0 ? WaitResult::kStopped
                                                             : WaitResult::kTimeout;
  }
  HANDLE objects[2] = {handle, stop};
  DWORD result = WaitForMultipleObjects(stop != nullptr ? 2 : 1, objects, FALSE, limit);
  if (result == WAIT_OBJECT_0) {
    if (!FindNextChangeNotification(handle)) SetBroken(handle, true);
    return StopRequested() ? WaitResult::kStopped : WaitResult::kSignalled;
  }
  if (result == WAIT_OBJECT_0 + 1) return WaitResult::kStopped;
  if (result == WAIT_TIMEOUT) return WaitResult::kTimeout;
  return WaitResult::kFailed;
}

// Already done by the wait that returned (see the top of this file).
bool ChangeWatchRearm(Handle watch) {
  return watch != 0 && watch != kInvalidHandle;
}

void ChangeWatchClose(Handle watch) {
  if (watch != 0 && watch != kInvalidHandle) {
    SetBroken(reinterpret_cast<HANDLE>(watch), false);
    FindCloseChangeNotification(reinterpret_cast<HANDLE>(watch));
  }
}

}  // namespace os
}  // namespace wendrake
