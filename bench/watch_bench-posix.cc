// The whole program under load, beside the floor and the tools people use
// for the same job, all in one run:
//   watch_bench latency TRIALS   file closed -> program started, interleaved
//                                over the floor, an inotifywait loop, incron
//                                (when installed) and wendrake
//   watch_bench once             1000 files at once, a 200 MB dd, a file held
//                                open for 5 s: exactly one start each
//   watch_bench held             a file held open and written 50 times a
//                                second for 5 s: log bytes, CPU time, scans
//   watch_bench idle             CPU time and wake-ups over 10 quiet seconds
//   watch_bench memory           peak resident memory, two entries of 3000
//   watch_bench wine TRIALS      the latency of Wendrake.exe under Wine
//   watch_bench floor DIR RECORDER RESULTS   (the floor itself, run by latency)
// Every started program is start_recorder, which writes its own start time.
// The programs are found beside this one (start_recorder) and one folder up
// (wendrake); WENDRAKE_PROGRAM and WENDRAKE_EXE override, and WENDRAKE_BEFORE
// adds other builds of wendrake to the latency run. Scratch folders go
// under $TMPDIR (default /tmp) and are removed at the end.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

long long NowNs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

void SleepMs(int ms) {
  struct timespec span = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&span, &span) != 0) {
  }
}

std::string Here() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  self[n > 0 ? n : 0] = '\0';
  return fs::path(self).parent_path().string();
}

std::string Env(const char* name, const std::string& otherwise) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : otherwise;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  close(fd);
}

void FillFolder(const std::string& folder, int files) {
  fs::create_directories(folder);
  for (int i = 0; i < files; ++i) WriteFile(folder + "/old-" + std::to_string(i) + ".dat", "x");
}

