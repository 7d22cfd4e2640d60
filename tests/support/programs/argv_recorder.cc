// argv_recorder: writes what it was started with to record-<pid>.txt in its
// current directory. The record is written under a temporary name and then
// renamed, so a reader never sees half of one. One value a line, a tag, a
// blank and the value's bytes in hex:
//   cwd  the working directory
//   cmd  GetCommandLineA() (Windows)
//   arg  each element of argv, in order (Linux)
//   fd   each descriptor open at start besides 0, 1 and 2 (Linux)
//   sig  "blocked" when any signal is blocked, "chld-ignored" when SIGCHLD
//        is ignored (Linux)
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>

namespace {

void Put(std::FILE* out, const char* tag, const char* value) {
  std::fprintf(out, "%s ", tag);
  for (const char* p = value; *p != '\0'; ++p) {
    std::fprintf(out, "%02x", static_cast<unsigned char>(*p));
  }
  std::fputc('\n', out);
}

}  // namespace

int main(int argc, char** argv) {
  char cwd[4096] = "";
  char temporary[64];
  char final[64];
#ifdef _WIN32
  (void)argc;
  (void)argv;
  GetCurrentDirectoryA(sizeof cwd, cwd);
  unsigned long pid = GetCurrentProcessId();
#else
  if (getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = '\0';
  unsigned long pid = static_cast<unsigned long>(getpid());
  // Listed before the record is opened, which takes a descriptor itself.
  int fds[64];
  int fdCount = 0;
  for (int fd = 3; fd < 1024 && fdCount < 64; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) fds[fdCount++] = fd;
  }
#endif
  std::snprintf(temporary, sizeof temporary, "record-%lu.tmp", pid);
  std::snprintf(final, sizeof final, "record-%lu.txt", pid);
  std::FILE* out = std::fopen(temporary, "wb");
  if (out == nullptr) return 1;
  Put(out, "cwd", cwd);
#ifdef _WIN32
  Put(out, "cmd", GetCommandLineA());
#else
  for (int i = 0; i < argc; ++i) Put(out, "arg", argv[i]);
  for (int i = 0; i < fdCount; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, "%d", fds[i]);
    Put(out, "fd", number);
  }
  sigset_t blocked;
  sigprocmask(SIG_BLOCK, nullptr, &blocked);
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sigismember(&blocked, sig) == 1) {
      Put(out, "sig", "blocked");
      break;
    }
  }
  struct sigaction child;
  if (sigaction(SIGCHLD, nullptr, &child) == 0 && child.sa_handler == SIG_IGN) {
    Put(out, "sig", "chld-ignored");
  }
#endif
  if (std::fclose(out) != 0) return 1;
  return std::rename(temporary, final) == 0 ? 0 : 1;
}
