#include "watch/snapshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config/thread_control.h"
#include "log/log.h"
#include "test_util.h"

namespace wendrake {
namespace {

namespace fs = std::filesystem;
using testing::CurrentLogTexts;
using testing::ReadWholeFile;
using testing::WriteWholeFile;
using Lines = std::vector<std::string>;

// The records of a snapshot file, each 99 bytes.
std::vector<std::string> Records(const char* path) {
  std::string bytes = ReadWholeFile(path);
  EXPECT_EQ(bytes.size() % kRecordLength, 0u) << path;
  std::vector<std::string> records;
  for (std::size_t at = 0; at + kRecordLength <= bytes.size(); at += kRecordLength) {
    records.push_back(bytes.substr(at, kRecordLength));
  }
  return records;
}

std::string TrimmedName(const std::string& record) {
  char name[256] = {};
  CopyTrimmedName(name, reinterpret_cast<const unsigned char*>(record.data()), kKeyLength);
  return name;
}

Lines Names(const char* path) {
  Lines names;
  for (const std::string& r : Records(path)) names.push_back(TrimmedName(r));
  return names;
}

// A record as it must stand in a snapshot file, built field by field.
std::string Expected(const std::string& name, const std::string& size, const std::string& date,
                     const std::string& time) {
  std::string nul(1, '\0');
  return name + std::string(63 - name.size(), ' ') + nul + size + nul + date + nul + time + nul +
         "\r\n";
}

// Gives `path` the last-write time `when` and half a second (which must be
// dropped, not rounded), through the file clock's offset from now.
void SetLastWrite(const fs::path& path, std::time_t when) {
  using namespace std::chrono;
  auto target = system_clock::from_time_t(when) + milliseconds(500);
  fs::file_time_type fileNow = fs::file_time_type::clock::now();
  auto sysNow = system_clock::now();
  fs::last_write_time(path, fileNow + duration_cast<fs::file_time_type::duration>(target - sysNow));
}

class SnapshotTest : public ::testing::Test {
 protected:
  SnapshotTest() : dir_(true) {
    ResetLogForTesting();
    fs::create_directory("in");
  }
  ~SnapshotTest() override { ResetLogForTesting(); }

  static void Touch(const std::string& name, const std::string& contents = "") {
    WriteWholeFile(fs::path("in") / name, contents);
  }

  testing::ScopedTempDir dir_;
};

TEST_F(SnapshotTest, RecordsAreSortedByUnsignedKeyWithBlanksBelowEveryNameByte) {
  for (const char* name : {"ab", "a.txt2", "B.txt", "a.txt"}) Touch(name);
  PutFileNamesInDir(1, "KSFF01N.txt", "in");
  EXPECT_EQ(Names("KSFF01N.txt"), (Lines{"B.txt", "a.txt", "a.txt2", "ab"}));
  EXPECT_EQ(CurrentLogTexts(), Lines{});
}

TEST_F(SnapshotTest, RecordHoldsNameLowSizeBitsAndLocalLastWriteTime) {
  struct Case {
    const char* name;
    std::uintmax_t size;
    const char* field;
  };
  const Case cases[] = {
      {"abc", 0, "000000000000"},
      {"five", 5, "000000000005"},
      {"max", 2147483647u, "002147483647"},
      {"two31", 2147483648u, "-02147483648"},
      {"all32", 4294967295u, "-00000000001"},
      {"two32", 4294967296u, "000000000000"},
      {"two32plus9", 4294967305u, "000000000009"},
  };
  // Two minutes ago, so that the zone's offset then and now is the same.
  std::time_t when = std::time(nullptr) - 120;
  std::tm local = *std::localtime(&when);
  char date[16], time[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &local);
  std::strftime(time, sizeof time, "%H:%M:%S", &local);
  for (const Case& c : cases) {
    fs::path path = fs::path("in") / c.name;
    Touch(c.name);
    fs::resize_file(path, c.size);  // sparse: no disk is spent
    SetLastWrite(path, when);
  }
  PutFileNamesInDir(1, "KSFF01N.txt", "in");
  std::vector<std::string> records = Records("KSFF01N.txt");
  ASSERT_EQ(records.size(), std::size(cases));
  for (const Case& c : cases) {
    std::string expected = Expected(c.name, c.field, date, time);
    EXPECT_EQ(std::count(records.begin(), records.end(), expected), 1) << c.name;
  }
}

TEST_F(SnapshotTest, ListingKeepsThreeThousandFilesAndLogsEachFurtherOne) {
  int made = 0;
  for (int total : {3000, 3001, 3005}) {
    for (; made < total; ++made) Touch("f" + std::to_string(made));
    ResetLogForTesting();
    fs::remove("Wendrake.log");
    PutFileNamesInDir(2, "KSFF02N.txt", "in");

    Lines names = Names("KSFF02N.txt");
    ASSERT_EQ(names.size(), 3000u) << total;
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end())) << total;
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end()) << total;
    EXPECT_EQ(CurrentLogTexts(), Lines(static_cast<std::size_t>(total - 3000),
                                       "(02)... PutFileNamesInDir. Table max ovser. max(3000)"))
        << total;
  }
}

