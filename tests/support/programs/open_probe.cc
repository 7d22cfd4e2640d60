// open_probe: opens a file or a named lock as another process would.
//   read|write PATH  tries once to open PATH, for reading sharing reading
//        and writing (a log viewer), or for writing sharing reading only
//        (a second instance); exits 0 when the open succeeds, 1 if refused
//   MODE PATH HELD RELEASE  holds PATH open, letting others read and write
//        it too, from the creation of the file HELD until the file RELEASE
//        exists. MODE: hold the existing PATH for reading; create PATH anew
//        and write a few bytes every tenth of a second, as a copy in
//        progress does; stream the same fifty times a second, as a database
//        or a log does
//   lock NAME HELD RELEASE [abandon|synchronize]  holds the named lock NAME
//        as a scan does; "abandon" ends holding it, "synchronize" (Windows)
//        opens the mutex with SYNCHRONIZE access alone, as an outside
//        program that only means to wait on it may
// A holder exits 0, 3 when it could not open or RELEASE never came.
#ifdef _WIN32
#include <windows.h>
#endif

#include <string>

#include "os/os.h"

using namespace wendrake::os;

namespace {

Handle TakeLock(const char* name, [[maybe_unused]] const std::string& how) {
  if (LockCreate(name) == kInvalidHandle) return kInvalidHandle;
  Handle lock = LockOpen(name);
#ifdef _WIN32
  if (how == "synchronize") {
    HANDLE waitOnly = OpenMutexA(SYNCHRONIZE, FALSE, name);
    lock = waitOnly == nullptr ? kInvalidHandle : reinterpret_cast<Handle>(waitOnly);
  }
#endif
  return lock != kInvalidHandle && LockAcquire(lock) ? lock : kInvalidHandle;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc == 3) {
    Handle h = mode == "write"
                   ? FileOpen(argv[2], kAccessWrite, kShareRead, kOpenAlways)
                   : FileOpen(argv[2], kAccessRead, kShareRead | kShareWrite, kOpenExisting);
    if (h == kInvalidHandle) return 1;
    FileClose(h);
    return 0;
  }
  if (argc != 5 && argc != 6) return 2;
  const std::string how = argc == 6 ? argv[5] : "";
  // Writes every `every` rounds of 10 ms; 0: none after the first.
  int every = mode == "create" ? 10 : mode == "stream" ? 2 : 0;
  Handle held = mode == "lock" ? TakeLock(argv[2], how)
                : mode == "hold"
                    ? FileOpen(argv[2], kAccessRead, kShareRead | kShareWrite, kOpenExisting)
                    : FileOpen(argv[2], kAccessWrite, kShareRead | kShareWrite, kCreateAlways);
  if (held == kInvalidHandle || (every != 0 && !FileWrite(held, "more", 4))) return 3;
  FileClose(FileOpen(argv[3], kAccessWrite, kShareRead | kShareWrite, kCreateAlways));
  // A test that failed halfway never releases; one minute is plenty.
  for (int i = 0; i < 6000 && !FileExists(argv[4]); ++i) {
    if (every != 0 && i % every == every - 1 && !FileWrite(held, "more", 4)) return 3;
    PauseFor(10);
  }
  if (!FileExists(argv[4])) return 3;
  // Ending closes what is open; a lock left abandoned is "abandon"'s test.
  if (mode == "lock" && how != "abandon") LockRelease(held);
  return 0;
}