// A scratch folder for one part of the run, removed by the destructor.
struct Scratch {
  explicit Scratch(const std::string& under = Env("TMPDIR", "/tmp")) {
    std::string pattern = under + "/wendrake-watch-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) std::exit(1);
    path = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
  std::string path;
};

// A process of its own group started in `cwd`, its output into `output`.
pid_t Start(const std::vector<std::string>& args, const std::string& cwd,
            const std::string& output) {
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    if (chdir(cwd.c_str()) != 0) _exit(127);
    int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(out, 1);
    dup2(out, 2);
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
  }
  return pid;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(-pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    SleepMs(50);
  }
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// CPU seconds (user + system) of a process, all its threads.
double CpuSeconds(pid_t pid) {
  std::string stat = ReadAll("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i >= 14) ticks += std::stoll(field);
  }
  return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A line "Key:  value kB" of /proc/PID/status, or of one task's.
long StatusValue(const std::string& status, const std::string& key) {
  std::size_t at = status.find("\n" + key + ":");
  return at == std::string::npos ? 0 : std::atol(status.c_str() + at + key.size() + 2);
}

// Context switches of every thread: each one is a wake-up or a preemption.
long Switches(pid_t pid) {
  long total = 0;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    std::string status = "\n" + ReadAll(task.path().string() + "/status");
    total += StatusValue(status, "voluntary_ctxt_switches") +
             StatusValue(status, "nonvoluntary_ctxt_switches");
  }
  return total;
}

long PeakKb(pid_t pid) {
  return StatusValue("\n" + ReadAll("/proc/" + std::to_string(pid) + "/status"), "VmHWM");
}

int CountLines(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// The start lines ("<ns> <path>") a results file holds.
struct Launch {
  long long ns;
  std::string path;
};
std::vector<Launch> Launches(const std::string& results) {
  std::vector<Launch> starts;
  std::istringstream lines(ReadAll(results));
  Launch one;
  while (lines >> one.ns && std::getline(lines >> std::ws, one.path)) starts.push_back(one);
  return starts;
}

bool EndsWithName(const std::string& path, const std::string& name) {
  return path.size() > name.size() &&
         path.compare(path.size() - name.size(), name.size(), name) == 0 &&
         (path[path.size() - name.size() - 1] == '/' ||
          path[path.size() - name.size() - 1] == '\\');
}

std::string Listing(const char* folder) {
  std::string listing;
  DIR* dir = opendir(folder);
  if (dir == nullptr) return listing;
  while (struct dirent* entry = readdir(dir)) {
    struct stat st;
    if (fstatat(dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode)) {
      // As long as a snapshot record: a 255-byte name field, 291 bytes.
      char record[292];
      std::snprintf(record, sizeof record, "%-255.255s %012lld %020lld\r\n", entry->d_name,
                    static_cast<long long>(st.st_size), static_cast<long long>(st.st_mtime));
      listing += record;
    }
  }
  closedir(dir);
  return listing;
}

// ---------------------------------------------------------------------------
// The floor: the least a watcher must do, inotify and posix_spawn.

// With `listingFile`, also what any watcher that compares listings must do
// before it can start anything: list the folder with stat and write the
// listing, 291 bytes a file, to a new file (deleted after the start).
int Floor(const char* folder, const char* recorder, const char* results, const char* listingFile) {
  struct sigaction reap = {};
  reap.sa_handler = SIG_IGN;
  reap.sa_flags = SA_NOCLDWAIT;
  sigaction(SIGCHLD, &reap, nullptr);
  int fd = inotify_init1(IN_CLOEXEC);
  if (fd < 0 || inotify_add_watch(fd, folder, IN_CLOSE_WRITE) < 0) return 1;
  alignas(struct inotify_event) char events[8192];
  for (;;) {
    ssize_t got = read(fd, events, sizeof events);
    if (got <= 0) return 1;
    for (char* at = events; at < events + got;) {
      auto* event = reinterpret_cast<struct inotify_event*>(at);
      at += sizeof *event + event->len;
      if (event->len == 0) continue;
      std::string path = std::string(folder) + "/" + event->name;
      char* argv[] = {const_cast<char*>(recorder), &path[0], const_cast<char*>("-A"),
                      const_cast<char*>(results), nullptr};
      if (listingFile != nullptr) WriteFile(listingFile, Listing(folder));
      pid_t child;
      posix_spawn(&child, recorder, nullptr, nullptr, argv, environ);
      if (listingFile != nullptr) unlink(listingFile);
    }
  }
}

// ---------------------------------------------------------------------------
// Latency

struct Tool {
  std::string name;
  std::string folder;
  std::string results;
  pid_t pid = 0;
  std::vector<double> ms;
  int lost = 0;     // trials without a start within 5 s
  std::string log;  // wendrake's
};

// Writes and closes a new file in the tool's folder and waits for the start
// that it causes. Returns false when none came in time, else the time from
// the close to the start in *ms. That may come out a little below zero: the
// tool on the other core can start the program before this process, put
// off after its close, reads the clock.
bool Trial(Tool* tool, const std::string& name, int inotifyFd, int timeoutMs, double* ms) {
  std::string path = tool->folder + "/" + name;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  char bytes[512];
  std::memset(bytes, 'b', sizeof bytes);
  bool written = write(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes);
  close(fd);
  long long closed = NowNs();
  bool found = false;
  while (written && !found && NowNs() - closed < timeoutMs * 1000000LL) {
    for (const Launch& start : Launches(tool->results)) {
      if (!EndsWithName(start.path, name)) continue;
      found = true;
      *ms = static_cast<double>(start.ns - closed) / 1e6;
    }
    if (found) break;
    struct pollfd wake = {inotifyFd, POLLIN, 0};
    if (poll(&wake, 1, 20) > 0) {
      char drain[4096];
      while (read(inotifyFd, drain, sizeof drain) > 0) {
      }
    }
  }
  unlink(path.c_str());
  return found;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5)];
}

std::string CommandFile(const std::string& folder, const std::string& recorder,
                        const std::string& current, const std::string& results) {
  return "ACTION=A FOLDER=\"" + folder + "\" EXECUTE=" + recorder + " CURRENT=\"" + current +
         "\" ARGUMENT=" + results + "\n";
}

