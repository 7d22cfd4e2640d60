#include "log/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "test_util.h"

namespace wendrake {
namespace {

using testing::CurrentLogTexts;
using testing::ReadWholeFile;
using Lines = std::vector<std::string>;

std::string Line(const os::LocalTime& when, const std::string& text) {
  char line[kLogLineCapacity];
  std::size_t length = FormatLogLine(line, when, text.c_str());
  EXPECT_EQ(length, std::strlen(line));
  return std::string(line, length);
}

TEST(LogLineTest, StampWithLeadingZerosTextCutToFitAndCrLf) {
  const os::LocalTime t = {2005, 3, 7, 8, 4, 9};
  EXPECT_EQ(Line(t, "= Start program ==========="),
            "2005-03-07 08:04:09 - = Start program ===========\r\n");
  EXPECT_EQ(Line({987, 12, 31, 23, 59, 58}, ""), "987-12-31 23:59:58 - \r\n");
  const std::string longest(kLogTextMax, 'y');
  EXPECT_EQ(Line(t, longest), "2005-03-07 08:04:09 - " + longest + "\r\n");
  EXPECT_EQ(Line(t, longest + "zz"), "2005-03-07 08:04:09 - " + longest + "\r\n");
}

class LogFileTest : public ::testing::Test {
 protected:
  LogFileTest() : dir_(true) { ResetLogForTesting(); }
  ~LogFileTest() override { ResetLogForTesting(); }
  testing::ScopedTempDir dir_;
};

// Texts are written as passed, never used as formats.
TEST_F(LogFileTest, ARunCreatesOrAppendsToTheLogAndWritesNothingAfterItsClose) {
  WriteLog(1, "");
  LogF("(%02d)... %s", 1, "50%s");
  ResetLogForTesting();  // the next run
  WriteLog(1, "100% done %s %d %n");
  WriteLog(-1, "");
  WriteLog(1, "after");
  LogF("after %d", 2);
  EXPECT_EQ(CurrentLogTexts(), (Lines{"", "(01)... 50%s", "100% done %s %d %n"}));
}

TEST_F(LogFileTest, LinesFromConcurrentThreadsStayWhole) {
  const std::string a(150, 'a'), b(150, 'b');
  auto writer = [](const std::string* text) {
    for (int i = 0; i < 400; ++i) WriteLog(1, text->c_str());
  };
  WriteLog(1, "start");
  std::thread first(writer, &a), second(writer, &b);
  first.join();
  second.join();
  Lines texts = CurrentLogTexts();
  ASSERT_EQ(texts.size(), 801u);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), a), 400);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), b), 400);
}

// Others may read the log, but a second writer (another instance) is
// refused, and a run that finds the log so held goes on without one.
TEST_F(LogFileTest, OnlyOneWriterAtATime) {
  os::Handle other = os::FileOpen(kLogFileName, os::kAccessWrite, os::kShareRead, os::kOpenAlways);
  ASSERT_NE(other, os::kInvalidHandle);
  WriteLog(1, "lost");
  os::FileClose(other);
  WriteLog(1, "still lost: the open is not retried");
  EXPECT_EQ(ReadWholeFile(kLogFileName), "");

  ResetLogForTesting();
  WriteLog(1, "held");
  std::string path = (dir_.path() / kLogFileName).string();
  EXPECT_EQ(testing::RunHelper("open_probe", {"write", path}), 1);
  EXPECT_EQ(testing::RunHelper("open_probe", {"read", path}), 0);
  WriteLog(-1, "");
  EXPECT_EQ(testing::RunHelper("open_probe", {"write", path}), 0);
}

}  // namespace
}  // namespace wendrake
