// Named locks on Windows: named mutexes, shared with any process that opens
// the same name.
#include <windows.h>

#include "os/internal-win32.h"
#include "os/os.h"

namespace wendrake {
namespace os {

namespace {

// The mutex calls fail with NULL, not INVALID_HANDLE_VALUE.
Handle FromMutex(HANDLE mutex) {
  return mutex == nullptr ? kInvalidHandle : reinterpret_cast<Handle>(mutex);
}

}  // namespace

Handle LockCreate(const char* name) {
  // Not owned at creation; a mutex of this name made earlier (by a second
  // instance, say) is opened instead.
  return FromMutex(CreateMutexA(nullptr, FALSE, name));
}

Handle LockOpen(const char* name) {
  // SYNCHRONIZE lets a scan wait for the mutex; giving it back is another
  // right. The Win32 documentation gives release to MUTEX_MODIFY_STATE:
  // "Synchronization Object Security and Access Rights" (Platform SDK) has
  // it "required for the ReleaseMutex function", and MutexRights.Modify of
  // .NET is "the right to release a named mutex". Without it a scan's thread
  // could keep the mutex for good, and every other process that takes the
  // name would wait for ever after the first scan. Asking for it costs
  // nothing: LockCreate makes the mutex with the default security, which
  // grants the creating user every right that OpenMutex checks. Rights
  // belong to each handle: an outside holder that opened the name with
  // SYNCHRONIZE alone still holds the scans off.
  return FromMutex(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name));
}

bool LockAcquire(Handle lock) {
  if (lock == kInvalidHandle) return !StopRequested();  // no lock to wait for
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
  if (lock != kInvalidHandle) CloseHandle(reinterpret_cast<HANDLE>(lock));
}

}  // namespace os
}  // namespace wendrake
