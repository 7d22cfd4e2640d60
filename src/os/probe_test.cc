#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "os/os.h"
#include "test_util.h"

namespace wendrake {
namespace {

namespace fs = std::filesystem;
using os::ProbeResult;

TEST(ProbeTest, FileIsInUseWhileAnotherProcessHasItOpenOrWhenItIsGone) {
  testing::ScopedTempDir dir;
  auto at = [&](const std::string& name) { return (dir.path() / name).string(); };
  const std::string file = at("data.bin");
  testing::WriteWholeFile(file, std::string(1234, 'x'));
  os::ProbeInfo info = {};
  for (const auto& c : {std::pair<std::string, std::uint32_t>{"read", 1234u}, {"write", 1238u}}) {
    SCOPED_TRACE(c.first);
    auto holder = testing::StartHelper("file_holder",
                                       {c.first, file, at(c.first + ".held"), at(c.first + ".go")});
    ASSERT_TRUE(testing::PollUntil([&] { return fs::exists(at(c.first + ".held")); }));
    EXPECT_EQ(os::ProbeExclusive(file.c_str(), &info), ProbeResult::kInUse);
    testing::WriteWholeFile(at(c.first + ".go"), "");
    EXPECT_EQ(testing::WaitHelper(holder), 0);
    EXPECT_EQ(os::ProbeExclusive(file.c_str(), &info), ProbeResult::kFree);
    EXPECT_EQ(info.sizeLow, c.second);
    EXPECT_GE(info.lastWrite.year, 2020);
  }
  // Gone, or replaced by a folder between scans: not free, and never made
  // again by the probe.
  fs::remove(file);
  for (const std::string& path : {file, dir.str()}) {
    EXPECT_EQ(os::ProbeExclusive(path.c_str(), &info), ProbeResult::kInUse) << path;
  }
  EXPECT_FALSE(fs::exists(file));
}

}  // namespace
}  // namespace wendrake
