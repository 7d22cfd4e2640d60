// The command file as any bytes at all: reading it must end normally, and
// whatever the table takes from it must fit the table's fields.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "config/command_file.h"
#include "config/thread_control.h"
#include "fuzz_util.h"
#include "log/log.h"

namespace {

using wendrake::fuzz::Check;

bool Terminated(const char* field, std::size_t capacity) {
  return std::memchr(field, '\0', capacity) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace wendrake;
  const std::string& start = fuzz::EnterScratchDirectory();
  fuzz::WriteWholeFile(start + "/WKCommand.txt", data, size);
  std::snprintf(startDirectory, sizeof startDirectory, "%s", start.c_str());

  // A fresh log each run, so that it never grows past one run's lines.
  ResetLogForTesting();
  std::remove(kLogFileName);
  entryCount = 0;
  ClearThreadControlTable();
  Check(LoadCommandFile() == 1, "an existing command file was not read");

  Check(entryCount >= 0 && entryCount <= kMaxEntries, "entry count out of range");
  for (int i = 1; i <= entryCount; ++i) {
    const ThreadControlEntry& entry = EntryAt(i);
    Check(Terminated(entry.folder, sizeof entry.folder) &&
              Terminated(entry.execute, sizeof entry.execute) &&
              Terminated(entry.current, sizeof entry.current) &&
              Terminated(entry.argument, sizeof entry.argument),
          "a setting fills its field without a terminator");
    Check(std::strlen(entry.folder) > 2 && std::strlen(entry.execute) > 2 &&
              std::strlen(entry.current) > 2,
          "a path setting of two characters or less was taken");
    static const char kLetters[] = "AUDT";
    for (int f = 0; f < 4; ++f) {
      Check(entry.actionFlags[f] == ' ' || entry.actionFlags[f] == kLetters[f],
            "an action flag holds something else than its letter or a blank");
    }
    for (int j = 1; j < i; ++j) {
      Check(std::strcmp(EntryAt(j).folder, entry.folder) != 0, "a folder taken twice");
    }
  }
  ResetLogForTesting();
  std::remove(kLogFileName);
  return 0;
}
