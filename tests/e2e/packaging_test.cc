// What the installation puts beside the program ($WENDRAKE_PROGRAM, as the
// test command sets it): the example command file must be accepted whole
// by the program it ships with, and on Linux the Debian package must hold
// all of it where Debian wants it, the user unit starting the program it
// holds.

#include <cstdlib>
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
  EXPECT_EQ(Count(Log(), "Error format."), 0);
  // Both example records, the most there is room for.
  EXPECT_EQ(Count(Log(), "(02)... AddTabel ACTION="), 1);
}

#ifndef _WIN32
// What a shell command prints on stdout.
std::string Output(const std::string& command) {
  ScopedTempDir here;
  EXPECT_EQ(std::system((command + " >" + here.str() + "/out").c_str()), 0) << command;
  return ReadWholeFile(here.path() / "out");
}

// The package is made from the build that made the program under test.
TEST(PackageTest, DebianPackageHoldsProgramExamplesUnitAndManual) {
  if (std::system("command -v cpack dpkg-deb >/dev/null") != 0) GTEST_SKIP() << "no cpack";
  ScopedTempDir out;
  // Its stderr, if any, shows in the test's output.
  Output("cpack -G DEB --config '" WENDRAKE_BINARY_DIR "/CPackConfig.cmake' -B '" + out.str() +
         "'");
  std::string arch = Output("dpkg --print-architecture");
  arch.pop_back();  // its newline
  // Named after its control fields.
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
