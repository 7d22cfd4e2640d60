// Helpers shared by the test suites: real temporary folders, the log read
// back as lines, and the helper programs built beside the tests.
#ifndef WENDRAKE_TESTS_SUPPORT_TEST_UTIL_H_
#define WENDRAKE_TESTS_SUPPORT_TEST_UTIL_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace wendrake {
namespace testing {

// A fresh folder under the temporary folder, removed with all it holds at
// the end of the scope; with `enter`, also the current directory meanwhile.
class ScopedTempDir {
 public:
  explicit ScopedTempDir(bool enter = false);
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
  bool entered_;
};

std::string ReadWholeFile(const std::filesystem::path& path);
void WriteWholeFile(const std::filesystem::path& path, const std::string& contents);

// The texts of the lines of a Wendrake.log, time stamps removed. A line
// whose stamp or CR LF end is malformed fails the current test.
std::vector<std::string> LogTexts(const std::string& log);
std::vector<std::string> CurrentLogTexts();  // of Wendrake.log here

// A helper program of tests/support/programs, with ".exe" on Windows, in
// TestBinDir(), which main() sets.
std::string HelperProgram(const std::string& name);
std::filesystem::path& TestBinDir();

// Runs a helper program to its end; its exit code, -1 if it did not end well.
int RunHelper(const std::string& name, const std::vector<std::string>& args);

// Asks `condition` every 10 ms until it holds or `timeoutMs` have passed;
// returns its last answer. The deadline is one only a fault reaches.
bool PollUntil(const std::function<bool()>& condition, int timeoutMs = 30000);

struct HelperProcess {
  std::intptr_t id = 0;  // the process handle (Windows) or pid (Linux); 0: none
};

// Starts `program` (looked up in PATH on Linux when bare) with `args`, each
// one argument (on Windows one with no double quote and no backslash at its
// end), in `directory` (empty: this one), without waiting. On Windows a
// `showState` of 0 or more is handed over as a launcher's SW_... show state.
HelperProcess StartProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& directory = "", int showState = -1);
// The same for a helper program.
HelperProcess StartHelper(const std::string& name, const std::vector<std::string>& args);

// Waits up to `timeoutMs` (-1: as long as it takes) for the process to end:
// its exit code (128 + the signal on Linux if one ended it), -1 if it did
// not end in time (`helper.id` stays set while it runs on).
int WaitHelper(HelperProcess& helper, int timeoutMs = -1);

// Reading back what the argv_recorder helper program wrote about how it was
// started (see tests/support/programs/argv_recorder.cc): the decoded values
// of one record by tag ("cwd", "cmd", "arg", "fd", "sig"), in the order
// written.
using ArgvRecord = std::map<std::string, std::vector<std::string>>;

// Waits, up to `seconds`, until `folder` holds a finished record and reads
// the first one. False when none came.
bool WaitForArgvRecord(const std::filesystem::path& folder, ArgvRecord* record, int seconds = 60);

// Every finished record in `folder` now, in no particular order.
std::vector<ArgvRecord> ReadArgvRecords(const std::filesystem::path& folder);
int CountArgvRecords(const std::filesystem::path& folder);

}  // namespace testing
}  // namespace wendrake

#endif  // WENDRAKE_TESTS_SUPPORT_TEST_UTIL_H_
