#include "config/command_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "config/thread_control.h"
#include "log/log.h"
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
  const Lines expected = {
      read(0),
      read(1),
      "(01)... AddTabel ACTION=(A D )",
      "(01)... AddTabel FOLDER=(C:\\Inbox)",
      "(01)... AddTabel EXECUTE=(C:\\Tools\\import.exe)",
      "(01)... AddTabel ARGUMENT=(-q)",
      "(01)... AddTabel CURRENT=(C:\\Tools)",
      read(2),
      "(02)... AddTabel ACTION=( U T)",
      "(02)... AddTabel FOLDER=(D:\\Shared Reports)",
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
      {"ACTION=A FOLDER=" + std::string(255, 'f') + rest, kAdded},
      {"ACTION=A FOLDER=" + std::string(256, 'f') + rest, kRejected},
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
