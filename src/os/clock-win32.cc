// Current directory and local time on Windows.
#include <windows.h>

#include <ctime>

#include "os/calendar.h"
#include "os/os.h"

namespace wendrake {
namespace os {

bool CurrentDirectory(char* buffer, std::size_t capacity) {
  if (capacity == 0) return false;
  DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(capacity), buffer);
  // A result of `capacity` or more is the size the path would need.
  if (length == 0 || length >= capacity) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

void LocalTimeNow(LocalTime* out) {
  std::time_t now = std::time(nullptr);
  std::tm parts = {};
  localtime_s(&parts, &now);  // each caller its own result
  *out = FromCalendar(parts);
}

}  // namespace os
}  // namespace wendrake