TEST_F(SnapshotTest, FailedListingsLeaveAnEmptySnapshotAndOneErrorLine) {
  fs::create_directories("subs/one");
  fs::create_directories("subs/two");
  std::string tooLong(252, 'd');  // with "\*.*" one byte past the pattern's room
  struct Case {
    std::string folder;
    std::string line;  // "" for none
  };
  const Case cases[] = {
      {"subs", ""},  // sub-folders are not listed
      {"missing", "(01)... PutFileNamesInDir. Error("},
      {tooLong, "(01)... PutFileNamesInDir. Error(" + std::to_string(os::PathTooLongError()) + ")"},
  };
  for (const Case& c : cases) {
    ResetLogForTesting();
    fs::remove("Wendrake.log");
    // A file left from before (its deletion failed) must not survive.
    WriteWholeFile("KSFF01N.txt", std::string(3 * kRecordLength, 'x'));
    PutFileNamesInDir(1, "KSFF01N.txt", c.folder.c_str());
    EXPECT_EQ(ReadWholeFile("KSFF01N.txt"), "") << c.folder;
    Lines log = CurrentLogTexts();
    if (c.line.empty()) {
      EXPECT_EQ(log, Lines{});
    } else {
      ASSERT_EQ(log.size(), 1u) << c.folder;
      EXPECT_EQ(log[0].rfind(c.line, 0), 0u) << log[0];
      EXPECT_NE(log[0], "(01)... PutFileNamesInDir. Error(0)");
    }
  }
}

TEST_F(SnapshotTest, NamesThatCannotComeBackWholeAreLeftOutAndLogged) {
  std::string fits(63, 'm');
  std::string tooLong(64, 'l');
  Touch(fits);
  Touch(tooLong);
  Touch(" lead");
  Touch("in middle");
#ifndef _WIN32
  Touch("trail ");  // Windows drops trailing blanks itself
  Touch("in middle ");
#endif
  PutFileNamesInDir(1, "KSFF01N.txt", "in");
  std::vector<std::string> records = Records("KSFF01N.txt");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(TrimmedName(records[0]), "in middle");
  EXPECT_EQ(records[1].substr(0, 64), fits + std::string(1, '\0'));

  Lines log = CurrentLogTexts();
  std::sort(log.begin(), log.end());
  Lines expected = {"(01)... PutFileNamesInDir. Name blank-edged( lead)",
                    "(01)... PutFileNamesInDir. Name too long(" + tooLong + ")"};
#ifndef _WIN32
  expected.push_back("(01)... PutFileNamesInDir. Name blank-edged(in middle )");
  expected.push_back("(01)... PutFileNamesInDir. Name blank-edged(trail )");
#endif
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(log, expected);
}

