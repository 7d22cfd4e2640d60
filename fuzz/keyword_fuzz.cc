// One record as the reader hands it over (at most kRecordMax characters and
// a NUL): no keyword's value may run past the record.
#include <cstdint>
#include <cstring>

#include "config/command_file.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace wendrake;
  static const char* const kKeywords[] = {
      "ACTION=", "FOLDER=", "EXECUTE=", "CURRENT=", "ARGUMENT="};
  char record[kRecordCapacity];
  std::memset(record, 0, sizeof record);
  std::memcpy(record, data, size < kRecordMax ? size : kRecordMax);
  std::size_t recordLength = std::strlen(record);

  for (const char* keyword : kKeywords) {
    char destination[kRecordCapacity];
    std::memset(destination, 0, sizeof destination);
    ExtractKeywordValue(destination, record, keyword);
    fuzz::Check(std::strlen(destination) <= recordLength, "a value longer than its record");
  }
  return 0;
}
