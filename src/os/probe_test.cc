#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

namespace fs = std::filesystem;
using os::ProbeResult;
using testing::PollUntil;

class ProbeTest : public ::testing::Test {
 protected:
  ProbeTest() : file_((dir_.path() / "data.bin").string()) {
    testing::WriteWholeFile(file_, std::string(1234, 'x'));
  }
  std::string At(const std::string& name) const { return (dir_.path() / name).string(); }

  testing::ScopedTempDir dir_;
  std::string file_;
  os::ProbeInfo info_ = {};
};

TEST_F(ProbeTest, FileOpenInAnotherProcessIsInUseUntilClosed) {
  struct Case {
    const char* mode;
    std::uint32_t sizeAfter;
  };
  for (const Case& c : {Case{"read", 1234u}, Case{"write", 1238u}}) {
    SCOPED_TRACE(c.mode);
    std::string mode = c.mode;
    auto holder =
        testing::StartHelper("file_holder", {mode, file_, At(mode + ".held"), At(mode + ".go")});
    ASSERT_TRUE(PollUntil([&] { return fs::exists(At(mode + ".held")); }));
    EXPECT_EQ(os::ProbeExclusive(file_.c_str(), &info_), ProbeResult::kInUse);
    testing::WriteWholeFile(At(mode + ".go"), "");
    EXPECT_EQ(testing::WaitHelper(holder), 0);
    EXPECT_EQ(os::ProbeExclusive(file_.c_str(), &info_), ProbeResult::kFree);
    EXPECT_EQ(info_.sizeLow, c.sizeAfter);
    EXPECT_GE(info_.lastWrite.year, 2020);
  }
}

TEST_F(ProbeTest, VanishedFileIsInUseAndIsNotMadeAgain) {
  fs::remove(file_);
  EXPECT_EQ(os::ProbeExclusive(file_.c_str(), &info_), ProbeResult::kInUse);
  EXPECT_FALSE(fs::exists(file_));
}

TEST_F(ProbeTest, FolderIsNeverFree) {
  EXPECT_EQ(os::ProbeExclusive(dir_.str().c_str(), &info_), ProbeResult::kInUse);
}

}  // namespace
}  // namespace wendrake
