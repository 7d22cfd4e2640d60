#include "launch/launcher.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <tuple>

#include "launch/launcher_test_util.h"
#include "os/os.h"

namespace wendrake {
namespace {

using testing::CurrentLogTexts;

const std::string kSep(1, os::kPathSeparator);

TEST_F(LauncherTest, BuildersMakeTheArgumentStringOfTheirEntryAndLogTheNameOnly) {
  const std::tuple<Builder, const char*, const char*> kinds[] = {
      {BuildDeleteCommand, "-D", "Delete"},
      {BuildAdditionCommand, "-A", "Adition"},
      {BuildUpdateCommand, "-U", "Update"}};
  Set(2, Folder("second"), Recorder(), current_.string(), "");
  for (const auto& [builder, flag, word] : kinds) {
    for (int index = 1; index <= 2; ++index) {
      for (std::string argument : {"", "PROD -q"}) {
        FreshLog();
        std::snprintf(EntryAt(index).argument, kSettingCapacity, "%s", argument.c_str());
        EXPECT_EQ(Build(builder, index, "my file.txt  "),
                  "\"" + std::string(EntryAt(index).folder) + kSep + "my file.txt\" " + flag +
                      (argument.empty() ? "" : " " + argument));
        EXPECT_EQ(CurrentLogTexts(), Lines{"(0" + std::to_string(index) + ")... ... ... ... " +
                                           word + "(my file.txt)"});
      }
    }
  }
  // A name that begins with a blank counts as empty.
  EXPECT_EQ(Build(BuildDeleteCommand, 2, " x"), "\"" + Folder("second") + kSep + "\" -D PROD -q");
}

TEST_F(LauncherTest, OverlongArgumentStringIsLeftEmptyNotCut) {
  // Folder and ARGUMENT lengths, and that of the string built:
  // '"' folder separator "n" "\" -A" [' ' argument].
  const std::size_t cases[][3] = {
      {248, 0, 255}, {249, 0, 0}, {200, 47, 255}, {200, 48, 0}, {255, 0, 0}};
  for (const auto& c : cases) {
    Set(1, std::string(c[0], 'f'), Recorder(), current_.string(), std::string(c[1], 'g'));
    EXPECT_EQ(Build(BuildAdditionCommand, 1, "n").size(), c[2]) << c[0];
    EXPECT_EQ(CurrentLogTexts().back(), "(01)... ... ... ... Adition(n)");
  }
}

TEST_F(LauncherTest, EveryLaunchLogsItsOutcomeAndDetailsAndOnlyGoodOnesStart) {
  // The command line is EXECUTE, '"', the folder, "/n", "\" -A" and two
  // blanks: a folder of this length makes it 255 bytes.
  std::size_t folderFor255 = 255 - Recorder().size() - 8;
  // A file that is no program (never handed to a shell instead), and a
  // CURRENT that is missing or is a file.
  const std::string script = Folder("no-interpreter.exe");
  testing::WriteWholeFile(script, "touch pwned\n");
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
#ifdef _WIN32
  const int kNoProgram = 193, kNoDirectory = 267, kNotDirectory = 267;  // BAD_EXE_FORMAT, DIRECTORY
#else
  const int kNoProgram = ENOEXEC, kNoDirectory = ENOENT, kNotDirectory = ENOTDIR;
#endif
  struct Case {
    const char* what;
    std::string folder;
    std::string execute;
    std::string current;
    int code;
  };
  const Case cases[] = {
      {"missing program", Folder("in"), Folder("no-such.exe"), current_.string(), 2},
      {"blank program", Folder("in"), "   ", current_.string(), 2},
      {"not a program", Folder("in"), script, current_.string(), kNoProgram},
      {"missing CURRENT", Folder("in"), Recorder(), Folder("none"), kNoDirectory},
      {"CURRENT a file", Folder("in"), Recorder(), script, kNotDirectory},
      {"argument string too long", std::string(250, 'f'), Recorder(), current_.string(),
       os::PathTooLongError()},
      {"command line too long", std::string(folderFor255 + 1, 'f'), Recorder(), current_.string(),
       os::PathTooLongError()},
      {"command line of 255", std::string(folderFor255, 'f'), Recorder(), current_.string(), 0},
  };
  for (const Case& c : cases) {
    FreshLog();
    Set(1, c.folder, c.execute, c.current, "");
    std::string argumentString = BuildAndLaunch(1, "n");
    EXPECT_EQ(CurrentLogTexts(), Expected("n", c.code, argumentString)) << c.what;
  }
  testing::ArgvRecord record;
  ASSERT_TRUE(testing::WaitForArgvRecord(current_, &record));
  EXPECT_EQ(testing::CountArgvRecords(current_), 1);
  EXPECT_FALSE(std::filesystem::exists(current_ / "pwned"));
}

}  // namespace
}  // namespace wendrake
