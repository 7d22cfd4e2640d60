#include "watch/polling.h"

#include <cstring>
#include <utility>

#include "config/thread_control.h"
#include "log/log.h"
#include "os/os.h"
#include "watch/snapshot.h"

namespace wendrake {
namespace {

// The last listing of a polled entry, just as its snapshot file held it.
// Kept in memory rather than on disk: between scans only the old snapshot
// exists, and it holds what was settled, not what was seen. Each entry's
// is used by its own watcher thread alone.
struct PolledEntry {
  bool polled;
  Listing last;
};

PolledEntry polledEntries[kMaxEntries];

PolledEntry& PolledEntryOf(const ThreadControlEntry& entry) {
  return polledEntries[entry.index - 1];
}

// The remembered record with the key of `record`, or nullptr.
const unsigned char* FindRecord(const Listing& listing, const unsigned char* record) {
  int low = 0;
  int high = listing.count;
  while (low < high) {
    int middle = low + (high - low) / 2;
    const unsigned char* at =
        listing.records.get() + static_cast<std::size_t>(middle) * kRecordLength;
    int order = CompareKeys(at, record);
    if (order == 0) return at;
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return nullptr;
}

}  // namespace

bool StartPolling(const ThreadControlEntry& entry) {
  PolledEntry& polled = PolledEntryOf(entry);
  polled.polled = os::FolderNeedsPolling(entry.folder);
  if (!polled.polled) return false;
  LogF(
      "(%02d)...      Polling(every %d s) -a shared file system: writes from other machines raise "
      "no notification.",
      entry.index, kPollIntervalMs / 1000);
  // The first listing is the one arming took, kept only in its file.
  SnapshotFileNames names = {};
  MakeSnapshotFileNames(entry, &names);
  int detail = 0;
  if (LoadOldSnapshot(names.oldName, &polled.last, &detail) != OldSnapshot::kSound) {
    polled.last = Listing{};
  }
  return true;
}

int PolledWaitLimit(int waitLimit) {
  if (waitLimit < 0 || waitLimit > kPollIntervalMs) return kPollIntervalMs;
  return waitLimit < kPolledRecheckMs ? kPolledRecheckMs : waitLimit;
}

bool ChangedSinceLastListing(const ThreadControlEntry& entry, const unsigned char* record) {
  const PolledEntry& polled = PolledEntryOf(entry);
  if (!polled.polled) return false;
  const unsigned char* seen = FindRecord(polled.last, record);
  // Size, date and time with the NULs between them.
  return seen == nullptr ||
         std::memcmp(seen + kSizeOffset, record + kSizeOffset, kCrOffset - kSizeOffset) != 0;
}

void RememberListing(const ThreadControlEntry& entry, Listing* listing) {
  PolledEntry& polled = PolledEntryOf(entry);
  if (polled.polled) polled.last = std::move(*listing);
}

}  // namespace wendrake
