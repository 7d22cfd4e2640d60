#include "config/command_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/thread_control.h"
#include "log/log.h"
#include "test_util.h"

namespace wendrake {
namespace {

using Lines = std::vector<std::string>;

TEST(ExtractKeywordValueTest, ValueSyntax) {
  struct Case {
    const char* record;
    const char* keyword;
    const char* value;
  };
  const Case cases[] = {
      {"ACTION=AD FOLDER=x\n", "ACTION=", "AD"},
      {"FOLDER=\"D:\\Shared Reports\" EXECUTE=y\n", "FOLDER=", "D:\\Shared Reports"},
      {"CURRENT='D:\\Bin'\n", "CURRENT=", "D:\\Bin"},
      {"FOLDER=\"it's here\"\n", "FOLDER=", "it's here"},
      {"FOLDER='say \"hi\"' x\n", "FOLDER=", "say \"hi\""},
      {"FOLDER=\"unclosed value\n", "FOLDER=", "unclosed value"},
      {"FOLDER=\"\" EXECUTE=x\n", "FOLDER=", ""},
      {"FOLDER= C:\\In\n", "FOLDER=", ""},
      {"folder=C:\\In\n", "FOLDER=", ""},
      {"XFOLDER=abc\n", "FOLDER=", "abc"},
      {"ARGUMENT=/FOLDER=x FOLDER=C:\\In\n", "FOLDER=", "x"},
      {"FOLDER=a\tb c\n", "FOLDER=", "a\tb"},
      {"FOLDER=abc", "FOLDER=", "abc"},
      {"EXECUTE=x\n", "FOLDER=", ""},
  };
  for (const Case& c : cases) {
    char value[kRecordCapacity] = {};
    ExtractKeywordValue(value, c.record, c.keyword);
    EXPECT_STREQ(value, c.value) << c.record;
  }
}

class CommandFileTest : public ::testing::Test {
 protected:
  CommandFileTest() : dir_(true) {
    ResetLogForTesting();
    entryCount = 0;
    std::snprintf(startDirectory, sizeof startDirectory, "%s", dir_.str().c_str());
    path_ = dir_.str() + os::kPathSeparator + "WKCommand.txt";
  }
  ~CommandFileTest() override { ResetLogForTesting(); }

