#include "app/entry_checks.h"

#include "config/thread_control.h"
#include "log/log.h"
#include "os/os.h"

namespace wendrake {

namespace {

void Warn(std::FILE* alsoTo, const char* program, int index, const char* what, const char* value) {
  // Room for the whole value: the copy shows it all, the log cuts its line.
  char text[kMessageCapacity + kSettingCapacity];
  std::snprintf(text, sizeof text, "(%02d)... Warning %s(%s)", index, what, value);
  WriteLog(text);
  if (alsoTo != nullptr) std::fprintf(alsoTo, "%s: %s\n", program, text);
}

}  // namespace

int WarnOfMissingProgramsAndFolders(std::FILE* alsoTo, const char* program) {
  int warnings = 0;
  for (int i = 1; i <= entryCount; ++i) {
    const ThreadControlEntry& entry = EntryAt(i);
    if (!os::ProgramFound(entry.execute)) {
      Warn(alsoTo, program, i, "EXECUTE not found", entry.execute);
      ++warnings;
    }
    if (!os::LeadsToFolder(entry.current)) {
      Warn(alsoTo, program, i, "CURRENT not a folder", entry.current);
      ++warnings;
    }
  }
  return warnings;
}

}  // namespace wendrake
