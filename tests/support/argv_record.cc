#include "argv_record.h"

#include <sstream>

#include "test_util.h"

namespace wendrake {
namespace testing {

namespace fs = std::filesystem;

std::vector<ArgvRecord> ReadArgvRecords(const fs::path& folder) {
  std::vector<ArgvRecord> records;
  std::error_code ignored;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ignored)) {
    if (entry.path().filename().string().rfind("record-", 0) != 0 ||
        entry.path().extension() != ".txt") {
      continue;
    }
    ArgvRecord& record = records.emplace_back();
    std::istringstream lines(ReadWholeFile(entry.path()));
    std::string tag, hex;
    while (lines >> tag && std::getline(lines, hex)) {  // the blank, then the value
      std::string& value = record[tag].emplace_back();
      for (std::size_t i = 1; i + 1 < hex.size(); i += 2) {
        value += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
      }
    }
  }
  return records;
}

bool WaitForArgvRecord(const fs::path& folder, ArgvRecord* record, int seconds) {
  std::vector<ArgvRecord> records;
  if (!PollUntil([&] { return !(records = ReadArgvRecords(folder)).empty(); }, seconds * 1000)) {
    return false;
  }
  *record = records.front();
  return true;
}

int CountArgvRecords(const fs::path& folder) {
  return static_cast<int>(ReadArgvRecords(folder).size());
}

}  // namespace testing
}  // namespace wendrake
