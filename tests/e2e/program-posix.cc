#include <signal.h>
#include <sys/stat.h>

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

Finished RunProgram(const std::vector<std::string>& args, const std::filesystem::path& directory,
                    JournalStream journal) {
  // stdout and stderr go to files of their own, which JOURNAL_STREAM can
  // name by device and inode as it names the journal's stream.
  ScopedTempDir outputs;
  std::filesystem::path out = outputs.path() / "out", err = outputs.path() / "err";
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
  if (process.id != 0) {
    kill(static_cast<pid_t>(process.id), SIGKILL);
    WaitHelper(process);
  }
  run.out = ReadWholeFile(out);
  run.err = ReadWholeFile(err);
  return run;
}

}  // namespace testing
}  // namespace wendrake
