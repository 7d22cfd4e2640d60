#include "argv_record.h"

#include <chrono>
#include <sstream>
#include <thread>

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

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

ArgvRecord ParseRecord(const fs::path& file) {
  ArgvRecord record;
  std::istringstream lines(ReadWholeFile(file));
  std::string tag;
  std::string hex;
  while (lines >> tag) {
    std::getline(lines, hex);  // the blank after the tag, then the value
    record[tag].push_back(FromHex(hex.empty() ? hex : hex.substr(1)));
  }
  return record;
}

}  // namespace

bool WaitForArgvRecord(const fs::path& folder, ArgvRecord* record, int seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::vector<fs::path> found;
  while ((found = Records(folder)).empty()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  *record = ParseRecord(found.front());
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
