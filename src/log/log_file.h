// Where the log's finished lines go: Wendrake.log in the current directory,
// the start directory. How the file is held differs by platform:
//   Linux (log_file-posix.cc) keeps it open for the whole run and follows
//   a rotation made by logrotate or mv, which rename it away;
//   Windows (log_file-win32.cc) holds it only while lines keep coming,
//   so that any reader can open it between, and rotates it itself, which
//   Windows, with no logrotate, leaves to the program.
#ifndef WENDRAKE_LOG_LOG_FILE_H_
#define WENDRAKE_LOG_LOG_FILE_H_

#include <cstddef>
#include <cstdint>

namespace wendrake {

// The size past which the Windows program gives its log the name
// Wendrake.log.1 (replacing the one before) and begins a new one, between
// two lines. 0 on Linux, where rotation is logrotate's (wendrake.logrotate).
#ifdef _WIN32
constexpr std::int64_t kLogRotateBytes = 10 * 1024 * 1024;
#else
constexpr std::int64_t kLogRotateBytes = 0;
#endif
constexpr const char* kRotatedLogFileName = "Wendrake.log.1";

// Writes one finished line (CR LF included) whole, in one write call; the
// first call of the run opens the log. Safe from any thread.
void LogFileWrite(const char* line, std::size_t length);

// Linux: opens the log anew when its name no longer leads to the open
// file. Windows: writes the lines that found the log held against writing.
void LogFileRetry();

// Writes what can still be written and lets the file go. No line is
// written after it.
void LogFileClose();

// Tests only: forgets the run's file, so that the next line opens it anew.
void LogFileForgetForTesting();

}  // namespace wendrake

#endif  // WENDRAKE_LOG_LOG_FILE_H_
