// The Windows program's shell, driven from outside as its user drives it:
// the tray icon's callbacks reach its hidden window, the menu is worked
// with the keyboard, the confirmation box is answered with its buttons.
// Only what another process can see is looked at: windows, their texts,
// the exit code and the log.
#include <gtest/gtest.h>

// windows.h first: the other two build on it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "program.h"
#include "test_util.h"

namespace wendrake {
namespace testing {
namespace {

namespace fs = std::filesystem;

constexpr UINT kTrayNotify = 1001;
constexpr WPARAM kTrayIconId = 1000;
// The shell's texts, as the Shift-JIS bytes handed to the ANSI functions.
constexpr char kQuitItem[] = "Wendrake\x82\xcc\x8f\x49\x97\xb9";
constexpr char kContinueItem[] = "\x91\xb1\x8d\x73";
constexpr char kQuitQuestion[] =
    "Wendrake\x82\xf0\x8f\x49\x97\xb9\x82\xb5\x82\xdc\x82\xb7\x82\xa9\x81\x48";

bool IsWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

struct WindowSearch {
  DWORD pid;
  const char* className;
  HWND found;
};

BOOL CALLBACK MatchVisibleWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<WindowSearch*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->pid || !IsWindowVisible(window) || ClassOf(window) != search->className) {
    return TRUE;
  }
  search->found = window;
  return FALSE;
}

// A visible top-level window of `className` that process `pid` owns.
HWND VisibleWindowOf(long long pid, const char* className) {
  WindowSearch search = {static_cast<DWORD>(pid), className, nullptr};
  EnumWindows(MatchVisibleWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForVisibleWindowOf(long long pid, const char* className) {
  HWND found = nullptr;
  PollUntil([&] { return (found = VisibleWindowOf(pid, className)) != nullptr; });
  return found;
}

bool WaitUntilClosed(HWND window) {
  return PollUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); });
}

// Keys as the keyboard delivers them to the thread that runs a menu or a
// dialog box; both take their keys from the thread's queue.
void PressKeys(HWND window, const std::vector<WPARAM>& keys) {
  for (WPARAM key : keys) {
    PostMessageA(window, WM_KEYDOWN, key, 1);
    PostMessageA(window, WM_KEYUP, key, 0xC0000001);
  }
}

