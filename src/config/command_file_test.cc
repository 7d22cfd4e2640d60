#include "config/command_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/thread_control.h"
#include "log/log.h"
#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

using Lines = std::vector<std::string>;

class CommandFileTest : public ::testing::Test {
 protected:
  ~CommandFileTest() override { ResetLogForTesting(); }

  // Loads `contents` as the command file into an empty table and log;
  // returns the log texts after its start line.
  Lines Load(const std::string& contents) {
    ResetLogForTesting();
    std::remove(kLogFileName);
    entryCount = 0;
    std::snprintf(startDirectory, sizeof startDirectory, "%s", dir_.str().c_str());
    testing::WriteWholeFile(kCommandFileName, contents);
    EXPECT_EQ(LoadCommandFile(), 1);
    Lines texts = testing::CurrentLogTexts();
    return Lines(texts.begin() + std::min<std::ptrdiff_t>(1, texts.size()), texts.end());
  }

  testing::ScopedTempDir dir_{true};
};

// Folders are told apart byte by byte: "C:\inbox" is no duplicate of
// "C:\Inbox" but finds the table full. The AddTabel lines print the
// table's fields, so the log shows the table.
TEST_F(CommandFileTest, TheWorkedExampleLineForLineWithLfOrCrLfEnds) {
  const char* const example[] = {
      "#inbox watcher for the night batch",
      "ACTION=AD FOLDER=C:\\Inbox EXECUTE=C:\\Tools\\import.exe CURRENT=C:\\Tools ARGUMENT=-q",
      "ACTION=ut FOLDER=\"D:\\Shared Reports\" EXECUTE=D:\\Bin\\notify.exe CURRENT='D:\\Bin'",
      "ACTION=D FOLDER=C:\\Inbox EXECUTE=C:\\Tools\\purge.exe CURRENT=C:\\Tools",
      "FOLDER=E:\\Drop EXECUTE=E:\\Bin\\copy.exe CURRENT=E:\\Bin",
      "ACTION=A FOLDER=C:\\inbox EXECUTE=C:\\Tools\\import.exe CURRENT=C:\\Tools",
  };
  auto read = [&](int i) { return "CmdFile Read record(" + std::string(example[i]) + "\n)"; };
  // A folder is kept absolute: on Linux these names are relative, and
  // taken against the start directory.
  auto folder = [&](const std::string& written) {
    return os::IsAbsolutePath(written.c_str()) ? written : dir_.str() + "/" + written;
  };
  const Lines expected = {
      read(0),
      read(1),
      "(01)... AddTabel ACTION=(A D )",
      "(01)... AddTabel FOLDER=(" + folder("C:\\Inbox") + ")",
      "(01)... AddTabel EXECUTE=(C:\\Tools\\import.exe)",
      "(01)... AddTabel ARGUMENT=(-q)",
      "(01)... AddTabel CURRENT=(C:\\Tools)",
      read(2),
      "(02)... AddTabel ACTION=( U T)",
      "(02)... AddTabel FOLDER=(" + folder("D:\\Shared Reports") + ")",
      "(02)... AddTabel EXECUTE=(D:\\Bin\\notify.exe)",
      "(02)... AddTabel ARGUMENT=()",
      "(02)... AddTabel CURRENT=(D:\\Bin)",
      read(3),
      "(02)... Duplcate folder - bypassed.",
      read(4),
      "Error format. Record(" + std::string(example[4]) + "\n)",
      read(5),
      "(03)... TCT over flow. max(2)",
      "-Ended- LoadCommandFile.",
  };
  for (std::string end : {"\n", "\r\n"}) {
    std::string file;
    for (const char* line : example) file += line + end;
    EXPECT_EQ(Load(file), expected);
  }
}

// Lines a record leaves in the log: its own, the error or the five
// AddTabel lines, and the end; the worked example has their texts.
enum Outcome : std::size_t { kSkipped = 2, kRejected = 3, kAdded = 7 };

