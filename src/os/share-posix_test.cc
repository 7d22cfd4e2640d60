#include <gtest/gtest.h>

#include <cstdint>

#include "os/internal-posix.h"

namespace wendrake {
namespace {

// The file systems whose other writers raise no inotify event poll: NFS,
// CIFS, SMB, SMB2, FUSE, 9P, Ceph, AFS, kAFS, Coda, GFS2, OCFS2, Lustre.
// The local ones (ext4, tmpfs), and those that merely stack on local ones
// (overlay, FUSE's own control file system), do not.
TEST(PolledFileSystemTest, NetworkAndUserSpaceFileSystemsPoll) {
  for (std::uint32_t magic :
       {0x6969u, 0xFF534D42u, 0x517Bu, 0xFE534D42u, 0x65735546u, 0x01021997u, 0x00C36400u,
        0x5346414Fu, 0x6B414653u, 0x73757245u, 0x01161970u, 0x7461636Fu, 0x0BD00BD0u}) {
    EXPECT_TRUE(os::PolledFileSystemType(magic)) << std::hex << magic;
  }
  for (std::uint32_t magic : {0xEF53u, 0x01021994u, 0x794C7630u, 0x65735543u}) {
    EXPECT_FALSE(os::PolledFileSystemType(magic)) << std::hex << magic;
  }
}

}  // namespace
}  // namespace wendrake
