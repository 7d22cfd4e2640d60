// Starting programs on Windows: CreateProcessA with the command line as the
// launcher made it. The platform finds the program at the head of the line.
#include <windows.h>

#include <cstring>

#include "os/os.h"

namespace wendrake {
namespace os {

namespace {

// CreateProcessA takes at most this many characters, the NUL included.
constexpr std::size_t kCommandLineCapacity = 32768;

}  // namespace

bool StartProgram(const char* commandLine, char* const /*argv*/[], const char* workingDir) {
  // The command line is handed over in a buffer of our own: CreateProcess
  // may write to it, and the caller's stays as it was.
  char line[kCommandLineCapacity];
  std::size_t length = std::strlen(commandLine);
  if (length >= sizeof line) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  std::memcpy(line, commandLine, length + 1);

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process;
  std::memset(&process, 0, sizeof process);

  if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, workingDir, &startup,
                      &process)) {
    return false;  // GetLastError() still holds the reason
  }
  // The program runs on its own: nothing is waited for or read back.
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return true;
}

int ProgramNotFoundError() {
  return ERROR_FILE_NOT_FOUND;
}

}  // namespace os
}  // namespace wendrake
