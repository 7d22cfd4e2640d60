#include <windows.h>

#include <cstdlib>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {

std::string ProgramPath() {
  const char* installed = std::getenv("WENDRAKE_PROGRAM");
  if (installed == nullptr || *installed == '\0') {
    return (fs::path(HelperProgram("x")).parent_path().parent_path() / "Wendrake.exe").string();
  }
  std::string path = installed;
  // A Linux path handed through Wine names the same file on drive Z:.
  if (path[0] == '/') {
    for (char& c : path) c = c == '/' ? '\\' : c;
    path = "Z:" + path;
  }
  return path;
}

void Kill(HelperProcess& program) {
  TerminateProcess(reinterpret_cast<HANDLE>(program.id), 1);
  WaitHelper(program, 5000);
}

bool RequestEnd(const HelperProcess& program) {
  if (program.id == 0) return false;
  // Its hidden main window, once start-up, which runs inside the window's
  // creation, has made it.
  DWORD pid = GetProcessId(reinterpret_cast<HANDLE>(program.id));
  HWND window = nullptr;
  PollUntil(
      [&] {
        for (HWND w = FindWindowExA(nullptr, nullptr, "Kestrone", nullptr); w != nullptr;
             w = FindWindowExA(nullptr, w, "Kestrone", nullptr)) {
          DWORD owner = 0;
          GetWindowThreadProcessId(w, &owner);
          if (owner == pid) window = w;
        }
        return window != nullptr;
      },
      20000);
  return window != nullptr && PostMessageA(window, WM_CLOSE, 0, 0);
}

}  // namespace testing
}  // namespace wendrake
