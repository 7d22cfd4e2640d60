// What the fuzz targets share: a scratch start directory of their own for
// the whole run, small file helpers, and checks that hold in every build.
#ifndef WENDRAKE_FUZZ_FUZZ_UTIL_H_
#define WENDRAKE_FUZZ_FUZZ_UTIL_H_

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace wendrake {
namespace fuzz {

// A failed check is a crash the fuzzer keeps.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}
inline void Check(bool condition, const char* what) {
  if (!condition) Fail(what);
}

// Makes a fresh temporary directory the current directory once, and
// returns its path. Removed with everything in it when the process exits
// normally; a crash leaves it for inspection.
inline const std::string& EnterScratchDirectory() {
  static std::string scratch;
  if (!scratch.empty()) return scratch;
  std::string pattern = (std::filesystem::temp_directory_path() / "wendrake-fuzz-XXXXXX").string();
  Check(mkdtemp(pattern.data()) != nullptr && chdir(pattern.c_str()) == 0,
        "cannot make the scratch directory");
  scratch = pattern;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
  });
  return scratch;
}

// Replaces `path` with exactly these bytes.
inline void WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  Check(file != nullptr, "cannot create a file");
  Check(size == 0 || std::fwrite(data, 1, size, file) == size, "cannot write a file");
  std::fclose(file);
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace fuzz
}  // namespace wendrake

#endif  // WENDRAKE_FUZZ_FUZZ_UTIL_H_
