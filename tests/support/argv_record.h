// Reading back what the argv_recorder helper program wrote about how it was
// started (see tests/support/programs/argv_recorder.cc).
#ifndef WENDRAKE_TESTS_SUPPORT_ARGV_RECORD_H_
#define WENDRAKE_TESTS_SUPPORT_ARGV_RECORD_H_

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace wendrake {
namespace testing {

// The decoded values of one record by tag ("cwd", "cmd", "arg", "fd", "sig"),
// in the order written.
using ArgvRecord = std::map<std::string, std::vector<std::string>>;

// Waits, up to `seconds`, until `folder` holds a finished record and reads
// the first one. False when none came.
bool WaitForArgvRecord(const std::filesystem::path& folder, ArgvRecord* record, int seconds = 60);

// Every finished record in `folder` now, in no particular order.
std::vector<ArgvRecord> ReadArgvRecords(const std::filesystem::path& folder);
int CountArgvRecords(const std::filesystem::path& folder);

}  // namespace testing
}  // namespace wendrake

#endif  // WENDRAKE_TESTS_SUPPORT_ARGV_RECORD_H_
