// The price of one complete scan of a folder where nothing changed:
// ScanFolder from taking the entry's lock to giving it back (the listing,
// its sort and snapshot file, the matching of the old snapshot against it
// with every file through its outcome, the merged snapshot and the
// rotation of the three files), beside a floor that any scan of the same
// folder must pay: the bare listing with stat, three snapshot-sized files
// written whole and one rename. Folders of 30, 300 and 3000 files, the page
// cache warm, as it is for a watcher that scans the same folder again.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "config/thread_control.h"
#include "log/log.h"
#include "os/os.h"
#include "watch/snapshot.h"
#include "watch/watcher.h"

namespace {

namespace fs = std::filesystem;

const int kSizes[] = {30, 300, 3000};

// A scratch folder, the current directory while the benchmarks run (the
// start directory: log, lock and snapshot files), with one folder of files
// per size.
fs::path scratch;

std::string FolderOf(int files) {
  return (scratch / ("f" + std::to_string(files))).string();
}

bool MakeFolders() {
  const char* root = std::getenv("TMPDIR");
  std::string pattern =
      std::string(root != nullptr && *root != '\0' ? root : "/tmp") + "/wendrake-bench-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) return false;
  scratch = pattern;
  for (int files : kSizes) {
    fs::create_directory(FolderOf(files));
    for (int i = 0; i < files; ++i) {
      // Names of several lengths, as a real inbox has.
      char name[512];
      std::snprintf(name, sizeof name, "%s/%s%d.dat", FolderOf(files).c_str(),
                    i % 3 == 0 ? "report-" : (i % 3 == 1 ? "x" : "import_batch_"),
                    i * 7919 % 10007);
      std::FILE* f = std::fopen(name, "wb");
      if (f == nullptr) return false;
      std::fprintf(f, "%d", i);
      std::fclose(f);
    }
  }
  fs::current_path(scratch);
  return true;
}

// Entry 1 watches the folder of `files` files, without flags: nothing
// changes, so nothing is started and no line is logged. Its lock and first
// snapshot are made as start-up makes them.
wendrake::os::Handle ArmEntryFor(int files) {
  using namespace wendrake;
  entryCount = 0;
  ClearThreadControlTable();
  AddTabel("", FolderOf(files).c_str(), "/bin/true", scratch.c_str(), "");
  os::Handle lock = os::LockCreate(EntryAt(1).mutexName);
  SnapshotFileNames names;
  MakeSnapshotFileNames(1, &names);
  DeleteFileIfFound(names.oldName);
  PutFileNamesInDir(1, names.newName, FolderOf(files).c_str());
  ReanameFile(names.newName, names.oldName);
  return lock;
}

void ScanFolderBench(benchmark::State& state) {
  using namespace wendrake;
  const int files = static_cast<int>(state.range(0));
  os::Handle lock = ArmEntryFor(files);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ScanFolder(1));
  }
  // Every scan must have met every file as unchanged: one record each.
  if (fs::file_size("KSFF01O.txt") != static_cast<std::uintmax_t>(files) * kRecordLength) {
    state.SkipWithError("the scan did not keep the snapshot");
  }
  os::LockClose(lock);
  state.SetItemsProcessed(state.iterations() * files);
}

void WriteWhole(const char* name, const std::vector<char>& bytes) {
  int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  ssize_t written = write(fd, bytes.data(), bytes.size());
  benchmark::DoNotOptimize(written);
  close(fd);
}

// The floor: what a scan of the folder cannot do without. The listing
// with stat, and the bytes of its three snapshot files each written with
// one call, then the rename that makes the merged file the old one.
void ScanFloorBench(benchmark::State& state) {
  const int files = static_cast<int>(state.range(0));
  std::string folder = FolderOf(files);
  std::vector<char> snapshot(static_cast<std::size_t>(files) * wendrake::kRecordLength, 'r');
  for (auto _ : state) {
    DIR* dir = opendir(folder.c_str());
    std::uint64_t total = 0;
    while (struct dirent* entry = readdir(dir)) {
      struct stat st;
      if (fstatat(dirfd(dir), entry->d_name, &st, 0) == 0 && !S_ISDIR(st.st_mode)) {
        total += static_cast<std::uint64_t>(st.st_size) + static_cast<std::uint64_t>(st.st_mtime);
      }
    }
    closedir(dir);
    benchmark::DoNotOptimize(total);
    WriteWhole("floorN.txt", snapshot);
    WriteWhole("floorO.txt", snapshot);
    WriteWhole("floorT.txt", snapshot);
    rename("floorT.txt", "floorO.txt");
  }
  state.SetItemsProcessed(state.iterations() * files);
}

BENCHMARK(ScanFolderBench)->Arg(30)->Arg(300)->Arg(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(ScanFloorBench)->Arg(30)->Arg(300)->Arg(3000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!MakeFolders()) {
    std::fprintf(stderr, "cannot make the benchmark folders under $TMPDIR or /tmp\n");
    return 1;
  }
  wendrake::highValueMarker[0] = 0xFF;
  wendrake::highValueMarker[1] = 0xFF;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  wendrake::WriteLog(-1, "");
  std::error_code ignored;
  fs::current_path("/", ignored);
  fs::remove_all(scratch, ignored);
  return 0;
}