  // Loads `contents` as the command file; returns the log texts.
  Lines Load(const std::string& contents, int expectedResult = 1) {
    testing::WriteWholeFile(path_, contents);
    ClearThreadControlTable();
    EXPECT_EQ(LoadCommandFile(), expectedResult);
    Lines texts = testing::CurrentLogTexts();
    EXPECT_GE(texts.size(), 3u);
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

void ExpectExampleTable() {
  ASSERT_EQ(entryCount, 2);
  EXPECT_STREQ(EntryAt(1).actionFlags, "A D ");
  EXPECT_STREQ(EntryAt(1).argument, "-q");
  EXPECT_STREQ(EntryAt(1).mutexName, "KSFF01");
  EXPECT_STREQ(EntryAt(2).actionFlags, " U T");
  EXPECT_STREQ(EntryAt(2).folder, "D:\\Shared Reports");
  EXPECT_STREQ(EntryAt(2).current, "D:\\Bin");
  EXPECT_STREQ(EntryAt(2).argument, "");
  EXPECT_STREQ(EntryAt(2).mutexName, "KSFF02");
}

TEST_F(CommandFileTest, TheWorkedExampleLineForLine) {
  EXPECT_EQ(Load(kExample), kExampleLog);
  ExpectExampleTable();
}

TEST_F(CommandFileTest, CrLfLineEndsReadAsNewlines) {
  std::string crlf;
  for (char c : std::string(kExample)) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  EXPECT_EQ(Load(crlf), kExampleLog);
  ExpectExampleTable();
}

TEST_F(CommandFileTest, CrLfSplitByTheReadLimitStaysOneLineEnd) {
  std::string record = "ACTION=A FOLDER=/in EXECUTE=/bin/x CURRENT=/tmp";
  record += std::string(kRecordMax - 1 - record.size(), ' ');
  Lines lines = Load(record + "\r\nACTION=A FOLDER=/two EXECUTE=/bin/x CURRENT=/tmp\r\n");
  EXPECT_EQ(entryCount, 2);
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[6], "CmdFile Read record(ACTION=A FOLDER=/two EXECUTE=/bin/x CURRENT=/tmp\n)");
}

TEST_F(CommandFileTest, EmptyFileLogsOnlyStartAndEnd) {
  EXPECT_EQ(Load(""), Lines{"-Ended- LoadCommandFile."});
  EXPECT_EQ(entryCount, 0);
}

TEST_F(CommandFileTest, ShortRecordsAndCommentsAreSkippedSilently) {
  Lines lines = Load("\n123456\n# ACTION=A FOLDER=/in EXECUTE=/bin/x CURRENT=/tmp\nACTION=\n");
  EXPECT_EQ(lines, (Lines{
                       "CmdFile Read record(\n)",
                       "CmdFile Read record(123456\n)",
                       "CmdFile Read record(# ACTION=A FOLDER=/in EXECUTE=/bin/x CURRENT=/tmp\n)",
                       "CmdFile Read record(ACTION=\n)",
                       "Error format. Record(ACTION=\n)",
                       "-Ended- LoadCommandFile.",
                   }));
  EXPECT_EQ(entryCount, 0);
}

TEST_F(CommandFileTest, BlankBeforeTheMarkMakesNoComment) {
  Load(" #ACTION=A FOLDER=/in EXECUTE=/bin/x CURRENT=/tmp\n");
  ASSERT_EQ(entryCount, 1);
  EXPECT_STREQ(EntryAt(1).folder, "/in");
}

TEST_F(CommandFileTest, RulesOnRequiredValues) {
  struct Case {
    const char* record;
    bool valid;
  };
  const Case cases[] = {
      {"ACTION=A FOLDER=C:\\ EXECUTE=x.e CURRENT=C:\\", true},
      {"ACTION=A FOLDER=C: EXECUTE=x.e CURRENT=C:\\", false},
      {"ACTION=A FOLDER=C:\\ EXECUTE=xe CURRENT=C:\\", false},
      {"ACTION=A FOLDER=C:\\ EXECUTE=x.e CURRENT=C:", false},
      {"ACTION= FOLDER=C:\\ EXECUTE=x.e CURRENT=C:\\", false},
      {"ACTION=X FOLDER=C:\\ EXECUTE=x.e CURRENT=C:\\", true},
      {"ACTION=A FOLDER= C:\\In EXECUTE=x.e CURRENT=C:\\", false},
      {"action=A FOLDER=C:\\ EXECUTE=x.e CURRENT=C:\\", false},
      {"ARGUMENT=/FOLDER=x FOLDER=C:\\In ACTION=A EXECUTE=x.e CURRENT=C:\\", false},
  };
  for (const Case& c : cases) {
    ResetLogForTesting();
    std::remove("Wendrake.log");
    entryCount = 0;
    // The last line of a file needs no newline.
    Lines lines = Load(c.record);
    EXPECT_EQ(lines[0], std::string("CmdFile Read record(") + c.record + ")");
    EXPECT_EQ(entryCount, c.valid ? 1 : 0) << c.record;
    EXPECT_EQ(lines[1] == std::string("Error format. Record(") + c.record + ")", !c.valid)
        << c.record;
  }
}

TEST_F(CommandFileTest, OverlongValuesRejectTheRecordInsteadOfBeingCut) {
  auto record = [](std::size_t actionLength, std::size_t folderLength, std::size_t argLength) {
    return "ACTION=" + std::string(actionLength, 'a') + " FOLDER=/" +
           std::string(folderLength - 1, 'f') + " EXECUTE=/bin/x CURRENT=/tmp ARGUMENT=" +
           std::string(argLength, 'g') + "\n";
  };
  auto errors = []() {
    int count = 0;
    for (const std::string& t : testing::CurrentLogTexts()) {
      count += t.rfind("Error format. Record(", 0) == 0;
    }
    return count;
  };
  Load(record(15, 10, 1) + record(16, 10, 1) + record(1, 255, 1) + record(1, 256, 1));
  ASSERT_EQ(entryCount, 2);
  EXPECT_EQ(std::strlen(EntryAt(1).actionFlags), 4u);
  EXPECT_EQ(std::strlen(EntryAt(2).folder), 255u);
  EXPECT_EQ(errors(), 2);

  ResetLogForTesting();
  std::remove("Wendrake.log");
  entryCount = 0;
  Load(record(1, 12, 255) + record(1, 13, 256));
  ASSERT_EQ(entryCount, 1);
  EXPECT_EQ(std::strlen(EntryAt(1).argument), 255u);
  EXPECT_EQ(errors(), 1);
}

TEST_F(CommandFileTest, LongLineIsReadInPiecesOf497) {
  std::string filler(kRecordMax, 'x');
  std::string valid = "ACTION=A FOLDER=/in EXECUTE=/bin/x CURRENT=/tmp\n";
  Lines lines = Load(filler + valid);
  ASSERT_EQ(lines.size(), 9u);
  std::string cut = ("CmdFile Read record(" + filler).substr(0, kLogTextMax);
  EXPECT_EQ(lines[0], cut);
  EXPECT_EQ(lines[1], ("Error format. Record(" + filler).substr(0, kLogTextMax));
  EXPECT_EQ(lines[2], "CmdFile Read record(" + valid + ")");
  EXPECT_EQ(entryCount, 1);
}

TEST_F(CommandFileTest, MissingFileEndsWithoutAnEndedLine) {
  ClearThreadControlTable();
  EXPECT_EQ(LoadCommandFile(), 0);
  EXPECT_EQ(testing::CurrentLogTexts(), (Lines{
                                            "-Start- Clear ThreadControlTable.",
                                            "-Start- LoadCommandFile. FileName(" + path_ + ")",
                                            "CmdFile Open error. FileName(" + path_ + ")",
                                            "== Abnormal end.==",
                                        }));
  EXPECT_EQ(entryCount, 0);
}

TEST_F(CommandFileTest, StartDirectoryWithoutRoomForTheFileNameCannotBeOpened) {
  std::string longDir = dir_.str() + std::string(242 - dir_.str().size(), 'd');
  std::snprintf(startDirectory, sizeof startDirectory, "%s", longDir.c_str());
  EXPECT_EQ(LoadCommandFile(), 0);
  Lines texts = testing::CurrentLogTexts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[2], "== Abnormal end.==");

  startDirectory[0] = '\0';
  EXPECT_EQ(LoadCommandFile(), 0);
}

}  // namespace
}  // namespace wendrake
