#include "config/thread_control.h"

#include <cctype>
#include <cstdio>
#include <cstring>

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

}  // namespace

void AddTableEntry(const char* action, const char* folder, const char* execute, const char* current,
                   const char* argument) {
  for (int i = 1; i <= entryCount; ++i) {
    if (std::strcmp(EntryAt(i).folder, folder) == 0) {
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
  CopySetting(entry.execute, execute);
  CopySetting(entry.current, current);
  CopySetting(entry.argument, argument);
  CopySetting(entry.folder, folder);
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
