// Helpers shared by the test suites: real temporary folders, the log read
// back as lines, and the helper programs built beside the tests.
#ifndef WENDRAKE_TESTS_SUPPORT_TEST_UTIL_H_
#define WENDRAKE_TESTS_SUPPORT_TEST_UTIL_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace wendrake {
namespace testing {

// A fresh folder under the system's temporary folder, removed with all it
// holds at the end of the scope. With `enter`, it is also the current
// directory for the scope (the log and snapshot files go there).
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

// The texts of the log lines in `log` (the bytes of a Wendrake.log), time
// stamps removed. A line whose stamp or CR LF end is malformed fails the
// current test and comes back as "<malformed: ...>".
std::vector<std::string> LogTexts(const std::string& log);

// The texts of Wendrake.log in the current directory.
std::vector<std::string> CurrentLogTexts();

// The path of a helper program built beside the test programs
// (tests/support/programs), with ".exe" on Windows.
std::string HelperProgram(const std::string& name);

// Runs a helper program with arguments (each quoted) and returns its exit
// code.
int RunHelper(const std::string& name, const std::vector<std::string>& args);

// Asks `condition` every 10 ms until it holds or `timeoutMs` have passed;
// returns its last answer. For waits on other threads and processes, with a
// deadline generous enough that only a fault reaches it.
bool PollUntil(const std::function<bool()>& condition, int timeoutMs = 30000);

// A helper program started by StartHelper that may still be running.
struct HelperProcess {
  std::intptr_t id = 0;  // the process handle (Windows) or pid (Linux); 0: none
};

// Starts a helper program with `args`, each one argument, and does not wait
// for it. The result's id is 0 when the start failed.
HelperProcess StartHelper(const std::string& name, const std::vector<std::string>& args);

// Waits for a helper started by StartHelper to end and returns its exit
// code; -1 when it was not started or did not end normally.
int WaitHelper(HelperProcess& helper);

}  // namespace testing
}  // namespace wendrake

#endif  // WENDRAKE_TESTS_SUPPORT_TEST_UTIL_H_
