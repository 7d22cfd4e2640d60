// Current directory and local time on Linux.
#include <errno.h>
#include <time.h>
#include <unistd.h>

#include "os/calendar.h"
#include "os/internal-posix.h"
#include "os/os.h"

namespace wendrake {
namespace os {

bool CurrentDirectory(char* buffer, std::size_t capacity) {
  if (capacity == 0) return false;
  if (getcwd(buffer, capacity) == nullptr) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

bool LocalTimeOfSeconds(std::int64_t seconds, LocalTime* out) {
  time_t when = static_cast<time_t>(seconds);
  struct tm parts = {};
  if (localtime_r(&when, &parts) == nullptr) return false;  // each caller its own result
  *out = FromCalendar(parts);
  return true;
}

void LocalTimeNow(LocalTime* out) {
  if (!LocalTimeOfSeconds(time(nullptr), out)) *out = LocalTime{0, 0, 0, 0, 0, 0};
}

}  // namespace os
}  // namespace wendrake
