// open_probe MODE PATH: tries to open PATH as another process would and
// exits 0 when the open succeeds, 1 when it is refused.
//   write: for writing, sharing reading only (as a second instance does)
//   read:  for reading, sharing reading and writing (a log viewer)
#include <cstring>

#include "os/os.h"

int main(int argc, char** argv) {
  using namespace wendrake::os;
  if (argc != 3) return 2;
  bool write = std::strcmp(argv[1], "write") == 0;
  Handle h = write ? FileOpen(argv[2], kAccessWrite, kShareRead, kOpenAlways)
                   : FileOpen(argv[2], kAccessRead, kShareRead | kShareWrite, kOpenExisting);
  if (h == kInvalidHandle) return 1;
  FileClose(h);
  return 0;
}
