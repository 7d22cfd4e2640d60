// The Linux side of the OS layer where it cannot follow Windows: other
// processes' opens found without share modes, write locks that copies of a
// descriptor share, and the file systems whose changes raise no event.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <thread>

#include "os/internal-posix.h"
#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

// Where leases are not permitted, the probe looks for the file among the
// open descriptors of the other processes. Every open of the file breaks
// the probe's short lease, and the kernel reports that with SIGIO, which
// would end the process.
TEST(ProbePosixTest, OtherProcessesOpensAreFoundAndOpensRacingTheProbeEndNothing) {
  testing::ScopedTempDir dir(true);
  testing::WriteWholeFile("data.bin", "contents");
  struct stat st;
  ASSERT_EQ(stat("data.bin", &st), 0);
  int own = open("data.bin", O_RDONLY);
  EXPECT_NE(os::OtherProcessHoldsOpen(st.st_dev, st.st_ino), os::Holders::kFound)
      << "our own count for nothing";
  close(own);
  auto holder = testing::StartHelper("open_probe", {"hold", "data.bin", "held", "go"});
  ASSERT_TRUE(testing::PollUntil([&] { return std::filesystem::exists("held"); }));
  EXPECT_EQ(os::OtherProcessHoldsOpen(st.st_dev, st.st_ino), os::Holders::kFound);
  testing::WriteWholeFile("go", "");
  EXPECT_EQ(testing::WaitHelper(holder), 0);
  std::atomic<bool> probing{true};
  std::thread opener([&] {
    while (probing) close(open("data.bin", O_RDONLY | O_NONBLOCK));
  });
  os::ProbeInfo info;
  for (int i = 0; i < 20000; ++i) os::ProbeExclusive("data.bin", &info);
  probing = false;
  opener.join();
}

// A program started by one watcher holds a copy of every descriptor until
// its exec, also of the snapshot file another watcher is closing just then.
// The close must still give up the file's write lock, or that watcher's
// next open of the file is refused.
TEST(FilePosixTest, CloseGivesUpTheWriteLockThatACopyOfTheDescriptorShares) {
  testing::ScopedTempDir dir(true);
  const int access = os::kAccessRead | os::kAccessWrite;
  os::Handle file = os::FileOpen("KSFF01T.txt", access, os::kShareRead, os::kCreateAlways);
  ASSERT_NE(file, os::kInvalidHandle);
  pid_t child = fork();
  if (child == 0) {  // the copy, kept until the child is killed
    pause();
    _exit(0);
  }
  os::FileClose(file);
  os::Handle again = os::FileOpen("KSFF01T.txt", access, os::kShareRead, os::kOpenAlways);
  EXPECT_NE(again, os::kInvalidHandle);
  os::FileClose(again);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

// The file systems whose other writers raise no inotify event poll: NFS,
// CIFS, SMB, SMB2, FUSE, 9P, Ceph, AFS, kAFS, Coda, GFS2, OCFS2, Lustre.
// The local ones (ext4, tmpfs), and those that merely stack on local ones
// (overlay, FUSE's own control file system), do not.
TEST(PolledFileSystemTest, NetworkAndUserSpaceFileSystemsPoll) {
  const std::uint32_t polled[] = {0x6969u,     0xFF534D42u, 0x517Bu,     0xFE534D42u, 0x65735546u,
                                  0x01021997u, 0x00C36400u, 0x5346414Fu, 0x6B414653u, 0x73757245u,
                                  0x01161970u, 0x7461636Fu, 0x0BD00BD0u};
  for (std::uint32_t magic : polled)
    EXPECT_TRUE(os::PolledFileSystemType(magic)) << std::hex << magic;
  for (std::uint32_t magic : {0xEF53u, 0x01021994u, 0x794C7630u, 0x65735543u})
    EXPECT_FALSE(os::PolledFileSystemType(magic)) << std::hex << magic;
}

}  // namespace
}  // namespace wendrake
