#include "watch/snapshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "watch/scan_fixture_test.h"

namespace wendrake {
namespace {

// Lists `folder` as entry 1 and gives the records of the snapshot.
Lines List(const std::string& folder = "in", bool trace = false) {
  PutFileNamesInDir(1, "KSFF01N.txt", folder.c_str(), nullptr, trace);
  std::string bytes = testing::ReadWholeFile("KSFF01N.txt");
  Lines out;
  for (std::size_t at = 0; at + kRecordLength <= bytes.size(); at += kRecordLength) {
    out.push_back(bytes.substr(at, kRecordLength));
  }
  return out;
}

using SnapshotTest = ScanFixture;

// Files only, in unsigned key order (a high byte sorts last), with the whole
// size (never negative, so never a mark; held at 12 digits) and the local
// time (the tests run away from UTC on Linux). Every name the file system
// allows is kept whole, up to 255 bytes; a name the record cannot give back
// whole (a blank at either end) is left out and logged; so is, with the
// trace, what is neither file nor folder.
TEST_F(SnapshotTest, RecordsHoldNameWholeSizeAndLocalTimeInUnsignedKeyOrder) {
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
  // A record as it must stand in a snapshot file, built field by field.
  auto record = [&](const std::string& name, const std::string& size) {
    const std::string nul(1, '\0');
    return name + std::string(kNameLength - name.size(), ' ') + nul + size + nul + date + nul +
           time + nul + "\r\n";
  };
  const std::string longest(kNameLength, 'm'), wider(64, 'w');
  const std::pair<std::string, std::uintmax_t> files[] = {{"a.txt", 0},
                                                          {"ab", 2147483647u},
                                                          {"B.txt", 2147483648u},
                                                          {"a.txt2", 4294967295u},
                                                          {"abc", 4294967296u},
                                                          {"in middle", 1},
                                                          {wider, 3},
                                                          {longest, 0}};
  for (const auto& [name, size] : files) {
    testing::WriteWholeFile(fs::path("in") / name, "");
    fs::resize_file(fs::path("in") / name, size);  // sparse
    fs::last_write_time(fs::path("in") / name, stamp);
  }
  fs::create_directory("in/sub");
  testing::WriteWholeFile("in/ lead", "");
  Lines log = {"(01)... PutFileNamesInDir. Name blank-edged( lead)"};
  Lines expected = {record("B.txt", "002147483648"),  record("a.txt", "000000000000"),
                    record("a.txt2", "004294967295"), record("ab", "002147483647"),
                    record("abc", "004294967296"),    record("in middle", "000000000001"),
                    record(longest, "000000000000"),  record(wider, "000000000003")};
#ifndef _WIN32  // Windows drops trailing blanks itself, and names are code-page text there
  testing::WriteWholeFile("in/trail ", "");
  log.insert(log.begin() + 1, "(01)... PutFileNamesInDir. Name blank-edged(trail )");
  // 22 Japanese characters, 66 bytes of UTF-8, sort after every ASCII name.
  std::string japanese;
  for (int i = 0; i < 22; ++i) japanese += "\xE3\x83\x86";
  for (const std::string& name : {japanese, std::string("\xE9t\xE9")}) {
    testing::WriteWholeFile("in/" + name, "");
    fs::last_write_time("in/" + name, stamp);
    expected.push_back(record(name, "000000000000"));
  }
  testing::WriteWholeFile("in/huge", "");  // past the field: Wine makes no such file
  fs::resize_file("in/huge", 3000000000000u);
  fs::last_write_time("in/huge", stamp);
  expected.insert(expected.begin() + 5, record("huge", "999999999999"));
  ASSERT_EQ(mkfifo("in/fifo", 0600), 0);
  fs::create_symlink("nowhere", "in/dangling");
  log.insert(log.end(), {"(01)... PutFileNamesInDir. Not a file(dangling)",
                         "(01)... PutFileNamesInDir. Not a file(fifo)"});
#endif
  EXPECT_EQ(List("in", true), expected);
  Lines logged = testing::CurrentLogTexts();
  std::sort(logged.begin(), logged.end());
  EXPECT_EQ(logged, log);
}

// At most 3000 files, each further one logged. A folder path with no room
// for the search pattern is refused, not cut: no listing of it is written.
TEST_F(SnapshotTest, ListingKeepsThreeThousandFilesAndLogsEachFurtherOne) {
  for (int i = 0; i < 3002; ++i) testing::WriteWholeFile("in/f" + std::to_string(i), "");
  Lines records = List();
  ASSERT_EQ(records.size(), 3000u);
  EXPECT_TRUE(std::is_sorted(records.begin(), records.end()));
  EXPECT_FALSE(PutFileNamesInDir(1, "KSFF01N.txt", std::string(252, 'd').c_str()));
  Lines log(2, "(01)... PutFileNamesInDir. Table max ovser. max(3000)");
  log.push_back("(01)... PutFileNamesInDir. Error(" + std::to_string(os::PathTooLongError()) + ")");
  EXPECT_EQ(testing::CurrentLogTexts(), log);
}

// A deletion or a rename that fails is logged, step by step; the source of
// a failed rename stays.
TEST_F(SnapshotTest, FailedDeletionAndRenameAreLogged) {
  fs::create_directory("adir");
  testing::WriteWholeFile("fresh", "source");
  DeleteFileIfFound("missing");
  DeleteFileIfFound("adir");
  RenameFile("fresh", "adir");
  EXPECT_EQ(testing::ReadWholeFile("fresh"), "source");
  Lines log = testing::CurrentLogTexts();
  for (std::string& line : log) line.erase(line.find(" Error("));  // the codes differ per system
  EXPECT_EQ(log, (Lines{"...DeleteFile. error(adir)", "...ReanameFile. DeleteFile error(adir)",
                        "...ReanameFile. MoveFile error(fresh)"}));
}

}  // namespace
}  // namespace wendrake
