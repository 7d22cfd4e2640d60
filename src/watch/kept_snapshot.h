// What an entry that asks for it (R in ACTION=) keeps across a restart.
// Every other entry starts from a fresh listing and reports nothing of what
// changed while the program was not running; such an entry starts from the
// old snapshot the last run left instead, so that its first scan reports
// every file added, changed or deleted meanwhile, as any scan reports them.
//
// The old snapshot on disk always holds what the last complete scan
// reported (a clean end completes the scan it stops). Beside it lies a
// small file naming the folder that snapshot describes, as written and by
// identity: a snapshot of another folder would report that folder's files
// as deleted and this one's as added.
#ifndef WENDRAKE_WATCH_KEPT_SNAPSHOT_H_
#define WENDRAKE_WATCH_KEPT_SNAPSHOT_H_

#include "config/thread_control.h"
#include "watch/snapshot.h"

namespace wendrake {

// "KSFF01K.txt": the folder that the entry's old snapshot describes.
void MakeKeptFolderName(const ThreadControlEntry& entry, char (&name)[kSnapshotNameCapacity]);

enum class Kept {
  kFits,         // the last run's snapshot of this folder, sound
  kNone,         // no snapshot or no folder file kept (a first run)
  kOtherFolder,  // kept for a folder written or found otherwise
  kUnreachable,  // the folder's identity cannot be read now
  kDamaged,      // the snapshot cannot be read or is not sound
};

// Whether the old snapshot that the last run left may be this run's first.
Kept CheckKeptSnapshot(const ThreadControlEntry& entry, const SnapshotFileNames& names);

// Logs what the start does about `kept`, once.
void LogKept(const ThreadControlEntry& entry, Kept kept);

// Notes the entry's folder beside its old snapshot. False when that could
// not be written (the next start then starts afresh).
bool NoteKeptFolder(const ThreadControlEntry& entry);

}  // namespace wendrake

#endif  // WENDRAKE_WATCH_KEPT_SNAPSHOT_H_
