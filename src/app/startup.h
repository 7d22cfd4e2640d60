// The start-up and shutdown sequences that both program shells run: the
// Windows one from its hidden window's WM_CREATE and WM_DESTROY, the Linux
// one from main and its signal wait.
#ifndef WENDRAKE_APP_STARTUP_H_
#define WENDRAKE_APP_STARTUP_H_

namespace wendrake {

// Takes the current directory, the start directory, for this run: its
// claim file is held until the process ends, when the system lets it go
// however the run ended. Returns false only when another program holds it;
// a claim that cannot be made for another reason (a directory that cannot
// be written, which start-up reports by itself) lets the run go on.
bool ClaimStartDirectory();

// Captures the start directory, opens the log with the start banner, clears
// the ThreadControlTable and reads the command file into it. Returns false
// when the command file cannot be opened: the program must then shut down.
bool LoadConfiguration();

// Arms entry `index`: its named lock, a fresh first snapshot (every snapshot
// file of an earlier run is thrown away first), the change notification and
// the watcher thread. No failure stops the later steps.
void ArmEntry(int index);

// Arms entries 1 to entryCount in table order: first every entry's lock,
// watch and first snapshot, then every watcher, so that no entry waits, and
// says so, before every folder's baseline is taken.
void ArmAllEntries();

// Ends every watcher thread and closes every change notification, then logs
// "Ended - AllEndThread". Nothing is logged or started by a watcher after it.
void AllEndThread();

}  // namespace wendrake

#endif  // WENDRAKE_APP_STARTUP_H_
