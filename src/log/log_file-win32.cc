// The log on Windows. Windows has no logrotate, and a log held open for
// the whole run could be neither renamed nor read by a reader that shares
// reading only (cmd's type): the program rotates the log itself once it
// passes kLogRotateBytes, and lets it go once lines stop coming for a
// moment. It is held only while lines come one after another, because each
// open costs a few hundred times what a line's write costs. A line that
// finds the log held against writing (such a reader, reading right now)
// waits in memory and goes first, in order, with the next line or retry.
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "log/log.h"
#include "log/log_file.h"
#include "os/os.h"

namespace wendrake {
namespace {

// Every line of every thread goes through here in turn: a rotation must
// fall between two lines, and lines held back must keep their order.
std::mutex fileMutex;
os::Handle file = os::kInvalidHandle;  // open while lines keep coming
std::int64_t fileSize = 0;
std::int64_t lastWriteMs = 0;
std::string heldBack;  // whole lines not yet written, oldest first
long linesLost = 0;    // dropped since the last write, heldBack being full
std::int64_t nextRotationMs = 0;

// A log with no line for this long is let go by the next retry (the
// program's timer, every second), for readers and for renames.
constexpr std::int64_t kLetGoAfterMs = 500;
// Enough for minutes of a busy folder's lines; a log that stays unwritable
// longer loses the newest lines, and says how many once it can be written.
constexpr std::size_t kHeldBackMax = 1 << 20;
// A log that could not be renamed (a reader holds it without delete
// sharing) is tried again at the first line after this.
constexpr std::int64_t kRotationRetryMs = 1000;

void LetGo() {
  if (file != os::kInvalidHandle) os::FileClose(file);
  file = os::kInvalidHandle;
}

void HoldBack(const char* line, std::size_t length) {
  if (heldBack.size() + length > kHeldBackMax) {
    ++linesLost;
    return;
  }
  heldBack.append(line, length);
}

// Gives the full log the name of the rotated one, replacing the one before,
// so that the next line begins a new log. Failing, it keeps the lines
// coming to the one it has and tries again a second later.
void RotateIfFull(std::int64_t nowMs) {
  if (fileSize < kLogRotateBytes || nowMs < nextRotationMs) return;
  LetGo();
  if (!os::FileReplace(kLogFileName, kRotatedLogFileName)) {
    nextRotationMs = nowMs + kRotationRetryMs;
  }
}

// Appends the lines held back; with fileMutex held. False when the log
// could not be opened or written: they stay held back.
bool WriteHeldBack() {
  if (heldBack.empty()) return true;
  if (linesLost > 0) {
    char message[kMessageCapacity];
    std::snprintf(message, sizeof message, "Log write error. Lines lost(%ld)", linesLost);
    os::LocalTime now;
    os::LocalTimeNow(&now);
    char line[kLogLineCapacity];
    heldBack.append(line, FormatLogLine(line, now, message));
    linesLost = 0;
  }
  if (file == os::kInvalidHandle) {
    // Others may read it while it is held, but not write, rename or delete
    // it; between two such spells they may do all of that.
    file = os::FileOpen(kLogFileName, os::kAccessWrite, os::kShareRead, os::kOpenAlways);
    if (file == os::kInvalidHandle) return false;
    fileSize = os::FileSeekEnd(file);
  }
  if (fileSize < 0 || !os::FileWrite(file, heldBack.data(), heldBack.size())) {
    LetGo();
    return false;
  }
  fileSize += static_cast<std::int64_t>(heldBack.size());
  heldBack.clear();
  lastWriteMs = os::MonotonicMs();
  RotateIfFull(lastWriteMs);
  return true;
}

}  // namespace

void LogFileWrite(const char* line, std::size_t length) {
  std::lock_guard<std::mutex> hold(fileMutex);
  HoldBack(line, length);
  WriteHeldBack();
}

void LogFileRetry() {
  std::lock_guard<std::mutex> hold(fileMutex);
  if (WriteHeldBack() && os::MonotonicMs() - lastWriteMs >= kLetGoAfterMs) LetGo();
}

void LogFileClose() {
  // A reader that shares reading only holds the log for as long as it
  // reads it: the last lines wait for it a little.
  for (int tries = 0; tries < 20; ++tries) {
    {
      std::lock_guard<std::mutex> hold(fileMutex);
      if (WriteHeldBack()) {
        LetGo();
        return;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void LogFileForgetForTesting() {
  std::lock_guard<std::mutex> hold(fileMutex);
  LetGo();
  heldBack.clear();
  linesLost = 0;
  nextRotationMs = 0;
}

}  // namespace wendrake
