// Black-box scenarios and faults: the program started in a start directory
// of its own with a real command file, real folders, real writers, readers
// and lock holders, and a recorder as the started program; only its log,
// the recorder's records and its exit code are looked at.

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

using ScenarioTest = WatchingTest;

// Moves a file's last-write time back. Wine raises no change notification
// when both times are set at once, so on Windows only the last-write time is.
void AgeFile(const fs::path& path, int hours) {
#ifdef _WIN32
  HANDLE file = CreateFileA(path.string().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  FILETIME written;
  GetFileTime(file, nullptr, nullptr, &written);
  ULARGE_INTEGER ticks = {{written.dwLowDateTime, written.dwHighDateTime}};
  ticks.QuadPart -= static_cast<ULONGLONG>(hours) * 36000000000ULL;
  written = {ticks.LowPart, ticks.HighPart};
  SetFileTime(file, nullptr, nullptr, &written);
  CloseHandle(file);
#else
  fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(hours));
#endif
}

// What a run killed in mid-scan leaves behind (snapshot files that name a
// file long gone) is never reported, nor is a file that came meanwhile:
// every run starts from a fresh snapshot.
TEST_F(ScenarioTest, EveryKindOfChangeStartsTheProgramOnceWithTheRightFlag) {
  WriteWholeFile(At("in") / "before.txt", "there before the start");
  // A record of the snapshot files: the name in 255 bytes, the size, date
  // and time, each field with its NUL, and CR LF.
  const std::string ghost = "ghost" + std::string(250, ' ') + '\0' + "000000000001" + '\0' +
                            "2020-01-01" + '\0' + "00:00:00" + '\0' + "\r\n";
  for (const char* stale : {"KSFF01O.txt", "KSFF01N.txt", "KSFF01T.txt"}) {
    WriteWholeFile(At(stale), ghost);
  }
  StartWatching(Record("AUD", "in", "out", "job7"));
  const struct {
    std::function<void()> change;
    Lines started;  // besides those of the steps before
  } steps[] = {
      {[&] { WriteWholeFile(At("in") / "a b.txt", "first"); }, {"a b.txt -A"}},
      {[&] { AgeFile(At("in") / "a b.txt", 3); }, {"a b.txt -U"}},
      {[&] { WriteWholeFile(At("in") / "a b.txt", "second, longer"); }, {"a b.txt -A"}},
      {[&] { fs::rename(At("in") / "a b.txt", At("in") / "b.txt"); }, {"a b.txt -D", "b.txt -A"}},
      {[&] { fs::remove(At("in") / "b.txt"); }, {"b.txt -D"}},
  };
  Lines expected;
  for (const auto& step : steps) {
    step.change();
    for (const std::string& start : step.started) {
      std::size_t blank = start.rfind(' ');
      expected.push_back(Expected("in", start.substr(0, blank), start.substr(blank + 1), "job7"));
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Started("out", expected.size()), expected);
  }
  EXPECT_EQ(ReadArgvRecords(At("out")).at(0)["cwd"], Lines{Path("out")});
}

// A folder not there at start (a disk or share that comes up later) is
// looked for, and watched from the moment it is there: what it then holds
// is news. The other entry works meanwhile.
TEST_F(ScenarioTest, MissingFolderIsWatchedOnceItIsThereAndTheOtherWorksMeanwhile) {
  StartWatching(Record("A", "absent", "out") + Record("A", "in", "out"), 2);
  EXPECT_EQ(Count(Log(), "(01)...          Folder not found(" + Path("absent") +
                             ") -looked for every second."),
            1);
  WriteWholeFile(At("in") / "x", "1");
  EXPECT_EQ(Started("out", 1), Lines{Expected("in", "x", "-A")});
  fs::create_directory(At("absent"));
  WriteWholeFile(At("absent") / "y", "2");
  EXPECT_EQ(Started("out", 2), (Lines{Expected("absent", "y", "-A"), Expected("in", "x", "-A")}));
  EXPECT_TRUE(
      WaitForLog("(01)...      Folder found(" + Path("absent") + ") -watched from now on."));
}

