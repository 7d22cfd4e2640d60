#include "watch/outcomes.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/thread_control.h"
#include "launch/launcher.h"
#include "log/log.h"
#include "watch/polling.h"
#include "watch/snapshot.h"

namespace wendrake {
namespace {

constexpr int kNameCapacity = 256;

enum class ProbeKind { kChange, kAddition };

const char* ProbeLabel(ProbeKind kind) {
  return kind == ProbeKind::kAddition ? "CheckNowAddUse" : "CheckNowUse";
}

bool Probe(ProbeKind kind, const ThreadControlEntry& entry, const char* name,
           unsigned char* probeRecord) {
  const int index = entry.index;
  const bool trace = HasFlag(entry, kFlagTrace);
  const char* label = ProbeLabel(kind);

  char path[kNameCapacity];
  int length = std::snprintf(path, sizeof path, "%s%c%s", entry.folder, os::kPathSeparator, name);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) {
    // A cut path would probe, and later start the program for, another
    // file; the file stays unreported instead, and says why.
    FillSnapshotRecord(probeRecord, name, 0, os::LocalTime{0, 0, 0, 0, 0, 0});
    LogF("(%02d)...      -s- %s(%s) Path too long.", index, label, name);
    return true;
  }

  os::ProbeInfo info;
  os::ProbeResult result = os::ProbeExclusive(path, &info);
  if (result == os::ProbeResult::kFree) {
    FillSnapshotRecord(probeRecord, name, info.sizeLow, info.lastWrite);
    // On a shared folder another machine's writer holds nothing open here:
    // a file is complete only once it has stopped changing.
    if (ChangedSinceLastListing(entry, probeRecord)) result = os::ProbeResult::kInUse;
  }
  if (result == os::ProbeResult::kFree) {
    if (trace) {
      LogF("(%02d)...      -s- %s(%s) non use.", index, label, name);
      if (kind == ProbeKind::kAddition) {
        LogF("(%02d)...      -s- CheckNowAddUse(Size:%d)", index,
             static_cast<int>(static_cast<std::int32_t>(info.sizeLow)));
        LogF("(%02d)...      -s- CheckNowAddUse(UDate:%s)", index,
             reinterpret_cast<const char*>(probeRecord + kDateOffset));
        LogF("(%02d)...      -s- CheckNowAddUse(UTime:%s)", index,
             reinterpret_cast<const char*>(probeRecord + kTimeOffset));
      }
    }
    return false;
  }

  FillSnapshotRecord(probeRecord, name, 0, os::LocalTime{0, 0, 0, 0, 0, 0});
  if (trace) {
    LogF("(%02d)...      -s- %s(%s) %s", index, label, name,
         result == os::ProbeResult::kInUse ? "Now used." : "non infomation.");
  }
  return true;
}

// The record's name without trailing blanks, NUL-terminated.
struct TrimmedName {
  explicit TrimmedName(const unsigned char* record) {
    std::memset(text, 0, sizeof text);
    CopyTrimmedName(text, record, kKeyLength);
  }
  char text[kNameCapacity];
};

void Launch(const ThreadControlEntry& entry, ChangeKind change, const unsigned char* record) {
  Command command;
  BuildCommand(entry, change, record, &command);
  LaunchCommand(entry, command);
}

// A probed file found free: its probe record goes to the merged snapshot,
// and the program is started for it when the entry's flag at `flag` is
// set. False: nothing is left pending.
bool HandOn(const ThreadControlEntry& entry, unsigned char* probe, SnapshotWriter* merged, int flag,
            ChangeKind change, const unsigned char* record) {
  WriteSnapshotRecord(merged, probe);
  if (HasFlag(entry, flag)) Launch(entry, change, record);
  return false;
}

// The size field's decimal value is 0 (an optional sign, then digits).
bool SizeFieldIsZero(const unsigned char* record) {
  return std::strtol(reinterpret_cast<const char*>(record + kSizeOffset), nullptr, 10) == 0;
}

}  // namespace

bool CheckNowUse(const ThreadControlEntry& entry, const char* name, unsigned char* probeRecord) {
  return Probe(ProbeKind::kChange, entry, name, probeRecord);
}

bool CheckNowAddUse(const ThreadControlEntry& entry, const char* name, unsigned char* probeRecord) {
  return Probe(ProbeKind::kAddition, entry, name, probeRecord);
}