std::string TextOf(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// Runs the user32 function `function(a1, ..., a5)` on a thread of its own
// inside process `pid` and returns its 32-bit result. Wine keeps a menu inside the process that
// made it, so GetMenuStringA from another process fails there with
// ERROR_INVALID_MENU_HANDLE; asked inside the program, it answers. A few
// x86-64 instructions written into the program make the call.
bool CallInside(long long pid, const char* function, const ULONG_PTR (&args)[5], DWORD* result) {
#if defined(__x86_64__) || defined(_M_X64)
  HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                                   PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE,
                               FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return false;
  // user32 need not sit at the same address in the program as here.
  HMODULE ours = GetModuleHandleA("user32.dll");
  HMODULE modules[256];
  DWORD needed = 0;
  ULONG_PTR theirs = 0;
  if (EnumProcessModules(process, modules, sizeof modules, &needed)) {
    for (DWORD i = 0; i < needed / sizeof modules[0] && i < 256; ++i) {
      char name[MAX_PATH] = {};
      GetModuleBaseNameA(process, modules[i], name, sizeof name);
      if (lstrcmpiA(name, "user32.dll") == 0) theirs = reinterpret_cast<ULONG_PTR>(modules[i]);
    }
  }
  FARPROC local = GetProcAddress(ours, function);
  if (theirs == 0 || local == nullptr) {
    CloseHandle(process);
    return false;
  }
  ULONG_PTR target =
      theirs + (reinterpret_cast<ULONG_PTR>(local) - reinterpret_cast<ULONG_PTR>(ours));

  // sub rsp,38h; mov rcx/rdx/r8/r9,imm64; mov rax,imm64; mov [rsp+20h],rax;
  // mov rax,imm64; call rax; add rsp,38h; ret
  unsigned char code[80];
  std::size_t at = 0;
  auto bytes = [&](std::initializer_list<unsigned char> some) {
    for (unsigned char b : some) code[at++] = b;
  };
  auto imm64 = [&](ULONG_PTR value) {
    std::memcpy(code + at, &value, 8);
    at += 8;
  };
  bytes({0x48, 0x83, 0xEC, 0x38});
  bytes({0x48, 0xB9});
  imm64(args[0]);
  bytes({0x48, 0xBA});
  imm64(args[1]);
  bytes({0x49, 0xB8});
  imm64(args[2]);
  bytes({0x49, 0xB9});
  imm64(args[3]);
  bytes({0x48, 0xB8});
  imm64(args[4]);
  bytes({0x48, 0x89, 0x44, 0x24, 0x20});
  bytes({0x48, 0xB8});
  imm64(target);
  bytes({0xFF, 0xD0, 0x48, 0x83, 0xC4, 0x38, 0xC3});

  void* remote = VirtualAllocEx(process, nullptr, sizeof code, MEM_COMMIT | MEM_RESERVE,
                                PAGE_EXECUTE_READWRITE);
  bool done = false;
  if (remote != nullptr && WriteProcessMemory(process, remote, code, at, nullptr)) {
    FlushInstructionCache(process, remote, at);
    HANDLE thread = CreateRemoteThread(
        process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(remote), nullptr, 0, nullptr);
    if (thread != nullptr) {
      done =
          WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0 && GetExitCodeThread(thread, result);
      CloseHandle(thread);
    }
  }
  if (remote != nullptr) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  return done;
#else
  (void)pid;
  (void)function;
  (void)args;
  (void)result;
  return false;
#endif
}

// Scratch memory inside another process, for calls whose answer lands
// behind a pointer.
class RemoteBuffer {
 public:
  RemoteBuffer(long long pid, std::size_t size) : size_(size) {
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                           static_cast<DWORD>(pid));
    if (process_ != nullptr) {
      address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
  }
  ~RemoteBuffer() {
    if (address_ != nullptr) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_ != nullptr) CloseHandle(process_);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  bool ok() const { return address_ != nullptr; }
  ULONG_PTR at(std::size_t offset) const { return reinterpret_cast<ULONG_PTR>(address_) + offset; }
  bool Write(std::size_t offset, const void* data, std::size_t length) {
    return WriteProcessMemory(process_, reinterpret_cast<void*>(at(offset)), data, length, nullptr);
  }
  bool Read(std::size_t offset, void* data, std::size_t length) const {
    return offset + length <= size_ &&
           ReadProcessMemory(process_, reinterpret_cast<void*>(at(offset)), data, length, nullptr);
  }

 private:
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
  std::size_t size_;
};

// The text of the menu item at `position`, read inside process `pid`.
std::string MenuItemText(long long pid, HMENU menu, int position) {
  RemoteBuffer text(pid, 256);
  if (!text.ok()) return "<no buffer>";
  ULONG_PTR args[5] = {reinterpret_cast<ULONG_PTR>(menu), static_cast<ULONG_PTR>(position),
                       text.at(0), 255, MF_BYPOSITION};
  DWORD length = 0;
  if (!CallInside(pid, "GetMenuStringA", args, &length)) return "<not called>";
  char bytes[256] = {};
  text.Read(0, bytes, length < 255 ? length : 255);
  return bytes;
}

// Wine's own tray, shown on a display without a system tray: each icon is
// a window of class "__winex11_tray_icon" in explorer.exe.
BOOL CALLBACK CollectTrayIcon(HWND window, LPARAM parameter) {
  if (ClassOf(window) == "__winex11_tray_icon") {
    reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
  }
  return TRUE;
}

BOOL CALLBACK CollectTrayIcons(HWND window, LPARAM parameter) {
  CollectTrayIcon(window, parameter);
  EnumChildWindows(window, CollectTrayIcon, parameter);
  return TRUE;
}

std::vector<HWND> WineTrayIcons() {
  std::vector<HWND> icons;
  EnumWindows(CollectTrayIcons, reinterpret_cast<LPARAM>(&icons));
  return icons;
}

struct TipSearch {
  HWND icon;
  std::wstring tip;
  bool found;
};

// The tip of a Wine tray icon: the text of the icon's tool in one of the
// tooltip windows of the icon's process, asked for with buffers inside
// that process.
BOOL CALLBACK FindTip(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<TipSearch*>(parameter);
  DWORD iconProcess = 0;
  DWORD owner = 0;
  GetWindowThreadProcessId(search->icon, &iconProcess);
  GetWindowThreadProcessId(window, &owner);
  if (owner != iconProcess || ClassOf(window) != TOOLTIPS_CLASSA) return TRUE;
  RemoteBuffer remote(owner, 4096);
  if (!remote.ok()) return TRUE;
  DWORD_PTR tools = 0;
  SendMessageTimeoutW(window, TTM_GETTOOLCOUNT, 0, 0, SMTO_ABORTIFHUNG, 10000, &tools);
  for (DWORD_PTR i = 0; i < tools; ++i) {
    TTTOOLINFOW tool = {};
    tool.cbSize = sizeof tool;
    tool.lpszText = reinterpret_cast<LPWSTR>(remote.at(1024));
    wchar_t none = 0;
    remote.Write(0, &tool, sizeof tool);
    remote.Write(1024, &none, sizeof none);
    DWORD_PTR got = 0;
    SendMessageTimeoutW(window, TTM_ENUMTOOLSW, i, static_cast<LPARAM>(remote.at(0)),
                        SMTO_ABORTIFHUNG, 10000, &got);
    remote.Read(0, &tool, sizeof tool);
    if (!got || tool.hwnd != search->icon) continue;
    wchar_t text[512] = {};
    remote.Read(1024, text, sizeof text - sizeof text[0]);
    search->tip = text;
    search->found = true;
    return FALSE;
  }
  return TRUE;
}

class ShellTest : public ::testing::Test {
 protected:
  ShellTest() {
    fs::create_directory(start_.path() / "in");
    WriteWholeFile(start_.path() / "WKCommand.txt",
                   "ACTION=A FOLDER=\"" + (start_.path() / "in").string() + "\" EXECUTE=" +
                       HelperProgram("argv_recorder") + " CURRENT=\"" + start_.str() + "\"\n");
  }
  ~ShellTest() override {
    if (program_.running()) {
      program_.RequestEnd();
      int code = 0;
      program_.WaitForExit(20, &code);
    }
  }

  // Starts the program and finds its window. Posted callbacks wait in the
  // window's queue until the start-up, tray icon and menu included, is
  // done.
  void Start(int showState = -1) {
    ASSERT_TRUE(program_.Start(start_.path(), showState));
    ASSERT_TRUE(PollUntil([&] { return (window_ = MainWindow()) != nullptr; }));
  }

  HWND MainWindow() const {
    HWND found = nullptr;
    for (HWND w = FindWindowExA(nullptr, nullptr, "Kestrone", nullptr); w != nullptr;
         w = FindWindowExA(nullptr, w, "Kestrone", nullptr)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == static_cast<DWORD>(program_.pid())) found = w;
    }
    return found;
  }

  // What the tray icon sends the window when the mouse does `mouse` over it.
  void Tray(LPARAM mouse) { PostMessageA(window_, kTrayNotify, kTrayIconId, mouse); }

  HWND OpenMenu() {
    Tray(WM_RBUTTONDOWN);
    return WaitForVisibleWindowOf(program_.pid(), "#32768");
  }

  HWND OpenBox() {
    Tray(WM_LBUTTONDBLCLK);
    return WaitForVisibleWindowOf(program_.pid(), "#32770");
  }

  void ExpectNormalEnd() {
    int code = -1;
    ASSERT_TRUE(program_.WaitForExit(30, &code));
    EXPECT_EQ(code, 0);
    std::vector<std::string> log = LogTexts(ReadWholeFile(start_.path() / "Wendrake.log"));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Ended - AllEndThread");
  }

  ScopedTempDir start_;
  Program program_;
  HWND window_ = nullptr;
};

