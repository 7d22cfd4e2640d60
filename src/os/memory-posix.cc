// The heap's policy on Linux: glibc's, tuned so that a watcher's scans
// reuse the memory of the scans before them.
#include <malloc.h>

#include "os/os.h"

namespace wendrake {
namespace os {
namespace {

// Above a whole scan's need (each watcher has a heap of its own), below
// what only a damaged old snapshot of many records asks for, which still
// gets memory of its own that goes back as it is freed.
constexpr int kKeptBytes = 8 * 1024 * 1024;

}  // namespace

void KeepFreedMemory() {
  // Blocks below the threshold come from the heap, and the heap keeps up
  // to that much free at its top; either setting alone still gives the
  // listings back.
  mallopt(M_MMAP_THRESHOLD, kKeptBytes);
  mallopt(M_TRIM_THRESHOLD, kKeptBytes);
}

}  // namespace os
}  // namespace wendrake
