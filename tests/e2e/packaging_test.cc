// What the installation puts beside the program ($WENDRAKE_PROGRAM, as the
// test command sets it): the example command file must be accepted whole
// by the program it ships with, and on Linux the manual page must say what
// --help says, and the Debian package must hold all of it where Debian wants
// it, the user unit starting the program it holds.

#include <cstdlib>
#include <regex>
#include <sstream>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

fs::path InstallRoot() {
  return fs::path(ProgramPath()).parent_path().parent_path();
}

using InstalledExampleTest = WatchingTest;

TEST_F(InstalledExampleTest, CommandFileIsAcceptedWhole) {
  fs::path example = InstallRoot() / "share" / "wendrake" / "WKCommand.txt";
  if (!fs::exists(example)) GTEST_SKIP() << "no installed example beside " << ProgramPath();
  fs::copy_file(example, At("WKCommand.txt"));
  ASSERT_TRUE(StartProgram());
  ASSERT_TRUE(WaitForLog("-Ended- LoadCommandFile."));
  EXPECT_EQ(CountStarting(Log(), "Error format."), 0);
  // Both example records, the most there is room for.
  EXPECT_EQ(CountStarting(Log(), "(01)... AddTabel ACTION="), 1);
  EXPECT_EQ(CountStarting(Log(), "(02)... AddTabel ACTION="), 1);
}

#ifndef _WIN32
// What a shell command prints on stdout.
std::string Output(const std::string& command) {
  ScopedTempDir here;
  EXPECT_EQ(std::system((command + " >" + here.str() + "/out").c_str()), 0) << command;
  return ReadWholeFile(here.path() / "out");
}

// Words of a text separated by single blanks.
std::string Words(const std::string& text) {
  std::istringstream in(text);
  std::string word, words;
  while (in >> word) words += (words.empty() ? "" : " ") + word;
  return words;
}

TEST(InstalledManualTest, SaysWhatHelpSays) {
  fs::path page = InstallRoot() / "share" / "man" / "man1" / "wendrake.1.gz";
  if (!fs::exists(page)) GTEST_SKIP() << "no installed manual page beside " << ProgramPath();
  // The words as its reader sees them: requests and font changes gone,
  // escaped hyphens plain.
  std::string manual = Words(std::regex_replace("\n" + Output("gzip -dc '" + page.string() + "'"),
                                                std::regex(R"((\n)\.\S*|\\f.|\\(?=-))"), "$1"));
  ScopedTempDir here;
  std::istringstream help(RunProgram({"--help"}, here.path()).out);
  int lines = 0;
  for (std::string line; std::getline(help, line); ++lines) {
    if (line.rfind("Usage: ", 0) == 0) line.erase(0, 7);
    if (line.empty() || line.back() == ':') continue;  // blank lines and headings
    EXPECT_NE(manual.find(Words(line)), std::string::npos) << line;
  }
  EXPECT_GT(lines, 10);
}

// The package is made from the build that made the program under test.
TEST(PackageTest, DebianPackageHoldsProgramExamplesUnitAndManual) {
  if (std::system("command -v cpack dpkg-deb >/dev/null") != 0) GTEST_SKIP() << "no cpack";
  ScopedTempDir out;
  std::string made = (out.path() / "cpack.txt").string();
  ASSERT_EQ(std::system(("cpack -G DEB --config '" WENDRAKE_BINARY_DIR "/CPackConfig.cmake' -B '" +
                         out.str() + "' >'" + made + "' 2>&1")
                            .c_str()),
            0)
      << ReadWholeFile(made);
  std::string arch = Words(Output("dpkg --print-architecture"));
  std::string deb = (out.path() / ("wendrake_" WENDRAKE_VERSION "_" + arch + ".deb")).string();
  ASSERT_TRUE(fs::exists(deb)) << deb;

  std::istringstream contents(Output("dpkg-deb -c '" + deb + "'"));
  Lines files;
  for (std::string line; std::getline(contents, line);) {
    if (line[0] == '-') files.push_back(line.substr(line.rfind(' ') + 1));
  }
  EXPECT_EQ(files,
            (Lines{"./usr/bin/wendrake", "./usr/lib/systemd/user/wendrake.service",
                   "./usr/share/man/man1/wendrake.1.gz", "./usr/share/wendrake/WKCommand.txt",
                   "./usr/share/wendrake/wendrake.logrotate"}));
  EXPECT_EQ(Output("dpkg-deb -f '" + deb + "' Package Version Architecture"),
            "Package: wendrake\nVersion: " WENDRAKE_VERSION "\nArchitecture: " + arch + "\n");
  // Found by dpkg-shlibdeps in the program itself, not written by hand.
  EXPECT_NE(Output("dpkg-deb -f '" + deb + "' Depends").find("libc6 (>= "), std::string::npos);
  // Staged under /usr, so the unit names the program where the package puts it.
  std::string unit = Output("dpkg-deb --fsys-tarfile '" + deb +
                            "' | tar -xO ./usr/lib/systemd/user/wendrake.service");
  EXPECT_NE(unit.find("\nExecStart=/usr/bin/wendrake -C %h/wendrake\n"), std::string::npos) << unit;
}
#endif

}  // namespace
}  // namespace testing
}  // namespace wendrake
