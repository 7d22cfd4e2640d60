// The program under test, started as its users start it: in a start
// directory of its own, ended the way the platform ends it (a signal on
// Linux, WM_CLOSE to its hidden window on Windows).
#ifndef WENDRAKE_TESTS_E2E_PROGRAM_H_
#define WENDRAKE_TESTS_E2E_PROGRAM_H_

#include <filesystem>
#include <string>
#include <vector>

#include "test_util.h"

namespace wendrake {
namespace testing {

// $WENDRAKE_PROGRAM when set (the installed one), else the one built here.
std::string ProgramPath();

#ifndef _WIN32
// A run of the program to its end, with what it wrote.
struct Finished {
  int status = -1;  // -1: it had not ended after a minute
  std::string out, err;
};

// What JOURNAL_STREAM names: nothing (unset), the program's stderr, as
// systemd names the journal's stream, or its stdout.
enum class JournalStream { kUnset, kStderr, kStdout };

// Runs it with `args` in `directory`, stdout and stderr each into a file of
// ours.
Finished RunProgram(const std::vector<std::string>& args, const std::filesystem::path& directory,
                    JournalStream journal = JournalStream::kUnset);
#endif

class Program {
 public:
  Program() = default;
  ~Program();  // kills a program still running
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Starts it in `startDirectory`. On Windows a `showState` of 0 or more is
  // handed over as a launcher's SW_... show state.
  bool Start(const std::filesystem::path& startDirectory, int showState = -1);

  // Asks it to end: SIGTERM (or `signal`) on Linux, WM_CLOSE on Windows.
  bool RequestEnd(int signal = 15);

  // Waits up to `seconds` for it to end; true with its exit code if it did.
  bool WaitForExit(double seconds, int* exitCode) {
    if (!running()) return false;
    *exitCode = WaitHelper(process_, static_cast<int>(seconds * 1000));
    return !running();
  }

  bool running() const { return process_.id != 0; }
  long long pid() const { return pid_; }

 private:
  HelperProcess process_;
  long long pid_ = 0;
};

}  // namespace testing
}  // namespace wendrake

#endif  // WENDRAKE_TESTS_E2E_PROGRAM_H_
