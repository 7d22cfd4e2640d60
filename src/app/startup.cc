#include "app/startup.h"

#include <cstring>

#include "config/command_file.h"
#include "config/thread_control.h"
#include "log/log.h"
#include "os/os.h"
#include "watch/kept_snapshot.h"
#include "watch/snapshot.h"
#include "watch/watcher.h"

namespace wendrake {

bool ClaimStartDirectory() {
  // Never closed, and never written: only its hold counts. Opened for
  // reading, which is enough for the hold and works on a claim file that
  // another user made (a run of the service under another account).
  os::Handle claim = os::FileOpen(kClaimFileName, os::kAccessRead, os::kShareNone, os::kOpenAlways);
  return claim != os::kInvalidHandle || !os::FileHeldByAnother(os::LastError());
}

bool LoadConfiguration() {
  std::memset(startDirectory, 0, sizeof startDirectory);
  // A directory that does not fit stays empty, and the command file then
  // counts as one that cannot be opened.
  os::CurrentDirectory(startDirectory, sizeof startDirectory);
  WriteLog("");
  WriteLog("= Start program ===========");
  ClearThreadControlTable();
  return LoadCommandFile() != 0;
}

namespace {

// The part of arming that fixes what the entry starts from: its lock, its
// change watch and its first snapshot. Every entry gets this before any
// watcher starts, so that each folder's baseline is taken before the first
// wait line of any entry: a file dropped into the second folder once the
// first says it waits would otherwise be part of that baseline, and never
// reported.
void TakeBaseline(int index) {
  ThreadControlEntry& entry = EntryAt(index);

  entry.mutexHandle = os::LockCreate(entry.mutexName);
  if (entry.mutexHandle == os::kInvalidHandle) {
    LogF("(%02d)...      Error CreateMutex. --Abnormal ended.--", index);
  }

  // The watch is opened before the first listing: a file that arrives in
  // between then wakes the first scan, instead of waiting, unreported, for
  // some later change in the folder.
  entry.changeHandle = os::ChangeWatchOpen(entry.folder);

  // A run starts from a fresh snapshot: what changed while the program was
  // not running is not reported, unless the entry asks for it and the last
  // run's snapshot of this very folder is there and sound. A folder that
  // cannot be listed leaves no old snapshot: the first scan that can list
  // it takes that listing as the baseline.
  SnapshotFileNames names = {};
  MakeSnapshotFileNames(entry, &names);
  Kept kept = entry.resume ? CheckKeptSnapshot(entry, names) : Kept::kNone;
  if (entry.resume) LogKept(entry, kept);
  entry.resumeScan = kept == Kept::kFits;
  DeleteFileIfFound(names.newName);
  DeleteFileIfFound(names.mergedName);
  if (!entry.resumeScan) {
    DeleteFileIfFound(names.oldName);
    if (PutFileNamesInDir(index, names.newName, entry.folder, nullptr,
                          HasFlag(entry, kFlagTrace))) {
      RenameFile(names.newName, names.oldName);
    }
  }
  MakeScanFilesReady(names);
  if (entry.resume) NoteKeptFolder(entry);
}

// The rest: the watch's line and the watcher thread.
void StartWatcher(int index) {
  ThreadControlEntry& entry = EntryAt(index);
  LogF("(%02d)...          Set FindFirstChangeNotification(%s) -ok-", index, entry.folder);
  if (entry.changeHandle != os::kInvalidHandle && FolderMissing(entry.folder)) {
    LogF("(%02d)...          Folder not found(%s) -looked for every second.", index, entry.folder);
  }
  if (entry.changeHandle == os::kInvalidHandle) {
    LogF("(%02d)...          CreateHandleError(%d)(%s)", index,
         static_cast<int>(entry.changeHandle), entry.folder);
  }

  entry.threadHandle = os::ThreadStart(DirChangesThread, &entry, &entry.threadId);
  if (entry.threadHandle == os::kInvalidHandle) {
    LogF("(%02d)...          CreateThread Error.  Code(%d)", index, os::LastError());
  }
  WriteLog("");
}

}  // namespace

void ArmEntry(int index) {
  TakeBaseline(index);
  StartWatcher(index);
}

void ArmAllEntries() {
  for (int i = 1; i <= entryCount; ++i) TakeBaseline(i);
  for (int i = 1; i <= entryCount; ++i) StartWatcher(i);
}

void AllEndThread() {
  // The watchers stop themselves at this request and are waited for; on
  // Windows one that does not is terminated wherever it is.
  os::RequestStop();
  for (int i = 1; i <= entryCount; ++i) {
    const ThreadControlEntry& entry = EntryAt(i);
    os::ThreadEnd(entry.threadHandle);
    os::ChangeWatchClose(entry.changeHandle);
  }
  WriteLog("Ended - AllEndThread");
}

}  // namespace wendrake
