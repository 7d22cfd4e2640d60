#include "watch/settling.h"

#include <algorithm>
#include <cstring>

#include "record/snapshot_record.h"

namespace wendrake {
namespace {

// The files one look found unfinished or settling. A file past the
// capacity is not noted and is handed on as soon as it is found free, as
// any file met free at its first look.
struct Look {
  static constexpr int kCapacity = 64;
  int count;
  char names[kCapacity][kKeyLength];
  std::int64_t freeSinceMs[kCapacity];  // 0: in use
};

// The last look and the one being taken, for each entry; each entry's are
// used by its own watcher thread alone.
struct Settling {
  Look last;
  Look current;
};

Settling settlingEntries[kMaxEntries];

Settling& SettlingOf(const ThreadControlEntry& entry) {
  return settlingEntries[entry.index - 1];
}

const std::int64_t* FindFreeSince(const Look& look, const char* name) {
  for (int i = 0; i < look.count; ++i) {
    if (std::strcmp(look.names[i], name) == 0) return &look.freeSinceMs[i];
  }
  return nullptr;
}

void Note(Look* look, const char* name, std::int64_t freeSinceMs) {
  if (look->count == Look::kCapacity || FindFreeSince(*look, name) != nullptr) return;
  char* noted = look->names[look->count];
  std::strncpy(noted, name, kKeyLength - 1);
  noted[kKeyLength - 1] = '\0';
  look->freeSinceMs[look->count++] = freeSinceMs;
}

}  // namespace

void BeginSettlingLook(const ThreadControlEntry& entry) {
  Settling& settling = SettlingOf(entry);
  settling.last = settling.current;
  settling.current.count = 0;
}

void NoteUnsettled(const ThreadControlEntry& entry, const char* name) {
  Note(&SettlingOf(entry).current, name, 0);
}

bool StillSettling(const ThreadControlEntry& entry, const char* name, std::int64_t nowMs) {
  Settling& settling = SettlingOf(entry);
  const std::int64_t* freeSince = FindFreeSince(settling.last, name);
  if (freeSince == nullptr) return false;
  // Clocks start near zero on some systems: a file found free at 0 counts
  // from 1.
  std::int64_t since = *freeSince != 0 ? *freeSince : std::max<std::int64_t>(nowMs, 1);
  if (nowMs - since >= kSettleMs) return false;
  Note(&settling.current, name, since);
  return true;
}

int SettleWaitMs(const ThreadControlEntry& entry, std::int64_t nowMs) {
  const Look& look = SettlingOf(entry).current;
  int wait = -1;
  for (int i = 0; i < look.count; ++i) {
    if (look.freeSinceMs[i] == 0) continue;
    int left = static_cast<int>(std::max<std::int64_t>(0, look.freeSinceMs[i] + kSettleMs - nowMs));
    wait = wait < 0 ? left : std::min(wait, left);
  }
  return wait;
}

void ForgetSettling(const ThreadControlEntry& entry) {
  SettlingOf(entry) = Settling{};
}

}  // namespace wendrake
