// The price of one complete scan of a folder where nothing changed:
// ScanFolder from taking the entry's lock to giving it back (the listing,
// its sort and snapshot file, the matching of the old snapshot against it
// with every file through its outcome, the merged snapshot and the
// rotation of the three files), beside a floor that any scan of the same
// folder must pay: the bare listing with stat, three snapshot-sized files
// written whole and one rename. Folders of 30, 300 and 3000 files, the page
// cache warm, as it is for a watcher that scans the same folder again.
// Also the timed wake of a shared folder that finds nothing changed.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_folders.h"
#include "config/thread_control.h"
#include "log/log.h"
#include "os/os.h"
#include "watch/snapshot.h"
#include "watch/watcher.h"

namespace {

namespace fs = std::filesystem;

using bench::FolderOf;
using bench::kSizes;
using bench::scratch;

// Entry 1 watches the folder of `files` files, without flags: nothing
// changes, so nothing is started and no line is logged. Its lock and first
// snapshot are made as start-up makes them.
wendrake::os::Handle ArmEntryFor(int files) {
  using namespace wendrake;
  entryCount = 0;
  ClearThreadControlTable();
  AddTableEntry("", FolderOf(files).c_str(), "/bin/true", scratch.c_str(), "");
  os::Handle lock = os::LockCreate(EntryAt(1).mutexName);
  SnapshotFileNames names;
  MakeSnapshotFileNames(EntryAt(1), &names);
  DeleteFileIfFound(names.oldName);
  PutFileNamesInDir(1, names.newName, FolderOf(files).c_str());
  RenameFile(names.newName, names.oldName);
  MakeScanFilesReady(names);
  return lock;
}

void ScanFolderBench(benchmark::State& state) {
  using namespace wendrake;
  const int files = static_cast<int>(state.range(0));
  os::Handle lock = ArmEntryFor(files);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ScanFolder(EntryAt(1)));
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
    benchmark::DoNotOptimize(bench::BareListing(folder));
    WriteWhole("floorN.txt", snapshot);
    WriteWhole("floorO.txt", snapshot);
    WriteWhole("floorT.txt", snapshot);
    rename("floorT.txt", "floorO.txt");
  }
  state.SetItemsProcessed(state.iterations() * files);
}

// A timed wake of a folder on a shared file system that finds nothing
// changed: the folder listed, sorted and compared with the old snapshot,
// nothing written. Beside it the bare listing with stat, which any look
// at the folder costs.
void TimedWakeBench(benchmark::State& state) {
  using namespace wendrake;
  const int files = static_cast<int>(state.range(0));
  os::Handle lock = ArmEntryFor(files);
  for (auto _ : state) {
    if (!FolderMatchesSnapshot("KSFF01O.txt", FolderOf(files).c_str())) {
      state.SkipWithError("an unchanged folder did not match its snapshot");
      break;
    }
  }
  os::LockClose(lock);
  state.SetItemsProcessed(state.iterations() * files);
}

void BareListingBench(benchmark::State& state) {
  std::string folder = FolderOf(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(bench::BareListing(folder));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(ScanFolderBench)->Arg(30)->Arg(300)->Arg(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(ScanFloorBench)->Arg(30)->Arg(300)->Arg(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(TimedWakeBench)->Arg(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BareListingBench)->Arg(3000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!bench::MakeFolders()) return 1;
  wendrake::os::KeepFreedMemory();  // as the program does at start
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  wendrake::CloseLog();
  std::error_code ignored;
  fs::current_path("/", ignored);
  fs::remove_all(scratch, ignored);
  return 0;
}
