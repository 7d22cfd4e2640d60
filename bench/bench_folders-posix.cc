#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "bench_folders.h"

namespace bench {

namespace fs = std::filesystem;

fs::path scratch;

std::string FolderOf(int files) {
  return (scratch / ("f" + std::to_string(files))).string();
}

bool CannotMakeFolders() {
  std::fprintf(stderr, "cannot make the benchmark folders under $TMPDIR or /tmp\n");
  return false;
}

bool MakeFolders() {
  const char* root = std::getenv("TMPDIR");
  std::string pattern =
      std::string(root != nullptr && *root != '\0' ? root : "/tmp") + "/wendrake-bench-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) return CannotMakeFolders();
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
      if (f == nullptr) return CannotMakeFolders();
      std::fprintf(f, "%d", i);
      std::fclose(f);
    }
  }
  fs::current_path(scratch);
  return true;
}

std::uint64_t BareListing(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  std::uint64_t total = 0;
  if (dir == nullptr) return total;
  while (struct dirent* entry = readdir(dir)) {
    struct stat st;
    if (fstatat(dirfd(dir), entry->d_name, &st, 0) == 0 && !S_ISDIR(st.st_mode)) {
      total += static_cast<std::uint64_t>(st.st_size) + static_cast<std::uint64_t>(st.st_mtime);
    }
  }
  closedir(dir);
  return total;
}

}  // namespace bench
