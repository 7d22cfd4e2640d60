// The tests' main: ctest starts every suite in the folder that holds the
// helper programs, and the tests find them there later, after they have
// moved into temporary folders of their own.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

namespace wendrake {
namespace testing {
std::filesystem::path& TestBinDir();
}  // namespace testing
}  // namespace wendrake

int main(int argc, char** argv) {
  // Unbuffered, so that a suite ended by ctest's time limit shows where it
  // stood (the Windows C library buffers a pipe fully).
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::filesystem::path self = std::filesystem::absolute(argv[0]).lexically_normal();
  wendrake::testing::TestBinDir() =
      self.has_parent_path() ? self.parent_path() : std::filesystem::current_path();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