// An over-long value rejects the record: cut, it would watch another folder
// or start another program than the one written.
TEST_F(CommandFileTest, RecordIsAddedOnlyWhenEveryRequiredValueIsThereAndFits) {
  const std::string rest = " EXECUTE=x.e CURRENT=C:\\";
  // An absolute root, so that a folder of 255 bytes is not made longer.
#ifdef _WIN32
  const std::string root = "C:\\";
#else
  const std::string root = "/";
#endif
  const std::string ok = "ACTION=A FOLDER=C:\\" + rest;
  const std::pair<std::string, Outcome> cases[] = {
      {ok, kAdded},
      {"123456\n", kSkipped},
      {"#" + ok, kSkipped},
      {" #" + ok, kAdded},  // a blank before the mark makes no comment
      {"ACTION=X FOLDER=C:\\" + rest, kAdded},
      {"ACTION=A FOLDER=C:" + rest, kRejected},
      {"ACTION=A FOLDER=C:\\ EXECUTE=xe CURRENT=C:\\", kRejected},
      {"ACTION=A FOLDER=C:\\ EXECUTE=x.e CURRENT=C:", kRejected},
      {"ACTION= FOLDER=C:\\" + rest, kRejected},
      {"ACTION=A FOLDER= C:\\In" + rest, kRejected},
      {"action=A FOLDER=C:\\" + rest, kRejected},
      {"ARGUMENT=/FOLDER=x FOLDER=C:\\In ACTION=A" + rest, kRejected},
      {"ACTION=" + std::string(15, 'a') + " FOLDER=C:\\" + rest, kAdded},
      {"ACTION=" + std::string(16, 'a') + " FOLDER=C:\\" + rest, kRejected},
      {"ACTION=A FOLDER=" + root + std::string(255 - root.size(), 'f') + rest, kAdded},
      {"ACTION=A FOLDER=" + root + std::string(256 - root.size(), 'f') + rest, kRejected},
      {ok + " ARGUMENT=" + std::string(255, 'g'), kAdded},
      {ok + " ARGUMENT=" + std::string(256, 'g'), kRejected},
      // A line is one record however long: a comment is skipped whole, a
      // record too long to hold is refused whole; a CR LF that the end of
      // the buffer splits is still one line end.
      {"# retired: " + std::string(500, ' ') + ok + " ARGUMENT=zombie\n", kSkipped},
      {ok + std::string(2 << 20, ' ') + "\n", kRejected},
      {ok + std::string(kRecordMax - 1 - ok.size(), ' ') + "\n", kAdded},
      {ok + std::string(kRecordMax - 1 - ok.size(), ' ') + "\r\n", kAdded},
      {ok + std::string(kRecordMax - ok.size(), ' ') + "\n", kRejected},
  };
  // The last line of a file needs no newline.
  for (const auto& [record, outcome] : cases) {
    EXPECT_EQ(Load(record).size(), outcome) << record.substr(0, 80);
  }

  // A valid record longer than the old 497-byte pieces keeps its tail.
  const std::string wide(190, 'w');
  std::string record = "ACTION=A FOLDER=/f" + wide + " EXECUTE=/e" + wide + " CURRENT=/c" + wide;
  const std::string argument = wide.substr(0, 641 - record.size() - 10);
  ASSERT_EQ(Load(record + " ARGUMENT=" + argument + "\n").size(), kAdded);
  EXPECT_STREQ(EntryAt(1).argument, argument.c_str());
}

