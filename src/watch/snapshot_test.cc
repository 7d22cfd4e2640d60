#include "watch/snapshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "log/log.h"
#include "test_util.h"

namespace wendrake {
namespace {

namespace fs = std::filesystem;
using testing::CurrentLogTexts;
using testing::ReadWholeFile;
using testing::WriteWholeFile;
using Lines = std::vector<std::string>;
const std::string kNul(1, '\0');

std::string TrimmedName(const std::string& record) {
  char name[256] = {};
  CopyTrimmedName(name, reinterpret_cast<const unsigned char*>(record.data()), kKeyLength);
  return name;
}

// A record as it must stand in a snapshot file, built field by field.
std::string Record(const std::string& name, const std::string& size, const std::string& date,
                   const std::string& time) {
  return name + std::string(63 - name.size(), ' ') + kNul + size + kNul + date + kNul + time +
         kNul + "\r\n";
}

class SnapshotTest : public ::testing::Test {
 protected:
  SnapshotTest() : dir_(true) {
    FreshLog();
    fs::create_directory("in");
  }
  ~SnapshotTest() override { ResetLogForTesting(); }
  static void FreshLog() {
    ResetLogForTesting();
    fs::remove("Wendrake.log");
  }
  static void Touch(const std::string& name) { WriteWholeFile(fs::path("in") / name, ""); }
  // Lists "in" and gives the records of the snapshot, or their names.
  static Lines List(bool namesOnly = false) {
    PutFileNamesInDir(1, "KSFF01N.txt", "in");
    std::string bytes = ReadWholeFile("KSFF01N.txt");
    Lines out;
    for (std::size_t at = 0; at + kRecordLength <= bytes.size(); at += kRecordLength) {
      out.push_back(bytes.substr(at, kRecordLength));
      if (namesOnly) out.back() = TrimmedName(out.back());
    }
    return out;
  }
  testing::ScopedTempDir dir_;
};

// A name the record cannot give back whole (64 bytes or more, a blank at
// either end) is left out and logged.
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
    Touch(name);
    fs::resize_file(fs::path("in") / name, size);  // sparse
    fs::last_write_time(fs::path("in") / name, stamp);
  }
  Touch(" lead");
  Touch(tooLong);
  Lines log = {"(01)... PutFileNamesInDir. Name blank-edged( lead)",
               "(01)... PutFileNamesInDir. Name too long(" + tooLong + ")"};
#ifndef _WIN32  // Windows drops trailing blanks itself
  Touch("trail ");
  log.insert(log.begin() + 1, "(01)... PutFileNamesInDir. Name blank-edged(trail )");
#endif
  EXPECT_EQ(List(), (Lines{Record("B.txt", "-02147483648", date, time),
                           Record("a.txt", "000000000000", date, time),
                           Record("a.txt2", "-00000000001", date, time),
                           Record("ab", "002147483647", date, time),
                           Record("abc", "000000000000", date, time),
                           Record("in middle", "000000000001", date, time),
                           Record(longest, "000000000000", date, time)}));
  Lines logged = CurrentLogTexts();
  std::sort(logged.begin(), logged.end());
  EXPECT_EQ(logged, log);
}

TEST_F(SnapshotTest, ListingKeepsThreeThousandFilesAndLogsEachFurtherOne) {
  int made = 0;
  for (int total : {3000, 3001, 3005}) {
    for (; made < total; ++made) Touch("f" + std::to_string(made));
    FreshLog();
    Lines names = List(true);
    ASSERT_EQ(names.size(), 3000u) << total;
    EXPECT_TRUE(std::adjacent_find(names.begin(), names.end(), std::greater_equal<>()) ==
                names.end());
    EXPECT_EQ(CurrentLogTexts(), Lines(static_cast<std::size_t>(total - 3000),
                                       "(01)... PutFileNamesInDir. Table max ovser. max(3000)"));
  }
}

TEST_F(SnapshotTest, FailedOrFilelessListingsLeaveAnEmptySnapshot) {
  fs::create_directories("subs/one");
  const std::string tooLong(252, 'd');  // with "\*.*" one byte past the pattern's room
  const std::pair<std::string, std::string> cases[] = {
      {"subs", ""},
      {"missing", "(02)... PutFileNamesInDir. Error("},
      {tooLong, "(02)... PutFileNamesInDir. Error(" + std::to_string(os::PathTooLongError())}};
  for (const auto& [folder, line] : cases) {
    FreshLog();
    WriteWholeFile("KSFF02N.txt", std::string(3 * kRecordLength, 'x'));  // left from before
    PutFileNamesInDir(2, "KSFF02N.txt", folder.c_str());
    EXPECT_EQ(ReadWholeFile("KSFF02N.txt"), "") << folder;
    Lines log = CurrentLogTexts();
    ASSERT_EQ(log.size(), line.empty() ? 0u : 1u) << folder;
    if (!line.empty()) {
      EXPECT_TRUE(log[0].rfind(line, 0) == 0 && log[0] != line + "0)") << log[0];
    }
  }
}

#ifndef _WIN32
TEST_F(SnapshotTest, LinksAreListedAsWhatTheyPointAtAndDanglingOnesAsFiles) {
  WriteWholeFile("in/target", "12345");
  fs::create_symlink("target", "in/link");
  fs::create_symlink("nowhere", "in/dangling");  // the link's own size: 7
  Lines names;
  for (const std::string& r : List()) names.push_back(TrimmedName(r) + r.substr(kSizeOffset, 12));
  EXPECT_EQ(names, (Lines{"dangling000000000007", "link000000000005", "target000000000005"}));
}
#endif

