// argv_recorder: writes how it was started to record-<pid>.txt in its
// current directory, under a temporary name first so that a reader never
// sees half of one. One value a line: a tag, a blank, the value in hex.
//   cwd  the working directory       cmd  GetCommandLineA() (Windows)
//   arg  each element of argv        fd   each descriptor open at start
//                                         besides 0, 1 and 2 (Linux)
//   sig  "blocked" when a signal is blocked, "chld-ignored" when SIGCHLD
//        is ignored (Linux)
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>

namespace {

void Put(std::FILE* out, const char* tag, const char* value) {
  std::fprintf(out, "%s ", tag);
  for (const char* p = value; *p != '\0'; ++p) std::fprintf(out, "%02x", *p & 0xFF);
  std::fputc('\n', out);
}

}  // namespace

int main(int argc, char** argv) {
  char temporary[64], final[64];
#ifdef _WIN32
  unsigned long pid = GetCurrentProcessId();
#else
  unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  std::snprintf(temporary, sizeof temporary, "record-%lu.tmp", pid);
  std::snprintf(final, sizeof final, "record-%lu.txt", pid);
  std::FILE* out = std::fopen(temporary, "wb");
  if (out == nullptr) return 1;
  Put(out, "cwd", std::filesystem::current_path().string().c_str());
  for (int i = 0; i < argc; ++i) Put(out, "arg", argv[i]);
#ifdef _WIN32
  Put(out, "cmd", GetCommandLineA());
#else
  for (int fd = 3; fd < 1024; ++fd) {
    char number[16];
    std::snprintf(number, sizeof number, "%d", fd);
    if (fd != fileno(out) && fcntl(fd, F_GETFD) != -1) Put(out, "fd", number);
  }
  sigset_t blocked;
  sigprocmask(SIG_BLOCK, nullptr, &blocked);
  bool any = false;
  for (int sig = 1; sig < NSIG; ++sig) any |= sigismember(&blocked, sig) == 1;
  if (any) Put(out, "sig", "blocked");
  struct sigaction child;
  if (sigaction(SIGCHLD, nullptr, &child) == 0 && child.sa_handler == SIG_IGN) {
    Put(out, "sig", "chld-ignored");
  }
#endif
  if (std::fclose(out) != 0) return 1;
  return std::rename(temporary, final) == 0 ? 0 : 1;
}
