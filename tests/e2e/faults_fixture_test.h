// The program under faults: another process that holds an entry's lock, a
// check that nothing runs by itself, and files put in at one stroke.
#ifndef WENDRAKE_TESTS_E2E_FAULTS_FIXTURE_TEST_H_
#define WENDRAKE_TESTS_E2E_FAULTS_FIXTURE_TEST_H_

#include <chrono>
#include <string>
#include <thread>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {

class FaultTest : public WatchingTest {
 protected:
  ~FaultTest() override { ReleaseLock(); }

  // Another process takes entry 1's lock and keeps it until ReleaseLock.
  void HoldLock() {
#ifdef _WIN32
    std::string name = "KSFF01";  // mutex names are the same for every process
#else
    std::string name = Path("KSFF01");  // the lock file is in the start directory
#endif
    holder_ = StartHelper("lock_holder", {name, Path("lock.held"), Path("lock.release")});
    ASSERT_NE(holder_.id, 0);
    ASSERT_TRUE(PollUntil([&] { return fs::exists(At("lock.held")); }));
  }

  void ReleaseLock() {
    if (holder_.id == 0) return;
    WriteWholeFile(At("lock.release"), "");
    EXPECT_EQ(WaitHelper(holder_), 0);
    holder_ = HelperProcess{};
    fs::remove(At("lock.held"));
    fs::remove(At("lock.release"));
  }

  // True when the log gains no line for two seconds: nothing runs by itself.
  bool LogStaysStill() const {
    std::uintmax_t size = fs::file_size(At("Wendrake.log"));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    return fs::file_size(At("Wendrake.log")) == size;
  }

  // Puts a finished file into `folder` by one rename: one change, one scan.
  void DropIn(const std::string& folder, const std::string& name) {
    WriteWholeFile(At(name + ".new"), name);
    fs::rename(At(name + ".new"), At(folder) / name);
  }

  HelperProcess holder_;
};

}  // namespace testing
}  // namespace wendrake

#endif  // WENDRAKE_TESTS_E2E_FAULTS_FIXTURE_TEST_H_
