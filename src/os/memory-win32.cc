// The heap's policy on Windows: the process heap's own.
#include "os/os.h"

namespace wendrake {
namespace os {

void KeepFreedMemory() {}

}  // namespace os
}  // namespace wendrake