// A copy in progress, and a complete file a reader holds: nothing is
// started while they are open, and once closed the program is started once,
// though a reader's close raises no notification, nor does a writer's under
// Wine. For the reader the lock holds off the scan that the file's arrival
// wakes until the reader has it open.
TEST_F(ScenarioTest, FileHeldOpenIsStartedOnceAfterItIsClosed) {
  StartWatching(Record("A", "in", "out"));
  HoldFile("create", "in", "big.dat");
  ASSERT_TRUE(WaitForLog("(01)...      -s- File addition. (big.dat) in use."));
  EXPECT_EQ(CountArgvRecords(At("out")), 0);
  ASSERT_TRUE(Release("in"));
  EXPECT_EQ(Started("out", 1), Lines{Expected("in", "big.dat", "-A")});

  HoldLock();
  WriteWholeFile(At("in") / "read.dat", "complete");
  HoldFile("hold", "in", "read.dat");
  ASSERT_TRUE(Release("lock"));
  ASSERT_TRUE(WaitForLog("(01)...      -s- File addition. (read.dat) in use."));
  EXPECT_EQ(CountArgvRecords(At("out")), 1);
  ASSERT_TRUE(Release("in"));
  EXPECT_EQ(Started("out", 2),
            (Lines{Expected("in", "big.dat", "-A"), Expected("in", "read.dat", "-A")}));
}

// A file re-dated while another process holds it open, as touch, cp and
// editors do through their own handle: once let go it is started once, as
// "-U", by an entry that asks for every change and by one that asks for
// updates only, and never as an addition.
TEST_F(ScenarioTest, FileReDatedWhileHeldIsStartedOnceAsAnUpdate) {
  for (const char* in : {"in", "in2"}) {
    WriteWholeFile(At(in) / "held.txt", "same size");
    AgeFile(At(in) / "held.txt", 5);
  }
  StartWatching(Record("AUD", "in", "out") + Record("U", "in2", "out2"), 2);
  for (const char* in : {"in", "in2"}) {
    HoldFile("hold", in, "held.txt");
    AgeFile(At(in) / "held.txt", 3);
  }
  ASSERT_TRUE(WaitForLog("(01)...      -s- Action (AUD ):Logical error(held.txt)"));
  ASSERT_TRUE(WaitForLog("(02)...      -s- Action ( U  ):Logical error(held.txt)"));
  for (const char* in : {"in", "in2"}) ASSERT_TRUE(Release(in));
  EXPECT_EQ(Started("out", 1), Lines{Expected("in", "held.txt", "-U")});
  EXPECT_EQ(Started("out2", 1), Lines{Expected("in2", "held.txt", "-U")});
}

#ifndef _WIN32  // Windows names no file in its notifications, and scans at each
// A file held open and written 50 times a second for 5 s, as a database or
// a log is: its writes are gathered into at most about four scans a second
// (one wait line after each, besides the scan of its creation), and its
// close is still started at once.
TEST_F(ScenarioTest, FileWrittenWhileHeldOpenCostsAFewScansASecond) {
  using Clock = std::chrono::steady_clock;
  StartWatching(Record("A", "in", "out"));
  int waits = Count(Log(), "(01)...-Wait(");
  Clock::time_point began = Clock::now();
  HoldFile("stream", "in", "held.db");
  std::this_thread::sleep_for(std::chrono::seconds(5));
  std::chrono::duration<double> held = Clock::now() - began;
  EXPECT_LE(Count(Log(), "(01)...-Wait(") - waits, 4 * held.count() + 3);
  Clock::time_point closing = Clock::now();
  ASSERT_TRUE(Release("in"));
  ASSERT_TRUE(PollUntil([&] { return CountArgvRecords(At("out")) > 0; }));
  EXPECT_LT(Clock::now() - closing, std::chrono::seconds(1));
  EXPECT_EQ(Started("out", 1), Lines{Expected("in", "held.db", "-A")});
}