// Runs `trials` rounds, each tool once per round in turn, after a warm-up
// that also waits for every tool to be ready.
void RunLatency(std::vector<Tool>* tools, int trials, int readyMs) {
  int inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  for (Tool& tool : *tools) {
    inotify_add_watch(inotifyFd, tool.results.c_str(), IN_MODIFY);
  }
  for (Tool& tool : *tools) {
    // A tool just started may not watch yet: its first files go unseen.
    bool ready = false;
    double ms;
    for (int i = 0; !ready && i < readyMs / 500; ++i) {
      ready = Trial(&tool, "ready" + std::to_string(i) + ".dat", inotifyFd, 500, &ms);
    }
    for (int i = 0; ready && i < 5; ++i) {
      ready = Trial(&tool, "warm" + std::to_string(i) + ".dat", inotifyFd, 5000, &ms);
    }
    if (!ready) {
      // Its output goes with the scratch folder: shown here instead.
      fs::path start = fs::path(tool.log.empty() ? tool.results : tool.log).parent_path();
      std::printf("%s: no start within %d ms; left out. Its output:\n%.2000s\n", tool.name.c_str(),
                  readyMs, ReadAll((start / "output.txt").string()).c_str());
      tool.pid = -tool.pid;
    }
    SleepMs(30);
  }
  for (int round = 0; round < trials; ++round) {
    for (std::size_t k = 0; k < tools->size(); ++k) {
      Tool& tool = (*tools)[(k + static_cast<std::size_t>(round)) % tools->size()];
      if (tool.pid <= 0) continue;
      double ms;
      if (Trial(&tool, "t" + std::to_string(round) + ".dat", inotifyFd, 5000, &ms)) {
        tool.ms.push_back(ms);
      } else {
        ++tool.lost;
      }
      // Lets the scan of the deletion and the recorder end before the next
      // tool's trial.
      SleepMs(25);
    }
  }
  close(inotifyFd);
  const Tool& floor = tools->front();
  double floorMedian = Percentile(floor.ms, 0.5);
  std::printf(
      "| tool | starts | lost | median ms | p90 ms | median / floor | met in use |\n"
      "|---|---:|---:|---:|---:|---:|---:|\n");
  for (const Tool& tool : *tools) {
    double median = Percentile(tool.ms, 0.5);
    // How often a scan met the new file while the bench still held it
    // open: its start then waits for the scan after the close.
    std::string inUse =
        tool.log.empty() ? "" : std::to_string(CountLines(ReadAll(tool.log), "in use."));
    std::printf("| %s | %zu | %d | %.3f | %.3f | %.2f | %s |\n", tool.name.c_str(), tool.ms.size(),
                tool.lost, median, Percentile(tool.ms, 0.9), median / floorMedian, inUse.c_str());
  }
}

Tool MakeTool(const Scratch& scratch, const std::string& name) {
  Tool tool;
  tool.name = name;
  fs::create_directories(scratch / name);
  tool.folder = scratch / (name + "/in");
  tool.results = scratch / (name + "/starts.txt");
  FillFolder(tool.folder, 30);
  WriteFile(tool.results, "");
  return tool;
}

// The floor, this program's own inotify loop, as the tool `name`; with
// `listing`, the floor that also lists the folder into a new file.
Tool StartFloor(const Scratch& scratch, const std::string& name, const std::string& recorder,
                bool listing) {
  Tool floor = MakeTool(scratch, name);
  std::vector<std::string> args = {Here() + "/watch_bench", "floor", floor.folder, recorder,
                                   floor.results};
  if (listing) args.push_back(scratch / (name + "/listing.txt"));
  floor.pid = Start(args, scratch / name, scratch / (name + "/output.txt"));
  return floor;
}

