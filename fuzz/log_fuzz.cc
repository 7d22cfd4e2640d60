// A log line from any text and any time fields, however far out of range:
// it always ends in CR LF, fits its buffer, holds no other CR, and holds
// the text's start (a CR in it written as '?').
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_util.h"
#include "log/log.h"

namespace {

int TakeInt(const std::uint8_t*& data, std::size_t& size) {
  std::uint32_t value = 0;
  std::size_t n = size < 4 ? size : 4;
  for (std::size_t i = 0; i < n; ++i) value = (value << 8) | data[i];
  data += n;
  size -= n;
  return static_cast<int>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace wendrake;
  using fuzz::Check;
  os::LocalTime when;
  when.year = TakeInt(data, size);
  when.month = TakeInt(data, size);
  when.day = TakeInt(data, size);
  when.hour = TakeInt(data, size);
  when.minute = TakeInt(data, size);
  when.second = TakeInt(data, size);
  std::string text(reinterpret_cast<const char*>(data), size);  // cut at its first NUL below

  char line[kLogLineCapacity];
  std::size_t length = FormatLogLine(line, when, text.c_str());
  Check(length >= 2 && length < kLogLineCapacity, "line length out of range");
  Check(line[length] == '\0', "line not terminated at its length");
  Check(line[length - 2] == '\r' && line[length - 1] == '\n', "line not ending in CR LF");

  char stamp[128];
  int stampLength = std::snprintf(stamp, sizeof stamp, "%d-%02d-%02d %02d:%02d:%02d - ", when.year,
                                  when.month, when.day, when.hour, when.minute, when.second);
  Check(stampLength > 0 && static_cast<std::size_t>(stampLength) <= length - 2,
        "time stamp longer than the line");
  Check(std::memcmp(line, stamp, static_cast<std::size_t>(stampLength)) == 0, "time stamp altered");
  std::size_t textLength = length - 2 - static_cast<std::size_t>(stampLength);
  text.resize(std::strlen(text.c_str()));
  std::size_t inputLength = text.size();
  Check(textLength <= inputLength, "text part longer than the text");
  Check(std::memchr(line, '\r', length - 2) == nullptr, "a CR before the line's end");
  for (char& c : text) c = c == '\r' ? '?' : c;
  Check(std::memcmp(line + stampLength, text.data(), textLength) == 0,
        "text part not a prefix of the text");
  // Cut only where the line is full.
  Check(textLength == inputLength || length == kLogLineCapacity - 1, "text cut short of the room");
  return 0;
}