// Notepad's UTF-8 (with or without its byte-order mark) and UTF-16 are
// read in the code page on Windows (1252 in the tests), where a character
// the code page lacks refuses its record; any other file, and every file
// on Linux, is read as its bytes, a UTF-8 mark skipped.
TEST_F(CommandFileTest, UnicodeFilesAreReadInTheCodePageOnWindows) {
  // The test texts hold characters of two and three UTF-8 bytes only.
  auto utf16 = [](const std::string& utf8, bool little) {
    std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
    for (std::size_t i = 0; i < utf8.size();) {
      unsigned lead = static_cast<unsigned char>(utf8[i]);
      int extra = lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
      unsigned u = lead & (extra == 0 ? 0x7F : extra == 1 ? 0x1F : 0x0F);
      for (int k = 1; k <= extra; ++k) u = (u << 6) | (utf8[i + k] & 0x3F);
      i += 1 + extra;
      char low = static_cast<char>(u & 0xFF), high = static_cast<char>(u >> 8);
      out += little ? std::string{low, high} : std::string{high, low};
    }
    return out;
  };
  const std::string rest = " EXECUTE=/bin/x CURRENT=/tmp ARGUMENT=";
  const std::string cafe = "ACTION=A FOLDER=/caf\xC3\xA9" + rest + "x\r\n";
  const std::string kanji = "ACTION=A FOLDER=/\xE5\x8F\x97" + rest + "x\n";
  const std::string comment = "# \xE5\x8F\x97\r\n";
  const struct {
    std::string file;
    const char* windowsFolder;  // nullptr: refused
    const char* linuxFolder;
  } cases[] = {
      {"\xEF\xBB\xBF#" + kanji + cafe, "/caf\xE9", "/caf\xC3\xA9"},
      {comment + cafe, "/caf\xE9", "/caf\xC3\xA9"},
      {utf16(comment + cafe, true), "/caf\xE9", nullptr},
      {utf16(comment + cafe, false), "/caf\xE9", nullptr},
      {"ACTION=A FOLDER=/caf\xE9" + rest + "\xC3\n", "/caf\xE9", "/caf\xE9"},
      {kanji, nullptr, "/\xE5\x8F\x97"},
      {utf16(kanji, true), nullptr, nullptr},
  };
  for (const auto& c : cases) {
#ifdef _WIN32
    const char* folder = c.windowsFolder;
    const bool converted = true;
#else
    const char* folder = c.linuxFolder;
    const bool converted = false;
#endif
    Lines lines = Load(c.file);
    ASSERT_EQ(entryCount, folder == nullptr ? 0 : 1) << c.file;
    if (folder != nullptr) {
      // Compared at the end: a folder is made absolute where it is not.
      std::string taken = EntryAt(1).folder;
      EXPECT_EQ(taken.substr(taken.size() - std::strlen(folder)), folder);
    } else if (converted) {
      EXPECT_EQ(lines[lines.size() - 2].rfind("Error code page. Record(ACTION=A FOLDER=/?", 0), 0u);
    }
  }
}

// The command file is found in a start directory whose name the code page
// lacks (Windows, 1252 in the tests), which the log shows as the code page
// can.
TEST_F(CommandFileTest, StartDirectoryOutsideTheCodePageStillFindsItsFile) {
  std::filesystem::path named =
      dir_.path() / std::filesystem::u8path("\xD0\x90\xD0\xBD\xD0\xBD\xD0\xB0");
  std::filesystem::create_directory(named);
  std::filesystem::current_path(named);
  ResetLogForTesting();
  std::snprintf(startDirectory, sizeof startDirectory, "%s", "");
  ASSERT_TRUE(os::CurrentDirectory(startDirectory, sizeof startDirectory));
  testing::WriteWholeFile(kCommandFileName, "ACTION=A FOLDER=/in EXECUTE=/bin/x CURRENT=/tmp\n");
  entryCount = 0;
  EXPECT_EQ(LoadCommandFile(), 1);
  EXPECT_EQ(entryCount, 1);
  std::filesystem::current_path(dir_.path());
}

// A start directory with no room for the name must not make us read the
// file that the cut path names instead.
TEST_F(CommandFileTest, CommandFilePathThatCannotBeMadeEndsTheRun) {
  std::string longDir = dir_.str() + os::kPathSeparator + std::string(241 - dir_.str().size(), 'd');
  std::filesystem::create_directory(longDir);
  testing::WriteWholeFile(longDir + os::kPathSeparator + "WKCommand.tx",
                          "ACTION=A FOLDER=/in EXECUTE=/bin/x CURRENT=/tmp\n");
  std::snprintf(startDirectory, sizeof startDirectory, "%s", longDir.c_str());
  EXPECT_EQ(LoadCommandFile(), 0);
  EXPECT_EQ(testing::CurrentLogTexts().back(), "== Abnormal end.==");
}

}  // namespace
}  // namespace wendrake
