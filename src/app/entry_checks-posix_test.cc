#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/entry_checks.h"
#include "config/thread_control.h"
#include "log/log.h"
#include "test_util.h"

namespace wendrake {
namespace {

// EXECUTE's first word is looked for as the start looks for it: a path
// from the start directory, a bare name in PATH alone; only a file that
// could be executed counts, and CURRENT must be a folder.
TEST(EntryChecksTest, MissingProgramOrWorkingFolderIsWarnedOfOnceAtStart) {
  testing::ScopedTempDir dir(true);
  std::filesystem::create_directory("work");
  testing::WriteWholeFile("tool", "#!/bin/sh\n");
  chmod("tool", 0755);
  testing::WriteWholeFile("plain", "");
  const std::string notFound = "(01)... Warning EXECUTE not found(";
  const std::string noFolder = "(01)... Warning CURRENT not a folder(";
  const struct {
    const char* execute;
    const char* current;
    std::vector<std::string> warnings;
  } cases[] = {
      {"/bin/sh -c true", "work", {}},
      {"sh", ".", {}},
      {"./tool -q", "work/", {}},
      {"no-such-program-here", "work", {notFound + "no-such-program-here)"}},
      {"tool", "work", {notFound + "tool)"}},
      {"./plain", "missing", {notFound + "./plain)", noFolder + "missing)"}},
      {"work", "plain", {notFound + "work)", noFolder + "plain)"}},
  };
  for (const auto& c : cases) {
    std::remove(kLogFileName);
    ResetLogForTesting();
    entryCount = 1;
    std::snprintf(EntryAt(1).execute, kSettingCapacity, "%s", c.execute);
    std::snprintf(EntryAt(1).current, kSettingCapacity, "%s", c.current);
    std::FILE* copy = std::tmpfile();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(WarnOfMissingProgramsAndFolders(copy, "wendrake"),
              static_cast<int>(c.warnings.size()));
    CloseLog();
    std::string expected;
    for (const std::string& line : c.warnings) expected += "wendrake: " + line + "\n";
    std::string copied(4096, '\0');
    std::rewind(copy);
    copied.resize(std::fread(&copied[0], 1, copied.size(), copy));
    std::fclose(copy);
    EXPECT_EQ(testing::CurrentLogTexts(), c.warnings) << c.execute;
    EXPECT_EQ(copied, expected);
  }
  ResetLogForTesting();
  entryCount = 0;
}

}  // namespace
}  // namespace wendrake
