#include "config/thread_control.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "config/command_file.h"
#include "log/log.h"

namespace wendrake {

ThreadControlEntry threadControlTable[kMaxEntries];
std::int32_t entryCount = 0;

ThreadControlEntry& EntryAt(int index) {
  return threadControlTable[index - 1];
}

namespace {

// The flags' letters, each at its position in actionFlags.
constexpr char kFlagLetters[] = "AUDT";

}  // namespace

bool HasFlag(const ThreadControlEntry& entry, int position) {
  return entry.actionFlags[position] == kFlagLetters[position];
}

void ClearThreadControlTable() {
  WriteLog("-Start- Clear ThreadControlTable.");
  for (int i = 1; i <= kMaxEntries; ++i) {
    ThreadControlEntry& entry = EntryAt(i);
    entry.index = i;
    entry.threadHandle = os::kInvalidHandle;
    entry.changeHandle = os::kInvalidHandle;
    entry.mutexHandle = os::kInvalidHandle;
    entry.threadId = 0;
    std::memset(entry.mutexName, 0, sizeof entry.mutexName);
    std::memset(entry.folder, 0, sizeof entry.folder);
    std::memset(entry.execute, 0, sizeof entry.execute);
    std::memset(entry.current, 0, sizeof entry.current);
    std::memset(entry.argument, 0, sizeof entry.argument);
    std::memset(entry.actionFlags, 0, sizeof entry.actionFlags);
    std::memcpy(entry.actionFlags, "   ", 3);
    entry.resume = false;
    entry.resumeScan = false;
  }
}

namespace {

// Letters in either case, in any order and as often as they like; every
// other character is ignored.
void ParseActionFlags(const char* action, char (&flags)[8]) {
  std::memset(flags, 0, sizeof flags);
  std::memcpy(flags, "    ", 4);
  for (const char* p = action; *p != '\0'; ++p) {
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    const char* at = std::strchr(kFlagLetters, letter);
    if (letter != '\0' && at != nullptr) flags[at - kFlagLetters] = letter;
  }
}

void CopySetting(char (&field)[kSettingCapacity], const char* value) {
  std::snprintf(field, sizeof field, "%s", value);
}

#ifdef _WIN32
constexpr const char* kSeparators = "\\/";
#else
constexpr const char* kSeparators = "/";
#endif

bool IsSeparator(char c) {
  return c != '\0' && std::strchr(kSeparators, c) != nullptr;
}

// "C:x" on Windows: relative to the current folder of that drive, which
// only the system knows; kept as written.
bool IsDriveRelative(const char* folder) {
#ifdef _WIN32
  return folder[0] != '\0' && folder[1] == ':';
#else
  static_cast<void>(folder);
  return false;
#endif
}

// The folder as the entry keeps it, the path every start is handed under:
// a relative one is taken against the start directory, as the started
// program could not (its working directory is CURRENT); links and ".."
// are left for the system to follow at every use. No separator ends it
// but a root's, so that a path handed on never holds two in a row. False
// when that does not fit.
bool MakeEntryFolder(const char* folder, char (&out)[kSettingCapacity]) {
  int length = 0;
  if (folder[0] == '\0' || os::IsAbsolutePath(folder) || IsDriveRelative(folder) ||
      startDirectory[0] == '\0') {
    length = std::snprintf(out, sizeof out, "%s", folder);
  } else if (IsSeparator(folder[0])) {
    // Windows: from the root of the start directory's drive.
    length = std::snprintf(out, sizeof out, "%.2s%s", startDirectory, folder);
  } else {
    while (folder[0] == '.' && IsSeparator(folder[1])) folder += 2;
    length = std::snprintf(out, sizeof out, "%s%c%s", startDirectory, os::kPathSeparator, folder);
  }
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof out) return false;
  for (;;) {
    bool dotEnd = length >= 2 && out[length - 1] == '.' && IsSeparator(out[length - 2]);
    bool separatorEnd = length >= 2 && IsSeparator(out[length - 1]) &&
                        !(length == 3 && out[1] == ':');  // "C:\\" is a root
    if (!dotEnd && !separatorEnd) break;
    out[--length] = '\0';
  }
  return true;
}

// Whether two entries' folders are one: spelt alike, or, where both can be
// reached, the same folder by identity.
bool SameFolder(const char* a, const char* b) {
  if (std::strcmp(a, b) == 0) return true;
  os::FolderId first;
  os::FolderId second;
  return os::GetFolderId(a, &first) && os::GetFolderId(b, &second) && first == second;
}

}  // namespace

void AddTableEntry(const char* action, const char* folder, const char* execute, const char* current,
                   const char* argument) {
  char entryFolder[kSettingCapacity];
  if (!MakeEntryFolder(folder, entryFolder)) {
    LogF("(%02d)... Folder too long(%s) - bypassed.", entryCount + 1, folder);
    return;
  }
  for (int i = 1; i <= entryCount; ++i) {
    if (SameFolder(EntryAt(i).folder, entryFolder)) {
      LogF("(%02d)... Duplcate folder - bypassed.", entryCount);
      return;
    }
  }

  char flags[8];
  ParseActionFlags(action, flags);

  int number = entryCount + 1;
  if (number > kMaxEntries) {
    LogF("(%02d)... TCT over flow. max(%d)", number, kMaxEntries);
    return;
  }

  ThreadControlEntry& entry = EntryAt(number);
  entry.threadHandle = os::kInvalidHandle;
  entry.changeHandle = os::kInvalidHandle;
  entry.threadId = 0;
  entry.mutexHandle = os::kInvalidHandle;
  std::memcpy(entry.actionFlags, flags, sizeof flags);
  // A letter the flags leave alone, so that a command file that asks for
  // it means to an older program what it always meant.
  entry.resume = std::strpbrk(action, "Rr") != nullptr;
  entry.resumeScan = false;
  CopySetting(entry.execute, execute);
  CopySetting(entry.current, current);
  CopySetting(entry.argument, argument);
  CopySetting(entry.folder, entryFolder);
  // The number is 1 or 2; the narrow type tells the compiler the name fits.
  std::snprintf(entry.mutexName, sizeof entry.mutexName, "KSFF%02u",
                static_cast<unsigned>(static_cast<unsigned char>(number)));
  entryCount = number;

  LogF("(%02d)... AddTabel ACTION=(%s)", number, entry.actionFlags);
  LogF("(%02d)... AddTabel FOLDER=(%s)", number, entry.folder);
  LogF("(%02d)... AddTabel EXECUTE=(%s)", number, entry.execute);
  LogF("(%02d)... AddTabel ARGUMENT=(%s)", number, entry.argument);
  LogF("(%02d)... AddTabel CURRENT=(%s)", number, entry.current);
}

}  // namespace wendrake
