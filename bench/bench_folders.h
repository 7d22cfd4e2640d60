// What both benchmark programs measure against: folders of 30, 300 and
// 3000 small files made once in a scratch folder (under $TMPDIR), and the
// bare listing with stat that any scan of such a folder has to pay.
#ifndef WENDRAKE_BENCH_BENCH_FOLDERS_H_
#define WENDRAKE_BENCH_BENCH_FOLDERS_H_

#include <cstdint>
#include <filesystem>
#include <string>

namespace bench {

constexpr int kSizes[] = {30, 300, 3000};

// The scratch folder; it is the current directory while the benchmarks
// run (the start directory: log, lock and snapshot files).
extern std::filesystem::path scratch;

// The folder of `files` files.
std::string FolderOf(int files);

// Makes the scratch folder and its folders, and enters it; says so on
// standard error when it cannot.
bool MakeFolders();

// opendir, readdir and fstatat of every entry of `folder`; no record, no
// sort, no write. Returns a sum of the sizes and times seen, so that
// nothing is optimised away.
std::uint64_t BareListing(const std::string& folder);

}  // namespace bench

#endif  // WENDRAKE_BENCH_BENCH_FOLDERS_H_
