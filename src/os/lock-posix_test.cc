#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <filesystem>

#include "os/os.h"
#include "test_util.h"

extern char** environ;

namespace wendrake {
namespace {

struct Acquirer {
  os::Handle lock;
  std::atomic<bool> entered{false}, done{false}, result{true};
};

void Acquire(void* parameter) {
  Acquirer* acquirer = static_cast<Acquirer*>(parameter);
  acquirer->entered = true;
  acquirer->result = os::LockAcquire(acquirer->lock);
  acquirer->done = true;
}

// A script holds the scan off with flock(1) on the lock file; at the stop,
// the scan's thread must not wait for the script: no stop fd reaches a
// thread inside flock, ThreadEnd's signal must.
TEST(LockPosixTest, ScanHeldOffByFlockInAScriptIsEndedAtTheStop) {
  testing::ScopedTempDir dir(true);
  const char* argv[] = {
      "flock", "KSFF01.lock", "sh", "-c", ": > held; while [ ! -e go ]; do sleep 0.05; done",
      nullptr};
  pid_t script = 0;
  ASSERT_EQ(posix_spawnp(&script, "flock", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  ASSERT_TRUE(testing::PollUntil([] { return std::filesystem::exists("held"); }));
  os::Handle created = os::LockCreate("KSFF01");
  Acquirer acquirer;
  acquirer.lock = os::LockOpen("KSFF01");
  os::Handle thread = os::ThreadStart(Acquire, &acquirer, nullptr);
  ASSERT_TRUE(thread != 0 && testing::PollUntil([&] { return acquirer.entered.load(); }));
  os::PauseFor(300);  // most likely blocked in flock by now
  EXPECT_FALSE(acquirer.done) << "not held off by the script";

  os::RequestStop();
  os::ThreadEnd(thread);
  EXPECT_TRUE(acquirer.done && !acquirer.result);
  testing::WriteWholeFile("go", "");
  EXPECT_EQ(waitpid(script, nullptr, 0), script);
  os::LockClose(acquirer.lock);
  os::LockClose(created);
  os::ResetStopForTesting();
}

}  // namespace
}  // namespace wendrake
