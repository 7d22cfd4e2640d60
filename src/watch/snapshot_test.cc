#include "watch/snapshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "log/log.h"
#include "watch/scan_fixture_test.h"

namespace wendrake {
namespace {

using testing::CurrentLogTexts;
using testing::WriteWholeFile;

// A record as it must stand in a snapshot file, built field by field.
std::string Record(const std::string& name, const std::string& size, const std::string& date,
                   const std::string& time) {
  const std::string nul(1, '\0');
  return name + std::string(63 - name.size(), ' ') + nul + size + nul + date + nul + time + nul +
         "\r\n";
}

class SnapshotTest : public ScanFixture {
 protected:
  // Lists `folder` as entry 1 and gives the records of the snapshot.
  static Lines List(const std::string& folder = "in") {
    PutFileNamesInDir(1, "KSFF01N.txt", folder.c_str());
    std::string bytes = testing::ReadWholeFile("KSFF01N.txt");
    Lines out;
    for (std::size_t at = 0; at + kRecordLength <= bytes.size(); at += kRecordLength) {
      out.push_back(bytes.substr(at, kRecordLength));
    }
    return out;
  }
};

// Files only, in unsigned key order (a high byte sorts last), with the low
// 32 bits of the size and the local time (the tests run away from UTC on
// Linux). A name the record cannot give back whole (64 bytes or more, a
// blank at either end) is left out and logged.
TEST_F(SnapshotTest, RecordsHoldNameLowSizeBitsAndLocalTimeInUnsignedKeyOrder) {
  // Two minutes ago, so that the zone's offset then and now agree; the half
  // second must be dropped, not rounded.
  using namespace std::chrono;
  std::time_t when = std::time(nullptr) - 120;
  auto stamp = fs::file_time_type::clock::now() +
               duration_cast<fs::file_time_type::duration>(system_clock::from_time_t(when) +
                                                           milliseconds(500) - system_clock::now());
  char date[16], time[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", std::localtime(&when));
  std::strftime(time, sizeof time, "%H:%M:%S", std::localtime(&when));
  const std::string longest(63, 'm'), tooLong(64, 'l');
  const std::pair<std::string, std::uintmax_t> files[] = {{"a.txt", 0},
                                                          {"ab", 2147483647u},
                                                          {"B.txt", 2147483648u},
                                                          {"a.txt2", 4294967295u},
                                                          {"abc", 4294967296u},
                                                          {"in middle", 1},
                                                          {longest, 0}};
  for (const auto& [name, size] : files) {
    WriteWholeFile(fs::path("in") / name, "");
    fs::resize_file(fs::path("in") / name, size);  // sparse
    fs::last_write_time(fs::path("in") / name, stamp);
  }
  fs::create_directory("in/sub");
  WriteWholeFile("in/ lead", "");
  WriteWholeFile("in/" + tooLong, "");
  Lines log = {"(01)... PutFileNamesInDir. Name blank-edged( lead)",
               "(01)... PutFileNamesInDir. Name too long(" + tooLong + ")"};
  Lines expected = {
      Record("B.txt", "-02147483648", date, time),  Record("a.txt", "000000000000", date, time),
      Record("a.txt2", "-00000000001", date, time), Record("ab", "002147483647", date, time),
      Record("abc", "000000000000", date, time),    Record("in middle", "000000000001", date, time),
      Record(longest, "000000000000", date, time)};
#ifndef _WIN32  // Windows drops trailing blanks itself, and names are code-page text there
  WriteWholeFile("in/trail ", "");
  log.insert(log.begin() + 1, "(01)... PutFileNamesInDir. Name blank-edged(trail )");
  WriteWholeFile("in/\xE9t\xE9", "");
  fs::last_write_time("in/\xE9t\xE9", stamp);
  expected.push_back(Record("\xE9t\xE9", "000000000000", date, time));
#endif
  EXPECT_EQ(List(), expected);
  Lines logged = CurrentLogTexts();
  std::sort(logged.begin(), logged.end());
  EXPECT_EQ(logged, log);
}

TEST_F(SnapshotTest, ListingKeepsThreeThousandFilesAndLogsEachFurtherOne) {
  for (int i = 0; i < 3002; ++i) WriteWholeFile("in/f" + std::to_string(i), "");
  Lines records = List();
  ASSERT_EQ(records.size(), 3000u);
  EXPECT_TRUE(std::is_sorted(records.begin(), records.end()));
  EXPECT_EQ(CurrentLogTexts(), Lines(2, "(01)... PutFileNamesInDir. Table max ovser. max(3000)"));
}

// A folder path with no room for the search pattern is refused, not cut,
// and a snapshot left from before is emptied all the same.
TEST_F(SnapshotTest, FolderPathTooLongLeavesAnEmptySnapshot) {
  WriteWholeFile("KSFF01N.txt", std::string(3 * kRecordLength, 'x'));
  EXPECT_EQ(List(std::string(252, 'd')), Lines{});
  EXPECT_EQ(testing::ReadWholeFile("KSFF01N.txt"), "");
  EXPECT_EQ(CurrentLogTexts(), Lines{"(01)... PutFileNamesInDir. Error(" +
                                     std::to_string(os::PathTooLongError()) + ")"});
}

TEST_F(SnapshotTest, FailedDeletionAndRenameAreLogged) {
  fs::create_directory("adir");
  WriteWholeFile("fresh", "source");
  DeleteFileIfFound("missing");
  DeleteFileIfFound("adir");
  RenameFile("fresh", "adir");
  EXPECT_EQ(testing::ReadWholeFile("fresh"), "source");
  const Lines starts = {"...DeleteFile. error(adir) Error(",
                        "...ReanameFile. DeleteFile error(adir) Error(",
                        "...ReanameFile. MoveFile error(fresh) Error("};
  Lines log = CurrentLogTexts();
  ASSERT_EQ(log.size(), starts.size());
  for (std::size_t i = 0; i < log.size(); ++i) EXPECT_EQ(log[i].rfind(starts[i], 0), 0u) << log[i];
}

}  // namespace
}  // namespace wendrake
