// The Windows program's shell, driven from outside as its user drives it:
// the tray icon's callbacks reach its hidden window, the menu is worked
// with the keyboard, the confirmation box is answered with its buttons.
// Only what another process can see is looked at: windows, their texts,
// the exit code and the log.
#include <gtest/gtest.h>
#include <windows.h>

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
// The quit question, as the Shift-JIS bytes handed to MessageBoxA.
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

TEST_F(ShellTest, MenuQuitItemEndsTheProgram) {
  Start();
  HWND menuWindow = OpenMenu();
  ASSERT_NE(menuWindow, nullptr);
  PressKeys(menuWindow, {VK_DOWN, VK_RETURN});  // the first item
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

TEST_F(ShellTest, TrayIconCallsTheWindowBack) {
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
