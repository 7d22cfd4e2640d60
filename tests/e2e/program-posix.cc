#include <signal.h>
#include <sys/stat.h>

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

Finished RunProgram(const std::vector<std::string>& args, const fs::path& directory,
                    JournalStream journal) {
  // stdout and stderr go to files of their own, which JOURNAL_STREAM can
  // name by device and inode as it names the journal's stream.
  ScopedTempDir outputs;
  fs::path out = outputs.path() / "out", err = outputs.path() / "err";
  WriteWholeFile(out, "");
  WriteWholeFile(err, "");
  struct stat named = {};
  stat((journal == JournalStream::kStderr ? err : out).c_str(), &named);
  std::string stream = std::to_string(named.st_dev) + ":" + std::to_string(named.st_ino);
  if (journal != JournalStream::kUnset) setenv("JOURNAL_STREAM", stream.c_str(), 1);
  if (journal == JournalStream::kUnset) unsetenv("JOURNAL_STREAM");
  std::vector<std::string> words = {
      "-c", "exec \"$0\" \"$@\" >'" + out.string() + "' 2>'" + err.string() + "'", ProgramPath()};
  words.insert(words.end(), args.begin(), args.end());
  HelperProcess process = StartProcess("sh", words, directory.string());
  unsetenv("JOURNAL_STREAM");
  Finished run;
  run.status = WaitHelper(process, 60000);
  if (process.id != 0) Kill(process);
  run.out = ReadWholeFile(out);
  run.err = ReadWholeFile(err);
  return run;
}

}  // namespace testing
}  // namespace wendrake
