#include "watch/watcher.h"

#include <cstdint>
#include <cstring>

#include "config/thread_control.h"
#include "log/log.h"
#include "os/os.h"
#include "watch/outcomes.h"
#include "watch/pending_files.h"
#include "watch/polling.h"
#include "watch/settling.h"
#include "watch/snapshot.h"

namespace wendrake {

namespace {

constexpr int kFirstPendingWaitMs = 1000;
constexpr int kLongestPendingWaitMs = 64000;
constexpr int kFailedWaitPauseMs = 1000;

// The name of a record for the trace: trimmed, or "-high-" for the end.
struct TraceName {
  explicit TraceName(const unsigned char* record) {
    std::memset(text, 0, sizeof text);
    if (record[0] == kHighValue) {
      std::memcpy(text, "-high-", 6);
    } else {
      CopyTrimmedName(text, record, kKeyLength);
    }
  }
  char text[kKeyLength];
};

const char* Field(const unsigned char* record, int offset) {
  return reinterpret_cast<const char*>(record + offset);
}

void TraceFileFields(int index, const char* label, const unsigned char* record) {
  TraceName name(record);
  // Bounded by the field lengths: an old snapshot damaged on disk may lack
  // the NULs behind them, and the last field ends just short of the record.
  LogF("(%02d)... ... ... %s FileName(%s) (Size:%.*s) (Date:%.*s) (Time:%.*s)", index, label,
       name.text, kSizeLength, Field(record, kSizeOffset), kDateLength, Field(record, kDateOffset),
       kTimeLength, Field(record, kTimeOffset));
}

bool SameField(const unsigned char* a, const unsigned char* b, int offset, int length) {
  // The field together with its NUL, byte for byte.
  return std::memcmp(a + offset, b + offset, length + 1) == 0;
}

bool HasMark(const unsigned char* record, const char* mark) {
  return std::memcmp(record + kSizeOffset, mark, kSizeLength) == 0;
}

// A lock this thread holds, or nothing: given back at the end of its scope,
// so that every way out of a scan gives it back alike.
class HeldLock {
 public:
  HeldLock() = default;
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  ~HeldLock() { Release(); }

  void Hold(os::Handle lock) { lock_ = lock; }
  void Release() {
    if (lock_ == os::kInvalidHandle) return;
    os::LockRelease(lock_);
    os::LockClose(lock_);
    lock_ = os::kInvalidHandle;
  }

