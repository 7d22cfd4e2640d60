#include "fuzz_util.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace wendrake {
namespace fuzz {

namespace {

std::string scratch;

void RemoveScratch() {
  std::error_code ignored;
  if (!scratch.empty()) std::filesystem::remove_all(scratch, ignored);
}

}  // namespace

const std::string& EnterScratchDirectory() {
  if (!scratch.empty()) return scratch;
  std::string pattern = (std::filesystem::temp_directory_path() / "wendrake-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) {
    Fail("cannot make the scratch directory");
  }
  scratch = pattern;
  std::atexit(RemoveScratch);
  return scratch;
}

void WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) Fail("cannot create a file");
  if (size > 0 && std::fwrite(data, 1, size, file) != size) Fail("cannot write a file");
  std::fclose(file);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace fuzz
}  // namespace wendrake
