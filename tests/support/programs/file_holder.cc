// file_holder MODE PATH HELD RELEASE: opens the existing file PATH for
// reading (MODE read) or for writing, appending a few bytes (MODE write),
// letting others read and write it too, creates the file HELD, waits until
// the file RELEASE exists and closes PATH. Exits 0, or 3 when PATH could
// not be opened or RELEASE never came.
#include <cstring>

#include "os/os.h"

using namespace wendrake::os;

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  bool write = std::strcmp(argv[1], "write") == 0;
  Handle file = FileOpen(argv[2], write ? kAccessWrite : kAccessRead, kShareRead | kShareWrite,
                         kOpenExisting);
  if (file == kInvalidHandle) return 3;
  if (write && !(FileSeekEnd(file) && FileWrite(file, "more", 4))) return 3;
  FileClose(FileOpen(argv[3], kAccessWrite, kShareRead | kShareWrite, kCreateAlways));
  // A test that failed halfway never releases; one minute is plenty.
  for (int i = 0; i < 6000 && !FileExists(argv[4]); ++i) PauseFor(10);
  FileClose(file);
  return FileExists(argv[4]) ? 0 : 3;
}
