// The log on Linux: held open for the whole run, appended to (O_APPEND),
// and opened anew when a rotation renamed it away.
#include <atomic>

#include "log/log.h"
#include "log/log_file.h"
#include "os/os.h"

namespace wendrake {
namespace {

// Opened by the first line of the run, on the main thread before any watcher
// exists, and closed after every watcher has ended; so neither needs a lock.
// A reopen keeps the handle's value (os::FileTakeOver).
os::Handle logHandle = os::kInvalidHandle;
bool logOpened = false;  // set by the first line

// Whether the name still leads to the open log is looked at before a line
// at most this often. The look (lstat and fstat) costs about twice a
// line's write, so it is not made for every line; at this pace it is
// nothing, a rotated log gets at most a quarter of a second of lines
// after its rename, and the first line after a quiet spell always looks.
constexpr std::int64_t kNameCheckIntervalMs = 250;
std::atomic<std::int64_t> nextNameCheckMs{0};
std::atomic<bool> nameCheckBusy{false};  // one thread reopens at a time

os::Handle OpenLogFile() {
  // Others may read the log while we run, but not write it. Appending lets
  // a log rotation empty the file under us (see os.h).
  os::Handle file = os::FileOpen(kLogFileName, os::kAccessWrite | os::kAccessAppend, os::kShareRead,
                                 os::kOpenAlways);
  if (file != os::kInvalidHandle) os::FileSeekEnd(file);
  return file;
}

// A log renamed away (logrotate's default, mv) or deleted would otherwise
// take every line of the run where nobody looks for it. Lines written
// before the reopen land whole in the renamed file, after it in the new
// one: none is lost or doubled. When the new one cannot be opened (a link
// or a folder in its place, another writer holding it), the lines go on to
// the old file and the next look tries again.
void ReopenIfMoved(bool waitTurn) {
  while (nameCheckBusy.exchange(true, std::memory_order_acquire)) {
    if (!waitTurn) return;  // another thread is looking right now
  }
  if (logHandle != os::kInvalidHandle && !os::FileStillNamed(logHandle, kLogFileName)) {
    os::Handle fresh = OpenLogFile();
    if (fresh != os::kInvalidHandle) os::FileTakeOver(logHandle, fresh);
  }
  nameCheckBusy.store(false, std::memory_order_release);
}

}  // namespace

void LogFileWrite(const char* line, std::size_t length) {
  if (!logOpened) {
    // A log that cannot be opened now (held by another writer, say) is not
    // tried again: the run goes on without it.
    logOpened = true;
    logHandle = OpenLogFile();
  } else if (logHandle != os::kInvalidHandle) {
    std::int64_t nowMs = os::MonotonicMs();
    if (nowMs >= nextNameCheckMs.load(std::memory_order_relaxed)) {
      nextNameCheckMs.store(nowMs + kNameCheckIntervalMs, std::memory_order_relaxed);
      ReopenIfMoved(false);
    }
  }
  if (logHandle != os::kInvalidHandle) os::FileWrite(logHandle, line, length);
}

void LogFileRetry() {
  ReopenIfMoved(true);
}

void LogFileClose() {
  if (logHandle != os::kInvalidHandle) os::FileClose(logHandle);
  // Forgotten, not just closed: the number may soon name another file,
  // which a late line must never reach.
  logHandle = os::kInvalidHandle;
}

void LogFileForgetForTesting() {
  LogFileClose();
  logOpened = false;
  nextNameCheckMs = 0;
}

}  // namespace wendrake
