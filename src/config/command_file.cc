#include "config/command_file.h"

#include <cstdio>
#include <cstring>

#include "config/thread_control.h"
#include "log/log.h"
#include "os/os.h"

namespace wendrake {

char startDirectory[kStartDirectoryCapacity];

void ExtractKeywordValue(char* destination, const char* record, const char* keyword) {
  const char* found = std::strstr(record, keyword);
  if (found == nullptr) {
    destination[0] = '\0';
    return;
  }
  const char* p = found + std::strlen(keyword);
  char quote = (*p == '"' || *p == '\'') ? *p : '\0';
  if (quote != '\0') {
    ++p;
    while (*p != '\0' && *p != quote && *p != '\n') *destination++ = *p++;
  } else {
    while (*p != '\0' && *p != ' ' && *p != '\n') *destination++ = *p++;
  }
}

namespace {

bool IsShortRecord(const char* record) {
  return std::strlen(record) <= 7;
}

bool IsComment(const char* record) {
  return record[0] == '#';
}

// The values of one record. Each buffer is as large as a record, so no value
// can overrun it; whether a value fits its table field is checked apart.
struct RecordValues {
  char action[kRecordCapacity];
  char folder[kRecordCapacity];
  char execute[kRecordCapacity];
  char current[kRecordCapacity];
  char argument[kRecordCapacity];
};

bool FitsSetting(const char* value) {
  return std::strlen(value) < kSettingCapacity;
}

bool IsPathValue(const char* value) {
  return std::strlen(value) > 2 && FitsSetting(value);
}

// An over-long value rejects the record: cutting it would watch another
// folder or start another program than the one written.
bool IsValidRecord(const RecordValues& v) {
  std::size_t actionLength = std::strlen(v.action);
  return actionLength > 0 && actionLength <= static_cast<std::size_t>(kActionMaxLength) &&
         IsPathValue(v.folder) && IsPathValue(v.execute) && IsPathValue(v.current) &&
         FitsSetting(v.argument);
}

void HandleRecord(const char* record, os::TextLine read) {
  LogRecord("CmdFile Read record", record);
  if (IsShortRecord(record) || IsComment(record)) return;
  if (read == os::TextLine::kTooLong) {
    LogRecord("Error format. Record", record);
    return;
  }
  // A '?' in place of a character would watch or start something else
  // than the record names.
  if (read == os::TextLine::kNotInCodePage) {
    LogRecord("Error code page. Record", record);
    return;
  }

  static RecordValues values;  // main thread only, at start-up
  std::memset(&values, 0, sizeof values);
  ExtractKeywordValue(values.action, record, "ACTION=");
  ExtractKeywordValue(values.folder, record, "FOLDER=");
  ExtractKeywordValue(values.execute, record, "EXECUTE=");
  ExtractKeywordValue(values.current, record, "CURRENT=");
  ExtractKeywordValue(values.argument, record, "ARGUMENT=");

  if (!IsValidRecord(values)) {
    LogRecord("Error format. Record", record);
    return;
  }
  AddTableEntry(values.action, values.folder, values.execute, values.current, values.argument);
}

}  // namespace

int LoadCommandFile() {
  char path[kStartDirectoryCapacity];
  int length = std::snprintf(path, sizeof path, "%s%c%s", startDirectory, os::kPathSeparator,
                             kCommandFileName);
  LogF("-Start- LoadCommandFile. FileName(%s)", path);

  // The file is opened by its name alone, in the current directory, which
  // is the start directory: the full path that Windows gives in the code
  // page holds a '?' for each character the code page lacks, and names no
  // file. The path is still what the log shows, so a start directory that
  // is unknown, or too long for the path, counts as a command file that
  // cannot be opened: the log could not say which file was read.
  bool pathUsable =
      startDirectory[0] != '\0' && length > 0 && static_cast<std::size_t>(length) < sizeof path;
  os::TextFile text;
  if (!pathUsable || !os::TextOpen(&text, kCommandFileName)) {
    LogF("CmdFile Open error. FileName(%s)", path);
    WriteLog("== Abnormal end.==");
    return 0;
  }

  char record[kRecordCapacity];
  os::TextLine read;
  while ((read = os::TextReadLine(&text, record)) != os::TextLine::kEnd) {
    HandleRecord(record, read);
  }
  os::TextClose(&text);
  WriteLog("-Ended- LoadCommandFile.");
  return 1;
}

}  // namespace wendrake
