#include "log/log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"

namespace wendrake {
namespace {

using testing::CurrentLogTexts;
using Lines = std::vector<std::string>;

TEST(LogLineTest, StampWithLeadingZerosTextCutToFitAndCrLf) {
  const std::string longest(kLogTextMax, 'y');
  char line[kLogLineCapacity];
  std::size_t length = FormatLogLine(line, {2005, 3, 7, 8, 4, 9}, (longest + "zz").c_str());
  EXPECT_EQ(std::string(line, length), "2005-03-07 08:04:09 - " + longest + "\r\n");
}

class LogFileTest : public ::testing::Test {
 protected:
  LogFileTest() : dir_(true) { ResetLogForTesting(); }
  ~LogFileTest() override { ResetLogForTesting(); }
  testing::ScopedTempDir dir_;
};

// Texts are written as passed, never used as formats; nothing is written
// after the close.
TEST_F(LogFileTest, ARunCreatesOrAppendsToTheLogAndWritesNothingAfterItsClose) {
  WriteLog("");
  LogF("(%02d)... %s", 1, "50%s");
  ResetLogForTesting();  // the next run
  WriteLog("100% done %s %d %n");
  CloseLog();
  WriteLog("after");
  LogF("after %d", 2);
  EXPECT_EQ(CurrentLogTexts(), (Lines{"", "(01)... 50%s", "100% done %s %d %n"}));
}

// Others may read the log, but a second writer (another instance) is
// refused, and a run that finds the log so held goes on without one.
TEST_F(LogFileTest, OnlyOneWriterAtATime) {
  os::Handle other = os::FileOpen(kLogFileName, os::kAccessWrite, os::kShareRead, os::kOpenAlways);
  ASSERT_NE(other, os::kInvalidHandle);
  WriteLog("lost");
  os::FileClose(other);
  WriteLog("still lost: the open is not retried");
  EXPECT_EQ(testing::ReadWholeFile(kLogFileName), "");

  ResetLogForTesting();
  WriteLog("held");
  std::string path = (dir_.path() / kLogFileName).string();
  EXPECT_EQ(testing::RunHelper("open_probe", {"write", path}), 1);
  EXPECT_EQ(testing::RunHelper("open_probe", {"read", path}), 0);
  CloseLog();
  EXPECT_EQ(testing::RunHelper("open_probe", {"write", path}), 0);
}

}  // namespace
}  // namespace wendrake
