#include <windows.h>

#include <cstdlib>

#include "program.h"
#include "test_util.h"

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
  if (process_ == nullptr) return;
  if (running_) {
    TerminateProcess(static_cast<HANDLE>(process_), 1);
    WaitForSingleObject(static_cast<HANDLE>(process_), 5000);
  }
  CloseHandle(static_cast<HANDLE>(process_));
}

bool Program::Start(const std::filesystem::path& startDirectory, int showState) {
  std::string path = ProgramPath(), commandLine = "\"" + path + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (showState >= 0) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showState);
  }
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      startDirectory.string().c_str(), &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  pid_ = info.dwProcessId;
  running_ = true;
  return true;
}

bool Program::RequestEnd(int /*signal*/) {
  if (!running_) return false;
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

bool Program::WaitForExit(double seconds, int* exitCode) {
  DWORD code = 0;
  if (!running_ || WaitForSingleObject(static_cast<HANDLE>(process_),
                                       static_cast<DWORD>(seconds * 1000)) != WAIT_OBJECT_0) {
    return false;
  }
  GetExitCodeProcess(static_cast<HANDLE>(process_), &code);
  *exitCode = static_cast<int>(code);
  running_ = false;
  return true;
}

}  // namespace testing
}  // namespace wendrake
