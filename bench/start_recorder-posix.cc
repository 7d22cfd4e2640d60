// start_recorder PATH FLAG [WORDS...] RESULTS: the program every watcher
// under measurement starts. Its first act is to read CLOCK_MONOTONIC; it
// then appends "<nanoseconds> <PATH>\n" to RESULTS with one write, so that
// lines of recorders running at once never mix. Linked statically, so that
// what is measured is the watcher's start of a program, not the dynamic
// loader.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  if (argc < 3) return 2;
  char line[4352];
  int length =
      std::snprintf(line, sizeof line, "%lld %s\n",
                    static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec, argv[1]);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof line) return 2;
  int fd = open(argv[argc - 1], O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return 1;
  bool written = write(fd, line, static_cast<std::size_t>(length)) == length;
  close(fd);
  return written ? 0 : 1;
}
