#include <windows.h>

#include <cstdlib>

#include "program.h"

namespace wendrake {
namespace testing {

std::string ProgramPath() {
  const char* installed = std::getenv("WENDRAKE_PROGRAM");
  if (installed == nullptr || *installed == '\0') {
    return (std::filesystem::path(HelperProgram("x")).parent_path().parent_path() / "Wendrake.exe")
        .string();
  }
  std::string path = installed;
  // A Linux path handed through Wine names the same file on drive Z:.
  if (path[0] == '/') {
    for (char& c : path) c = c == '/' ? '\\' : c;
    path = "Z:" + path;
  }
  return path;
}

Program::~Program() {
  if (!running()) return;
  TerminateProcess(reinterpret_cast<HANDLE>(process_.id), 1);
  WaitHelper(process_, 5000);
}

bool Program::Start(const std::filesystem::path& startDirectory, int showState) {
  process_ = StartProcess(ProgramPath(), {}, startDirectory.string(), showState);
  pid_ = running() ? GetProcessId(reinterpret_cast<HANDLE>(process_.id)) : 0;
  return running();
}

bool Program::RequestEnd(int /*signal*/) {
  if (!running()) return false;
  // Its hidden main window, once start-up, which runs inside the window's
  // creation, has made it.
  HWND window = nullptr;
  PollUntil(
      [&] {
        for (HWND w = FindWindowExA(nullptr, nullptr, "Kestrone", nullptr); w != nullptr;
             w = FindWindowExA(nullptr, w, "Kestrone", nullptr)) {
          DWORD owner = 0;
          GetWindowThreadProcessId(w, &owner);
          if (owner == static_cast<DWORD>(pid_)) window = w;
        }
        return window != nullptr;
      },
      20000);
  return window != nullptr && PostMessageA(window, WM_CLOSE, 0, 0);
}

}  // namespace testing
}  // namespace wendrake
