// A watched folder on a FUSE file system (bindfs over a backing folder),
// written through the backing folder as another machine writes a share:
// no notification reaches the program, only its timer.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

using Clock = std::chrono::steady_clock;

class SharePosixTest : public WatchingTest {
 protected:
  // "in" becomes the mount of "back".
  void SetUp() override {
    if (access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "no usable /dev/fuse: no FUSE mount";
    fs::create_directory(At("back"));
    HelperProcess bindfs = StartProcess("bindfs", {At("back").string(), At("in").string()});
    ASSERT_EQ(WaitHelper(bindfs, 30000), 0) << "bindfs (scripts/install-deps.sh) did not mount";
    mounted_ = true;
  }
  ~SharePosixTest() override {
    if (mounted_) umount2(At("in").c_str(), MNT_DETACH);
  }

  // Written and renamed into place in the backing folder, as a share's
  // other writers do.
  void DropBehind(const std::string& name, const std::string& contents = "x") {
    WriteWholeFile(At("back") / (name + ".part"), contents);
    fs::rename(At("back") / (name + ".part"), At("back") / name);
  }

  // How long after `change` a start with `expected` was recorded in "out".
  double SecondsUntilStarted(const std::function<void()>& change, const std::string& expected) {
    Clock::time_point start = Clock::now();
    change();
    bool started =
        PollUntil([&] { return Count(Started(ReadArgvRecords(At("out"))), expected); }, 60000);
    EXPECT_TRUE(started) << expected;
    return std::chrono::duration<double>(Clock::now() - start).count();
  }

  // The CPU seconds the program has spent, all threads.
  double CpuSeconds() const {
    std::istringstream stat(ReadWholeFile("/proc/" + std::to_string(program_.pid()) + "/stat"));
    std::string field;
    double ticks = 0;
    for (int i = 1; i <= 15 && stat >> field; ++i) {
      if (i >= 14) ticks += std::stod(field);  // utime, stime
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
  }

  bool mounted_ = false;
};

TEST_F(SharePosixTest, ChangesBehindTheMountAreReportedByTheTimer) {
  StartWatching(Record("AD", "in", "out"));
  EXPECT_EQ(Count(Log(),
                  "(01)...      Polling(every 2 s) -a shared file system: writes from other "
                  "machines raise no notification."),
            1);
  const struct {
    const char* change;
    std::function<void()> make;
    std::string started;
  } cases[] = {
      {"renamed into place behind the mount", [&] { DropBehind("a.dat"); },
       Expected("in", "a.dat", "-A")},
      {"deleted behind the mount", [&] { fs::remove(At("back") / "a.dat"); },
       Expected("in", "a.dat", "-D")},
      {"written through the mount", [&] { WriteWholeFile(At("in") / "m.dat", "m"); },
       Expected("in", "m.dat", "-A")},
  };
  for (const auto& c : cases) {
    EXPECT_LE(SecondsUntilStarted(c.make, c.started), 4.0) << c.change;
  }
  EXPECT_EQ(Records("out", 3).size(), 3u);
}

TEST_F(SharePosixTest, FilesWrittenBehindTheMountAreHandedOnOnceWhenCompleteThenAllIsQuiet) {
  StartWatching(Record("A", "in", "out"));
  // 64 KB pieces over 4 s: the file changes between the program's listings.
  constexpr int kPieces = 16;
  {
    std::ofstream slow(At("back") / "slow.dat", std::ios::binary);
    const std::string piece(64 * 1024, 's');
    for (int i = 0; i < kPieces; ++i) {
      slow.write(piece.data(), piece.size()).flush();
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
  }
  constexpr int kMany = 200;
  for (int i = 0; i < kMany; ++i) DropBehind("many" + std::to_string(i));

  std::vector<ArgvRecord> records = Records("out", 1 + kMany);
  Lines started = Started(records);
  ASSERT_EQ(started.size(), 1u + kMany);
  EXPECT_EQ(Count(started, Expected("in", "slow.dat", "-A")), 1);
  for (int i = 0; i < kMany; ++i) {
    EXPECT_EQ(Count(started, Expected("in", "many" + std::to_string(i), "-A")), 1) << i;
  }
  for (ArgvRecord& record : records) {
    if (StartedWith(record) == Expected("in", "slow.dat", "-A")) {
      EXPECT_EQ(record["size"], Lines{std::to_string(kPieces * 64 * 1024)}) << "not the final size";
    }
  }

  std::uintmax_t logSize = fs::file_size(At("Wendrake.log"));
  double cpu = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(10));
  EXPECT_EQ(fs::file_size(At("Wendrake.log")), logSize) << "an idle share wrote to the log";
  EXPECT_LT(CpuSeconds() - cpu, 0.1);
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
