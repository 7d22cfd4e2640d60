#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

namespace fs = std::filesystem;

// A process that ends holding the lock gives it up: an abandoned mutex
// counts as ours on Windows, the kernel drops a dead holder's flock on
// Linux. Not before it ends, though. (Held-off scans: the scenarios.)
TEST(LockTest, LockOfAHolderThatEndsHoldingItIsOursOnceItHasEnded) {
  testing::ScopedTempDir dir(true);
  const std::string name = "WKT" + dir.path().filename().string();  // mutex names are global
  auto holder = testing::StartHelper("lock_holder", {name, "held", "go", "abandon"});
  ASSERT_TRUE(testing::PollUntil([&] { return fs::exists("held"); }));
  os::Handle created = os::LockCreate(name.c_str()), lock = os::LockOpen(name.c_str());
  ASSERT_TRUE(created != 0 && lock != 0);
  std::thread letGo([&] {
    os::PauseFor(300);
    testing::WriteWholeFile("go", "");
  });
  EXPECT_TRUE(os::LockAcquire(lock));
  EXPECT_TRUE(fs::exists("go")) << "acquired while the holder still had it";
  letGo.join();
  EXPECT_EQ(testing::WaitHelper(holder), 0);
  os::LockRelease(lock);
  os::LockClose(lock);
  os::LockClose(created);
}

}  // namespace
}  // namespace wendrake
