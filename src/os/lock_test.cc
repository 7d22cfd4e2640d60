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

class LockTest : public ::testing::Test {
 protected:
  // Lock files are made in the current directory; mutex names are global,
  // so they carry the test's folder name.
  LockTest() : dir_(true), name_("WKT" + dir_.path().filename().string()) {}

  bool Exists(const std::string& file) const { return fs::exists(dir_.path() / file); }
  std::string At(const std::string& file) const { return (dir_.path() / file).string(); }

  testing::ScopedTempDir dir_;
  std::string name_;
};

TEST_F(LockTest, LockHeldElsewhereIsOursOnlyOnceItsHolderGivesItUpOrEnds) {
  for (std::string how : {"release", "abandon"}) {
    SCOPED_TRACE(how);
    std::vector<std::string> args = {name_, At(how + ".held"), At(how + ".go")};
    if (how == "abandon") args.push_back("abandon");
    auto holder = testing::StartHelper("lock_holder", args);
    ASSERT_TRUE(PollUntil([&] { return Exists(how + ".held"); }));
    os::Handle created = os::LockCreate(name_.c_str());
    os::Handle lock = os::LockOpen(name_.c_str());
    ASSERT_NE(created, 0);
    ASSERT_NE(lock, 0);

    std::thread letGo([&] {
      os::PauseFor(300);
      testing::WriteWholeFile(At(how + ".go"), "");
    });
    EXPECT_TRUE(os::LockAcquire(lock));
    EXPECT_TRUE(Exists(how + ".go")) << "acquired while the holder still had the lock";
    letGo.join();
    EXPECT_EQ(testing::WaitHelper(holder), 0);

    // Ours now: the next process waits until we give it back.
    auto next = testing::StartHelper("lock_holder", {name_, At(how + ".next"), At(how + ".end")});
    os::PauseFor(300);
    EXPECT_FALSE(Exists(how + ".next"));
    os::LockRelease(lock);
    EXPECT_TRUE(PollUntil([&] { return Exists(how + ".next"); }));
    testing::WriteWholeFile(At(how + ".end"), "");
    EXPECT_EQ(testing::WaitHelper(next), 0);
    os::LockClose(lock);
    os::LockClose(created);
  }
}

TEST_F(LockTest, LockNobodyCreatedCannotBeOpened) {
  EXPECT_EQ(os::LockOpen(name_.c_str()), 0);
}

}  // namespace
}  // namespace wendrake
