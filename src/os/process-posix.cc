// Starting programs on Linux: posix_spawn of the argv the launcher made,
// never through a shell, so a file name reaches the program as one argument
// whatever characters it holds, into a session of its own.
#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "os/os.h"

extern char** environ;

namespace wendrake {
namespace os {

namespace {

// Finds the file to execute for `program`. A relative path with a folder
// part is taken from our current directory, the start directory, as
// CreateProcessA does: posix_spawn would take it from the child's new
// working directory. Sets *searchPath for a bare name, which PATH decides.
bool ResolveProgram(const char* program, char (&resolved)[PATH_MAX], bool* searchPath) {
  *searchPath = std::strchr(program, '/') == nullptr;
  if (*searchPath || program[0] == '/') {
    std::size_t length = std::strlen(program);
    if (length >= sizeof resolved) {
      errno = ENAMETOOLONG;
      return false;
    }
    std::memcpy(resolved, program, length + 1);
    return true;
  }
  char here[PATH_MAX];
  if (getcwd(here, sizeof here) == nullptr) return false;
  int needed = std::snprintf(resolved, sizeof resolved, "%s/%s", here, program);
  if (needed < 0 || static_cast<std::size_t>(needed) >= sizeof resolved) {
    errno = ENAMETOOLONG;
    return false;
  }
  return true;
}

}  // namespace

bool StartProgram(const char* /*commandLine*/, char* const argv[], const char* workingDir) {
  if (argv == nullptr || argv[0] == nullptr || argv[0][0] == '\0') {
    errno = ENOENT;
    return false;
  }
  char program[PATH_MAX];
  bool searchPath = false;
  if (!ResolveProgram(argv[0], program, &searchPath)) return false;

  posix_spawn_file_actions_t actions;
  int rc = posix_spawn_file_actions_init(&actions);
  if (rc != 0) {
    errno = rc;
    return false;
  }
  // The chdir runs in the child before the exec; glibc hands its failure
  // back as posix_spawn's result, as it does a failed exec, so a CURRENT
  // that cannot be entered fails the start like a missing program.
  rc = posix_spawn_file_actions_addchdir_np(&actions, workingDir);
  // Our own files are close-on-exec already; this also keeps out any
  // descriptor a library opened without it.
  if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  posix_spawnattr_t attributes;
  bool haveAttributes = false;
  if (rc == 0) {
    rc = posix_spawnattr_init(&attributes);
    haveAttributes = rc == 0;
  }
  if (rc == 0) {
    // A started program begins clean: nothing blocked that the calling
    // thread blocks, and nothing ignored that we ignore (an exec keeps an
    // ignored SIGCHLD, which would break a program that waits for children).
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    rc = posix_spawnattr_setsigmask(&attributes, &none);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(&attributes, &all);
    // A session of its own (glibc 2.26 and later): Ctrl-C in our terminal
    // signals our process group, and a started program must run on to its
    // end after we stop, as it does on Windows; one cut off in the middle
    // of an import is data lost. It also loses our controlling terminal.
    if (rc == 0) {
      rc = posix_spawnattr_setflags(
          &attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    }
  }
  if (rc == 0) {
    pid_t child;
    rc = searchPath ? posix_spawnp(&child, program, &actions, &attributes, argv, environ)
                    : posix_spawn(&child, program, &actions, &attributes, argv, environ);
  }
  if (haveAttributes) posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    errno = rc;
    return false;
  }
  return true;
}

int ProgramNotFoundError() {
  return ENOENT;
}

namespace {

bool Executable(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISREG(st.st_mode) && access(path, X_OK) == 0;
}

}  // namespace

bool ProgramFound(const char* execute) {
  // The program is EXECUTE's first word, as the launcher cuts it.
  const char* begin = execute + std::strspn(execute, " \t");
  std::size_t length = std::strcspn(begin, " \t");
  char word[PATH_MAX];
  if (length == 0 || length >= sizeof word) return false;
  std::memcpy(word, begin, length);
  word[length] = '\0';
  if (std::strchr(word, '/') != nullptr) return Executable(word);  // from the start directory
  // A bare name is looked for in each folder of PATH in turn, as
  // posix_spawnp does (glibc's own default list without PATH; an empty
  // element is the current directory).
  const char* path = std::getenv("PATH");
  if (path == nullptr) path = "/bin:/usr/bin";
  for (const char* folder = path;; ++folder) {
    std::size_t folderLength = std::strcspn(folder, ":");
    char candidate[PATH_MAX];
    int made =
        std::snprintf(candidate, sizeof candidate, "%.*s%s%s", static_cast<int>(folderLength),
                      folder, folderLength > 0 ? "/" : "", word);
    if (made > 0 && static_cast<std::size_t>(made) < sizeof candidate && Executable(candidate)) {
      return true;
    }
    folder += folderLength;
    if (*folder == '\0') return false;
  }
}

bool LeadsToFolder(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int ArgumentRefusal(const char* /*execute*/, const char* /*path*/) {
  return 0;
}

}  // namespace os
}  // namespace wendrake
