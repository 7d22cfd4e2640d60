// Files that were found in use at one look and free at the next are handed
// on only once they have stayed free a little while. Tools that write a
// passing name, close it and rename or delete it (rsync, `sed -i`, an
// editor's swap file) do so within a millisecond of the close, and the
// scan that the close wakes would start the program for a name that is
// gone by the time the program looks for it. The short wait lets the
// rename reach the next listing, where the passing name is simply no
// longer there and is never reported. A file met free at its first look
// is not held: nothing suggests it was unfinished.
#ifndef WENDRAKE_WATCH_SETTLING_H_
#define WENDRAKE_WATCH_SETTLING_H_

#include <cstdint>

#include "config/thread_control.h"

namespace wendrake {

// How long a file found free after it was in use must stay so before it is
// handed on. A few dozen times the gap between such a tool's close and its
// rename, so that a loaded machine still gets there first.
constexpr int kSettleMs = 50;

// At the start of a scan's matching: what the scan before it found becomes
// the last look.
void BeginSettlingLook(const ThreadControlEntry& entry);

// The probe found the file `name` (trimmed) in use or could not settle it.
void NoteUnsettled(const ThreadControlEntry& entry, const char* name);

// The probe found the file `name` free at `nowMs` (os::MonotonicMs). True
// while it must wait: it was in use at the last look, or it has been free
// for less than kSettleMs since.
bool StillSettling(const ThreadControlEntry& entry, const char* name, std::int64_t nowMs);

// How long from `nowMs` until the first file still settling may be handed
// on, or -1 when none is settling.
int SettleWaitMs(const ThreadControlEntry& entry, std::int64_t nowMs);

// Forgets everything `entry` has noted (for a fresh start).
void ForgetSettling(const ThreadControlEntry& entry);

}  // namespace wendrake

#endif  // WENDRAKE_WATCH_SETTLING_H_
