#include <gtest/gtest.h>

#include "os/os.h"

namespace wendrake {
namespace {

// A UNC path is a share whatever its spelling; a drive path is one only
// on a remote drive (C: is a fixed one).
TEST(PolledFileSystemTest, UncPathsPollAndLocalDrivesDoNot) {
  struct {
    const char* folder;
    bool polls;
  } const cases[] = {
      {"\\\\server\\share\\in", true},     {"//server/share/in", true},
      {"\\\\?\\UNC\\server\\share", true}, {"C:\\windows", false},
      {"\\\\?\\C:\\windows", false},       {"c:/windows", false},
  };
  for (const auto& c : cases) EXPECT_EQ(os::FolderNeedsPolling(c.folder), c.polls) << c.folder;
}

}  // namespace
}  // namespace wendrake
