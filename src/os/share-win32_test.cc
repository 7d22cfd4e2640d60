#include <gtest/gtest.h>

#include "os/os.h"

namespace wendrake {
namespace {

// A UNC path is a share whatever its spelling; a drive path is one only
// on a remote drive (C: is a fixed one).
TEST(PolledFileSystemTest, UncPathsPollAndLocalDrivesDoNot) {
  const char* const polled[] = {"\\\\server\\share\\in", "//server/share/in",
                                "\\\\?\\UNC\\server\\share"};
  for (const char* folder : polled) EXPECT_TRUE(os::FolderNeedsPolling(folder)) << folder;
  for (const char* folder : {"C:\\windows", "\\\\?\\C:\\windows", "c:/windows"})
    EXPECT_FALSE(os::FolderNeedsPolling(folder)) << folder;
}

}  // namespace
}  // namespace wendrake