int Latency(int trials) {
  const std::string recorder = Here() + "/start_recorder";
  const std::string program = Env("WENDRAKE_PROGRAM", Here() + "/../wendrake");
  Scratch scratch;
  std::vector<Tool> tools;

  tools.push_back(StartFloor(scratch, "floor", recorder, false));
  tools.push_back(StartFloor(scratch, "floor+listing", recorder, true));

  Tool loop = MakeTool(scratch, "inotifywait");
  loop.pid = Start({"bash", "-c",
                    "inotifywait -mq -e close_write --format %w%f \"$1\" | "
                    "while IFS= read -r f; do \"$2\" \"$f\" -A \"$3\"; done",
                    "loop", loop.folder, recorder, loop.results},
                   scratch / "inotifywait", scratch / "inotifywait/output.txt");
  tools.push_back(loop);

  if (system("command -v incrond >/dev/null") == 0) {
    Tool incron = MakeTool(scratch, "incron");
    std::string base = scratch / "incron";
    fs::create_directories(base + "/system");
    fs::create_directories(base + "/user");
    WriteFile(base + "/incron.conf",
              "system_table_dir = " + base + "/system\nuser_table_dir = " + base +
                  "/user\nlockfile_dir = " + base + "\nlockfile_name = incrond\n");
    WriteFile(base + "/system/bench",
              incron.folder + " IN_CLOSE_WRITE " + recorder + " $@/$# -A " + incron.results + "\n");
    incron.pid = Start({"incrond", "-n", "-f", base + "/incron.conf"}, base, base + "/output.txt");
    tools.push_back(incron);
  } else {
    std::printf("incron: incrond is not installed; left out\n");
  }

  // Wendrake twice: started in a folder beside the watched one, and started
  // in a folder on tmpfs, which keeps the snapshot files' creations and
  // deletions out of the file system that is watched. WENDRAKE_BEFORE names
  // other builds (the program before a change), separated by ':', to run
  // beside it the same way, each under its file name.
  Scratch memory("/dev/shm");
  std::vector<std::pair<std::string, std::string>> programs = {{"wendrake", program}};
  std::istringstream others(Env("WENDRAKE_BEFORE", ""));
  for (std::string other; std::getline(others, other, ':');) {
    if (!other.empty()) programs.push_back({fs::path(other).filename().string(), other});
  }
  for (const auto& [name, path] : programs) {
    for (bool onTmpfs : {false, true}) {
      std::string start = onTmpfs ? memory / name : scratch / name;
      Tool wendrake = MakeTool(scratch, onTmpfs ? name + "-tmpfs" : name);
      fs::create_directories(start);
      WriteFile(start + "/WKCommand.txt",
                CommandFile(wendrake.folder, recorder, start, wendrake.results));
      wendrake.log = start + "/Wendrake.log";
      wendrake.pid = Start({path}, start, start + "/output.txt");
      tools.push_back(wendrake);
    }
  }

  RunLatency(&tools, trials, 10000);
  for (Tool& tool : tools) Stop(tool.pid < 0 ? -tool.pid : tool.pid);
  return 0;
}

// Wendrake.exe under Wine, in a prefix of its own, with a display from
// xvfb-run. Wine starts the native recorder itself, so the same clock is
// read on both sides.
int Wine(int trials) {
  const std::string exe = Env("WENDRAKE_EXE", Here() + "/../../windows/Wendrake.exe");
  const std::string recorder = Here() + "/start_recorder";
  Scratch scratch;
  std::vector<Tool> tools;
  tools.push_back(StartFloor(scratch, "floor", recorder, false));

  Tool wendrake = MakeTool(scratch, "Wendrake.exe-under-Wine");
  std::string base = fs::path(wendrake.folder).parent_path().string();
  // Wine names the root of the Linux file system Z:.
  auto dos = [](std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
  };
  WriteFile(base + "/WKCommand.txt",
            CommandFile(dos(wendrake.folder), dos(recorder), dos(base), wendrake.results));
  wendrake.log = base + "/Wendrake.log";
  setenv("WINEDEBUG", "-all", 1);
  setenv("WINEPREFIX", Env("WINEPREFIX", Here() + "/../wineprefix-bench").c_str(), 1);
  wendrake.pid = Start({"xvfb-run", "-a", "wine", exe}, base, base + "/output.txt");
  tools.push_back(wendrake);

  RunLatency(&tools, trials, 120000);
  for (Tool& tool : tools) Stop(tool.pid < 0 ? -tool.pid : tool.pid);
  // A server already gone has nothing left to end.
  if (system("wineserver -k 2>/dev/null") != 0) return 0;
  return 0;
}

// ---------------------------------------------------------------------------
// One wendrake watching one or two folders, for the other parts.

struct Watcher {
  std::string start;
  std::string results;
  pid_t pid = 0;
  std::string Log() const { return ReadAll(start + "/Wendrake.log"); }
  int Waits() const { return CountLines(Log(), "(01)...-Wait("); }
  std::vector<Launch> Starts() const { return Launches(results); }
};

