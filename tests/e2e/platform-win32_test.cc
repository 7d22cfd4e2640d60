// The Windows program's shell, driven from outside as its user drives it:
// the tray icon's callbacks reach its hidden window, the menu is worked
// with the keyboard, the confirmation box is answered with its buttons.
// Only what another process can see is looked at. And a mapped network
// drive, which raises no notification.
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <cstdlib>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

// The characters themselves, whatever the code page.
std::wstring TextOf(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

// Every window of `className`, top-level or child, that process `pid`
// owns (0: any).
std::vector<HWND> WindowsOf(const std::string& className, DWORD pid = 0) {
  std::vector<HWND> all, found;
  auto collect = [](HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
  };
  EnumWindows(collect, reinterpret_cast<LPARAM>(&all));
  for (std::size_t i = 0, tops = all.size(); i < tops; ++i) {
    EnumChildWindows(all[i], collect, reinterpret_cast<LPARAM>(&all));
  }
  for (HWND window : all) {
    char name[64] = {};
    DWORD owner = 0;
    GetClassNameA(window, name, sizeof name);
    GetWindowThreadProcessId(window, &owner);
    if (name == className && (pid == 0 || owner == pid)) found.push_back(window);
  }
  return found;
}

using ShellTest = WatchingTest;

// Wine's own tray, shown on a display without a system tray, makes each
// icon a window of class "__winex11_tray_icon"; a right click on ours must
// come back to the program's window with its callback and open the menu.
// The menu is left by Escape, by its second item and by its first, which
// ends the run; until then the window stays hidden.
TEST_F(ShellTest, HiddenWindowBoxSaysNoAndTheTrayMenuQuits) {
  // Code page 1252 (the test's locale, see wine-run.sh) lacks the box's
  // characters: they can only arrive through the wide calls.
  ASSERT_EQ(GetACP(), 1252u);
  const std::vector<HWND> before = WindowsOf("__winex11_tray_icon");
  // Shown as a launcher may ask, the window must stay hidden all the same.
  WriteWholeFile(At("WKCommand.txt"), Record("A", "in", "out"));
  ASSERT_TRUE(StartProgram(SW_SHOWMAXIMIZED));
  // A window of `className` that the program owns, a visible one when
  // `visible`, once there.
  const DWORD pid = GetProcessId(reinterpret_cast<HANDLE>(program_.id));
  auto owned = [&](const char* className, bool visible = true) {
    HWND found = nullptr;
    EXPECT_TRUE(PollUntil([&] {
      for (HWND window : WindowsOf(className, pid)) {
        if (!visible || IsWindowVisible(window)) found = window;
      }
      return found != nullptr;
    })) << className;
    return found;
  };
  HWND hidden = owned("Kestrone", false);
  // Posted callbacks wait in the queue until the start-up is done.
  // Two double clicks ask one question.
  PostMessageA(hidden, 1001, 1000, WM_LBUTTONDBLCLK);  // the icon's callback
  PostMessageA(hidden, 1001, 1000, WM_LBUTTONDBLCLK);
  HWND box = owned("#32770");
  Sleep(500);
  EXPECT_EQ(WindowsOf("#32770", pid).size(), 1u);
  EXPECT_FALSE(IsWindowVisible(hidden));
  EXPECT_EQ(TextOf(box), L"Wendrake");
  EXPECT_EQ(TextOf(GetDlgItem(box, 0xFFFF)),  // "Wendrake o shuuryou shimasu ka?"
            L"Wendrake\u3092\u7d42\u4e86\u3057\u307e\u3059\u304b\uff1f");
  PostMessageA(GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
  ASSERT_TRUE(PollUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }));
  Sleep(500);
  for (HWND other : WindowsOf("#32770", pid)) {
    EXPECT_FALSE(IsWindowVisible(other)) << "a second question";
  }

  auto newIcon = [&] {
    HWND found = nullptr;
    for (HWND window : WindowsOf("__winex11_tray_icon")) {
      if (std::find(before.begin(), before.end(), window) == before.end()) found = window;
    }
    return found;
  };
  HWND icon = newIcon();
  ASSERT_NE(icon, nullptr) << "no tray icon window: not under Wine?";
  // A shell that restarts has lost every icon, and says so with its
  // TaskbarCreated broadcast: the icon comes back.
  NOTIFYICONDATAA gone = {};
  gone.cbSize = NOTIFYICONDATAA_V1_SIZE;
  gone.hWnd = hidden;
  gone.uID = 1000;
  ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &gone));
  ASSERT_TRUE(PollUntil([&] { return newIcon() == nullptr; }));
  PostMessageA(hidden, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
  ASSERT_TRUE(PollUntil([&] { return (icon = newIcon()) != nullptr; })) << "icon not back";
  // Keys as the keyboard queues them for the menu's thread: Escape, the
  // second item, then the first. The menu opens again only while the
  // program runs on.
  const std::vector<WPARAM> ways[] = {
      {VK_ESCAPE}, {VK_DOWN, VK_DOWN, VK_RETURN}, {VK_DOWN, VK_RETURN}};
  for (const std::vector<WPARAM>& keys : ways) {
    SCOPED_TRACE(keys.size());
    PostMessageA(icon, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(4, 4));
    PostMessageA(icon, WM_RBUTTONUP, 0, MAKELPARAM(4, 4));
    HWND menu = owned("#32768");
    for (WPARAM key : keys) {
      PostMessageA(menu, WM_KEYDOWN, key, 1);
      PostMessageA(menu, WM_KEYUP, key, 0xC0000001);
    }
    if (&keys == &ways[2]) break;  // the first item ends the run
    ASSERT_TRUE(PollUntil([&] { return !IsWindow(menu) || !IsWindowVisible(menu); }));
    EXPECT_FALSE(IsWindowVisible(hidden));
  }
  EXPECT_EQ(WaitHelper(program_, 30000), 0);
  EXPECT_EQ(Log().back(), "Ended - AllEndThread");
}

