// What a scan does with each file once the matching has put it into one of
// five outcomes: what the merged snapshot (the next scan's old snapshot)
// records about it, and whether the entry's program is started for it.
// Added and changed files are probed first: a file another process still
// holds open is not reported yet, so a copy in progress is handed on once,
// when it is complete.
#ifndef WENDRAKE_WATCH_OUTCOMES_H_
#define WENDRAKE_WATCH_OUTCOMES_H_

#include "config/thread_control.h"
#include "os/os.h"

namespace wendrake {

struct SnapshotWriter;  // watch/snapshot.h

// The probes open the entry's folder/`name` exclusively and fill `probeRecord` (up to
// its line end) with the name and the file's current size, date and time, or with
// zeros when the file is in use. True when it is in use. The two differ
// only in their trace lines.
bool CheckNowUse(const ThreadControlEntry& entry, const char* name, unsigned char* probeRecord);
bool CheckNowAddUse(const ThreadControlEntry& entry, const char* name, unsigned char* probeRecord);

// The handlers, called by the matching with the current records. Each
// returns true when it left a file that is still in the folder unsettled
// (in use at its addition or at a change, or emptied): the watcher must
// then meet it again even if the folder signals nothing more, since
// closing a file raises no notification on some systems.
bool ActionDelete(const ThreadControlEntry& entry, const unsigned char* oldRecord,
                  SnapshotWriter* merged);
bool ActionAddition(const ThreadControlEntry& entry, const unsigned char* newRecord,
                    SnapshotWriter* merged);
bool ActionNonChanged(const ThreadControlEntry& entry, const unsigned char* oldRecord,
                      const unsigned char* newRecord, SnapshotWriter* merged);
bool ActionChangeSize(const ThreadControlEntry& entry, const unsigned char* oldRecord,
                      const unsigned char* newRecord, SnapshotWriter* merged);
bool ActionChangeDate(const ThreadControlEntry& entry, const unsigned char* oldRecord,
                      const unsigned char* newRecord, SnapshotWriter* merged);

}  // namespace wendrake

#endif  // WENDRAKE_WATCH_OUTCOMES_H_
