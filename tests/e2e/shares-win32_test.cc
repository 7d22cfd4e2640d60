// A mapped network drive under Wine: drive S: of the suites' prefix is a
// FUSE mount typed "network" (tests/e2e/wine-share.sh, run by ctest around
// the suites), written through its backing folder as another machine
// writes a share: no notification reaches the program, only its timer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

using ShareWin32Test = WatchingTest;

TEST_F(ShareWin32Test, AFileWrittenBehindANetworkDriveIsReportedOnce) {
  const char* backing = std::getenv("WENDRAKE_SHARE_BACKING");
  if (backing == nullptr || *backing == '\0') GTEST_SKIP() << "run by ctest, which maps drive S:";
  std::string back = std::string("Z:") + backing;
  for (char& c : back) c = c == '/' ? '\\' : c;
  if (!fs::is_directory("S:\\")) GTEST_SKIP() << "drive S: is not mapped (no usable /dev/fuse)";
  back += "\\in";
  fs::create_directory(back);

  WriteWholeFile(At("WKCommand.txt"),
                 "ACTION=A FOLDER=S:\\in EXECUTE=" + HelperProgram("argv_recorder") +
                     " CURRENT=\"" + Path("out") + "\" ARGUMENT=job\n");
  ASSERT_TRUE(program_.Start(start_.path()));
  ASSERT_TRUE(WaitForLog("(01)...-Wait(")) << Joined(Log());
  EXPECT_EQ(Count(Log(),
                  "(01)...      Polling(every 2 s) -a shared file system: writes from other "
                  "machines raise no notification."),
            1);

  auto written = std::chrono::steady_clock::now();
  WriteWholeFile(back + "\\s.part", "s");
  fs::rename(back + "\\s.part", back + "\\s.dat");
  ASSERT_TRUE(PollUntil([&] { return CountArgvRecords(At("out")) > 0; }, 60000));
  EXPECT_LE(std::chrono::duration<double>(std::chrono::steady_clock::now() - written).count(), 4.0);
  EXPECT_EQ(Started(Records("out", 1)),
            Lines{HelperProgram("argv_recorder") + " \"S:\\in\\s.dat\" -A job"});
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