// sqlite3 running 245 transactions over about five seconds, each making
// and deleting its journal beside the database: the notifications are
// gathered into about four scans a second (one wait line after each,
// besides the burst that the first ones wake), the log stays small, and
// the database, held open until sqlite3 ends, is started once.
TEST_F(ScenarioTest, DatabaseJournalMadeAndDeletedOverAndOverCostsAFewScansASecond) {
  if (std::system("command -v sqlite3 >/dev/null") != 0) GTEST_SKIP() << "no sqlite3";
  using Clock = std::chrono::steady_clock;
  StartWatching(Record("A", "in", "out"));
  int waits = Count(Log(), "(01)...-Wait(");
  std::uintmax_t logSize = fs::file_size(At("Wendrake.log"));
  Clock::time_point began = Clock::now();
  std::string script =
      "for i in $(seq 245); do echo \"BEGIN; INSERT INTO t VALUES($i); COMMIT;\"; sleep 0.02; "
      "done | sqlite3 -cmd 'CREATE TABLE t(v);' '" +
      Path("in") + "/app.db'";
  ASSERT_EQ(std::system(script.c_str()), 0);
  std::chrono::duration<double> ran = Clock::now() - began;
  Lines started = Started("out", 1);
  EXPECT_LE(Count(Log(), "(01)...-Wait(") - waits, 4 * ran.count() + 8);
  EXPECT_LE(fs::file_size(At("Wendrake.log")) - logSize, 40u * 1024);
  EXPECT_EQ(std::count(started.begin(), started.end(), Expected("in", "app.db", "-A")), 1);
}

