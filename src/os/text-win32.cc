// Text files on Windows: the C library's text mode folds CR LF itself.
#include <cstdio>

#include "os/os.h"

namespace wendrake {
namespace os {

std::FILE* TextOpenForRead(const char* path) {
  return std::fopen(path, "r");
}

char* TextReadLine(char* buffer, int limit, std::FILE* file) {
  return std::fgets(buffer, limit, file);
}

}  // namespace os
}  // namespace wendrake
