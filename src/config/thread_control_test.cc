#include "config/thread_control.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "test_util.h"

namespace wendrake {
namespace {

using testing::CurrentLogTexts;
using Lines = std::vector<std::string>;

class ThreadControlTest : public ::testing::Test {
 protected:
  ThreadControlTest() : dir_(true) {
    ResetLogForTesting();
    entryCount = 0;
    ClearThreadControlTable();
  }
  ~ThreadControlTest() override { ResetLogForTesting(); }

  // The log lines written since the clearing line.
  Lines LinesAfterClear() {
    Lines texts = CurrentLogTexts();
    EXPECT_FALSE(texts.empty());
    EXPECT_EQ(texts[0], "-Start- Clear ThreadControlTable.");
    return Lines(texts.begin() + 1, texts.end());
  }

  testing::ScopedTempDir dir_;
};

TEST_F(ThreadControlTest, ClearingNumbersBothEntriesAndEmptiesThem) {
  EXPECT_EQ(CurrentLogTexts(), Lines{"-Start- Clear ThreadControlTable."});
  for (int i = 1; i <= 2; ++i) {
    const ThreadControlEntry& e = EntryAt(i);
    EXPECT_EQ(e.index, i);
    EXPECT_EQ(std::string(e.actionFlags, 4), std::string("   \0", 4));
    EXPECT_EQ(e.mutexName[0], '\0');
    EXPECT_EQ(e.folder[0], '\0');
    EXPECT_EQ(e.threadHandle, 0);
    EXPECT_EQ(e.changeHandle, 0);
  }
}

TEST_F(ThreadControlTest, AddedEntryHoldsItsSettingsAndLogsFiveLines) {
  AddTabel("ad", "C:\\Inbox", "C:\\Tools\\import.exe", "C:\\Tools", "");
  ASSERT_EQ(entryCount, 1);
  const ThreadControlEntry& e = EntryAt(1);
  EXPECT_STREQ(e.mutexName, "KSFF01");
  EXPECT_STREQ(e.actionFlags, "A D ");
  EXPECT_STREQ(e.folder, "C:\\Inbox");
  EXPECT_STREQ(e.execute, "C:\\Tools\\import.exe");
  EXPECT_STREQ(e.current, "C:\\Tools");
  EXPECT_STREQ(e.argument, "");
  EXPECT_EQ(LinesAfterClear(), (Lines{
                                   "(01)... AddTabel ACTION=(A D )",
                                   "(01)... AddTabel FOLDER=(C:\\Inbox)",
                                   "(01)... AddTabel EXECUTE=(C:\\Tools\\import.exe)",
                                   "(01)... AddTabel ARGUMENT=()",
                                   "(01)... AddTabel CURRENT=(C:\\Tools)",
                               }));
}

TEST_F(ThreadControlTest, ActionLettersInAnyCaseOrderAndRepetition) {
  struct Case {
    const char* action;
    const char* flags;
  };
  const Case cases[] = {{"dua", "AUD "}, {"T", "   T"}, {"ADUTADUT", "AUDT"},
                        {"X", "    "},   {"a-u", "AU  "}, {"tdx", "  DT"}};
  for (const Case& c : cases) {
    entryCount = 0;
    AddTabel(c.action, "/in", "/bin/x", "/tmp", "");
    EXPECT_STREQ(EntryAt(1).actionFlags, c.flags) << c.action;
  }
}

TEST_F(ThreadControlTest, DuplicateFolderIsBypassedAndUsesUpNoNumber) {
  AddTabel("A", "/in", "/bin/a", "/tmp", "");
  AddTabel("D", "/in", "/bin/b", "/tmp", "");
  AddTabel("U", "/other", "/bin/c", "/tmp", "");
  ASSERT_EQ(entryCount, 2);
  EXPECT_STREQ(EntryAt(2).mutexName, "KSFF02");
  EXPECT_STREQ(EntryAt(2).folder, "/other");
  EXPECT_STREQ(EntryAt(1).execute, "/bin/a");
  Lines lines = LinesAfterClear();
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[5], "(01)... Duplcate folder - bypassed.");
  EXPECT_EQ(lines[6], "(02)... AddTabel ACTION=( U  )");
}

TEST_F(ThreadControlTest, FoldersDifferingInCaseOrTrailingSeparatorAreDistinct) {
  AddTabel("A", "C:\\In", "x.exe", "C:\\", "");
  AddTabel("A", "C:\\In\\", "x.exe", "C:\\", "");
  EXPECT_EQ(entryCount, 2);
  entryCount = 0;
  AddTabel("A", "/in", "/bin/x", "/tmp", "");
  AddTabel("A", "/IN", "/bin/x", "/tmp", "");
  EXPECT_EQ(entryCount, 2);
}

TEST_F(ThreadControlTest, ThirdFolderOverflowsButARepeatedFolderIsADuplicate) {
  AddTabel("A", "/one", "/bin/x", "/tmp", "");
  AddTabel("A", "/two", "/bin/x", "/tmp", "");
  AddTabel("A", "/three", "/bin/x", "/tmp", "");
  AddTabel("A", "/one", "/bin/x", "/tmp", "");
  AddTabel("A", "/four", "/bin/x", "/tmp", "");
  EXPECT_EQ(entryCount, 2);
  Lines lines = LinesAfterClear();
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[10], "(03)... TCT over flow. max(2)");
  EXPECT_EQ(lines[11], "(02)... Duplcate folder - bypassed.");
  EXPECT_EQ(lines[12], "(03)... TCT over flow. max(2)");
}

TEST_F(ThreadControlTest, LongestValuesFitTheirFieldsAndTheirLogLinesAreCut) {
  std::string folder(255, 'f');
  AddTabel("A", folder.c_str(), "/bin/x", "/tmp", std::string(255, 'g').c_str());
  ASSERT_EQ(entryCount, 1);
  EXPECT_EQ(std::string(EntryAt(1).folder), folder);
  EXPECT_EQ(std::string(EntryAt(1).argument), std::string(255, 'g'));
  Lines lines = LinesAfterClear();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1], ("(01)... AddTabel FOLDER=(" + folder).substr(0, kLogTextMax));
}

}  // namespace
}  // namespace wendrake
