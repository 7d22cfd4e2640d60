// The files a scan left pending, kept by the watcher for its next wait.
// A file that another process keeps open and keeps writing (a database, a
// log) raises a notification for every write, and each would wake a scan
// that can only find the file still in use. Wakes caused by nothing but
// writes to such files are gathered instead, so that the file costs at most
// a few scans a second; any other change still wakes a scan at once, and the
// close of the file is such a change.
#ifndef WENDRAKE_WATCH_PENDING_FILES_H_
#define WENDRAKE_WATCH_PENDING_FILES_H_

#include <cstdint>

#include "os/os.h"
#include "watch/snapshot.h"

namespace wendrake {

// How many scans a second writes to pending files may cost at most.
constexpr int kHeldWriteScansPerSecond = 4;

struct PendingFiles {
  static constexpr int kCapacity = 8;
  int count;
  char names[kCapacity][kKeyLength];  // trimmed names; writes to others wake at once
  std::int64_t scannedMs;             // when the scan ended (os::MonotonicMs)
};

// Notes the file of `record` as left pending, while there is room.
void NotePendingFile(PendingFiles* files, const unsigned char* record);

// Waits as os::ChangeWatchWait does, except that a wake caused only by
// writes to files of `pending` ends the wait no sooner than
// 1000 / kHeldWriteScansPerSecond ms after that scan; a wake of any other
// kind meanwhile ends it at once.
os::WaitResult WaitForChange(os::Handle watch, int timeoutMs, const PendingFiles& pending);

}  // namespace wendrake

#endif  // WENDRAKE_WATCH_PENDING_FILES_H_
