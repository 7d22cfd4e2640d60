#include "watch/kept_snapshot.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "log/log.h"
#include "os/os.h"

namespace wendrake {
namespace {

// "<folder>\r\n<volume> <index>\r\n"
constexpr std::size_t kKeptFolderCapacity = kSettingCapacity + 64;

bool MakeKeptFolderText(const ThreadControlEntry& entry, char (&text)[kKeptFolderCapacity],
                        std::size_t* length) {
  os::FolderId id;
  if (!os::GetFolderId(entry.folder, &id)) return false;
  int made = std::snprintf(text, sizeof text, "%s\r\n%" PRIu64 " %" PRIu64 "\r\n", entry.folder,
                           id.volume, id.index);
  if (made < 0 || static_cast<std::size_t>(made) >= sizeof text) return false;
  *length = static_cast<std::size_t>(made);
  return true;
}

}  // namespace

void MakeKeptFolderName(const ThreadControlEntry& entry, char (&name)[kSnapshotNameCapacity]) {
  std::snprintf(name, sizeof name, "%sK.txt", entry.mutexName);
}

Kept CheckKeptSnapshot(const ThreadControlEntry& entry, const SnapshotFileNames& names) {
  char name[kSnapshotNameCapacity];
  MakeKeptFolderName(entry, name);
  char kept[kKeptFolderCapacity] = {};
  long read = -1;
  os::Handle file = os::FileOpen(name, os::kAccessRead, os::kShareRead, os::kOpenExisting);
  if (file != os::kInvalidHandle) {
    read = os::FileRead(file, kept, sizeof kept - 1);
    os::FileClose(file);
  }
  if (read <= 0 || !os::FileExists(names.oldName)) return Kept::kNone;
  char now[kKeptFolderCapacity] = {};
  std::size_t length = 0;
  if (!MakeKeptFolderText(entry, now, &length)) return Kept::kUnreachable;
  if (static_cast<std::size_t>(read) != length || std::memcmp(kept, now, length) != 0) {
    return Kept::kOtherFolder;
  }
  Listing old;
  int detail = 0;
  return LoadOldSnapshot(names.oldName, &old, &detail) == OldSnapshot::kSound ? Kept::kFits
                                                                              : Kept::kDamaged;
}

void LogKept(const ThreadControlEntry& entry, Kept kept) {
  const char* what = "";
  switch (kept) {
    case Kept::kFits:
      what = "-what changed while stopped is reported now.";
      break;
    case Kept::kNone:
      what = "-no snapshot kept: started afresh.";
      break;
    case Kept::kOtherFolder:
      what = "-the kept snapshot is of another folder: started afresh.";
      break;
    case Kept::kUnreachable:
      what = "-the folder cannot be reached: started afresh.";
      break;
    case Kept::kDamaged:
      what = "-the kept snapshot is damaged: started afresh.";
      break;
  }
  LogF("(%02d)...      Resume(%s) %s", entry.index, entry.folder, what);
}

bool NoteKeptFolder(const ThreadControlEntry& entry) {
  char name[kSnapshotNameCapacity];
  MakeKeptFolderName(entry, name);
  char text[kKeptFolderCapacity];
  std::size_t length = 0;
  if (!MakeKeptFolderText(entry, text, &length)) {
    DeleteFileIfFound(name);
    return false;
  }
  os::Handle file = os::FileOpen(name, os::kAccessWrite, os::kShareRead, os::kCreateAlways);
  if (file == os::kInvalidHandle) return false;
  bool written = os::FileWrite(file, text, length);
  os::FileClose(file);
  return written;
}

}  // namespace wendrake
