// Text files on Linux. The command file is written on Windows as often as
// not, so CR LF line ends are folded to '\n' as the Windows C library's text
// mode does; one file then serves both builds.
#include <cstdio>
#include <cstring>

#include "os/os.h"

namespace wendrake {
namespace os {

std::FILE* TextOpenForRead(const char* path) {
  return std::fopen(path, "re");
}

char* TextReadLine(char* buffer, int limit, std::FILE* file) {
  if (std::fgets(buffer, limit, file) == nullptr) return nullptr;
  std::size_t length = std::strlen(buffer);
  if (length >= 2 && buffer[length - 2] == '\r' && buffer[length - 1] == '\n') {
    buffer[length - 2] = '\n';
    buffer[length - 1] = '\0';
  } else if (length >= 1 && buffer[length - 1] == '\r') {
    // The buffer filled up between CR and LF: text mode would have given
    // the pair as one '\n' in this very place.
    int next = std::getc(file);
    if (next == '\n') {
      buffer[length - 1] = '\n';
    } else if (next != EOF) {
      std::ungetc(next, file);
    }
  }
  return buffer;
}

}  // namespace os
}  // namespace wendrake
