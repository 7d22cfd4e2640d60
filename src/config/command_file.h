// The command file, WKCommand.txt in the start directory: one watched folder
// per record, as keyword=value pairs. Read once at start-up.
#ifndef WENDRAKE_CONFIG_COMMAND_FILE_H_
#define WENDRAKE_CONFIG_COMMAND_FILE_H_

#include <cstddef>

namespace wendrake {

constexpr const char* kCommandFileName = "WKCommand.txt";
constexpr int kStartDirectoryCapacity = 256;

// A record is read into a buffer of this size, at most kRecordMax
// characters at a time; a longer line comes in several pieces.
constexpr int kRecordCapacity = 500;
constexpr int kRecordReadLimit = 498;
constexpr int kRecordMax = 497;

// Captured by start-up; empty when the current directory could not be read.
extern char startDirectory[kStartDirectoryCapacity];

// Reads the command file into the ThreadControlTable. Returns 1 when the
// file was opened and read to its end (whatever it held), 0 when it cannot
// be opened; then the program ends.
int LoadCommandFile();

// Stores the value of `keyword` (e.g. "FOLDER=") in `record` into
// `destination`, without a terminator unless the keyword is absent. The
// value is never longer than the record, so a destination of
// kRecordCapacity bytes always has room.
void ExtractKeywordValue(char* destination, const char* record, const char* keyword);

}  // namespace wendrake

#endif  // WENDRAKE_CONFIG_COMMAND_FILE_H_
