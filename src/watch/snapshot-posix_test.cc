#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "log/log.h"
#include "test_util.h"
#include "watch/snapshot.h"

namespace wendrake {
namespace {

namespace fs = std::filesystem;

// Runs the test in a zone with daylight saving, whatever the machine's is.
class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) {
    const char* old = std::getenv("TZ");
    hadZone_ = old != nullptr;
    if (hadZone_) previous_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedZone() {
    if (hadZone_) {
      setenv("TZ", previous_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool hadZone_;
  std::string previous_;
};

class SnapshotPosixTest : public ::testing::Test {
 protected:
  SnapshotPosixTest() : dir_(true) {
    ResetLogForTesting();
    fs::create_directory("in");
  }
  ~SnapshotPosixTest() override { ResetLogForTesting(); }
  testing::ScopedTempDir dir_;
};

// Sets the last-write time to a UTC calendar time plus `nanoseconds`.
void SetUtcLastWrite(const char* path, int year, int month, int day, int hour, int minute,
                     int second, long nanoseconds) {
  struct tm utc = {};
  utc.tm_year = year - 1900;
  utc.tm_mon = month - 1;
  utc.tm_mday = day;
  utc.tm_hour = hour;
  utc.tm_min = minute;
  utc.tm_sec = second;
  struct timespec times[2] = {{timegm(&utc), 0}, {timegm(&utc), nanoseconds}};
  ASSERT_EQ(utimensat(AT_FDCWD, path, times, 0), 0) << path;
}

TEST_F(SnapshotPosixTest, LocalTimeFollowsTheZoneRulesOfTheFilesDateAndDropsFractions) {
  ScopedZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  struct Case {
    const char* name;
    int utc[6];
    const char* dateTime;  // date field, NUL, time field
  };
  const Case cases[] = {
      {"winter",
       {2026, 2, 3, 8, 5, 7},
       "2026-02-03\0"
       "09:05:07"},
      {"summer",
       {2026, 7, 3, 7, 5, 7},
       "2026-07-03\0"
       "09:05:07"},
      {"midnight",
       {2026, 12, 31, 23, 30, 59},
       "2027-01-01\0"
       "00:30:59"},
  };
  for (const Case& c : cases) {
    std::string path = std::string("in/") + c.name;
    testing::WriteWholeFile(path, "");
    SetUtcLastWrite(path.c_str(), c.utc[0], c.utc[1], c.utc[2], c.utc[3], c.utc[4], c.utc[5],
                    900000000);
  }
  PutFileNamesInDir(1, "KSFF01N.txt", "in");
  std::string bytes = testing::ReadWholeFile("KSFF01N.txt");
  ASSERT_EQ(bytes.size(), 3u * kRecordLength);
  for (std::size_t at = 0; at < bytes.size(); at += kRecordLength) {
    std::string name = bytes.substr(at, bytes.find(' ', at) - at);
    for (const Case& c : cases) {
      if (name != c.name) continue;
      EXPECT_EQ(bytes.substr(at + kDateOffset, 19), std::string(c.dateTime, 19)) << name;
    }
  }
}

TEST_F(SnapshotPosixTest, LinksAreListedAsWhatTheyPointAtAndDanglingOnesAsFiles) {
  testing::WriteWholeFile("in/target", "12345");
  fs::create_directory("in/sub");
  fs::create_symlink("target", "in/link");
  fs::create_symlink("sub", "in/dirlink");
  fs::create_symlink("nowhere", "in/dangling");
  PutFileNamesInDir(1, "KSFF01N.txt", "in");
  std::string bytes = testing::ReadWholeFile("KSFF01N.txt");
  ASSERT_EQ(bytes.size(), 3u * kRecordLength);
  std::vector<std::string> namesAndSizes;
  for (std::size_t at = 0; at < bytes.size(); at += kRecordLength) {
    namesAndSizes.push_back(bytes.substr(at, bytes.find(' ', at) - at) + " " +
                            bytes.substr(at + kSizeOffset, kSizeLength));
  }
  EXPECT_EQ(namesAndSizes, (std::vector<std::string>{"dangling 000000000007", "link 000000000005",
                                                     "target 000000000005"}));
}

}  // namespace
}  // namespace wendrake
