// lock_holder NAME HELD RELEASE [abandon]: takes the named lock NAME as a
// scan does, creates the file HELD, waits until the file RELEASE exists and
// gives the lock back; with "abandon" it ends holding the lock instead.
// Exits 0, or 3 when the lock could not be had or RELEASE never came.
#include <cstring>

#include "os/os.h"

using namespace wendrake::os;

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) return 2;
  bool abandon = argc == 5 && std::strcmp(argv[4], "abandon") == 0;
  if (LockCreate(argv[1]) == 0) return 3;
  Handle lock = LockOpen(argv[1]);
  if (lock == 0 || !LockAcquire(lock)) return 3;
  FileClose(FileOpen(argv[2], kAccessWrite, kShareRead | kShareWrite, kCreateAlways));
  // A test that failed halfway never releases; one minute is plenty.
  for (int i = 0; i < 6000 && !FileExists(argv[3]); ++i) PauseFor(10);
  if (!FileExists(argv[3])) return 3;
  if (abandon) return 0;
  LockRelease(lock);
  LockClose(lock);
  return 0;
}
