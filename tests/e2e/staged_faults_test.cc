// Faults staged against the running program, each checked by the rule
// users rely on: no "-D" for a file that is there, no start for the folder's
// own path, no change lost and none reported twice. Some of them take root:
// another user to run the program as, and small file systems to fill; under
// Wine those are made by the host's own shell.
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "watching_fixture_test.h"

namespace wendrake {
namespace testing {
namespace {

// The host's name for `path`: under Wine, what its drive letter stands
// for; empty on a Windows that is not Wine.
std::string HostPath(const fs::path& path) {
#ifdef _WIN32
  using ToUnix = char*(WINAPI*)(const wchar_t*);
  auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
  char* name = toUnix == nullptr ? nullptr : toUnix(path.wstring().c_str());
  std::string host = name == nullptr ? "" : name;
  if (name != nullptr) HeapFree(GetProcessHeap(), 0, name);
  return host;
#else
  return path.string();
#endif
}

// Runs `script` with the host's sh, as the user the tests run as; its exit
// status, -1 when it could not be run. Wine starts a Linux program but its
// handle neither waits for it nor holds its status: the script leaves its
// status in a file of its own, whole once it is there.
int Shell(const std::string& script) {
#ifdef _WIN32
  ScopedTempDir scratch;
  std::string status = HostPath(scratch.path() / "status");
  if (status.empty()) return -1;
  StartProcess("Z:\\bin\\sh", {"-c", "(" + script + "); echo $? >" + status + ".new; mv " + status +
                                         ".new " + status});
  if (!PollUntil([&] { return fs::exists(scratch.path() / "status"); }, 60000)) return -1;
  return std::stoi(ReadWholeFile(scratch.path() / "status"));
#else
  HelperProcess sh = StartProcess("sh", {"-c", script});
  return WaitHelper(sh, 60000);
#endif
}

using StagedFaultTest = WatchingTest;

TEST_F(StagedFaultTest, NoFalseDeleteNoEmptyNameNoChangeLostNoneRepeated) {
  const std::string wait = "(01)...-Wait(";
  auto file = [&](const std::string& relative, const std::string& text = "x") {
    WriteWholeFile(At(relative), text);
  };
  auto files = [&](int count, const std::string& in = "in") {
    for (int i = 0; i < count; ++i) file(in + "/f" + std::to_string(10000 + i));
  };
  // Makes `change` and waits for the wait line of the scan it woke. Counted
  // in the log's bytes: on a full disk a line may be cut short and the next
  // one run on behind it.
  auto waitsLogged = [&] {
    std::string log = ReadWholeFile(At("Wendrake.log"));
    int count = 0;
    for (std::size_t at = log.find(wait); at != std::string::npos; at = log.find(wait, at + 1)) {
      ++count;
    }
    return count;
  };
  auto scanned = [&](const std::function<void()>& change) {
    int waits = waitsLogged();
    change();
    EXPECT_TRUE(PollUntil([&] { return waitsLogged() > waits; }, 15000)) << "no scan";
  };
  // Three times: ends the run, starts another in the same start directory
  // and, once it waits, drops file "r<run>" in with `drop`. Each is waited
  // for before the next end: one that came too late for this run would be
  // part of the next run's first listing.
  auto restarts = [&](const std::function<void(const std::string&)>& drop) {
    for (int run = 1; run <= 3; ++run) {
      ASSERT_TRUE(RequestEnd(program_));
      ASSERT_EQ(WaitHelper(program_, 30000), 0);
      int waits = Count(Log(), wait);
      ASSERT_TRUE(StartProgram());
      ASSERT_TRUE(WaitForLog(wait, waits + 1));
      drop("r" + std::to_string(run));
      EXPECT_TRUE(PollUntil([&] { return CountArgvRecords(At("out")) == run; }, 10000));
    }
  };
  auto oldSnapshot = [&] { return At("KSFF01O.txt"); };
  // The watched folders and the recorder's folder elsewhere, for a start
  // directory on a small file system of its own.
  ScopedTempDir away;
  fs::create_directories(away.path() / "in");
  fs::create_directories(away.path() / "out");

  const struct {
    const char* name;
    const char* root;              // what takes root, or nullptr
    Lines runAs;                   // the words before the program's own
    std::function<void()> before;  // the folders as the run finds them
    int entries;                   // the second watches in2, starting the recorder in out too
    std::function<void()> fault;   // made while it runs
    Lines starts;                  // "in/x -A": each exactly once
    Lines mayStart;                // each at most once besides
  } rows[] = {
      {"folder unreadable for a while",
#ifdef _WIN32
       // Wine runs as root here, past any folder's permissions. A FUSE
       // mount whose server is gone fails every listing, root's too: laid
       // over the folder, it leaves the watch on the folder beneath, which
       // is written through another view of it meanwhile.
       "mount, bindfs",
       {},
#else
       "setpriv to another user",
       {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"},
#endif
       [&] {
         for (const char* dir : {"", "in", "out"}) fs::permissions(At(dir), fs::perms::all);
         for (const char* name : {"a", "b", "c"}) file("in/" + std::string(name));
       },
       1,
       [&] {
#ifdef _WIN32
         std::string in = HostPath(At("in")), gone = HostPath(away.path() / "gone"),
                     view = HostPath(away.path() / "view");
         ASSERT_EQ(Shell("mkdir " + gone + " " + view + " && mount --bind " + in + " " + view +
                         " && { bindfs -f " + view + " " + gone + " & for i in $(seq 100); do " +
                         "mountpoint -q " + gone + " && break; sleep 0.1; done; kill -KILL $!; } " +
                         "&& mountpoint -q " + gone + " && mount --bind " + gone + " " + in),
                   0)
             << "no bindfs or no /dev/fuse";
         WriteWholeFile(away.path() / "view" / "d", "x");
#else
         fs::permissions(At("in"), fs::perms::none);
         file("in/d");  // by root, waking a scan that may not list the folder
#endif
         EXPECT_TRUE(WaitForLog("(01)... PutFileNamesInDir. Error(", 1, 15));
#ifdef _WIN32
         ASSERT_EQ(Shell("umount -l " + in), 0);
#else
         fs::permissions(At("in"), static_cast<fs::perms>(0755));
#endif
         scanned([&] { file("in/e"); });
       },
       {"in/d -A", "in/e -A"},
       {}},
      {"start directory full",
       "mount",
       {},
       [&] {
         std::string start = HostPath(start_.path()), elsewhere = HostPath(away.path());
         ASSERT_EQ(Shell("mount -t tmpfs -o size=4m tmpfs " + start + " && mkdir " + start +
                         "/in " + start + "/out && mount --bind " + elsewhere + "/in " + start +
                         "/in && mount --bind " + elsewhere + "/out " + start + "/out"),
                   0);
         files(2000);
       },
       1,
       [&] {
         // Room left for the listing and a quarter of the merged snapshot.
         std::error_code error;
         std::uintmax_t room = fs::file_size(oldSnapshot(), error) * 5 / 4;
         // Named with a separator at its end: MinGW's space() asks about the
         // folder a name without one is in.
         std::uintmax_t free = fs::space(start_.path() / "").available;
         ASSERT_TRUE(!error && free > room) << "no old snapshot, or no room for its like";
         file("filler", std::string(free - room, 'f'));
         scanned([&] { file("in/a"); });
         fs::remove(At("filler"));
         scanned([&] { file("in/b"); });
       },
       {"in/a -A", "in/b -A"},
       {}},
      {"old snapshot damaged",
       nullptr,
       {},
       [&] { files(200); },
       1,
       [&] {
         // Stray blanks over the name of record 50: a record with no name,
         // out of order.
         std::size_t length = ReadWholeFile(oldSnapshot()).find("\r\n") + 2;
         std::fstream snapshot(oldSnapshot(), std::ios::in | std::ios::out | std::ios::binary);
         ASSERT_TRUE(snapshot.is_open());
         snapshot.seekp(static_cast<std::streamoff>(length * 50));
         snapshot.write("       ", 7);
         snapshot.close();
         file("in/x");
         EXPECT_TRUE(WaitForLog("(01)... Old snapshot damaged(KSFF01O.txt)", 1, 10));
         file("in/y");
       },
       {"in/y -A"},
       {"in/x -A"}},
      {"old snapshot deleted",
       nullptr,
       {},
       [&] { files(200); },
       1,
       [&] {
         ASSERT_TRUE(fs::remove(oldSnapshot()));
         file("in/x");
         EXPECT_TRUE(WaitForLog("(01)... Old snapshot missing(KSFF01O.txt)", 1, 10));
         file("in/y");
       },
       {"in/y -A"},
       {"in/x -A"}},
      {"more files than a listing holds",
       nullptr,
       {},
       [&] { files(3100); },
       1,
       [&] {
         // "a" comes first where a listing is in name order, as on NTFS and
         // under Wine: the file left out for it is one that is still there.
         for (int i = 0; i < 2; ++i) {
           scanned([&] { file("in/a"); });
           scanned([&] { fs::remove(At("in/a")); });
         }
         EXPECT_GE(Count(Log(), "(01)... PutFileNamesInDir. Table max ovser. max(3000)"), 1);
       },
       {},
       {"in/a -A", "in/a -D", "in/a -A", "in/a -D"}},
      {"file emptied, then deleted",
       nullptr,
       {},
       [&] {
         file("in/job.txt", "work to do");
         fs::last_write_time(At("in/job.txt"),
                             fs::file_time_type::clock::now() - std::chrono::hours(1));
       },
       1,
       [&] {
         file("in/job.txt", "");
         ASSERT_TRUE(WaitForLog("(01)...      -s- Action (AUD ):ChangeSize(zero)(job.txt)"));
         fs::remove(At("in/job.txt"));
       },
       {"in/job.txt -D"},
       {"in/job.txt -A"}},
      {"size of 4 GiB less a byte",
       nullptr,
       {},
       [] {},
       1,
       [&] {
         // Made at its size elsewhere and moved in: one change only.
         file("big");
         fs::resize_file(At("big"), 4294967295u);
         scanned([&] { fs::rename(At("big"), At("in/big")); });
         for (const char* name : {"n1", "n2", "n3"}) {
           scanned([&] { file("in/" + std::string(name)); });
         }
       },
       {"in/big -A", "in/n1 -A", "in/n2 -A", "in/n3 -A"},
       {}},
      {"file grown within the second its record shows",
       nullptr,
       {},
       [] {},
       1,
       [&] {
         file("in/r", "header");
         fs::file_time_type written = fs::last_write_time(At("in/r"));
         ASSERT_TRUE(PollUntil([&] { return CountArgvRecords(At("out")) == 1; }));
         // Handed on at its first length, it grows: only its size tells the
         // change, the time being the one its record has to the second. The
         // lock holds the scan off until the time is set back, should that
         // second have ended meanwhile.
         HoldLock();
         std::ofstream(At("in/r"), std::ios::binary | std::ios::app) << "body";
         fs::last_write_time(At("in/r"), written);
         scanned([&] { ASSERT_TRUE(Release("lock")); });
         // Its record, the snapshot's only one, has the whole file's size.
         std::string record = ReadWholeFile(oldSnapshot());
         EXPECT_EQ(record.substr(record.find('\0') + 1, 13), std::string("000000000010") + '\0');
       },
       {"in/r -A", "in/r -A"},
       {}},
      {"restarted with two entries, a file dropped for the second once the first waits",
       nullptr,
       {},
       // Its first listing takes a while, begun once entry 1 waits.
       [&] { files(2000, "in2"); },
       2,
       [&] { restarts([&](const std::string& name) { file("in2/" + name); }); },
       {"in2/r1 -A", "in2/r2 -A", "in2/r3 -A"},
       {}},
#ifndef _WIN32
      // Windows needs nothing of this: its probe's open with no sharing
      // fails while a writer of any account holds the file.
      {"file written by another user in pieces",
       "setpriv to another user",
       {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"},
       [&] {
         for (const char* dir : {"", "in", "out"}) fs::permissions(At(dir), fs::perms::all);
       },
       1,
       [&] {
         // Ours is root's file and root's writer, neither of which the
         // program may look into: the file is handed on once it stops.
         std::ofstream writer(At("in/s.dat"), std::ios::binary);
         for (int piece = 0; piece < 10; ++piece) {
           writer << std::string(1000, 's') << std::flush;
           std::this_thread::sleep_for(std::chrono::milliseconds(300));
         }
         writer.close();
         std::string record;
         EXPECT_TRUE(PollUntil([&] {
           record = ReadWholeFile(oldSnapshot());
           return record.compare(0, 5, "s.dat") == 0;
         }));
         EXPECT_EQ(record.substr(record.find('\0') + 1, 13), std::string("000000010000") + '\0');
       },
       {"in/s.dat -A"},
       {}},
      // None of these kinds on Windows.
      {"special files",
       nullptr,
       {},
       [] {},
       1,
       [&] {
         ASSERT_EQ(mkfifo(At("in/fifo").c_str(), 0644), 0);
         int sock = socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address = {};
         address.sun_family = AF_UNIX;
         std::strncpy(address.sun_path, At("in/socket").c_str(), sizeof address.sun_path - 1);
         EXPECT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
         close(sock);
         fs::create_symlink("nowhere", At("in/link"));
         file("in/plain");
         ASSERT_TRUE(PollUntil([&] { return CountArgvRecords(At("out")) == 1; }));
         EXPECT_TRUE(LogStaysStill()) << "scans go on by themselves";
         for (const char* name : {"fifo", "socket", "link"}) {
           EXPECT_EQ(Count(Log(), "(01)...      -s- File addition. (" + std::string(name) + ")"), 0)
               << name << " taken for a file in use";
         }
       },
       {"in/plain -A"},
       {}},
#endif
  };

  const bool root = Shell("test $(id -u) = 0") == 0;
  std::string skipped;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.root != nullptr && !root) {
      skipped += std::string("; ") + row.name + " (" + row.root + ")";
      continue;
    }
    row.before();
    std::string commandFile = Record("AUD", "in", "out");
    if (row.entries == 2) commandFile += Record("AUD", "in2", "out");
    if (!row.runAs.empty()) {
      WriteWholeFile(At("WKCommand.txt"), commandFile);
      Lines words(row.runAs.begin() + 1, row.runAs.end());
      words.push_back(ProgramPath());
      program_ = StartProcess(row.runAs[0], words, start_.str());
      ASSERT_TRUE(WaitForLog(wait));
    } else {
      StartWatching(commandFile, row.entries);
    }
    row.fault();

    // What was started, as "in/x -A", measured against the row.
    std::multiset<std::string> seen;
    Lines folderItself, falseDeletes, missing;
    for (const std::string& words : Started("out", row.starts.size(), 10)) {
      // The path and the flag after it: the command line's quoted path on
      // Windows, the words after the program's own on Linux.
#ifdef _WIN32
      std::size_t path = words.find('"') + 1, end = words.find('"', path), flag = end + 2;
#else
      std::size_t path = words.find('\0') + 1, end = words.find('\0', path), flag = end + 1;
#endif
      std::string name = words.substr(path, end - path).substr(start_.str().size() + 1);
      std::replace(name.begin(), name.end(), kSeparator, '/');
      std::string start = name + " " + words.substr(flag, 2);
      if (name.find('/') == std::string::npos || name.back() == '/') {
        folderItself.push_back(start);
      } else if (words.substr(flag, 2) == "-D" && fs::exists(fs::symlink_status(At(name)))) {
        falseDeletes.push_back(start);
      }
      seen.insert(start);
    }
    for (const std::string& start : row.starts) {
      auto at = seen.find(start);
      if (at == seen.end()) missing.push_back(start);
      if (at != seen.end()) seen.erase(at);
    }
    for (const std::string& start : row.mayStart) {
      auto at = seen.find(start);
      if (at != seen.end()) seen.erase(at);
    }
    auto few = [](const Lines& starts) {
      Lines first(starts.begin(), starts.begin() + std::min<std::size_t>(starts.size(), 6));
      return std::to_string(starts.size()) + ", as " + ::testing::PrintToString(first);
    };
    EXPECT_TRUE(folderItself.empty()) << "started for the folder itself: " << few(folderItself);
    EXPECT_TRUE(falseDeletes.empty()) << "-D for a file that is there: " << few(falseDeletes);
    EXPECT_TRUE(missing.empty()) << "changes never started: " << few(missing);
    EXPECT_TRUE(seen.empty()) << "starts not due: " << few(Lines(seen.begin(), seen.end()));

    // Ended as asked, and the start directory made new for the next row.
    EXPECT_TRUE(RequestEnd(program_));
    EXPECT_EQ(WaitHelper(program_, 60000), 0) << "no normal end when asked";
    if (program_.id != 0) Kill(program_);
    program_ = {};
    if (row.root != nullptr) {
      std::string start = HostPath(start_.path()), elsewhere = HostPath(away.path());
      Shell("umount -l " + start + "/in " + start + "/out " + start + " " + elsewhere + "/gone " +
            elsewhere + "/view 2>/dev/null; true");
    }
    for (const auto& entry : fs::directory_iterator(start_.path())) fs::remove_all(entry.path());
    for (const char* dir : {"in", "out", "in2", "out2"}) fs::create_directory(At(dir));
  }
  if (!skipped.empty()) GTEST_SKIP() << "not root, so not staged" << skipped;
}

}  // namespace
}  // namespace testing
}  // namespace wendrake
