// Black-box scenarios: the program started in a start directory of its own
// with a real command file, real folders, real writers and a recorder as the
// started program; only its log, the recorder's records and its exit code
// are looked at.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "argv_record.h"
#include "program.h"
#include "test_util.h"
#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

// Moves a file's last-write time back, as a program that stamps files does.
// Wine raises no change notification when both times are set at once (what
// the C library's utime does), so on Windows only the last-write time is.
void AgeFile(const fs::path& path, int hours) {
#ifdef _WIN32
  HANDLE file =
      CreateFileA(path.string().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME written;
  GetFileTime(file, nullptr, nullptr, &written);
  ULARGE_INTEGER ticks;
  ticks.LowPart = written.dwLowDateTime;
  ticks.HighPart = written.dwHighDateTime;
  ticks.QuadPart -= static_cast<ULONGLONG>(hours) * 3600ULL * 10000000ULL;
  written.dwLowDateTime = ticks.LowPart;
  written.dwHighDateTime = ticks.HighPart;
  SetFileTime(file, nullptr, nullptr, &written);
  CloseHandle(file);
#else
  fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(hours));
#endif
}

using ScenarioTest = WatchingTest;

TEST_F(ScenarioTest, NoCommandFileEndsAtOnceWithExitCodeZero) {
  ASSERT_TRUE(program_.Start(start_.path()));
  int code = -1;
  ASSERT_TRUE(program_.WaitForExit(30, &code));
  EXPECT_EQ(code, 0);
  std::string file = Path("WKCommand.txt");
  EXPECT_EQ(Log(), (Lines{"", "= Start program ===========", "-Start- Clear ThreadControlTable.",
                          "-Start- LoadCommandFile. FileName(" + file + ")",
                          "CmdFile Open error. FileName(" + file + ")",
                          "== Abnormal end.==", "Ended - AllEndThread"}));
}

TEST_F(ScenarioTest, EveryKindOfChangeStartsTheProgramOnceWithTheRightFlag) {
  StartWatching(Record("AUD", "in", "out", "job7"));
  fs::path in = start_.path() / "in";

  WriteWholeFile(in / "a.txt", "first");
  auto records = Records("out", 1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(StartedWith(records[0]), Expected("in", "a.txt", "-A", "job7"));
  EXPECT_EQ(records[0].at("cwd").at(0), Path("out"));
  ClearRecords("out");

  // Same size, another time: an update.
  AgeFile(in / "a.txt", 3);
  EXPECT_EQ(Started(Records("out", 1)), Lines{Expected("in", "a.txt", "-U", "job7")});
  ClearRecords("out");

  // Another size: handed on as an addition.
  WriteWholeFile(in / "a.txt", "second, longer");
  EXPECT_EQ(Started(Records("out", 1)), Lines{Expected("in", "a.txt", "-A", "job7")});
  ClearRecords("out");

  // A rename is a deletion of the old name and an addition of the new one.
  fs::rename(in / "a.txt", in / "b.txt");
  EXPECT_EQ(Started(Records("out", 2)),
            (Lines{Expected("in", "a.txt", "-D", "job7"), Expected("in", "b.txt", "-A", "job7")}));
  ClearRecords("out");

  fs::remove(in / "b.txt");
  EXPECT_EQ(Started(Records("out", 1)), Lines{Expected("in", "b.txt", "-D", "job7")});
}

TEST_F(ScenarioTest, TwoEntriesWatchTheirFoldersAtOnce) {
  StartWatching(Record("A", "in", "out") + Record("A", "in2", "out2"), 2);
  WriteWholeFile(At("in") / "one", "1");
  WriteWholeFile(At("in2") / "two", "2");
  EXPECT_EQ(Started(Records("out", 1)), Lines{Expected("in", "one", "-A")});
  EXPECT_EQ(Started(Records("out2", 1)), Lines{Expected("in2", "two", "-A")});
}

TEST_F(ScenarioTest, MissingFolderLeavesItsEntryIdleAndTheOtherWorking) {
  StartWatching(Record("A", "absent", "out") + Record("A", "in", "out"), 2);
  Lines log = Log();
  std::string absent = Path("absent");
  auto has = [&](const std::string& text) {
    return std::find(log.begin(), log.end(), text) != log.end();
  };
  EXPECT_TRUE(has("(01)...          Set FindFirstChangeNotification(" + absent + ") -ok-"));
  EXPECT_TRUE(has("(01)...          CreateHandleError(-1)(" + absent + ")"));
  bool listingError = false;
  for (const std::string& line : log) {
    listingError |= line.rfind("(01)... PutFileNamesInDir. Error(", 0) == 0;
  }
  EXPECT_TRUE(listingError) << Joined(log);
  WriteWholeFile(start_.path() / "in" / "x", "1");
  EXPECT_EQ(Started(Records("out", 1)), Lines{Expected("in", "x", "-A")});
}

TEST_F(ScenarioTest, MoreThan3000FilesAreListedUpToTheTable) {
  for (int i = 0; i < 3001; ++i) WriteWholeFile(start_.path() / "in" / std::to_string(i), "");
  StartWatching(Record("A", "in", "out"));
  int overflow = 0;
  for (const std::string& line : Log()) {
    overflow += line == "(01)... PutFileNamesInDir. Table max ovser. max(3000)";
  }
  EXPECT_EQ(overflow, 1);
}

TEST_F(ScenarioTest, EndRequestRunsTheShutdownAndExitsWithZero) {
  StartWatching(Record("A", "in", "out"));
  ASSERT_TRUE(program_.RequestEnd());
  int code = -1;
  ASSERT_TRUE(program_.WaitForExit(30, &code));
  EXPECT_EQ(code, 0);
  Lines log = Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "Ended - AllEndThread");
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
