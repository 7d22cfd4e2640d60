// The pace of a watcher's scans, and the files a scan left pending, kept by
// the watcher for its next wait.
//
// Every scan lists the whole folder, so a folder whose notifications keep
// coming (a database making and deleting its journal, a build, a busy
// spool) would cost a listing per notification: its size times their rate.
// A notification after a quiet spell is scanned at once; while they keep
// coming, scans are spaced to a few a second and to a quarter of a core,
// each later notification gathered into the next scan, none held longer
// than a quarter of a second.
//
// A file that another process keeps open and keeps writing (a database, a
// log) raises a notification for every write, and each would wake a scan
// that can only find the file still in use. Wakes caused by nothing but
// writes to such files are gathered as well, even after a quiet spell, so
// that the file costs at most a few scans a second; the close of the file
// is another kind of change.
#ifndef WENDRAKE_WATCH_PENDING_FILES_H_
#define WENDRAKE_WATCH_PENDING_FILES_H_

#include <cstdint>

#include "os/os.h"
#include "watch/snapshot.h"

namespace wendrake {

// How many scans a second writes to pending files may cost at most.
constexpr int kHeldWriteScansPerSecond = 4;
// How many scans a second a folder whose notifications keep coming costs
// once the burst that follows a quiet spell is spent.
constexpr int kBusyScansPerSecond = 4;
// Scans in a row that a folder's notifications may wake at once after a
// quiet spell: a file made, written, closed and deleted again costs two or
// three.
constexpr int kBurstScans = 4;
// How long a folder's notifications must pause after a scan to count as a
// quiet spell.
constexpr int kQuietSpellMs = 100;
// The gap after a busy folder's scan is at least this many times the scan's
// own length, so that scanning takes at most about a quarter of one core.
constexpr int kScanGapFactor = 3;
// The longest a notification waits for its scan.
constexpr int kLongestGatherMs = 250;

struct PendingFiles {
  static constexpr int kCapacity = 8;
  int count;
  char names[kCapacity][kKeyLength];  // trimmed names; writes to others are governed alike
};

// When the last scan ran, and what scanning at once it has left in hand.
// A listing that finds the folder as the old snapshot has it (an echo, a
// polled folder's look) counts as a scan: it lists the folder just as one.
struct ScanPace {
  std::int64_t startedMs;  // os::MonotonicMs
  std::int64_t endedMs;
  std::int64_t costMs;       // of that scan, its news left out
  std::int64_t allowanceMs;  // left at that start; each scan costs 1000 / kBusyScansPerSecond
  bool afterQuiet;           // the wait that ends now began the folder's busy spell
};

// Notes the file of `record` as left pending, while there is room.
void NotePendingFile(PendingFiles* files, const unsigned char* record);

// Around every scan or listing of the folder that a wait ended. The gap
// after a scan leaves out `newsMs`, what it spent on the files it found
// changed (probes, starts): a batch of news is not held against the
// folder, the listing is.
void NoteScanStart(ScanPace* pace, std::int64_t nowMs);
void NoteScanEnd(ScanPace* pace, std::int64_t nowMs, std::int64_t newsMs);

// When the scan for a notification that came at `nowMs` is due: at once
// after a quiet spell; otherwise (the folder busy, or only pending files
// written) after the gap that `pace` asks for, no later than
// kLongestGatherMs after `nowMs`. Sets pace->afterQuiet for a quiet spell.
// `gathering`: notifications came since the last scan, already waiting for
// one; the folder is then busy however long ago that scan ended.
std::int64_t ScanDueMs(ScanPace* pace, const os::ChangeDetail& detail, const PendingFiles& pending,
                       std::int64_t nowMs, bool gathering);

// Waits as os::ChangeWatchWait does, except that a notification ends the
// wait only once its scan is due (ScanDueMs); the notifications that come
// meanwhile are gathered into that scan, and one due sooner brings it
// forward. A stop still ends the wait at once.
os::WaitResult WaitForChange(os::Handle watch, int timeoutMs, const PendingFiles& pending,
                             ScanPace* pace);

}  // namespace wendrake

#endif  // WENDRAKE_WATCH_PENDING_FILES_H_
