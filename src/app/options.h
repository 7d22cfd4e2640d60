// The Linux program's command line, in the GNU form its users know from
// other tools. The Windows program takes none.
#ifndef WENDRAKE_APP_OPTIONS_H_
#define WENDRAKE_APP_OPTIONS_H_

namespace wendrake {

// The exit status of a command line that cannot be followed, as GNU tools
// use it.
constexpr int kUsageExitStatus = 2;

// Reads the options before anything is logged: -h/--help and -V/--version
// print their answer on stdout, -C DIR/--directory DIR enters DIR (in the
// order given, so a relative DIR counts from the one before, as with make
// and git). Returns true when the program is to run; false with
// `exitStatus` set when it must end now: 0 after help or version,
// kUsageExitStatus after a one-line message on stderr, with nothing written
// in any folder.
bool ReadOptions(int argc, char** argv, int* exitStatus);

}  // namespace wendrake

#endif  // WENDRAKE_APP_OPTIONS_H_
