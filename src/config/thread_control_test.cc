#include "config/thread_control.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "test_util.h"

namespace wendrake {
namespace {

using Lines = std::vector<std::string>;

// The five AddTabel lines and the stored values of the worked example are
// checked by the command file's tests.
class ThreadControlTest : public ::testing::Test {
 protected:
  ThreadControlTest() : dir_(true) {
    ResetLogForTesting();
    entryCount = 0;
    ClearThreadControlTable();
  }
  ~ThreadControlTest() override { ResetLogForTesting(); }

  static void Add(const char* folder, const char* action = "A") {
    AddTabel(action, folder, "/bin/x", "/tmp", "");
  }
  // The log lines written since the clearing line.
  static Lines LinesAfterClear() {
    Lines texts = testing::CurrentLogTexts();
    EXPECT_EQ(texts.at(0), "-Start- Clear ThreadControlTable.");
    return Lines(texts.begin() + 1, texts.end());
  }

  testing::ScopedTempDir dir_;
};

TEST_F(ThreadControlTest, ClearingNumbersBothEntriesAndEmptiesThem) {
  Add("/one");
  Add("/two");
  ClearThreadControlTable();
  for (int i = 1; i <= 2; ++i) {
    const ThreadControlEntry& e = EntryAt(i);
    EXPECT_EQ(e.index, i);
    EXPECT_EQ(std::string(e.actionFlags, 4), std::string("   \0", 4));
    EXPECT_TRUE(e.mutexName[0] == '\0' && e.folder[0] == '\0' && e.execute[0] == '\0');
    EXPECT_TRUE(e.threadHandle == 0 && e.changeHandle == 0);
  }
}

TEST_F(ThreadControlTest, ActionLettersInAnyCaseOrderAndRepetition) {
  const char* cases[][2] = {
      {"dua", "AUD "}, {"ADUTADUT", "AUDT"}, {"X", "    "}, {"a-u", "AU  "}, {"tdx", "  DT"}};
  for (const auto& c : cases) {
    entryCount = 0;
    Add("/in", c[0]);
    EXPECT_STREQ(EntryAt(1).actionFlags, c[1]) << c[0];
  }
}

// Folders are told apart byte by byte: case and a trailing separator make
// another folder. A duplicate or an overflow uses up no number.
TEST_F(ThreadControlTest, DuplicateFoldersAreBypassedAndAThirdOverflows) {
  Add("/one");
  AddTabel("D", "/one", "/bin/other", "/tmp", "");
  Add("/ONE");
  Add("/one/");
  Add("/ONE");
  Add("/four");
  ASSERT_EQ(entryCount, 2);
  EXPECT_STREQ(EntryAt(1).execute, "/bin/x");
  EXPECT_STREQ(EntryAt(1).mutexName, "KSFF01");
  EXPECT_STREQ(EntryAt(2).folder, "/ONE");
  EXPECT_STREQ(EntryAt(2).mutexName, "KSFF02");
  Lines lines = LinesAfterClear();
  ASSERT_EQ(lines.size(), 14u);
  EXPECT_EQ(lines[5], "(01)... Duplcate folder - bypassed.");
  EXPECT_EQ(lines[6], "(02)... AddTabel ACTION=(A   )");
  EXPECT_EQ(Lines(lines.begin() + 11, lines.end()),
            (Lines{"(03)... TCT over flow. max(2)", "(02)... Duplcate folder - bypassed.",
                   "(03)... TCT over flow. max(2)"}));
}

TEST_F(ThreadControlTest, LongestValuesFitTheirFieldsAndTheirLogLinesAreCut) {
  std::string folder(255, 'f'), argument(255, 'g');
  AddTabel("A", folder.c_str(), "/bin/x", "/tmp", argument.c_str());
  EXPECT_EQ(EntryAt(1).folder, folder);
  EXPECT_EQ(EntryAt(1).argument, argument);
  Lines lines = LinesAfterClear();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1], ("(01)... AddTabel FOLDER=(" + folder).substr(0, kLogTextMax));
}

}  // namespace
}  // namespace wendrake
