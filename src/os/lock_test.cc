#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

namespace fs = std::filesystem;
using testing::PollUntil;

TEST(LockTest, LockHeldElsewhereIsOursOnlyOnceItsHolderGivesItUpOrEnds) {
  // Lock files are made in the current directory; mutex names are global,
  // so they carry the test's folder name.
  testing::ScopedTempDir dir(true);
  const std::string name = "WKT" + dir.path().filename().string();
  auto at = [&](const std::string& file) { return (dir.path() / file).string(); };
  auto exists = [&](const std::string& file) { return fs::exists(dir.path() / file); };
  for (std::string how : {"release", "abandon"}) {
    SCOPED_TRACE(how);
    std::vector<std::string> args = {name, at(how + ".held"), at(how + ".go")};
    if (how == "abandon") args.push_back("abandon");
    auto holder = testing::StartHelper("lock_holder", args);
    ASSERT_TRUE(PollUntil([&] { return exists(how + ".held"); }));
    os::Handle created = os::LockCreate(name.c_str()), lock = os::LockOpen(name.c_str());
    ASSERT_TRUE(created != 0 && lock != 0);

    std::thread letGo([&] {
      os::PauseFor(300);
      testing::WriteWholeFile(at(how + ".go"), "");
    });
    EXPECT_TRUE(os::LockAcquire(lock));
    EXPECT_TRUE(exists(how + ".go")) << "acquired while the holder still had the lock";
    letGo.join();
    EXPECT_EQ(testing::WaitHelper(holder), 0);

    // Ours now: the next process waits until we give it back.
    auto next = testing::StartHelper("lock_holder", {name, at(how + ".next"), at(how + ".end")});
    os::PauseFor(300);
    EXPECT_FALSE(exists(how + ".next"));
    os::LockRelease(lock);
    EXPECT_TRUE(PollUntil([&] { return exists(how + ".next"); }));
    testing::WriteWholeFile(at(how + ".end"), "");
    EXPECT_EQ(testing::WaitHelper(next), 0);
    os::LockClose(lock);
    os::LockClose(created);
  }
}

}  // namespace
}  // namespace wendrake
