#include "watch/watcher.h"

#include <cstdint>
#include <cstring>

#include "config/thread_control.h"
#include "log/log.h"
#include "os/os.h"
#include "watch/outcomes.h"
#include "watch/pending_files.h"
#include "watch/polling.h"
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
  char text[256];
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

bool HasInUseSizeMark(const unsigned char* record) {
  return std::memcmp(record + kSizeOffset, kInUseSizeMark, sizeof kInUseSizeMark) == 0;
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

// A file open for the length of its scope.
class OpenFile {
 public:
  explicit OpenFile(os::Handle file) : file_(file) {}
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() { os::FileClose(file_); }

  os::Handle get() const { return file_; }

 private:
  os::Handle file_;
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

// The balance-line pass over the two sorted snapshot files. Returns true
// when a handler left a file pending, and notes it in `left`.
bool MatchSnapshots(const ThreadControlEntry& entry, bool trace, SnapshotReader* oldFile,
                    SnapshotReader* newFile, SnapshotWriter* merged, PendingFiles* left) {
  const int index = entry.index;
  unsigned char oldRecord[kRecordLength];
  unsigned char newRecord[kRecordLength];
  std::memset(oldRecord, 0, sizeof oldRecord);
  std::memset(newRecord, 0, sizeof newRecord);
  int oldEnd = 0;
  int newEnd = 0;
  bool pending = false;
  ReadSnapshotRecord(oldFile, oldRecord, &oldEnd);
  ReadSnapshotRecord(newFile, newRecord, &newEnd);

  while (oldEnd == 0 || newEnd == 0) {
    // A stop ends the scan between two files, never in the middle of one.
    if (os::StopRequested()) return pending;
    if (trace) {
      TraceName oldName(oldRecord);
      TraceName newName(newRecord);
      LogF("(%02d)...      MatchingKey  OLD(%s) NEW(%s)", index, oldName.text, newName.text);
    }
    // A file at its end only drains the other: a damaged old snapshot may
    // hold a key at or above the high value, and comparing it with the end
    // mark would read neither file on, forever.
    int order = newEnd != 0 ? -1 : oldEnd != 0 ? 1 : CompareKeys(oldRecord, newRecord);
    if (order < 0) {
      pending |= ActionDelete(entry, oldRecord);
      ReadSnapshotRecord(oldFile, oldRecord, &oldEnd);
      continue;
    }
    if (order > 0) {
      pending |= Noted(ActionAddition(entry, newRecord, merged), newRecord, left);
      ReadSnapshotRecord(newFile, newRecord, &newEnd);
      continue;
    }
    // A record with the in-use size mark stands for a size change that was
    // never settled: the file was still being written. It is looked at
    // again even when its date and time have not moved since, or a file
    // whose writer stopped before that scan's listing would never be
    // handed on.
    if (!HasInUseSizeMark(oldRecord) && SameField(oldRecord, newRecord, kDateOffset, kDateLength) &&
        SameField(oldRecord, newRecord, kTimeOffset, kTimeLength)) {
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
    ReadSnapshotRecord(oldFile, oldRecord, &oldEnd);
    ReadSnapshotRecord(newFile, newRecord, &newEnd);
  }
  return pending;
}

// A wake that would find nothing to do, and so passes without a scan and
// without a line: in the start directory a wake by this system's own
// writes, and on a polled folder a timed wake that finds it as it was.
bool NothingToDo(bool ownFolder, bool polled, os::WaitResult woke, const char* oldSnapshot,
                 const char* folder) {
  bool worthALook = (ownFolder && woke == os::WaitResult::kSignalled) ||
                    (polled && woke == os::WaitResult::kTimeout);
  return worthALook && FolderMatchesSnapshot(oldSnapshot, folder);
}

os::Handle OpenSnapshot(const char* name, os::Disposition disposition) {
  return os::FileOpen(name, os::kAccessRead | os::kAccessWrite, os::kShareRead, disposition);
}

}  // namespace

bool ScanFolder(const ThreadControlEntry& entry, PendingFiles* left) {
  if (left != nullptr) left->count = 0;
  const int index = entry.index;
  const bool trace = HasFlag(entry, kFlagTrace);
  HeldLock lock;
  if (!Enq(entry, trace, &lock)) return false;

  SnapshotFileNames names = {};
  MakeSnapshotFileNames(entry, &names);
  Listing listing;  // kept for the next scan of a polled folder
  if (!PutFileNamesInDir(index, names.newName, entry.folder, &listing)) {
    // Matched, a listing that did not reach the disk would report every
    // file that is there as deleted. The old snapshot stays as it is, and
    // the scan is tried again after the wait limit, as for a file in use.
    DeleteFileIfFound(names.newName);
    Deq(entry, trace, &lock);
    return true;
  }
  if (trace) {
    LogF("(%02d)...      Scanning folder(%s)", index, entry.folder);
    LogF("(%02d)...              TemFile(%s)", index, names.newName);
  }

  bool pending = false;
  {
    OpenFile oldFile(OpenSnapshot(names.oldName, os::kOpenAlways));
    OpenFile newFile(OpenSnapshot(names.newName, os::kOpenAlways));
    // Cut after its records, below (not emptied on opening, for the reason
    // WriteSnapshotFile gives): what a failed rename left in it must not
    // reach the next scan, which needs exactly the records this scan writes.
    OpenFile merged(OpenSnapshot(names.mergedName, os::kOpenAlways));

    SnapshotReader oldReader;
    SnapshotReader newReader;
    SnapshotWriter mergedWriter;
    StartSnapshotReader(&oldReader, oldFile.get());
    StartSnapshotReader(&newReader, newFile.get());
    StartSnapshotWriter(&mergedWriter, merged.get());
    pending = MatchSnapshots(entry, trace, &oldReader, &newReader, &mergedWriter, left);
    FlushSnapshotWriter(&mergedWriter);
    os::FileSetEnd(merged.get());
    RememberListing(entry, &listing);
  }  // the three are closed before they trade names

  // Cut short, the scan leaves its files as they are (the next start throws
  // every snapshot file away anyway) and the lock goes without a line.
  if (os::StopRequested()) return false;

  RotateSnapshotFiles(names);
  Deq(entry, trace, &lock);
  if (left != nullptr) left->scannedMs = os::MonotonicMs();
  return pending;
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
  const bool ownFolder = HoldsOwnFiles(entry.folder);
  const bool polled = StartPolling(entry);
  SnapshotFileNames names = {};
  MakeSnapshotFileNames(entry, &names);

  PendingFiles left = {};  // by the last scan
  int waitLimit = -1;
  bool failing = false;  // the last wait or re-arm failed at once
  bool echo = false;     // the last wake found nothing to do
  for (;;) {
    if (!failing && !echo) {
      LogF("(%02d)...-Wait(Find...ChangeNotification) Folder(%s)", index, entry.folder);
    }
    // Without a notification (it could not be set up) the wait only ends
    // at the stop or, on a polled folder, at the timer.
    os::WaitResult woke =
        WaitForChange(entry.changeHandle, polled ? PolledWaitLimit(waitLimit) : waitLimit, left);
    if (woke == os::WaitResult::kStopped || os::StopRequested()) return;
    // Taken now: what runs before the line below (the DEQ lines) may set
    // another.
    int error = woke == os::WaitResult::kFailed ? os::LastError() : 0;

    bool pending = false;
    bool timedOut = woke == os::WaitResult::kTimeout;
    echo = NothingToDo(ownFolder, polled, woke, names.oldName, entry.folder);
    if (echo) {
      // Nothing to do, and nothing written.
    } else if (woke == os::WaitResult::kSignalled || timedOut) {
      pending = ScanFolder(entry, &left);
      if (os::StopRequested()) return;
    } else {
      HeldLock none;  // the wait failed: only the DEQ lines, as after a scan
      Deq(entry, trace, &none);
    }
    waitLimit = NextWaitLimit(waitLimit, timedOut, pending);

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
