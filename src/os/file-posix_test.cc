#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

// A program started by one watcher holds a copy of every descriptor until
// its exec, also of the snapshot file another watcher is closing just then.
// The close must still give up the file's write lock, or that watcher's
// next open of the file is refused.
TEST(FilePosixTest, CloseGivesUpTheWriteLockThatACopyOfTheDescriptorShares) {
  testing::ScopedTempDir dir(true);
  const int access = os::kAccessRead | os::kAccessWrite;
  os::Handle file = os::FileOpen("KSFF01T.txt", access, os::kShareRead, os::kCreateAlways);
  ASSERT_NE(file, os::kInvalidHandle);
  int hold[2];
  ASSERT_EQ(pipe(hold), 0);
  pid_t child = fork();
  if (child == 0) {  // the copy, kept until the parent closes the pipe
    close(hold[1]);
    char byte;
    while (read(hold[0], &byte, 1) > 0) {
    }
    _exit(0);
  }
  close(hold[0]);
  os::FileClose(file);
  os::Handle again = os::FileOpen("KSFF01T.txt", access, os::kShareRead, os::kOpenAlways);
  EXPECT_NE(again, os::kInvalidHandle);
  os::FileClose(again);
  close(hold[1]);
  waitpid(child, nullptr, 0);
}

}  // namespace
}  // namespace wendrake
