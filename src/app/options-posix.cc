#include <errno.h>
#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "app/options.h"

namespace wendrake {
namespace {

// What the manual page wendrake.1 says, in short; the two are kept saying
// the same (tests/e2e/packaging_test.cc compares them).
constexpr char kUsage[] =
    "Usage: wendrake [OPTION]...\n"
    "Watch up to two folders and start a program once for every file added to,\n"
    "deleted from or changed in them, as WKCommand.txt in the start directory\n"
    "says.\n"
    "\n"
    "  -C, --directory=DIR  use DIR as the start directory\n"
    "  -h, --help           print this help and exit\n"
    "  -V, --version        print the version and exit\n"
    "\n"
    "The start directory is the current directory unless -C names another. It\n"
    "holds WKCommand.txt, which is read once at start, and Wendrake.log, to\n"
    "which every step is appended. When standard error is a terminal or the\n"
    "systemd journal, each log line is also written there.\n"
    "\n"
    "SIGINT and SIGTERM end the program normally. SIGHUP opens Wendrake.log\n"
    "anew when it was renamed or deleted (a log rotation), and the program runs\n"
    "on; the hangup of the terminal it was started from still ends it.\n"
    "\n"
    "Exit status:\n"
    "  0  ended by a signal\n"
    "  1  WKCommand.txt cannot be read, or gives no folder to watch; or the start\n"
    "     directory cannot be written, or its Wendrake.log is a symbolic link\n"
    "  2  a wrong option or argument, or a directory that cannot be entered\n";

int RefuseCommandLine(const char* program) {
  std::fprintf(stderr, "Try '%s --help' for more information.\n", program);
  return kUsageExitStatus;
}

}  // namespace

bool ReadOptions(int argc, char** argv, int* exitStatus) {
  static const option kLongOptions[] = {
      {"directory", required_argument, nullptr, 'C'},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0},
  };
  const char* program = argc > 0 ? argv[0] : "wendrake";
  // getopt_long names a wrong option on stderr itself, in the GNU words.
  for (;;) {
    int option = getopt_long(argc, argv, "C:hV", kLongOptions, nullptr);
    if (option == -1) break;
    switch (option) {
      case 'C':
        if (chdir(optarg) != 0) {
          std::fprintf(stderr, "%s: cannot change to directory '%s': %s\n", program, optarg,
                       std::strerror(errno));
          *exitStatus = kUsageExitStatus;
          return false;
        }
        break;
      case 'h':
        std::fputs(kUsage, stdout);
        *exitStatus = std::fflush(stdout) == 0 ? 0 : 1;
        return false;
      case 'V':
        std::printf("wendrake %s\n", WENDRAKE_VERSION);
        *exitStatus = std::fflush(stdout) == 0 ? 0 : 1;
        return false;
      default:
        *exitStatus = RefuseCommandLine(program);
        return false;
    }
  }
  if (optind < argc) {
    std::fprintf(stderr, "%s: unexpected argument '%s'\n", program, argv[optind]);
    *exitStatus = RefuseCommandLine(program);
    return false;
  }
  return true;
}

}  // namespace wendrake