 private:
  os::Handle lock_ = os::kInvalidHandle;
};

// ENQ: the entry's named lock, held across the whole scan so that another
// process holding it by name keeps the scan waiting. A lock that cannot be
// opened is logged, and the scan runs without it. False, with nothing held,
// when a stop was requested during the wait.
bool Enq(const ThreadControlEntry& entry, bool trace, HeldLock* held) {
  const int index = entry.index;
  if (trace) LogF("(%02d)...      -s- ENQ(%s) OpenMutex", index, entry.mutexName);
  os::Handle lock = os::LockOpen(entry.mutexName);
  if (lock == os::kInvalidHandle) {
    LogF("(%02d)...      -e- error(FALSE OpenMutex) -error. -error.", index);
  } else if (!os::LockAcquire(lock)) {
    os::LockClose(lock);
    return false;
  } else {
    held->Hold(lock);
  }
  if (trace) LogF("(%02d)...      -e- ENQ(ok)", index);
  return true;
}

// DEQ: gives the lock back, with its trace lines.
void Deq(const ThreadControlEntry& entry, bool trace, HeldLock* held) {
  if (trace) LogF("(%02d)...      -s- DEQ(%s) ReleaseMutex", entry.index, entry.mutexName);
  held->Release();
  if (trace) LogF("(%02d)...      -e- DEQ(ok)", entry.index);
}

// Notes the file of `record` in `left` when its handler left it pending.
bool Noted(bool pending, const unsigned char* record, PendingFiles* left) {
  if (pending) NotePendingFile(left, record);
  return pending;
}

// The balance-line pass over the two sorted snapshots. Returns true when
// a handler left a file pending, and notes the files it left in `left`.
bool MatchSnapshots(const ThreadControlEntry& entry, bool trace, const Listing& old,
                    const Listing& listed, SnapshotWriter* merged, PendingFiles* left) {
  const int index = entry.index;
  // The end of a snapshot as the trace shows it.
  unsigned char end[kRecordLength] = {};
  std::memset(end, kHighValue, kKeyLength - 1);
  bool pending = false;
  int o = 0;
  int n = 0;
  while (o < old.count || n < listed.count) {
    // A stop ends the scan between two files, never in the middle of one.
    // For an entry whose snapshot is kept across a restart, the files not
    // reached keep their old records: the snapshot left then holds just
    // what was reported, and the next start reports the rest.
    if (os::StopRequested()) {
      if (entry.resume) {
        for (; o < old.count; ++o) WriteSnapshotRecord(merged, RecordAt(old, o));
      }
      return pending;
    }
    const unsigned char* oldRecord = o < old.count ? RecordAt(old, o) : end;
    const unsigned char* newRecord = n < listed.count ? RecordAt(listed, n) : end;
    if (trace) {
      TraceName oldName(oldRecord);
      TraceName newName(newRecord);
      LogF("(%02d)...      MatchingKey  OLD(%s) NEW(%s)", index, oldName.text, newName.text);
    }
    // A snapshot at its end only drains the other: a name that fills its
    // field with 0xFF has the end's very key.
    int order = n == listed.count ? -1 : o == old.count ? 1 : CompareKeys(oldRecord, newRecord);
    if (order < 0) {
      pending |= ActionDelete(entry, oldRecord, merged);
      ++o;
      continue;
    }
    if (order > 0) {
      pending |= Noted(ActionAddition(entry, newRecord, merged), newRecord, left);
      ++n;
      continue;
    }
    if (HasMark(oldRecord, kEmptiedSizeMark)) {
      // Cut to zero when last seen, and still there: met as added.
      pending |= Noted(ActionAddition(entry, newRecord, merged), newRecord, left);
    } else if (!HasMark(oldRecord, kInUseSizeMark) &&
               SameField(oldRecord, newRecord, kDateOffset, kDateLength) &&
               SameField(oldRecord, newRecord, kTimeOffset, kTimeLength) &&
               SameField(oldRecord, newRecord, kSizeOffset, kSizeLength)) {
      // A record with the in-use size mark stands for a size change that
      // was never settled: the file was still being written. It is looked
      // at again even when its date and time have not moved since, or a
      // file whose writer stopped before that scan's listing would never
      // be handed on. The size counts with the same date and time too: the
      // time is kept to the second, and a file written twice within one
      // second would otherwise keep its first size for good.
      pending |= ActionNonChanged(entry, oldRecord, newRecord, merged);
    } else {
      if (trace) {
        TraceFileFields(index, "Old", oldRecord);
        TraceFileFields(index, "New", newRecord);
      }
      if (SameField(oldRecord, newRecord, kSizeOffset, kSizeLength)) {
        pending |= Noted(ActionChangeDate(entry, oldRecord, newRecord, merged), newRecord, left);
      } else {
        pending |= Noted(ActionChangeSize(entry, oldRecord, newRecord, merged), newRecord, left);
      }
    }
    ++o;
    ++n;
  }
  return pending;
}

// A wake that would find nothing to do, and so passes without a scan and
// without a line: in the start directory a wake by this system's own
// writes, and on a polled folder a timed wake that finds it as it was.
// A merged snapshot not yet written (a full disk) is compared in its
// stead: in the start directory a scan that cannot write it would
// otherwise wake the next for as long as the disk stays full. A polled
// folder's timed wake then scans, to write it.
bool NothingToDo(bool ownFolder, bool polled, os::WaitResult woke, const ScanMemory& memory,
                 const char* oldSnapshot, const char* folder) {
  bool worthALook = (ownFolder && woke == os::WaitResult::kSignalled) ||
                    (polled && woke == os::WaitResult::kTimeout && !memory.hasUnsaved);
  return worthALook &&
         FolderMatchesSnapshot(oldSnapshot, folder, memory.hasUnsaved ? &memory.unsaved : nullptr);
}

Listing CopyOf(const Listing& listing) {
  Listing copy = NewListing(listing.count);
  if (copy.capacity == 0) return copy;
  std::memcpy(copy.records.get(), listing.records.get(),
              static_cast<std::size_t>(listing.count) * kRecordLength);
  copy.count = listing.count;
  return copy;
}

// The old snapshot of this scan: the merged one a failed write left in
// memory, or the file. Missing or damaged, the folder as listed now is the
// baseline, as at start: matched, a damaged record would be reported as a
// deletion of a name no file has (the folder itself, for an empty one),
// and a missing file would report every file as added. False when it
// cannot be read: the scan is then tried again.
bool TakeOldSnapshot(const ThreadControlEntry& entry, const SnapshotFileNames& names,
                     ScanMemory* memory, Listing* old, bool* baseline) {
  const int index = entry.index;
  *baseline = false;
  if (memory->hasUnsaved) {
    *old = std::move(memory->unsaved);
    memory->hasUnsaved = false;
    return true;
  }
  int detail = 0;
  switch (LoadOldSnapshot(names.oldName, old, &detail)) {
    case OldSnapshot::kSound:
      memory->readFailure = 0;
      return true;
    case OldSnapshot::kMissing:
      LogF(
          "(%02d)... Old snapshot missing(%s) -the folder as listed now is the baseline; nothing "
          "reported.",
          index, names.oldName);
      break;
    case OldSnapshot::kDamaged:
      LogF(
          "(%02d)... Old snapshot damaged(%s) Record(%d) -the folder as listed now is the "
          "baseline; nothing reported.",
          index, names.oldName, detail);
      break;
    case OldSnapshot::kUnreadable:
      if (NewFailure(&memory->readFailure, detail)) {
        LogF("(%02d)... Old snapshot read error(%s) Error(%d) -tried again.", index, names.oldName,
             detail);
      }
      return false;
  }
  memory->readFailure = 0;
  *baseline = true;
  return true;
}

}  // namespace

bool ScanFolder(const ThreadControlEntry& entry, PendingFiles* left, ScanMemory* memory) {
  ScanMemory forgotten;  // a caller with no memory keeps nothing between scans
  if (memory == nullptr) memory = &forgotten;
  memory->matchingMs = 0;
  if (left != nullptr) left->count = 0;
  const int index = entry.index;
  const bool trace = HasFlag(entry, kFlagTrace);
  HeldLock lock;
  if (!Enq(entry, trace, &lock)) return false;

  SnapshotFileNames names = {};
  MakeSnapshotFileNames(entry, &names);
  Listing listing;  // kept for the next scan of a polled folder
  Listing old;
  bool baseline = false;
  if (!PutFileNamesInDir(index, names.newName, entry.folder, &listing, trace,
                         &memory->listingFailure) ||
      !TakeOldSnapshot(entry, names, memory, &old, &baseline)) {
    // A listing that does not stand for the folder (it could not be read,
    // or written whole) would report every file that is there as deleted.
    // The old snapshot stays as it is, and the scan is tried again after
    // the wait limit, as for a file in use.
    DeleteFileIfFound(names.newName);
    Deq(entry, trace, &lock);
    return true;
  }
  if (trace) {
    LogF("(%02d)...      Scanning folder(%s)", index, entry.folder);
    LogF("(%02d)...              TemFile(%s)", index, names.newName);
  }

  // The merged snapshot is made in memory, in room for every record the
  // matching can write, and reaches the disk in one write at the end.
  bool pending = false;
  Listing merged = baseline ? CopyOf(listing) : NewListing(old.count + listing.count);
  if (merged.capacity == 0) {
    Deq(entry, trace, &lock);
    return true;
  }
  if (!baseline) {
    SnapshotWriter writer{&merged};
    std::int64_t matching = os::MonotonicMs();
    BeginSettlingLook(entry);
    pending = MatchSnapshots(entry, trace, old, listing, &writer, left);
    memory->matchingMs = os::MonotonicMs() - matching;
  }
  RememberListing(entry, &listing);

  // Cut short, the scan leaves its files as they are (the next start throws
  // every snapshot file away anyway) and the lock goes without a line; the
  // one of an entry that keeps its snapshot is completed (MatchSnapshots).
  if (os::StopRequested() && !entry.resume) return false;

  // Not written whole, or not in the old one's place, the merged snapshot
  // stands for the old one in memory: what this scan started for is then
  // not started again, and the file is written by a later scan.
  int error = WriteSnapshotFile(names.mergedName, merged);
  if (error != 0 && NewFailure(&memory->writeFailure, error)) {
    LogF("(%02d)... Snapshot write error(%s) Error(%d) -kept in memory, tried again.", index,
         names.mergedName, error);
  }
  if (error != 0) MakeScanFilesReady(names);
  if (error != 0 || !RotateSnapshotFiles(names)) {
    memory->unsaved = std::move(merged);
    memory->hasUnsaved = true;
    pending = true;
  } else {
    memory->writeFailure = 0;
  }
  Deq(entry, trace, &lock);
  return pending;
}

bool FolderMissing(const char* folder) {
  os::FolderId id;
  return !os::GetFolderId(folder, &id) && os::FolderGone(os::LastError());
}

int NextWaitLimit(int lastLimit, bool timedOut, bool pending) {
  if (!pending) return -1;
  if (!timedOut || lastLimit <= 0) return kFirstPendingWaitMs;
  int next = lastLimit * 2;
  return next > kLongestPendingWaitMs ? kLongestPendingWaitMs : next;
}

void DirChangesThread(void* parameter) {
  const ThreadControlEntry& entry = *static_cast<const ThreadControlEntry*>(parameter);
  const int index = entry.index;
  const bool trace = HasFlag(entry, kFlagTrace);

  LogF("(%02d)... CreateThread - DirChanges started. --", index);
  LogF("(%02d)...      Action(%s)", index, entry.actionFlags);
  LogF("(%02d)...      Folder(%s)(%s)", index, entry.folder, entry.actionFlags);
  LogF("(%02d)...      Execute(%s)", index, entry.execute);
  LogF("(%02d)...      Argument(%s)", index, entry.argument);
  LogF("(%02d)...      Current(%s)", index, entry.current);

  // In the start directory every pass wakes the next one: its log lines
  // and snapshot files are written there, and no platform tells this
  // system's own writes from others' (Windows gives no names). Such a wake
  // that finds the other files just as the old snapshot has them is an
  // echo and passes without a scan and without a line, either of which
  // would wake the next; a change made meanwhile wakes the next wait. A
  // polled folder's timed wake that finds nothing new passes alike, so
  // that an idle share costs a listing every few seconds and no log line.
  bool missing = FolderMissing(entry.folder);
  bool ownFolder = HoldsOwnFiles(entry.folder);
  bool polled = StartPolling(entry);
  SnapshotFileNames names = {};
  MakeSnapshotFileNames(entry, &names);

  PendingFiles left = {};  // by the last scan
  ScanPace pace = {};
  ScanMemory memory;
  ForgetSettling(entry);
  int waitLimit = -1;    // for the files left pending, longer while they stay so
  bool failing = false;  // the last wait or re-arm failed at once
  bool echo = false;     // the last wake found nothing to do
  bool scanFirst = entry.resumeScan;
  for (;;) {
    if (!failing && !echo) {
      LogF("(%02d)...-Wait(Find...ChangeNotification) Folder(%s)", index, entry.folder);
    }
    // Without a notification (it could not be set up) the wait only ends
    // at the stop or, on a polled folder, at the timer.
    // Cut short while a file settles.
    int limit = waitLimit;
    int settleMs = SettleWaitMs(entry, os::MonotonicMs());
    bool settleWaited = settleMs >= 0 && (limit < 0 || settleMs < limit);
    if (settleWaited) limit = settleMs;
    // The start kept the last run's snapshot: what changed meanwhile is
    // reported at once, before the watch takes over.
    os::WaitResult woke = scanFirst
                              ? os::WaitResult::kSignalled
                              : WaitForChange(entry.changeHandle,
                                              polled ? PolledWaitLimit(limit) : limit, left, &pace);
    scanFirst = false;
    if (woke == os::WaitResult::kStopped || os::StopRequested()) return;
    if (missing && !FolderMissing(entry.folder)) {
      // Not there at start, and watched from now on: what it holds is news.
      missing = false;
      LogF("(%02d)...      Folder found(%s) -watched from now on.", index, entry.folder);
      ownFolder = HoldsOwnFiles(entry.folder);
      polled = StartPolling(entry);
    }
    // Taken now: what runs before the line below (the DEQ lines) may set
    // another.
    int error = woke == os::WaitResult::kFailed ? os::LastError() : 0;

    bool pending = false;
    bool timedOut = woke == os::WaitResult::kTimeout;
    bool listed = woke == os::WaitResult::kSignalled || timedOut;
    if (listed) NoteScanStart(&pace, os::MonotonicMs());
    echo = NothingToDo(ownFolder, polled, woke, memory, names.oldName, entry.folder);
    if (echo) {
      // Nothing to do, and nothing written.
    } else if (listed) {
      pending = ScanFolder(entry, &left, &memory);
      if (os::StopRequested()) return;
    } else {
      HeldLock none;  // the wait failed: only the DEQ lines, as after a scan
      Deq(entry, trace, &none);
    }
    if (listed) NoteScanEnd(&pace, os::MonotonicMs(), echo ? 0 : memory.matchingMs);
    // A settling file's wait ending is no sign that the pending ones are
    // stuck: theirs starts again from its first length.
    waitLimit = NextWaitLimit(waitLimit, timedOut && !settleWaited, pending);

    bool rearmed = os::ChangeWatchRearm(entry.changeHandle);
    if (!rearmed && error == 0) error = os::LastError();
    if (woke == os::WaitResult::kFailed || !rearmed) {
      // A wait that fails at once would fail again at once: pause instead
      // of spinning, and say so once rather than every second.
      if (!failing) {
        LogF("(%02d)...      -e- error(Wait ChangeNotification) Code(%d) -retry every second.",
             index, error);
      }
      failing = true;
      os::PauseFor(kFailedWaitPauseMs);
    } else {
      failing = false;
    }
  }
}

}  // namespace wendrake
