// The watcher thread of one entry: it sleeps on the folder's change
// notification and, each time it wakes, takes the entry's lock, lists the
// folder into a fresh snapshot, matches the previous snapshot against it in
// one sequential pass and hands every file to its outcome.
#ifndef WENDRAKE_WATCH_WATCHER_H_
#define WENDRAKE_WATCH_WATCHER_H_

#include <cstdint>

#include "config/thread_control.h"
#include "watch/snapshot.h"

namespace wendrake {

// The thread procedure. `parameter` is the entry (a ThreadControlEntry of
// the table, whose address stays fixed for the run). Returns only when a stop has been
// requested (os::RequestStop); on Windows shutdown ends it by force.
void DirChangesThread(void* parameter);

struct PendingFiles;  // watch/pending_files.h

// What a watcher carries from one scan to the next, besides the files left
// pending: a merged snapshot that could not be written (a full disk), which
// then stands for the old one, so that what that scan reported is not
// reported again; and the failures already logged, so that a failure that
// lasts is logged once. And how long the last scan spent matching (the
// probes and starts of what it found): the pace of scans leaves that out.
struct ScanMemory {
  Listing unsaved;
  bool hasUnsaved = false;
  int listingFailure = 0;
  int readFailure = 0;
  int writeFailure = 0;
  std::int64_t matchingMs = 0;
};

// One scan of `entry`, from taking its lock to giving it back.
// Returns true when a file was left out of the new snapshot while still in
// the folder (see outcomes.h), or the scan could not be made or kept (the
// folder could not be listed whole, a snapshot could not be read or
// written), so the caller should scan again soon. A scan that cannot be
// made changes nothing. `left`, when given, gets the names of the files
// left pending; `memory` is the watcher's.
bool ScanFolder(const ThreadControlEntry& entry, PendingFiles* left = nullptr,
                ScanMemory* memory = nullptr);

// True when `folder` is not there (nothing at its path, or a file), as
// opposed to there or unreachable for another reason.
bool FolderMissing(const char* folder);

// How long the next wait may last, in milliseconds (negative: no limit),
// given the last limit, whether the last wait ended by its time limit, and
// whether the last scan left files pending. About a second after a scan a
// notification woke, doubling while it keeps running out, up to a minute.
int NextWaitLimit(int lastLimit, bool timedOut, bool pending);

}  // namespace wendrake

#endif  // WENDRAKE_WATCH_WATCHER_H_
