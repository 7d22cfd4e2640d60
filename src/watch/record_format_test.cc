// The record fields are filled without printf for speed; they must be the
// very bytes that the record's printf formats give, for every value.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "watch/snapshot.h"

namespace wendrake {
namespace {

// Bytes 0-96 of a record as the formats "%-63s", "%012d", "%04d-%02d-%02d"
// and "%02d:%02d:%02d" give them, each field cut to its width and followed
// by a NUL.
std::string Formatted(const char* name, std::uint32_t size, const os::LocalTime& t) {
  std::string record(kCrOffset, 'x');
  char text[128];
  auto put = [&](int offset, int length) {
    std::memcpy(&record[offset], text, static_cast<std::size_t>(length));
    record[offset + length] = '\0';
  };
  std::snprintf(text, sizeof text, "%-63s", name);
  put(kNameOffset, kNameLength);
  std::snprintf(text, sizeof text, "%012d", static_cast<int>(static_cast<std::int32_t>(size)));
  put(kSizeOffset, kSizeLength);
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.year, t.month, t.day);
  put(kDateOffset, kDateLength);
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  put(kTimeOffset, kTimeLength);
  return record;
}

TEST(RecordFormatTest, FilledFieldsAreThoseOfThePrintfFormats) {
  const std::string longest(kNameLength, 'n');
  const std::string tooLong(kNameLength + 5, 'o');
  const char* names[] = {"", "a", "report 7.dat", longest.c_str(), tooLong.c_str()};
  const std::uint32_t sizes[] = {0u, 7u, 999999999u, 2147483647u, 2147483648u, 4294967295u};
  const os::LocalTime times[] = {{2026, 12, 7, 1, 2, 3},      {0, 0, 0, 0, 0, 0},
                                 {9999, 12, 31, 23, 59, 59},  {10000, 1, 1, 0, 0, 0},
                                 {1999, 100, -1, 24, 60, 61}, {-5, 1, 1, 0, 0, 0}};
  for (const char* name : names) {
    for (std::uint32_t size : sizes) {
      for (const os::LocalTime& t : times) {
        unsigned char record[kRecordLength];
        std::memset(record, 'x', sizeof record);
        FillSnapshotRecord(record, name, size, t);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(record), kCrOffset), Formatted(name, size, t))
            << name << " " << size << " " << t.year << "-" << t.month << "-" << t.day;
      }
    }
  }
}

}  // namespace
}  // namespace wendrake
