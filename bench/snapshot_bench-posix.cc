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
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "os/os.h"
#include "watch/snapshot.h"

namespace {

namespace fs = std::filesystem;

const int kSizes[] = {30, 300, 3000};

// A scratch folder with one sub-folder of files per size; the snapshot
// files are written in the scratch folder itself, which is the current
// directory while the benchmarks run.
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
          total += entry.sizeLow + static_cast<std::uint64_t>(entry.lastWrite.second);
      } while (os::DirSearchNext(search, &entry));
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
  if (!MakeFolders()) {
    std::fprintf(stderr, "cannot make the benchmark folders under $TMPDIR or /tmp\n");
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  fs::current_path("/", ignored);
  fs::remove_all(scratch, ignored);
  return 0;
}