TEST_F(SnapshotTest, ReadingPastTheEndGivesTheHighValueKeyAndKeepsTheTail) {
  const std::string a = Record("a", "000000000001", "2026-01-02", "03:04:05");
  const std::string b = Record("b", "000000000002", "2026-06-07", "08:09:10");
  const std::string high = std::string(63, '\xFF') + kNul;
  WriteWholeFile("two.txt", a + b);
  WriteWholeFile("empty.txt", "");
  int endFlag = 0;  // shared: once the empty file has set it, no read sets it back
  for (auto [name, reads] :
       {std::pair<const char*, Lines>{"empty.txt", {high + std::string(35, 'x')}},
        {"two.txt", {a, b, high + b.substr(64), high + b.substr(64)}}}) {
    os::Handle file = os::FileOpen(name, os::kAccessRead, os::kShareRead, os::kOpenExisting);
    std::string record(kRecordLength, 'x');
    for (const std::string& expected : reads) {
      ReadSnapshotRecord(file, reinterpret_cast<unsigned char*>(&record[0]), &endFlag);
      EXPECT_EQ(record, expected) << name;
      EXPECT_EQ(endFlag, -1) << name;
    }
    os::FileClose(file);
  }
}

void Sort(std::string& records, int length, int keyPosition, int keyLength) {
  std::vector<unsigned char> scratch(static_cast<std::size_t>(length));
  SortRecords(
      SortDescriptor{length, static_cast<int>(records.size()) / length, keyPosition, keyLength},
      scratch.data(), reinterpret_cast<unsigned char*>(&records[0]));
}

// The hand-worked examples are "<key><input position>": another gap
// sequence, a plain insertion sort or "less or equal" moves would order the
// equal keys otherwise.
TEST(SortRecordsTest, SortsAsStdSortDoesAndPutsEqualKeysWhereTheDiminishingGapsDo) {
  for (auto [input, sorted] : {std::pair<std::string, std::string>{"B0B1C2A3", "A3B1B0C2"},
                               {"B0A1B2A3C4A5B6A7", "A5A1A7A3B2B0B6C4"}}) {
    Sort(input, 2, 1, 1);
    EXPECT_EQ(input, sorted);
  }
  std::mt19937 random(20261207);
  // Few byte values, so that equal keys and long common prefixes are
  // common; blank and the high bytes test the unsigned comparison.
  const char alphabet[] = {' ', 'A', 'a', '\x7F', '\x80', '\xFF'};
  for (auto [length, keyPosition, keyLength] :
       {std::tuple{kRecordLength, 1, kKeyLength}, std::tuple{10, 5, 3}}) {
    for (int n : {0, 1, 2, 3, 4, 5, 8, 9, 16, 31, 100, 257, 1000, 3000}) {
      std::string bytes(static_cast<std::size_t>(n * length), ' ');
      for (char& c : bytes) c = random() % 3 != 0 ? 'A' : alphabet[random() % sizeof alphabet];
      std::string before = bytes;
      Sort(bytes, length, keyPosition, keyLength);
      Lines in, out;
      for (int i = 0; i < n; ++i) {
        in.push_back(before.substr(i * length, length));
        out.push_back(bytes.substr(i * length, length));
      }
      auto keyLess = [&](const std::string& x, const std::string& y) {
        return std::memcmp(&x[keyPosition - 1], &y[keyPosition - 1], keyLength) < 0;
      };
      EXPECT_TRUE(std::is_sorted(out.begin(), out.end(), keyLess)) << n;
      std::sort(in.begin(), in.end());  // whole records moved, none lost
      std::sort(out.begin(), out.end());
      ASSERT_EQ(out, in) << n;
    }
  }
}

TEST_F(SnapshotTest, DeletingAndRenamingLogOnlyFailures) {
  fs::create_directory("adir");
  for (const char* name : {"source", "target", "doomed"}) WriteWholeFile(name, name);
  DeleteFileIfFound("missing");
  DeleteFileIfFound("doomed");
  ReanameFile("source", "target");  // over an existing target
  ReanameFile("target", "fresh");   // onto a missing one
  EXPECT_FALSE(fs::exists("doomed") || fs::exists("source") || fs::exists("target"));
  EXPECT_EQ(ReadWholeFile("fresh"), "source");
  EXPECT_EQ(CurrentLogTexts(), Lines{});

  // A folder is found but is no file to delete; the rename is still tried.
  DeleteFileIfFound("adir");
  ReanameFile("fresh", "adir");
  EXPECT_EQ(ReadWholeFile("fresh"), "source");
  const Lines starts = {"...DeleteFile. error(adir) Error(",
                        "...ReanameFile. DeleteFile error(adir) Error(",
                        "...ReanameFile. MoveFile error(fresh) Error("};
  Lines log = CurrentLogTexts();
  ASSERT_EQ(log.size(), starts.size());
  for (std::size_t i = 0; i < log.size(); ++i) EXPECT_EQ(log[i].rfind(starts[i], 0), 0u) << log[i];
}

}  // namespace
}  // namespace wendrake
