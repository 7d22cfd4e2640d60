#include "watch/pending_files.h"

#include <algorithm>
#include <cstring>

namespace wendrake {
namespace {

constexpr int kGatherMs = 1000 / kHeldWriteScansPerSecond;

bool IsPending(const PendingFiles& pending, const char* name) {
  const char(*end)[kKeyLength] = pending.names + pending.count;
  return std::find_if(pending.names, end, [name](const char* pendingName) {
           return std::strcmp(pendingName, name) == 0;
         }) != end;
}

bool OnlyWritesToPending(const os::ChangeDetail& detail, const PendingFiles& pending) {
  if (!detail.onlyWrites) return false;
  for (int i = 0; i < detail.writtenCount; ++i) {
    if (!IsPending(pending, detail.written[i])) return false;
  }
  return true;
}

}  // namespace

void NotePendingFile(PendingFiles* files, const unsigned char* record) {
  if (files == nullptr || files->count == PendingFiles::kCapacity) return;
  char* name = files->names[files->count++];
  std::memset(name, 0, kKeyLength);
  CopyTrimmedName(name, record, kKeyLength);
}

os::WaitResult WaitForChange(os::Handle watch, int timeoutMs, const PendingFiles& pending) {
  os::ChangeDetail detail;
  os::WaitResult woke = os::ChangeWatchWait(watch, timeoutMs, &detail);
  while (woke == os::WaitResult::kSignalled && OnlyWritesToPending(detail, pending)) {
    std::int64_t left = pending.scannedMs + kGatherMs - os::MonotonicMs();
    if (left <= 0) break;
    // Sooner than the wait's own limit: a wait after a scan that left
    // files pending lasts at least a second from that scan's end.
    woke = os::ChangeWatchWait(watch, static_cast<int>(left), &detail);
    if (woke == os::WaitResult::kTimeout) return os::WaitResult::kSignalled;
  }
  return woke;
}

}  // namespace wendrake
