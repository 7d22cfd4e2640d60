#include "watch/outcomes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/thread_control.h"
#include "launch/launcher.h"
#include "log/log.h"
#include "watch/polling.h"
#include "watch/settling.h"
#include "watch/snapshot.h"

namespace wendrake {
namespace {

// The full path of the entry's file `name`. False when the system could
// not open a path that long (Windows: MAX_PATH bytes or more): a cut one
// would name another file, so it is never made.
bool MakeFilePath(const ThreadControlEntry& entry, const char* name,
                  char (&path)[kFullPathCapacity]) {
  int length = std::snprintf(path, sizeof path, "%s%c%s", entry.folder, os::kPathSeparator, name);
  return length >= 0 && static_cast<std::size_t>(length) < sizeof path &&
         static_cast<std::size_t>(length) <= os::kLongestPath;
}

enum class ProbeKind { kChange, kAddition };

const char* ProbeLabel(ProbeKind kind) {
  return kind == ProbeKind::kAddition ? "CheckNowAddUse" : "CheckNowUse";
}

os::ProbeResult Probe(ProbeKind kind, const ThreadControlEntry& entry, const char* name,
                      unsigned char* probeRecord) {
  const int index = entry.index;
  const bool trace = HasFlag(entry, kFlagTrace);
  const char* label = ProbeLabel(kind);

  char path[kFullPathCapacity];
  if (!MakeFilePath(entry, name, path)) {
    // Only Windows meets this: the ANSI calls open no path of MAX_PATH
    // bytes or more, and a cut path would probe, and later start the
    // program for, another file. The file stays unreported, and says why.
    FillSnapshotRecord(probeRecord, name, 0, os::LocalTime{0, 0, 0, 0, 0, 0});
    LogF("(%02d)...      -s- %s(%s) Path too long.", index, label, name);
    return os::ProbeResult::kInUse;
  }

  os::ProbeInfo info;
  os::ProbeResult result = os::ProbeExclusive(path, &info);
  bool stillChanging = false;
  if (result == os::ProbeResult::kFree || result == os::ProbeResult::kCannotTell) {
    FillSnapshotRecord(probeRecord, name, info.size, info.lastWrite);
    // On a shared folder another machine's writer holds nothing open here,
    // and another user's is hidden from the probe: a file is complete only
    // once it has stopped changing.
    bool unseen = result == os::ProbeResult::kCannotTell;
    stillChanging = ChangedSinceLastListing(entry, probeRecord, unseen);
    result = stillChanging ? os::ProbeResult::kInUse : os::ProbeResult::kFree;
  }
  if (result == os::ProbeResult::kFree && StillSettling(entry, name, os::MonotonicMs())) {
    if (trace) LogF("(%02d)...      -s- %s(%s) closed just now: settling.", index, label, name);
    FillSnapshotRecord(probeRecord, name, 0, os::LocalTime{0, 0, 0, 0, 0, 0});
    return os::ProbeResult::kInUse;
  }
  if (result == os::ProbeResult::kFree) {
    if (trace) {
      LogF("(%02d)...      -s- %s(%s) non use.", index, label, name);
      if (kind == ProbeKind::kAddition) {
        LogF("(%02d)...      -s- CheckNowAddUse(Size:%lld)", index,
             static_cast<long long>(std::min(info.size, kLargestRecordedSize)));
        LogF("(%02d)...      -s- CheckNowAddUse(UDate:%s)", index,
             reinterpret_cast<const char*>(probeRecord + kDateOffset));
        LogF("(%02d)...      -s- CheckNowAddUse(UTime:%s)", index,
             reinterpret_cast<const char*>(probeRecord + kTimeOffset));
      }
    }
    return result;
  }

  FillSnapshotRecord(probeRecord, name, 0, os::LocalTime{0, 0, 0, 0, 0, 0});
  // A file judged by its listings settles there: it is handed on only
  // once it has stayed unchanged far longer than a settling file waits.
  if (result != os::ProbeResult::kGone && !stillChanging) NoteUnsettled(entry, name);
  if (trace) {
    LogF("(%02d)...      -s- %s(%s) %s", index, label, name,
         result == os::ProbeResult::kInUse  ? "Now used."
         : result == os::ProbeResult::kGone ? "gone."
                                            : "non infomation.");
  }
  return result;
}

// The record's name without trailing blanks, NUL-terminated.
struct TrimmedName {
  explicit TrimmedName(const unsigned char* record) {
    std::memset(text, 0, sizeof text);
    CopyTrimmedName(text, record, kKeyLength);
  }
  char text[kKeyLength];
};

// The outcomes, as the matching sorts files into them. A file whose size
// field was cut to zero is its own outcome: it is not probed.
enum Outcome { kDelete, kAddition, kNonChanged, kChangeSize, kEmptied, kChangeDate, kOutcomes };

// What a handler found the file to be: by its probe (added and changed
// files), by a look at its name (files the listing did not find). A file
// whose probe could not tell counts as unknown, one gone meanwhile as gone.
enum Found { kFree, kInUse, kUnknown, kGone, kFoundKinds };

// What the merged snapshot, the next scan's old one, keeps of the file.
enum class Keep {
  kNothing,     // not known: met as added if it is there next time
  kProbe,       // as the probe found it, settled
  kNew,         // as listed
  kNewInUse,    // as listed, with the in-use size mark: met as resized
  kNewEmptied,  // as listed, with the emptied mark: met as added, or deleted
  kOld,         // as the old snapshot had it: the same change is met again
};

struct Rule {
  Keep keep;
  int flag;      // the action letter whose start it makes (kFlagAdd...), or -1
  bool pending;  // look again soon, even if the folder signals nothing more
};

// Every outcome's rules in one place; the README's outcome table mirrors
// it. Three rules hold throughout: a file is started for with "-D" only
// once it is known to be gone, never while it is there or unknown; a file
// is started for with "-A" or "-U" only when a probe found it whole; and a
// file that was once reported keeps a record until its deletion is
// reported, so that a later deletion is never lost. A file found in no
// state that settles it stays pending.
constexpr Rule kRules[kOutcomes][kFoundKinds] = {
    // free (for Delete: there)       in use                        unknown gone
    {{Keep::kOld, -1, false},
     {Keep::kOld, -1, false},
     {Keep::kOld, -1, true},
     {Keep::kNothing, kFlagDelete, false}},
    {{Keep::kProbe, kFlagAdd, false},
     {Keep::kNothing, -1, true},
     {Keep::kNothing, -1, true},
     {Keep::kNothing, -1, false}},
    {{Keep::kNew, -1, false},
     {Keep::kNew, -1, false},
     {Keep::kNew, -1, false},
     {Keep::kNew, -1, false}},
    {{Keep::kProbe, kFlagAdd, false},
     {Keep::kNewInUse, -1, true},
     {Keep::kNewInUse, -1, true},
     {Keep::kOld, -1, true}},
    {{Keep::kNewEmptied, -1, true},
     {Keep::kNewEmptied, -1, true},
     {Keep::kNewEmptied, -1, true},
     {Keep::kNewEmptied, -1, true}},
    {{Keep::kProbe, kFlagUpdate, false},
     {Keep::kOld, -1, true},
     {Keep::kOld, -1, true},
     {Keep::kOld, -1, true}},
};

Found FoundOf(os::ProbeResult result) {
  switch (result) {
    case os::ProbeResult::kFree:
      return kFree;
    case os::ProbeResult::kInUse:
      return kInUse;
    case os::ProbeResult::kGone:
      return kGone;
    case os::ProbeResult::kNoInformation:
    case os::ProbeResult::kCannotTell:  // judged by the probe, never left so
      break;
  }
  return kUnknown;
}

// The file's records as the handler has them: the old snapshot's, the
// listing's and the probe's, each null where there is none.
struct Records {
  const unsigned char* oldRecord;
  const unsigned char* newRecord;
  const unsigned char* probe;
};

void WriteMarked(SnapshotWriter* merged, const unsigned char* record, const char* mark) {
  if (record == nullptr) return;  // no rule keeps a record the outcome has not got
  unsigned char copy[kRecordLength];
  std::memcpy(copy, record, kRecordLength);
  if (mark != nullptr) std::memcpy(copy + kSizeOffset, mark, kSizeLength);
  WriteSnapshotRecord(merged, copy);
}

// Does what the rule of `outcome` for a file found so says: the record for
// the merged snapshot first, then the start. True when the file is left
// pending.
bool Apply(const ThreadControlEntry& entry, Outcome outcome, Found found, const Records& records,
           SnapshotWriter* merged) {
  const Rule& rule = kRules[outcome][found];
  switch (rule.keep) {
    case Keep::kNothing:
      break;
    case Keep::kProbe:
      WriteMarked(merged, records.probe, nullptr);
      break;
    case Keep::kNew:
      WriteMarked(merged, records.newRecord, nullptr);
      break;
    case Keep::kNewInUse:
      WriteMarked(merged, records.newRecord, kInUseSizeMark);
      break;
    case Keep::kNewEmptied:
      WriteMarked(merged, records.newRecord, kEmptiedSizeMark);
      break;
    case Keep::kOld:
      WriteMarked(merged, records.oldRecord, nullptr);
      break;
  }
  if (rule.flag >= 0 && HasFlag(entry, rule.flag)) {
    // The name is the same in both records; an update is built from the
    // old one, a deletion can only be.
    const unsigned char* named =
        outcome == kDelete || outcome == kChangeDate ? records.oldRecord : records.newRecord;
    ChangeKind change = rule.flag == kFlagDelete   ? ChangeKind::kDelete
                        : rule.flag == kFlagUpdate ? ChangeKind::kUpdate
                                                   : ChangeKind::kAddition;
    Command command;
    BuildCommand(entry, change, named, &command);
    LaunchCommand(entry, command);
  }
  return rule.pending;
}

// The size field's decimal value is 0 (an optional sign, then digits).
bool SizeFieldIsZero(const unsigned char* record) {
  return std::strtol(reinterpret_cast<const char*>(record + kSizeOffset), nullptr, 10) == 0;
}

// Whether a file the listing did not find is really gone. A path the
// system cannot open (Windows, MAX_PATH bytes or more) cannot tell.
Found LookForFile(const ThreadControlEntry& entry, const char* name, int* error) {
  char path[kFullPathCapacity];
  if (!MakeFilePath(entry, name, path)) {
    *error = os::PathTooLongError();
    return kUnknown;
  }
  switch (os::CheckFileState(path)) {
    case os::FileState::kPresent:
      return kFree;
    case os::FileState::kAbsent:
      return kGone;
    case os::FileState::kUnknown:
      break;
  }
  *error = os::LastError();
  return kUnknown;
}

}  // namespace

bool CheckNowUse(const ThreadControlEntry& entry, const char* name, unsigned char* probeRecord) {
  return Probe(ProbeKind::kChange, entry, name, probeRecord) != os::ProbeResult::kFree;
}

bool CheckNowAddUse(const ThreadControlEntry& entry, const char* name, unsigned char* probeRecord) {
  return Probe(ProbeKind::kAddition, entry, name, probeRecord) != os::ProbeResult::kFree;
}

bool ActionDelete(const ThreadControlEntry& entry, const unsigned char* oldRecord,
                  SnapshotWriter* merged) {
  const int index = entry.index;
  TrimmedName name(oldRecord);
  // The listing can miss a file that is there: one past the 3000th, or
  // one made again since. Only a file that is gone is reported gone.
  int error = 0;
  Found found = LookForFile(entry, name.text, &error);
  if (found == kGone) {
    LogF("(%02d)...      -s- Action(%s):Delete  (%s)", index, entry.actionFlags, name.text);
  } else if (found == kUnknown) {
    LogF("(%02d)...      -s- Action(%s):Delete  (%s) not confirmed. Error(%d)", index,
         entry.actionFlags, name.text, error);
  } else if (HasFlag(entry, kFlagTrace)) {
    LogF("(%02d)...      -s- Action(%s):NotListed(%s) still there.", index, entry.actionFlags,
         name.text);
  }
  return Apply(entry, kDelete, found, Records{oldRecord, nullptr, nullptr}, merged);
}

bool ActionAddition(const ThreadControlEntry& entry, const unsigned char* newRecord,
                    SnapshotWriter* merged) {
  const int index = entry.index;
  TrimmedName name(newRecord);
  unsigned char probe[kRecordLength];
  Found found = FoundOf(Probe(ProbeKind::kAddition, entry, name.text, probe));
  if (found == kInUse || found == kUnknown) {
    LogF("(%02d)...      -s- File addition. (%s) in use.", index, name.text);
  } else if (found == kFree && HasFlag(entry, kFlagTrace)) {
    LogF("(%02d)...      -s- Action(%s):Addition (%s)", index, entry.actionFlags, name.text);
  }
  return Apply(entry, kAddition, found, Records{nullptr, newRecord, probe}, merged);
}

bool ActionNonChanged(const ThreadControlEntry& entry, const unsigned char* /*oldRecord*/,
                      const unsigned char* newRecord, SnapshotWriter* merged) {
  if (HasFlag(entry, kFlagTrace)) {
    TrimmedName name(newRecord);
    LogF("(%02d)...      -s- Action (%s):NonChanged(%s)", entry.index, entry.actionFlags,
         name.text);
  }
  return Apply(entry, kNonChanged, kFree, Records{nullptr, newRecord, nullptr}, merged);
}

bool ActionChangeSize(const ThreadControlEntry& entry, const unsigned char* oldRecord,
                      const unsigned char* newRecord, SnapshotWriter* merged) {
  const int index = entry.index;
  TrimmedName name(newRecord);
  if (SizeFieldIsZero(newRecord)) {
    LogF("(%02d)...      -s- Action (%s):ChangeSize(zero)(%s)", index, entry.actionFlags,
         name.text);
    return Apply(entry, kEmptied, kFree, Records{oldRecord, newRecord, nullptr}, merged);
  }
  unsigned char probe[kRecordLength];
  Found found = FoundOf(Probe(ProbeKind::kChange, entry, name.text, probe));
  if (HasFlag(entry, kFlagTrace) && found != kGone) {
    LogF("(%02d)...      -s- Action (%s):ChangeSize(%s)(%s)", index, entry.actionFlags,
         found == kFree ? "---" : "Use", name.text);
  }
  // A file whose size changed is handed on as an addition, never as "-U".
  return Apply(entry, kChangeSize, found, Records{oldRecord, newRecord, probe}, merged);
}

bool ActionChangeDate(const ThreadControlEntry& entry, const unsigned char* oldRecord,
                      const unsigned char* newRecord, SnapshotWriter* merged) {
  const int index = entry.index;
  TrimmedName name(newRecord);
  unsigned char probe[kRecordLength];
  Found found = FoundOf(Probe(ProbeKind::kChange, entry, name.text, probe));
  if (found == kInUse || found == kUnknown) {
    // Setting a time through an open handle (touch, cp, editors) is the
    // common case here. The old record stays, so that the scan that finds
    // the file free meets the same change again and reports it once as
    // "-U"; left out, the file would come back as an addition ("-A"), and
    // an entry that asks for updates only would never hear of it.
    LogF("(%02d)...      -s- Action (%s):Logical error(%s)", index, entry.actionFlags, name.text);
  } else if (found == kFree && HasFlag(entry, kFlagTrace)) {
    LogF("(%02d)...      -s- Action (%s):ChangeDate(%s)", index, entry.actionFlags, name.text);
  }
  return Apply(entry, kChangeDate, found, Records{oldRecord, newRecord, probe}, merged);
}

}  // namespace wendrake
