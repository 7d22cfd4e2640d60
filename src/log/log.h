// The activity log, Wendrake.log in the start directory: the system's only
// report of what it does. Every line is "YYYY-MM-DD hh:mm:ss - text" + CR LF,
// written whole with one write call, so lines of the main thread and of both
// watchers never mix.
#ifndef WENDRAKE_LOG_LOG_H_
#define WENDRAKE_LOG_LOG_H_

#include <cstddef>

#include "os/os.h"

namespace wendrake {

constexpr const char* kLogFileName = "Wendrake.log";

// A line: 22 bytes of time stamp and " - ", the text, CR LF and a NUL.
constexpr std::size_t kLogLineCapacity = 256;
constexpr std::size_t kLogStampLength = 22;
// The longest text that fits; a longer one is cut to this many bytes, so the
// line still ends in CR LF.
constexpr std::size_t kLogTextMax = kLogLineCapacity - kLogStampLength - 3;

// Callers compose their messages in buffers of this size.
constexpr std::size_t kMessageCapacity = 256;

// Appends one line with `text`, opening the log at the first call of the
// run (log_file.h). Failures are silent: a log that cannot be opened or
// written loses lines and nothing else.
void WriteLog(const char* text);

// Closes the log for the rest of the run: nothing is written after it.
void CloseLog();

// Linux: opens Wendrake.log anew when that name no longer leads to the
// file being written (renamed by a log rotation, or deleted); the next
// lines go to the new file. Every line looks by itself, at most every
// quarter of a second; this is for a request from outside (SIGHUP), which
// wants it done now. Windows: writes the lines that found the log held by
// a reader, which would otherwise wait for the next line.
void ReopenLog();

// Where a copy of each log line goes besides the file: nowhere (the
// default, and always on Windows), or a stream that a person or the systemd
// journal reads (Linux stderr). The journal stamps lines itself, so it gets
// the text alone; a terminal gets the whole line. The file is written as
// ever, and a copy is made even when the file could not be opened.
enum class LogCopy { kNone, kStamped, kTextOnly };
void CopyLogLinesTo(os::Handle stream, LogCopy how);

// Formats a message into a kMessageCapacity buffer (cut, never overrun) and
// writes it as one line.
void LogF(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes "label(record)" for a command-file record, which is shown as read:
// its own line end, a LF as its last byte, is kept, so the closing
// parenthesis stands at the start of the next line of the file.
void LogRecord(const char* label, const char* record);

constexpr std::size_t kNoLineFeedKept = static_cast<std::size_t>(-1);

// Builds the line for `text` at time `when` into `line`; returns its length
// without the NUL. Every CR and LF of the text becomes '?', so that no text
// can start a line of its own, except the LF at `keptLineFeed` (an index
// into the text).
std::size_t FormatLogLine(char (&line)[kLogLineCapacity], const os::LocalTime& when,
                          const char* text, std::size_t keptLineFeed = kNoLineFeedKept);

// Tests only: closes the log and forgets that it was opened, so that a test
// process can open it again in another folder.
void ResetLogForTesting();

}  // namespace wendrake

#endif  // WENDRAKE_LOG_LOG_H_