Watcher StartWatcher(const Scratch& scratch, const std::vector<std::string>& folders) {
  const std::string program = Env("WENDRAKE_PROGRAM", Here() + "/../wendrake");
  Watcher watcher;
  watcher.start = scratch / "start";
  watcher.results = scratch / "starts.txt";
  fs::create_directories(watcher.start);
  WriteFile(watcher.results, "");
  std::string commands;
  for (const std::string& folder : folders) {
    commands += CommandFile(folder, Here() + "/start_recorder", watcher.start, watcher.results);
  }
  WriteFile(watcher.start + "/WKCommand.txt", commands);
  watcher.pid = Start({program}, watcher.start, watcher.start + "/output.txt");
  std::string ready = "(0" + std::to_string(folders.size()) + ")...-Wait(";
  for (int i = 0; i < 600 && CountLines(watcher.Log(), ready) == 0; ++i) SleepMs(50);
  return watcher;
}

// Waits until the count of starts stays put for `quietMs`.
std::size_t SettledStarts(const Watcher& watcher, int quietMs) {
  std::size_t count = watcher.Starts().size();
  for (int still = 0; still < quietMs; still += 100) {
    SleepMs(100);
    std::size_t now = watcher.Starts().size();
    if (now != count) still = 0;
    count = now;
  }
  return count;
}

pid_t Writer(const std::vector<std::string>& args) {
  return Start(args, "/", "/dev/null");
}

int Once() {
  Scratch scratch;
  const std::string drop = scratch / "drop";
  FillFolder(drop, 0);
  Watcher watcher = StartWatcher(scratch, {drop});

  // 1000 files written and closed by another process, as fast as it can.
  pid_t writer =
      Writer({"bash", "-c", "for i in $(seq 1 1000); do printf data > \"$1/new-$i.dat\"; done", "w",
              drop});
  waitpid(writer, nullptr, 0);
  std::size_t starts = SettledStarts(watcher, 3000);
  std::set<std::string> distinct;
  for (const Launch& start : watcher.Starts()) distinct.insert(start.path);
  std::printf("| 1000 files dropped at once | %zu starts, %zu distinct files | %d |\n", starts,
              distinct.size(), watcher.Waits() - 1);

  // One file held open and written for 5 s, then closed.
  int waits = watcher.Waits();
  pid_t holder = Writer({"bash", "-c",
                         "exec 3>\"$1\"; for i in $(seq 1 50); do printf 0123456789 >&3; "
                         "sleep 0.1; done; exec 3>&-",
                         "w", drop + "/held.dat"});
  waitpid(holder, nullptr, 0);
  long long closed = NowNs();
  SettledStarts(watcher, 3000);
  int heldStarts = 0;
  long long heldAt = 0;
  for (const Launch& start : watcher.Starts()) {
    if (EndsWithName(start.path, "held.dat")) ++heldStarts, heldAt = start.ns;
  }
  std::printf("| file held open 5 s while written | %d start, %.1f ms after the close | %d |\n",
              heldStarts, static_cast<double>(heldAt - closed) / 1e6, watcher.Waits() - waits);
  Stop(watcher.pid);

  // 200 MB written with dd bs=4k into a folder of 3000 files (2999 and it).
  Scratch big;
  const std::string full = big / "full";
  FillFolder(full, 2999);
  Watcher bigWatcher = StartWatcher(big, {full});
  waits = bigWatcher.Waits();
  double cpu = CpuSeconds(bigWatcher.pid);
  long long began = NowNs();
  pid_t dd = Writer({"dd", "if=/dev/zero", "of=" + full + "/big.dat", "bs=4k", "count=51200"});
  waitpid(dd, nullptr, 0);
  long long ended = NowNs();
  SettledStarts(bigWatcher, 3000);
  cpu = CpuSeconds(bigWatcher.pid) - cpu;
  int bigStarts = 0;
  long long bigAt = 0;
  for (const Launch& start : bigWatcher.Starts()) {
    if (EndsWithName(start.path, "big.dat")) ++bigStarts, bigAt = start.ns;
  }
  std::printf(
      "| 200 MB by dd bs=4k (%.2f s) into 3000 files | %d start, %.1f ms after dd ended; "
      "%.2f CPU s | %d |\n",
      static_cast<double>(ended - began) / 1e9, bigStarts, static_cast<double>(bigAt - ended) / 1e6,
      cpu, bigWatcher.Waits() - waits);
  Stop(bigWatcher.pid);
  return 0;
}

