#include "watch/snapshot.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <new>
#include <utility>

#include "config/command_file.h"
#include "config/thread_control.h"
#include "log/log.h"

namespace wendrake {
namespace {

// The search pattern is the folder and "\*.*" in 256 bytes with its NUL, on
// both platforms, so one configuration lists alike on each.
constexpr std::size_t kSearchPatternCapacity = 256;
constexpr std::size_t kSearchPatternSuffix = 4;  // "\*.*"

// Copies a formatted value into the `length` bytes of a field at `offset`
// and puts the NUL that follows the field. A value too wide for its field
// (a year past 9999, say) is cut there rather than run into the next one.
void PutField(unsigned char* record, int offset, int length, const char* text) {
  std::memcpy(record + offset, text, static_cast<std::size_t>(length));
  record[offset + length] = '\0';
}

// Writes `value` as exactly `width` decimal digits, zero-padded, at `at`:
// what "%0<width>d" prints for a value that is not negative and fits. The
// listing formats four fields of every file, and printf's machinery cost
// a full folder's scan more than the listing's own system calls.
bool PutDigits(unsigned char* at, int width, long long value) {
  if (value < 0) return false;
  for (int i = width - 1; i >= 0; --i) {
    at[i] = static_cast<unsigned char>('0' + value % 10);
    value /= 10;
  }
  return value == 0;
}

// The whole size, not its low 32 bits: read as a signed 32-bit number,
// 4 GiB - 1 bytes would print as the in-use mark, and a size of 2 TB could
// not be told from one of 3 TB.
void PutSize(unsigned char* record, std::uint64_t size) {
  if (size > kLargestRecordedSize) size = kLargestRecordedSize;
  PutDigits(record + kSizeOffset, kSizeLength, static_cast<long long>(size));
  record[kSizeOffset + kSizeLength] = '\0';
}

void PutDateTime(unsigned char* record, const os::LocalTime& when) {
  unsigned char* date = record + kDateOffset;
  unsigned char* time = record + kTimeOffset;
  if (PutDigits(date, 4, when.year) && PutDigits(date + 5, 2, when.month) &&
      PutDigits(date + 8, 2, when.day) && PutDigits(time, 2, when.hour) &&
      PutDigits(time + 3, 2, when.minute) && PutDigits(time + 6, 2, when.second)) {
    date[4] = '-';
    date[7] = '-';
    date[kDateLength] = '\0';
    time[2] = ':';
    time[5] = ':';
    time[kTimeLength] = '\0';
    return;
  }
  // Anything else (no such time comes from a clock) as printf has it.
  char text[48] = {};
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", when.year, when.month, when.day);
  PutField(record, kDateOffset, kDateLength, text);
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", when.hour, when.minute, when.second);
  PutField(record, kTimeOffset, kTimeLength, text);
}

// A name the snapshot can key and give back whole: the name field holds 255
// bytes, as long as a name on Linux or NTFS may be (the ANSI listing on
// Windows can spell such a name in up to 510 bytes), and the blanks that fill it are trimmed again
// before the name is used, so a name with a blank at either end would come back as another one (a
// leading blank as nothing at all, "a.txt " as "a.txt", which might be another file). A name the
// listing could not spell (os::DirEntry) opens no file at all.
enum class NameFit { kFits, kTooLong, kBlankEdged, kNotInCodePage };

NameFit CheckName(const os::DirEntry& entry) {
  if (entry.nameNotInCodePage) return NameFit::kNotInCodePage;
  const char* name = entry.name;
  std::size_t length = std::strlen(name);
  if (length > static_cast<std::size_t>(kNameLength)) return NameFit::kTooLong;
  if (length == 0 || name[0] == ' ' || name[length - 1] == ' ') return NameFit::kBlankEdged;
  return NameFit::kFits;
}

// The records go with one write call: they lie in the table just as the
// file holds them, line ends included. Whatever the file held beyond them
// is cut off after the write rather than emptied before it, so that it
// holds exactly these records: ext4 writes a file that was cut to nothing
// out to the disk as it is closed (auto_da_alloc), and the scan would wait
// for that before its first start.
int WriteRecords(const char* snapshotFileName, const unsigned char* records, int count) {
  os::Handle file = os::FileOpen(snapshotFileName, os::kAccessRead | os::kAccessWrite,
                                 os::kShareRead, os::kOpenAlways);
  if (file == os::kInvalidHandle) return os::LastError();
  int error = 0;
  if ((count > 0 &&
       !os::FileWrite(file, records, static_cast<std::size_t>(count) * kRecordLength)) ||
      !os::FileSetEnd(file)) {
    error = os::LastError();
    if (error == 0) error = -1;  // a short write sets no error code
  }
  os::FileClose(file);
  return error;
}

}  // namespace

void MakeSnapshotFileNames(const ThreadControlEntry& entry, SnapshotFileNames* names) {
  const char* stem = entry.mutexName;
  std::snprintf(names->oldName, sizeof names->oldName, "%sO.txt", stem);
  std::snprintf(names->newName, sizeof names->newName, "%sN.txt", stem);
  std::snprintf(names->mergedName, sizeof names->mergedName, "%sT.txt", stem);
}

bool HoldsOwnFiles(const char* folder) {
  // By identity: a folder spelt another way (a link to the start directory,
  // ".", a path through "..") would otherwise wake a scan at every line of
  // the log, without end.
  os::FolderId watched;
  os::FolderId start;
  if (startDirectory[0] != '\0' && os::GetFolderId(folder, &watched) &&
      os::GetFolderId(startDirectory, &start)) {
    return watched == start;
  }
  std::size_t length = std::strlen(startDirectory);
  if (length == 0 || std::strncmp(folder, startDirectory, length) != 0) return false;
  return folder[length] == '\0' ||
         (folder[length] == os::kPathSeparator && folder[length + 1] == '\0');
}

namespace {

// This system's own files in the start directory: the log, the claim
// file, and for each entry its three snapshot files, the kept snapshot's
// folder file and, where a lock is a file, its lock file. Made once per
// listing rather than once per file listed.
struct OwnFileNames {
  int count = 0;
  char names[2 + 5 * kMaxEntries][kSnapshotNameCapacity + 8] = {};
};

void MakeOwnFileNames(OwnFileNames* own) {
  auto add = [own](const char* stem, const char* suffix) {
    std::snprintf(own->names[own->count++], sizeof own->names[0], "%s%s", stem, suffix);
  };
  add(kLogFileName, "");
  add(kClaimFileName, "");
  for (int i = 1; i <= entryCount; ++i) {
    SnapshotFileNames names = {};
    MakeSnapshotFileNames(EntryAt(i), &names);
    add(names.oldName, "");
    add(names.newName, "");
    add(names.mergedName, "");
    add(EntryAt(i).mutexName, "K.txt");  // the kept snapshot's folder
    // A named mutex leaves no file; its bare name could be a user's file.
    if (os::kLockFileSuffix[0] != '\0') add(EntryAt(i).mutexName, os::kLockFileSuffix);
  }
}

bool IsOwnFileName(const OwnFileNames& own, const char* name) {
  for (int i = 0; i < own.count; ++i) {
    if (std::strcmp(name, own.names[i]) == 0) return true;
  }
  return false;
}

// What a listing logs: nothing at all for a quiet look, the files it
// leaves out, and with `trace` also what is neither file nor folder.
// `lastFailure` as for PutFileNamesInDir.
struct ListingLog {
  bool logged;
  bool trace;
  int* lastFailure;
};

void LogListingFailure(int index, const ListingLog& log, int error) {
  if (log.logged && NewFailure(log.lastFailure, error)) {
    LogF("(%02d)... PutFileNamesInDir. Error(%d)", index, error);
  }
}

// Lists the files of `folder` into `table`, sorted, line ends set:
// the records just as a snapshot file holds them. Returns their count (0
// for a folder that is not there), or -1 when the folder could not be
// listed whole: what it holds is then not known.
int ListFolder(int index, const char* folder, unsigned char* table, const ListingLog& log) {
  if (std::strlen(folder) + kSearchPatternSuffix >= kSearchPatternCapacity) {
    LogListingFailure(index, log, os::PathTooLongError());
    return -1;
  }
  // The start directory also holds this system's own files, which each
  // scan writes: they are no files of the folder's.
  const bool ownFiles = HoldsOwnFiles(folder);
  OwnFileNames own;
  if (ownFiles) MakeOwnFileNames(&own);
  int count = 0;
  os::DirEntry entry;
  os::Handle search = os::DirSearchFirst(folder, &entry);
  if (search == os::kInvalidHandle) {
    int error = os::LastError();
    // Only a folder that is not there is known to hold nothing; its line
    // is written every time, as it always was: its watch wakes only when
    // it comes and goes. One that cannot be read (no permission, a share
    // that dropped) holds what it held: taken as empty, each of its files
    // would be reported deleted. It is tried again, and said once.
    if (!os::FolderGone(error)) {
      LogListingFailure(index, log, error);
      return -1;
    }
    if (log.logged) LogF("(%02d)... PutFileNamesInDir. Error(%d)", index, error);
    return 0;
  }
  os::DirStep step = os::DirStep::kEntry;
  for (; step == os::DirStep::kEntry; step = os::DirSearchNext(search, &entry)) {
    if (entry.isDirectory) continue;  // ".", ".." and every sub-folder
    if (ownFiles && IsOwnFileName(own, entry.name)) continue;
    if (entry.isSpecial) {
      // Nothing to hand on, and a probe could never settle it: it would be
      // looked at again, with a line, for as long as it is there.
      if (log.trace) LogF("(%02d)... PutFileNamesInDir. Not a file(%s)", index, entry.name);
      continue;
    }
    switch (CheckName(entry)) {
      case NameFit::kTooLong:
        // A cut name would collide with others and start the program for a
        // path that does not exist, so the file stays out of the snapshot.
        if (log.logged) LogF("(%02d)... PutFileNamesInDir. Name too long(%s)", index, entry.name);
        continue;
      case NameFit::kBlankEdged:
        if (log.logged) {
          LogF("(%02d)... PutFileNamesInDir. Name blank-edged(%s)", index, entry.name);
        }
        continue;
      case NameFit::kNotInCodePage:
        // Its probe could never open it: it would be "in use" at every
        // scan and re-check for good, and never handed on.
        if (log.logged) {
          LogF("(%02d)... PutFileNamesInDir. Name not in code page(%s)", index, entry.name);
        }
        continue;
      case NameFit::kFits:
        break;
    }
    if (count >= kListingCapacity) {
      if (log.logged) {
        LogF("(%02d)... PutFileNamesInDir. Table max ovser. max(%d)", index, kListingCapacity);
      }
      continue;
    }
    FillSnapshotRecord(table + static_cast<std::size_t>(count) * kRecordLength, entry.name,
                       entry.size, entry.lastWrite);
    ++count;
  }
  int error = os::LastError();
  os::DirSearchClose(search);
  if (step == os::DirStep::kFailed) {
    // Cut short, the listing lacks files that are there.
    LogListingFailure(index, log, error);
    return -1;
  }

  unsigned char scratch[kRecordLength];
  SortRecords(SortDescriptor{kRecordLength, count, 1, kKeyLength}, scratch, table);
  for (int i = 0; i < count; ++i) {
    unsigned char* record = table + static_cast<std::size_t>(i) * kRecordLength;
    record[kCrOffset] = '\r';
    record[kLfOffset] = '\n';
  }
  return count;
}

// A size field this system writes: twelve digits, or one of the marks.
bool SoundSizeField(const unsigned char* field) {
  if (std::memcmp(field, kInUseSizeMark, kSizeLength) == 0 ||
      std::memcmp(field, kEmptiedSizeMark, kSizeLength) == 0) {
    return true;
  }
  for (int i = 0; i < kSizeLength; ++i) {
    if (field[i] < '0' || field[i] > '9') return false;
  }
  return true;
}

// A whole record as this system writes one: a name that does not start
// with a blank and holds no NUL, each field's NUL in its place, a size as
// PutSize or a mark writes it, and the line end. Date and time are only
// held to their places: a clock past the year 9999 writes them cut.
bool SoundRecord(const unsigned char* record) {
  if (record[0] == ' ' || std::memchr(record, '\0', kNameLength) != nullptr) return false;
  const auto nulAfterField = [record](int offset) { return record[offset] == '\0'; };
  const int fieldEnds[] = {kNameLength, kSizeOffset + kSizeLength, kDateOffset + kDateLength,
                           kTimeOffset + kTimeLength};
  if (!std::all_of(std::begin(fieldEnds), std::end(fieldEnds), nulAfterField)) return false;
  if (std::memchr(record + kDateOffset, '\0', kDateLength) != nullptr ||
      std::memchr(record + kTimeOffset, '\0', kTimeLength) != nullptr) {
    return false;
  }
  return SoundSizeField(record + kSizeOffset) && record[kCrOffset] == '\r' &&
         record[kLfOffset] == '\n';
}

// An old snapshot larger than this is no snapshot of a folder this system
// lists: the merged snapshot holds at most the listed files and the old
// records of files still there that a full listing left out.
constexpr int kOldSnapshotLimit = 100 * kListingCapacity;

}  // namespace

Listing NewListing(int capacity) {
  Listing listing;
  if (capacity < 1) capacity = 1;
  listing.records.reset(
      new (std::nothrow) unsigned char[static_cast<std::size_t>(capacity) * kRecordLength]);
  if (listing.records) listing.capacity = capacity;
  return listing;
}

bool PutFileNamesInDir(int index, const char* snapshotFileName, const char* folder, Listing* kept,
                       bool trace, int* lastFailure) {
  // The table belongs to its call alone: both watchers and the main thread
  // may list at once, and 873 KB is too much for a thread's stack. It is
  // set aside once per listing; nothing is allocated per file.
  Listing listing = NewListing(kListingCapacity);
  const ListingLog log{true, trace, lastFailure};
  if (listing.capacity == 0) {
    LogListingFailure(index, log, os::LastError());
    return false;
  }
  int count = ListFolder(index, folder, listing.records.get(), log);
  if (count < 0) return false;
  listing.count = count;
  int error = WriteSnapshotFile(snapshotFileName, listing);
  if (error != 0) {
    if (NewFailure(lastFailure, error)) {
      LogF("(%02d)... PutFileNamesInDir. Write error(%s) Error(%d)", index, snapshotFileName,
           error);
    }
    return false;
  }
  if (lastFailure != nullptr) *lastFailure = 0;
  if (kept != nullptr) *kept = std::move(listing);
  return true;
}

bool NewFailure(int* last, int error) {
  if (last == nullptr) return true;
  if (*last == error) return false;
  *last = error;
  return true;
}

int WriteSnapshotFile(const char* snapshotFileName, const Listing& records) {
  return WriteRecords(snapshotFileName, records.records.get(), records.count);
}

OldSnapshot LoadOldSnapshot(const char* snapshotFileName, Listing* old, int* detail) {
  *detail = 0;
  os::Handle file = os::FileOpen(snapshotFileName, os::kAccessRead,
                                 os::kShareRead | os::kShareWrite, os::kOpenExisting);
  if (file == os::kInvalidHandle) {
    *detail = os::LastError();
    if (os::CheckFileState(snapshotFileName) != os::FileState::kAbsent) {
      return OldSnapshot::kUnreadable;
    }
    *detail = 0;
    return OldSnapshot::kMissing;
  }
  *old = NewListing(kListingCapacity);
  std::size_t filled = 0;
  long got = 0;
  while (old->capacity > 0) {
    std::size_t room = static_cast<std::size_t>(old->capacity) * kRecordLength - filled;
    if (room == 0) {
      if (old->capacity >= kOldSnapshotLimit) break;
      Listing larger = NewListing(old->capacity * 2);
      if (larger.capacity == 0) break;
      std::memcpy(larger.records.get(), old->records.get(), filled);
      *old = std::move(larger);
      continue;
    }
    got = os::FileRead(file, old->records.get() + filled, room);
    if (got <= 0) break;
    filled += static_cast<std::size_t>(got);
  }
  int error = os::LastError();
  os::FileClose(file);
  if (old->capacity == 0 || got < 0) {
    *detail = error;
    return OldSnapshot::kUnreadable;
  }
  old->count = static_cast<int>(filled / kRecordLength);
  if (got > 0 || filled % kRecordLength != 0) {
    // Past the limit, or a part record at the end.
    *detail = old->count + 1;
    return OldSnapshot::kDamaged;
  }
  for (int i = 0; i < old->count; ++i) {
    const unsigned char* record = RecordAt(*old, i);
    if (!SoundRecord(record) || (i > 0 && CompareKeys(RecordAt(*old, i - 1), record) >= 0)) {
      *detail = i + 1;
      return OldSnapshot::kDamaged;
    }
  }
  return OldSnapshot::kSound;
}

bool FolderMatchesSnapshot(const char* snapshotFileName, const char* folder,
                           const Listing* unsaved) {
  Listing listing = NewListing(kListingCapacity);
  if (listing.capacity == 0) return false;
  // A folder that is not there is taken as empty, as a scan takes it: a
  // folder that stays missing would otherwise cost a scan and its error
  // line on every timed wake, while a scan would find nothing new.
  int count = ListFolder(0, folder, listing.records.get(), ListingLog{false, false, nullptr});
  if (count < 0) return false;
  // The records the next scan would match the listing with, read as that
  // scan reads them.
  const Listing* old = unsaved;
  Listing fromFile;
  int detail = 0;
  if (old == nullptr) {
    if (LoadOldSnapshot(snapshotFileName, &fromFile, &detail) != OldSnapshot::kSound) return false;
    old = &fromFile;
  }
  return old->count == count &&
         (count == 0 || std::memcmp(old->records.get(), listing.records.get(),
                                    static_cast<std::size_t>(count) * kRecordLength) == 0);
}

namespace {

// Shell's diminishing increments, 2 * (gap / 4) + 1 down to 1, over the n
// items of `items` by `less`. Only "less than" moves an item, so a pass
// never carries one past an equal key, though the passes together do not
// keep the input order of equal keys.
template <typename Item, typename Less>
void ShellSort(Item* items, int n, Less less) {
  int gap = n;
  do {
    gap = 2 * (gap / 4) + 1;
    for (int i = gap; i < n; ++i) {
      Item moving = items[i];
      int p = i - gap;
      while (p >= 0 && less(moving, items[p])) {
        items[p + gap] = items[p];
        p -= gap;
      }
      items[p + gap] = moving;
    }
  } while (gap > 1);
}

}  // namespace

void SortRecords(const SortDescriptor& descriptor, unsigned char* scratch, unsigned char* records) {
  const int n = descriptor.recordCount;
  if (n < 2) return;
  const std::size_t length = static_cast<std::size_t>(descriptor.recordLength);
  const std::size_t keyOffset = static_cast<std::size_t>(descriptor.keyPosition - 1);
  const std::size_t keyLength = static_cast<std::size_t>(descriptor.keyLength);
  auto at = [&](int i) { return records + static_cast<std::size_t>(i) * length; };
  auto less = [&](int a, int b) {
    return std::memcmp(at(a) + keyOffset, at(b) + keyOffset, keyLength) < 0;
  };

  // The record numbers are sorted, not the records: a Shell sort moves each
  // record many times, and with a 255-byte name field those moves took a
  // tenth of a scan of 3000 files. Each record then moves once, or twice
  // where it starts a cycle, and the order comes out as sorting the records
  // themselves with the same passes gives it.
  std::unique_ptr<int[]> order(new (std::nothrow) int[static_cast<std::size_t>(n)]);
  if (!order) {
    // Short of memory: the same passes over the records themselves.
    int gap = n;
    do {
      gap = 2 * (gap / 4) + 1;
      for (int i = gap; i < n; ++i) {
        std::memcpy(scratch, at(i), length);
        int p = i - gap;
        while (p >= 0 && std::memcmp(scratch + keyOffset, at(p) + keyOffset, keyLength) < 0) {
          std::memcpy(at(p + gap), at(p), length);
          p -= gap;
        }
        std::memcpy(at(p + gap), scratch, length);
      }
    } while (gap > 1);
    return;
  }
  for (int i = 0; i < n; ++i) order[i] = i;
  ShellSort(order.get(), n, less);
  // Place k gets record order[k]: each cycle of the permutation is walked
  // once, its first record held in `scratch`.
  for (int k = 0; k < n; ++k) {
    if (order[k] == k) continue;
    std::memcpy(scratch, at(k), length);
    int j = k;
    while (order[j] != k) {
      const int from = order[j];
      std::memcpy(at(j), at(from), length);
      order[j] = j;
      j = from;
    }
    std::memcpy(at(j), scratch, length);
    order[j] = j;
  }
}

void WriteSnapshotRecord(SnapshotWriter* writer, unsigned char* record) {
  record[kCrOffset] = '\r';
  record[kLfOffset] = '\n';
  Listing& table = *writer->table;
  // The scan makes room for every record it can write; this only guards.
  if (table.count >= table.capacity) return;
  std::memcpy(RecordAt(table, table.count++), record, kRecordLength);
}

int CompareKeys(const unsigned char* a, const unsigned char* b) {
  return std::memcmp(a, b, kKeyLength);  // unsigned bytes, the first difference decides
}

void FillSnapshotRecord(unsigned char* record, const char* name, std::uint64_t size,
                        const os::LocalTime& lastWrite) {
  // "%-255s": the name, at most kNameLength bytes of it, blank-filled, and
  // the NUL after the field.
  std::size_t length = strnlen(name, kNameLength);
  std::memcpy(record + kNameOffset, name, length);
  std::memset(record + kNameOffset + length, ' ', kNameLength - length);
  record[kNameOffset + kNameLength] = '\0';
  PutSize(record, size);
  PutDateTime(record, lastWrite);
}

void DeleteFileIfFound(const char* fileName) {
  if (!os::FileExists(fileName)) return;
  if (!os::FileDelete(fileName)) {
    LogF("...DeleteFile. error(%s) Error(%d)", fileName, os::LastError());
  }
}

bool RenameFile(const char* sourceName, const char* targetName) {
  // The rename refuses an existing target, so it goes first; if it cannot
  // be deleted the rename is still tried and reports its own failure.
  if (os::FileExists(targetName) && !os::FileDelete(targetName)) {
    LogF("...ReanameFile. DeleteFile error(%s) Error(%d)", targetName, os::LastError());
  }
  if (os::FileRename(sourceName, targetName)) return true;
  LogF("...ReanameFile. MoveFile error(%s) Error(%d)", sourceName, os::LastError());
  return false;
}

void MakeScanFilesReady(const SnapshotFileNames& names) {
  for (const char* name : {names.newName, names.mergedName}) {
    os::FileClose(os::FileOpen(name, os::kAccessWrite, os::kShareRead, os::kCreateAlways));
  }
}

bool RotateSnapshotFiles(const SnapshotFileNames& names) {
  // The merged and the old file trade names, and the old snapshot is
  // emptied below with the new one: no file is deleted or made. Where they
  // cannot trade, one rename; and something in the way (a folder of that
  // name) is met by the steps one by one, each failure with its line.
  bool rotated = os::FileSwap(names.mergedName, names.oldName) ||
                 os::FileReplace(names.mergedName, names.oldName);
  if (!rotated) {
    DeleteFileIfFound(names.oldName);
    rotated = RenameFile(names.mergedName, names.oldName);
  }
  MakeScanFilesReady(names);
  return rotated;
}

}  // namespace wendrake
