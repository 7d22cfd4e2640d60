// The start-up sequence that both program shells run before they watch.
#ifndef WENDRAKE_APP_STARTUP_H_
#define WENDRAKE_APP_STARTUP_H_

namespace wendrake {

// The matching trace compares a key's first byte with this: two 0xFF bytes
// once start-up has run.
extern unsigned char highValueMarker[8];

// Captures the start directory, opens the log with the start banner, clears
// the ThreadControlTable and reads the command file into it. Returns false
// when the command file cannot be opened: the program must then end.
bool LoadConfiguration();

}  // namespace wendrake

#endif  // WENDRAKE_APP_STARTUP_H_
