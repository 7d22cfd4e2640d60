// Changes made while the program was not running: reported at the next
// start for an entry that asks for it (R in ACTION=), once each, and for
// no other entry; a snapshot kept for another folder, or damaged, is never
// reported from. A kill loses nothing, though a start may be made twice.
#include <chrono>
#include <functional>
#include <iostream>
#include <set>
#include <string>
#include <thread>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

class RestartTest : public WatchingTest {
 protected:
  // Starts the program again and waits until its last entry waits.
  void Restart() {
    int waits = Count(Log(), "(01)...-Wait(");
    ASSERT_TRUE(StartProgram());
    ASSERT_TRUE(WaitForLog("(01)...-Wait(", waits + 1));
  }
  void Stop() {
    ASSERT_TRUE(RequestEnd(program_));
    ASSERT_EQ(WaitHelper(program_, 60000), 0);
  }
  // The name of each start's file with its flag, "name -A".
  std::multiset<std::string> Starts() const {
    std::multiset<std::string> all;
    for (ArgvRecord& record : ReadArgvRecords(At("out"))) {
      const std::vector<std::string>& words = record[kStartedTag];
#ifdef _WIN32  // the command line: recorder "path" flag job
      std::string line = words.at(0);
      std::size_t open = line.find('"'), close = line.find('"', open + 1);
      std::string path = line.substr(open + 1, close - open - 1);
      std::string flag = line.substr(close + 2, 2);
#else
      std::string path = words.at(1), flag = words.at(2);
#endif
      all.insert(fs::path(path).filename().string() + " " + flag);
    }
    return all;
  }
};

void Age(const fs::path& path) {
  fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(1));
}

// While the program is down: 50 files added, 10 deleted, 5 re-dated at the
// same size, 5 grown; then whatever the row does to the start directory.
TEST_F(RestartTest, ChangesWhileStoppedAreReportedOnceOnlyWhereAskedAndTrusted) {
  const struct {
    const char* what;
    const char* action;
    std::function<void()> meanwhile;
    const char* watched;  // at the restart
    const char* logged;   // the restart's Resume line ends so; nullptr: none
  } cases[] = {
      {"asked", "ADUR", nullptr, "in", "-what changed while stopped is reported now."},
      {"not asked", "ADU", nullptr, "in", nullptr},
      {"another folder", "ADUR",
       [this] {
         WriteWholeFile(At("WKCommand.txt"), Record("ADUR", "in2", "out"));
         for (const fs::directory_entry& file : fs::directory_iterator(At("in"))) {
           fs::copy_file(file.path(), At("in2") / file.path().filename());
         }
       },
       "in2", "-the kept snapshot is of another folder: started afresh."},
      {"damaged", "ADUR",
       [this] {
         std::string old = ReadWholeFile(At("KSFF01O.txt"));
         WriteWholeFile(At("KSFF01O.txt"), old.insert(300, "garbage"));
       },
       "in", "-the kept snapshot is damaged: started afresh."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : {"in", "in2", "out", "Wendrake.log", "KSFF01O.txt", "KSFF01K.txt"}) {
      fs::remove_all(At(name));
    }
    for (const char* folder : {"in", "in2", "out"}) fs::create_directory(At(folder));
    for (int i = 0; i < 20; ++i) WriteWholeFile(At("in") / ("o" + std::to_string(i)), "original");
    StartWatching(Record(c.action, "in", "out"));
    if (HasFatalFailure()) return;
    Stop();
    if (HasFatalFailure()) return;
    std::multiset<std::string> expected;
    for (int i = 0; i < 50; ++i) {
      WriteWholeFile(At("in") / ("n" + std::to_string(i)), "new");
      expected.insert("n" + std::to_string(i) + " -A");
    }
    for (int i = 0; i < 20; ++i) {
      const std::string name = "o" + std::to_string(i);
      if (i < 10) fs::remove(At("in") / name);
      if (i >= 10 && i < 15) Age(At("in") / name);
      if (i >= 15) WriteWholeFile(At("in") / name, "original, grown");
      expected.insert(name + (i < 10 ? " -D" : i < 15 ? " -U" : " -A"));
    }
    if (c.meanwhile) c.meanwhile();
    Restart();
    if (HasFatalFailure()) return;
    const bool reported = c.logged != nullptr && c.meanwhile == nullptr;
    Started("out", reported ? expected.size() : 1, reported ? 60 : 3);
    EXPECT_EQ(Starts(), reported ? expected : std::multiset<std::string>{});
    const std::string resume = "(01)...      Resume(" + Path(c.watched) + ") ";
    EXPECT_EQ(Count(Log(), resume + (c.logged != nullptr ? c.logged : "")), c.logged ? 1 : 0);
    // Then it watches as ever.
    WriteWholeFile(At(c.watched) / "after", "after");
    expected = reported ? expected : std::multiset<std::string>{};
    expected.insert("after -A");
    Started("out", expected.size());
    EXPECT_EQ(Starts(), expected);
    Stop();
    if (HasFatalFailure()) return;
  }
}

// Stopped or killed in a burst of 500 files (100 under Wine, stopped
// only), with 20 more made while it is down: at the next start every file
// is started at least once. Across a stop none twice; across a kill, a
// start made in the scan it cut short is made again, and how many is
// printed.
TEST_F(RestartTest, StopOrKillInABurstLosesNothing) {
#ifdef _WIN32
  const int burst = 100;  // a start costs Wine a good part of a second
#else
  const int burst = 500;
#endif
  const std::size_t all = static_cast<std::size_t>(burst) + 20;
#ifdef _WIN32
  // A program killed by TerminateProcess while Wine starts a child for it
  // can leave that child stuck in its start-up for good, holding the
  // suite's output open: the kill is staged on Linux only.
  const bool kills[] = {false};
#else
  const bool kills[] = {false, true};
#endif
  for (bool kill : kills) {
    SCOPED_TRACE(kill ? "kill" : "stop");
    for (const char* name : {"in", "out", "Wendrake.log", "KSFF01O.txt", "KSFF01K.txt"}) {
      fs::remove_all(At(name));
    }
    for (const char* folder : {"in", "out"}) fs::create_directory(At(folder));
    StartWatching(Record("AR", "in", "out"));
    if (HasFatalFailure()) return;
    for (int i = 0; i < burst; ++i) {
      WriteWholeFile(At("in") / ("b" + std::to_string(i)), "burst " + std::to_string(i));
      if (i == burst / 2 && kill) Kill(program_);
      if (i == burst / 2 && !kill) {
        ASSERT_TRUE(RequestEnd(program_));
      }
    }
    if (!kill) {
      ASSERT_EQ(WaitHelper(program_, 60000), 0);
    }
    for (int i = 0; i < 20; ++i) WriteWholeFile(At("in") / ("d" + std::to_string(i)), "down");
    Restart();
    if (HasFatalFailure()) return;
    std::multiset<std::string> starts;
    std::set<std::string> names;
    PollUntil(
        [&] {
          starts = Starts();
          names = std::set<std::string>(starts.begin(), starts.end());
          return names.size() >= all;
        },
        120000);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    starts = Starts();
    names = std::set<std::string>(starts.begin(), starts.end());
    EXPECT_EQ(names.size(), all);
    for (const std::string& name : names) EXPECT_EQ(name.substr(name.size() - 2), "-A") << name;
    if (!kill) {
      EXPECT_EQ(starts.size(), names.size()) << "started twice across a stop";
    }
    std::cout << (kill ? "kill" : "stop") << ": " << starts.size() - names.size()
              << " started twice\n";
    Stop();
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
