#include <signal.h>

#include <cstdlib>

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

}  // namespace testing
}  // namespace wendrake
