// File names that a shell, a command interpreter or a careless argument
// parser would take for something else, dropped into a watched folder at
// once: each reaches the started program as one argument, its exact full
// path, and nothing else runs; a name that is not the file's real name is
// left out with its log line.

#include <cstdio>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

using HostileNameTest = WatchingTest;

TEST_F(HostileNameTest, EachNameArrivesWholeAsOneArgumentOrIsLeftOutWithItsLine) {
  // Shift-JIS: "\x83\x65..." has no byte that is a separator, "\x83\x5c" has.
  std::vector<std::string> names = {"in middle.txt",
                                    "$(touch pwned)",
                                    "`touch pwned`",
                                    "a;b&touch pwned&",
                                    "-rf",
                                    "100% %PATH% %s%n.txt",
                                    "wow!^!(x).txt",
                                    "@it's",
                                    "\x83\x65\x83\x58\x83\x67.txt"};
#ifndef _WIN32  // names Windows does not allow
  names.insert(names.end(), {"say \"hi\"|touch pwned", "line\nbreak", "\xff\xfe\x80 not utf-8",
                             "\x83\x5c.txt", "what?", "cr\r\n2026-01-01 00:00:00 - forged",
                             std::string(63, '\xff')});  // the key of the end mark
#endif
  StartWatching(Record("A", "in", "out"));
  Lines expected;
  for (const std::string& name : names) {
    // Narrow names as the program lists them: through the ANSI code page on
    // Windows, as bytes on Linux.
    std::string path = Path("in") + kSeparator + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << name;
    std::fclose(file);
    expected.push_back(Expected("in", name, "-A"));
  }
#ifdef _WIN32
  // Made with its real name, as a program of the Linux side or a Unicode
  // one would; code page 1252 (wine-run.sh) lists it as "a?.txt".
  WriteWholeFile(At("in") / L"a\u4e2d.txt", "");
  EXPECT_TRUE(WaitForLog("(01)... PutFileNamesInDir. Name not in code page(a?.txt)"));
#endif
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Started("out", expected.size()), expected);
  EXPECT_TRUE(LogStaysStill()) << "a name left out is still being looked at";
  for (const char* where : {"", "in", "out"}) EXPECT_FALSE(fs::exists(At(where) / "pwned"));
  for (const std::string& line : Log()) EXPECT_NE(line.rfind("forged", 0), 0u) << line;
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