// The log is rotated by the program itself once it passes 10 MB, between
// two lines: Wendrake.log.1 (the one before replaced) ends with the line
// that passed the size, the new log begins with the next, and every line
// of the run is in one of them, once. Readers may open it meanwhile:
// Notepad's way, sharing reading and writing, which keeps a rotation off
// until it lets go, and cmd's type, which shares reading only. The end of
// the Windows session (log-off, shut-down) runs the shutdown sequence
// before Windows ends the process: the end is logged.
TEST_F(ShellTest, LogRotatesBetweenTwoLinesWhileReadAndTheSessionEndIsLogged) {
  constexpr std::size_t kRotateBytes = 10 * 1024 * 1024;
  const std::string filler = "2026-12-07 08:04:09 - " + std::string(200, 'x') + "\r\n";
  std::string full;
  while (full.size() + filler.size() < kRotateBytes - 40) full += filler;
  WriteWholeFile(At("Wendrake.log"), full);
  WriteWholeFile(At("Wendrake.log.1"), "old\r\n");
  HANDLE reader =
      CreateFileA(Path("Wendrake.log").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  StartWatching(Record("A", "in", "out"));
  WriteWholeFile(At("type.bat"), "@type Wendrake.log > typed.txt\r\n");
  // Held while lines come one after another, the log is let go within
  // about a second and a half of the last.
  EXPECT_TRUE(PollUntil([&] {
    HelperProcess type =
        StartProcess("C:\\windows\\system32\\cmd.exe", {"/c", Path("type.bat")}, Path(""));
    return WaitHelper(type, 60000) == 0;
  }));
  EXPECT_NE(ReadWholeFile(At("typed.txt")).find("= Start program"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(At("Wendrake.log.1")), "old\r\n") << "renamed under its reader";
  CloseHandle(reader);
  Sleep(1100);  // a rotation that failed is tried again a second later
  WriteWholeFile(At("in") / "a.txt", "a");
  EXPECT_EQ(Started("out", 1), Lines{Expected("in", "a.txt", "-A")});

  const DWORD pid = GetProcessId(reinterpret_cast<HANDLE>(program_.id));
  std::vector<HWND> hidden = WindowsOf("Kestrone", pid);
  ASSERT_EQ(hidden.size(), 1u);
  EXPECT_EQ(SendMessageA(hidden[0], WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
  SendMessageA(hidden[0], WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  EXPECT_EQ(Log().back(), "Ended - AllEndThread");
  EXPECT_EQ(WaitHelper(program_, 30000), 0);

  const std::string rotated = ReadWholeFile(At("Wendrake.log.1"));
  const std::string fresh = ReadWholeFile(At("Wendrake.log"));
  ASSERT_GT(rotated.size(), kRotateBytes);
  EXPECT_EQ(rotated.compare(0, full.size(), full), 0);
  EXPECT_EQ(rotated.substr(rotated.size() - 2), "\r\n");
  EXPECT_EQ(fresh.rfind("20", 0), 0u) << "the new log begins within a line";
  const Lines run = LogTexts(rotated.substr(full.size()) + fresh);
  for (const char* once : {"= Start program", "(01)...          Set FindFirstChangeNotification(",
                           "Ended - AllEndThread"}) {
    EXPECT_EQ(Count(run, once), 1) << once;
  }
  EXPECT_EQ(Count(run, "(01)... ... ... ... Adition(a.txt)"), 1);
}

// A run that cannot work says why in a box naming its two files, with an
// error icon, and ends with exit code 1 once the box is closed. Started
// where there is no command file, the program takes its own folder as the
// start directory when that folder holds one, and says so. A second copy
// in a start directory where one runs is such a run. The runs are of a
// copy alone in a folder: the installed program has the example command
// file beside it.
TEST_F(ShellTest, RunThatCannotWorkSaysWhyInABoxAndStartsFromItsOwnFolderIfNeeded) {
  fs::create_directory(At("program"));
  fs::create_directory(At("elsewhere"));
  fs::copy_file(ProgramPath(), At("program") / "Wendrake.exe");
  const std::string program = Path("program") + "\\Wendrake.exe";
  const struct {
    const char* commandFile;  // nullptr: none
    std::wstring why;
  } cases[] = {
      {nullptr, L"the command file cannot be read"},
      {"# nothing to watch\r\nACTION=A\tFOLDER=in\r\naction=A FOLDER=C:\\in EXECUTE=x.exe "
       "CURRENT=C:\\\r\n",
       L"the command file gives no folder to watch"},
  };
  // The box of `process`, started in `path`, says `why`; it ends once closed.
  auto saysWhy = [&](HelperProcess& process, const std::string& path, const std::wstring& why) {
    ASSERT_NE(process.id, 0);
    const DWORD pid = GetProcessId(reinterpret_cast<HANDLE>(process.id));
    HWND box = nullptr;
    ASSERT_TRUE(PollUntil([&] {
      std::vector<HWND> boxes = WindowsOf("#32770", pid);
      box = boxes.empty() ? nullptr : boxes[0];
      return box != nullptr && IsWindowVisible(box);
    })) << "no box";
    const std::wstring start(path.begin(), path.end());
    EXPECT_EQ(TextOf(box), L"Wendrake");
    EXPECT_EQ(TextOf(GetDlgItem(box, 0xFFFF)),
              L"Wendrake cannot work: " + why + L".\n\nCommand file: " + start +
                  L"\\WKCommand.txt\nLog: " + start + L"\\Wendrake.log");
    PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    EXPECT_EQ(WaitHelper(process, 30000), kCannotWork);
  };
  for (const auto& c : cases) {
    fs::remove(At("WKCommand.txt"));
    if (c.commandFile != nullptr) WriteWholeFile(At("WKCommand.txt"), c.commandFile);
    program_ = StartProcess(program, {}, Path(""));
    saysWhy(program_, Path(""), c.why);
    EXPECT_EQ(Log().back(), "Ended - AllEndThread");
  }
  const std::string file = Path("WKCommand.txt");
  EXPECT_EQ(Count(Log(), "CmdFile Open error. FileName(" + file + ")"), 1);

  WriteWholeFile(At("program") / "WKCommand.txt", Record("A", "in", "out"));
  program_ = StartProcess(program, {}, Path("elsewhere"));
  ASSERT_TRUE(PollUntil([&] {
    return fs::exists(At("program") / "Wendrake.log") &&
           ReadWholeFile(At("program") / "Wendrake.log").find("...-Wait(") != std::string::npos;
  }));
  EXPECT_NE(ReadWholeFile(At("program") / "Wendrake.log")
                .find("StartDirectory(" + Path("program") +
                      ") -the folder of Wendrake.exe: the current one held no WKCommand.txt."),
            std::string::npos);
  // A second copy there would share its log and snapshots: it ends at once.
  HelperProcess second = StartProcess(program, {}, Path("program"));
  saysWhy(second, Path("program"), L"another Wendrake runs in this start directory");
  WriteWholeFile(At("in") / "a.txt", "a");
  EXPECT_EQ(Started("out", 1), Lines{Expected("in", "a.txt", "-A")});
  EXPECT_TRUE(fs::is_empty(At("elsewhere")));
  EXPECT_EQ(Count(LogTexts(ReadWholeFile(At("program") / "Wendrake.log")), "= Start program"), 1);
}

// A mapped network drive: drive S: of the suites' prefix is a FUSE mount
// typed "network" (tests/e2e/wine-share.sh, run by ctest around the
// suites), written through its backing folder as another machine writes a
// share: no notification reaches the program, only its timer.
using ShareWin32Test = WatchingTest;

TEST_F(ShareWin32Test, AFileWrittenBehindANetworkDriveIsReportedOnce) {
  const char* backing = std::getenv("WENDRAKE_SHARE_BACKING");
  if (backing == nullptr || *backing == '\0') GTEST_SKIP() << "run by ctest, which maps drive S:";
  if (!fs::is_directory("S:\\")) GTEST_SKIP() << "drive S: is not mapped (no usable /dev/fuse)";
  fs::path back = fs::path("Z:" + std::string(backing)) / "in";
  fs::create_directory(back);
  StartWatching("ACTION=A FOLDER=S:\\in EXECUTE=" + HelperProgram("argv_recorder") + " CURRENT=\"" +
                Path("out") + "\" ARGUMENT=job\n");
  WriteWholeFile(back / "s.dat", "s");
  EXPECT_TRUE(PollUntil([&] { return CountArgvRecords(At("out")) > 0; }, 4000)) << "not in 4 s";
  EXPECT_EQ(Started("out", 1),
            Lines{HelperProgram("argv_recorder") + " \"S:\\in\\s.dat\" -A job" + '\0'});
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
