// Folders on shared file systems (network shares, FUSE): what other
// machines write there raises no change notification on this one, so the
// watcher also wakes on a timer, and a file that is still changing between
// two listings counts as in use, since the probes only see this machine's
// openers.
#ifndef WENDRAKE_WATCH_POLLING_H_
#define WENDRAKE_WATCH_POLLING_H_

#include "config/thread_control.h"
#include "watch/snapshot.h"

namespace wendrake {

// How often such a folder is looked at besides its notification.
constexpr int kPollIntervalMs = 2000;

// The shortest time between two looks that judge whether a file there has
// stopped changing. A FUSE mount keeps a file's size and time for a second
// (libfuse's attribute timeout); looks a second apart could meet the same
// cached figures while the file still grows, and hand it on unfinished.
constexpr int kPolledRecheckMs = 1500;

// Decides, once at the watcher's start, whether `entry` is polled;
// if so logs it and remembers the first snapshot as the folder's last
// listing. Returns the decision.
bool StartPolling(const ThreadControlEntry& entry);

// The wait limit of a polled entry: `waitLimit`, but never shorter than
// kPolledRecheckMs nor longer than kPollIntervalMs (and no limit becomes
// that).
int PolledWaitLimit(int waitLimit);

// True when `entry` is polled, or the probe could not see every holder of
// the file (`holdersUnseen`: a writer of another user), and the file of
// `record` (its name, size, date and time as found now) has not been in the
// folder's listings with that size, date and time for kPolledRecheckMs:
// someone may still be writing it. The first file judged so for a folder
// not polled logs that once, and from then on its listings are kept.
bool ChangedSinceLastListing(const ThreadControlEntry& entry, const unsigned char* record,
                             bool holdersUnseen);

// Keeps `listing`, taken from it, as the last listing of `entry`; does
// nothing for an entry neither polled nor judging files so.
void RememberListing(const ThreadControlEntry& entry, Listing* listing);

}  // namespace wendrake

#endif  // WENDRAKE_WATCH_POLLING_H_
