// The program under test, as the suites find it, ask it to end and kill it.
#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

#include <cstdlib>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {

// $WENDRAKE_PROGRAM when set (the installed one), else the one built here;
// the path separator tells the platforms apart.
std::string ProgramPath() {
  const char* installed = std::getenv("WENDRAKE_PROGRAM");
  if (installed == nullptr || *installed == '\0') {
    return (TestBinDir().parent_path() / (kSeparator == '/' ? "wendrake" : "Wendrake.exe"))
        .string();
  }
  // A Linux path handed through Wine names the same file on drive Z:.
  return kSeparator == '\\' && installed[0] == '/' ? "Z:" + std::string(installed) : installed;
}

#ifdef _WIN32

bool RequestEnd(const HelperProcess& program) {
  // Its hidden main window, once start-up, which runs inside the window's
  // creation, has made it. One program runs at a time.
  HWND window = nullptr;
  PollUntil([&] { return (window = FindWindowA("Kestrone", nullptr)) != nullptr; }, 20000);
  return program.id != 0 && window != nullptr && PostMessageA(window, WM_CLOSE, 0, 0);
}

void Kill(HelperProcess& program) {
  TerminateProcess(reinterpret_cast<HANDLE>(program.id), 1);
  WaitHelper(program, 5000);
}

#else

bool RequestEnd(const HelperProcess& program) {
  return program.id != 0 && kill(static_cast<pid_t>(program.id), SIGTERM) == 0;
}

void Kill(HelperProcess& program) {
  kill(static_cast<pid_t>(program.id), SIGKILL);
  WaitHelper(program);
}

#endif

}  // namespace testing
}  // namespace wendrake
