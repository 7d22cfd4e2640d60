#include "config/command_file.h"

#include <gtest/gtest.h>

#include <algorithm>
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

std::string Cut(const std::string& text) {
  return text.substr(0, kLogTextMax);
}

TEST(ExtractKeywordValueTest, QuotesBlanksAndKeywordMatching) {
  const char* cases[][2] = {
      {"FOLDER=\"it's here\"\n", "it's here"},
      {"FOLDER='say \"hi\"' x\n", "say \"hi\""},
      {"FOLDER=\"unclosed value\n", "unclosed value"},
      {"FOLDER=\"\" EXECUTE=x\n", ""},
      {"XFOLDER=abc\n", "abc"},  // found anywhere, as the record is searched
      {"FOLDER=a\tb c\n", "a\tb"},
  };
  for (const auto& c : cases) {
    char value[kRecordCapacity] = {};
    ExtractKeywordValue(value, c[0], "FOLDER=");
    EXPECT_STREQ(value, c[1]) << c[0];
  }
}

class CommandFileTest : public ::testing::Test {
 protected:
  CommandFileTest() : dir_(true) {
    Fresh();
    std::snprintf(startDirectory, sizeof startDirectory, "%s", dir_.str().c_str());
    path_ = dir_.str() + os::kPathSeparator + "WKCommand.txt";
  }
  ~CommandFileTest() override { ResetLogForTesting(); }

  static void Fresh() {
    ResetLogForTesting();
    std::remove(kLogFileName);
    entryCount = 0;
  }

  // Loads `contents` as the command file into an empty table and log;
  // returns the log texts after the two start lines.
  Lines Load(const std::string& contents) {
    Fresh();
    testing::WriteWholeFile(path_, contents);
    ClearThreadControlTable();
    EXPECT_EQ(LoadCommandFile(), 1);
    Lines texts = testing::CurrentLogTexts();
    texts.resize(std::max<std::size_t>(texts.size(), 2));
    EXPECT_EQ(texts[0], "-Start- Clear ThreadControlTable.");
    EXPECT_EQ(texts[1], "-Start- LoadCommandFile. FileName(" + path_ + ")");
    return Lines(texts.begin() + 2, texts.end());
  }

  testing::ScopedTempDir dir_;
  std::string path_;
};

const char kExample[] =
    "#inbox watcher for the night batch\n"
    "ACTION=AD FOLDER=C:\\Inbox EXECUTE=C:\\Tools\\import.exe CURRENT=C:\\Tools ARGUMENT=-q\n"
    "ACTION=ut FOLDER=\"D:\\Shared Reports\" EXECUTE=D:\\Bin\\notify.exe CURRENT='D:\\Bin'\n"
    "ACTION=D FOLDER=C:\\Inbox EXECUTE=C:\\Tools\\purge.exe CURRENT=C:\\Tools\n"
    "FOLDER=E:\\Drop EXECUTE=E:\\Bin\\copy.exe CURRENT=E:\\Bin\n";

const Lines kExampleLog = {
    "CmdFile Read record(#inbox watcher for the night batch\n)",
    "CmdFile Read record(ACTION=AD FOLDER=C:\\Inbox EXECUTE=C:\\Tools\\import.exe "
    "CURRENT=C:\\Tools ARGUMENT=-q\n)",
    "(01)... AddTabel ACTION=(A D )",
    "(01)... AddTabel FOLDER=(C:\\Inbox)",
    "(01)... AddTabel EXECUTE=(C:\\Tools\\import.exe)",
    "(01)... AddTabel ARGUMENT=(-q)",
    "(01)... AddTabel CURRENT=(C:\\Tools)",
    "CmdFile Read record(ACTION=ut FOLDER=\"D:\\Shared Reports\" EXECUTE=D:\\Bin\\notify.exe "
    "CURRENT='D:\\Bin'\n)",
    "(02)... AddTabel ACTION=( U T)",
    "(02)... AddTabel FOLDER=(D:\\Shared Reports)",
    "(02)... AddTabel EXECUTE=(D:\\Bin\\notify.exe)",
    "(02)... AddTabel ARGUMENT=()",
    "(02)... AddTabel CURRENT=(D:\\Bin)",
    "CmdFile Read record(ACTION=D FOLDER=C:\\Inbox EXECUTE=C:\\Tools\\purge.exe "
    "CURRENT=C:\\Tools\n)",
    "(02)... Duplcate folder - bypassed.",
    "CmdFile Read record(FOLDER=E:\\Drop EXECUTE=E:\\Bin\\copy.exe CURRENT=E:\\Bin\n)",
    "Error format. Record(FOLDER=E:\\Drop EXECUTE=E:\\Bin\\copy.exe CURRENT=E:\\Bin\n)",
    "-Ended- LoadCommandFile.",
};

// The AddTabel lines print the table's fields, so the log shows the table.
TEST_F(CommandFileTest, TheWorkedExampleLineForLineWithLfOrCrLfEnds) {
  std::string crlf;
  for (char c : std::string(kExample)) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string& file : {std::string(kExample), crlf}) {
    EXPECT_EQ(Load(file), kExampleLog);
    EXPECT_EQ(entryCount, 2);
  }
}

