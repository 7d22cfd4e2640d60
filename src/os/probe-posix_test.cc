#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "os/internal-posix.h"
#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

// Where leases are not permitted, the probe looks for the file among the
// open descriptors of the other processes.
TEST(ProbePosixTest, OpenDescriptorsOfOtherProcessesAreFound) {
  testing::ScopedTempDir dir(true);
  testing::WriteWholeFile("data.bin", "contents");
  struct stat st;
  ASSERT_EQ(stat("data.bin", &st), 0);
  int own = open("data.bin", O_RDONLY);
  EXPECT_FALSE(os::OtherProcessHoldsOpen(st.st_dev, st.st_ino)) << "our own count for nothing";
  close(own);
  auto holder = testing::StartHelper("open_probe", {"hold", "data.bin", "held", "go"});
  ASSERT_TRUE(testing::PollUntil([&] { return std::filesystem::exists("held"); }));
  EXPECT_TRUE(os::OtherProcessHoldsOpen(st.st_dev, st.st_ino));
  testing::WriteWholeFile("go", "");
  EXPECT_EQ(testing::WaitHelper(holder), 0);
  EXPECT_FALSE(os::OtherProcessHoldsOpen(st.st_dev, st.st_ino));
}

// Every open of the file breaks the probe's short lease, and the kernel
// reports that with SIGIO, which would end the process.
TEST(ProbePosixTest, OpensRacingTheProbeDoNotEndTheProcess) {
  testing::ScopedTempDir dir(true);
  testing::WriteWholeFile("data.bin", "contents");
  std::atomic<bool> probing{true};
  std::thread opener([&] {
    while (probing) close(open("data.bin", O_RDONLY | O_NONBLOCK));
  });
  os::ProbeInfo info;
  for (int i = 0; i < 20000; ++i) os::ProbeExclusive("data.bin", &info);
  probing = false;
  opener.join();
}

}  // namespace
}  // namespace wendrake
