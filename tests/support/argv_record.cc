#include "argv_record.h"

#include <sstream>

#include "test_util.h"

namespace wendrake {
namespace testing {

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> Records(const fs::path& folder) {
  std::vector<fs::path> found;
  std::error_code ignored;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ignored)) {
    std::string name = entry.path().filename().string();
    if (name.rfind("record-", 0) == 0 && entry.path().extension() == ".txt") {
      found.push_back(entry.path());
    }
  }
  return found;
}

ArgvRecord ParseRecord(const fs::path& file) {
  ArgvRecord record;
  std::istringstream lines(ReadWholeFile(file));
  std::string tag;
  std::string hex;
  while (lines >> tag) {
    std::getline(lines, hex);  // the blank after the tag, then the value
    std::string& value = record[tag].emplace_back();
    for (std::size_t i = 1; i + 1 < hex.size(); i += 2) {
      value += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
  }
  return record;
}

}  // namespace

bool WaitForArgvRecord(const fs::path& folder, ArgvRecord* record, int seconds) {
  if (!PollUntil([&] { return !Records(folder).empty(); }, seconds * 1000)) return false;
  *record = ParseRecord(Records(folder).front());
  return true;
}

std::vector<ArgvRecord> ReadArgvRecords(const fs::path& folder) {
  std::vector<ArgvRecord> records;
  for (const fs::path& file : Records(folder)) records.push_back(ParseRecord(file));
  return records;
}

int CountArgvRecords(const fs::path& folder) {
  return static_cast<int>(Records(folder).size());
}

}  // namespace testing
}  // namespace wendrake
