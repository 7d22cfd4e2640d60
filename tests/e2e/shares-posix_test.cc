// A watched folder on a FUSE file system (bindfs over a backing folder),
// written through the backing folder as another machine writes a share:
// no notification reaches the program, only its timer.
#include <sys/mount.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

class SharePosixTest : public WatchingTest {
 protected:
  // "in" becomes the mount of "back".
  void SetUp() override {
    if (access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "no usable /dev/fuse: no FUSE mount";
    fs::create_directory(At("back"));
    HelperProcess bindfs = StartProcess("bindfs", {At("back").string(), At("in").string()});
    ASSERT_EQ(WaitHelper(bindfs, 30000), 0) << "bindfs (scripts/install-deps.sh) did not mount";
  }
  ~SharePosixTest() override { umount2(At("in").c_str(), MNT_DETACH); }

  // The CPU seconds the program has spent: utime and stime, all threads.
  double CpuSeconds() const {
    std::istringstream stat(ReadWholeFile("/proc/" + std::to_string(program_.id) + "/stat"));
    std::string field[15];
    for (std::string& f : field) stat >> f;
    return (std::stod(field[13]) + std::stod(field[14])) / sysconf(_SC_CLK_TCK);
  }
};

// Each change behind the mount is started within 4 s (the timer's 2 s and
// a scan); a file written over 4 s once, when it is complete (handed on
// before, it would come again as an update), 200 files once each; then an
// idle share adds nothing to the log and costs no CPU.
TEST_F(SharePosixTest, ChangesBehindTheMountAreHandedOnOnceByTheTimerThenAllIsQuiet) {
  StartWatching(Record("AUD", "in", "out"));
  EXPECT_EQ(Count(Log(),
                  "(01)...      Polling(every 2 s) -a shared file system: writes from other "
                  "machines raise no notification."),
            1);
  WriteWholeFile(At("back") / "a.dat", "a");
  EXPECT_TRUE(PollUntil([&] { return CountArgvRecords(At("out")) == 1; }, 4000)) << "-A late";
  fs::remove(At("back") / "a.dat");
  WriteWholeFile(At("in") / "local.dat", "through the mount");
  EXPECT_TRUE(PollUntil([&] { return CountArgvRecords(At("out")) == 3; }, 4000)) << "late";
  // 64 KB pieces over 4 s: the file changes between any two of the
  // program's listings, which are a second or more apart.
  std::ofstream slow(At("back") / "slow.dat", std::ios::binary);
  for (int i = 0; i < 40; ++i) {
    slow.write(std::string(64 * 1024, 's').data(), 64 * 1024).flush();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  slow.close();
  Lines expected = {Expected("in", "a.dat", "-A"), Expected("in", "a.dat", "-D"),
                    Expected("in", "local.dat", "-A"), Expected("in", "slow.dat", "-A")};
  for (int i = 0; i < 200; ++i) {
    WriteWholeFile(At("back") / ("many" + std::to_string(i)), "m");
    expected.push_back(Expected("in", "many" + std::to_string(i), "-A"));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Started("out", expected.size()), expected);

  std::uintmax_t logSize = fs::file_size(At("Wendrake.log"));
  double cpu = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(10));
  EXPECT_EQ(fs::file_size(At("Wendrake.log")), logSize) << "an idle share wrote to the log";
  EXPECT_LT(CpuSeconds() - cpu, 0.1);
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
