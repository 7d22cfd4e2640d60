#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

namespace fs = std::filesystem;
using os::WaitResult;
using testing::ScopedTempDir;

// touch(1) sets both times, which inotify reports as an attribute change;
// the probe opens, reads nothing and closes, which must not start another
// scan.
TEST(ChangeWatchPosixTest, TouchWakesButReadingOrProbingDoesNot) {
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> act;
    WaitResult expected;
  };
  const Case cases[] = {
      {"touch", [](const fs::path& f) { utimensat(AT_FDCWD, f.c_str(), nullptr, 0); },
       WaitResult::kSignalled},
      {"read", [](const fs::path& f) { testing::ReadWholeFile(f); }, WaitResult::kTimeout},
      {"probe",
       [](const fs::path& f) {
         os::ProbeInfo info;
         EXPECT_EQ(os::ProbeExclusive(f.c_str(), &info), os::ProbeResult::kFree);
       },
       WaitResult::kTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedTempDir dir;
    testing::WriteWholeFile(dir.path() / "data.txt", "contents");
    os::Handle watch = os::ChangeWatchOpen(dir.str().c_str());
    ASSERT_NE(watch, os::kInvalidHandle);
    c.act(dir.path() / "data.txt");
    EXPECT_EQ(os::ChangeWatchWait(watch, c.expected == WaitResult::kTimeout ? 300 : 30000),
              c.expected);
    os::ChangeWatchClose(watch);
  }
}

TEST(ChangeWatchPosixTest, OneWakeTakesEverythingQueuedBeforeIt) {
  ScopedTempDir dir;
  os::Handle watch = os::ChangeWatchOpen(dir.str().c_str());
  ASSERT_NE(watch, os::kInvalidHandle);
  for (int i = 0; i < 200; ++i) {  // far more events than one read takes
    testing::WriteWholeFile(dir.path() / "f", "x");
    fs::rename(dir.path() / "f", dir.path() / "g");
  }
  EXPECT_EQ(os::ChangeWatchWait(watch, 30000), WaitResult::kSignalled);
  EXPECT_EQ(os::ChangeWatchWait(watch, 300), WaitResult::kTimeout);
  os::ChangeWatchClose(watch);
}

}  // namespace
}  // namespace wendrake
