// Starting programs on Windows: CreateProcessA with the command line as the
// launcher made it. The platform finds the program at the head of the line.
#include <windows.h>

#include <cstring>

#include "os/os.h"

namespace wendrake {
namespace os {

namespace {

// CreateProcessA takes at most this many characters, the NUL included.
constexpr std::size_t kCommandLineCapacity = 32768;

// Whether the `length` bytes at `text` are `lower`, ASCII letters folded.
bool SameName(const char* text, std::size_t length, const char* lower) {
  if (std::strlen(lower) != length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + ('a' - 'A')) : text[i];
    if (c != lower[i]) return false;
  }
  return true;
}

// Whether the file name in the word [begin, end) is cmd.exe or a batch
// file. Quotes around it and trailing dots, which Windows drops from a name,
// are left out.
bool NamesInterpreter(const char* begin, const char* end) {
  while (end > begin && (end[-1] == '"' || end[-1] == '.')) --end;
  const char* name = end;
  while (name > begin && name[-1] != '\\' && name[-1] != '/' && name[-1] != '"') --name;
  std::size_t length = static_cast<std::size_t>(end - name);
  return SameName(name, length, "cmd") || SameName(name, length, "cmd.exe") ||
         (length >= 4 && (SameName(end - 4, 4, ".bat") || SameName(end - 4, 4, ".cmd")));
}

// Whether cmd.exe reads the command line of the program `execute` names.
// Every blank-separated word counts: CreateProcess tries the heads of an
// unquoted line at each blank in turn, so "C:\My Tools\run.cmd" is the batch
// file too. A word that is only an argument of the program may count as
// well, which refuses more starts than needed, never fewer.
bool ReadByInterpreter(const char* execute) {
  const char* p = execute;
  while (*p != '\0') {
    while (*p == ' ' || *p == '\t') ++p;
    const char* word = p;
    while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
    if (p > word && NamesInterpreter(word, p)) return true;
  }
  return false;
}

}  // namespace

bool StartProgram(const char* commandLine, char* const /*argv*/[], const char* workingDir) {
  // The command line is handed over in a buffer of our own: CreateProcess
  // may write to it, and the caller's stays as it was.
  char line[kCommandLineCapacity];
  std::size_t length = std::strlen(commandLine);
  if (length >= sizeof line) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  std::memcpy(line, commandLine, length + 1);

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process;
  std::memset(&process, 0, sizeof process);

  if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, workingDir, &startup,
                      &process)) {
    return false;  // GetLastError() still holds the reason
  }
  // The program runs on its own: nothing is waited for or read back.
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return true;
}

int ProgramNotFoundError() {
  return ERROR_FILE_NOT_FOUND;
}

namespace {

// Whether the search CreateProcessA makes for a program name (the
// program's folder, the current one, the system folders, PATH; ".exe"
// added to a name without an extension) finds a file for `name`.
bool Searched(const char* name) {
  char found[MAX_PATH];
  DWORD length = SearchPathA(nullptr, name, ".exe", sizeof found, found, nullptr);
  if (length == 0 || length >= sizeof found) return false;
  DWORD attributes = GetFileAttributesA(found);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

bool ProgramFound(const char* execute) {
  // The program is the command line's first word: up to the closing quote
  // of a quoted one. An unquoted one with blanks is read at each blank in
  // turn ("C:\Program Files\x.exe" is first "C:\Program"), as
  // CreateProcessA reads it, so any reading that finds a file counts.
  const char* begin = execute;
  while (*begin == ' ' || *begin == '\t') ++begin;
  char word[MAX_PATH];
  if (*begin == '"') {
    const char* end = std::strchr(begin + 1, '"');
    std::size_t length =
        end != nullptr ? static_cast<std::size_t>(end - begin - 1) : std::strlen(begin + 1);
    if (length == 0 || length >= sizeof word) return false;
    std::memcpy(word, begin + 1, length);
    word[length] = '\0';
    return Searched(word);
  }
  for (const char* end = begin;; ++end) {
    if (*end != '\0' && *end != ' ' && *end != '\t') continue;
    std::size_t length = static_cast<std::size_t>(end - begin);
    if (length > 0 && length < sizeof word) {
      std::memcpy(word, begin, length);
      word[length] = '\0';
      if (Searched(word)) return true;
    }
    if (*end == '\0') return false;
  }
}

bool LeadsToFolder(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int ArgumentRefusal(const char* execute, const char* path) {
  // cmd.exe expands a defined %NAME% even inside quotes (Wine's also drops
  // a lone '%'), so the script would be handed another path: "x%.txt" as
  // "x.txt", a file that may exist. And the quotes around the path do not
  // always last: an EXECUTE such as cmd /c "C:\x.cmd" has cmd.exe strip the
  // line's first and last quote, which leaves the path bare, and a '&' in it
  // then starts whatever follows. Neither character can be escaped in a way
  // that holds for every form of EXECUTE.
  if (std::strpbrk(path, "%&") == nullptr || !ReadByInterpreter(execute)) return 0;
  return ERROR_INVALID_NAME;
}

}  // namespace os
}  // namespace wendrake
