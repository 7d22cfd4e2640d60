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

constexpr int kRewatchMs = 1000;

// A notification that cannot be asked for again, or whose folder is gone
// (deleted, moved away, replaced by a file), would never wake its waiter
// again. Its folder is looked for by its path every second instead, and
// once a folder is there again a fresh notification takes the old one's
// place and the waiter is woken, so that a scan lists what the new folder
// already holds. The caller keeps the first handle; a slot maps it to the
// one in use. A slot is filled by the open, before the waiter exists, and
// then used by that one waiter; other waiters only pass over its key.
struct Watch {
  PVOID key;         // the handle the open returned; nullptr: a free slot
  HANDLE current;    // the notification waited on
  bool lost;         // the folder is to be looked for again
  bool placeholder;  // `current` is the event that stood for a missing folder
  char folder[MAX_PATH];
};

constexpr int kMaxWatches = 8;
Watch watches[kMaxWatches];

Watch* FindWatch(HANDLE key) {
  for (Watch& watch : watches) {
    if (InterlockedCompareExchangePointer(&watch.key, nullptr, nullptr) == key) return &watch;
  }
  return nullptr;
}

bool IsFolder(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

HANDLE OpenNotification(const char* folder) {
  // FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE, not the
  // sub-folders. A failure returns INVALID_HANDLE_VALUE, kInvalidHandle.
  return FindFirstChangeNotificationA(folder, FALSE,
                                      FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE);
}

// Watches the lost folder of `watch` anew if it is back; true if so.
bool Rewatch(Watch* watch) {
  if (!IsFolder(watch->folder)) return false;
  HANDLE fresh = OpenNotification(watch->folder);
  if (fresh == INVALID_HANDLE_VALUE) return false;
  if (watch->placeholder) {
    CloseHandle(watch->current);
  } else {
    FindCloseChangeNotification(watch->current);
  }
  watch->placeholder = false;
  watch->current = fresh;
  watch->lost = false;
  return true;
}

}  // namespace

Handle ChangeWatchOpen(const char* folder) {
  HANDLE watch = OpenNotification(folder);
  // A folder that is not there yet (a drive or share not up at start) is
  // looked for as one that went away. Its handle, the key, is an event that
  // is never set until the first notification takes its place.
  bool missing = watch == INVALID_HANDLE_VALUE && FolderGone(static_cast<int>(GetLastError()));
  if (missing) watch = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (watch == INVALID_HANDLE_VALUE || watch == nullptr) return kInvalidHandle;
  Watch* slot = FindWatch(nullptr);
  if (slot != nullptr && lstrlenA(folder) < MAX_PATH) {
    lstrcpynA(slot->folder, folder, MAX_PATH);
    slot->current = watch;
    slot->lost = missing;
    slot->placeholder = missing;
    InterlockedExchangePointer(&slot->key, watch);
  } else if (missing) {
    CloseHandle(watch);  // with no slot, nothing could look for the folder
    SetLastError(ERROR_PATH_NOT_FOUND);
    return kInvalidHandle;
  }
  return reinterpret_cast<Handle>(watch);
}

WaitResult ChangeWatchWait(Handle watch, int timeoutMs, ChangeDetail* detail) {
  // The notification names no file: every wake counts as a change of any
  // kind.
  if (detail != nullptr) {
    detail->onlyWrites = false;
    detail->writtenCount = 0;
  }
  if (StopRequested()) return WaitResult::kStopped;
  HANDLE stop = static_cast<HANDLE>(StopEvent());
  DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  bool unwatched = watch == kInvalidHandle;
  Watch* slot = unwatched ? nullptr : FindWatch(reinterpret_cast<HANDLE>(watch));
  if (slot != nullptr && slot->lost) {
    // Only the stop, the time limit or the folder's return ends the wait.
    DWORD start = GetTickCount();
    for (;;) {
      if (Rewatch(slot)) return WaitResult::kSignalled;
      DWORD waited = GetTickCount() - start;
      if (limit != INFINITE && waited >= limit) return WaitResult::kTimeout;
      DWORD step = limit == INFINITE || limit - waited > kRewatchMs ? kRewatchMs : limit - waited;
      if (stop == nullptr) {
        Sleep(step);
      } else if (WaitForSingleObject(stop, step) == WAIT_OBJECT_0) {
        return WaitResult::kStopped;
      }
    }
  }
  // A folder that is not watched never wakes its waiter; only the stop or
  // the time limit ends the wait.
  if (unwatched) {
    if (stop == nullptr) {
      Sleep(limit);
      return WaitResult::kTimeout;
    }
    return WaitForSingleObject(stop, limit) == WAIT_OBJECT_0 ? WaitResult::kStopped
                                                             : WaitResult::kTimeout;
  }
  HANDLE handle = slot != nullptr ? slot->current : reinterpret_cast<HANDLE>(watch);
  HANDLE objects[2] = {handle, stop};
  DWORD result = WaitForMultipleObjects(stop != nullptr ? 2 : 1, objects, FALSE, limit);
  if (result == WAIT_OBJECT_0) {
    bool rearmed = FindNextChangeNotification(handle);
    if (slot != nullptr && (!rearmed || !IsFolder(slot->folder))) slot->lost = true;
    return StopRequested() ? WaitResult::kStopped : WaitResult::kSignalled;
  }
  if (result == WAIT_OBJECT_0 + 1) return WaitResult::kStopped;
  if (result == WAIT_TIMEOUT) return WaitResult::kTimeout;
  return WaitResult::kFailed;
}

// Already done by the wait that returned (see the top of this file).
bool ChangeWatchRearm(Handle watch) {
  return watch != kInvalidHandle;
}

void ChangeWatchClose(Handle watch) {
  if (watch == kInvalidHandle) return;
  HANDLE handle = reinterpret_cast<HANDLE>(watch);
  Watch* slot = FindWatch(handle);
  if (slot != nullptr) {
    handle = slot->current;
    InterlockedExchangePointer(&slot->key, nullptr);
    if (slot->placeholder) {
      CloseHandle(handle);
      return;
    }
  }
  FindCloseChangeNotification(handle);
}

}  // namespace os
}  // namespace wendrake
