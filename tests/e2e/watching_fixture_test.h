// The program watching folders of a start directory of its own, for the
// end-to-end suites: command-file records that start the recorder, the log
// read as it grows, and what each started program received.
#ifndef WENDRAKE_TESTS_E2E_WATCHING_FIXTURE_TEST_H_
#define WENDRAKE_TESTS_E2E_WATCHING_FIXTURE_TEST_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "test_util.h"

namespace wendrake {
namespace testing {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// The program under test, started as its users start it, in a start
// directory of its own (program.cc).
// $WENDRAKE_PROGRAM when set (the installed one), else the one built here.
std::string ProgramPath();
// Asks it to end as its platform does: SIGTERM on Linux, WM_CLOSE to its
// hidden window on Windows.
bool RequestEnd(const HelperProcess& program);
void Kill(HelperProcess& program);  // for a test that failed

// kStartedTag: the recorder's record of how it was started, the command
// line on Windows, each argv element on Linux. kCannotWork: the exit code
// of a run that could not work.
#ifdef _WIN32
constexpr char kSeparator = '\\';
constexpr const char* kStartedTag = "cmd";
#else
constexpr char kSeparator = '/';
constexpr const char* kStartedTag = "arg";
#endif
constexpr int kCannotWork = 1;

class WatchingTest : public ::testing::Test {
 protected:
  WatchingTest() {
    for (const char* folder : {"in", "out", "in2", "out2"}) fs::create_directory(At(folder));
  }
  ~WatchingTest() override {
    // Whatever a failed test left holding lets go first; then, whatever the
    // test did to it, the program must end normally when asked.
    for (const auto& holder : holders_) Release(holder.first);
    if (program_.id == 0) return;
    EXPECT_TRUE(RequestEnd(program_));
    EXPECT_EQ(WaitHelper(program_, 60000), 0) << "no normal end when asked";
    if (program_.id != 0) Kill(program_);
  }

  // Starts the program in the start directory; on Windows a `showState` of
  // 0 or more is handed over as a launcher's SW_... show state.
  bool StartProgram(int showState = -1) {
    program_ = StartProcess(ProgramPath(), {}, start_.str(), showState);
    return program_.id != 0;
  }

  fs::path At(const std::string& relative) const { return start_.path() / relative; }
  // "" names the start directory itself.
  std::string Path(const std::string& relative) const {
    return relative.empty() ? start_.str() : start_.str() + kSeparator + relative;
  }

  // A command-file record: watch `in`, start the recorder in `out`.
  std::string Record(const std::string& action, const std::string& in, const std::string& out,
                     const std::string& argument = "job") const {
    return "ACTION=" + action + " FOLDER=\"" + Path(in) +
           "\" EXECUTE=" + HelperProgram("argv_recorder") + " CURRENT=\"" + Path(out) +
           "\" ARGUMENT=" + argument + "\n";
  }

  // Writes the command file, starts the program and waits until its last
  // entry waits for changes.
  void StartWatching(const std::string& commandFile, int entries = 1) {
    WriteWholeFile(At("WKCommand.txt"), commandFile);
    ASSERT_TRUE(StartProgram());
    ASSERT_TRUE(WaitForLog("(0" + std::to_string(entries) + ")...-Wait("));
  }

  // The log's whole lines so far; one being written is left for later.
  Lines Log() const {
    std::string bytes = ReadWholeFile(At("Wendrake.log"));
    std::size_t end = bytes.rfind("\r\n");
    return end == std::string::npos ? Lines{} : LogTexts(bytes.substr(0, end + 2));
  }

  // How many of `lines` start with `prefix`.
  static int Count(const Lines& lines, const std::string& prefix) {
    return static_cast<int>(std::count_if(
        lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
  }

  // Waits for `count` log lines that start with `prefix`; fails showing
  // the log when they do not come.
  ::testing::AssertionResult WaitForLog(const std::string& prefix, int count = 1,
                                        int seconds = 60) const {
    if (PollUntil([&] { return Count(Log(), prefix) >= count; }, seconds * 1000)) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << ::testing::PrintToString(Log());
  }

  // How the recorder was started in `folder`, sorted, each word ended by a
  // NUL, which no name holds: once `count` starts are recorded there, and a
  // while longer so that one too many would be seen.
  Lines Started(const std::string& folder, std::size_t count, int seconds = 60) const {
    PollUntil([&] { return ReadArgvRecords(At(folder)).size() >= count; }, seconds * 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Lines all;
    for (ArgvRecord& record : ReadArgvRecords(At(folder))) {
      all.emplace_back();
      for (const std::string& word : record[kStartedTag]) all.back() += word + '\0';
    }
    std::sort(all.begin(), all.end());
    return all;
  }

  // What Started() should hold for `name` in `in`.
  std::string Expected(const std::string& in, const std::string& name, const std::string& flag,
                       const std::string& argument = "job") const {
    std::string path = Path(in) + kSeparator + name;
#ifdef _WIN32
    return HelperProgram("argv_recorder") + " \"" + path + "\" " + flag + " " + argument + '\0';
#else
    return HelperProgram("argv_recorder") + '\0' + path + '\0' + flag + '\0' + argument + '\0';
#endif
  }

  // Another process opens `in`/`name` in `mode` (see open_probe) until
  // Release(`in`).
  void HoldFile(const std::string& mode, const std::string& in, const std::string& name) {
    holders_[in] = StartHelper("open_probe", {mode, Path(in) + kSeparator + name,
                                              Path(in + ".held"), Path(in + ".release")});
    ASSERT_TRUE(PollUntil([&] { return fs::exists(At(in + ".held")); }));
  }

  // Another process takes entry 1's lock until Release("lock"): a named
  // mutex on Windows, opened as open_probe's `mode` says; on Linux
  // flock(1) on the lock file, as a script would.
  void HoldLock([[maybe_unused]] const std::string& mode = "") {
#ifdef _WIN32
    holders_["lock"] =
        StartProcess(HelperProgram("open_probe"),
                     {"lock", "KSFF01", "lock.held", "lock.release", mode}, start_.str());
#else
    const char* script = "touch lock.held; while [ ! -e lock.release ]; do sleep 0.05; done";
    holders_["lock"] = StartProcess("flock", {"KSFF01.lock", "sh", "-c", script}, start_.str());
#endif
    ASSERT_TRUE(PollUntil([&] { return fs::exists(At("lock.held")); }));
  }

  // Lets the holder go; true when it ended well.
  bool Release(const std::string& what) {
    WriteWholeFile(At(what + ".release"), "");
    bool ok = WaitHelper(holders_[what]) == 0;
    fs::remove(At(what + ".held"));
    fs::remove(At(what + ".release"));
    return ok;
  }

  // True when the log gains no line for two seconds: nothing runs by itself.
  bool LogStaysStill() const {
    std::uintmax_t size = fs::file_size(At("Wendrake.log"));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    return fs::file_size(At("Wendrake.log")) == size;
  }

  ScopedTempDir start_;
  HelperProcess program_;
  std::map<std::string, HelperProcess> holders_;  // by folder, and "lock"
};

}  // namespace testing
}  // namespace wendrake

#endif  // WENDRAKE_TESTS_E2E_WATCHING_FIXTURE_TEST_H_
