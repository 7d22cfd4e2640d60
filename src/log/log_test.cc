#include "log/log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "test_util.h"

namespace wendrake {
namespace {

using Lines = std::vector<std::string>;

TEST(LogLineTest, StampWithLeadingZerosTextCutToFitAndCrLf) {
  const std::string longest(kLogTextMax, 'y');
  char line[kLogLineCapacity];
  std::size_t length = FormatLogLine(line, {2005, 3, 7, 8, 4, 9}, (longest + "zz").c_str());
  EXPECT_EQ(std::string(line, length), "2005-03-07 08:04:09 - " + longest + "\r\n");
}

// No CR or LF of a text can start a line that reads as ours; only the line
// end of a command-file record is kept, and only with text after it.
TEST(LogLineTest, OutsideLineBreaksAreNeutralisedButARecordKeepsItsOwnEnd) {
  const std::string cut(kLogTextMax - 1, 'y');
  const struct {
    std::string text;
    std::size_t kept;
    std::string shown;
  } cases[] = {
      {"x\n2026-12-07 10:00:00 - Ended - AllEndThread", kNoLineFeedKept,
       "x?2026-12-07 10:00:00 - Ended - AllEndThread"},
      {"a\rb\r\nc", kNoLineFeedKept, "a?b??c"},
      {"record(ACTION=A\n)", 15, "record(ACTION=A\n)"},
      {"record(a\nb\n)", 10, "record(a?b\n)"},
      {cut + "\n)", kLogTextMax - 1, cut + "?"},
  };
  for (const auto& c : cases) {
    char line[kLogLineCapacity];
    std::size_t length = FormatLogLine(line, {2005, 3, 7, 8, 4, 9}, c.text.c_str(), c.kept);
    EXPECT_EQ(std::string(line, length), "2005-03-07 08:04:09 - " + c.shown + "\r\n") << c.text;
  }
}

// A run creates the log or appends to it, writes texts as passed, never as
// formats, and nothing after its close. Others may read the log meanwhile.
// On Linux it is held for the run: a second writer is refused, and a run
// that finds the log so held goes on without one. On Windows it is held
// only while lines keep coming: a line that finds it held by another
// waits, and goes first with the next line or at the close.
TEST(LogFileTest, WrittenWholeInOrderWhileOthersReadIt) {
#ifdef _WIN32
  constexpr bool kHeldForTheRun = false;
#else
  constexpr bool kHeldForTheRun = true;
#endif
  testing::ScopedTempDir dir(true);
  WriteLog("");
  LogF("(%02d)... %s", 1, "50%s");
  ResetLogForTesting();  // the next run
  WriteLog("100% done %s %d %n");
  EXPECT_EQ(testing::RunHelper("open_probe", {"write", kLogFileName}), 1);
  EXPECT_EQ(testing::RunHelper("open_probe", {"read", kLogFileName}), 0);
  if (!kHeldForTheRun) {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    ReopenLog();  // the program's timer: a log quiet for a moment is let go
    EXPECT_EQ(testing::RunHelper("open_probe", {"write", kLogFileName}), 0);
  }
  CloseLog();
  EXPECT_EQ(testing::RunHelper("open_probe", {"write", kLogFileName}), 0);
  WriteLog("after");
  EXPECT_EQ(testing::CurrentLogTexts(), (Lines{"", "(01)... 50%s", "100% done %s %d %n"}));

  std::remove(kLogFileName);
  ResetLogForTesting();  // a run that finds another holding the log
  os::Handle other = os::FileOpen(kLogFileName, os::kAccessWrite, os::kShareRead, os::kOpenAlways);
  WriteLog("held");
  EXPECT_EQ(testing::ReadWholeFile(kLogFileName), "");
  os::FileClose(other);
  WriteLog("next");
  WriteLog("last, at the close");
  CloseLog();
  EXPECT_EQ(testing::CurrentLogTexts(),
            kHeldForTheRun ? Lines{} : (Lines{"held", "next", "last, at the close"}));
  ResetLogForTesting();
}

// The journal's copy of a line that reports a fault carries its priority,
// found from the message's own words, never from a name within it; a
// terminal's copy carries none.
TEST(LogFileTest, JournalCopyOfAFaultCarriesItsPriority) {
  testing::ScopedTempDir dir(true);
  const struct {
    const char* text;
    const char* priority;
  } cases[] = {
      {"(01)...      Error CreateMutex. --Abnormal ended.--", "<3>"},
      {"(01)...      -e- error(FALSE OpenMutex) -error. -error.", "<3>"},
      {"(02)... CreateProcess(Error) Code(2)", "<3>"},
      {"(01)...      -s- Action(A D ):Delete  (a) not confirmed. Error(13)", "<3>"},
      {"...ReanameFile. MoveFile error(KSFF01T.txt) Error(2)", "<3>"},
      {"== Abnormal end.==", "<3>"},
      {"(01)... Warning EXECUTE not found(/opt/x)", "<4>"},
      {"(01)...          Folder not found(/srv/in) -looked for every second.", "<4>"},
      {"(01)...      -s- Action(A   ):Addition (Error format. error(1))", ""},
      {"(01)...      -s- File addition. (a) in use.", ""},
      {"== Abnormal end.== ", ""},
  };
  for (LogCopy how : {LogCopy::kTextOnly, LogCopy::kStamped}) {
    os::Handle copy = os::FileOpen("copy", os::kAccessWrite, os::kShareRead, os::kCreateAlways);
    CopyLogLinesTo(copy, how);
    for (const auto& c : cases) WriteLog(c.text);
    CopyLogLinesTo(os::kInvalidHandle, LogCopy::kNone);
    os::FileClose(copy);
    std::string expected;
    for (const auto& c : cases) {
      expected += how == LogCopy::kTextOnly ? c.priority + std::string(c.text) : c.text;
      expected += '\n';
    }
    std::string copied = testing::ReadWholeFile("copy");
    if (how == LogCopy::kStamped) {  // the stamps taken out
      for (std::size_t at = 0; at < copied.size(); at = copied.find('\n', at) + 1) {
        copied.erase(at, kLogStampLength);
      }
    }
    EXPECT_EQ(copied, expected);
  }
  ResetLogForTesting();
}

}  // namespace
}  // namespace wendrake
