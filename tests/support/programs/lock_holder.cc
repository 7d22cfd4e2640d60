// lock_holder NAME HELD RELEASE [abandon|synchronize]: takes the named lock
// NAME as a scan does, creates the file HELD, waits until the file RELEASE
// exists and gives the lock back; with "abandon" it ends holding the lock
// instead. With "synchronize" (Windows) it opens the mutex with SYNCHRONIZE
// access alone, as an outside program that only means to wait on it may.
// Exits 0, 3 when the lock could not be had or RELEASE never came, or 4
// when the lock could not be given back.
#ifdef _WIN32
#include <windows.h>
#endif

#include <cstring>

#include "os/os.h"

using namespace wendrake::os;

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) return 2;
  const char* mode = argc == 5 ? argv[4] : "";
  if (LockCreate(argv[1]) == kInvalidHandle) return 3;
#ifdef _WIN32
  HANDLE waitOnly = std::strcmp(mode, "synchronize") == 0 ? OpenMutexA(SYNCHRONIZE, FALSE, argv[1])
                                                          : INVALID_HANDLE_VALUE;
  Handle lock = waitOnly == INVALID_HANDLE_VALUE ? LockOpen(argv[1])
                : waitOnly == nullptr            ? kInvalidHandle
                                                 : reinterpret_cast<Handle>(waitOnly);
#else
  Handle lock = LockOpen(argv[1]);
#endif
  if (lock == kInvalidHandle || !LockAcquire(lock)) return 3;
  FileClose(FileOpen(argv[2], kAccessWrite, kShareRead | kShareWrite, kCreateAlways));
  // A test that failed halfway never releases; one minute is plenty.
  for (int i = 0; i < 6000 && !FileExists(argv[3]); ++i) PauseFor(10);
  if (!FileExists(argv[3])) return 3;
  if (std::strcmp(mode, "abandon") == 0) return 0;
#ifdef _WIN32
  // Checked, as LockRelease does not say whether the mutex went back.
  if (!ReleaseMutex(reinterpret_cast<HANDLE>(lock))) return 4;
#else
  LockRelease(lock);
#endif
  LockClose(lock);
  return 0;
}
