// The price of a snapshot: PutFileNamesInDir (list, sort, write the file)
// beside what any listing must pay anyway, opendir/readdir/fstatat over the
// same folder, and the os layer's search alone (which adds the local-time
// conversion). Folders of 30, 300 and 3000 files; the page cache is warm,
// as it is for a watcher that lists the same folder again and again.
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

#include "bench_folders.h"
#include "os/os.h"
#include "watch/snapshot.h"

namespace {

namespace fs = std::filesystem;

using bench::FolderOf;
using bench::kSizes;
using bench::scratch;

void PutFileNamesInDirBench(benchmark::State& state) {
  std::string folder = FolderOf(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    // The callers delete the new snapshot file before each listing; that
    // unlink is theirs, so it stays out of the timed part.
    state.PauseTiming();
    unlink("KSFF01N.txt");
    state.ResumeTiming();
    wendrake::PutFileNamesInDir(1, "KSFF01N.txt", folder.c_str());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BareListingBench(benchmark::State& state) {
  std::string folder = FolderOf(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(bench::BareListing(folder));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void OsDirSearchBench(benchmark::State& state) {
  using namespace wendrake;
  std::string folder = FolderOf(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    os::DirEntry entry;
    os::Handle search = os::DirSearchFirst(folder.c_str(), &entry);
    std::uint64_t total = 0;
    if (search != os::kInvalidHandle) {
      do {
        if (!entry.isDirectory)
          total += entry.size + static_cast<std::uint64_t>(entry.lastWrite.second);
      } while (os::DirSearchNext(search, &entry) == os::DirStep::kEntry);
      os::DirSearchClose(search);
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The fixed part of every listing: creating the snapshot file, with nothing
// written to it.
void SnapshotFileCreateBench(benchmark::State& state) {
  using namespace wendrake;
  for (auto _ : state) {
    state.PauseTiming();
    unlink("KSFF01N.txt");
    state.ResumeTiming();
    os::FileClose(os::FileOpen("KSFF01N.txt", os::kAccessRead | os::kAccessWrite, os::kShareRead,
                               os::kCreateAlways));
  }
}

BENCHMARK(PutFileNamesInDirBench)->Arg(30)->Arg(300)->Arg(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BareListingBench)->Arg(30)->Arg(300)->Arg(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(OsDirSearchBench)->Arg(30)->Arg(300)->Arg(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(SnapshotFileCreateBench)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!bench::MakeFolders()) return 1;
  wendrake::os::KeepFreedMemory();  // as the program does at start
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  fs::current_path("/", ignored);
  fs::remove_all(scratch, ignored);
  return 0;
}
