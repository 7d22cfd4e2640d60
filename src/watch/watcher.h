// The watcher thread of one entry: it sleeps on the folder's change
// notification and, each time it wakes, takes the entry's lock, lists the
// folder into a fresh snapshot, matches the previous snapshot against it in
// one sequential pass and hands every file to its outcome.
#ifndef WENDRAKE_WATCH_WATCHER_H_
#define WENDRAKE_WATCH_WATCHER_H_

#include "config/thread_control.h"

namespace wendrake {

// The thread procedure. `parameter` is the entry (a ThreadControlEntry of
// the table, whose address stays fixed for the run). Returns only when a stop has been
// requested (os::RequestStop); on Windows shutdown ends it by force.
void DirChangesThread(void* parameter);

struct PendingFiles;  // watch/pending_files.h

// One scan of `entry`, from taking its lock to giving it back.
// Returns true when a file was left out of the new snapshot while still in
// the folder (see outcomes.h), or the listing could not be written, so the
// caller should scan again soon. `left`, when given, gets the names of the
// files left pending and the time the scan ended.
bool ScanFolder(const ThreadControlEntry& entry, PendingFiles* left = nullptr);

// How long the next wait may last, in milliseconds (negative: no limit),
// given the last limit, whether the last wait ended by its time limit, and
// whether the last scan left files pending. About a second after a scan a
// notification woke, doubling while it keeps running out, up to a minute.
int NextWaitLimit(int lastLimit, bool timedOut, bool pending);

}  // namespace wendrake

#endif  // WENDRAKE_WATCH_WATCHER_H_