TEST_F(SnapshotTest, ConcurrentListingsKeepTheirOwnTables) {
  fs::create_directory("other");
  for (int i = 0; i < 40; ++i) {
    Touch("a" + std::to_string(i));
    WriteWholeFile(fs::path("other") / ("b" + std::to_string(i)), "");
  }
  PutFileNamesInDir(1, "KSFF01O.txt", "in");
  PutFileNamesInDir(2, "KSFF02O.txt", "other");
  auto lister = [](int index, const char* folder) {
    std::string name = "KSFF0" + std::to_string(index) + "N.txt";
    for (int i = 0; i < 25; ++i) PutFileNamesInDir(index, name.c_str(), folder);
  };
  std::thread one(lister, 1, "in");
  std::thread two(lister, 2, "other");
  one.join();
  two.join();
  EXPECT_EQ(ReadWholeFile("KSFF01N.txt"), ReadWholeFile("KSFF01O.txt"));
  EXPECT_EQ(ReadWholeFile("KSFF02N.txt"), ReadWholeFile("KSFF02O.txt"));
  EXPECT_EQ(Records("KSFF02N.txt").size(), 40u);
}

// --- Reading back -----------------------------------------------------------

TEST_F(SnapshotTest, ReadingPastTheEndGivesTheHighValueKeyAndKeepsTheTail) {
  std::string first = Expected("a", "000000000001", "2026-01-02", "03:04:05");
  std::string second = Expected("b", "000000000002", "2026-06-07", "08:09:10");
  WriteWholeFile("two.txt", first + second);
  WriteWholeFile("empty.txt", "");
  const std::string high = std::string(63, '\xFF') + std::string(1, '\0');

  struct Case {
    const char* file;
    std::vector<std::string> reads;  // record contents after each call
    std::vector<int> flags;
  };
  const std::string blankTail = std::string(kRecordLength - 64, 'x');
  const Case cases[] = {
      {"empty.txt", {high + blankTail, high + blankTail}, {-1, -1}},
      {"two.txt",
       {first, second, high + second.substr(64), high + second.substr(64)},
       {0, 0, -1, -1}},
  };
  for (const Case& c : cases) {
    os::Handle file = os::FileOpen(c.file, os::kAccessRead, os::kShareRead, os::kOpenExisting);
    ASSERT_NE(file, os::kInvalidHandle);
    unsigned char record[kRecordLength];
    std::memset(record, 'x', sizeof record);
    int endFlag = 0;
    for (std::size_t i = 0; i < c.reads.size(); ++i) {
      ReadSnapshotRecord(file, record, &endFlag);
      EXPECT_EQ(std::string(reinterpret_cast<char*>(record), kRecordLength), c.reads[i])
          << c.file << " read " << i;
      EXPECT_EQ(endFlag, c.flags[i]) << c.file << " read " << i;
    }
    os::FileClose(file);
  }

  // The flag is the caller's to clear: a record read does not set it back.
  os::Handle file = os::FileOpen("two.txt", os::kAccessRead, os::kShareRead, os::kOpenExisting);
  unsigned char record[kRecordLength];
  int endFlag = -1;
  ReadSnapshotRecord(file, record, &endFlag);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record), kRecordLength), first);
  EXPECT_EQ(endFlag, -1);
  os::FileClose(file);
}

// --- Sorting ----------------------------------------------------------------

std::vector<unsigned char> Flatten(const std::vector<std::string>& records) {
  std::vector<unsigned char> bytes;
  for (const std::string& r : records) bytes.insert(bytes.end(), r.begin(), r.end());
  return bytes;
}

std::vector<std::string> Split(const std::vector<unsigned char>& bytes, std::size_t length) {
  std::vector<std::string> records;
  for (std::size_t at = 0; at < bytes.size(); at += length) {
    records.emplace_back(reinterpret_cast<const char*>(bytes.data()) + at, length);
  }
  return records;
}