TEST_F(CommandFileTest, CrLfSplitByTheReadLimitStaysOneLineEnd) {
  std::string record = "ACTION=A FOLDER=/in EXECUTE=/bin/x CURRENT=/tmp";
  record += std::string(kRecordMax - 1 - record.size(), ' ');
  Lines lines = Load(record + "\r\nACTION=A FOLDER=/two EXECUTE=/bin/x CURRENT=/tmp\r\n");
  EXPECT_EQ(entryCount, 2);
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[6], "CmdFile Read record(ACTION=A FOLDER=/two EXECUTE=/bin/x CURRENT=/tmp\n)");
}

TEST_F(CommandFileTest, ShortRecordsAndCommentsAreSkippedSilently) {
  EXPECT_EQ(Load("\n123456\n# ACTION=A FOLDER=/in EXECUTE=/bin/x CURRENT=/tmp\nACTION=\n"),
            (Lines{
                "CmdFile Read record(\n)",
                "CmdFile Read record(123456\n)",
                "CmdFile Read record(# ACTION=A FOLDER=/in EXECUTE=/bin/x CURRENT=/tmp\n)",
                "CmdFile Read record(ACTION=\n)",
                "Error format. Record(ACTION=\n)",
                "-Ended- LoadCommandFile.",
            }));
  EXPECT_EQ(entryCount, 0);
}

// An over-long value rejects the record: cut, it would watch another folder
// or start another program than the one written.
TEST_F(CommandFileTest, RecordIsAddedOnlyWhenEveryRequiredValueIsThereAndFits) {
  const std::string rest = " EXECUTE=x.e CURRENT=C:\\";
  const std::string ok = "ACTION=A FOLDER=C:\\" + rest;
  const std::pair<std::string, bool> cases[] = {
      {ok, true},
      {" #" + ok, true},  // a blank before the mark makes no comment
      {"ACTION=X FOLDER=C:\\" + rest, true},
      {"ACTION=A FOLDER=C:" + rest, false},
      {"ACTION=A FOLDER=C:\\ EXECUTE=xe CURRENT=C:\\", false},
      {"ACTION=A FOLDER=C:\\ EXECUTE=x.e CURRENT=C:", false},
      {"ACTION= FOLDER=C:\\" + rest, false},
      {"ACTION=A FOLDER= C:\\In" + rest, false},
      {"action=A FOLDER=C:\\" + rest, false},
      {"ARGUMENT=/FOLDER=x FOLDER=C:\\In ACTION=A" + rest, false},
      {"ACTION=" + std::string(15, 'a') + " FOLDER=C:\\" + rest, true},
      {"ACTION=" + std::string(16, 'a') + " FOLDER=C:\\" + rest, false},
      {"ACTION=A FOLDER=" + std::string(255, 'f') + rest, true},
      {"ACTION=A FOLDER=" + std::string(256, 'f') + rest, false},
      {ok + " ARGUMENT=" + std::string(255, 'g'), true},
      {ok + " ARGUMENT=" + std::string(256, 'g'), false},
  };
  for (const auto& [record, valid] : cases) {
    Lines lines = Load(record);  // the last line of a file needs no newline
    ASSERT_EQ(lines.size(), valid ? 7u : 3u) << record;
    EXPECT_EQ(lines[0], Cut("CmdFile Read record(" + record + ")"));
    EXPECT_EQ(entryCount, valid ? 1 : 0) << record;
    EXPECT_EQ(lines[1] == Cut("Error format. Record(" + record + ")"), !valid) << record;
  }
}

TEST_F(CommandFileTest, LongLineIsReadInPiecesOf497) {
  std::string filler(kRecordMax, 'x');
  std::string valid = "ACTION=A FOLDER=/in EXECUTE=/bin/x CURRENT=/tmp\n";
  Lines lines = Load(filler + valid);
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0], Cut("CmdFile Read record(" + filler));
  EXPECT_EQ(lines[1], Cut("Error format. Record(" + filler));
  EXPECT_EQ(lines[2], "CmdFile Read record(" + valid + ")");
  EXPECT_EQ(entryCount, 1);
}

TEST_F(CommandFileTest, CommandFileThatCannotBeOpenedEndsTheRun) {
  ClearThreadControlTable();
  EXPECT_EQ(LoadCommandFile(), 0);
  EXPECT_EQ(testing::CurrentLogTexts(), (Lines{
                                            "-Start- Clear ThreadControlTable.",
                                            "-Start- LoadCommandFile. FileName(" + path_ + ")",
                                            "CmdFile Open error. FileName(" + path_ + ")",
                                            "== Abnormal end.==",
                                        }));
  // A start directory with no room for the name, or none at all, must not
  // make us read the file the cut path names instead.
  std::string longDir = dir_.str() + os::kPathSeparator + std::string(241 - dir_.str().size(), 'd');
  std::filesystem::create_directory(longDir);
  testing::WriteWholeFile(longDir + os::kPathSeparator + "WKCommand.tx",
                          "ACTION=A FOLDER=/in EXECUTE=/bin/x CURRENT=/tmp\n");
  for (const std::string& start : {longDir, std::string()}) {
    std::snprintf(startDirectory, sizeof startDirectory, "%s", start.c_str());
    EXPECT_EQ(LoadCommandFile(), 0);
    EXPECT_EQ(testing::CurrentLogTexts().back(), "== Abnormal end.==");
  }
  EXPECT_EQ(entryCount, 0);
}

}  // namespace
}  // namespace wendrake
