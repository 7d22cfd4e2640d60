#include "watch/polling.h"

#include <cstring>

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
struct LastListing {
  bool polled;
  int count;
  unsigned char records[static_cast<std::size_t>(kListingCapacity) * kRecordLength];
};

LastListing lastListings[kMaxEntries];

LastListing& ListingOf(const ThreadControlEntry& entry) {
  return lastListings[entry.index - 1];
}

// The remembered record with the key of `record`, or nullptr.
const unsigned char* FindRecord(const LastListing& listing, const unsigned char* record) {
  int low = 0;
  int high = listing.count;
  while (low < high) {
    int middle = low + (high - low) / 2;
    const unsigned char* at = listing.records + static_cast<std::size_t>(middle) * kRecordLength;
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
  LastListing& listing = ListingOf(entry);
  listing.polled = os::FolderNeedsPolling(entry.folder);
  if (!listing.polled) return false;
  LogF(
      "(%02d)...      Polling(every %d s) -a shared file system: writes from other machines raise "
      "no notification.",
      entry.index, kPollIntervalMs / 1000);
  SnapshotFileNames names = {};
  MakeSnapshotFileNames(entry, &names);
  RememberListing(entry, names.oldName);
  return true;
}

int PolledWaitLimit(int waitLimit) {
  if (waitLimit < 0 || waitLimit > kPollIntervalMs) return kPollIntervalMs;
  return waitLimit < kPolledRecheckMs ? kPolledRecheckMs : waitLimit;
}

bool ChangedSinceLastListing(const ThreadControlEntry& entry, const unsigned char* record) {
  const LastListing& listing = ListingOf(entry);
  if (!listing.polled) return false;
  const unsigned char* seen = FindRecord(listing, record);
  // Size, date and time with the NULs between them.
  return seen == nullptr ||
         std::memcmp(seen + kSizeOffset, record + kSizeOffset, kCrOffset - kSizeOffset) != 0;
}

void RememberListing(const ThreadControlEntry& entry, const char* snapshotFileName) {
  LastListing& listing = ListingOf(entry);
  if (!listing.polled) return;
  listing.count = 0;
  os::Handle file = os::FileOpen(snapshotFileName, os::kAccessRead,
                                 os::kShareRead | os::kShareWrite, os::kOpenExisting);
  // A listing that cannot be read is remembered as empty: every file found
  // added or changed then waits one more listing, and nothing is lost.
  if (file == os::kInvalidHandle) return;
  const std::size_t capacity = sizeof listing.records;
  std::size_t filled = 0;
  while (filled < capacity) {
    long got = os::FileRead(file, listing.records + filled, capacity - filled);
    if (got <= 0) break;
    filled += static_cast<std::size_t>(got);
  }
  os::FileClose(file);
  listing.count = static_cast<int>(filled / kRecordLength);
}

}  // namespace wendrake
