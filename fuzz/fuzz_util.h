// What the fuzz targets share: a scratch start directory of their own for
// the whole run, and small file helpers.
#ifndef WENDRAKE_FUZZ_FUZZ_UTIL_H_
#define WENDRAKE_FUZZ_FUZZ_UTIL_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace wendrake {
namespace fuzz {

// Makes a fresh temporary directory, makes it the current directory and
// returns its path. Removed with everything in it when the process exits
// normally; a crash leaves it for inspection.
const std::string& EnterScratchDirectory();

// Replaces `path` with exactly these bytes; aborts when it cannot.
void WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size);

std::string ReadWholeFile(const std::string& path);

// A check that holds in every build: a failure is a crash the fuzzer keeps.
[[noreturn]] void Fail(const char* what);
inline void Check(bool condition, const char* what) {
  if (!condition) Fail(what);
}

}  // namespace fuzz
}  // namespace wendrake

#endif  // WENDRAKE_FUZZ_FUZZ_UTIL_H_
