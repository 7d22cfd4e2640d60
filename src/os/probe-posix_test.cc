#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "os/internal-posix.h"
#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

class ProbePosixTest : public ::testing::Test {
 protected:
  ProbePosixTest() : file_((dir_.path() / "data.bin").string()) {
    testing::WriteWholeFile(file_, "contents");
  }

  testing::ScopedTempDir dir_;
  std::string file_;
};

TEST_F(ProbePosixTest, LastWriteTimeIsTheLocalTime) {
  const char* saved = std::getenv("TZ");
  std::string previous = saved != nullptr ? saved : "";
  setenv("TZ", "JST-9", 1);  // nine hours east of UTC, no daylight saving
  tzset();
  struct timespec times[2] = {{981169506, 0}, {981169506, 0}};  // 2001-02-03 03:05:06 UTC
  ASSERT_EQ(utimensat(AT_FDCWD, file_.c_str(), times, 0), 0);
  os::ProbeInfo info = {};
  os::ProbeResult result = os::ProbeExclusive(file_.c_str(), &info);
  saved != nullptr ? setenv("TZ", previous.c_str(), 1) : unsetenv("TZ");
  tzset();
  ASSERT_EQ(result, os::ProbeResult::kFree);
  const os::LocalTime& t = info.lastWrite;
  EXPECT_EQ((std::vector<int>{t.year, t.month, t.day, t.hour, t.minute, t.second}),
            (std::vector<int>{2001, 2, 3, 12, 5, 6}));
}

// Where leases are not permitted, the probe looks for the file among the
// open descriptors of the other processes.
TEST_F(ProbePosixTest, OpenDescriptorsOfOtherProcessesAreFound) {
  struct stat st;
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  auto heldElsewhere = [&] { return os::OtherProcessHoldsOpen(st.st_dev, st.st_ino); };
  int own = open(file_.c_str(), O_RDONLY);
  EXPECT_FALSE(heldElsewhere()) << "this process's own descriptors count for nothing";
  close(own);
  std::filesystem::path held = dir_.path() / "held", go = dir_.path() / "go";
  auto holder = testing::StartHelper("file_holder", {"read", file_, held.string(), go.string()});
  ASSERT_TRUE(testing::PollUntil([&] { return std::filesystem::exists(held); }));
  EXPECT_TRUE(heldElsewhere());
  testing::WriteWholeFile(go, "");
  EXPECT_EQ(testing::WaitHelper(holder), 0);
  EXPECT_FALSE(heldElsewhere());
}

// Every open of the file breaks the probe's short lease, and the kernel
// reports that with SIGIO, which would end the process.
TEST_F(ProbePosixTest, OpensRacingTheProbeDoNotEndTheProcess) {
  std::atomic<bool> probing{true};
  std::thread opener([&] {
    while (probing) close(open(file_.c_str(), O_RDONLY | O_NONBLOCK));
  });
  os::ProbeInfo info;
  for (int i = 0; i < 20000; ++i) os::ProbeExclusive(file_.c_str(), &info);
  probing = false;
  opener.join();
}

}  // namespace
}  // namespace wendrake
