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

namespace wendrake {
namespace testing {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// Moves a file's last-write time back, as a program that stamps files does.
// Wine raises no change notification when both times are set at once (what
// the C library's utime does), so on Windows only the last-write time is.
void AgeFile(const fs::path& path, int hours) {
#ifdef _WIN32
  HANDLE file = CreateFileA(path.string().c_str(), FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
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

class ScenarioTest : public ::testing::Test {
 protected:
  ScenarioTest() {
    fs::create_directory(start_.path() / "in");
    fs::create_directory(start_.path() / "out");
  }
  ~ScenarioTest() override {
    if (program_.running()) {
      program_.RequestEnd();
      int code = 0;
      program_.WaitForExit(20, &code);
    }
  }

  std::string Path(const std::string& relative) const {
    std::string path = start_.str() + kSeparator + relative;
    return path;
  }

  std::string Record(const std::string& action, const std::string& in, const std::string& out,
                     const std::string& argument = "") const {
    std::string line = "ACTION=" + action + " FOLDER=\"" + Path(in) + "\" EXECUTE=" +
                       HelperProgram("argv_recorder") + " CURRENT=\"" + Path(out) + "\"";
    if (!argument.empty()) line += " ARGUMENT=" + argument;
    return line + "\n";
  }

  void WriteCommandFile(const std::string& contents) {
    WriteWholeFile(start_.path() / "WKCommand.txt", contents);
  }

  // Starts the program and waits until entry `entries` waits for changes.
  void StartWatching(int entries = 1) {
    ASSERT_TRUE(program_.Start(start_.path()));
    char wait[32];
    std::snprintf(wait, sizeof wait, "(%02d)...-Wait(", entries);
    ASSERT_TRUE(WaitForLog(wait)) << Joined(Log());
  }

  Lines Log() const {
    if (!fs::exists(start_.path() / "Wendrake.log")) return {};
    return LogTexts(ReadWholeFile(start_.path() / "Wendrake.log"));
  }

  static std::string Joined(const Lines& lines) {
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    return all;
  }

  // Waits for a log line that starts with `prefix`, `count` times.
  bool WaitForLog(const std::string& prefix, int count = 1, double seconds = 30) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      int seen = 0;
      for (const std::string& line : Log()) seen += line.rfind(prefix, 0) == 0;
      if (seen >= count) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  // Waits until `folder` holds `count` records, then a little longer to see
  // that no more come.
  std::vector<ArgvRecord> Records(const std::string& folder, std::size_t count,
                                  double seconds = 30) const {
    fs::path dir = start_.path() / folder;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (ReadArgvRecords(dir).size() < count && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    return ReadArgvRecords(dir);
  }

  void ClearRecords(const std::string& folder) {
    for (const auto& f : fs::directory_iterator(start_.path() / folder)) fs::remove(f.path());
  }

  // What the program was started with for `name` and `flag`: the argv on
  // Linux, the command line on Windows.
  std::string Expected(const std::string& name, const std::string& flag,
                       const std::string& argument = "") const {
    std::string path = Path("in") + kSeparator + name;
#ifdef _WIN32
    std::string line = HelperProgram("argv_recorder") + " \"" + path + "\" " + flag;
    if (!argument.empty()) line += " " + argument;
    return line;
#else
    std::string line = HelperProgram("argv_recorder") + "|" + path + "|" + flag;
    if (!argument.empty()) line += "|" + argument;
    return line;
#endif
  }

  static std::string Started(const ArgvRecord& record) {
#ifdef _WIN32
    auto cmd = record.find("cmd");
    return cmd == record.end() ? "" : cmd->second.at(0);
#else
    std::string line;
    auto args = record.find("arg");
    if (args == record.end()) return line;
    for (const std::string& arg : args->second) line += (line.empty() ? "" : "|") + arg;
    return line;
#endif
  }

  static std::vector<std::string> StartedAll(const std::vector<ArgvRecord>& records) {
    std::vector<std::string> all;
    for (const ArgvRecord& r : records) all.push_back(Started(r));
    std::sort(all.begin(), all.end());
    return all;
  }

  ScopedTempDir start_;
  Program program_;
};

TEST_F(ScenarioTest, NoCommandFileEndsAtOnceWithExitCodeZero) {
  ASSERT_TRUE(program_.Start(start_.path()));
  int code = -1;
  ASSERT_TRUE(program_.WaitForExit(30, &code));
  EXPECT_EQ(code, 0);
  std::string file = Path("WKCommand.txt");
  EXPECT_EQ(Log(), (Lines{"", "= Start program ===========", "-Start- Clear ThreadControlTable.",
                          "-Start- LoadCommandFile. FileName(" + file + ")",
                          "CmdFile Open error. FileName(" + file + ")", "== Abnormal end.==",
                          "Ended - AllEndThread"}));
}

TEST_F(ScenarioTest, EveryKindOfChangeStartsTheProgramOnceWithTheRightFlag) {
  WriteCommandFile(Record("AUD", "in", "out", "job7"));
  StartWatching();
  fs::path in = start_.path() / "in";

  WriteWholeFile(in / "a.txt", "first");
  auto records = Records("out", 1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(Started(records[0]), Expected("a.txt", "-A", "job7"));
  EXPECT_EQ(records[0].at("cwd").at(0), Path("out"));
  ClearRecords("out");

  // Same size, another time: an update.
  AgeFile(in / "a.txt", 3);
  EXPECT_EQ(StartedAll(Records("out", 1)), Lines{Expected("a.txt", "-U", "job7")});
  ClearRecords("out");

  // Another size: handed on as an addition.
  WriteWholeFile(in / "a.txt", "second, longer");
  EXPECT_EQ(StartedAll(Records("out", 1)), Lines{Expected("a.txt", "-A", "job7")});
  ClearRecords("out");

  // A rename is a deletion of the old name and an addition of the new one.
  fs::rename(in / "a.txt", in / "b.txt");
  EXPECT_EQ(StartedAll(Records("out", 2)),
            (Lines{Expected("a.txt", "-D", "job7"), Expected("b.txt", "-A", "job7")}));
  ClearRecords("out");

  fs::remove(in / "b.txt");
  EXPECT_EQ(StartedAll(Records("out", 1)), Lines{Expected("b.txt", "-D", "job7")});
}

TEST_F(ScenarioTest, TwoEntriesWatchTheirFoldersAtOnce) {
  fs::create_directory(start_.path() / "in2");
  fs::create_directory(start_.path() / "out2");
  WriteCommandFile(Record("A", "in", "out") + Record("A", "in2", "out2"));
  StartWatching(2);
  WriteWholeFile(start_.path() / "in" / "one", "1");
  WriteWholeFile(start_.path() / "in2" / "two", "2");
  EXPECT_EQ(StartedAll(Records("out", 1)), Lines{Expected("one", "-A")});
  auto second = Records("out2", 1);
  ASSERT_EQ(second.size(), 1u);
  std::string two = Started(second[0]);
  EXPECT_NE(two.find(Path("in2") + kSeparator + "two"), std::string::npos) << two;
}

TEST_F(ScenarioTest, MissingFolderLeavesItsEntryIdleAndTheOtherWorking) {
  WriteCommandFile(Record("A", "absent", "out") + Record("A", "in", "out"));
  StartWatching(2);
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
  EXPECT_EQ(StartedAll(Records("out", 1)), Lines{Expected("x", "-A")});
}

TEST_F(ScenarioTest, MoreThan3000FilesAreListedUpToTheTable) {
  for (int i = 0; i < 3001; ++i) WriteWholeFile(start_.path() / "in" / std::to_string(i), "");
  WriteCommandFile(Record("A", "in", "out"));
  StartWatching();
  int overflow = 0;
  for (const std::string& line : Log()) {
    overflow += line == "(01)... PutFileNamesInDir. Table max ovser. max(3000)";
  }
  EXPECT_EQ(overflow, 1);
}

TEST_F(ScenarioTest, EndRequestRunsTheShutdownAndExitsWithZero) {
  WriteCommandFile(Record("A", "in", "out"));
  StartWatching();
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
