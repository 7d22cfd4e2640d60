// The look at each entry's program and working directory that start-up
// takes once the command file is read, so that a wrong EXECUTE or CURRENT
// shows at once rather than when the first file is lost to it.
#ifndef WENDRAKE_APP_ENTRY_CHECKS_H_
#define WENDRAKE_APP_ENTRY_CHECKS_H_

#include <cstdio>

namespace wendrake {

// Logs one warning line for each entry's EXECUTE that names no program a
// start could find now, and one for each CURRENT that is no folder:
//   "(01)... Warning EXECUTE not found(<EXECUTE>)"
//   "(01)... Warning CURRENT not a folder(<CURRENT>)"
// The entries still run: the program or folder may yet appear. `alsoTo`,
// when given, gets each warning too, as "<program>: <text>". Returns the
// number of warnings.
int WarnOfMissingProgramsAndFolders(std::FILE* alsoTo, const char* program);

}  // namespace wendrake

#endif  // WENDRAKE_APP_ENTRY_CHECKS_H_
