#include <gtest/gtest.h>

#include <cstdint>

#include "os/internal-posix.h"

namespace wendrake {
namespace {

// The file systems whose other writers raise no inotify event poll; the
// local ones, and those that merely stack on local ones, do not.
TEST(PolledFileSystemTest, NetworkAndUserSpaceFileSystemsPoll) {
  struct {
    const char* name;
    std::uint32_t magic;
    bool polls;
  } const cases[] = {
      {"NFS", 0x6969, true},          {"CIFS", 0xFF534D42, true},     {"SMB", 0x517B, true},
      {"SMB2", 0xFE534D42, true},     {"FUSE", 0x65735546, true},     {"9P", 0x01021997, true},
      {"Ceph", 0x00C36400, true},     {"AFS", 0x5346414F, true},      {"kAFS", 0x6B414653, true},
      {"Coda", 0x73757245, true},     {"GFS2", 0x01161970, true},     {"OCFS2", 0x7461636F, true},
      {"Lustre", 0x0BD00BD0, true},   {"ext4", 0xEF53, false},        {"tmpfs", 0x01021994, false},
      {"overlay", 0x794C7630, false}, {"fusectl", 0x65735543, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(os::PolledFileSystemType(c.magic), c.polls) << c.name;
  }
}

}  // namespace
}  // namespace wendrake
