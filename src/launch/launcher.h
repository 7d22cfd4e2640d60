// Starting the entry's program for one changed file: three builders make
// the argument string ("\"<folder>\<name>\" -A <argument>"), and the
// launcher starts EXECUTE with it in CURRENT, without waiting, and logs the
// outcome.
#ifndef WENDRAKE_LAUNCH_LAUNCHER_H_
#define WENDRAKE_LAUNCH_LAUNCHER_H_

namespace wendrake {

// The caller's argument string buffer; also the bound of the full path and
// the command line.
constexpr int kArgumentStringCapacity = 256;

// Each writes the argument string for the file of the 99-byte `record` of
// entry `index` into `argumentString` (kArgumentStringCapacity bytes,
// zero-filled by the caller) and logs one line.
void BuildDeleteCommand(int index, const unsigned char* record, char* argumentString);
void BuildAdditionCommand(int index, const unsigned char* record, char* argumentString);
void BuildUpdateCommand(int index, const unsigned char* record, char* argumentString);

// Starts entry `index`'s EXECUTE program with `argumentString` in its
// CURRENT directory; logs the outcome. Never waits for the program.
void LaunchCommand(int index, const char* argumentString);

}  // namespace wendrake

#endif  // WENDRAKE_LAUNCH_LAUNCHER_H_
