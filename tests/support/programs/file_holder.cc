// file_holder MODE PATH HELD RELEASE: opens the file PATH, letting others
// read and write it too, creates the file HELD, waits until the file
// RELEASE exists and closes PATH. MODE is one of
//   read    open the existing PATH for reading
//   write   open the existing PATH for writing and append a few bytes
//   create  make PATH anew and keep writing to it, a few bytes every
//           tenth of a second, as a copy in progress does
//   stream  the same fifty times a second, as a database or a log does
// Exits 0, or 3 when PATH could not be opened or RELEASE never came.
#include <cstring>

#include "os/os.h"

using namespace wendrake::os;

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  // Writes every `every` rounds of 10 ms; 0: none after the first.
  int every = std::strcmp(argv[1], "create") == 0   ? 10
              : std::strcmp(argv[1], "stream") == 0 ? 2
                                                    : 0;
  bool create = every != 0;
  bool write = create || std::strcmp(argv[1], "write") == 0;
  Handle file = FileOpen(argv[2], write ? kAccessWrite : kAccessRead, kShareRead | kShareWrite,
                         create ? kCreateAlways : kOpenExisting);
  if (file == kInvalidHandle) return 3;
  if (write && !(FileSeekEnd(file) && FileWrite(file, "more", 4))) return 3;
  FileClose(FileOpen(argv[3], kAccessWrite, kShareRead | kShareWrite, kCreateAlways));
  // A test that failed halfway never releases; one minute is plenty.
  for (int i = 0; i < 6000 && !FileExists(argv[4]); ++i) {
    if (create && i % every == every - 1 && !FileWrite(file, "more", 4)) return 3;
    PauseFor(10);
  }
  FileClose(file);
  return FileExists(argv[4]) ? 0 : 3;
}