TEST(SortRecordsTest, EqualKeysEndWhereTheDiminishingGapsPutThem) {
  // Records "<key><input position>" with a one-byte key. Another gap
  // sequence, a plain insertion sort or "less or equal" moves would order
  // the equal keys differently.
  struct Case {
    const char* input;
    const char* sorted;
  };
  const Case cases[] = {
      {"B0B1C2A3", "A3B1B0C2"},                  // gaps 3, 1
      {"B0A1B2A3C4A5B6A7", "A5A1A7A3B2B0B6C4"},  // gaps 5, 3, 1
      {"B0A1", "A1B0"},
      {"A0", "A0"},
  };
  for (const Case& c : cases) {
    std::vector<unsigned char> bytes(c.input, c.input + std::strlen(c.input));
    unsigned char scratch[2];
    SortRecords(SortDescriptor{2, static_cast<std::int32_t>(bytes.size() / 2), 1, 1}, scratch,
                bytes.data());
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.sorted) << c.input;
  }
}

TEST(SortRecordsTest, AgreesWithStdSortOnRandomKeysOfEverySize) {
  std::mt19937 random(20261207);
  // A few byte values only, so equal keys and long common prefixes are
  // common; blank, the high bytes and 0xFF test the unsigned comparison.
  const unsigned char alphabet[] = {' ', '.', 'A', 'a', 0x7F, 0x80, 0x82, 0xFF};
  struct Layout {
    int length, keyPosition, keyLength;
  };
  for (const Layout layout : {Layout{kRecordLength, 1, kKeyLength}, Layout{10, 5, 3}}) {
    for (int n : {0, 1, 2, 3, 4, 5, 7, 8, 9, 16, 31, 100, 257, 1000, 3000}) {
      std::vector<std::string> records;
      for (int i = 0; i < n; ++i) {
        std::string r(static_cast<std::size_t>(layout.length), '\0');
        for (char& ch : r) ch = static_cast<char>(alphabet[random() % sizeof alphabet]);
        // Keys share most of their bytes, so the last key byte decides often.
        for (int k = 0; k + 1 < layout.keyLength; ++k) {
          if (random() % 4 != 0) r[layout.keyPosition - 1 + k] = 'A';
        }
        records.push_back(r);
      }
      std::vector<unsigned char> bytes = Flatten(records);
      std::vector<unsigned char> scratch(static_cast<std::size_t>(layout.length));
      SortRecords(SortDescriptor{layout.length, n, layout.keyPosition, layout.keyLength},
                  scratch.data(), bytes.data());
      std::vector<std::string> sorted = Split(bytes, static_cast<std::size_t>(layout.length));

      auto key = [&](const std::string& r) {
        return std::string(r, static_cast<std::size_t>(layout.keyPosition - 1),
                           static_cast<std::size_t>(layout.keyLength));
      };
      auto keyLess = [&](const std::string& a, const std::string& b) {
        std::string ka = key(a), kb = key(b);
        return std::memcmp(ka.data(), kb.data(), ka.size()) < 0;
      };
      std::vector<std::string> expected = records;
      std::sort(expected.begin(), expected.end(), keyLess);
      for (int i = 0; i < n; ++i) ASSERT_EQ(key(sorted[i]), key(expected[i])) << n << " at " << i;
      // Whole records moved, none lost or duplicated.
      std::sort(records.begin(), records.end());
      std::sort(sorted.begin(), sorted.end());
      ASSERT_EQ(sorted, records) << n;
    }
  }
}

// --- Names, fields and files --------------------------------------------------

TEST(SnapshotNamesTest, StemIsTheEntrysMutexName) {
  std::strcpy(EntryAt(1).mutexName, "KSFF01");
  std::strcpy(EntryAt(2).mutexName, "KSFF02");
  SnapshotFileNames names;
  MakeSnapshotFileNames(2, &names);
  EXPECT_STREQ(names.oldName, "KSFF02O.txt");
  EXPECT_STREQ(names.newName, "KSFF02N.txt");
  EXPECT_STREQ(names.mergedName, "KSFF02T.txt");
  MakeSnapshotFileNames(1, &names);
  EXPECT_STREQ(names.oldName, "KSFF01O.txt");
}

