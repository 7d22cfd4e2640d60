#include "watch/snapshot.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
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

void PutSize(unsigned char* record, std::int32_t size) {
  if (PutDigits(record + kSizeOffset, kSizeLength, size)) {
    record[kSizeOffset + kSizeLength] = '\0';
    return;
  }
  char text[32] = {};  // negative: 2 GB and more
  std::snprintf(text, sizeof text, "%012d", static_cast<int>(size));
  PutField(record, kSizeOffset, kSizeLength, text);
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

// A name the snapshot can key and give back whole: the name field holds 63
// bytes, and the blanks that fill it are trimmed again before the name is
// used, so a name with a blank at either end would come back as another one
// (a leading blank as nothing at all, "a.txt " as "a.txt", which might be
// another file). A name the listing could not spell (os::DirEntry) opens
// no file at all.
enum class NameFit { kFits, kTooLong, kBlankEdged, kNotInCodePage };

NameFit CheckName(const os::DirEntry& entry) {
  if (entry.nameNotInCodePage) return NameFit::kNotInCodePage;
  const char* name = entry.name;
  std::size_t length = std::strlen(name);
  if (length > static_cast<std::size_t>(kNameLength)) return NameFit::kTooLong;
  if (length == 0 || name[0] == ' ' || name[length - 1] == ' ') return NameFit::kBlankEdged;
  return NameFit::kFits;
}

// Writes the records to the snapshot file, made if it is not there, all of
// them with one write call: they lie in the table just as the file holds
// them, line ends included. Whatever the file held beyond them is cut off
// after the write rather than emptied before it, so that it holds exactly
// this listing: ext4 writes a file that was cut to nothing out to the disk
// as it is closed (auto_da_alloc), and the scan would wait for that before
// its first start.
// 0, or the system's error code when the file cannot be opened or written
// whole.
int WriteSnapshotFile(const char* snapshotFileName, const unsigned char* records, int count) {
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

// The end of a snapshot file: the high-value key, above every real one,
// makes the matching drain the other file. Bytes 64 on keep what they
// held, and the flag is never set back.
void MarkEnd(unsigned char* record, int* endFlag) {
  std::memset(record, kHighValue, kKeyLength - 1);
  record[kKeyLength - 1] = '\0';
  *endFlag = -1;
}

}  // namespace

void MakeSnapshotFileNames(const ThreadControlEntry& entry, SnapshotFileNames* names) {
  const char* stem = entry.mutexName;
  std::snprintf(names->oldName, sizeof names->oldName, "%sO.txt", stem);
  std::snprintf(names->newName, sizeof names->newName, "%sN.txt", stem);
  std::snprintf(names->mergedName, sizeof names->mergedName, "%sT.txt", stem);
}

bool HoldsOwnFiles(const char* folder) {
  std::size_t length = std::strlen(startDirectory);
  if (length == 0 || std::strncmp(folder, startDirectory, length) != 0) return false;
  return folder[length] == '\0' ||
         (folder[length] == os::kPathSeparator && folder[length + 1] == '\0');
}

namespace {

// This system's own files in the start directory: the log, and for each
// entry its three snapshot files and, where a lock is a file, its lock
// file. Made once per listing rather than once per file listed.
struct OwnFileNames {
  int count = 0;
  char names[1 + 4 * kMaxEntries][kSnapshotNameCapacity + 8] = {};
};

void MakeOwnFileNames(OwnFileNames* own) {
  auto add = [own](const char* stem, const char* suffix) {
    std::snprintf(own->names[own->count++], sizeof own->names[0], "%s%s", stem, suffix);
  };
  add(kLogFileName, "");
  for (int i = 1; i <= entryCount; ++i) {
    SnapshotFileNames names = {};
    MakeSnapshotFileNames(EntryAt(i), &names);
    add(names.oldName, "");
    add(names.newName, "");
    add(names.mergedName, "");
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

// Lists the files of `folder` into `table`, sorted, bytes 97 and 98 set:
// the records just as a snapshot file holds them. Returns their count, or
// -1 when the folder cannot be listed. With `logged` false nothing is
// written to the log, not even the files left out.
int ListFolder(int index, const char* folder, unsigned char* table, bool logged) {
  if (std::strlen(folder) + kSearchPatternSuffix >= kSearchPatternCapacity) {
    if (logged) LogF("(%02d)... PutFileNamesInDir. Error(%d)", index, os::PathTooLongError());
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
    if (logged) LogF("(%02d)... PutFileNamesInDir. Error(%d)", index, os::LastError());
    return -1;
  }
  do {
    if (entry.isDirectory) continue;  // ".", ".." and every sub-folder
    if (ownFiles && IsOwnFileName(own, entry.name)) continue;
    switch (CheckName(entry)) {
      case NameFit::kTooLong:
        // A cut name would collide with others and start the program for a
        // path that does not exist, so the file stays out of the snapshot.
        if (logged) LogF("(%02d)... PutFileNamesInDir. Name too long(%s)", index, entry.name);
        continue;
      case NameFit::kBlankEdged:
        if (logged) LogF("(%02d)... PutFileNamesInDir. Name blank-edged(%s)", index, entry.name);
        continue;
      case NameFit::kNotInCodePage:
        // Its probe could never open it: it would be "in use" at every
        // scan and re-check for good, and never handed on.
        if (logged) {
          LogF("(%02d)... PutFileNamesInDir. Name not in code page(%s)", index, entry.name);
        }
        continue;
      case NameFit::kFits:
        break;
    }
    if (count >= kListingCapacity) {
      if (logged) {
        LogF("(%02d)... PutFileNamesInDir. Table max ovser. max(%d)", index, kListingCapacity);
      }
      continue;
    }
    FillSnapshotRecord(table + static_cast<std::size_t>(count) * kRecordLength, entry.name,
                       entry.sizeLow, entry.lastWrite);
    ++count;
  } while (os::DirSearchNext(search, &entry));  // any failure ends the listing, unlogged
  os::DirSearchClose(search);

  unsigned char scratch[kRecordLength];
  SortRecords(SortDescriptor{kRecordLength, count, 1, kKeyLength}, scratch, table);
  for (int i = 0; i < count; ++i) {
    unsigned char* record = table + static_cast<std::size_t>(i) * kRecordLength;
    record[kCrOffset] = '\r';
    record[kLfOffset] = '\n';
  }
  return count;
}

// The table belongs to its call alone: both watchers and the main thread
// may list at once, and 297 KB is too much for a thread's stack. It is set
// aside once per listing; nothing is allocated per file.
std::unique_ptr<unsigned char[]> NewListingTable() {
  return std::unique_ptr<unsigned char[]>(
      new (std::nothrow) unsigned char[static_cast<std::size_t>(kListingCapacity) * kRecordLength]);
}

}  // namespace

bool PutFileNamesInDir(int index, const char* snapshotFileName, const char* folder, Listing* kept) {
  std::unique_ptr<unsigned char[]> table = NewListingTable();
  if (!table) {
    LogF("(%02d)... PutFileNamesInDir. Error(%d)", index, os::LastError());
    WriteSnapshotFile(snapshotFileName, nullptr, 0);
    return false;
  }
  int count = ListFolder(index, folder, table.get(), true);
  if (count < 0) count = 0;
  int error = WriteSnapshotFile(snapshotFileName, table.get(), count);
  if (error == 0) {
    if (kept != nullptr) *kept = Listing{std::move(table), count};
    return true;
  }
  LogF("(%02d)... PutFileNamesInDir. Write error(%s) Error(%d)", index, snapshotFileName, error);
  return false;
}

Listing ReadListing(const char* snapshotFileName) {
  Listing listing{NewListingTable(), 0};
  if (!listing.records) return listing;
  os::Handle file = os::FileOpen(snapshotFileName, os::kAccessRead,
                                 os::kShareRead | os::kShareWrite, os::kOpenExisting);
  if (file == os::kInvalidHandle) return listing;
  const std::size_t capacity = static_cast<std::size_t>(kListingCapacity) * kRecordLength;
  std::size_t filled = 0;
  while (filled < capacity) {
    long got = os::FileRead(file, listing.records.get() + filled, capacity - filled);
    if (got <= 0) break;
    filled += static_cast<std::size_t>(got);
  }
  os::FileClose(file);
  listing.count = static_cast<int>(filled / kRecordLength);
  return listing;
}

bool FolderMatchesSnapshot(const char* snapshotFileName, const char* folder) {
  std::unique_ptr<unsigned char[]> table = NewListingTable();
  if (!table) return false;
  int count = ListFolder(0, folder, table.get(), false);
  // A folder that cannot be listed is taken as empty, as a scan takes it:
  // an empty drive root (no "." or ".." to list on Windows) or a folder
  // that stays missing would otherwise cost a scan and its error line on
  // every timed wake, while a scan would find nothing new.
  if (count < 0) count = 0;
  os::Handle file = os::FileOpen(snapshotFileName, os::kAccessRead,
                                 os::kShareRead | os::kShareWrite, os::kOpenExisting);
  if (file == os::kInvalidHandle) return false;
  const std::size_t expected = static_cast<std::size_t>(count) * kRecordLength;
  std::size_t compared = 0;
  bool same = true;
  unsigned char block[kSnapshotBlockLength];
  for (;;) {
    long got = os::FileRead(file, block, sizeof block);
    if (got <= 0) {
      same = same && got == 0 && compared == expected;
      break;
    }
    std::size_t length = static_cast<std::size_t>(got);
    if (compared + length > expected || std::memcmp(block, table.get() + compared, length) != 0) {
      same = false;
      break;
    }
    compared += length;
  }
  os::FileClose(file);
  return same;
}

void SortRecords(const SortDescriptor& descriptor, unsigned char* scratch, unsigned char* records) {
  const int n = descriptor.recordCount;
  if (n < 2) return;
  const std::size_t length = static_cast<std::size_t>(descriptor.recordLength);
  const std::size_t keyOffset = static_cast<std::size_t>(descriptor.keyPosition - 1);
  const std::size_t keyLength = static_cast<std::size_t>(descriptor.keyLength);
  auto at = [&](int i) { return records + static_cast<std::size_t>(i) * length; };

  // Shell's diminishing increments, 2 * (gap / 4) + 1 down to 1. Only
  // "less than" moves a record, so a pass never carries one past an equal
  // key, though the passes together do not keep the input order of equal
  // keys.
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
}

void StartSnapshotReader(SnapshotReader* reader, os::Handle file) {
  reader->file = file;
  reader->next = 0;
  reader->filled = 0;
}

void ReadSnapshotRecord(SnapshotReader* reader, unsigned char* record, int* endFlag) {
  int left = reader->filled - reader->next;
  if (left < kRecordLength) {
    // What is left goes to the front, and the block is filled up behind it
    // until it holds a whole record or the file has nothing more: a short
    // record is only ever the file's last.
    std::memmove(reader->block, reader->block + reader->next, static_cast<std::size_t>(left));
    reader->next = 0;
    reader->filled = left;
    while (reader->filled < kRecordLength) {
      long got = os::FileRead(reader->file, reader->block + reader->filled,
                              static_cast<std::size_t>(kSnapshotBlockLength - reader->filled));
      if (got <= 0) break;
      reader->filled += static_cast<int>(got);
    }
    left = reader->filled;
  }
  if (left == 0) {
    MarkEnd(record, endFlag);
    return;
  }
  int length = left < kRecordLength ? left : kRecordLength;
  std::memcpy(record, reader->block + reader->next, static_cast<std::size_t>(length));
  reader->next += length;
}

void StartSnapshotWriter(SnapshotWriter* writer, os::Handle file) {
  writer->file = file;
  writer->used = 0;
}

void WriteSnapshotRecord(SnapshotWriter* writer, unsigned char* record) {
  record[kCrOffset] = '\r';
  record[kLfOffset] = '\n';
  if (writer->used + kRecordLength > kSnapshotBlockLength) FlushSnapshotWriter(writer);
  std::memcpy(writer->block + writer->used, record, kRecordLength);
  writer->used += kRecordLength;
}

void FlushSnapshotWriter(SnapshotWriter* writer) {
  if (writer->used > 0) {
    os::FileWrite(writer->file, writer->block, static_cast<std::size_t>(writer->used));
  }
  writer->used = 0;
}

int CompareKeys(const unsigned char* a, const unsigned char* b) {
  return std::memcmp(a, b, kKeyLength);  // unsigned bytes, the first difference decides
}

void FillSnapshotRecord(unsigned char* record, const char* name, std::uint32_t sizeLow,
                        const os::LocalTime& lastWrite) {
  // "%-63s": the name, at most 63 bytes of it, blank-filled, NUL at byte 63.
  std::size_t length = strnlen(name, kNameLength);
  std::memcpy(record + kNameOffset, name, length);
  std::memset(record + kNameOffset + length, ' ', kNameLength - length);
  record[kNameOffset + kNameLength] = '\0';
  // The low 32 bits read as signed: 2^31 bytes and more print negative.
  PutSize(record, static_cast<std::int32_t>(sizeLow));
  PutDateTime(record, lastWrite);
}

void DeleteFileIfFound(const char* fileName) {
  if (!os::FileExists(fileName)) return;
  if (!os::FileDelete(fileName)) {
    LogF("...DeleteFile. error(%s) Error(%d)", fileName, os::LastError());
  }
}

void RenameFile(const char* sourceName, const char* targetName) {
  // The rename refuses an existing target, so it goes first; if it cannot
  // be deleted the rename is still tried and reports its own failure.
  if (os::FileExists(targetName) && !os::FileDelete(targetName)) {
    LogF("...ReanameFile. DeleteFile error(%s) Error(%d)", targetName, os::LastError());
  }
  if (!os::FileRename(sourceName, targetName)) {
    LogF("...ReanameFile. MoveFile error(%s) Error(%d)", sourceName, os::LastError());
  }
}

void MakeScanFilesReady(const SnapshotFileNames& names) {
  for (const char* name : {names.newName, names.mergedName}) {
    os::FileClose(os::FileOpen(name, os::kAccessWrite, os::kShareRead, os::kCreateAlways));
  }
}

void RotateSnapshotFiles(const SnapshotFileNames& names) {
  // The merged and the old file trade names, and the old snapshot is
  // emptied below with the new one: no file is deleted or made. Where they
  // cannot trade, one rename; and something in the way (a folder of that
  // name) is met by the steps one by one, each failure with its line.
  if (!os::FileSwap(names.mergedName, names.oldName) &&
      !os::FileReplace(names.mergedName, names.oldName)) {
    DeleteFileIfFound(names.oldName);
    RenameFile(names.mergedName, names.oldName);
  }
  MakeScanFilesReady(names);
}

}  // namespace wendrake
