#include "launch/launcher.h"

#include <cstdio>
#include <cstring>

#include "config/thread_control.h"
#include "log/log.h"
#include "os/os.h"
#include "watch/snapshot.h"

namespace wendrake {

// Lengths: the full path, the argument string and the command line each
// have room for 255 bytes. One that would need more is refused, never cut:
// a cut path names another file (or a folder), and a cut command line loses
// the flag or the ARGUMENT the program relies on. A refusing builder still
// logs its line but leaves the argument string empty, which no builder
// makes otherwise; LaunchCommand then logs the start as failed with the
// too-long code and its detail lines, and starts nothing.

namespace {

constexpr std::size_t kLengthMax = kArgumentStringCapacity - 1;

// A 255-byte setting holds at most 128 words.
constexpr int kMaxWords = (kSettingCapacity + 1) / 2;

// The program's words, the full path, the flag, ARGUMENT's words, NULL.
constexpr int kArgvCapacity = 2 * kMaxWords + 3;

bool Fits(int formatted) {
  return formatted >= 0 && static_cast<std::size_t>(formatted) <= kLengthMax;
}

// Writes '"' + full path + "\" " + flag [+ ' ' + ARGUMENT] into
// `argumentString`, or leaves it as the caller gave it (zero-filled) when
// the full path or the string would not fit. The trimmed name goes to `name`
// for the builder's log line.
void BuildArgumentString(int index, const unsigned char* record, const char* flag,
                         char* argumentString, char (&name)[kSettingCapacity]) {
  const ThreadControlEntry& entry = EntryAt(index);
  std::memset(name, 0, sizeof name);
  CopyTrimmedName(name, record + kNameOffset, kKeyLength);

  char fullPath[kArgumentStringCapacity];
  if (!Fits(std::snprintf(fullPath, sizeof fullPath, "%s%c%s", entry.folder, os::kPathSeparator,
                          name))) {
    return;
  }
  char built[kArgumentStringCapacity];
  int length =
      entry.argument[0] != '\0'
          ? std::snprintf(built, sizeof built, "\"%s\" %s %s", fullPath, flag, entry.argument)
          : std::snprintf(built, sizeof built, "\"%s\" %s", fullPath, flag);
  if (!Fits(length)) return;
  std::memcpy(argumentString, built, static_cast<std::size_t>(length) + 1);
}

// What one start needs, in fixed buffers: the command line for Windows and
// the argv for Linux are both made, so that both builds refuse the same
// starts.
struct Launch {
  char commandLine[kArgumentStringCapacity];
  char programWords[kSettingCapacity];
  char fullPath[kArgumentStringCapacity];
  char flag[4];
  char argumentWords[kSettingCapacity];
  char* argv[kArgvCapacity];
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Cuts `text` in place into its blank-separated words and appends them to
// `words`; returns how many. Runs of blanks separate as one, as the Windows
// command-line parser counts them.
int SplitWords(char* text, char** words, int room) {
  int count = 0;
  char* p = text;
  while (*p != '\0') {
    while (IsBlank(*p)) *p++ = '\0';
    if (*p == '\0' || count == room) break;
    words[count++] = p;
    while (*p != '\0' && !IsBlank(*p)) ++p;
  }
  return count;
}

// Takes the full path and the flag back out of an argument string that a
// builder made for `argument`: '"' + path + "\" -X", then ' ' + argument
// when it is not empty. The known ARGUMENT is taken off the end and the
// fixed-length flag part before it, so the path is recovered whole whatever
// it holds; quotes in it included.
bool SplitArgumentString(const char* text, std::size_t length, const char* argument,
                         Launch* launch) {
  std::size_t argumentLength = std::strlen(argument);
  std::size_t tail = argumentLength == 0 ? 0 : argumentLength + 1;
  if (length < 5 + tail || text[0] != '"') return false;
  std::size_t core = length - tail;
  if (tail != 0 &&
      (text[core] != ' ' || std::memcmp(text + core + 1, argument, argumentLength) != 0)) {
    return false;
  }
  const char* flag = text + core - 3;
  if (text[core - 4] != '"' || flag[0] != ' ' || flag[1] != '-' ||
      (flag[2] != 'A' && flag[2] != 'D' && flag[2] != 'U')) {
    return false;
  }
  std::size_t pathLength = core - 5;
  std::memcpy(launch->fullPath, text + 1, pathLength);
  launch->fullPath[pathLength] = '\0';
  std::memcpy(launch->flag, flag + 1, 2);
  launch->flag[2] = '\0';
  return true;
}

// Fills `launch` for the entry and the argument string; returns 0, or the
// code the start is refused with.
int PrepareLaunch(const ThreadControlEntry& entry, const char* argumentString, Launch* launch) {
  // An empty string is what a refusing builder leaves; one not made by a
  // builder at all cannot be taken apart safely and is refused the same way.
  std::size_t length = strnlen(argumentString, kArgumentStringCapacity);
  if (length == 0 || length > kLengthMax ||
      !SplitArgumentString(argumentString, length, entry.argument, launch)) {
    return os::PathTooLongError();
  }
  if (!Fits(std::snprintf(launch->commandLine, sizeof launch->commandLine, "%s %s", entry.execute,
                          argumentString))) {
    return os::PathTooLongError();
  }
  // A path that would reach the program changed (cmd.exe expanding a '%'
  // in it for a batch file) is refused rather than handed on.
  int refusal = os::ArgumentRefusal(entry.execute, launch->fullPath);
  if (refusal != 0) return refusal;
  std::snprintf(launch->programWords, sizeof launch->programWords, "%s", entry.execute);
  std::snprintf(launch->argumentWords, sizeof launch->argumentWords, "%s", entry.argument);
  int count = SplitWords(launch->programWords, launch->argv, kMaxWords);
  // An EXECUTE of blanks alone names no program: Windows would take the
  // quoted path that follows as the program and run the changed file.
  if (count == 0) return os::ProgramNotFoundError();
  launch->argv[count++] = launch->fullPath;
  launch->argv[count++] = launch->flag;
  count += SplitWords(launch->argumentWords, launch->argv + count, kMaxWords);
  launch->argv[count] = nullptr;
  return 0;
}

}  // namespace

void BuildDeleteCommand(int index, const unsigned char* record, char* argumentString) {
  char name[kSettingCapacity];
  BuildArgumentString(index, record, "-D", argumentString, name);
  LogF("(%02d)... ... ... ... Delete(%s)", index, name);
}

void BuildAdditionCommand(int index, const unsigned char* record, char* argumentString) {
  char name[kSettingCapacity];
  BuildArgumentString(index, record, "-A", argumentString, name);
  LogF("(%02d)... ... ... ... Adition(%s)", index, name);
}

void BuildUpdateCommand(int index, const unsigned char* record, char* argumentString) {
  char name[kSettingCapacity];
  BuildArgumentString(index, record, "-U", argumentString, name);
  LogF("(%02d)... ... ... ... Update(%s)", index, name);
}

void LaunchCommand(int index, const char* argumentString) {
  const ThreadControlEntry& entry = EntryAt(index);
  Launch launch;
  int code = PrepareLaunch(entry, argumentString, &launch);
  bool started = false;
  if (code == 0) {
    started = os::StartProgram(launch.commandLine, launch.argv, entry.current);
    if (!started) code = os::LastError();
  }
  if (started) {
    LogF("(%02d)... ... CreateProcess(Normal complete)", index);
  } else {
    LogF("(%02d)... CreateProcess(Error) Code(%d)", index, code);
  }
  LogF("(%02d)... ... ... Folder(%s)", index, entry.folder);
  LogF("(%02d)... ... ... Execute(%s)", index, entry.execute);
  LogF("(%02d)... ... ... Argument(%.*s)", index,
       static_cast<int>(strnlen(argumentString, kArgumentStringCapacity)), argumentString);
  LogF("(%02d)... ... ... Current(%s)", index, entry.current);
  WriteLog(1, "");
}

}  // namespace wendrake