TEST(SnapshotFieldsTest, TrimmedNameKeepsInnerBlanksAndNothingForALeadingBlank) {
  struct Case {
    std::string field;
    std::string name;
  };
  const Case cases[] = {
      {"my file.txt", "my file.txt"},
      {" lead", ""},
      {std::string(63, 'z'), std::string(63, 'z')},
      {"a", "a"},
  };
  for (const Case& c : cases) {
    std::string record = Expected(c.field, "000000000000", "2026-01-01", "00:00:00");
    EXPECT_EQ(TrimmedName(record), c.name) << c.field;
  }
  char destination[256];
  std::memset(destination, '#', sizeof destination);
  CopyTrimmedName(destination, reinterpret_cast<const unsigned char*>("ab  "), 4);
  EXPECT_EQ(std::string(destination, 3), "ab#");  // no NUL is written
}

TEST(SnapshotFieldsTest, ZeroFieldsLeaveTheNameAlone) {
  unsigned char record[kRecordLength];
  std::memset(record, 'x', sizeof record);
  FillZeroFields(record);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record), kRecordLength),
            std::string(64, 'x') +
                std::string("000000000000\0"
                            "0000-00-00\0"
                            "00:00:00\0",
                            33) +
                "xx");
}

TEST(SnapshotFieldsTest, KeysCompareAsUnsignedBytesOverAllSixtyFour) {
  struct Case {
    std::string a, b;
    int sign;
  };
  const std::string high = std::string(63, '\xFF');
  const Case cases[] = {
      {"B.txt", "a.txt", -1}, {"a.txt", "a.txt2", -1}, {"a", "a", 0},
      {"z", "\x82\xA0", -1},  {high, "\xFF\xFE", 1},   {high, high, 0},
  };
  for (const Case& c : cases) {
    std::string a = Expected(c.a, "000000000001", "", ""),
                b = Expected(c.b, "000000000002", "", "");
    int result = CompareKeys(reinterpret_cast<const unsigned char*>(a.data()),
                             reinterpret_cast<const unsigned char*>(b.data()));
    EXPECT_EQ((result > 0) - (result < 0), c.sign) << c.a << " vs " << c.b;
  }
}

TEST_F(SnapshotTest, DeletingAndRenamingLogOnlyFailures) {
  fs::create_directory("adir");
  WriteWholeFile("source", "new");
  WriteWholeFile("target", "old");
  WriteWholeFile("doomed", "");

  DeleteFileIfFound("missing");  // nothing to do, nothing logged
  DeleteFileIfFound("doomed");
  EXPECT_FALSE(fs::exists("doomed"));
  ReanameFile("source", "target");  // over an existing target
  EXPECT_EQ(ReadWholeFile("target"), "new");
  ReanameFile("target", "fresh");  // onto a missing one
  EXPECT_EQ(ReadWholeFile("fresh"), "new");
  EXPECT_FALSE(fs::exists("target"));
  EXPECT_EQ(CurrentLogTexts(), Lines{});

  // A folder is found but cannot be deleted as a file; the rename is still
  // tried, and fails too.
  DeleteFileIfFound("adir");
  ReanameFile("fresh", "adir");
  ReanameFile("gone", "elsewhere");
  EXPECT_EQ(ReadWholeFile("fresh"), "new");
  Lines log = CurrentLogTexts();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].rfind("...DeleteFile. error(adir) Error(", 0), 0u) << log[0];
  EXPECT_EQ(log[1].rfind("...ReanameFile. DeleteFile error(adir) Error(", 0), 0u) << log[1];
  EXPECT_EQ(log[2].rfind("...ReanameFile. MoveFile error(fresh) Error(", 0), 0u) << log[2];
  EXPECT_EQ(log[3].rfind("...ReanameFile. MoveFile error(gone) Error(", 0), 0u) << log[3];
}

}  // namespace
}  // namespace wendrake
