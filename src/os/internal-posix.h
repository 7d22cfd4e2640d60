// What the Linux bodies of the OS layer share among themselves and with
// their own tests. Nothing outside src/os includes this.
#ifndef WENDRAKE_OS_INTERNAL_POSIX_H_
#define WENDRAKE_OS_INTERNAL_POSIX_H_

#include <cstdint>

#include "os/os.h"

namespace wendrake {
namespace os {

// `seconds` since the epoch in local time, the zone rules of that date
// applying. False when it cannot be converted.
bool LocalTimeOfSeconds(std::int64_t seconds, LocalTime* out);

// The descriptor that becomes readable, for good, once a stop has been
// requested; every blocking wait of the layer polls it beside its own
// descriptor. -1 when it could not be made: the waits then rely on the
// signal that ThreadEnd sends.
int StopFd();

// What is left of a wait of `timeoutMs` (negative: no limit, -1 back)
// begun at `startMs`, as poll takes it; 0 once the time is up.
int RemainingMs(std::int64_t startMs, int timeoutMs);

// Whether a process other than this one has the file (device, inode)
// open, as its descriptors in /proc show. Only processes whose descriptors
// this one may read are seen (its user's, or all for root); kUnseen when
// none of those holds it but some other process could not be looked at.
enum class Holders { kNone, kFound, kUnseen };
Holders OtherProcessHoldsOpen(std::uint64_t device, std::uint64_t inode);

// True when a file system of this statfs f_type (its low 32 bits) is one
// that FolderNeedsPolling names.
bool PolledFileSystemType(std::uint32_t type);

}  // namespace os
}  // namespace wendrake

#endif  // WENDRAKE_OS_INTERNAL_POSIX_H_
