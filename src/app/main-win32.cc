// Wendrake.exe: one hidden window whose creation runs the start-up and
// whose destruction runs the shutdown; in between it only receives the tray
// icon's callbacks and the tray menu's commands. The tray icon is the
// user's only way to end the program.
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <cstdio>
#include <cstring>

#include "app/entry_checks.h"
#include "app/startup.h"
#include "config/command_file.h"
#include "config/thread_control.h"
#include "log/log.h"
#include "os/os.h"

namespace {

constexpr char kClassName[] = "Kestrone";
constexpr char kIconName[] = "WendrakeIcon";
constexpr char kProductName[] = "Wendrake";

constexpr UINT kTrayNotify = 1001;  // below WM_USER, as the tray record has always used
constexpr UINT kTrayIconId = 1000;
constexpr UINT kQuitCommand = 1002;
constexpr UINT kContinueCommand = 1003;

// The texts go to the wide forms of the menu and box calls, as UTF-16: the
// ANSI forms read bytes in the system's code page, so Japanese held as
// Shift-JIS shows as mojibake everywhere but on a Japanese system. Spelled
// as escapes so that this file's own encoding cannot change them.
constexpr wchar_t kQuitItem[] =
    L"Wendrake\u306e\u7d42\u4e86";                    // "Wendrake no shuuryou": end Wendrake
constexpr wchar_t kContinueItem[] = L"\u7d9a\u884c";  // "zokkou": continue
constexpr wchar_t kQuitQuestion[] =                   // end Wendrake? (full-width ?)
    L"Wendrake\u3092\u7d42\u4e86\u3057\u307e\u3059\u304b\uff1f";
constexpr wchar_t kBoxTitle[] = L"Wendrake";

// The tray record's first form, without the later extensions: everything up
// to the end of the 64-byte tip. The window and icon handles make it 88
// bytes in a 32-bit program and 104 in a 64-bit one; a size that matches no
// form of the record leaves the icon, and so the only way to end the
// program, to the shell's leniency.
constexpr DWORD kTrayRecordSize = NOTIFYICONDATAA_V1_SIZE;
static_assert(kTrayRecordSize == (sizeof(void*) == 8 ? 104 : 88), "the tray record's first form");

// How often, and how far apart, the icon is offered to a shell that is not
// ready for it yet (at log-on the program may start before Explorer).
constexpr int kTrayAddTries = 30;
constexpr UINT kTrayRetryMs = 2000;
constexpr UINT_PTR kTrayRetryTimer = 1;
// Log lines that found the log held by a reader are written with the next
// line, or at the latest by this timer.
constexpr UINT kLogRetryMs = 1000;
constexpr UINT_PTR kLogRetryTimer = 2;

HINSTANCE instance;
HMENU trayMenu;
int trayAddsLeft = 0;
int exitCode = 0;  // 1: the run could not work
NOTIFYICONDATAA trayIcon;
UINT taskbarCreated;    // the shell's "I restarted" broadcast
bool shutDown = false;  // the shutdown sequence has run

void AddTrayIcon(HWND window) {
  std::memset(&trayIcon, 0, sizeof trayIcon);
  trayIcon.cbSize = kTrayRecordSize;
  trayIcon.hWnd = window;
  trayIcon.uID = kTrayIconId;
  trayIcon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  trayIcon.uCallbackMessage = kTrayNotify;
  trayIcon.hIcon = LoadIconA(instance, kIconName);
  std::memcpy(trayIcon.szTip, kProductName, sizeof kProductName);
  // Without the icon the user has no way left to end the program: a shell
  // that refuses it now is asked again every few seconds for a minute.
  trayAddsLeft = kTrayAddTries;
  if (!Shell_NotifyIconA(NIM_ADD, &trayIcon))
    SetTimer(window, kTrayRetryTimer, kTrayRetryMs, nullptr);
}

void RetryTrayIcon(HWND window) {
  if (Shell_NotifyIconA(NIM_ADD, &trayIcon) || --trayAddsLeft <= 0) {
    KillTimer(window, kTrayRetryTimer);
  }
}

void DeleteTrayIcon() {
  Shell_NotifyIconA(NIM_DELETE, &trayIcon);
}

void MakeTrayMenu() {
  trayMenu = CreatePopupMenu();
  AppendMenuW(trayMenu, MF_STRING, kQuitCommand, kQuitItem);
  AppendMenuW(trayMenu, MF_STRING, kContinueCommand, kContinueItem);
}

void RequestShutdown(HWND window) {
  SendMessageA(window, WM_DESTROY, 0, 0);
}

// Whether files can be made in the start directory, the current one: a
// file is made there and deleted at once. Its log, snapshots and their
// rotation all need this; the read-only attribute that the access checks
// look at says nothing of a folder's permissions.
bool StartDirectoryWritable() {
  char name[MAX_PATH];
  if (GetTempFileNameA(".", "wdk", 0, name) == 0) return false;
  DeleteFileA(name);
  return true;
}

// Started from a shortcut, the Run key or a scheduled task, the program
// has no console, and a run that ended at once, or that watches nothing,
// looked like success: the reason is said in a box as well as in the log,
// and the run ends with exit code 1.
void SayCannotWork(const char* what) {
  const char* directory = wendrake::startDirectory[0] != '\0' ? wendrake::startDirectory : ".";
  char text[2 * wendrake::kStartDirectoryCapacity + 160];
  std::snprintf(text, sizeof text, "Wendrake cannot work: %s.\n\nCommand file: %s\\%s\nLog: %s\\%s",
                what, directory, wendrake::kCommandFileName, directory, wendrake::kLogFileName);
  MessageBoxA(nullptr, text, kProductName, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
  exitCode = 1;
}

// Started from the Run key or a scheduled task without "Start in", the
// current directory is the system's own (C:\Windows\System32), where the
// log would land or could not be written. When it holds no command file
// and the program's own folder does, that folder is the start directory.
bool MovedToProgramFolder() {
  if (GetFileAttributesA(wendrake::kCommandFileName) != INVALID_FILE_ATTRIBUTES) return false;
  char folder[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  char* name = std::strrchr(folder, '\\');
  if (name == nullptr) return false;
  *name = '\0';
  char file[MAX_PATH];
  int made = std::snprintf(file, sizeof file, "%s\\%s", folder, wendrake::kCommandFileName);
  if (made < 0 || made >= static_cast<int>(sizeof file) ||
      GetFileAttributesA(file) == INVALID_FILE_ATTRIBUTES) {
    return false;
  }
  return SetCurrentDirectoryA(folder) != 0;
}

void StartUp(HWND window) {
  bool moved = MovedToProgramFolder();
  if (!wendrake::ClaimStartDirectory()) {
    // The log is the other program's: this run writes nothing there.
    wendrake::CloseLog();
    wendrake::os::CurrentDirectory(wendrake::startDirectory, sizeof wendrake::startDirectory);
    SayCannotWork("another Wendrake runs in this start directory");
    RequestShutdown(window);
    return;
  }
  bool loaded = wendrake::LoadConfiguration();
  if (moved) {
    wendrake::LogF("StartDirectory(%s) -the folder of Wendrake.exe: the current one held no %s.",
                   wendrake::startDirectory, wendrake::kCommandFileName);
  }
  if (!loaded) {
    SayCannotWork("the command file cannot be read");
    RequestShutdown(window);
    return;
  }
  if (wendrake::entryCount == 0) {
    SayCannotWork("the command file gives no folder to watch");
    RequestShutdown(window);
    return;
  }
  // A start directory that cannot be written would keep no snapshot, and
  // the program would watch nothing while looking healthy: the run ends as
  // for a command file that cannot be opened.
  if (!StartDirectoryWritable()) {
    wendrake::LogF("StartDirectory Write error. Directory(%s) Code(%d)", wendrake::startDirectory,
                   static_cast<int>(GetLastError()));
    wendrake::WriteLog("== Abnormal end.==");
    SayCannotWork("the start directory cannot be written");
    RequestShutdown(window);
    return;
  }
  wendrake::WarnOfMissingProgramsAndFolders(nullptr, nullptr);
  wendrake::ArmAllEntries();
  SetTimer(window, kLogRetryTimer, kLogRetryMs, nullptr);
  AddTrayIcon(window);
  MakeTrayMenu();
}

void ShutDown() {
  // Two confirmation boxes can both be answered Yes; the second request
  // must not end, close or post anything again.
  if (shutDown) return;
  shutDown = true;
  wendrake::AllEndThread();
  DeleteTrayIcon();
  wendrake::CloseLog();
  PostQuitMessage(exitCode);
}

void OnTrayNotify(HWND window, LPARAM mouse) {
  // The box runs a message loop of its own, in which a second double click
  // would stack a second question that must be answered again.
  static bool asking = false;
  switch (mouse) {
    case WM_LBUTTONDBLCLK:
      if (asking) break;
      asking = true;
      if (MessageBoxW(nullptr, kQuitQuestion, kBoxTitle, MB_YESNO | MB_ICONQUESTION) == IDYES) {
        RequestShutdown(window);
      }
      asking = false;
      break;
    case WM_RBUTTONDOWN: {
      POINT cursor;
      GetCursorPos(&cursor);
      // A menu of a tray icon closes on a click elsewhere only when its
      // owner is the foreground window, and it must be followed by a message
      // of the owner's own; without both, a menu the user changed their
      // mind about stays open.
      SetForegroundWindow(window);
      TrackPopupMenu(trayMenu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
      PostMessageA(window, WM_NULL, 0, 0);
      break;
    }
    default:
      break;
  }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      StartUp(window);
      return 0;
    case WM_DESTROY:
      ShutDown();
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      // Windows ends the process once this returns: the watchers are
      // stopped, the end is logged and the icon removed before that.
      if (wParam != FALSE) ShutDown();
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kQuitCommand) RequestShutdown(window);
      return 0;
    case kTrayNotify:
      OnTrayNotify(window, lParam);
      return 0;
    case WM_TIMER:
      if (wParam == kTrayRetryTimer) RetryTrayIcon(window);
      if (wParam == kLogRetryTimer) wendrake::ReopenLog();
      return 0;
    default:
      break;
  }
  // Explorer lost every tray icon when it restarted; put ours back, or the
  // program could no longer be ended by its user.
  if (message == taskbarCreated && taskbarCreated != 0 && !shutDown && trayMenu != nullptr) {
    Shell_NotifyIconA(NIM_ADD, &trayIcon);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE thisInstance, HINSTANCE, LPSTR, int) {
  instance = thisInstance;
  wendrake::os::KeepFreedMemory();
  taskbarCreated = RegisterWindowMessageA("TaskbarCreated");

  WNDCLASSA windowClass = {};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, kIconName);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  windowClass.lpszMenuName = kClassName;
  windowClass.lpszClassName = kClassName;
  if (RegisterClassA(&windowClass) == 0) return 0;

  HWND window = CreateWindowExA(WS_EX_CLIENTEDGE, kClassName, kClassName, WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                                nullptr, instance, nullptr);
  if (window == nullptr) {
    // No window, no way to be asked to end: the watchers WM_CREATE may have
    // started are ended and the run closed, as at any shutdown.
    wendrake::LogF("CreateWindow error. Code(%d)", static_cast<int>(GetLastError()));
    ShutDown();
    return 0;
  }
  ShowWindow(window, SW_HIDE);
  UpdateWindow(window);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return exitCode;
}
