// What the fuzz targets share: a scratch start directory of their own for
// the whole run, a fresh log and table per input, and checks that hold in
// every build.
#ifndef WENDRAKE_FUZZ_FUZZ_UTIL_H_
#define WENDRAKE_FUZZ_FUZZ_UTIL_H_

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "config/thread_control.h"
#include "log/log.h"

namespace wendrake {
namespace fuzz {

// A failed check is a crash the fuzzer keeps.
inline void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// Makes a fresh temporary directory the current directory at the first
// call, removed with everything in it when the run ends normally (a crash
// leaves it for inspection); then empties the log, so that it never grows
// past one input's lines, and the entry table. Returns the directory.
inline const std::string& StartInput() {
  static const struct Scratch {
    Scratch() : path((std::filesystem::temp_directory_path() / "wendrake-fuzz-XXXXXX").string()) {
      Check(mkdtemp(path.data()) != nullptr && chdir(path.c_str()) == 0,
            "cannot make the scratch directory");
    }
    ~Scratch() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
    std::string path;
  } scratch;
  ResetLogForTesting();
  std::remove(kLogFileName);
  entryCount = 0;
  ClearThreadControlTable();
  return scratch.path;
}

}  // namespace fuzz
}  // namespace wendrake

#endif  // WENDRAKE_FUZZ_FUZZ_UTIL_H_
