// The operating-system layer: every platform call the core makes goes
// through here, with portable types only. Each operation has one body in a
// -win32.cc file and one in a -posix.cc file; this header is the contract
// both keep. Nothing outside src/os (and the two program shells) includes
// windows.h or a Linux system header.
#ifndef WENDRAKE_OS_OS_H_
#define WENDRAKE_OS_OS_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace wendrake {
namespace os {

// A HANDLE on Windows, a file descriptor (or a small table index) on Linux.
using Handle = std::intptr_t;

// What every operation below returns for a handle it could not make, and
// what stands for no handle at all: INVALID_HANDLE_VALUE on Windows (where
// the calls that fail with NULL are mapped to it), -1 on Linux.
constexpr Handle kInvalidHandle = -1;

// The separator between a folder and a name in the paths the system forms.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The longest path, in bytes without its NUL, that the file calls below
// and a started program can open: the ANSI calls of Windows take no path
// of MAX_PATH (260) bytes or more; Linux takes PATH_MAX - 1. A longer path
// is refused where it is formed, never cut.
#ifdef _WIN32
constexpr std::size_t kLongestPath = 259;
#else
constexpr std::size_t kLongestPath = 4095;
#endif

// What a named lock adds to its name for the file that it keeps in the
// current directory ("KSFF01.lock" on Linux); a named mutex keeps none.
#ifdef _WIN32
constexpr char kLockFileSuffix[] = "";
#else
constexpr char kLockFileSuffix[] = ".lock";
#endif

// ---------------------------------------------------------------------------
// Last error

// The platform's code for the last failed call of this thread: GetLastError()
// on Windows, errno on Linux. Every operation below that reports failure
// leaves its code here.
int LastError();

// The code a path that does not fit its buffer is reported with
// (ERROR_FILENAME_EXCED_RANGE on Windows, ENAMETOOLONG on Linux).
int PathTooLongError();

// ---------------------------------------------------------------------------
// Memory

// Lets memory the program frees stay with it for the next scan rather than
// go back to the system. A scan of a full folder sets aside some 3.5 MB
// (its listing, the old and the merged snapshot); handed back after every
// scan, it was faulted in page by page by the next, which cost a scan of
// 3000 files as much as its own work. Called once at start, before any
// thread. Linux only: glibc gives back every block of 128 KB or more as it
// is freed, and the top of its heap once it passes 128 KB free; Windows
// keeps its own heap's policy.
void KeepFreedMemory();

// ---------------------------------------------------------------------------
// Files

// kAccessAppend, with kAccessWrite: on Linux every write lands at the end
// of the file as it is at that moment (O_APPEND), so a log that another
// program empties in place (logrotate's copytruncate) goes on from offset
// 0 instead of leaving a hole. Windows keeps writing at the current
// position; callers move it to the end themselves.
enum Access : unsigned { kAccessRead = 1u, kAccessWrite = 2u, kAccessAppend = 4u };

// What other openers may do while this handle is open. On Linux only the
// denial of write sharing to a writer, and an open that shares nothing at
// all, have an effect: the open takes an exclusive non-blocking flock and
// fails (EWOULDBLOCK) when another open file already holds one, as a
// sharing violation does on Windows.
enum Share : unsigned { kShareNone = 0u, kShareRead = 1u, kShareWrite = 2u };

enum Disposition {
  kOpenAlways,    // open, creating an empty file if there is none
  kOpenExisting,  // open an existing file only
  kCreateAlways,  // create, or empty an existing file
};

// Opens `path` as CreateFileA does with the given access, share mode and
// disposition (FILE_ATTRIBUTE_NORMAL, no security, no template).
// Returns kInvalidHandle on failure. A symbolic link (a reparse point on
// Windows) at `path` is refused, never followed: these are the program's
// own files, and a link planted there would have another file emptied.
Handle FileOpen(const char* path, unsigned access, unsigned share, Disposition disposition);

// Moves the file position to the end of the file. Returns the new
// position, the file's size, or -1 on failure.
std::int64_t FileSeekEnd(Handle file);

// Cuts off whatever lies beyond the current position, which the callers
// reach by writing (SetEndOfFile).
bool FileSetEnd(Handle file);

// One write call of `length` bytes at the current position. Returns false if
// the call failed or wrote less.
bool FileWrite(Handle file, const void* data, std::size_t length);

// One read call of at most `length` bytes. Returns the count read (0 at the
// end of the file) or -1 on failure.
long FileRead(Handle file, void* data, std::size_t length);

void FileClose(Handle file);

// Whether a failed FileOpen was refused because another open of the file
// holds it against this one (a sharing violation on Windows, the flock
// on Linux), as opposed to a file that cannot be made or reached at all.
bool FileHeldByAnother(int error);

// True when `path` names an existing file or folder, or a link, whether
// or not it leads anywhere.
bool FileExists(const char* path);

// Whether a file of a watched folder is still there, as the listing would
// see it: a regular file (links followed) is kPresent; a name that leads
// nowhere, or to a folder or anything else the listing leaves out, is
// kAbsent; a check that fails for another reason (no permission, an I/O
// error, a share gone for a moment) is kUnknown, with LastError() set:
// nothing may then be concluded from it.
enum class FileState { kPresent, kAbsent, kUnknown };
FileState CheckFileState(const char* path);

// Deletes a file. False with LastError() set on failure.
bool FileDelete(const char* path);

// Gives `source` the name `target`. As MoveFileA, this fails when `target`
// exists; callers delete it first.
bool FileRename(const char* source, const char* target);

// Gives `source` the name `target` in one call, replacing a file of that
// name (rename(2); MoveFileExA with MOVEFILE_REPLACE_EXISTING): the target
// name never goes missing, and no deletion of its own is needed. Fails, with
// LastError() set and both files as they were, where `target` is a folder.
bool FileReplace(const char* source, const char* target);

// Gives each of two existing files the other's name in one call (renameat2
// with RENAME_EXCHANGE). False, with nothing changed, where either is not a
// regular file or the system or its file system has no such call, as
// Windows has none: the caller then renames instead.
bool FileSwap(const char* first, const char* second);

#ifndef _WIN32
// For the Linux log, which follows a rotation made by others
// (log/log_file-posix.cc); the Windows log rotates itself.

// Whether `path` still leads to the very file that `file` has open: false
// once that name was renamed away, deleted, or given to another file or a
// link (device and inode of the name, not followed, against the handle's).
bool FileStillNamed(Handle file, const char* path);

// Makes `file`, which keeps its value, refer to the file that `fresh` has
// open, and closes `fresh` (dup3). A write through `file` that another
// thread makes meanwhile goes whole to one file or the other, never to a
// closed or reused handle. False, with `fresh` closed all the same, where
// that cannot be done.
bool FileTakeOver(Handle file, Handle fresh);
#endif

// ---------------------------------------------------------------------------
// Text files read line by line (the command file)

// The longest line TextReadLine holds: its bytes, its line end and a NUL.
constexpr std::size_t kTextLineCapacity = 4096;

// A text file open for reading; `form` is the body's own note of how the
// file's bytes become code-page text.
struct TextFile {
  std::FILE* file;
  int form;
};

// Opens a text file for reading. False when it cannot be opened. On Linux
// its bytes are read as they are, a UTF-8 byte-order mark skipped. On
// Windows a file that starts with a UTF-8 or UTF-16 byte-order mark, or
// whose bytes are valid UTF-8 holding non-ASCII characters, is read
// converted to the ANSI code page; any other file as its bytes.
bool TextOpen(TextFile* text, const char* path);
void TextClose(TextFile* text);

enum class TextLine {
  kEnd,            // no line: the end of the file, or a read error
  kWhole,          // the line, with its line end if it has one
  kTooLong,        // `line` holds its start; the rest was read and dropped
  kNotInCodePage,  // whole, but a character has no code-page form ('?')
};

// Reads the next line however long it is, with text-mode line ends on
// every platform: a CR LF pair arrives as one '\n'. A line that does not fit
// `line` with its line end and NUL is kTooLong, never split in two.
TextLine TextReadLine(TextFile* text, char (&line)[kTextLineCapacity]);

// ---------------------------------------------------------------------------
// Directories and time

// Copies the process's current directory into `buffer`. False, with the
// buffer left empty, when it cannot be read or does not fit `capacity`.
bool CurrentDirectory(char* buffer, std::size_t capacity);

// What tells one folder from another however its path is spelt (a link,
// ".", "..", a trailing separator): the device and inode on Linux, the
// volume serial number and file index on Windows.
struct FolderId {
  std::uint64_t volume;
  std::uint64_t index;
  bool operator==(const FolderId& other) const {
    return volume == other.volume && index == other.index;
  }
};

// The identity of the folder `path` leads to (links followed). False, with
// LastError() set, when it leads to no folder that can be reached.
bool GetFolderId(const char* path, FolderId* id);

// Whether `path` names its place without help from a current directory:
// "/..." on Linux; "X:\..." or "\\server\..." on Windows.
bool IsAbsolutePath(const char* path);

// A local calendar time, fields as people read them (month 1-12).
struct LocalTime {
  int year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
};

// The current local time; safe to call from any thread at once, each caller
// gets its own result.
void LocalTimeNow(LocalTime* out);

// One entry of a folder listing.
struct DirEntry {
  char name[260];       // the (long) name, NUL-terminated, no folder part
  bool isDirectory;     // sub-folders, "." and ".." have it
  bool isSpecial;       // neither a file nor a folder: a FIFO, a socket, a
                        // device node, a link that leads nowhere (Linux)
  std::uint64_t size;   // the whole size in bytes
  LocalTime lastWrite;  // the last-write time in local time
  // The name is not the file's real name and opens nothing: on Windows a
  // character outside the ANSI code page came back as '?', which no real
  // name holds. Never set on Linux, where a name is the bytes on disk.
  bool nameNotInCodePage;
};

// Starts listing the entries of `folder` and fills `first`. Returns
// kInvalidHandle with LastError() set when the folder cannot be listed or
// holds nothing at all; FolderGone tells the two kinds of failure apart.
Handle DirSearchFirst(const char* folder, DirEntry* first);

// The next entry, the end of the listing, or a failure that cut it short
// (LastError() set): an error in the middle of a folder is not its end.
enum class DirStep { kEntry, kEnd, kFailed };
DirStep DirSearchNext(Handle search, DirEntry* next);

// True when `error`, from DirSearchFirst, says there is nothing to list:
// no folder at the path (or a file there), or on Windows a folder with no
// entry at all. Any other error (no permission, a share that dropped, an
// I/O error) says nothing of what the folder holds.
bool FolderGone(int error);

void DirSearchClose(Handle search);

// ---------------------------------------------------------------------------
// In-use probe

enum class ProbeResult {
  kFree,           // nobody else has the file open; `info` is filled
  kInUse,          // the exclusive open failed: held by another process
  kNoInformation,  // opened, but its size and time could not be read
  kGone,           // no such file any more (deleted or renamed since the listing)
  kCannotTell,     // none of the processes that could be looked at holds it, but not every
                   // process could be (Linux: another user's); `info` is filled
};

struct ProbeInfo {
  std::uint64_t size;
  LocalTime lastWrite;
};

// Tries to open the existing file `path` with no sharing (Windows) or to
// learn whether any other process holds it open (Linux), and reads its size
// and local last-write time from the open file. Never creates the file.
// Windows never answers kCannotTell: its open with no sharing fails while
// any process of any account holds the file.
ProbeResult ProbeExclusive(const char* path, ProbeInfo* info);

// ---------------------------------------------------------------------------
// Named locks (a named mutex on Windows, a flock'ed lock file on Linux)

// Creates the lock `name` for the whole run. Returns kInvalidHandle on
// failure.
Handle LockCreate(const char* name);

// Opens a handle of one's own on an existing lock. Returns kInvalidHandle
// on failure.
Handle LockOpen(const char* name);

// Waits without a time limit until this thread holds the lock; an abandoned
// lock counts as held. Returns false only when a stop was requested
// (RequestStop) during the wait.
bool LockAcquire(Handle lock);

void LockRelease(Handle lock);
void LockClose(Handle lock);

// ---------------------------------------------------------------------------
// Folder change notification

enum class WaitResult { kSignalled, kTimeout, kFailed, kStopped };

// Asks for notification of changes to the names and contents of the files
// directly in `folder`. Returns kInvalidHandle on failure.
Handle ChangeWatchOpen(const char* folder);

// What the changes behind a kSignalled wait were, as far as the platform
// tells. `onlyWrites`: nothing but writes to the contents of the files in
// `written` (no file made, removed, renamed, closed after writing or given
// new attributes). False where the platform names no file (Windows), and
// when more files were written than `written` holds.
constexpr int kMaxWrittenNames = 8;
struct ChangeDetail {
  bool onlyWrites;
  int writtenCount;
  char written[kMaxWrittenNames][256];
};

// Waits for a change, at most `timeoutMs` milliseconds (negative: no limit).
// A folder that has gone (deleted, moved away, replaced by a file) is
// looked for by its path every second; once a folder is there again it is
// watched anew and the wait returns kSignalled. `detail`, when given, is
// filled for every result (onlyWrites false but for kSignalled).
WaitResult ChangeWatchWait(Handle watch, int timeoutMs, ChangeDetail* detail = nullptr);

// Re-arms the notification after a scan.
bool ChangeWatchRearm(Handle watch);

void ChangeWatchClose(Handle watch);

// ---------------------------------------------------------------------------
// Shared file systems

// True when `folder` lies on a file system where other machines' writes
// raise no change notification here: a network share, or a user-space
// (FUSE) file system, whose files may change behind this machine's back.
// False when it cannot be told (the folder is missing, say).
bool FolderNeedsPolling(const char* folder);

// ---------------------------------------------------------------------------
// Threads and shutdown

using ThreadProc = void (*)(void* parameter);

// Starts `proc(parameter)` on a new thread at once. Returns kInvalidHandle
// on failure.
Handle ThreadStart(ThreadProc proc, void* parameter, std::uint32_t* threadId);

// Ends a watcher thread at shutdown: asks for the stop (RequestStop) and
// waits for the thread to end by itself. On Windows one that has not ended
// within a second is terminated wherever it is; on Linux it is woken out
// of a blocked lock wait by a signal and joined.
void ThreadEnd(Handle thread);

// Asks every blocking wait of this layer (lock, change notification, pause)
// to return kStopped / false at once, now and from now on. Safe to call from
// a signal handler.
void RequestStop();
bool StopRequested();

// Undoes RequestStop, for tests that stop threads one after another. No
// wait of the layer may be running.
void ResetStopForTesting();

// Sleeps `milliseconds`, or less when a stop is requested.
void PauseFor(int milliseconds);

// Milliseconds on a clock that no change of the system time moves.
std::int64_t MonotonicMs();

// ---------------------------------------------------------------------------
// Starting programs

// Starts a program and does not wait for it. On Windows `commandLine` is
// handed to CreateProcessA as it stands (no application name, handles not
// inherited, shown normally) and `argv` is ignored. On Linux `argv`
// (NULL-terminated) is started directly, never through a shell, and
// `commandLine` is ignored: a bare program name is looked up in PATH, and a
// relative path is taken from this process's current directory, as
// CreateProcessA does, not from `workingDir`. The child inherits nothing but
// stdin, stdout and stderr, and starts with no blocked signals and every
// signal at its default action. `workingDir` is the new process's current
// directory; a directory that cannot be entered fails the start. False with
// LastError() set on failure (on Linux the errno of the failed chdir or
// exec, as posix_spawn returns it).
//
// Started programs are never waited for. On Linux the program's shell
// ignores SIGCHLD so that the kernel reaps them; nothing here does.
bool StartProgram(const char* commandLine, char* const argv[], const char* workingDir);

// Whether `execute` names a program that a start could find now: on Linux
// its first word, looked for in PATH when bare, as StartProgram looks; on
// Windows the command line's first word, looked for as CreateProcessA
// looks. A program that is not there yet may still come.
bool ProgramFound(const char* execute);

// Whether `path` leads to a folder (links followed).
bool LeadsToFolder(const char* path);

// The code a start is refused with when there is no program to start
// (ERROR_FILE_NOT_FOUND on Windows, ENOENT on Linux).
int ProgramNotFoundError();

// 0 when a program started from `execute` receives `path` as written and
// as one argument; otherwise the code its start is refused with. On Windows
// a batch file (.bat, .cmd) runs as cmd.exe /c with the whole command line,
// and cmd.exe (also when `execute` names it) reads that line as commands:
// a path holding '%' or '&' is refused there (ERROR_INVALID_NAME). Always 0
// on Linux, where the argv is handed over as made.
int ArgumentRefusal(const char* execute, const char* path);

}  // namespace os
}  // namespace wendrake

#endif  // WENDRAKE_OS_OS_H_
