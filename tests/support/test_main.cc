// The tests' main: ctest starts every suite in the folder that holds the
// helper programs, which the tests find there after they have moved into
// temporary folders of their own.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "test_util.h"

int main(int argc, char** argv) {
  // Unbuffered: a suite ended by its time limit shows where it stood.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
#ifndef _WIN32
  // Nine hours east of UTC, so that a file time taken as UTC shows.
  setenv("TZ", "JST-9", 1);
#endif
  std::filesystem::path self = std::filesystem::absolute(argv[0]).lexically_normal();
  wendrake::testing::TestBinDir() =
      self.has_parent_path() ? self.parent_path() : std::filesystem::current_path();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