class ShowStateTest : public ShellTest, public ::testing::WithParamInterface<int> {};

TEST_P(ShowStateTest, WindowStaysHiddenAndWmCloseEndsTheProgram) {
  Start(GetParam());
  // A callback is handled only by the message loop, after the window was
  // hidden. (A sent message would not do: the start-up answers those while
  // it waits for the tray.)
  HWND menuWindow = OpenMenu();
  ASSERT_NE(menuWindow, nullptr);
  EXPECT_FALSE(IsWindowVisible(window_));
  EXPECT_EQ(TextOf(window_), "Kestrone");
  PressKeys(menuWindow, {VK_ESCAPE});
  ASSERT_TRUE(WaitUntilClosed(menuWindow));
  ASSERT_TRUE(program_.RequestEnd());
  ExpectNormalEnd();
}

INSTANTIATE_TEST_SUITE_P(LauncherShowStates, ShowStateTest,
                         ::testing::Values(-1, SW_SHOWNORMAL, SW_SHOWMAXIMIZED, SW_SHOWMINIMIZED));

TEST_F(ShellTest, MenuHoldsBothItemsAndItsQuitItemEndsTheProgram) {
  Start();
  HWND menuWindow = OpenMenu();
  ASSERT_NE(menuWindow, nullptr);
  HMENU menu = reinterpret_cast<HMENU>(SendMessageA(menuWindow, MN_GETHMENU, 0, 0));
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(MenuItemText(program_.pid(), menu, 0), kQuitItem);
  EXPECT_EQ(MenuItemText(program_.pid(), menu, 1), kContinueItem);
  EXPECT_EQ(MenuItemText(program_.pid(), menu, 2), "");  // no third item
  PressKeys(menuWindow, {VK_DOWN, VK_RETURN});           // the first item
  ExpectNormalEnd();
}

