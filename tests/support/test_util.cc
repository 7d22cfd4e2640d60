#include "test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
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
  for (;;) {
    std::ostringstream name;
    name << "wendrake-test-" << stamp << "-" << counter++;
    path_ = fs::temp_directory_path() / name.str();
    if (fs::create_directory(path_)) break;
  }
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
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "YYYY-MM-DD hh:mm:ss - ": four-digit years are all the tests will see.
bool HasStamp(const std::string& line) {
  static const char kShape[] = "9999-99-99 99:99:99 - ";
  if (line.size() < sizeof kShape - 1) return false;
  for (std::size_t i = 0; i + 1 < sizeof kShape; ++i) {
    if (kShape[i] == '9' ? !IsDigit(line[i]) : line[i] != kShape[i]) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> LogTexts(const std::string& log) {
  std::vector<std::string> texts;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "log ends without CR LF: " << log.substr(start);
      texts.push_back("<malformed: " + log.substr(start) + ">");
      break;
    }
    std::string line = log.substr(start, end - start);
    start = end + 2;
    if (!HasStamp(line)) {
      // A text may hold a bare newline (a command-file record is logged
      // with its own); such a line continues the previous one.
      if (!texts.empty()) {
        texts.back() += "\r\n" + line;
        continue;
      }
      ADD_FAILURE() << "log line without time stamp: " << line;
      texts.push_back("<malformed: " + line + ">");
      continue;
    }
    texts.push_back(line.substr(22));
  }
  return texts;
}

std::vector<std::string> CurrentLogTexts() { return LogTexts(ReadWholeFile("Wendrake.log")); }

std::string HelperProgram(const std::string& name) {
#ifdef _WIN32
  return (TestBinDir() / (name + ".exe")).string();
#else
  return (TestBinDir() / name).string();
#endif
}

int RunHelper(const std::string& name, const std::vector<std::string>& args) {
  std::string command = "\"" + HelperProgram(name) + "\"";
  for (const std::string& arg : args) command += " \"" + arg + "\"";
#ifdef _WIN32
  // cmd /c strips the outer pair of quotes when the line starts with one.
  command = "\"" + command + "\"";
#endif
  int status = std::system(command.c_str());
#ifdef _WIN32
  return status;
#else
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

bool PollUntil(const std::function<bool()>& condition, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

#ifdef _WIN32

namespace {

// One argument as the C runtime of the started program splits it again:
// quoted, with the backslashes before a quote (or before the closing one)
// doubled.
void AppendQuoted(std::string& line, const std::string& arg) {
  line += " \"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, '\\');
  line += '"';
}

}  // namespace

HelperProcess StartHelper(const std::string& name, const std::vector<std::string>& args) {
  std::string program = HelperProgram(name);
  std::string line = "\"" + program + "\"";
  for (const std::string& arg : args) AppendQuoted(line, arg);
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  HelperProcess helper;
  if (CreateProcessA(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &started)) {
    CloseHandle(started.hThread);
    helper.id = reinterpret_cast<std::intptr_t>(started.hProcess);
  }
  return helper;
}

int WaitHelper(HelperProcess& helper) {
  if (helper.id == 0) return -1;
  HANDLE process = reinterpret_cast<HANDLE>(helper.id);
  helper.id = 0;
  DWORD code = 0;
  bool ended =
      WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return ended ? static_cast<int>(code) : -1;
}

#else

HelperProcess StartHelper(const std::string& name, const std::vector<std::string>& args) {
  std::string program = HelperProgram(name);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  HelperProcess helper;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0) {
    helper.id = pid;
  }
  return helper;
}

int WaitHelper(HelperProcess& helper) {
  if (helper.id == 0) return -1;
  pid_t pid = static_cast<pid_t>(helper.id);
  helper.id = 0;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif

}  // namespace testing
}  // namespace wendrake
