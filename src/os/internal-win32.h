// What the Windows bodies of the OS layer share among themselves. Nothing
// outside src/os includes this.
#ifndef WENDRAKE_OS_INTERNAL_WIN32_H_
#define WENDRAKE_OS_INTERNAL_WIN32_H_

namespace wendrake {
namespace os {

// The manual-reset event (a HANDLE) that is set, for good, once a stop has
// been requested; the layer's waits wait on it beside their own object.
// Null when it could not be made: the waits then do not see a stop, and
// ThreadEnd's TerminateThread is what ends them.
void* StopEvent();

}  // namespace os
}  // namespace wendrake

#endif  // WENDRAKE_OS_INTERNAL_WIN32_H_
