#include "launch/launcher.h"

#include <cstdio>
#include <cstring>

#include "log/log.h"
#include "os/os.h"
#include "record/snapshot_record.h"

namespace wendrake {

// Lengths: the full path, the argument string and the command line each
// have room for the longest folder, name, EXECUTE and ARGUMENT together, so
// none is ever cut. A full path longer than the system can open (on
// Windows, MAX_PATH bytes or more) is refused: cut, it would name another
// file (or a folder). A refused command is still logged, by the builder's
// line and the launcher's failure with the too-long code and its detail
// lines; nothing is started.

namespace {

// Whether `formatted`, what snprintf returned, fits a buffer of `capacity`.
bool Fits(int formatted, std::size_t capacity) {
  return formatted >= 0 && static_cast<std::size_t>(formatted) < capacity;
}

// What each change is handed on with, and the builder's word for it.
struct ChangeText {
  const char* flag;
  const char* label;
};
constexpr ChangeText kChangeTexts[] = {
    {"-D", "Delete"},   // ChangeKind::kDelete
    {"-A", "Adition"},  // ChangeKind::kAddition
    {"-U", "Update"},   // ChangeKind::kUpdate
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

// 0 when `command` may be started from `commandLine`, else the code its
// start is refused with.
int Refusal(const ThreadControlEntry& entry, const Command& command, char* commandLine,
            std::size_t capacity) {
  if (command.argumentString[0] == '\0' ||
      !Fits(std::snprintf(commandLine, capacity, "%s %s", entry.execute, command.argumentString),
            capacity)) {
    return os::PathTooLongError();
  }
  // A path that would reach the program changed (cmd.exe expanding a '%'
  // in it for a batch file) is refused rather than handed on.
  int refusal = os::ArgumentRefusal(entry.execute, command.fullPath);
  if (refusal != 0) return refusal;
  // An EXECUTE of blanks alone names no program: Windows would take the
  // quoted path that follows as the program and run the changed file.
  if (command.programWordCount == 0) return os::ProgramNotFoundError();
  return 0;
}

}  // namespace

void BuildCommand(const ThreadControlEntry& entry, ChangeKind change, const unsigned char* record,
                  Command* command) {
  const ChangeText& text = kChangeTexts[static_cast<int>(change)];
  std::memset(command, 0, sizeof *command);
  char name[kKeyLength] = {};
  CopyTrimmedName(name, record + kNameOffset, kKeyLength);
  std::snprintf(command->flag, sizeof command->flag, "%s", text.flag);

  int pathLength = std::snprintf(command->fullPath, sizeof command->fullPath, "%s%c%s",
                                 entry.folder, os::kPathSeparator, name);
  if (Fits(pathLength, sizeof command->fullPath) &&
      static_cast<std::size_t>(pathLength) <= os::kLongestPath) {
    char built[kArgumentStringCapacity];
    int length =
        entry.argument[0] != '\0'
            ? std::snprintf(built, sizeof built, "\"%s\" %s %s", command->fullPath, text.flag,
                            entry.argument)
            : std::snprintf(built, sizeof built, "\"%s\" %s", command->fullPath, text.flag);
    if (Fits(length, sizeof built)) std::memcpy(command->argumentString, built, sizeof built);
  }

  std::snprintf(command->programWords, sizeof command->programWords, "%s", entry.execute);
  std::snprintf(command->argumentWords, sizeof command->argumentWords, "%s", entry.argument);
  int count = SplitWords(command->programWords, command->argv, kMaxSettingWords);
  command->programWordCount = count;
  command->argv[count++] = command->fullPath;
  command->argv[count++] = command->flag;
  count += SplitWords(command->argumentWords, command->argv + count, kMaxSettingWords);
  command->argv[count] = nullptr;

  LogF("(%02d)... ... ... ... %s(%s)", entry.index, text.label, name);
}

void LaunchCommand(const ThreadControlEntry& entry, const Command& command) {
  const int index = entry.index;
  char commandLine[kCommandLineCapacity];
  int code = Refusal(entry, command, commandLine, sizeof commandLine);
  bool started = code == 0 && os::StartProgram(commandLine, command.argv, entry.current);
  if (code == 0 && !started) code = os::LastError();
  if (started) {
    LogF("(%02d)... ... CreateProcess(Normal complete)", index);
  } else {
    LogF("(%02d)... CreateProcess(Error) Code(%d)", index, code);
  }
  LogF("(%02d)... ... ... Folder(%s)", index, entry.folder);
  LogF("(%02d)... ... ... Execute(%s)", index, entry.execute);
  LogF("(%02d)... ... ... Argument(%s)", index, command.argumentString);
  LogF("(%02d)... ... ... Current(%s)", index, entry.current);
  WriteLog("");
}

}  // namespace wendrake
