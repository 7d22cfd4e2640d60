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
  // Its hidden main window, once start-up, which runs inside the window's
  // creation, has made it. One program runs at a time.
  HWND window = nullptr;
  PollUntil([&] { return (window = FindWindowA("Kestrone", nullptr)) != nullptr; }, 20000);
  return program.id != 0 && window != nullptr && PostMessageA(window, WM_CLOSE, 0, 0);
}

}  // namespace testing
}  // namespace wendrake
