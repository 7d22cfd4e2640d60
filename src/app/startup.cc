#include "app/startup.h"

#include <cstring>

#include "config/command_file.h"
#include "config/thread_control.h"
#include "log/log.h"
#include "os/os.h"

namespace wendrake {

unsigned char highValueMarker[8];

bool LoadConfiguration() {
  std::memset(startDirectory, 0, sizeof startDirectory);
  // A directory that does not fit stays empty, and the command file then
  // counts as one that cannot be opened.
  os::CurrentDirectory(startDirectory, sizeof startDirectory);
  highValueMarker[0] = 0xFF;
  highValueMarker[1] = 0xFF;
  WriteLog(1, "");
  WriteLog(1, "= Start program ===========");
  ClearThreadControlTable();
  return LoadCommandFile() != 0;
}

}  // namespace wendrake