// rsync and sed -i write a passing name, close it and rename it over the
// real one at once. A passing name seen in use is never handed on: it
// would be gone by the time a started program looked for it. One met
// closed at its first look (sed writes a few bytes) is a file like any
// other, handed on and then reported gone.
TEST_F(ScenarioTest, PassingNameSeenInUseIsNeverStarted) {
  if (std::system("command -v rsync >/dev/null") != 0) GTEST_SKIP() << "no rsync";
  WriteWholeFile(At("in") / "edited.txt", "0\n");
  StartWatching(Record("AUD", "in", "out"));
  ScopedTempDir source;
  std::map<std::string, int> real = {{"edited.txt", 0}};
  for (int i = 0; i < 10; ++i) {
    std::string name = "f" + std::to_string(i) + ".bin";
    WriteWholeFile(source.path() / name, std::string(2 << 20, 'r'));
    real[name] = 0;
  }
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(std::system(("rsync -a '" + source.str() + "/' '" + Path("in") + "/'").c_str()), 0);
    for (int i = 0; i < 10; ++i) {
      ASSERT_EQ(std::system(("sed -i 's/$/x/' '" + Path("in") + "/edited.txt'").c_str()), 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (int i = 0; i < 10; ++i) fs::remove(At("in") / ("f" + std::to_string(i) + ".bin"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  Started("out", 43);                    // each file added and deleted twice, the edits
  std::map<std::string, Lines> passing;  // name: its flags
  for (ArgvRecord& record : ReadArgvRecords(At("out"))) {
    std::string name = fs::path(record[kStartedTag][1]).filename().string();
    if (real.count(name) != 0) {
      real[name]++;
    } else {
      passing[name].push_back(record[kStartedTag][2]);
    }
  }
  for (const auto& [name, starts] : real) {
    if (name == "edited.txt") {
      EXPECT_GE(starts, 3);
    } else {
      EXPECT_EQ(starts, 4) << name;  // -A -D -A -D
    }
  }
  const Lines log = Log();
  for (auto& [name, flags] : passing) {
    EXPECT_EQ(name.rfind("sed", 0), 0u) << name;
    std::sort(flags.begin(), flags.end());
    EXPECT_EQ(flags, (Lines{"-A", "-D"})) << name;
    EXPECT_EQ(Count(log, "(01)...      -s- File addition. (" + name + ") in use."), 0) << name;
  }
}
#endif

// Both watchers scan many files at once, tracing all the while: every log
// line is whole, every file started once.
TEST_F(ScenarioTest, TwoEntriesScanningManyFilesAtOnceKeepTheLogWholeAndStartEveryFile) {
  StartWatching(Record("AT", "in", "out") + Record("AT", "in2", "out2"), 2);
  std::map<std::string, Lines> expected;
  for (int i = 100; i < 160; ++i) {
    for (const char* in : {"in", "in2"}) {
      WriteWholeFile(At(in) / ("f" + std::to_string(i)), "x");
      expected[in].push_back(Expected(in, "f" + std::to_string(i), "-A"));
    }
  }
  EXPECT_EQ(Started("out", 60, 180), expected["in"]);
  EXPECT_EQ(Started("out2", 60, 180), expected["in2"]);
  Log();  // which fails on a line that is not whole
}

// The program under faults that every platform can stage: an entry's lock
// that another process never gives back, and the start directory watched
// as a folder. Each fault is checked by what users see: the started
// programs, the log and the end of the run.
using FaultTest = WatchingTest;

// The lock of entry 1 is never given back: its scan waits, entry 2 goes on
// working, and the end request still ends the run normally. On Windows the
// holder has the mutex through a handle that may only wait on it
// (SYNCHRONIZE), as an outside program that means no more may.
TEST_F(FaultTest, LockHeldForeverStallsOnlyItsEntryAndTheRunStillEnds) {
  StartWatching(Record("AT", "in", "out") + Record("A", "in2", "out2"), 2);
  HoldLock("synchronize");
  WriteWholeFile(At("in") / "x.txt", "x");
  ASSERT_TRUE(WaitForLog("(01)...      -s- ENQ(KSFF01) OpenMutex"));
  WriteWholeFile(At("in2") / "y.txt", "y");
  EXPECT_EQ(Started("out2", 1), Lines{Expected("in2", "y.txt", "-A")});

  // Within seconds: the watchers stop within one, and a shutdown that had
  // to give the waiting watcher up would take ten.
  ASSERT_TRUE(RequestEnd(program_));
  ASSERT_EQ(WaitHelper(program_, 5000), 0) << "the held lock kept the run from ending";
  EXPECT_EQ(Log().back(), "Ended - AllEndThread");
  EXPECT_EQ(Count(Log(), "(01)...      -e- ENQ(ok)"), 0);
  EXPECT_EQ(CountArgvRecords(At("out")), 0);
}

// File names that a shell, a command interpreter or a careless argument
// parser would take for something else, dropped into a watched folder at
// once: each reaches the started program as one argument, its exact full
// path, and nothing else runs; a name that is not the file's real name is
// left out with its log line. Long names too: 64 bytes, and on Linux 22
// Japanese characters (66 bytes of UTF-8) and 255 bytes, the longest, also
// in a folder of the longest path a listing takes (251 bytes, with room for
// "/*.*"): a full path of 507 bytes.
using HostileNameTest = WatchingTest;

TEST_F(HostileNameTest, EachNameArrivesWholeAsOneArgumentOrIsLeftOutWithItsLine) {
  // Shift-JIS: "\x83\x65..." has no byte that is a separator, "\x83\x5c" has.
  std::vector<std::string> names = {"in middle.txt",
                                    "$(touch pwned)",
                                    "`touch pwned`",
                                    "a;b&touch pwned&",
                                    "-rf",
                                    "100% %PATH% %s%n.txt",
                                    "wow!^!(x).txt",
                                    "@it's",
                                    "\x83\x65\x83\x58\x83\x67.txt",
                                    std::string(64, 'w')};
#ifndef _WIN32  // names Windows does not allow
  names.insert(names.end(),
               {"say \"hi\"|touch pwned", "line\nbreak", "\xff\xfe\x80 not utf-8", "\x83\x5c.txt",
                "what?", "cr\r\n2026-01-01 00:00:00 - forged", std::string(255, 'x'),
                std::string(255, '\xff')});  // the key of the end mark
  std::string japanese;
  for (int i = 0; i < 22; ++i) japanese += "\xE3\x83\x86";
  names.push_back(japanese);
  const std::string deep(251 - Path("").size() - 1, 'd');
  fs::create_directory(At(deep));
  StartWatching(Record("A", "in", "out") + Record("A", deep, "out2"), 2);
  WriteWholeFile(At(deep) / std::string(255, 'x'), "");
  EXPECT_EQ(Started("out2", 1), Lines{Expected(deep, std::string(255, 'x'), "-A")});
#else
  // The longest full path the ANSI calls open: 259 bytes.
  names.push_back(std::string(258 - Path("in").size(), 'w'));
  StartWatching(Record("A", "in", "out"));
#endif
  Lines expected;
  for (const std::string& name : names) {
    // Narrow names as the program lists them: through the ANSI code page on
    // Windows, as bytes on Linux.
    std::string path = Path("in") + kSeparator + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << name;
    std::fclose(file);
    expected.push_back(Expected("in", name, "-A"));
  }
#ifdef _WIN32
  // Made with its real name, as a program of the Linux side or a Unicode
  // one would; code page 1252 (wine-run.sh) lists it as "a?.txt".
  WriteWholeFile(At("in") / L"a\u4e2d.txt", "");
  EXPECT_TRUE(WaitForLog("(01)... PutFileNamesInDir. Name not in code page(a?.txt)"));
#endif
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Started("out", expected.size()), expected);
  EXPECT_TRUE(LogStaysStill()) << "a name left out is still being looked at";
  for (const char* where : {"", "in", "out"}) EXPECT_FALSE(fs::exists(At(where) / "pwned"));
  for (const std::string& line : Log()) EXPECT_NE(line.rfind("forged", 0), 0u) << line;
}

// The example command file installed beside the program
// ($WENDRAKE_PROGRAM, as the test command sets it) is accepted whole by
// the program it ships with. On Windows the program carries the build's
// version, as Explorer's Properties show it.
using InstalledExampleTest = WatchingTest;

TEST_F(InstalledExampleTest, CommandFileIsAcceptedWhole) {
#ifdef _WIN32
  const std::string program = ProgramPath();
  std::vector<char> info(GetFileVersionInfoSizeA(program.c_str(), nullptr));
  ASSERT_FALSE(info.empty()) << "no version resource in " << program;
  ASSERT_TRUE(
      GetFileVersionInfoA(program.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  for (const char* key : {"FileVersion", "ProductVersion"}) {
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(
        info.data(), (std::string("\\StringFileInfo\\040904b0\\") + key).c_str(), &value, &length))
        << key;
    EXPECT_STREQ(static_cast<const char*>(value), WENDRAKE_VERSION) << key;
  }
  fs::path example = fs::path(program).parent_path() / "WKCommand.txt";
#else
  fs::path example =
      fs::path(ProgramPath()).parent_path().parent_path() / "share" / "wendrake" / "WKCommand.txt";
#endif
  if (!fs::exists(example)) GTEST_SKIP() << "no installed example beside " << ProgramPath();
  // Its records wait behind a '#' until the paths are the user's own.
  std::string text = ReadWholeFile(example);
  for (std::size_t at = 0; (at = text.find("\n#ACTION=", at)) != std::string::npos;) {
    text.erase(at + 1, 1);
  }
  WriteWholeFile(At("WKCommand.txt"), text);
  ASSERT_TRUE(StartProgram());
  ASSERT_TRUE(WaitForLog("-Ended- LoadCommandFile."));
  EXPECT_EQ(Count(Log(), "Error format."), 0);
  // Both example records, the most there is room for.
  EXPECT_EQ(Count(Log(), "(02)... AddTabel ACTION="), 1);
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
