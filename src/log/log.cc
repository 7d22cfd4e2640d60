#include "log/log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "log/log_file.h"

namespace wendrake {
namespace {

bool logClosed = false;  // nothing is written anywhere after the close

// Set by the program's shell before the first line.
os::Handle copyStream = os::kInvalidHandle;
LogCopy copyHow = LogCopy::kNone;

// The journal's priority of the lines that report a fault, so that
// `journalctl -p err` (or -p warning) finds them among the steps, which
// stay at its default, info. An error: a step failed, or a record or
// change could not be acted on. A warning: the run goes on as it should,
// but something wants a look (a program or folder not there, a file left
// out, a baseline taken anew). A pattern is matched against the whole
// text after the entry number and the depth ("... ", "-s- ", "-e- "); '*'
// stands for any run of bytes, a name or a number, so that a file called
// "error" raises nothing by itself.
struct Priority {
  const char* pattern;
  const char* prefix;
};
constexpr Priority kPriorities[] = {
    {"CmdFile Open error. *", "<3>"},
    {"== Abnormal end.==", "<3>"},
    {"Error *", "<3>"},  // Error format., Error code page., Error CreateMutex.
    {"CreateHandleError(*", "<3>"},
    {"CreateThread Error. *", "<3>"},
    {"CreateProcess(Error) *", "<3>"},
    {"error(*", "<3>"},  // the lock or the wait for changes failed
    {"Folder too long(*) - bypassed.", "<3>"},
    {"TCT over flow. *", "<3>"},
    {"PutFileNamesInDir. Error(*", "<3>"},
    {"PutFileNamesInDir. Write error(*", "<3>"},
    {"...DeleteFile. error(*", "<3>"},
    {"...ReanameFile. *", "<3>"},
    {"Old snapshot read error(*", "<3>"},
    {"Snapshot write error(*", "<3>"},
    {"Action(*):Delete  (*) not confirmed. Error(*", "<3>"},
    {"Action (*):Logical error(*", "<3>"},
    {"Warning *", "<4>"},
    {"Folder not found(*", "<4>"},
    {"Duplcate folder - bypassed.", "<4>"},
    {"PutFileNamesInDir. Table max ovser. *", "<4>"},
    {"PutFileNamesInDir. Name too long(*", "<4>"},
    {"PutFileNamesInDir. Name blank-edged(*", "<4>"},
    {"Old snapshot missing(*", "<4>"},
    {"Old snapshot damaged(*", "<4>"},
};

bool Matches(const char* pattern, const char* text) {
  if (*pattern == '\0') return *text == '\0';
  if (*pattern == '*') {
    if (pattern[1] == '\0') return true;
    for (;; ++text) {
      if (Matches(pattern + 1, text)) return true;
      if (*text == '\0') return false;
    }
  }
  return *pattern == *text && Matches(pattern + 1, text + 1);
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// "" for a line of the steps.
const char* PriorityOf(const char* text) {
  if (text[0] == '(' && IsDigit(text[1]) && IsDigit(text[2]) &&
      std::strncmp(text + 3, ")...", 4) == 0) {
    text += 7;
    for (;;) {
      if (*text == ' ') {
        ++text;
      } else if (std::strncmp(text, "... ", 4) == 0 || std::strncmp(text, "-s- ", 4) == 0 ||
                 std::strncmp(text, "-e- ", 4) == 0) {
        text += 4;
      } else {
        break;
      }
    }
  }
  const Priority* found = std::find_if(std::begin(kPriorities), std::end(kPriorities),
                                       [&](const Priority& p) { return Matches(p.pattern, text); });
  return found == std::end(kPriorities) ? "" : found->prefix;
}

// The copy of a finished log line: one line of its own, with a LF end as
// terminals and the journal expect. A text's own line breaks become blanks,
// since the journal would make a separate entry of each piece. Only the
// journal gets a priority; on a terminal it would be noise.
void WriteCopy(const char* line, std::size_t length) {
  std::size_t from = 0;
  if (copyHow == LogCopy::kTextOnly) {
    const char* text = std::strstr(line, " - ");  // the stamp holds none before its own
    if (text != nullptr) from = static_cast<std::size_t>(text - line) + 3;
  }
  constexpr std::size_t kPriorityRoom = 3;  // "<3>"
  char copy[kPriorityRoom + kLogLineCapacity];
  std::size_t used = kPriorityRoom;
  for (std::size_t i = from; i + 2 < length; ++i) {
    copy[used++] = line[i] == '\n' ? ' ' : line[i];
  }
  copy[used] = '\0';
  std::size_t start = kPriorityRoom;
  if (copyHow == LogCopy::kTextOnly) {
    const char* priority = PriorityOf(copy + kPriorityRoom);
    start -= std::strlen(priority);
    std::memcpy(copy + start, priority, kPriorityRoom - start);
  }
  copy[used++] = '\n';
  os::FileWrite(copyStream, copy + start, used - start);
}

}  // namespace

std::size_t FormatLogLine(char (&line)[kLogLineCapacity], const os::LocalTime& when,
                          const char* text, std::size_t keptLineFeed) {
  int stamp = std::snprintf(line, kLogLineCapacity, "%d-%02d-%02d %02d:%02d:%02d - ", when.year,
                            when.month, when.day, when.hour, when.minute, when.second);
  std::size_t used = stamp < 0 ? 0 : static_cast<std::size_t>(stamp);
  if (used > kLogLineCapacity - 3) used = kLogLineCapacity - 3;  // a five-digit year, say
  std::size_t room = kLogLineCapacity - 3 - used;
  std::size_t length = std::strlen(text);
  if (length > room) length = room;
  std::memcpy(line + used, text, length);
  // Only our own CR LF ends a line: a CR or LF from a file name (Linux
  // allows both) or from the command file could pass off what follows it as
  // a line of ours. The one LF kept is a command-file record's own line
  // end, which the record's message shows as read, and only while text
  // follows it: cut right after it, it would leave a line with no stamp.
  bool keep = length > 0 && keptLineFeed < length - 1;
  for (std::size_t i = 0; i < length; ++i) {
    char& c = line[used + i];
    if (c == '\r' || (c == '\n' && !(keep && i == keptLineFeed))) c = '?';
  }
  used += length;
  line[used++] = '\r';
  line[used++] = '\n';
  line[used] = '\0';
  return used;
}

void CloseLog() {
  if (!logClosed) LogFileClose();
  logClosed = true;
}

namespace {

void WriteLine(const char* text, std::size_t keptLineFeed) {
  if (logClosed) return;
  os::LocalTime now;
  os::LocalTimeNow(&now);
  char line[kLogLineCapacity];
  std::size_t length = FormatLogLine(line, now, text, keptLineFeed);
  LogFileWrite(line, length);
  if (copyHow != LogCopy::kNone) WriteCopy(line, length);
}

}  // namespace

void WriteLog(const char* text) {
  WriteLine(text, kNoLineFeedKept);
}

void LogRecord(const char* label, const char* record) {
  char message[kMessageCapacity];
  std::snprintf(message, sizeof message, "%s(%s)", label, record);
  std::size_t recordLength = std::strlen(record);
  std::size_t keptLineFeed = kNoLineFeedKept;
  if (recordLength > 0 && record[recordLength - 1] == '\n') {
    keptLineFeed = std::strlen(label) + recordLength;  // "label(" then the record
  }
  WriteLine(message, keptLineFeed);
}

void ReopenLog() {
  if (!logClosed) LogFileRetry();
}

void CopyLogLinesTo(os::Handle stream, LogCopy how) {
  copyStream = stream;
  copyHow = stream == os::kInvalidHandle ? LogCopy::kNone : how;
}

void LogF(const char* format, ...) {
  char message[kMessageCapacity];
  va_list args;
  va_start(args, format);
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): va_start is just above
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  WriteLog(message);
}

void ResetLogForTesting() {
  CloseLog();
  LogFileForgetForTesting();
  logClosed = false;
}

}  // namespace wendrake
