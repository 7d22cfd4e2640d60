// The command file as any bytes at all: reading it must end normally, and
// whatever the table takes from it must fit the table's fields.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "config/command_file.h"
#include "config/thread_control.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace wendrake;
  using fuzz::Check;
  const std::string& start = fuzz::StartInput();
  std::ofstream(start + "/WKCommand.txt", std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  std::snprintf(startDirectory, sizeof startDirectory, "%s", start.c_str());
  Check(LoadCommandFile() == 1, "an existing command file was not read");

  Check(entryCount >= 0 && entryCount <= kMaxEntries, "entry count out of range");
  for (int i = 1; i <= entryCount; ++i) {
    const ThreadControlEntry& entry = EntryAt(i);
    for (const char* field : {entry.folder, entry.execute, entry.current, entry.argument}) {
      Check(std::memchr(field, '\0', kSettingCapacity) != nullptr,
            "a setting fills its field without a terminator");
    }
    // Each path as written has more than two characters; a folder is kept
    // without the separators that end it, so "/n//" is "/n" and "///" "/".
    Check(
        entry.folder[0] != '\0' && std::strlen(entry.execute) > 2 && std::strlen(entry.current) > 2,
        "an empty folder, or a program or working directory of two characters or less, was "
        "taken");
    for (int f = 0; f < 4; ++f) {
      Check(entry.actionFlags[f] == ' ' || entry.actionFlags[f] == "AUDT"[f],
            "an action flag holds something else than its letter or a blank");
    }
    for (int j = 1; j < i; ++j) {
      Check(std::strcmp(EntryAt(j).folder, entry.folder) != 0, "a folder taken twice");
    }
  }
  return 0;
}
