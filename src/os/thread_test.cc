#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

using testing::PollUntil;

// A blocking call on a thread of the layer.
struct Waiter {
  std::function<void()> call;
  std::atomic<bool> entered{false}, done{false};
};

void RunWaiter(void* parameter) {
  Waiter* waiter = static_cast<Waiter*>(parameter);
  waiter->entered = true;
  waiter->call();
  waiter->done = true;
}

TEST(ThreadTest, StopEndsEveryWaitInProgressAndEveryLaterOne) {
  testing::ScopedTempDir dir;
  os::Handle watch = os::ChangeWatchOpen(dir.str().c_str());
  ASSERT_NE(watch, os::kInvalidHandle);
  os::WaitResult result = os::WaitResult::kSignalled;
  os::WaitResult unwatchedResult = os::WaitResult::kSignalled;
  Waiter changeWait, unwatchedWait, pause;
  changeWait.call = [&] { result = os::ChangeWatchWait(watch, -1); };
  // An entry whose notification could not be set up waits, too.
  unwatchedWait.call = [&] { unwatchedResult = os::ChangeWatchWait(os::kInvalidHandle, -1); };
  pause.call = [] { os::PauseFor(600000); };
  os::Handle threads[] = {os::ThreadStart(RunWaiter, &changeWait, nullptr),
                          os::ThreadStart(RunWaiter, &pause, nullptr),
                          os::ThreadStart(RunWaiter, &unwatchedWait, nullptr)};
  ASSERT_TRUE(threads[0] != 0 && threads[1] != 0 && threads[2] != 0);
  EXPECT_TRUE(
      PollUntil([&] { return changeWait.entered && pause.entered && unwatchedWait.entered; }));
  os::PauseFor(100);  // most likely inside their waits by now
  EXPECT_FALSE(changeWait.done || pause.done || unwatchedWait.done);

  os::RequestStop();
  EXPECT_TRUE(PollUntil([&] { return changeWait.done && pause.done && unwatchedWait.done; }));
  // Stopped threads are ended as the shutdown ends them: on Windows a
  // thread terminated in its own exit could leave the loader lock held,
  // and a later thread or process start of this program would hang.
  for (os::Handle thread : threads) os::ThreadEnd(thread);
  EXPECT_EQ(result, os::WaitResult::kStopped);
  EXPECT_EQ(unwatchedResult, os::WaitResult::kStopped);
  // From now on too, without waiting.
  EXPECT_EQ(os::ChangeWatchWait(watch, 600000), os::WaitResult::kStopped);
  os::PauseFor(600000);
  os::ChangeWatchClose(watch);
  os::ResetStopForTesting();
}

}  // namespace
}  // namespace wendrake
