#include <signal.h>

#include <cstdlib>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {

std::string ProgramPath() {
  const char* installed = std::getenv("WENDRAKE_PROGRAM");
  if (installed != nullptr && *installed != '\0') return installed;
  return (fs::path(HelperProgram("x")).parent_path().parent_path() / "wendrake").string();
}

bool RequestEnd(const HelperProcess& program) {
  return program.id != 0 && kill(static_cast<pid_t>(program.id), SIGTERM) == 0;
}

void Kill(HelperProcess& program) {
  kill(static_cast<pid_t>(program.id), SIGKILL);
  WaitHelper(program);
}

}  // namespace testing
}  // namespace wendrake
