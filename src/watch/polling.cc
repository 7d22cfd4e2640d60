#include "watch/polling.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "config/thread_control.h"
#include "log/log.h"
#include "os/os.h"
#include "watch/snapshot.h"

namespace wendrake {
namespace {

// The last listing of a polled entry, just as its snapshot file held it,
// and when each record's size, date and time were first seen. Kept in
// memory rather than on disk: between scans only the old snapshot exists,
// and it holds what was settled, not what was seen. Each entry's is used
// by its own watcher thread alone.
struct PolledEntry {
  bool polled;
  bool outside;  // files its probes cannot tell about are judged so too
  Listing last;
  std::unique_ptr<std::int64_t[]> firstSeenMs;  // one for each record of `last`
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

bool SameFigures(const unsigned char* a, const unsigned char* b) {
  // Size, date and time with the NULs between them.
  return std::memcmp(a + kSizeOffset, b + kSizeOffset, kCrOffset - kSizeOffset) == 0;
}

// Keeps `listing` as the last one, each record first seen when its figures
// were, or now.
void Remember(PolledEntry* polled, Listing* listing) {
  const std::int64_t now = os::MonotonicMs();
  std::unique_ptr<std::int64_t[]> firstSeen(new (std::nothrow) std::int64_t[listing->count + 1]);
  if (firstSeen == nullptr) return;  // the old listing stays: files only wait longer
  for (int i = 0; i < listing->count; ++i) {
    const unsigned char* record = RecordAt(*listing, i);
    const unsigned char* seen = FindRecord(polled->last, record);
    firstSeen[i] = seen != nullptr && SameFigures(seen, record)
                       ? polled->firstSeenMs[(seen - polled->last.records.get()) / kRecordLength]
                       : now;
  }
  polled->last = std::move(*listing);
  polled->firstSeenMs = std::move(firstSeen);
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
  Listing first;
  if (LoadOldSnapshot(names.oldName, &first, &detail) == OldSnapshot::kSound) {
    Remember(&polled, &first);
  }
  return true;
}

int PolledWaitLimit(int waitLimit) {
  if (waitLimit < 0 || waitLimit > kPollIntervalMs) return kPollIntervalMs;
  return waitLimit < kPolledRecheckMs ? kPolledRecheckMs : waitLimit;
}

bool ChangedSinceLastListing(const ThreadControlEntry& entry, const unsigned char* record,
                             bool holdersUnseen) {
  PolledEntry& polled = PolledEntryOf(entry);
  if (holdersUnseen && !polled.outside) {
    // From now on this folder's listings are kept: the first file judged
    // so waits for the next one.
    polled.outside = true;
    LogF(
        "(%02d)...      Probe(outside) -files of another user: complete once unchanged for %.1f s.",
        entry.index, kPolledRecheckMs / 1000.0);
  }
  if (!polled.polled && !holdersUnseen) return false;
  const unsigned char* seen = FindRecord(polled.last, record);
  if (seen == nullptr || !SameFigures(seen, record)) return true;
  // Two looks close together (a local write wakes a scan at once) can meet
  // the same figures between two writes.
  std::int64_t firstSeen = polled.firstSeenMs[(seen - polled.last.records.get()) / kRecordLength];
  return os::MonotonicMs() - firstSeen < kPolledRecheckMs;
}

void RememberListing(const ThreadControlEntry& entry, Listing* listing) {
  PolledEntry& polled = PolledEntryOf(entry);
  if (polled.polled || polled.outside) Remember(&polled, listing);
}

}  // namespace wendrake
