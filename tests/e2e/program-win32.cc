#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "program.h"
#include "test_util.h"

namespace wendrake {
namespace testing {

std::string ProgramPath() {
  const char* installed = std::getenv("WENDRAKE_PROGRAM");
  if (installed != nullptr && *installed != '\0') {
    std::string path = installed;
    // A Linux path handed through Wine names the same file on drive Z:.
    if (!path.empty() && path[0] == '/') {
      for (char& c : path) c = c == '/' ? '\\' : c;
      path = "Z:" + path;
    }
    return path;
  }
  return (std::filesystem::path(HelperProgram("x")).parent_path().parent_path() /
          "Wendrake.exe")
      .string();
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
  std::string path = ProgramPath();
  std::string commandLine = "\"" + path + "\"";
  std::string dir = startDirectory.string();
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (showState >= 0) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showState);
  }
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      dir.c_str(), &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  pid_ = info.dwProcessId;
  running_ = true;
  return true;
}

namespace {

struct WindowSearch {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<WindowSearch*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char name[32] = {};
  GetClassNameA(window, name, sizeof name);
  if (owner == search->pid && std::string(name) == "Kestrone") {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

// The program's hidden main window, once it exists (start-up runs inside
// its creation).
HWND MainWindowOf(long long pid, double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    WindowSearch search = {static_cast<DWORD>(pid), nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    if (std::chrono::steady_clock::now() > deadline) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool Program::RequestEnd(int /*signal*/) {
  if (!running_) return false;
  HWND window = MainWindowOf(pid_, 20);
  return window != nullptr && PostMessageA(window, WM_CLOSE, 0, 0);
}

bool Program::WaitForExit(double seconds, int* exitCode) {
  if (!running_) return false;
  DWORD waited = WaitForSingleObject(static_cast<HANDLE>(process_),
                                     static_cast<DWORD>(seconds * 1000));
  if (waited != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  GetExitCodeProcess(static_cast<HANDLE>(process_), &code);
  *exitCode = static_cast<int>(code);
  running_ = false;
  return true;
}

}  // namespace testing
}  // namespace wendrake
