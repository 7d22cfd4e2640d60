// Shared by the launcher's tests: entry 1 set up to start the argv_recorder
// helper in a fresh CURRENT, 99-byte records made by hand, and the lines a
// build and launch are expected to log.
#ifndef WENDRAKE_LAUNCH_LAUNCHER_TEST_UTIL_H_
#define WENDRAKE_LAUNCH_LAUNCHER_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "argv_record.h"
#include "config/thread_control.h"
#include "launch/launcher.h"
#include "log/log.h"
#include "test_util.h"

namespace wendrake {

using Lines = std::vector<std::string>;
using Builder = void (*)(int, const unsigned char*, char*);

inline std::string Recorder() {
  return testing::HelperProgram("argv_recorder");
}

inline void Set(int index, const std::string& folder, const std::string& execute,
                const std::string& current, const std::string& argument) {
  ThreadControlEntry& e = EntryAt(index);
  std::snprintf(e.folder, sizeof e.folder, "%s", folder.c_str());
  std::snprintf(e.execute, sizeof e.execute, "%s", execute.c_str());
  std::snprintf(e.current, sizeof e.current, "%s", current.c_str());
  std::snprintf(e.argument, sizeof e.argument, "%s", argument.c_str());
}

// Starts the next case with an empty log.
inline void FreshLog() {
  ResetLogForTesting();
  std::remove(kLogFileName);
}

// Runs `builder` on a record for `name` (at most 63 bytes) into a fresh
// zero-filled buffer.
inline std::string Build(Builder builder, int index, const std::string& name) {
  char record[100];
  std::snprintf(record, sizeof record, "%-63s%c%012d%c%s%c%s%c\r\n", name.c_str(), 0, 42, 0,
                "2026-12-07", 0, "08:04:09", 0);
  char argumentString[kArgumentStringCapacity] = {};
  builder(index, reinterpret_cast<const unsigned char*>(record), argumentString);
  return argumentString;
}

// Builds for the addition of `name` and launches it; returns the string.
inline std::string BuildAndLaunch(int index, const std::string& name) {
  std::string argumentString = Build(BuildAdditionCommand, index, name);
  LaunchCommand(index, argumentString.c_str());
  return argumentString;
}

// Entry 1's builder line for `name`, then the six lines of a launch of
// `argumentString` with `code` (0: started), as the log cuts them.
inline Lines Expected(const std::string& name, int code, const std::string& argumentString) {
  const ThreadControlEntry& e = EntryAt(1);
  Lines lines = {"(01)... ... ... ... Adition(" + name + ")",
                 code == 0 ? "(01)... ... CreateProcess(Normal complete)"
                           : "(01)... CreateProcess(Error) Code(" + std::to_string(code) + ")",
                 "(01)... ... ... Folder(" + std::string(e.folder) + ")",
                 "(01)... ... ... Execute(" + std::string(e.execute) + ")",
                 "(01)... ... ... Argument(" + argumentString + ")",
                 "(01)... ... ... Current(" + std::string(e.current) + ")",
                 ""};
  for (std::string& line : lines) line = line.substr(0, kLogTextMax);
  return lines;
}

class LauncherTest : public ::testing::Test {
 protected:
  LauncherTest() : dir_(true), current_(dir_.path() / "current") {
    ClearThreadControlTable();
    FreshLog();
    std::filesystem::create_directory(current_);
    Set(1, Folder("in"), Recorder(), current_.string(), "");
  }
  ~LauncherTest() override { ResetLogForTesting(); }

  std::string Folder(const std::string& name) const { return (dir_.path() / name).string(); }

  testing::ScopedTempDir dir_;
  std::filesystem::path current_;
};

}  // namespace wendrake

#endif  // WENDRAKE_LAUNCH_LAUNCHER_TEST_UTIL_H_
