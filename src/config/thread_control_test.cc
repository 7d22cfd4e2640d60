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

  static void Add(const std::string& folder, const char* action = "A") {
    AddTabel(action, folder.c_str(), "/bin/x", "/tmp", "");
  }

  testing::ScopedTempDir dir_;
};

TEST_F(ThreadControlTest, ActionLettersInAnyCaseOrderAndRepetition) {
  const char* cases[][2] = {{"ADUTADUT", "AUDT"}, {"dua", "AUD "}, {"X", "    "}, {"t-x", "   T"}};
  for (const auto& c : cases) {
    entryCount = 0;
    Add("/in", c[0]);
    EXPECT_STREQ(EntryAt(1).actionFlags, c[1]) << c[0];
  }
}

// Folders are told apart byte by byte, so case and a trailing separator
// make another folder. A duplicate or an overflow uses up no number. The
// longest values fit whole.
TEST_F(ThreadControlTest, DuplicateFoldersAreBypassedAndAThirdOverflows) {
  const std::string one(255, 'f'), argument(255, 'g');
  AddTabel("A", one.c_str(), "/bin/x", "/tmp", argument.c_str());
  AddTabel("D", one.c_str(), "/bin/other", "/tmp", "");
  Add("/ONE");
  Add("/ONE/");
  Add("/ONE");
  Add("/four");
  ASSERT_EQ(entryCount, 2);
  EXPECT_EQ(EntryAt(1).folder, one);
  EXPECT_EQ(EntryAt(1).argument, argument);
  EXPECT_STREQ(EntryAt(1).execute, "/bin/x");
  EXPECT_STREQ(EntryAt(1).mutexName, "KSFF01");
  EXPECT_STREQ(EntryAt(2).folder, "/ONE");
  EXPECT_STREQ(EntryAt(2).mutexName, "KSFF02");
  EXPECT_EQ(EntryAt(2).index, 2);
  Lines lines = testing::CurrentLogTexts();
  ASSERT_EQ(lines.size(), 15u);
  EXPECT_EQ(lines[0], "-Start- Clear ThreadControlTable.");
  EXPECT_EQ(lines[6], "(01)... Duplcate folder - bypassed.");
  EXPECT_EQ(lines[7], "(02)... AddTabel ACTION=(A   )");
  EXPECT_EQ(Lines(lines.begin() + 12, lines.end()),
            (Lines{"(03)... TCT over flow. max(2)", "(02)... Duplcate folder - bypassed.",
                   "(03)... TCT over flow. max(2)"}));
}

}  // namespace
}  // namespace wendrake
