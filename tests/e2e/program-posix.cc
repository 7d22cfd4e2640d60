#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>

#include "program.h"
#include "test_util.h"

extern char** environ;

namespace wendrake {
namespace testing {

std::string ProgramPath() {
  const char* installed = std::getenv("WENDRAKE_PROGRAM");
  if (installed != nullptr && *installed != '\0') return installed;
  return (std::filesystem::path(HelperProgram("x")).parent_path().parent_path() / "wendrake")
      .string();
}

Program::~Program() {
  if (!running_) return;
  kill(static_cast<pid_t>(pid_), SIGKILL);
  waitpid(static_cast<pid_t>(pid_), nullptr, 0);
}

bool Program::Start(const std::filesystem::path& startDirectory, int /*showState*/) {
  std::string path = ProgramPath();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, startDirectory.c_str());
  char* argv[] = {&path[0], nullptr};
  pid_t pid = 0;
  running_ = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  pid_ = pid;
  return running_;
}

bool Program::RequestEnd(int signal) {
  return running_ && kill(static_cast<pid_t>(pid_), signal) == 0;
}

bool Program::WaitForExit(double seconds, int* exitCode) {
  int status = 0;
  if (!running_ || !PollUntil(
                       [&] {
                         return waitpid(static_cast<pid_t>(pid_), &status, WNOHANG) ==
                                static_cast<pid_t>(pid_);
                       },
                       static_cast<int>(seconds * 1000))) {
    return false;
  }
  running_ = false;
  *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

}  // namespace testing
}  // namespace wendrake
