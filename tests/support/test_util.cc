#include "test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
constexpr char kProgramSuffix[] = ".exe";
#else
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
constexpr char kProgramSuffix[] = "";
#endif

namespace wendrake {
namespace testing {

namespace fs = std::filesystem;

fs::path& TestBinDir() {
  static fs::path dir;
  return dir;
}

ScopedTempDir::ScopedTempDir(bool enter) : entered_(enter) {
  static std::atomic<unsigned> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  do {
    path_ = fs::temp_directory_path() /
            ("wendrake-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  } while (!fs::create_directory(path_));
  if (entered_) {
    previous_ = fs::current_path();
    fs::current_path(path_);
  }
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  if (entered_) fs::current_path(previous_, ignored);
  fs::remove_all(path_, ignored);
}

std::string ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteWholeFile(const fs::path& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

std::vector<std::string> LogTexts(const std::string& log) {
  static const std::regex kStamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d - )");
  std::vector<std::string> texts;
  for (std::size_t start = 0, end; start < log.size(); start = end + 2) {
    end = log.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "log ends without CR LF: " << log.substr(start);
      break;
    }
    std::string line = log.substr(start, end - start);
    // The log writes no CR of a text's own: a line without a stamp is the
    // second half of a broken one.
    if (!std::regex_match(line.substr(0, 22), kStamp)) {
      ADD_FAILURE() << "log line without time stamp: " << line;
    } else {
      texts.push_back(line.substr(22));
    }
  }
  return texts;
}

std::vector<std::string> CurrentLogTexts() {
  return LogTexts(ReadWholeFile("Wendrake.log"));
}

std::string HelperProgram(const std::string& name) {
  return (TestBinDir() / (name + kProgramSuffix)).string();
}

int RunHelper(const std::string& name, const std::vector<std::string>& args) {
  HelperProcess helper = StartHelper(name, args);
  return WaitHelper(helper);
}

bool PollUntil(const std::function<bool()>& condition, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::vector<ArgvRecord> ReadArgvRecords(const fs::path& folder) {
  std::vector<ArgvRecord> records;
  std::error_code ignored;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ignored)) {
    if (entry.path().filename().string().rfind("record-", 0) != 0 ||
        entry.path().extension() != ".txt") {
      continue;
    }
    ArgvRecord& record = records.emplace_back();
    std::istringstream lines(ReadWholeFile(entry.path()));
    std::string tag, hex;
    while (lines >> tag && std::getline(lines, hex)) {  // the blank, then the value
      std::string& value = record[tag].emplace_back();
      for (std::size_t i = 1; i + 1 < hex.size(); i += 2) {
        value += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
      }
    }
  }
  return records;
}

bool WaitForArgvRecord(const fs::path& folder, ArgvRecord* record, int seconds) {
  std::vector<ArgvRecord> records;
  bool found =
      PollUntil([&] { return !(records = ReadArgvRecords(folder)).empty(); }, seconds * 1000);
  if (found) *record = records.front();
  return found;
}

int CountArgvRecords(const fs::path& folder) {
  return static_cast<int>(ReadArgvRecords(folder).size());
}

HelperProcess StartHelper(const std::string& name, const std::vector<std::string>& args) {
  return StartProcess(HelperProgram(name), args);
}

#ifdef _WIN32

HelperProcess StartProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& directory, int showState) {
  std::string line = "\"" + program + "\"";
  for (const std::string& arg : args) line += " \"" + arg + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (showState >= 0) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showState);
  }
  PROCESS_INFORMATION started = {};
  if (!CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &started)) {
    return {};
  }
  CloseHandle(started.hThread);
  return {reinterpret_cast<std::intptr_t>(started.hProcess)};
}

int WaitHelper(HelperProcess& helper, int timeoutMs) {
  HANDLE process = reinterpret_cast<HANDLE>(helper.id);
  DWORD code = 0, wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  if (process == nullptr || WaitForSingleObject(process, wait) != WAIT_OBJECT_0) return -1;
  helper.id = 0;
  bool ended = GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return ended ? static_cast<int>(code) : -1;
}

#else

HelperProcess StartProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& directory, int /*showState*/) {
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  pid_t pid = 0;
  bool started = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  return {started ? pid : 0};
}

int WaitHelper(HelperProcess& helper, int timeoutMs) {
  pid_t pid = static_cast<pid_t>(helper.id), ended = 0;
  int status = 0;
  if (pid == 0 || !PollUntil([&] { return (ended = waitpid(pid, &status, WNOHANG)) != 0; },
                             timeoutMs < 0 ? INT_MAX : timeoutMs)) {
    return -1;
  }
  helper.id = 0;
  if (ended != pid) return -1;
  // As a shell reports it: a program ended by a signal gives 128 + signal.
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

#endif

}  // namespace testing
}  // namespace wendrake
