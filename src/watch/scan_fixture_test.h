// Whole scans of entry 1 over a real folder, for the watch tests: the entry
// armed as start-up arms it, one scan at a time, and what each scan leaves
// in the log and in the old snapshot.
#ifndef WENDRAKE_WATCH_SCAN_FIXTURE_TEST_H_
#define WENDRAKE_WATCH_SCAN_FIXTURE_TEST_H_

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "config/thread_control.h"
#include "log/log.h"
#include "test_util.h"
#include "watch/pending_files.h"
#include "watch/settling.h"
#include "watch/snapshot.h"
#include "watch/watcher.h"

namespace wendrake {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class ScanFixture : public ::testing::Test {
 protected:
  ScanFixture() : start_(true), folder_((start_.path() / "in").string()) {
    ResetLogForTesting();
    fs::create_directory("in");
  }
  ~ScanFixture() override {
    os::LockClose(lock_);
    ResetLogForTesting();
  }

  // Makes entry 1 watch the folder with `action` (starting the open_probe
  // helper) and takes the first snapshot, as arming does at start-up.
  void Arm(const char* action) {
    os::LockClose(lock_);
    action_ = action;
    entryCount = 0;
    ClearThreadControlTable();
    AddTableEntry(action, folder_.c_str(), testing::HelperProgram("open_probe").c_str(),
                  start_.str().c_str(), "");
    lock_ = os::LockCreate(EntryAt(1).mutexName);
    memory_ = ScanMemory();
    ForgetSettling(EntryAt(1));
    PutFileNamesInDir(1, "KSFF01O.txt", folder_.c_str());
    seen_ = testing::CurrentLogTexts().size();
  }

  // Runs one scan; returns the log lines it wrote, and notes whether it
  // left a file pending, and which.
  Lines Scan() {
    pending_ = ScanFolder(EntryAt(1), &left_, &memory_);
    Lines texts = testing::CurrentLogTexts();
    Lines added(texts.begin() + static_cast<std::ptrdiff_t>(seen_), texts.end());
    seen_ = texts.size();
    return added;
  }

  fs::path In(const std::string& name) const { return start_.path() / "in" / name; }
  void Write(const std::string& name, const char* text) { testing::WriteWholeFile(In(name), text); }
  // Moves the file's last-write time back, so a scan sees another one.
  void Age(const std::string& name, int hours) {
    fs::last_write_time(In(name), fs::last_write_time(In(name)) - std::chrono::hours(hours));
  }

  // "name size" of each record of the old snapshot, the next scan's baseline.
  Lines OldSnapshot() const {
    std::string bytes = testing::ReadWholeFile("KSFF01O.txt");
    Lines records;
    for (std::size_t at = 0; at < bytes.size(); at += kRecordLength) {
      std::string name = bytes.substr(at, kNameLength);
      records.push_back(name.erase(name.find_last_not_of(' ') + 1) + " " +
                        bytes.substr(at + kSizeOffset, kSizeLength));
    }
    return records;
  }

  testing::ScopedTempDir start_;
  std::string folder_;
  std::string action_;  // as armed
  os::Handle lock_ = os::kInvalidHandle;
  std::size_t seen_ = 0;
  bool pending_ = false;
  PendingFiles left_ = {};
  ScanMemory memory_;  // the watcher's, from one scan to the next
};

}  // namespace wendrake

#endif  // WENDRAKE_WATCH_SCAN_FIXTURE_TEST_H_
