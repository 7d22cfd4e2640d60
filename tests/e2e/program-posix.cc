#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

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
  std::string dir = startDirectory.string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = 0;
  int failed = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return false;
  pid_ = pid;
  running_ = true;
  return true;
}

bool Program::RequestEnd(int signal) {
  return running_ && kill(static_cast<pid_t>(pid_), signal) == 0;
}

bool Program::WaitForExit(double seconds, int* exitCode) {
  if (!running_) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    int status = 0;
    pid_t done = waitpid(static_cast<pid_t>(pid_), &status, WNOHANG);
    if (done == static_cast<pid_t>(pid_)) {
      running_ = false;
      *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return true;
    }
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace testing
}  // namespace wendrake
