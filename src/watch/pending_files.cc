#include "watch/pending_files.h"

#include <algorithm>
#include <cstring>

namespace wendrake {
namespace {

constexpr int kGatherMs = 1000 / kHeldWriteScansPerSecond;
constexpr std::int64_t kScanCostMs = 1000 / kBusyScansPerSecond;
constexpr std::int64_t kFullAllowanceMs = kBurstScans * kScanCostMs;

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

// What scanning at once `pace` has in hand at `nowMs`: it comes back with
// the time since the last scan started, up to the whole burst.
std::int64_t AllowanceAt(const ScanPace& pace, std::int64_t nowMs) {
  return std::min(kFullAllowanceMs, pace.allowanceMs + (nowMs - pace.startedMs));
}

}  // namespace

void NotePendingFile(PendingFiles* files, const unsigned char* record) {
  if (files == nullptr || files->count == PendingFiles::kCapacity) return;
  char* name = files->names[files->count++];
  std::memset(name, 0, kKeyLength);
  CopyTrimmedName(name, record, kKeyLength);
}

void NoteScanStart(ScanPace* pace, std::int64_t nowMs) {
  std::int64_t allowance = pace->afterQuiet ? kFullAllowanceMs : AllowanceAt(*pace, nowMs);
  pace->allowanceMs = allowance - kScanCostMs;
  pace->startedMs = nowMs;
  pace->afterQuiet = false;
}

void NoteScanEnd(ScanPace* pace, std::int64_t nowMs, std::int64_t newsMs) {
  pace->endedMs = nowMs;
  pace->costMs = std::max<std::int64_t>(0, nowMs - pace->startedMs - newsMs);
}

std::int64_t ScanDueMs(ScanPace* pace, const os::ChangeDetail& detail, const PendingFiles& pending,
                       std::int64_t nowMs, bool gathering) {
  if (OnlyWritesToPending(detail, pending)) return pace->endedMs + kGatherMs;
  std::int64_t gapMs = kScanGapFactor * pace->costMs;
  if (!gathering && nowMs >= pace->endedMs + std::max<std::int64_t>(kQuietSpellMs, gapMs)) {
    pace->afterQuiet = true;
    return nowMs;
  }
  std::int64_t due =
      std::max(pace->endedMs + gapMs,
               nowMs + std::max<std::int64_t>(0, kScanCostMs - AllowanceAt(*pace, nowMs)));
  return std::min(due, nowMs + kLongestGatherMs);
}

os::WaitResult WaitForChange(os::Handle watch, int timeoutMs, const PendingFiles& pending,
                             ScanPace* pace) {
  pace->afterQuiet = false;
  os::ChangeDetail detail;
  os::WaitResult woke = os::ChangeWatchWait(watch, timeoutMs, &detail);
  if (woke != os::WaitResult::kSignalled) return woke;
  std::int64_t due = ScanDueMs(pace, detail, pending, os::MonotonicMs(), false);
  for (;;) {
    // Sooner than the wait's own limit: the gathering never outlasts
    // kLongestGatherMs, and a pending file's wait limit is a second.
    std::int64_t left = due - os::MonotonicMs();
    if (left <= 0) return os::WaitResult::kSignalled;
    woke = os::ChangeWatchWait(watch, static_cast<int>(left), &detail);
    if (woke == os::WaitResult::kStopped) return woke;
    // A wait that failed now leaves the notifications gathered so far to
    // their scan; the next wait meets the failure.
    if (woke != os::WaitResult::kSignalled) return os::WaitResult::kSignalled;
    due = std::min(due, ScanDueMs(pace, detail, pending, os::MonotonicMs(), true));
  }
}

}  // namespace wendrake
