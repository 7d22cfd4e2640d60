#include "log/log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "test_util.h"

namespace wendrake {
namespace {

using testing::CurrentLogTexts;
using testing::ReadWholeFile;
using testing::ScopedTempDir;

std::string Line(const os::LocalTime& when, const char* text) {
  char line[kLogLineCapacity];
  std::size_t length = FormatLogLine(line, when, text);
  EXPECT_EQ(length, std::strlen(line));
  return std::string(line, length);
}

TEST(LogLineTest, StampHasLeadingZerosButYearDoesNot) {
  EXPECT_EQ(Line({2005, 3, 7, 8, 4, 9}, "= Start program ==========="),
            "2005-03-07 08:04:09 - = Start program ===========\r\n");
  EXPECT_EQ(Line({2026, 12, 31, 23, 59, 58}, "x"), "2026-12-31 23:59:58 - x\r\n");
  EXPECT_EQ(Line({987, 1, 1, 0, 0, 0}, "y"), "987-01-01 00:00:00 - y\r\n");
}

TEST(LogLineTest, EmptyTextIsASeparatorLine) {
  EXPECT_EQ(Line({2005, 3, 7, 8, 4, 9}, ""), "2005-03-07 08:04:09 - \r\n");
}

TEST(LogLineTest, OverlongTextIsCutAndTheLineStillEndsInCrLf) {
  std::string text(300, 'x');
  std::string line = Line({2005, 3, 7, 8, 4, 9}, text.c_str());
  ASSERT_EQ(line.size(), kLogLineCapacity - 1);
  EXPECT_EQ(line.substr(22, kLogTextMax), std::string(kLogTextMax, 'x'));
  EXPECT_EQ(line.substr(line.size() - 2), "\r\n");

  std::string exact(kLogTextMax, 'y');
  EXPECT_EQ(Line({2005, 3, 7, 8, 4, 9}, exact.c_str()).substr(22), exact + "\r\n");
}

class LogFileTest : public ::testing::Test {
 protected:
  LogFileTest() : dir_(true) { ResetLogForTesting(); }
  ~LogFileTest() override { ResetLogForTesting(); }
  ScopedTempDir dir_;
};

TEST_F(LogFileTest, FirstLineCreatesTheLogInTheCurrentDirectory) {
  WriteLog(1, "");
  WriteLog(1, "= Start program ===========");
  EXPECT_EQ(CurrentLogTexts(), (std::vector<std::string>{"", "= Start program ==========="}));
}

TEST_F(LogFileTest, AppendsToWhatEarlierRunsLeft) {
  testing::WriteWholeFile("Wendrake.log", "earlier run\r\n");
  WriteLog(1, "this run");
  std::string log = ReadWholeFile("Wendrake.log");
  ASSERT_EQ(log.rfind("earlier run\r\n", 0), 0u) << log;
  EXPECT_EQ(testing::LogTexts(log.substr(13)), std::vector<std::string>{"this run"});
}

TEST_F(LogFileTest, TextIsWrittenAsPassedWithoutFormatting) {
  WriteLog(1, "100% done %s %d %n");
  LogF("(%02d)... %s", 1, "50%s");
  EXPECT_EQ(CurrentLogTexts(), (std::vector<std::string>{"100% done %s %d %n", "(01)... 50%s"}));
}

TEST_F(LogFileTest, NothingIsWrittenAfterTheCloseAndTheLogIsNotReopened) {
  WriteLog(1, "before");
  WriteLog(-1, "");
  WriteLog(1, "after");
  LogF("after %d", 2);
  EXPECT_EQ(CurrentLogTexts(), std::vector<std::string>{"before"});
}

TEST_F(LogFileTest, LinesFromConcurrentThreadsStayWhole) {
  WriteLog(1, "start");
  auto writer = [](char tag) {
    std::string text(150, tag);
    for (int i = 0; i < 400; ++i) WriteLog(1, text.c_str());
  };
  std::thread a(writer, 'a');
  std::thread b(writer, 'b');
  a.join();
  b.join();
  std::vector<std::string> texts = CurrentLogTexts();
  ASSERT_EQ(texts.size(), 801u);
  int as = 0;
  for (std::size_t i = 1; i < texts.size(); ++i) {
    ASSERT_TRUE(texts[i] == std::string(150, 'a') || texts[i] == std::string(150, 'b')) << i;
    as += texts[i][0] == 'a';
  }
  EXPECT_EQ(as, 400);
}

TEST_F(LogFileTest, AnotherProcessCannotWriteTheLogButCanReadIt) {
  WriteLog(1, "held");
  std::string path = (dir_.path() / "Wendrake.log").string();
  EXPECT_EQ(testing::RunHelper("open_probe", {"write", path}), 1);
  EXPECT_EQ(testing::RunHelper("open_probe", {"read", path}), 0);
  WriteLog(-1, "");
  EXPECT_EQ(testing::RunHelper("open_probe", {"write", path}), 0);
}

TEST_F(LogFileTest, ALogHeldByAnotherWriterLeavesTheRunWithoutALog) {
  os::Handle other = os::FileOpen("Wendrake.log", os::kAccessWrite, os::kShareRead, os::kOpenAlways);
  ASSERT_NE(other, os::kInvalidHandle);
  WriteLog(1, "lost");
  os::FileClose(other);
  WriteLog(1, "still lost: the open is not retried");
  EXPECT_EQ(ReadWholeFile("Wendrake.log"), "");
}

}  // namespace
}  // namespace wendrake
