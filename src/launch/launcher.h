// Starting the entry's program for one changed file. The command is built
// once, as words: the program's words (EXECUTE), the file's full path, the
// change flag and ARGUMENT's words. The log and Windows' CreateProcessA get
// it as one line ("\"<folder>\<name>\" -A <argument>" behind EXECUTE);
// Linux hands the words to the program as its argv, never to a shell.
#ifndef WENDRAKE_LAUNCH_LAUNCHER_H_
#define WENDRAKE_LAUNCH_LAUNCHER_H_

#include "config/thread_control.h"
#include "record/snapshot_record.h"

namespace wendrake {

// Each with its NUL, room for the longest of its parts: the full path holds
// the longest folder, the separator and the longest name; the argument
// string '"', that path, "\" ", the flag, a blank and the longest
// ARGUMENT; the command line the longest EXECUTE, a blank and that string.
constexpr int kFullPathCapacity = (kSettingCapacity - 1) + 1 + kNameLength + 1;
constexpr int kArgumentStringCapacity =
    (kFullPathCapacity - 1) + static_cast<int>(sizeof "\"\" -A ") - 1 + kSettingCapacity;
constexpr int kCommandLineCapacity = (kSettingCapacity - 1) + 1 + kArgumentStringCapacity;

enum class ChangeKind { kDelete, kAddition, kUpdate };

// A 255-byte setting holds at most 128 words.
constexpr int kMaxSettingWords = (kSettingCapacity + 1) / 2;

struct Command {
  // '"' + full path + "\" " + flag [+ ' ' + ARGUMENT]: the log's view of the
  // command, and the command line's tail. Empty when the path is longer than
  // the system can open (os::kLongestPath): such a command is refused, never
  // cut.
  char argumentString[kArgumentStringCapacity];
  char fullPath[kFullPathCapacity];
  char flag[4];
  char programWords[kSettingCapacity];   // EXECUTE, cut into words in place
  char argumentWords[kSettingCapacity];  // ARGUMENT, the same
  int programWordCount;
  // The program's words, the full path, the flag, ARGUMENT's words, NULL.
  char* argv[2 * kMaxSettingWords + 3];
};

// Builds the command that reports `change` of the file of the snapshot
// record `record` of `entry`, and logs the builder's line ("Adition(name)", ...).
void BuildCommand(const ThreadControlEntry& entry, ChangeKind change, const unsigned char* record,
                  Command* command);

// Starts `entry`'s program with `command` in its CURRENT directory and logs
// the outcome with the command's details. Never waits for the program.
void LaunchCommand(const ThreadControlEntry& entry, const Command& command);

}  // namespace wendrake

#endif  // WENDRAKE_LAUNCH_LAUNCHER_H_
