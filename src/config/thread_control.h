// The ThreadControlTable (TCT): the system's one record of what it watches,
// room for two entries numbered 1 and 2. Filled on the main thread at
// start-up before any watcher exists; afterwards each watcher only reads
// its own entry, so nothing here is locked.
#ifndef WENDRAKE_CONFIG_THREAD_CONTROL_H_
#define WENDRAKE_CONFIG_THREAD_CONTROL_H_

#include <cstdint>

#include "os/os.h"

namespace wendrake {

constexpr int kMaxEntries = 2;
constexpr int kSettingCapacity = 256;  // folder, execute, current, argument
constexpr int kActionMaxLength = 15;   // the raw ACTION= value

// Positions in ThreadControlEntry::actionFlags.
constexpr int kFlagAdd = 0;     // 'A': "-A" for added and resized files
constexpr int kFlagUpdate = 1;  // 'U': "-U" for a new date or time at the same size
constexpr int kFlagDelete = 2;  // 'D': "-D" for deleted files
constexpr int kFlagTrace = 3;   // 'T': the detailed lines of each scan

struct ThreadControlEntry {
  std::int32_t index;       // 1 or 2, its place in the table
  os::Handle threadHandle;  // the watcher thread, kInvalidHandle while there is none
  os::Handle changeHandle;  // the folder's change notification
  std::uint32_t threadId;   // as thread creation reports it
  os::Handle mutexHandle;   // the named lock, open for the whole run
  char mutexName[8];        // "KSFF01": lock name and snapshot file stem
  char actionFlags[8];      // "AUDT", a blank where a flag is not set
  bool resume;              // R in ACTION=: told at start what changed while stopped
  bool resumeScan;          // the start kept the last run's snapshot: scan at once
  char folder[kSettingCapacity];
  char execute[kSettingCapacity];
  char current[kSettingCapacity];
  char argument[kSettingCapacity];
};

// The filled entries are 1 to entryCount. Addresses stay fixed for the run:
// each watcher thread is handed its entry by address.
extern ThreadControlEntry threadControlTable[kMaxEntries];
extern std::int32_t entryCount;

// Entry `index` (1-based).
ThreadControlEntry& EntryAt(int index);

// True when the entry's flag at `position` is set (kFlagAdd, ...).
bool HasFlag(const ThreadControlEntry& entry, int position);

// Empties both entries; logs "-Start- Clear ThreadControlTable.".
void ClearThreadControlTable();

// Adds one validated command-file record (values at most 255 bytes, action
// at most 15). A duplicate folder or a full table is only logged.
void AddTableEntry(const char* action, const char* folder, const char* execute, const char* current,
                   const char* argument);

}  // namespace wendrake

#endif  // WENDRAKE_CONFIG_THREAD_CONTROL_H_