// A file held open by this process and written 50 times a second for 5 s
// (a database or a log kept open) in a folder of 30 and of 3000 files: what
// wendrake writes to its log and spends in CPU time per second meanwhile,
// how soon after the close the one start comes, and how soon another file
// written and closed halfway through is started.
int Held() {
  constexpr int kWrites = 250;
  constexpr int kEveryMs = 20;
  for (int files : {30, 3000}) {
    Scratch scratch;
    const std::string folder = scratch / "held";
    FillFolder(folder, files);
    Watcher watcher = StartWatcher(scratch, {folder});
    int waits = watcher.Waits();
    std::size_t logBytes = watcher.Log().size();
    double cpu = CpuSeconds(watcher.pid);
    long long began = NowNs();
    int fd = open((folder + "/held.db").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    long long otherClosed = 0;
    for (int i = 0; i < kWrites && fd >= 0; ++i) {
      if (write(fd, "0123456789", 10) != 10) break;
      if (i == kWrites / 2) {
        WriteFile(folder + "/other.dat", "other");
        otherClosed = NowNs();
      }
      SleepMs(kEveryMs);
    }
    close(fd);
    long long closed = NowNs();
    double seconds = static_cast<double>(closed - began) / 1e9;
    double cpuHeld = CpuSeconds(watcher.pid) - cpu;
    std::size_t logHeld = watcher.Log().size() - logBytes;
    int scansHeld = watcher.Waits() - waits;
    SettledStarts(watcher, 2000);
    int starts = 0;
    long long at = 0;
    long long otherAt = 0;
    for (const Launch& start : watcher.Starts()) {
      if (EndsWithName(start.path, "held.db")) ++starts, at = start.ns;
      if (EndsWithName(start.path, "other.dat")) otherAt = start.ns;
    }
    std::printf(
        "| %d files, held %.1f s | %.0f log bytes/s | %.3f CPU s/s | %.1f scans/s | %d start, "
        "%.1f ms after the close | %.1f ms |\n",
        files, seconds, static_cast<double>(logHeld) / seconds, cpuHeld / seconds,
        scansHeld / seconds, starts, static_cast<double>(at - closed) / 1e6,
        static_cast<double>(otherAt - otherClosed) / 1e6);
    Stop(watcher.pid);
  }
  return 0;
}

// wendrake with two entries, folders a and b of 3000 files each.
Watcher StartTwoFullEntries(const Scratch& scratch) {
  FillFolder(scratch / "a", 3000);
  FillFolder(scratch / "b", 3000);
  return StartWatcher(scratch, {scratch / "a", scratch / "b"});
}

int Idle() {
  Scratch scratch;
  Watcher watcher = StartTwoFullEntries(scratch);
  SleepMs(1000);
  double cpu = CpuSeconds(watcher.pid);
  long switches = Switches(watcher.pid);
  SleepMs(10000);
  std::printf("| idle 10 s, two entries of 3000 files | %.2f CPU s | %ld wake-ups |\n",
              CpuSeconds(watcher.pid) - cpu, Switches(watcher.pid) - switches);
  Stop(watcher.pid);
  return 0;
}

int Memory() {
  Scratch scratch;
  Watcher watcher = StartTwoFullEntries(scratch);
  // One change in each folder: both watchers scan their 3000 files at once
  // and start a program.
  WriteFile(scratch / "a/new.dat", "new");
  WriteFile(scratch / "b/new.dat", "new");
  SettledStarts(watcher, 2000);
  std::printf(
      "| two entries of 3000 files, both scanned | %ld kB peak resident (VmHWM) | %zu "
      "starts |\n",
      PeakKb(watcher.pid), watcher.Starts().size());
  Stop(watcher.pid);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string part = argc > 1 ? argv[1] : "";
  int trials = argc > 2 ? std::atoi(argv[2]) : 200;
  if (part == "floor" && argc >= 5) return Floor(argv[2], argv[3], argv[4], argv[5]);
  if (part == "latency") return Latency(trials);
  if (part == "wine") return Wine(trials);
  if (part == "once") return Once();
  if (part == "held") return Held();
  if (part == "idle") return Idle();
  if (part == "memory") return Memory();
  std::fprintf(stderr, "usage: watch_bench latency|wine [TRIALS] | once | held | idle | memory\n");
  return 2;
}
