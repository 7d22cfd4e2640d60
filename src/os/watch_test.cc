#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

namespace fs = std::filesystem;
using os::WaitResult;
using testing::ScopedTempDir;
using testing::WriteWholeFile;

// A change that is reported at all is reported long before this.
constexpr int kChangeMs = 30000;

struct Change {
  const char* what;
  std::function<void(const fs::path&)> make;
};

const Change kChanges[] = {
    {"create", [](const fs::path& d) { WriteWholeFile(d / "new.txt", "new"); }},
    {"write", [](const fs::path& d) { std::ofstream(d / "old.txt", std::ios::app) << "more"; }},
    {"delete", [](const fs::path& d) { fs::remove(d / "old.txt"); }},
    {"rename", [](const fs::path& d) { fs::rename(d / "old.txt", d / "new.txt"); }},
};

// A change made during the scan that follows a wake-up wakes the next wait.
TEST(ChangeWatchTest, EveryKindOfChangeWakesTheWaitAlsoDuringTheScan) {
  for (const Change& change : kChanges) {
    SCOPED_TRACE(change.what);
    ScopedTempDir dir;
    WriteWholeFile(dir.path() / "old.txt", "old");
    os::Handle watch = os::ChangeWatchOpen(dir.str().c_str());
    ASSERT_NE(watch, os::kInvalidHandle);
    EXPECT_EQ(os::ChangeWatchWait(watch, 50), WaitResult::kTimeout);
    change.make(dir.path());
    EXPECT_EQ(os::ChangeWatchWait(watch, kChangeMs), WaitResult::kSignalled);
    WriteWholeFile(dir.path() / "during.txt", "");
    EXPECT_TRUE(os::ChangeWatchRearm(watch));
    EXPECT_EQ(os::ChangeWatchWait(watch, kChangeMs), WaitResult::kSignalled);
    os::ChangeWatchClose(watch);
  }
}

}  // namespace
}  // namespace wendrake