bool ActionDelete(const ThreadControlEntry& entry, const unsigned char* oldRecord) {
  const int index = entry.index;
  TrimmedName name(oldRecord);
  LogF("(%02d)...      -s- Action(%s):Delete  (%s)", index, entry.actionFlags, name.text);
  if (HasFlag(entry, kFlagDelete)) Launch(entry, ChangeKind::kDelete, oldRecord);
  return false;
}

bool ActionAddition(const ThreadControlEntry& entry, const unsigned char* newRecord,
                    SnapshotWriter* merged) {
  const int index = entry.index;
  TrimmedName name(newRecord);
  unsigned char probe[kRecordLength];
  if (CheckNowAddUse(entry, name.text, probe)) {
    LogF("(%02d)...      -s- File addition. (%s) in use.", index, name.text);
    return true;
  }
  if (HasFlag(entry, kFlagTrace)) {
    LogF("(%02d)...      -s- Action(%s):Addition (%s)", index, entry.actionFlags, name.text);
  }
  return HandOn(entry, probe, merged, kFlagAdd, ChangeKind::kAddition, newRecord);
}

bool ActionNonChanged(const ThreadControlEntry& entry, const unsigned char* /*oldRecord*/,
                      const unsigned char* newRecord, SnapshotWriter* merged) {
  const int index = entry.index;
  if (HasFlag(entry, kFlagTrace)) {
    TrimmedName name(newRecord);
    LogF("(%02d)...      -s- Action (%s):NonChanged(%s)", index, entry.actionFlags, name.text);
  }
  unsigned char copy[kRecordLength];
  std::memcpy(copy, newRecord, kRecordLength);
  WriteSnapshotRecord(merged, copy);
  return false;
}

bool ActionChangeSize(const ThreadControlEntry& entry, const unsigned char* /*oldRecord*/,
                      const unsigned char* newRecord, SnapshotWriter* merged) {
  const int index = entry.index;
  TrimmedName name(newRecord);
  if (SizeFieldIsZero(newRecord)) {
    LogF("(%02d)...      -s- Action (%s):ChangeSize(zero)(%s)", index, entry.actionFlags,
         name.text);
    return true;
  }
  const bool trace = HasFlag(entry, kFlagTrace);
  unsigned char probe[kRecordLength];
  if (CheckNowUse(entry, name.text, probe)) {
    if (trace) {
      LogF("(%02d)...      -s- Action (%s):ChangeSize(Use)(%s)", index, entry.actionFlags,
           name.text);
    }
    unsigned char marked[kRecordLength];
    std::memcpy(marked, newRecord, kRecordLength);
    std::memcpy(marked + kSizeOffset, kInUseSizeMark, sizeof kInUseSizeMark);
    WriteSnapshotRecord(merged, marked);
    // Still being written: settled by a later scan, which must come even
    // if closing the file raises no notification.
    return true;
  }
  if (trace) {
    LogF("(%02d)...      -s- Action (%s):ChangeSize(---)(%s)", index, entry.actionFlags, name.text);
  }
  // A file whose size changed is handed on as an addition, never as "-U".
  return HandOn(entry, probe, merged, kFlagAdd, ChangeKind::kAddition, newRecord);
}

bool ActionChangeDate(const ThreadControlEntry& entry, const unsigned char* oldRecord,
                      const unsigned char* newRecord, SnapshotWriter* merged) {
  const int index = entry.index;
  TrimmedName name(newRecord);
  unsigned char probe[kRecordLength];
  if (CheckNowUse(entry, name.text, probe)) {
    LogF("(%02d)...      -s- Action (%s):Logical error(%s)", index, entry.actionFlags, name.text);
    // Setting a time through an open handle (touch, cp, editors) is the
    // common case here. The old record stays, so that the scan that finds
    // the file free meets the same change again and reports it once as
    // "-U"; left out, the file would come back as an addition ("-A"), and
    // an entry that asks for updates only would never hear of it.
    unsigned char kept[kRecordLength];
    std::memcpy(kept, oldRecord, kRecordLength);
    WriteSnapshotRecord(merged, kept);
    return true;
  }
  if (HasFlag(entry, kFlagTrace)) {
    LogF("(%02d)...      -s- Action (%s):ChangeDate(%s)", index, entry.actionFlags, name.text);
  }
  return HandOn(entry, probe, merged, kFlagUpdate, ChangeKind::kUpdate, oldRecord);
}

}  // namespace wendrake