struct MenuClose {
  const char* name;
  std::vector<WPARAM> keys;
};

void PrintTo(const MenuClose& close, std::ostream* out) {
  *out << close.name;
}

class MenuCloseTest : public ShellTest, public ::testing::WithParamInterface<MenuClose> {};

TEST_P(MenuCloseTest, LeavesTheProgramRunning) {
  Start();
  HWND menuWindow = OpenMenu();
  ASSERT_NE(menuWindow, nullptr);
  PressKeys(menuWindow, GetParam().keys);
  ASSERT_TRUE(WaitUntilClosed(menuWindow));
  // Whatever the menu sent the window was queued before the menu closed,
  // so the program is past it once it opens the menu again.
  HWND again = OpenMenu();
  ASSERT_NE(again, nullptr);
  PressKeys(again, {VK_DOWN, VK_RETURN});
  ExpectNormalEnd();
}

INSTANTIATE_TEST_SUITE_P(Menu, MenuCloseTest,
                         ::testing::Values(MenuClose{"ContinueItem", {VK_DOWN, VK_DOWN, VK_RETURN}},
                                           MenuClose{"Dismissed", {VK_ESCAPE}}),
                         [](const ::testing::TestParamInfo<MenuClose>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(ShellTest, DoubleClickAsksAndOnlyYesEndsTheProgram) {
  Start();
  HWND box = OpenBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(TextOf(box), "Wendrake");
  EXPECT_EQ(TextOf(GetDlgItem(box, 0xFFFF)), kQuitQuestion);  // the box's text
  HWND no = GetDlgItem(box, IDNO);
  ASSERT_NE(no, nullptr);
  ASSERT_NE(GetDlgItem(box, IDYES), nullptr);
  PostMessageA(no, BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitUntilClosed(box));

  // Still running: the next double click asks again. Enter takes the
  // default button, Yes.
  HWND second = OpenBox();
  ASSERT_NE(second, nullptr);
  PressKeys(second, {VK_RETURN});
  ExpectNormalEnd();
}

TEST_F(ShellTest, SingleClicksReleasesAndMovesOpenNothing) {
  Start();
  for (LPARAM mouse : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONUP, WM_MOUSEMOVE}) Tray(mouse);
  // Callbacks are handled in order, and a menu or a box opened by one is
  // open before the next is handled.
  HWND box = OpenBox();
  ASSERT_NE(box, nullptr);
  // Answered No, no box and no menu may be left: one opened by a click
  // before was there first and is still open, or was opened inside it.
  PostMessageA(GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitUntilClosed(box));
  EXPECT_EQ(VisibleWindowOf(program_.pid(), "#32770"), nullptr);
  EXPECT_EQ(VisibleWindowOf(program_.pid(), "#32768"), nullptr);
  ASSERT_TRUE(program_.RequestEnd());
  ExpectNormalEnd();
}

TEST_F(ShellTest, MenuOpensOverTheConfirmationBoxAndQuitsFromThere) {
  Start();
  HWND box = OpenBox();
  ASSERT_NE(box, nullptr);
  // The box's own message loop hands the icon's callbacks to the window.
  HWND menuWindow = OpenMenu();
  ASSERT_NE(menuWindow, nullptr);
  PressKeys(menuWindow, {VK_DOWN, VK_RETURN});
  ExpectNormalEnd();
}

TEST_F(ShellTest, TrayIconCarriesTheProductNameAndCallsTheWindowBack) {
  if (!IsWine()) GTEST_SKIP() << "the tray's own windows are looked into under Wine only";
  std::vector<HWND> before = WineTrayIcons();
  Start();
  HWND icon = nullptr;
  ASSERT_TRUE(PollUntil([&] {
    for (HWND w : WineTrayIcons()) {
      if (std::find(before.begin(), before.end(), w) == before.end()) icon = w;
    }
    return icon != nullptr;
  }));
  // The tray gives the icon its tooltip after the icon's window.
  TipSearch search = {icon, L"", false};
  ASSERT_TRUE(PollUntil([&] {
    EnumWindows(FindTip, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }));
  EXPECT_EQ(search.tip, L"Wendrake");

  // A right click on the icon itself: the tray passes it on with the
  // icon's callback message and identifier, and the menu opens.
  PostMessageA(icon, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(4, 4));
  PostMessageA(icon, WM_RBUTTONUP, 0, MAKELPARAM(4, 4));
  HWND menuWindow = WaitForVisibleWindowOf(program_.pid(), "#32768");
  ASSERT_NE(menuWindow, nullptr);
  PressKeys(menuWindow, {VK_DOWN, VK_RETURN});
  ExpectNormalEnd();
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
