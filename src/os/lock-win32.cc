// Named locks on Windows: named mutexes, shared with any process that opens
// the same name.
#include <windows.h>

#include "os/internal-win32.h"
#include "os/os.h"

namespace wendrake {
namespace os {

Handle LockCreate(const char* name) {
  // Not owned at creation; a mutex of this name made earlier (by a second
  // instance, say) is opened instead.
  return reinterpret_cast<Handle>(CreateMutexA(nullptr, FALSE, name));
}

Handle LockOpen(const char* name) {
  // SYNCHRONIZE alone lets a scan wait for the mutex but not give it back:
  // ReleaseMutex needs MUTEX_MODIFY_STATE. Without it the scan's thread
  // would keep the mutex for good, and any other process that takes the
  // name would wait for ever after the first scan.
  return reinterpret_cast<Handle>(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name));
}

bool LockAcquire(Handle lock) {
  if (StopRequested()) return false;
  HANDLE objects[2] = {reinterpret_cast<HANDLE>(lock), static_cast<HANDLE>(StopEvent())};
  DWORD count = objects[1] != nullptr ? 2 : 1;
  DWORD result = WaitForMultipleObjects(count, objects, FALSE, INFINITE);
  if (result == WAIT_OBJECT_0 + 1) return false;
  // WAIT_ABANDONED_0: a holder ended without giving the mutex back; it is
  // ours now all the same.
  bool owned = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED_0;
  if (owned && StopRequested()) {
    ReleaseMutex(objects[0]);  // got it just as the run ended
    return false;
  }
  // A wait that fails outright lets the scan go on without the mutex; the
  // watcher does not examine the wait's result.
  return true;
}

void LockRelease(Handle lock) {
  ReleaseMutex(reinterpret_cast<HANDLE>(lock));
}

void LockClose(Handle lock) {
  if (lock != 0) CloseHandle(reinterpret_cast<HANDLE>(lock));
}

}  // namespace os
}  // namespace wendrake
