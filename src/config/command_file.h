// The command file, WKCommand.txt in the start directory: one watched folder
// per record, as keyword=value pairs. Read once at start-up.
#ifndef WENDRAKE_CONFIG_COMMAND_FILE_H_
#define WENDRAKE_CONFIG_COMMAND_FILE_H_

#include <cstddef>

#include "os/os.h"

namespace wendrake {

constexpr const char* kCommandFileName = "WKCommand.txt";
constexpr int kStartDirectoryCapacity = 256;
// Held, unwritten, for the whole run, so that no second program runs in the
// same start directory: two would share the log and the snapshot files,
// and start a program twice for one file.
constexpr const char* kClaimFileName = "Wendrake.lock";

// A record is one line, read whole: at most kRecordMax bytes with its line
// end, room for every value at its longest and text between them. A longer
// line is a comment skipped whole or a record refused whole, never read in
// pieces: a piece would be taken for a record of its own.
constexpr std::size_t kRecordCapacity = os::kTextLineCapacity;
constexpr std::size_t kRecordMax = kRecordCapacity - 1;

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
