// The C library's broken-down time as a LocalTime, for the clocks of both
// platforms, which get their local time from the C library alike.
#ifndef WENDRAKE_OS_CALENDAR_H_
#define WENDRAKE_OS_CALENDAR_H_

#include <ctime>

#include "os/os.h"

namespace wendrake {
namespace os {

inline LocalTime FromCalendar(const std::tm& parts) {
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                   parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

}  // namespace os
}  // namespace wendrake

#endif  // WENDRAKE_OS_CALENDAR_H_
