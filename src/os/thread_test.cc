#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>

#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

using testing::PollUntil;

struct Waiter {
  std::function<bool()> call;  // a blocking call; true when it ended as a stop ends it
  std::atomic<bool> done{false}, stopped{false};
};

std::atomic<int> entered{0};  // waiters that have begun their call

void RunWaiter(void* parameter) {
  Waiter* waiter = static_cast<Waiter*>(parameter);
  ++entered;
  waiter->stopped = waiter->call();
  waiter->done = true;
}

// The stop ends watchers where they wait, and ThreadEnd also a lock wait
// that another process holds off (no stop fd reaches a thread inside
// flock, its signal must); every later wait returns at once. A thread
// the shutdown had to give up would still be waiting here. A holder that
// ends holding the lock gives it up: an abandoned mutex counts as ours on
// Windows, the kernel drops a dead holder's flock on Linux.
TEST(ThreadTest, StopEndsEveryWaitInProgressAndEveryLaterOne) {
  testing::ScopedTempDir dir(true);
  const std::string name = "WKT" + dir.path().filename().string();  // mutex names are global
  auto holder = testing::StartHelper("open_probe", {"lock", name, "held", "go", "abandon"});
  ASSERT_TRUE(PollUntil([] { return std::filesystem::exists("held"); }));
  os::Handle lock = os::LockOpen(name.c_str());
  // A folder nothing writes: the holder's own files, made and closed in the
  // start directory, could wake the wait before the stop does.
  std::filesystem::create_directory("quiet");
  os::Handle watch = os::ChangeWatchOpen((dir.path() / "quiet").string().c_str());
  ASSERT_TRUE(lock != os::kInvalidHandle && watch != os::kInvalidHandle);
  Waiter waiters[] = {
      {[&] { return os::ChangeWatchWait(watch, -1) == os::WaitResult::kStopped; }},
      // An entry whose notification could not be set up waits, too.
      {[] { return os::ChangeWatchWait(os::kInvalidHandle, -1) == os::WaitResult::kStopped; }},
      {[] { return os::PauseFor(600000), true; }},
      {[&] { return !os::LockAcquire(lock); }},
  };
  os::Handle threads[4];
  for (int i = 0; i < 4; ++i) threads[i] = os::ThreadStart(RunWaiter, &waiters[i], nullptr);
  ASSERT_TRUE(PollUntil([] { return entered == 4; }));
  os::PauseFor(300);  // most likely inside their waits by now
  for (Waiter& w : waiters) EXPECT_FALSE(w.done);

  os::RequestStop();  // alone it ends all but the lock wait
  EXPECT_TRUE(PollUntil([&] { return waiters[0].done && waiters[1].done && waiters[2].done; }));
  for (os::Handle thread : threads) os::ThreadEnd(thread);
  for (Waiter& w : waiters) EXPECT_TRUE(w.done && w.stopped) << &w - waiters;
  EXPECT_EQ(os::ChangeWatchWait(watch, 600000), os::WaitResult::kStopped);
  os::PauseFor(600000);
  os::ResetStopForTesting();
  testing::WriteWholeFile("go", "");
  EXPECT_EQ(testing::WaitHelper(holder), 0);
  EXPECT_TRUE(os::LockAcquire(lock));
  os::ChangeWatchClose(watch);
  os::LockClose(lock);
}

}  // namespace
}  // namespace wendrake
