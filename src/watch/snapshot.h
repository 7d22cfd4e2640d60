// Snapshots: the picture of one watched folder at one moment, a file of
// fixed-length 99-byte text records, one per file, sorted by MatchingKey.
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

// A listing as its snapshot file holds it: `count` sorted records.
struct Listing {
  std::unique_ptr<unsigned char[]> records;
  int count = 0;
};

// Lists the files (not sub-folders) of `folder` into the snapshot file
// `snapshotFileName`, sorted by MatchingKey. `index` is only the entry
// number of the log lines. What the file held before is replaced. A name
// that the record cannot give back whole (64 bytes or more, or a blank at
// either end), or that is not the file's real name (the listing could not
// spell it in the code page), is left out with a log line, as is every file
// past the 3000th; a folder that cannot be listed leaves the file empty.
// False, with a log line, when the listing did not reach the file whole (a
// full disk): the file then does not stand for the folder. With `kept`, a
// listing that reached the file is also handed over there, so that a
// caller that needs it need not read the file back.
bool PutFileNamesInDir(int index, const char* snapshotFileName, const char* folder,
                       Listing* kept = nullptr);

// The records of the snapshot file `snapshotFileName`, at most 3000; none
// when it cannot be read.
Listing ReadListing(const char* snapshotFileName);

// True when `folder` is the start directory, where the log, the snapshot
// files and the lock files of this system lie. A listing of it leaves
// those out: every scan writes them.
bool HoldsOwnFiles(const char* folder);

// True when the files of `folder` are just those of the snapshot file
// `snapshotFileName`, with the same size, date and time: a fresh scan
// would find nothing to do. A folder that cannot be listed counts as
// empty. Writes nothing, not even to the log.
bool FolderMatchesSnapshot(const char* snapshotFileName, const char* folder);

// Shell sort in place by the descriptor's key, unsigned byte comparison.
void SortRecords(const SortDescriptor& descriptor, unsigned char* scratch, unsigned char* records);

// The matching reads and writes snapshot files a block of records per call
// rather than one record per call: a scan of a full folder would otherwise
// spend more on 9000 system calls of 99 bytes than on listing the folder.
// The records, their order and their bytes are the same either way.
constexpr int kSnapshotBlockLength = 64 * kRecordLength;

struct SnapshotReader {
  os::Handle file;
  int next;    // the first byte of `block` not yet handed out
  int filled;  // the bytes read into `block`
  unsigned char block[kSnapshotBlockLength];
};

void StartSnapshotReader(SnapshotReader* reader, os::Handle file);

// Reads the next record into `record` (kRecordLength bytes): each call
// hands out the next 99 bytes, a last short record only its own bytes (the
// rest of `record` untouched). At the end of the file, or on a read error,
// puts the high-value key into bytes 0-63 (the rest untouched) and sets
// *endFlag to -1; it never clears it.
void ReadSnapshotRecord(SnapshotReader* reader, unsigned char* record, int* endFlag);

struct SnapshotWriter {
  os::Handle file;
  int used;  // the bytes of `block` not yet written
  unsigned char block[kSnapshotBlockLength];
};

void StartSnapshotWriter(SnapshotWriter* writer, os::Handle file);

// Appends the 99-byte record, bytes 97 and 98 set to CR LF, to the file.
// What is not yet written goes at the next full block or FlushSnapshotWriter;
// the result of a write is not examined.
void WriteSnapshotRecord(SnapshotWriter* writer, unsigned char* record);
void FlushSnapshotWriter(SnapshotWriter* writer);

// Compares two MatchingKeys as unsigned bytes: <0, 0 or >0.
int CompareKeys(const unsigned char* a, const unsigned char* b);

// Fills bytes 0-96 of `record` from a name, size and local time: the layout
// shared by the listing and the in-use probes.
void FillSnapshotRecord(unsigned char* record, const char* name, std::uint32_t sizeLow,
                        const os::LocalTime& lastWrite);

// Deletes `fileName` if it exists; a failed deletion is logged.
void DeleteFileIfFound(const char* fileName);

// Renames `sourceName` to `targetName`, deleting an existing target first.
void RenameFile(const char* sourceName, const char* targetName);

// Leaves the new and the merged snapshot file there and empty, for the next
// scan to write into: a file made anew, or cut back from what has reached
// the disk (its blocks freed, which on a disk mounted with discard waits
// for the device), is then made or cut at the end of a scan, after its
// starts, never on the way to the next scan's first start. A file that
// cannot be made here is left to that scan's own open.
void MakeScanFilesReady(const SnapshotFileNames& names);

// The end of a scan: the merged snapshot becomes the old one, and the new
// and the merged file are made ready for the next scan.
void RotateSnapshotFiles(const SnapshotFileNames& names);

}  // namespace wendrake

#endif  // WENDRAKE_WATCH_SNAPSHOT_H_
