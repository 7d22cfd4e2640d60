// Snapshots: the picture of one watched folder at one moment, a file of
// fixed-length text records (kRecordLength bytes), one per file, sorted by MatchingKey.
// Change detection compares two of them in one sequential pass, so the
// record layout, the sort order and the high-value end record all serve
// that merge.
#ifndef WENDRAKE_WATCH_SNAPSHOT_H_
#define WENDRAKE_WATCH_SNAPSHOT_H_

#include <cstdint>
#include <memory>

#include "config/thread_control.h"
#include "os/os.h"
#include "record/snapshot_record.h"

namespace wendrake {

// The listing keeps at most this many files; each further one is logged.
constexpr int kListingCapacity = 3000;

// Snapshot file names are "KSFF01O.txt" etc.: 11 characters and a NUL.
constexpr int kSnapshotNameCapacity = 16;

struct SnapshotFileNames {
  char oldName[kSnapshotNameCapacity];     // the previous scan's snapshot
  char newName[kSnapshotNameCapacity];     // this scan's listing
  char mergedName[kSnapshotNameCapacity];  // written by the matching
};

struct SortDescriptor {
  std::int32_t recordLength;
  std::int32_t recordCount;
  std::int32_t keyPosition;  // 1-based
  std::int32_t keyLength;
};

// The old, new and merged snapshot file names of `entry`, after its lock's
// name.
void MakeSnapshotFileNames(const ThreadControlEntry& entry, SnapshotFileNames* names);

// Records in memory, just as a snapshot file holds them: `count` sorted
// records of kRecordLength bytes in room for `capacity`. A scan holds its
// listing, the old snapshot and the merged one this way, so that nothing
// reaches an outcome before the whole old snapshot is known to be sound,
// and the merged one reaches the disk whole or not at all.
struct Listing {
  std::unique_ptr<unsigned char[]> records;
  int count = 0;
  int capacity = 0;
};

// Room for `capacity` records; none (capacity 0) when memory is short.
Listing NewListing(int capacity);

inline unsigned char* RecordAt(const Listing& listing, int i) {
  return listing.records.get() + static_cast<std::size_t>(i) * kRecordLength;
}

// Lists the files (not sub-folders) of `folder` into the snapshot file
// `snapshotFileName`, sorted by MatchingKey. `index` is only the entry
// number of the log lines. What the file held before is replaced. A name
// that the record cannot give back whole (more than kNameLength bytes,
// which only Windows' ANSI listing can spell, or a blank at either end),
// or that is not the file's real name (the listing could not spell it in
// the code page), is left out with a log line, as is every file past the
// 3000th; so is, with `trace`, anything that is neither a file nor
// a folder. A folder that is not there lists as empty.
// False, with a log line, when the listing does not stand for the folder:
// the folder could not be listed, or listed only in part (no permission, an
// I/O error, a share gone for a moment), or the file was not written whole
// (a full disk). With `kept`, a listing that reached the file is also
// handed over there. With `lastFailure`, a failure with the code it holds is
// not logged again; it gets the code of this call's failure, or 0.
bool PutFileNamesInDir(int index, const char* snapshotFileName, const char* folder,
                       Listing* kept = nullptr, bool trace = false, int* lastFailure = nullptr);

// Whether a failure with code `error` is to be logged: a failure that
// lasts is logged once. True, noting the code in `*last`, unless it is the
// one noted there; always true without `last`. A success notes 0.
bool NewFailure(int* last, int error);

// Reads the old snapshot `snapshotFileName` whole into `old`, and checks
// that each record is one this system writes (a name, the NULs and line
// end in their places, a size of digits or a mark) and that the keys
// ascend. A record that is not is never handed to an outcome: the whole
// file is then no picture of the folder. `detail` gets the number of the
// first damaged record (from 1), or the system's error code of a file that
// is there but cannot be read.
enum class OldSnapshot { kSound, kMissing, kDamaged, kUnreadable };
OldSnapshot LoadOldSnapshot(const char* snapshotFileName, Listing* old, int* detail);

// Writes `records` whole to `snapshotFileName`, made if it is not there and
// cut after them: 0, or the system's error code when the file could not be
// opened or written whole.
int WriteSnapshotFile(const char* snapshotFileName, const Listing& records);

// True when `folder` is the start directory, where the log, the snapshot
// files and the lock files of this system lie. A listing of it leaves
// those out: every scan writes them.
bool HoldsOwnFiles(const char* folder);

// True when the files of `folder` are just those of the snapshot file
// `snapshotFileName`, with the same size, date and time: a fresh scan
// would find nothing to do. A folder that is not there counts as empty;
// one that cannot be listed does not match. With `unsaved`, a snapshot not
// yet written stands for the file. Writes nothing, not even to the log.
bool FolderMatchesSnapshot(const char* snapshotFileName, const char* folder,
                           const Listing* unsaved = nullptr);

// Shell sort in place by the descriptor's key, unsigned byte comparison.
void SortRecords(const SortDescriptor& descriptor, unsigned char* scratch, unsigned char* records);

// The merged snapshot as the outcomes write it: in memory, in room for
// every record the scan can write (one per listed file and one per old
// record at most).
struct SnapshotWriter {
  Listing* table;
};

// Appends the record, its last two bytes set to CR LF.
void WriteSnapshotRecord(SnapshotWriter* writer, unsigned char* record);

// Compares two MatchingKeys as unsigned bytes: <0, 0 or >0.
int CompareKeys(const unsigned char* a, const unsigned char* b);

// The largest size the 12-digit size field holds; larger files are
// recorded with it. Sizes never print negative, so no real size can be
// taken for one of the marks.
constexpr std::uint64_t kLargestRecordedSize = 999999999999ULL;

// Fills `record` up to its line end from a name, size and local time: the layout
// shared by the listing and the in-use probes.
void FillSnapshotRecord(unsigned char* record, const char* name, std::uint64_t size,
                        const os::LocalTime& lastWrite);

// Deletes `fileName` if it exists; a failed deletion is logged.
void DeleteFileIfFound(const char* fileName);

// Renames `sourceName` to `targetName`, deleting an existing target first.
// False, with the failure logged, when the rename failed.
bool RenameFile(const char* sourceName, const char* targetName);

// Leaves the new and the merged snapshot file there and empty, for the next
// scan to write into: a file made anew, or cut back from what has reached
// the disk (its blocks freed, which on a disk mounted with discard waits
// for the device), is then made or cut at the end of a scan, after its
// starts, never on the way to the next scan's first start. A file that
// cannot be made here is left to that scan's own open.
void MakeScanFilesReady(const SnapshotFileNames& names);

// The end of a scan: the merged snapshot becomes the old one, and the new
// and the merged file are made ready for the next scan. False, with the
// failure logged, when the merged file did not take the old one's name.
bool RotateSnapshotFiles(const SnapshotFileNames& names);

}  // namespace wendrake

#endif  // WENDRAKE_WATCH_SNAPSHOT_H_
