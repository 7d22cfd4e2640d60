#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

namespace fs = std::filesystem;
using testing::PollUntil;

// A lock another process holds is ours once it gives it back or ends
// holding it, and not before; held by us, the next process waits for it.
TEST(LockTest, LockHeldElsewhereIsOursOnlyOnceItsHolderGivesItUpOrEnds) {
  // Mutex names are global: they carry the test folder's name.
  testing::ScopedTempDir dir(true);
  const std::string name = "WKT" + dir.path().filename().string();
  auto at = [&](const std::string& file) { return (dir.path() / file).string(); };
  for (std::string how : {"release", "abandon"}) {
    SCOPED_TRACE(how);
    auto holder = testing::StartHelper("lock_holder", {name, at(how + ".held"), at(how + ".go"),
                                                       how == "abandon" ? "abandon" : "keep"});
    ASSERT_TRUE(PollUntil([&] { return fs::exists(at(how + ".held")); }));
    os::Handle created = os::LockCreate(name.c_str()), lock = os::LockOpen(name.c_str());
    ASSERT_TRUE(created != 0 && lock != 0);
    std::thread letGo([&] {
      os::PauseFor(300);
      testing::WriteWholeFile(at(how + ".go"), "");
    });
    EXPECT_TRUE(os::LockAcquire(lock));
    EXPECT_TRUE(fs::exists(at(how + ".go"))) << "acquired while the holder still had it";
    letGo.join();
    EXPECT_EQ(testing::WaitHelper(holder), 0);

    auto next = testing::StartHelper("lock_holder", {name, at(how + ".next"), at(how + ".end")});
    os::PauseFor(300);
    EXPECT_FALSE(fs::exists(at(how + ".next")));
    os::LockRelease(lock);
    EXPECT_TRUE(PollUntil([&] { return fs::exists(at(how + ".next")); }));
    testing::WriteWholeFile(at(how + ".end"), "");
    EXPECT_EQ(testing::WaitHelper(next), 0);
    os::LockClose(lock);
    os::LockClose(created);
  }
}

}  // namespace
}  // namespace wendrake
