// A mapped network drive under Wine: drive S: of the suites' prefix is a
// FUSE mount typed "network" (tests/e2e/wine-share.sh, run by ctest around
// the suites), written through its backing folder as another machine
// writes a share: no notification reaches the program, only its timer.

#include <cstdlib>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

using ShareWin32Test = WatchingTest;

TEST_F(ShareWin32Test, AFileWrittenBehindANetworkDriveIsReportedOnce) {
  const char* backing = std::getenv("WENDRAKE_SHARE_BACKING");
  if (backing == nullptr || *backing == '\0') GTEST_SKIP() << "run by ctest, which maps drive S:";
  if (!fs::is_directory("S:\\")) GTEST_SKIP() << "drive S: is not mapped (no usable /dev/fuse)";
  fs::path back = fs::path("Z:" + std::string(backing)) / "in";
  fs::create_directory(back);
  StartWatching("ACTION=A FOLDER=S:\\in EXECUTE=" + HelperProgram("argv_recorder") + " CURRENT=\"" +
                Path("out") + "\" ARGUMENT=job\n");
  WriteWholeFile(back / "s.dat", "s");
  EXPECT_TRUE(PollUntil([&] { return CountArgvRecords(At("out")) > 0; }, 4000)) << "not in 4 s";
  EXPECT_EQ(Started("out", 1),
            Lines{HelperProgram("argv_recorder") + " \"S:\\in\\s.dat\" -A job" + '\0'});
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
