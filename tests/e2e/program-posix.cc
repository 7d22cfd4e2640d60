#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

extern char** environ;

#include "program.h"

namespace wendrake {
namespace testing {

std::string ProgramPath() {
  const char* installed = std::getenv("WENDRAKE_PROGRAM");
  if (installed != nullptr && *installed != '\0') return installed;
  return (std::filesystem::path(HelperProgram("x")).parent_path().parent_path() / "wendrake")
      .string();
}

Program::~Program() {
  if (!running()) return;
  kill(static_cast<pid_t>(pid_), SIGKILL);
  WaitHelper(process_);
}

bool Program::Start(const std::filesystem::path& startDirectory, int /*showState*/) {
  process_ = StartProcess(ProgramPath(), {}, startDirectory.string());
  pid_ = process_.id;
  return running();
}

bool Program::RequestEnd(int signal) {
  return running() && kill(static_cast<pid_t>(pid_), signal) == 0;
}

Finished RunProgram(const std::vector<std::string>& args, const std::filesystem::path& directory,
                    JournalStream journal) {
  Finished run;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return run;
  if (pipe2(err, O_CLOEXEC) != 0) return run;
  struct stat named = {};
  fstat(journal == JournalStream::kStderr ? err[1] : out[1], &named);
  std::string variable =
      "JOURNAL_STREAM=" + std::to_string(named.st_dev) + ":" + std::to_string(named.st_ino);
  std::vector<char*> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("JOURNAL_STREAM=", 0) != 0) env.push_back(*e);
  }
  if (journal != JournalStream::kUnset) env.push_back(&variable[0]);
  env.push_back(nullptr);
  std::string program = ProgramPath();
  std::vector<char*> argv = {&program[0]};
  std::vector<std::string> copies = args;
  for (std::string& arg : copies) argv.push_back(&arg[0]);
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  pid_t pid = 0;
  bool started =
      posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), env.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  // Both pipes are read to their end, so a full one never stalls the run.
  pollfd reading[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* into[2] = {&run.out, &run.err};
  for (int open = 2; started && open > 0 && poll(reading, 2, 60000) > 0;) {
    for (int i = 0; i < 2; ++i) {
      if (reading[i].revents == 0) continue;
      char buffer[4096];
      ssize_t got = read(reading[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        into[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        reading[i].fd = -1;
        --open;
      }
    }
  }
  close(out[0]);
  close(err[0]);
  HelperProcess process = {started ? pid : 0};
  run.status = WaitHelper(process, 60000);
  if (process.id != 0) {
    kill(pid, SIGKILL);
    WaitHelper(process);
  }
  return run;
}

}  // namespace testing
}  // namespace wendrake
